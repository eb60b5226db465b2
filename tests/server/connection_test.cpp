// The server object's connection settings against the throwaway server: TLS
// modes and certificates, the binding's options table, settings the library
// refuses before anything is sent.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "connection_login.h"
#include "server_support.h"
#include "veltro/table.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

using testing::Login;
using testing::Members;
using testing::openWith;

using testing::ask;
using testing::cipherOf;

// The TLS variables of the run: a test that needs them fails without them.
void needTls() {
  ASSERT_FALSE(serverEnv().sslCa.empty()) << "VELTRO_TEST_SSL_CA is not set: start the server with scripts/testserver.sh";
  ASSERT_FALSE(serverEnv().otherCa.empty()) << "VELTRO_TEST_OTHER_CA is not set";
  ASSERT_FALSE(serverEnv().tlsUser.empty()) << "VELTRO_TEST_TLS_USER is not set";
}

TEST(Connection, TlsModes) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  struct Case {
    const char* what;
    std::string user;
    Members members;
    bool connects;
    bool encrypted;
    long long refusal;  // the error reported when it does not connect
  };
  const std::vector<Case> cases = {
      {"verify-identity with the CA that signed the certificate", env.user,
       {{"cTls", "verify-identity"}, {"cSslCa", env.sslCa}}, true, true, 0},
      {"required, as the account that needs TLS", env.tlsUser, {{"cTls", "required"}}, true, true, 0},
      {"the mode in any letter case", env.tlsUser, {{"cTls", "ReQuired"}}, true, true, 0},
      {"preferred, and the server offers TLS", env.user, {{"cTls", "preferred"}}, true, true, 0},
      {"the client library's default", env.user, {}, true, false, 0},
      {"off, although a CA is given", env.user, {{"cTls", "off"}, {"cSslCa", env.sslCa}}, true, false, 0},
      {"off, as the account that needs TLS", env.tlsUser, {{"cTls", "off"}}, false, false, 1045},
      {"verify-identity with a CA that did not sign the certificate", env.user,
       {{"cTls", "verify-identity"}, {"cSslCa", env.otherCa}}, false, false, 2026},
      {"verify-identity without a CA", env.user, {{"cTls", "verify-identity"}}, false, false, 2026},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder rec;
    Login login;
    login.user = c.user;
    ServerPtr s = openWith(rec, c.members, login);
    if (!c.connects) {
      EXPECT_EQ(rec.numbers(), std::vector<long long>{c.refusal});
      EXPECT_TRUE(s->lError.asBool());
      EXPECT_EQ(s->handle(), 0);
      continue;
    }
    ASSERT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
    ASSERT_GT(s->handle(), 0);
    EXPECT_EQ(!cipherOf(s).empty(), c.encrypted) << cipherOf(s);
    EXPECT_EQ(ask(s, "SELECT SUBSTRING_INDEX(USER(), '@', 1)"), c.user);
    s->End();
  }
}

// The binding's keyed table of options, and a tls text it does not know.
TEST(Connection, BindingOptionsTable) {
  VELTRO_SKIP_ON_CLUSTER("the cluster's nodes are started without TLS (scripts/cluster.sh makes no certificates)");
  needTls();
  const auto& env = serverEnv();
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Value>> options;
    bool encrypted;    // connected and encrypted
    unsigned refusal;  // otherwise the error of the handle, or of handle 0
  };
  const std::vector<Case> cases = {
      {"verify-identity with its CA", {{"tls", "verify-identity"}, {"ssl-ca", Value(env.sslCa)}}, true, 0},
      {"timeouts among the options", {{"tls", "required"}, {"connect-timeout", 5}, {"read-timeout", 60}}, true, 0},
      {"an unknown tls text asks for verify-identity", {{"tls", "requierd"}, {"ssl-ca", Value(env.otherCa)}}, false,
       2026},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Value options = Value::table();
    for (const auto& [key, value] : c.options) options.asTable()->set(key, value);
    Value h = MYSQLCONNECT(env.host, env.user, env.password, static_cast<int>(env.port), 0, env.database, options);
    if (!c.encrypted) {
      EXPECT_EQ(MYSQLGETERRNO(h).asInt(), c.refusal) << MYSQLERROR(h).asString();
      MYSQLCLOSE(h);
      continue;
    }
    ASSERT_GT(h.asInt(), 0);
    ASSERT_EQ(MYSQLGETERRNO(h).asInt(), 0) << MYSQLERROR(h).asString();
    const std::string sql = "SHOW SESSION STATUS LIKE 'Ssl_cipher'";
    ASSERT_EQ(MYSQLQUERY(h, sql, static_cast<int>(sql.size())).asInt(), 0);
    Value res = MYSQLSTORERESULT(h);
    EXPECT_FALSE(MYSQLFETCHROW(res).at(2).asString().empty());
    MYSQLFREERESULT(res);
    MYSQLCLOSE(h);
  }
}

