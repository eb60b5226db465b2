// The connection's character set against the throwaway server: set, and
// followed after a statement changes it; texts escaped as the server reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_support.h"

namespace veltro {
namespace {

using testing::ask;
using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

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

}  // namespace
}  // namespace veltro
