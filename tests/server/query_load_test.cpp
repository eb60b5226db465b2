// The query object reading its statement against a real server: the clause
// parser, rebuilt statements and filters.
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

}  // namespace veltro::testing