// A setting the library does not know, or one the client library would take
// for another (a port wrapped into 16 bits, a text cut at a zero byte), is
// reported with 9029 before anything is sent: the server sees no connection
// attempt. MYSQLCONNECT refuses the same login values by its result.
TEST(Connection, BadSettingsSendNothing) {
  const auto& env = serverEnv();
  auto withZero = [](const std::string& text) { return Value(text + std::string("\0ignored", 8)); };
  auto port = [](const Value& number) {
    Login login;
    login.port = number;
    return login;
  };
  auto zeroIn = [&](Value Login::*field) {
    Login login;
    login.*field = withZero((login.*field).asString());
    return login;
  };
  auto host = [](const std::string& text) {
    Login login;
    login.host = text;
    return login;
  };
  struct Case {
    Members members;
    std::string named;  // what the report names
    Login login = {};
    bool binding = false;  // MYSQLCONNECT refuses the login too
  };
  const std::vector<Case> cases = {
      {{{"cTls", "requierd"}}, "cTls = \"requierd\""},
      {{{"cTls", "verify_identity"}}, "cTls = \"verify_identity\""},
      {{{"cTls", 1}}, "cTls = 1"},
      {{{"nReadTimeout", "ten"}}, "nReadTimeout = \"ten\""},
      {{{"nConnectTimeout", -1}}, "nConnectTimeout = -1"},
      {{{"nWriteTimeout", true}}, "nWriteTimeout"},
      {{{"cCharset", 7}}, "cCharset = 7"},
      {{{"cSocket", withZero(env.socket)}}, "cSocket: a zero byte", host("localhost")},
      {{{"cSslCa", withZero(env.sslCa)}, {"cTls", "required"}}, "cSslCa: a zero byte"},
      {{{"cCharset", withZero("utf8mb4")}}, "cCharset: a zero byte"},
      {{}, "nPort = 65536", port(65536), true},
      {{}, "nPort = " + std::to_string(4294967296LL + env.port), port(4294967296LL + env.port), true},
      {{}, "nPort = -1", port(-1), true},
      {{}, "nPort = " + std::to_string(env.port) + ".5", port(env.port + 0.5), true},
      {{}, "nPort", port(std::nan("")), true},
      {{}, "nPort", port(std::numeric_limits<double>::infinity()), true},
      {{}, "nPort = \"" + std::to_string(env.port) + "\"", port(std::to_string(env.port))},
      {{}, "cHost: a zero byte", host(std::string("127.0.0.1\0evil", 14)), true},
      {{}, "cUser: a zero byte", zeroIn(&Login::user), true},
      {{}, "cPassword: a zero byte", zeroIn(&Login::password), true},
      {{}, "cDBName: a zero byte", zeroIn(&Login::database), true},
      {{}, "cHost = \"127.0.0.1:99999\"", host("127.0.0.1:99999")},
      {{}, "cHost = \"127.0.0.1:0\"", host("127.0.0.1:0")},
      {{}, "cHost", host("127.0.0.1:" + std::to_string(env.port) + ",h:99999")},
      {{}, "cHost", host("127.0.0.1:" + std::to_string(env.port) + ",h:33o6")},
  };
  SideConnection side;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    const std::string before = side.rows("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1];
    Recorder rec;
    ServerPtr s = openWith(rec, c.members, c.login);
    ASSERT_EQ(rec.numbers(), std::vector<long long>{kErrBadSetting});
    EXPECT_TRUE(rec.calls->front().internal);
    const std::string why = rec.calls->front().extra.asString();
    EXPECT_NE(why.find(c.named), std::string::npos) << why;
    EXPECT_EQ(why.find(env.password), std::string::npos) << why;
    EXPECT_EQ(s->handle(), 0);
    EXPECT_TRUE(s->lError.asBool());
    // Connect and ReConnect check the same way, and send nothing either.
    EXPECT_EQ(s->Connect().asInt(), 0);
    s->ReConnect();
    EXPECT_EQ(s->handle(), 0);
    EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrBadSetting, kErrBadSetting, kErrBadSetting}));
    if (c.binding) {
      const Value h = MYSQLCONNECT(c.login.host, c.login.user, c.login.password, c.login.port, 0, c.login.database);
      EXPECT_EQ(h.asInt(), 0);
      EXPECT_EQ(MYSQLGETERRNO(h).asInt(), kErrBadSetting);
      EXPECT_FALSE(MYSQLERROR(h).asString().empty());
    }
    EXPECT_EQ(side.rows("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1], before);
  }
  const std::string before = side.rows("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1];
  {
    SCOPED_TRACE("Connect's own arguments");
    Recorder rec;
    ServerPtr s = TQuillonSrv::create();
    s->bOnError = rec.block();
    EXPECT_EQ(s->Connect(env.host, env.user, env.password, 65536 + static_cast<long long>(env.port)).asInt(), 0);
    EXPECT_EQ(s->Connect(env.host, env.user, env.password, static_cast<int>(env.port), 0, withZero(env.database))
                  .asInt(),
              0);
    EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrBadSetting, kErrBadSetting}));
  }
  {
    SCOPED_TRACE("the binding's typed connect");
    db::ConnectOptions zeroSocket;
    zeroSocket.socket = withZero(env.socket).asString();
    for (const auto& [port, options] : {std::pair<unsigned, db::ConnectOptions>{65536 + env.port, {}},
                                        {env.port, zeroSocket}}) {
      const db::Handle h = db::connect(env.host.c_str(), env.user.c_str(), env.password.c_str(), port, 0,
                                       env.database.c_str(), options);
      EXPECT_EQ(h, 0);
      EXPECT_EQ(db::errnum(0), db::kBadSettingError);
    }
    Value options = Value::table();
    options.asTable()->set("ssl-ca", withZero(env.sslCa));
    options.asTable()->set("tls", "required");
    const Value h = MYSQLCONNECT(env.host, env.user, env.password, static_cast<int>(env.port), 0, env.database, options);
    EXPECT_EQ(h.asInt(), 0);
    EXPECT_EQ(MYSQLGETERRNO(h).asInt(), kErrBadSetting);
  }
  EXPECT_EQ(side.rows("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1], before);
  {
    SCOPED_TRACE("0 and nil still mean the default port");
    for (const Value& p : {Value(0), Value()}) {
      Recorder rec;
      Login login;
      login.host = "localhost";
      login.port = p;
      ServerPtr s = openWith(rec, {{"cSocket", env.socket}}, login);
      EXPECT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
      EXPECT_GT(s->handle(), 0);
      s->End();
    }
  }
}

}  // namespace
}  // namespace veltro
