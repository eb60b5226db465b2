// The query object against a real server: parsing, cursor, seek, pages, typed
// fields, edits, saving and deleting, and column messages by name.
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
namespace {

std::string item(const Value& array, std::size_t n) { return array.at(n).asString(); }

class Query : public QueryFixture {
 protected:
  // Parses one statement on a fresh, unloaded query.
  QueryPtr parsed(const std::string& sql) {
    QueryPtr q = TQuillonQry::New(Value(), srv);
    q->BuildDatas(sql);
    return q;
  }
  // id, name CHAR(10), age, married TINYINT, born DATE, notes TEXT; three rows.
  void people() {
    table("qt_people",
          "id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, name CHAR(10), age INT, married TINYINT, born DATE, "
          "notes TEXT NULL", "CHARACTER SET latin1");
    exec("INSERT INTO qt_people (name, age, married, born, notes) VALUES "
         "('Ann', 39, 1, '2010-05-17', 'first'), ('Bob', 25, 0, NULL, NULL), ('Cid', 61, 5, '1999-12-31', '')");
  }
};

TEST_F(Query, ParserClauses) {
  auto q = parsed("SELECT id, name FROM clientes WHERE age > 30 ORDER BY name DESC LIMIT 20, 10");
  ASSERT_EQ(q->aColumns.len(), 2u);
  EXPECT_EQ(item(q->aColumns, 1), "id");
  EXPECT_EQ(item(q->aColumns, 2), " name");
  ASSERT_EQ(q->aTables.len(), 1u);
  EXPECT_EQ(item(q->aTables, 1), "clientes");
  EXPECT_EQ(q->cWhere.asString(), "age > 30");
  EXPECT_EQ(q->cOrder.asString(), "name DESC");
  EXPECT_EQ(q->cLimit.asString(), "20, 10");
  EXPECT_EQ(q->cGroup.asString(), "");
  EXPECT_EQ(q->cHaving.asString(), "");

  q = parsed("SELECT * FROM clientes LIMIT 100");
  EXPECT_EQ(item(q->aColumns, 1), "*");
  EXPECT_EQ(q->cLimit.asString(), "100");
  EXPECT_EQ(q->cOrder.asString(), "");

  EXPECT_EQ(parsed("SELECT * FROM t LIMIT 0, 50")->cLimit.asString(), "");
  EXPECT_EQ(parsed("SELECT * FROM t LIMIT 1")->cLimit.asString(), "");
  EXPECT_EQ(parsed("SELECT * FROM t LIMIT 10")->cLimit.asString(), "10");

  q = parsed("select a from T where x = 1 group by a having count(*) > 1 order by a asc");
  EXPECT_EQ(item(q->aColumns, 1), "a");
  EXPECT_EQ(item(q->aTables, 1), "T");
  EXPECT_EQ(q->cWhere.asString(), "x = 1");
  EXPECT_EQ(q->cGroup.asString(), "a");
  EXPECT_EQ(q->cHaving.asString(), "count(*) > 1");
  EXPECT_EQ(q->cOrder.asString(), "a ASC");

  q = parsed("SELECT a FROM t1, t2");
  EXPECT_EQ(q->aTables.len(), 2u);
  EXPECT_EQ(item(q->aTables, 2), " t2");
  EXPECT_FALSE(q->IsSingleTable());

  EXPECT_EQ(parsed("SELECT a FROM t WHERE (b=1)")->cWhere.asString(), "(b=1)");
  // A subquery's keywords open no clause, however it is spaced: the WHERE
  // keeps it whole, so that a rebuild runs the same filter.
  q = parsed("SELECT a FROM t WHERE x IN (SELECT b FROM u)");
  EXPECT_EQ(q->cWhere.asString(), "x IN (SELECT b FROM u)");
  ASSERT_EQ(q->aTables.len(), 1u);
  EXPECT_EQ(item(q->aTables, 1), "t");
  q = parsed("SELECT a FROM t WHERE x IN ( SELECT b FROM u )");
  EXPECT_EQ(item(q->aColumns, 1), "a");
  EXPECT_EQ(q->cWhere.asString(), "x IN ( SELECT b FROM u )");

  q = parsed("SHOW TABLES");
  EXPECT_EQ(q->aColumns.len(), 0u);
  EXPECT_EQ(q->aTables.len(), 0u);
  EXPECT_EQ(q->cWhere.asString(), "");
  EXPECT_TRUE(q->IsCommand() == false);

  // Keywords inside quoted texts, backquoted names and comments open no
  // clause, and commas there split no list.
  struct Case {
    const char* sql;
    std::vector<std::string> columns, tables;
    const char* where;
    const char* order;
    const char* limit;
  };
  const Case cases[] = {
      {"SELECT 'x FROM canary #' AS a, id FROM t WHERE s = 'ORDER BY x' LIMIT 5",
       {"'x FROM canary #' AS a", " id"}, {"t"}, "s = 'ORDER BY x'", "", "5"},
      {"SELECT `FROM`, `a,b` FROM `WHERE t` WHERE x = \"LIMIT 9\"", {"`FROM`", " `a,b`"}, {"`WHERE t`"},
       "x = \"LIMIT 9\"", "", ""},
      {"SELECT a FROM t /* WHERE b = 1 */ WHERE c = 'it''s' ORDER BY d", {"a"}, {"t /* WHERE b = 1 */"},
       "c = 'it''s'", "d", ""},
      {"SELECT a FROM t WHERE b = 'x\\' FROM canary ' ORDER BY c", {"a"}, {"t"}, "b = 'x\\' FROM canary '", "c",
       ""},
      {"SELECT CONCAT(a, ',', b), c FROM t, u", {"CONCAT(a, ',', b)", " c"}, {"t", " u"}, "", "", ""},
      {"SELECT a FROM t -- WHERE x\nWHERE y = 1", {"a"}, {"t -- WHERE x\nWHERE y = 1"}, "", "", ""},
      {"SELECT a FROM t WHERE b = '|FROM x|' LIMIT 3", {"a"}, {"t"}, "b = '|FROM x|'", "", "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    q = parsed(c.sql);
    std::vector<std::string> columns, tables;
    for (const Value& v : q->aColumns.items()) columns.push_back(v.asString());
    for (const Value& v : q->aTables.items()) tables.push_back(v.asString());
    EXPECT_EQ(columns, c.columns);
    EXPECT_EQ(tables, c.tables);
    EXPECT_EQ(q->cWhere.asString(), c.where);
    EXPECT_EQ(q->cOrder.asString(), c.order);
    EXPECT_EQ(q->cLimit.asString(), c.limit);
  }

  // Two blanks give an empty word: the cut positions shift, as written.
  q = parsed("SELECT a FROM t ORDER  BY b");  // an empty word between the blanks
  EXPECT_EQ(q->cOrder.asString(), "b");
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, RebuildAndFilters) {
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY age DESC");
  EXPECT_EQ(q->cOrder.asString(), "age DESC");
  EXPECT_EQ(q->Refresh().asString(), "SELECT * FROM qt_people ORDER BY age DESC");
  EXPECT_EQ(q->FieldGet("name").asString().substr(0, 3), "Cid");

  q = srv->Query("SELECT * FROM qt_people LIMIT 1");
  EXPECT_EQ(q->RecCount(), 1);
  q->Refresh();
  EXPECT_EQ(q->cQuery.asString(), "SELECT * FROM qt_people");
  EXPECT_EQ(q->RecCount(), 3);

  EXPECT_EQ(q->SetWhere("age > 30").asString(), "");
  EXPECT_EQ(q->cQuery.asString(), "SELECT * FROM qt_people WHERE age > 30");
  EXPECT_EQ(q->RecCount(), 2);
  EXPECT_EQ(q->SetWhere("age > 50", false).asString(), "age > 30");
  EXPECT_EQ(q->RecCount(), 2);  // rebuilt, not reloaded
  q->SetLimit(25);
  EXPECT_EQ(q->cLimit.asString(), "25");
  EXPECT_EQ(q->RecCount(), 1);
  q->SetLimit(true);
  EXPECT_EQ(q->cLimit.asString(), "25");
  EXPECT_TRUE(q->SetNewFilter(9, "x").isNil());
  EXPECT_EQ(q->cQuery.asString(), "SELECT * FROM qt_people WHERE age > 50 LIMIT 25");

  int loads = 0;
  q->bOnLoadQuery = Callable([&](Args a) -> Value {
    EXPECT_TRUE(a.size() == 1 && a[0].asObject() == q);
    ++loads;
    return Value();
  });
  q->LoadQuery();
  EXPECT_EQ(loads, 1);

  // A clause that ends in a line comment does not comment out the clauses
  // the rebuild puts after it.
  q = srv->Query("SELECT * FROM qt_people WHERE age > 30 -- adults");
  EXPECT_EQ(q->cWhere.asString(), "age > 30 -- adults");
  q->SetOrder("age DESC");
  EXPECT_EQ(q->cQuery.asString(), "SELECT * FROM qt_people WHERE age > 30 -- adults\n ORDER BY age DESC");
  EXPECT_EQ(q->RecCount(), 2);
  EXPECT_EQ(q->FieldGet("name").asString().substr(0, 3), "Cid");
  q->SetLimit(1);
  EXPECT_EQ(q->RecCount(), 1);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, CursorRules) {
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

// Texts are padded to the column's characters, counted as characters: over
// utf8mb4 a CHAR(30) comes back 30 characters wide whatever bytes they take;
// binary columns keep their bytes; over latin1 a byte is a character.
TEST_F(Query, PaddingCountsCharacters) {
  table("qt_width", "id INT PRIMARY KEY, c CHAR(30), v VARCHAR(40), b VARBINARY(10), m TEXT",
        "CHARACTER SET utf8mb4");
  exec("INSERT INTO qt_width VALUES (1, 'Ñandú', 'año 2026 ✓', 'ab', 'memo')");
  PadSetting pad(true);
  auto chars = [](const std::string& s) {
    std::size_t n = 0;
    for (unsigned char b : s) n += (b & 0xC0) != 0x80;
    return n;
  };
  struct Case {
    const char* charset;
    std::size_t c, v, b;  // widths in characters
  };
  for (const Case& k : {Case{"utf8mb4", 30, 40, 10}, Case{"latin1", 30, 40, 10}}) {
    SCOPED_TRACE(k.charset);
    const auto& env = testing::serverEnv();
    ServerPtr s = TQuillonSrv::create();
    s->cCharset = k.charset;
    s->New(env.host, env.user, env.password, static_cast<int>(env.port), 0, env.database);
    auto q = s->Query("SELECT * FROM qt_width");
    ASSERT_EQ(q->LastRec(), 1);
    const std::string c = q->FieldGet("c").asString(), v = q->FieldGet("v").asString();
    if (std::string(k.charset) == "latin1") {
      EXPECT_EQ(c.size(), k.c);  // latin1 bytes
      EXPECT_EQ(v.size(), k.v);
    } else {
      EXPECT_EQ(chars(c), k.c) << "[" << c << "]";
      EXPECT_EQ(chars(v), k.v) << "[" << v << "]";
      EXPECT_EQ(c.substr(0, 7), "Ñandú");
      EXPECT_EQ(v.substr(0, 13), "año 2026 ✓");
    }
    EXPECT_EQ(q->FieldGet("b").asString(), std::string("ab") + std::string(8, ' '));
    EXPECT_EQ(q->FieldGet("m").asString(), "memo");
    // A value put in is padded the same way, and saved without its padding.
    const bool latin1 = std::string(k.charset) == "latin1";
    q->FieldPut("c", latin1 ? "\xFC" : "ü");
    const std::string put = q->FieldGet("c").asString();
    EXPECT_EQ(latin1 ? put.size() : chars(put), k.c);
    ASSERT_TRUE(q->Save().asBool());
    EXPECT_EQ(srv->Query("SELECT HEX(c) FROM qt_width")->FieldGet(1).asString().substr(0, 4), "C3BC");
    exec("UPDATE qt_width SET c = 'Ñandú'");
    s->End();
  }
}

TEST_F(Query, NullsByColumnTypeAndPadding) {
  people();
  exec("UPDATE qt_people SET name = NULL, age = NULL WHERE id = 2");
  {
    PadSetting pad(true);
    auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
    EXPECT_EQ(q->FieldLen("name"), 10 * 4);  // bytes of the connection's utf8mb4
    EXPECT_EQ(q->FieldType("name"), "C");
    EXPECT_EQ(q->FieldGet("name").asString(), padded("Ann", q, "name"));
    EXPECT_TRUE(q->FieldGet("married").asBool());
    EXPECT_EQ(q->FieldGet("born").asDate(), Date::fromYMD(2010, 5, 17));
    EXPECT_EQ(q->FieldGet("notes").asString(), "first");  // memo: never padded
    EXPECT_EQ(q->FieldGet("MARRIED"), q->FieldGet(4));
    EXPECT_EQ(q->FieldGet("Married"), q->FieldGet("married"));

    q->GoTo(2);
    EXPECT_EQ(q->FieldGet("name").asString(), padded("", q, "name"));
    EXPECT_TRUE(q->FieldGet("age").isNumber());
    EXPECT_EQ(q->FieldGet("age").asInt(), 0);
    EXPECT_FALSE(q->FieldGet("married").asBool());  // 0
    EXPECT_TRUE(q->FieldGet("born").isDate());
    EXPECT_TRUE(q->FieldGet("born").asDate().empty());
    EXPECT_EQ(q->FieldGet("notes").asString(), "");
    q->Refresh();  // a reload keeps the row
    q->GoTo(3);
    EXPECT_TRUE(q->FieldGet("married").asBool());  // TINYINT 5
  }
  {
    PadSetting pad(false);
    auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
    EXPECT_EQ(q->FieldGet("name").asString(), "Ann");
    q->GoTo(2);
    EXPECT_EQ(q->FieldGet("name").asString(), "");
  }
  EXPECT_TRUE(padRight());

  auto q = srv->Query("SELECT * FROM qt_people");
  EXPECT_EQ(q->FieldType(0), "U");
  EXPECT_EQ(q->FieldType(q->FCount() + 1), "U");
  // FieldKind agrees with FieldType's letter on every column, and on none.
  for (long n = 0; n <= q->FCount() + 1; ++n)
    EXPECT_EQ(std::string(1, static_cast<char>(q->FieldKind(n))), q->FieldType(n)) << "column " << n;
  EXPECT_EQ(q->FieldKind("notes"), Kind::Memo);
  EXPECT_EQ(q->FieldLen(0), 0);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(q->FieldName(0), "");
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldNumber});
  EXPECT_EQ(q->FieldPos("nosuch"), 0);
  EXPECT_EQ(q->FieldPos(" name"), 0);  // blanks around a name are not ignored
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldName, kErrFieldName}));
  EXPECT_TRUE(q->FieldGet("nosuch").isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldName, kErrFieldValue}));
  EXPECT_TRUE(q->FieldGet(99).isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldNumber, kErrFieldValue}));
}

