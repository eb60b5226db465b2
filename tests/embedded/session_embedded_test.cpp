// The typed face on the embedded server, in one process beside a
// client-server connection: the round trip of every column type, and a
// CALL returning two result sets on both faces.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "session_roundtrip.h"
#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/session.h"

namespace veltro {
namespace {

Session embeddedSession() {
  Session s = Session::embedded(testing::makeTempDir("veltro-sess-emb-"));
  s.execute("CREATE DATABASE IF NOT EXISTS vs_emb");
  s.execute("USE vs_emb");
  return s;
}

TEST(SessionEmbedded, ColumnTypesRoundTrip) {
  Session s = embeddedSession();
  roundtrip::runAll(s);
  EXPECT_EQ(s.value<int>("SELECT ? + ?", 40, 2), 42);
}

// A fresh data directory has no system tables: the procedures' table is made
// as the server's own installer makes it.
void createProcTable(Session& s) {
  std::ifstream in("/usr/share/mysql/mysql_system_tables.sql");
  ASSERT_TRUE(in) << "the server's system tables script is missing";
  std::string line;
  while (std::getline(in, line) && line.rfind("CREATE TABLE IF NOT EXISTS proc ", 0) != 0) {
  }
  ASSERT_FALSE(line.empty());
  if (line.back() == ';') line.pop_back();
  s.execute("CREATE DATABASE IF NOT EXISTS mysql");
  s.execute("USE mysql");
  s.execute(line);
  s.execute("USE vs_emb");
}

TEST(SessionEmbedded, CallThenSelectOnBothFaces) {
  Session s = embeddedSession();
  createProcTable(s);
  s.execute("CREATE OR REPLACE PROCEDURE vs_two() BEGIN SELECT 1 AS a; SELECT 2 AS b; END");
  Rows first = s.query("CALL vs_two()");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].get<int>("a"), 1);
  EXPECT_EQ(s.value<int>("SELECT 3"), 3);
  Statement call = s.prepare("CALL vs_two()");
  call.execute();
  EXPECT_EQ(s.value<int>("SELECT 4"), 4);

  Value options = Value::array();
  for (const std::string& o : db::embeddedOptions(testing::makeTempDir("veltro-sess-emb-"))) options.items().emplace_back(o);
  ServerPtr srv = TQuillonSrv::create();
  srv->Embedded("vs_emb", options);
  ASSERT_TRUE(srv->SqlQuery("CALL vs_two()"));
  QueryPtr q = srv->Query("CALL vs_two()");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->FieldGet("a").asInt(), 1);
  q->End();
  QueryPtr one = srv->Query("SELECT 5 AS five");
  EXPECT_EQ(one->FieldGet("five").asInt(), 5);
  one->End();
  srv->End();
  s.execute("DROP PROCEDURE vs_two");
}

}  // namespace
}  // namespace veltro
