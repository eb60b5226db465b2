// tls = required against a man in the middle: a relay on loopback between the
// client and the throwaway server that can clear capability bits in the
// server's greeting and records every byte the client sends. A server that
// offers no TLS is refused before the login, on every path a connection is
// made: the server object's New, a host list, a reconnect, and the binding.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server_support.h"
#include "tls_relay.h"
#include "veltro/table.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::Relay;
using testing::SideConnection;

// Capability bits of the greeting.
constexpr unsigned kClientSsl = 0x0800;
constexpr unsigned kClientPluginAuth = 0x80000;
constexpr unsigned kSslConnectionError = 2026;


bool contains(const std::string& bytes, const std::string& part) { return bytes.find(part) != std::string::npos; }

using testing::ask;
using testing::cipherOf;

// The reports of a server object, each with the error text it had then.
struct TextRecorder : Recorder {
  std::shared_ptr<std::vector<std::string>> texts = std::make_shared<std::vector<std::string>>();
  Value block() const {
    auto c = calls;
    auto t = texts;
    return Value(Callable([c, t](Args a) -> Value {
      c->push_back({argAt(a, 1).asInt(), argAt(a, 2).asBool(), argAt(a, 3)});
      t->push_back(argAt(a, 0).asObjectOf<TQuillonSrv>()->ErrorTxt());
      return {};
    }));
  }
};

ServerPtr openWithTls(const TextRecorder& rec, const std::string& host, unsigned port, const std::string& tls,
                      const std::string& ca = {}) {
  const auto& env = serverEnv();
  ServerPtr s = TQuillonSrv::create();
  s->cTls = tls;
  if (!ca.empty()) s->cSslCa = ca;
  s->New(host, env.user, env.password, static_cast<int>(port), 0, env.database, rec.block());
  return s;
}

void needTls() {
  ASSERT_FALSE(serverEnv().sslCa.empty()) << "VELTRO_TEST_SSL_CA is not set: start the server with scripts/testserver.sh";
}

// Each case once through the server object and once through the binding's
// connect, each on a relay of its own.
TEST(TlsRequired, AServerWithoutTlsIsRefusedBeforeTheLogin) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  struct Case {
    const char* what;
    unsigned strip;    // greeting bits the relay clears
    std::string tls;
    bool connects;     // encrypted when it connects, except under preferred
  };
  const std::vector<Case> cases = {
      {"required, TLS taken from the greeting", kClientSsl, "required", false},
      {"required, TLS and plugin authentication taken", kClientSsl | kClientPluginAuth, "required", false},
      {"required, plugin authentication taken", kClientPluginAuth, "required", false},
      {"verify-identity, TLS taken", kClientSsl, "verify-identity", false},
      {"required, the greeting as the server sent it", 0, "required", true},
      {"preferred, TLS taken: the relay sees the login", kClientSsl, "preferred", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string ca = c.tls == "verify-identity" ? env.sslCa : std::string();
    std::string sent;
    {
      SCOPED_TRACE("server object");
      Relay relay(c.strip);
      TextRecorder rec;
      ServerPtr s = openWithTls(rec, "127.0.0.1", relay.port(), c.tls, ca);
      if (c.connects) {
        ASSERT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
        EXPECT_EQ(cipherOf(s).empty(), c.tls == "preferred");
        EXPECT_EQ(ask(s, "SELECT SUBSTRING_INDEX(USER(), '@', 1)"), env.user);
      } else {
        ASSERT_EQ(rec.numbers(), std::vector<long long>{kSslConnectionError});
        const std::string text = rec.texts->front();
        EXPECT_NE(text.find(c.tls == "required" ? "TLS is required" : "SSL"), std::string::npos) << text;
        EXPECT_EQ(s->handle(), 0);
        EXPECT_TRUE(s->lError.asBool());
      }
      s->End();
      sent = relay.clientBytes(1).at(0);
    }
    if (!c.connects) {
      EXPECT_EQ(sent.size(), 0u) << "the client wrote to a server that offers no TLS";
    } else if (c.tls == "preferred") {
      EXPECT_TRUE(contains(sent, env.user)) << "the relay did not take TLS away";
    } else {
      EXPECT_FALSE(contains(sent, env.user)) << "the login went unencrypted";
    }
    {
      SCOPED_TRACE("binding");
      Relay relay(c.strip);
      db::ConnectOptions options;
      ASSERT_TRUE(db::tlsModeOf(c.tls, options.tls));
      options.sslCa = ca;
      const db::Handle h = db::connect("127.0.0.1", env.user.c_str(), env.password.c_str(), relay.port(), 0,
                                       env.database.c_str(), options);
      if (c.connects) {
        ASSERT_GT(h, 0);
        EXPECT_EQ(db::errnum(h), 0u) << db::error(h);
      } else {
        EXPECT_EQ(db::errnum(h), kSslConnectionError) << db::error(h);
        EXPECT_NE(db::error(h).find(c.tls == "required" ? "TLS is required" : "SSL"), std::string::npos)
            << db::error(h);
      }
      db::close(h);
      sent = relay.clientBytes(1).at(0);
    }
    if (!c.connects) {
      EXPECT_EQ(sent.size(), 0u) << "the client wrote to a server that offers no TLS";
    }
  }
}