TEST_F(Query, FieldPutKindsAndEscaping) {
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_TRUE(q->FieldPut("age", "40").isNil());
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldKind});
  EXPECT_EQ(q->FieldGet("age").asInt(), 39);
  EXPECT_TRUE(q->IsEqual("age"));
  EXPECT_TRUE(q->FieldPut("married", 1).isNil());
  EXPECT_TRUE(q->FieldPut("born", "2011-01-01").isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldKind, kErrFieldKind}));

  EXPECT_EQ(q->FieldPut("age", 40).asInt(), 40);
  EXPECT_FALSE(q->IsEqual("age"));
  EXPECT_TRUE(q->IsEqual("name"));
  EXPECT_TRUE(q->FieldPut(99, 1).isNil());
  EXPECT_TRUE(errors.empty());

  // Held trimmed but as given: the text is escaped once, by Save, for its connection.
  EXPECT_EQ(q->FieldPut("name", "  O'Bri\\n  ").asString(), "O'Bri\\n");
  EXPECT_EQ(q->FieldGet("name").asString(), padded("O'Bri\\n", q, "name"));
  EXPECT_EQ(q->FieldPut("notes", " it's ").asString(), "it's");
  EXPECT_EQ(q->FieldGet("notes").asString(), "it's");
  EXPECT_EQ(q->FieldPut("name", "a'b").asString(), "a'b");
  EXPECT_EQ(q->FieldGet("name").asString(), padded("a'b", q, "name"));
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(text("SELECT name FROM qt_people WHERE id = 1"), "a'b");
  EXPECT_EQ(text("SELECT notes FROM qt_people WHERE id = 1"), "it's");
  EXPECT_EQ(scalar("SELECT age FROM qt_people WHERE id = 1").asInt(), 40);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, UndoAndFillArray) {
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

TEST_F(Query, FieldMessagesByName) {
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_EQ(q->send("NAME").asString(), padded("Ann", q, "name"));
  EXPECT_EQ(q->send("Name"), q->send("name"));
  EXPECT_EQ(q->send("_age", 31).asInt(), 31);
  EXPECT_EQ(q->FieldGet("age").asInt(), 31);
  EXPECT_EQ(q->send("_AGE", Value()).asInt(), 31);  // assigning nil reads
  EXPECT_EQ(q->send("RecCount").asInt(), 3);        // methods win over columns
  EXPECT_EQ(q->send("_Cargo", "mine").asString(), "mine");
  EXPECT_EQ(q->Cargo.asString(), "mine");
  q->send("_age", "text");  // checked as FieldPut does
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldKind});

  ErrorPtr err = guarded([&] { q->send("_nosuch", "x"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "BASE");
  EXPECT_EQ(err->SubCode.asInt(), 1005);
  EXPECT_EQ(err->Severity.asInt(), 2);
  EXPECT_EQ(err->Description.asString(), "Message not found");
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: nosuch");

  err = guarded([&] { q->send("NoSuch"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), 1004);
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: nosuch");
  EXPECT_TRUE(errors.empty());
}

}  // namespace

// Values read back as the caller wrote them, wider BIT columns as numbers, and
// relative changes of text columns by CONCAT on a strict server.
TEST_F(Query, ValuesKeepTheirTextBitsAndRelativeTexts) {
  table("qt_mend", "id int PRIMARY KEY, name varchar(20), flags bit(12), one bit(1), memo text");
  exec("INSERT INTO qt_mend VALUES (1, 'D''Arcy', b'101000000101', b'1', 'm'), (2, 'x', b'0', b'0', NULL)");
  QueryPtr a = srv->Query("SELECT * FROM qt_mend ORDER BY id");
  EXPECT_EQ(a->FieldGet("flags").asInt(), 0xA05);
  EXPECT_TRUE(a->FieldGet("one").asBool());  // BIT(1): a flag
  EXPECT_EQ(a->FieldType("flags"), "N");
  EXPECT_EQ(a->FieldType("one"), "L");
  // A value copied from one query to another is stored once, unescaped.
  QueryPtr b = srv->Query("SELECT * FROM qt_mend WHERE id = 2");
  b->FieldPut("name", a->FieldGet("name"));
  EXPECT_EQ(std::string(trimRight(b->FieldGet("name").asString())), "D'Arcy");
  b->FieldPut("flags", a->FieldGet("flags"));
  EXPECT_EQ(b->Save(), Value(true));
  EXPECT_EQ(text("SELECT name FROM qt_mend WHERE id = 2"), "D'Arcy");
  EXPECT_EQ(scalar("SELECT flags + 0 FROM qt_mend WHERE id = 2").asInt(), 0xA05);
  // A BIT value in the whole-row condition of a table without a key finds its row.
  table("qt_bits", "b bit(8), n int");
  exec("INSERT INTO qt_bits VALUES (b'10000001', 1), (b'00000010', 2)");
  QueryPtr c = srv->Query("SELECT * FROM qt_bits ORDER BY n");
  c->FieldPut("n", 10);
  EXPECT_EQ(c->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT n FROM qt_bits WHERE b = 129").asInt(), 10);
  a->End();
  b->End();
  c->End();

  // A key of 0 finds its row (0 is an empty number, but a key column cannot be NULL).
  table("qt_zero", "id int PRIMARY KEY, n int");
  exec("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO'");
  exec("INSERT INTO qt_zero VALUES (0, 1), (1, 1)");
  QueryPtr z = srv->Query("SELECT * FROM qt_zero ORDER BY id");
  EXPECT_EQ(z->MakePrimaryKeyWhere(), "id=0");
  z->FieldPut("n", 5);
  EXPECT_EQ(z->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT n FROM qt_zero WHERE id = 0").asInt(), 5);
  EXPECT_EQ(scalar("SELECT n FROM qt_zero WHERE id = 1").asInt(), 1);
  z->End();

  exec("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
  struct Case {
    const char* column;
    Value change;
    const char* expected;
  };
  const Case cases[] = {{"name", Value("+x"), "D'Arcy+x"}, {"memo", Value::memo("'+y"), "m'+y"}, {"id", Value(10), "11"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_TRUE(srv->Update("qt_mend", Value::array({c.column}), Value::array({Value::array({c.change})}), "id = 1"));
    EXPECT_EQ(text(std::string("SELECT CONCAT(") + c.column + ") FROM qt_mend WHERE id = " +
                   (c.column[0] == 'i' ? "11" : "1")),
              c.expected);
  }
  EXPECT_TRUE(takeErrors().empty());
}
}  // namespace veltro::testing
