// The query object's edits against a real server: undo, saving by key or by
// the whole row, blank rows, deleting and exact numbers.
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

TEST_F(Query, UndoAndFillArray) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  q->FieldPut("age", 1);
  q->FieldPut("name", "Zed");
  q->Undo("age");
  EXPECT_EQ(q->FieldGet("age").asInt(), 39);
  EXPECT_EQ(q->FieldGet("name").asString(), padded("Zed", q, "name"));
  q->Undo();
  EXPECT_EQ(q->FieldGet("name").asString(), padded("Ann", q, "name"));
  q->FieldPut("name", "Zed");
  q->FieldPut("age", 2);
  q->Undo("nosuch");  // unknown name: every column
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldName});
  EXPECT_TRUE(q->IsEqual("name") && q->IsEqual("age"));

  q->GoTo(2);
  Value rows = q->FillArray();
  ASSERT_EQ(rows.len(), 2u);
  EXPECT_EQ(rows.at(1).at(1).asInt(), 2);
  EXPECT_EQ(rows.at(2).at(1).asInt(), 3);
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->RecNo(), 3);

  q->GoTop();
  int calls = 0;
  rows = q->FillArray(Callable([&](Args a) -> Value {
    a[0].items().push_back("extra");
    ++calls;
    return Value();
  }));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(rows.at(3).len(), 7u);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, SaveUpdatesChangedColumnsByKey) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_EQ(q->Save(), Value(false));  // nothing edited: nothing sent
  EXPECT_EQ(q->MakePrimaryKeyWhere(), "id=1");

  // Another client changes a column that we do not edit; our UPDATE must leave it.
  exec("UPDATE qt_people SET notes = 'other client' WHERE id = 1");
  q->FieldPut("age", 30);
  q->FieldPut("id", 77);  // the key condition still names the loaded key
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT age FROM qt_people WHERE id = 77").asInt(), 30);
  EXPECT_EQ(text("SELECT notes FROM qt_people WHERE id = 77"), "other client");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM qt_people").asInt(), 3);
  EXPECT_FALSE(q->lAppend.asBool());

  // With padding off, appending to a text is a change that is saved.
  PadSetting pad(false);
  auto p = srv->Query("SELECT id, name, notes FROM qt_people WHERE id = 2");
  EXPECT_EQ(p->FieldGet("name").asString(), "Bob");
  p->FieldPut("name", "Bobby");
  p->FieldPut("notes", "x");
  EXPECT_EQ(p->Save(), Value(true));
  EXPECT_EQ(text("SELECT CONCAT(name, '/', notes) FROM qt_people WHERE id = 2"), "Bobby/x");
  p->FieldPut("notes", "x  ");  // trailing blanks only: no change
  EXPECT_EQ(p->Save(), Value(false));
  EXPECT_TRUE(errors.empty());
}

