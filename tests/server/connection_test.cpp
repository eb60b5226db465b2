// The server object's connection settings against the throwaway server: TLS
// modes and certificates, the character set (set, and followed after a
// statement changes it), flags the library refuses, the socket and timeouts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "server_support.h"
#include "veltro/table.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

// Settings members by name, set through the message table as a caller by name would.
using Members = std::vector<std::pair<std::string, Value>>;

struct Login {
  Value host = serverEnv().host;
  Value user = serverEnv().user;
  Value flags = 0;
  Value password = serverEnv().password;
  Value port = static_cast<int>(serverEnv().port);
  Value database = serverEnv().database;
};

ServerPtr open(const Recorder& rec, const Members& members, const Login& login = {}) {
  ServerPtr s = TQuillonSrv::create();
  for (const auto& [name, value] : members) {
    s->send("_" + name, value);
    EXPECT_TRUE(s->send(name) == value) << name;
  }
  s->New(login.host, login.user, login.password, login.port, login.flags, login.database, rec.block());
  return s;
}

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
    ServerPtr s = open(rec, c.members, login);
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
    ServerPtr s = open(rec, c.members, c.login);
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
      ServerPtr s = open(rec, {{"cSocket", env.socket}}, login);
      EXPECT_EQ(rec.numbers(), std::vector<long long>{}) << s->ErrorTxt();
      EXPECT_GT(s->handle(), 0);
      s->End();
    }
  }
}

// A table with a row to write and a bystander row.
class Charset : public ::testing::Test {
 protected:
  void SetUp() override {
    side.exec("DROP DATABASE IF EXISTS vtb_conn");
    side.exec("CREATE DATABASE vtb_conn");
    side.exec("CREATE TABLE vtb_conn.t (id int PRIMARY KEY, v varbinary(255))");
    side.exec("INSERT INTO vtb_conn.t VALUES (1, 'a'), (99, 'keep')");
  }
  void TearDown() override { side.exec("DROP DATABASE IF EXISTS vtb_conn"); }

  // Texts whose first byte starts a two-byte character in GBK, Big5 or Shift
  // JIS whose second byte may be a backslash: escaped without regard to the
  // set, the backslash would join it and free the quote. (No blank at the
  // end: Update trims values.)
  static std::vector<Value> hostileValues() {
    return {Value("\xbf' OR 1=1 -- x"), Value::memo("\xbf' OR 1=1 -- x"), Value("\x95' OR 1=1 -- x"),
            Value("\xe0' OR 1=1 -- x"), Value::memo("\x81\\' OR 1=1 -- x")};
  }
  // Each value written by Update into the row lands byte for byte, and the bystander stays.
  void expectRoundTrips(const ServerPtr& s) {
    for (const Value& v : hostileValues()) {
      SCOPED_TRACE(v.asString());
      EXPECT_TRUE(s->Update("t", Value::array({"v"}), Value::array({v}), "id = 1"));
      EXPECT_TRUE(side.scalar("SELECT v FROM vtb_conn.t WHERE id = 1") == v.asString())
          << side.scalar("SELECT HEX(v) FROM vtb_conn.t WHERE id = 1");
      EXPECT_EQ(side.scalar("SELECT v FROM vtb_conn.t WHERE id = 99"), "keep");
    }
  }

  SideConnection side;
};

TEST_F(Charset, SettingAppliesAndEscapes) {
  for (const char* charset : {"gbk", "big5", "sjis"}) {
    for (bool tracking : {true, false}) {
      SCOPED_TRACE(std::string(charset) + (tracking ? ", session tracking on" : ", session tracking off"));
      Recorder rec;
      ServerPtr s = TQuillonSrv::create();
      s->cCharset = charset;
      const auto& env = serverEnv();
      s->New(env.host, env.user, env.password, static_cast<int>(env.port), 0, "vtb_conn", rec.block());
      ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
      if (!tracking) {
        ASSERT_TRUE(s->SqlQuery("SET SESSION session_track_system_variables = ''"));
      }
      EXPECT_EQ(ask(s, "SELECT @@character_set_client"), charset);
      expectRoundTrips(s);
      EXPECT_EQ(rec.numbers(), std::vector<long long>{});
      s->End();
    }
  }
  // A set the client library does not know is its refusal, reported.
  Recorder rec;
  ServerPtr s = TQuillonSrv::create();
  s->cCharset = "no_such_set";
  const auto& env = serverEnv();
  s->New(env.host, env.user, env.password, static_cast<int>(env.port), 0, "vtb_conn", rec.block());
  EXPECT_EQ(rec.numbers().size(), 1u);
  EXPECT_EQ(s->handle(), 0);
}

