// The query object's navigation against a real server: the cursor, seek and
// pages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query_fixture.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"

namespace veltro::testing {

TEST_F(Query, CursorRules) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  std::string calls;
  auto hook = [&](QueryPtr& q) {
    q->bEof = Callable([&](Args) -> Value { calls += "E"; return Value(); });
    q->bBof = Callable([&](Args) -> Value { calls += "B"; return Value(); });
  };

  auto empty = srv->Query("SELECT * FROM qt_people WHERE 1 = 0");
  hook(empty);
  EXPECT_EQ(empty->GoTop(), 1);
  EXPECT_EQ(empty->GoBottom(), 1);
  EXPECT_TRUE(empty->Bof() && empty->Eof());
  EXPECT_EQ(empty->Skip(), 0);
  EXPECT_EQ(calls, "EB");  // end first
  EXPECT_EQ(empty->RecNo(), 1);

  calls.clear();
  auto one = srv->Query("SELECT * FROM qt_people WHERE id = 1");
  hook(one);
  EXPECT_FALSE(one->Bof() || one->Eof());
  EXPECT_EQ(one->Skip(), 0);
  EXPECT_TRUE(one->Eof());
  EXPECT_EQ(one->Skip(-1), 0);
  EXPECT_TRUE(one->Bof());
  EXPECT_FALSE(one->Eof());
  EXPECT_EQ(calls, "EB");

  calls.clear();
  auto three = srv->Query("SELECT * FROM qt_people ORDER BY id");
  hook(three);
  EXPECT_EQ(three->GoBottom(), 3);
  EXPECT_EQ(three->Skip(), 0);
  EXPECT_EQ(three->FieldGet("id").asInt(), 3);
  EXPECT_TRUE(three->Eof());
  EXPECT_EQ(calls, "E");
  EXPECT_EQ(three->Skip(-1), -1);
  EXPECT_FALSE(three->Eof());
  EXPECT_EQ(three->FieldGet("id").asInt(), 2);
  three->GoTop();
  EXPECT_EQ(three->Skip(-5), 0);
  EXPECT_TRUE(three->Bof());
  EXPECT_EQ(three->FieldGet("id").asInt(), 1);
  EXPECT_EQ(calls, "EB");
  EXPECT_EQ(three->Skip(0), 0);
  EXPECT_EQ(calls, "EB");  // Skip(0) calls nothing

  EXPECT_EQ(three->GoTo(0), 1);
  EXPECT_TRUE(three->Bof());
  EXPECT_EQ(three->GoTo(4), 3);
  EXPECT_TRUE(three->Eof());

  // A walk visits every row once and ends on the last row.
  std::vector<long> seen;
  for (three->GoTop(); !three->Eof(); three->Skip()) seen.push_back(static_cast<long>(three->FieldGet(1).asInt()));
  EXPECT_EQ(seen, (std::vector<long>{1, 2, 3}));

  // A reload with fewer rows keeps the row number, clamped to the last row.
  three->GoTo(3);
  three->SetWhere("id < 3");
  EXPECT_EQ(three->RecNo(), 2);
  EXPECT_TRUE(three->Eof());
  EXPECT_TRUE(errors.empty());

  auto unloaded = TQuillonQry::New(Value(), srv);
  EXPECT_EQ(unloaded->GetRow(1), 0);
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrNotLoaded});
  EXPECT_EQ(unloaded->Skip(), 0);
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrNotLoaded});
  three->End();
  EXPECT_TRUE(three->hResult.isNil());
  EXPECT_EQ(three->GoTop(), 0);
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrNotLoaded});
}

