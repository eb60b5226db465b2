// Client flags, the socket, timeouts and host lists of the server object's
// connection against the throwaway server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_login.h"
#include "server_support.h"

namespace veltro {
namespace {

using testing::ask;
using testing::Login;
using testing::Members;
using testing::openWith;
using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

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
    ServerPtr s = openWith(rec, {}, login);
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
    ServerPtr s = openWith(rec, {}, login);
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
    ServerPtr s = openWith(rec, c.members, login);
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
    ServerPtr s = openWith(rec, {{"nReadTimeout", 1}});
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
    ServerPtr s = openWith(rec, {}, login);
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
    ServerPtr s = openWith(rec, {{"cSocket", env.socket}}, login);
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