// A statement that changes the client character set is followed with session
// tracking off, in every spelling.
TEST_F(Charset, StatementsThatChangeItAreFollowed) {
  const struct {
    const char* statement;
    const char* charset;
  } cases[] = {
      {"SET NAMES big5", "big5"},
      {"set names 'sjis'", "sjis"},
      {"SET CHARACTER SET gbk", "gbk"},
      {"SET CHARSET big5", "big5"},
      {"SET character_set_client = sjis", "sjis"},
      {"SET @@session.character_set_client = gbk", "gbk"},
      {"  \r\n\t/* a comment */ Set Names gbk", "gbk"},
      {"-- a comment\nSET NAMES sjis", "sjis"},
      {"# a comment\n  SET NAMES big5", "big5"},
      {"/*!40101 SET NAMES gbk */", "gbk"},
      {"/*M!100100 SET NAMES sjis */", "sjis"},
  };
  const auto& env = serverEnv();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    // The statements that change only the client's set leave the literal to
    // be converted into the connection's set (or the database's): both are
    // made the same set first, so that the bytes reach the column unconverted.
    side.exec(std::string("ALTER DATABASE vtb_conn CHARACTER SET ") + c.charset);
    Recorder rec;
    ServerPtr s = TQuillonSrv::create();
    s->New(env.host, env.user, env.password, static_cast<int>(env.port), 0, "vtb_conn", rec.block());
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    ASSERT_TRUE(s->SqlQuery("SET SESSION session_track_system_variables = ''"));
    ASSERT_TRUE(s->SqlQuery(std::string("SET character_set_connection = ") + c.charset));
    ASSERT_EQ(ask(s, "SELECT @@character_set_client"), "utf8mb4");
    ASSERT_TRUE(s->SqlQuery(c.statement));
    EXPECT_EQ(ask(s, "SELECT @@character_set_client"), c.charset);
    expectRoundTrips(s);
    // And back: utf8mb4 escapes byte by byte again.
    ASSERT_TRUE(s->SqlQuery("SET NAMES utf8mb4"));
    expectRoundTrips(s);
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    s->End();
  }
}

// Flags the library never lets through, the socket, and timeouts.
TEST(Connection, FlagsSocketAndTimeouts) {
  const auto& env = serverEnv();
  SideConnection side;
  side.exec("DROP TABLE IF EXISTS vtb_conn_canary");
  side.exec("CREATE TABLE vtb_conn_canary (id int)");

  {
    SCOPED_TRACE("multi-statement flag");
    Recorder rec;
    Login login;
    login.flags = 65536;
    ServerPtr s = open(rec, {}, login);
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    EXPECT_FALSE(s->SqlQuery("SELECT 1; DROP TABLE vtb_conn_canary"));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{1064});
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = DATABASE() "
                          "AND table_name = 'vtb_conn_canary'"),
              "1");
    s->End();
  }
  {
    SCOPED_TRACE("TLS flag among the flags");
    Recorder rec;
    Login login;
    login.flags = 2048 | 65536;
    ServerPtr s = open(rec, {}, login);
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    EXPECT_EQ(ask(s, "SELECT 1"), "1");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    s->End();
  }
  struct Case {
    const char* what;
    Members members;
    std::string host;
    long long refusal;  // 0: connects
  };
  const std::vector<Case> cases = {
      {"the socket of the test server", {{"cSocket", env.socket}}, "localhost", 0},
      {"a socket where there is none", {{"cSocket", env.tmpdir + "/no-such.sock"}}, "localhost", 2002},
      {"timeouts", {{"nConnectTimeout", 5}, {"nReadTimeout", 60}, {"nWriteTimeout", 60}}, env.host, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Recorder rec;
    Login login;
    login.host = c.host;
    ServerPtr s = open(rec, c.members, login);
    if (c.refusal != 0) {
      EXPECT_EQ(rec.numbers(), std::vector<long long>{c.refusal});
      EXPECT_EQ(s->handle(), 0);
      continue;
    }
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    EXPECT_EQ(ask(s, "SELECT 1"), "1");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    s->End();
  }

  {
    SCOPED_TRACE("a read timeout shorter than the statement");
    Recorder rec;
    ServerPtr s = open(rec, {{"nReadTimeout", 1}});
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    s->lReConnect = false;
    EXPECT_FALSE(s->SqlQuery("SELECT SLEEP(8)"));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{2013});
    s->End();
  }
  side.exec("DROP TABLE IF EXISTS vtb_conn_canary");
}

