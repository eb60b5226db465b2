// The query object's core cases against the embedded server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/server.h"

namespace veltro {
namespace {

class QueryEmbedded : public ::testing::Test {
 protected:
  void SetUp() override {
    Value options = Value::array();
    for (const std::string& o : db::embeddedOptions(testing::makeTempDir("veltro-qemb-"))) options.items().emplace_back(o);
    srv = TQuillonSrv::create();
    Callable record = [this](Args a) -> Value {
      errors.push_back(static_cast<int>(a.size() > 1 ? a[1].asInt() : -1));
      return Value();
    };
    srv->Embedded(Value(), options, Value::array(), Value(record));
    ASSERT_NE(srv->handle(), 0) << "the embedded server did not start";
    ASSERT_TRUE(srv->SqlQuery("CREATE DATABASE IF NOT EXISTS vq_emb"));
    ASSERT_TRUE(srv->SelectDB("vq_emb"));
    srv->SqlQuery("DROP TABLE IF EXISTS people");
    ASSERT_TRUE(srv->SqlQuery(
        "CREATE TABLE people (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20), age INT, "
        "born DATE, amount DECIMAL(30,10), notes TEXT NULL) ENGINE=InnoDB"));
    ASSERT_TRUE(srv->SqlQuery(
        "INSERT INTO people (name, age, born, amount, notes) VALUES ('Ann', 39, '2010-05-17', "
        "12345678901234567890.1234567890, 'x'), ('Bob', 25, NULL, 0, NULL), ('Cid', 61, NULL, 1, '')"));
  }
  void TearDown() override {
    srv->SqlQuery("DROP TABLE IF EXISTS people");
    srv->End();
  }

  std::string text(const std::string& sql) {
    QueryPtr q = srv->Query(sql);
    std::string out(trimRight(q->FieldGet(1).asString()));
    q->End();
    return out;
  }

  ServerPtr srv;
  std::vector<int> errors;
};

TEST_F(QueryEmbedded, LoadNavigateEditSaveDelete) {
  QueryPtr q = srv->Query("select * from people where age > 20 order by id desc");
  EXPECT_EQ(q->cWhere.asString(), "age > 20");
  EXPECT_EQ(q->cOrder.asString(), "id DESC");
  ASSERT_EQ(q->RecCount(), 3);
  EXPECT_EQ(q->FieldGet("id").asInt(), 3);
  q->GoBottom();
  EXPECT_EQ(q->FieldGet("NAME").asString().substr(0, 4), "Ann ");
  EXPECT_EQ(q->FieldGet("born").asDate(), Date::fromYMD(2010, 5, 17));
  EXPECT_EQ(q->FieldGet("amount").asNumber().text(), "12345678901234567890.1234567890");
  EXPECT_EQ(q->Skip(), 0);
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->Seek("bob", "name"), 2);

  q->GoBottom();
  q->send("_age", 40);
  q->FieldPut("name", "O'Ann");
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(text("SELECT CONCAT(name, age, amount) FROM people WHERE id = 1"),
            "O'Ann4012345678901234567890.1234567890");

  RowPtr blank = q->GetBlankRow();
  ASSERT_TRUE(blank);
  blank->send("_name", "Dee");
  blank->send("_age", 70);
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(q->RecCount(), 4);
  EXPECT_EQ(text("SELECT name FROM people WHERE age = 70"), "Dee");

  q->GoTop();
  EXPECT_EQ(q->FieldGet("name").asString().substr(0, 3), "Dee");
  EXPECT_TRUE(q->Delete());
  EXPECT_EQ(q->RecCount(), 3);

  ErrorPtr err = guarded([&] { q->send("nosuch"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), 1004);
  EXPECT_TRUE(errors.empty());
  q->End();
}

TEST_F(QueryEmbedded, Pages) {
  std::string values;
  for (int i = 0; i < 247; ++i) values += (i ? ",('p')" : "('p')");
  ASSERT_TRUE(srv->SqlQuery("INSERT INTO people (name) VALUES " + values));
  QueryPtr q = srv->Query("SELECT id FROM people ORDER BY id");
  q->SetPages(100);
  EXPECT_EQ(q->nMaxPages.asInt(), 3);
  q->LastPage();
  EXPECT_EQ(q->nCurrentLimit.asInt(), 150);
  EXPECT_EQ(q->FieldGet("id").asInt(), 151);
  q->PrevPage();
  EXPECT_EQ(q->FieldGet("id").asInt(), 51);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace veltro
