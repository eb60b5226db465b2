// Row objects: detached copies of a query's row, their messages by name, and
// how they reach the query through SetData, Undo and Save.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query_fixture.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/table.h"

namespace veltro::testing {
namespace {

class Row : public QueryFixture {
 protected:
  void SetUp() override {
    QueryFixture::SetUp();
    table("qr_people", "id INT PRIMARY KEY, name VARCHAR(10), age INT", "CHARACTER SET latin1");
    exec("INSERT INTO qr_people VALUES (1,'a',10),(2,'b',20),(3,'c',30),(4,'d',40),(5,'e',50)");
    q = srv->Query("SELECT * FROM qr_people ORDER BY id");
  }
  QueryPtr q;
};

TEST_F(Row, CopyMessagesAndSetData) {
  q->GoTo(3);
  RowPtr row = q->GetRowObj();
  EXPECT_EQ(q->RecNo(), 3);  // no argument: the current row, no move
  EXPECT_EQ(row->nRecno.asInt(), 3);
  EXPECT_EQ(q->oRow.asObject(), row);
  EXPECT_EQ(row->send("AGE").asInt(), 30);
  EXPECT_EQ(row->send("Name").asString(), padded("c", q, "name"));  // stored as the query loaded it
  EXPECT_EQ(row->get("age").asInt(), 30);

  // Writes land on the copy only, unchecked and unescaped.
  EXPECT_EQ(row->send("_age", 31).asInt(), 31);
  EXPECT_EQ(row->send("_name", "o'k").asString(), "o'k");
  EXPECT_EQ(q->FieldGet("age").asInt(), 30);
  EXPECT_EQ(row->send("_age", "not a number").asString(), "not a number");
  row->send("_age", 32);
  EXPECT_EQ(row->send("_age", Value()).asInt(), 32);  // assigning nil reads

  // Messages the row does not know go to the query.
  EXPECT_EQ(row->send("RecCount").asInt(), 5);
  EXPECT_EQ(row->send("RecNo()").asInt(), 3);

  // The copy keeps row 3; SetData writes it over the row the query now shows.
  q->GoTo(5);
  EXPECT_EQ(row->send("age").asInt(), 32);
  row->SetData();
  EXPECT_EQ(q->FieldGet("age").asInt(), 32);
  EXPECT_EQ(q->FieldGet("id").asInt(), 3);

  EXPECT_EQ(q->GetRowObj(q->nRecNo)->nRecno.asInt(), 5);
  RowPtr second = q->GetRowObj(2);
  EXPECT_EQ(q->RecNo(), 2);
  EXPECT_EQ(second->send("id").asInt(), 2);
  EXPECT_EQ(q->oRow.asObject(), second);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Row, UnknownNamesAndQueryColumns) {
  RowPtr row = q->GetRowObj();
  // A column the copy lacks but the query holds is read and written on the query.
  row->uRow.asTable()->erase("_age");
  EXPECT_EQ(row->send("age").asInt(), 10);
  EXPECT_EQ(row->send("_age", 11).asInt(), 11);
  EXPECT_EQ(q->FieldGet("age").asInt(), 11);

  // An unknown assignment made on a row reaches the query without its "_": 1004.
  ErrorPtr err = guarded([&] { row->send("_nosuch", 1); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "BASE");
  EXPECT_EQ(err->SubCode.asInt(), 1004);
  EXPECT_EQ(err->Description.asString(), "Message not found");
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: nosuch");
  err = guarded([&] { row->send("Missing"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), 1004);
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: missing");
  EXPECT_TRUE(errors.empty());
}

TEST_F(Row, UndoAndSaveThroughRowObject) {
  q->GoTo(2);
  RowPtr row = q->GetRowObj();
  row->send("_age", 99);
  row->send("_name", "zz");
  q->Undo("age");  // works on the row object's tables while it is handed out
  EXPECT_EQ(row->send("age").asInt(), 20);
  EXPECT_EQ(row->send("name").asString(), "zz");
  q->Undo();
  EXPECT_EQ(row->send("name").asString(), padded("b", q, "name"));
  EXPECT_EQ(q->FieldGet("name").asString(), padded("b", q, "name"));

  row->send("_age", 21);
  EXPECT_EQ(q->Save(), Value(true));  // the row object's values are the ones saved
  EXPECT_TRUE(q->oRow.isNil());
  EXPECT_EQ(scalar("SELECT age FROM qr_people WHERE id = 2").asInt(), 21);
  EXPECT_EQ(text("SELECT name FROM qr_people WHERE id = 2"), "b");

  // End drops the row object; the caller's reference stays usable.
  RowPtr kept = q->GetRowObj();
  q->End();
  EXPECT_TRUE(q->oRow.isNil());
  EXPECT_EQ(kept->send("id").asInt(), 2);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace veltro::testing