// A host list on one server: hosts that refuse are passed over, a list with
// no usable host is reported once naming each host, a malformed list sends
// nothing, and a reconnect moves on to the next host of the list.
TEST(Connection, HostLists) {
  VELTRO_SKIP_ON_CLUSTER(
      "its lists are built around one server's host:port, and its failover kills through node 1's socket; the "
      "host lists of nodes are the cluster tests' own");
  const auto& env = serverEnv();
  const std::string good = env.host + ":" + std::to_string(env.port);
  const std::string closed = "127.0.0.1:" + std::to_string(testing::closedPort());
  struct Case {
    std::string list;
    long long refusal;  // 0: connects
  };
  const std::vector<Case> cases = {
      {closed + "," + good, 0},
      {good + "," + closed, 0},
      {"localhost," + good, 0},  // the port beside the list serves a host without one
      {closed + "," + closed, kErrNoReadyNode},
      {good + ",", kErrBadSetting},
      {good + ",[::1", kErrBadSetting},
      {good + ",host:99999", kErrBadSetting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    Recorder rec;
    Login login;
    login.host = c.list;
    ServerPtr s = open(rec, {}, login);
    if (c.refusal != 0) {
      ASSERT_EQ(rec.numbers(), std::vector<long long>{c.refusal});
      EXPECT_EQ(s->handle(), 0);
      const std::string why = rec.calls->front().extra.asString();
      if (c.refusal == kErrNoReadyNode) {
        EXPECT_NE(why.find(closed + ": 200"), std::string::npos) << why;  // 2002 or 2003
        EXPECT_EQ(why.find(env.password), std::string::npos);
      } else {
        EXPECT_NE(why.find("cHost"), std::string::npos) << why;
      }
      continue;
    }
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    EXPECT_EQ(ask(s, "SELECT 1"), "1");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    s->End();
  }
  {
    SCOPED_TRACE("failover along the list");
    Recorder rec;
    Login login;
    login.host = good + ",localhost";  // the second by the port beside the list
    ServerPtr s = open(rec, {{"cSocket", env.socket}}, login);
    ASSERT_GT(s->handle(), 0) << s->ErrorTxt();
    // A TCP client shows as host:port in the process list, a socket client as "localhost".
    const std::string kHow = "SELECT HOST FROM information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()";
    EXPECT_NE(ask(s, kHow).find(':'), std::string::npos);
    SideConnection side;
    side.exec("KILL " + ask(s, "SELECT CONNECTION_ID()"));
    // The killed idle connection is found closed before the statement goes
    // out: it never ran, so it is sent on the next host and nothing is reported.
    EXPECT_EQ(ask(s, "SELECT 1"), "1");
    EXPECT_EQ(ask(s, kHow), "localhost");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    s->End();
  }
}

}  // namespace
}  // namespace veltro