// Straight to the server, which offers TLS: required connects encrypted, as
// either account.
TEST(TlsRequired, TheServerItselfConnectsEncrypted) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  for (const std::string& user : {env.user, env.tlsUser}) {
    SCOPED_TRACE(user);
    ASSERT_FALSE(user.empty()) << "VELTRO_TEST_TLS_USER is not set";
    Recorder rec;
    ServerPtr s = TQuillonSrv::create();
    s->cTls = "required";
    s->New(env.host, user, env.password, static_cast<int>(env.port), 0, env.database, rec.block());
    ASSERT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
    EXPECT_FALSE(cipherOf(s).empty());
    EXPECT_EQ(ask(s, "SELECT SUBSTRING_INDEX(USER(), '@', 1)"), user);
    s->End();
  }
}

// A host list passes over a host that offers no TLS, as over one that refuses
// the connection; a list of such hosts names each.
TEST(TlsRequired, HostListPassesOverAServerWithoutTls) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  const std::string real = env.host + ":" + std::to_string(env.port);
  {
    Relay relay(kClientSsl);
    TextRecorder rec;
    ServerPtr s = openWithTls(rec, relay.address() + "," + real, env.port, "required");
    ASSERT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
    EXPECT_FALSE(cipherOf(s).empty());
    s->End();
    EXPECT_EQ(relay.clientBytes(1).at(0).size(), 0u);
  }
  {
    Relay first(kClientSsl);
    Relay second(kClientSsl | kClientPluginAuth);
    TextRecorder rec;
    ServerPtr s = openWithTls(rec, first.address() + "," + second.address(), env.port, "required");
    ASSERT_EQ(rec.numbers(), std::vector<long long>{kErrNoReadyNode});
    const std::string why = rec.calls->front().extra.asString();
    EXPECT_NE(why.find(first.address() + ": 2026 TLS is required"), std::string::npos) << why;
    EXPECT_NE(why.find(second.address() + ": 2026 TLS is required"), std::string::npos) << why;
    EXPECT_EQ(s->handle(), 0);
    EXPECT_EQ(first.clientBytes(1).at(0).size(), 0u);
    EXPECT_EQ(second.clientBytes(1).at(0).size(), 0u);
  }
}

// A reconnect checks again: the connection is lost, and the server met on
// the way back offers no TLS.
TEST(TlsRequired, AReconnectRefusesAServerWithoutTls) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  Relay relay(0);
  TextRecorder rec;
  ServerPtr s = openWithTls(rec, "127.0.0.1", relay.port(), "required");
  ASSERT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
  EXPECT_FALSE(cipherOf(s).empty());
  relay.strip(kClientSsl);
  SideConnection side;
  side.exec("KILL " + ask(s, "SELECT CONNECTION_ID()"));
  // The killed connection ends before the next connect reaches the relay.
  EXPECT_FALSE(contains(relay.clientBytes(1).at(0), env.user));
  s->ReConnect();
  EXPECT_EQ(db::errnum(s->handle()), kSslConnectionError) << db::error(s->handle());
  // The statement finds the connection refused, and reports why.
  EXPECT_EQ(ask(s, "SELECT 1"), "<failed>");
  ASSERT_EQ(rec.numbers(), std::vector<long long>{kSslConnectionError});
  EXPECT_NE(rec.texts->front().find("TLS is required"), std::string::npos) << rec.texts->front();
  s->End();
  // Each connect reached the relay before the client could refuse it.
  const std::vector<std::string> sent = relay.clientBytes(relay.accepted());
  ASSERT_GE(sent.size(), 2u);
  for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i].size(), 0u) << "connection " << i;
}

}  // namespace
}  // namespace veltro
