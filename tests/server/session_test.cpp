// The typed face on the client-server connection, and what it shares with the
// object model: statements that return more than one result (CALL).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/query.h"
#include "veltro/server.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::SideConnection;

// A procedure that returns two result sets, then its own status.
void createTwoSets(SideConnection& side) {
  side.exec("CREATE OR REPLACE PROCEDURE vs_two() BEGIN SELECT 1 AS a, 'x' AS b; SELECT 2 AS c; END");
  side.exec("CREATE OR REPLACE PROCEDURE vs_fails() BEGIN SELECT 1 AS a; SELECT * FROM vs_no_such_table; END");
}

TEST(MultiResults, ObjectModelCallLeavesTheConnectionUsable) {
  SideConnection side;
  createTwoSets(side);
  Recorder rec;
  ServerPtr s = testing::connectServer(rec.block());
  // SqlQuery: nobody takes the result sets; the next statement still runs.
  ASSERT_TRUE(s->SqlQuery("CALL vs_two()"));
  EXPECT_EQ(testing::ask(s, "SELECT 1"), "1");
  // The caller takes the first result set; the rest is dropped before the next statement.
  ASSERT_TRUE(s->SqlQuery("CALL vs_two()"));
  db::freeResult(db::storeResult(s->handle()));
  EXPECT_EQ(testing::ask(s, "SELECT 2"), "2");
  // A query object holds the first result set.
  QueryPtr q = s->Query("CALL vs_two()");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->LastRec(), 1);
  EXPECT_EQ(q->FieldGet("a").asInt(), 1);
  EXPECT_EQ(q->FieldGet("b").asString().substr(0, 1), "x");
  EXPECT_EQ(testing::ask(s, "SELECT 3"), "3");
  q->End();
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  // A failure after the first result set is reported, and the connection goes on.
  QueryPtr f = s->Query("CALL vs_fails()");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1146});
  if (f) f->End();
  EXPECT_EQ(testing::ask(s, "SELECT 4"), "4");
  s->End();
  side.exec("DROP PROCEDURE vs_two");
  side.exec("DROP PROCEDURE vs_fails");
}

}  // namespace
}  // namespace veltro