// Fields are found through positions cached from the load; a caller who
// replaces, reorders or empties the row tables must still read and write the
// right columns, and the next row must land in the right keys.
TEST_F(Query, RowTablesRearrangedByTheCaller) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  auto q = srv->Query("SELECT id, name, age FROM qt_people ORDER BY id");
  EXPECT_EQ(q->FieldGet("age").asInt(), 39);

  // The same keys in another order, in a new table.
  TablePtr swapped = std::make_shared<Table>(true);
  swapped->set("_age", 40);
  swapped->set("_name", "Zed");
  swapped->set("_id", 1);
  q->hRow = Value(swapped);
  EXPECT_EQ(q->FieldGet("age").asInt(), 40);
  EXPECT_EQ(trimRight(q->FieldGet("name").asString()), "Zed");
  q->FieldPut("age", 41);
  EXPECT_EQ(swapped->get("_age").asInt(), 41);
  EXPECT_EQ(swapped->get("_name").asString(), "Zed");

  // A key taken out of the table in place: the others move up.
  swapped->erase("_age");
  EXPECT_EQ(q->FieldGet("age"), Value());
  EXPECT_EQ(takeErrors(), std::vector<int>{9013});
  EXPECT_EQ(q->FieldGet("id").asInt(), 1);

  // Moving on fills both tables by key again, the old one in its own order.
  q->Skip();
  EXPECT_EQ(q->FieldGet("id").asInt(), 2);
  EXPECT_EQ(q->FieldGet("age").asInt(), 25);
  EXPECT_EQ(trimRight(q->FieldGet("name").asString()), "Bob");
  EXPECT_EQ(q->hOldRow.asTable()->get("_age").asInt(), 25);
  EXPECT_EQ(swapped->get("_age").asInt(), 25);

  // Both names for one table: the row and the loaded row are the same values.
  q->hOldRow = q->hRow;
  q->Skip();
  EXPECT_EQ(q->FieldGet("age").asInt(), 61);
  EXPECT_EQ(trimRight(q->FieldGet("name").asString()), "Cid");
  q->End();
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, SaveByWholeRowCondition) {
  table("qt_nokey",
        "a INT NOT NULL, b VARCHAR(10) NOT NULL, n INT NULL, m TEXT NULL, d DATE NULL");
  exec("INSERT INTO qt_nokey VALUES (1, 'x', 5, '', '2001-02-03'), (2, 'it''s', 7, 'memo', NULL), (3, 'z', 0, NULL, NULL)");
  auto q = srv->Query("SELECT * FROM qt_nokey ORDER BY a");
  EXPECT_EQ(q->MakePrimaryKeyWhere(), "");
  EXPECT_EQ(q->BuildDataWhere(), "a = 1 AND b = 'x' AND n = 5 AND (m IS NULL OR m = '') AND d = '2001-02-03'");
  q->FieldPut("n", 6);
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT n FROM qt_nokey WHERE a = 1").asInt(), 6);

  q->GoTo(2);
  EXPECT_EQ(q->BuildDataWhere(), "a = 2 AND b = 'it\\'s' AND n = 7 AND m = 'memo' AND d IS NULL");
  q->FieldPut("m", "changed");
  q->Save();
  EXPECT_EQ(text("SELECT m FROM qt_nokey WHERE a = 2"), "changed");

  // A nullable number holding 0 reads as NULL: the condition matches no row.
  q->GoTo(3);
  q->FieldPut("b", "new");
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(text("SELECT b FROM qt_nokey WHERE a = 3"), "z");
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, BlankRowInsertDeleteZap) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_FALSE(q->GetBlankRow(false));
  EXPECT_TRUE(q->lAppend.asBool());
  EXPECT_EQ(q->FieldGet("name").asString(), padded("", q, "name"));
  EXPECT_EQ(q->FieldGet("age").asInt(), 0);
  q->FieldPut("name", "Dee");
  q->FieldPut("age", 44);
  q->FieldPut("born", Date::fromYMD(2020, 2, 29));
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_FALSE(q->lAppend.asBool());
  EXPECT_EQ(q->RecCount(), 4);
  EXPECT_EQ(text("SELECT CONCAT(name, age, born, IFNULL(notes, 'null')) FROM qt_people WHERE id = 4"),
            "Dee442020-02-29null");

  // Through the row object of the blank row: its copy is what Save writes.
  RowPtr blank = q->GetBlankRow();
  ASSERT_TRUE(blank);
  EXPECT_EQ(q->oRow.asObject(), blank);
  blank->send("_name", "Eve");
  blank->send("_age", 50);
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_TRUE(q->oRow.isNil());
  EXPECT_EQ(text("SELECT CONCAT(name, age) FROM qt_people WHERE id = 5"), "Eve50");

  // Delete on the last row: the cursor shows the new last row at the end.
  q->GoBottom();
  EXPECT_EQ(q->FieldGet("id").asInt(), 5);
  EXPECT_TRUE(q->Delete());
  EXPECT_EQ(q->RecCount(), 4);
  EXPECT_EQ(q->RecNo(), 4);
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->FieldGet("id").asInt(), 4);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM qt_people WHERE id = 5").asInt(), 0);

  // Zap empties the whole table, not only the rows selected.
  auto some = srv->Query("SELECT * FROM qt_people WHERE age > 60");
  EXPECT_TRUE(some->Zap());
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM qt_people").asInt(), 0);
  EXPECT_EQ(some->RecCount(), 0);
  EXPECT_TRUE(errors.empty());

  // Two tables: refused.
  table("qt_other", "x INT");
  auto two = srv->Query("SELECT qt_people.id FROM qt_people, qt_other");
  EXPECT_FALSE(two->GetBlankRow());
  EXPECT_FALSE(two->lAppend.asBool());
  EXPECT_TRUE(two->Save().isNil());
  EXPECT_FALSE(two->Delete());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrBlankRowTables, kErrSaveTables, kErrDeleteTables}));
}

TEST_F(Query, ExactNumbersSurviveSave) {
  table("qt_exact", "id INT PRIMARY KEY, amount DECIMAL(30,10), big BIGINT UNSIGNED, note VARCHAR(10)");
  exec("INSERT INTO qt_exact VALUES (1, 12345678901234567890.1234567890, 18446744073709551615, 'a'), "
       "(2, -0.0000000001, 9223372036854775808, 'b')");
  auto q = srv->Query("SELECT * FROM qt_exact ORDER BY id");
  EXPECT_EQ(q->FieldGet("amount").asNumber().text(), "12345678901234567890.1234567890");
  EXPECT_EQ(q->FieldGet("big").asNumber().text(), "18446744073709551615");
  q->FieldPut("note", "edited");
  EXPECT_EQ(q->Save(), Value(true));
  q->Skip();
  q->FieldPut("note", "edited");
  q->FieldPut("amount", q->FieldGet("amount"));  // same number: no change
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(text("SELECT CONCAT(amount, '/', big, '/', note) FROM qt_exact WHERE id = 1"),
            "12345678901234567890.1234567890/18446744073709551615/edited");
  EXPECT_EQ(text("SELECT CONCAT(amount, '/', big) FROM qt_exact WHERE id = 2"),
            "-0.0000000001/9223372036854775808");

  // Editing the numbers themselves writes them exactly.
  q->GoTop();
  Number n;
  ASSERT_TRUE(Number::parse("98765432109876543210.0123456789", n));
  q->FieldPut("amount", n);
  q->Save();
  EXPECT_EQ(scalar("SELECT amount FROM qt_exact WHERE id = 1").asNumber().text(), "98765432109876543210.0123456789");
  EXPECT_TRUE(errors.empty());
}

}  // namespace veltro::testing