TEST_F(Query, SeekModes) {
  table("qt_seek", "id INT PRIMARY KEY, name VARCHAR(20), born DATE");
  for (int i = 1; i <= 10; ++i)
    exec("INSERT INTO qt_seek VALUES (" + std::to_string(i) + ", '" + (i == 7 || i == 9 ? "Target" : "row") +
         std::to_string(i) + "', '2000-01-0" + std::to_string(i % 9 + 1) + "')");
  auto q = srv->Query("SELECT * FROM qt_seek ORDER BY id");
  q->GoTo(2);
  EXPECT_EQ(q->Seek("target7", "name"), 7);  // letters compare without case
  EXPECT_EQ(q->RecNo(), 7);
  q->GoTo(2);
  EXPECT_EQ(q->Seek("Target", "name", Value(), Value(), true, false), 7);  // prefix form, no move
  EXPECT_EQ(q->RecNo(), 2);
  EXPECT_EQ(q->Seek("Target", "name", 8, Value(), true), 9);
  EXPECT_EQ(q->Seek(4, "id"), 4);
  EXPECT_EQ(q->Seek("5", 1), 5);  // a text searched in a number column reads its number

  q->GoTo(3);
  q->FieldPut("name", "edited");
  EXPECT_EQ(q->Seek("nobody", "name"), 3);  // not found: the current row, read again
  EXPECT_EQ(q->FieldGet("name").asString().substr(0, 4), "row3");
  EXPECT_EQ(q->Seek("2000-01-02", "born"), 0);  // dates are not searchable
  EXPECT_TRUE(errors.empty());

  auto none = srv->Query("SELECT * FROM qt_seek WHERE id > 100");
  EXPECT_EQ(none->Seek("x", "name"), 0);
}

TEST_F(Query, PagesForwardAndBack) {
  table("qt_pages", "id INT PRIMARY KEY");
  std::string values;
  for (int i = 1; i <= 250; ++i) values += (i > 1 ? "," : "") + ("(" + std::to_string(i) + ")");
  exec("INSERT INTO qt_pages VALUES " + values);
  auto q = srv->Query("SELECT id FROM qt_pages ORDER BY id");
  std::vector<bool> changes;
  q->bOnChangePage = Callable([&](Args a) -> Value {
    changes.push_back(a[0].asBool());
    return Value();
  });
  auto firstId = [&] { return q->FieldGet("id").asInt(); };

  q->SetPages(100);
  EXPECT_EQ(q->nMaxPages.asInt(), 3);
  EXPECT_EQ(q->nTotalRows.asInt(), 250);
  EXPECT_EQ(q->cLimit.asString(), "0,100");
  EXPECT_EQ(q->RecCount(), 100);
  EXPECT_EQ(firstId(), 1);
  EXPECT_TRUE(changes.empty());

  q->NextPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 100);
  EXPECT_EQ(q->nCurrentPage.asInt(), 2);
  EXPECT_EQ(firstId(), 101);
  q->NextPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 150);
  EXPECT_EQ(q->nCurrentPage.asInt(), 3);
  EXPECT_EQ(firstId(), 151);
  q->NextPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 150);
  EXPECT_EQ(q->nCurrentPage.asInt(), 3);

  q->PrevPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 50);
  EXPECT_EQ(q->nCurrentPage.asInt(), 2);
  EXPECT_EQ(firstId(), 51);
  q->PrevPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 0);
  EXPECT_EQ(q->nCurrentPage.asInt(), 1);
  EXPECT_EQ(firstId(), 1);
  EXPECT_EQ(changes, (std::vector<bool>{false, false, false, true, true}));

  q->LastPage();
  EXPECT_EQ(q->nCurrentPage.asInt(), 3);
  EXPECT_EQ(firstId(), 151);
  q->FirstPage();
  EXPECT_EQ(q->nCurrentPage.asInt(), 1);
  EXPECT_EQ(firstId(), 1);

  // Without reload: the statement and counters change, the rows and callbacks do not.
  changes.clear();
  q->NextPage(1, false);
  EXPECT_EQ(q->nCurrentPage.asInt(), 2);
  EXPECT_EQ(q->cQuery.asString(), "SELECT id FROM qt_pages ORDER BY id LIMIT 100,100");
  EXPECT_EQ(firstId(), 1);
  EXPECT_TRUE(changes.empty());

  // The cursor keeps its row number on a page move.
  q->Refresh();
  q->GoTo(40);
  q->NextPage();
  EXPECT_EQ(q->RecNo(), 40);
  EXPECT_EQ(firstId(), 190);

  auto none = srv->Query("SELECT id FROM qt_pages WHERE id > 1000");
  none->SetPages(100);
  none->NextPage();
  EXPECT_EQ(none->nMaxPages.asInt(), 0);
  EXPECT_EQ(none->nCurrentPage.asInt(), 0);
  EXPECT_EQ(none->nCurrentLimit.asInt(), 0);
  EXPECT_TRUE(errors.empty());
}

}  // namespace veltro::testing
