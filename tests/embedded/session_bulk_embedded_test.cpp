// executeMany on the embedded server, which has no array binding: every
// column type through multi-row statements, and a failing row.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "session_roundtrip.h"
#include "test_env.h"
#include "veltro/session.h"

namespace veltro {
namespace {

TEST(SessionEmbeddedBulk, ColumnTypesAndAFailingRow) {
  Session s = Session::embedded(testing::makeTempDir("veltro-bulk-emb-"));
  s.execute("CREATE DATABASE IF NOT EXISTS vs_emb");
  s.execute("USE vs_emb");
  s.execute("SET time_zone = '+00:00'");
  for (const roundtrip::Case& c : roundtrip::cases()) {
    SCOPED_TRACE(c.column);
    s.execute("CREATE OR REPLACE TABLE vs_bulk_types (id INT PRIMARY KEY, v " + c.column + ")");
    c.many(s, "vs_bulk_types");
  }
  s.execute("CREATE OR REPLACE TABLE vs_bulk (id INT PRIMARY KEY, name VARCHAR(20))");
  std::vector<std::tuple<int, std::string>> rows = {{1, "a"}, {2, "b"}, {3, "c"}, {2, "again"}, {5, "e"}};
  Statement insert = s.prepare("INSERT INTO vs_bulk VALUES (?, ?)");
  try {
    insert.executeMany(rows);
    ADD_FAILURE() << "a duplicate key went in";
  } catch (const BulkError& e) {
    EXPECT_EQ(e.number(), 1062u);
    EXPECT_EQ(e.row(), 3u);
    EXPECT_EQ(e.applied(), 0u);
  }
  EXPECT_EQ(s.value<int>("SELECT COUNT(*) FROM vs_bulk"), 0);
  rows[3] = {4, "d"};
  EXPECT_EQ(insert.executeMany(rows).affected, 5u);
  s.execute("DROP TABLE vs_bulk_types, vs_bulk");
}

}  // namespace
}  // namespace veltro
