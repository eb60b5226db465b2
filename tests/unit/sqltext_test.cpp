// SQL literals, dates, name lists, structure checks, settings and builders.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "veltro/sqltext.h"
#include "veltro/value.h"

namespace veltro {
namespace {

// Sets the case-sensitive names setting for one test and puts the old value back.
class CaseSetting {
 public:
  explicit CaseSetting(bool on) : before_(Q_SETCASESENSITIVE(Value(on))) {}
  ~CaseSetting() { Q_SETCASESENSITIVE(Value(before_)); }

 private:
  bool before_;
};

const Value kNil;

TEST(ClipValue, NumbersAndEmptiness) {
  EXPECT_EQ(CLIPVALUE2SQL(0), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL(0, kNil, kNil, true), "0");
  EXPECT_EQ(CLIPVALUE2SQL(-3), "-3");
  EXPECT_EQ(CLIPVALUE2SQL(5, kNil, false), "5");  // numbers are never quoted
  EXPECT_EQ(CLIPVALUE2SQL(Value::number(2.5, 2)), "2.50");
  EXPECT_EQ(CLIPVALUE2SQL(7, "I"), "7");
  EXPECT_EQ(CLIPVALUE2SQL(0, "I"), "NULL");

  EXPECT_EQ(CLIPVALUE2SQL(""), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL("   "), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL(" \t\r\n"), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL("", kNil, kNil, true), "''");
  EXPECT_EQ(CLIPVALUE2SQL("   ", kNil, kNil, true), "''");
}

TEST(ClipValue, TextsTrimmedOnlyCodeBEscapes) {
  EXPECT_EQ(CLIPVALUE2SQL("  abc  "), "'abc'");
  EXPECT_EQ(CLIPVALUE2SQL("  abc  ", kNil, false), "abc");
  EXPECT_EQ(CLIPVALUE2SQL("\r\n\tabc\t "), "'abc\t'");  // a trailing tab stays
  EXPECT_EQ(CLIPVALUE2SQL("O'Brien"), "'O'Brien'");
  EXPECT_EQ(CLIPVALUE2SQL("O'Brien", "C"), "'O'Brien'");

  EXPECT_EQ(CLIPVALUE2SQL("O'Brien", "B"), "'O\\'Brien'");
  EXPECT_EQ(CLIPVALUE2SQL(" a\\b ", "B"), "' a\\\\b '");  // escaped, not trimmed
  EXPECT_EQ(CLIPVALUE2SQL("O'Brien", "B", false), "O\\'Brien");
  EXPECT_EQ(CLIPVALUE2SQL("   ", "B"), "''");
  EXPECT_EQ(CLIPVALUE2SQL("   ", "B", kNil, true), "''");

  EXPECT_EQ(CLIPVALUE2SQL("", "M"), "''");
  EXPECT_EQ(CLIPVALUE2SQL(Value::memo("")), "''");
  EXPECT_EQ(CLIPVALUE2SQL(Value::memo("  note  ")), "'note'");
  EXPECT_EQ(CLIPVALUE2SQL("", "M", false), "");
}

TEST(ClipValue, DatesAndLogicals) {
  const Date day = Date::fromYMD(2010, 7, 20);
  EXPECT_EQ(CLIPVALUE2SQL(day), "'2010-07-20'");
  EXPECT_EQ(CLIPVALUE2SQL(day, "D", false), "2010-07-20");
  EXPECT_EQ(CLIPVALUE2SQL(Date{}), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL(Date{}, kNil, kNil, true), "'    -  -  '");

  EXPECT_EQ(CLIPVALUE2SQL(false), "0");
  EXPECT_EQ(CLIPVALUE2SQL(false, kNil, kNil, true), "0");
  EXPECT_EQ(CLIPVALUE2SQL(true), "1");
  EXPECT_EQ(CLIPVALUE2SQL(true, "L", true), "1");  // never quoted
}

TEST(ClipValue, OtherCodes) {
  EXPECT_EQ(CLIPVALUE2SQL(kNil), "''");
  EXPECT_EQ(CLIPVALUE2SQL(kNil, kNil, false), "");
  EXPECT_EQ(CLIPVALUE2SQL(Value::array({1, 2})), "''");
  EXPECT_EQ(CLIPVALUE2SQL(Value::array(), kNil, false), "");
  EXPECT_EQ(CLIPVALUE2SQL(Value::table()), "''");

  EXPECT_EQ(CLIPVALUE2SQL(-1, "T"), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL(0, "T"), "0");
  EXPECT_EQ(CLIPVALUE2SQL(1279639859, "T"), "1279639859");
  // Timestamp columns held as text.
  EXPECT_EQ(CLIPVALUE2SQL("  2010-07-20 15:30:59 ", "T"), "'2010-07-20 15:30:59'");
  EXPECT_EQ(CLIPVALUE2SQL("2010-07-20 15:30:59", "T", false), "2010-07-20 15:30:59");
  EXPECT_EQ(CLIPVALUE2SQL("", "T"), "NULL");
  // Timestamps with their milliseconds when they have some.
  const std::int32_t day = Date::fromYMD(2010, 7, 20).day;
  EXPECT_EQ(CLIPVALUE2SQL(Timestamp{day, 1234}), "'2010-07-20 00:00:01.234'");
  EXPECT_EQ(CLIPVALUE2SQL(Timestamp{day, 55859007}, kNil, false), "2010-07-20 15:30:59.007");
  EXPECT_EQ(CLIPVALUE2SQL(Timestamp{day, 55859000}), "'2010-07-20 15:30:59'");
  EXPECT_EQ(sqlLiteral(Timestamp{day, 999}, 0), "'2010-07-20 00:00:00.999'");
  EXPECT_EQ(CLIPVALUE2SQL(Timestamp{}), "NULL");
  EXPECT_EQ(CLIPVALUE2SQL(Timestamp{}, kNil, kNil, true), "'0000-00-00 00:00:00'");
  EXPECT_EQ(Value(Timestamp{day, 1234}).toString(), Value(Date{day}).toString() + " 00:00:01.234");

  // Codes are compared exactly.
  EXPECT_EQ(CLIPVALUE2SQL(5, "n"), "''");
  EXPECT_EQ(CLIPVALUE2SQL("abc", "c", false), "");
  EXPECT_EQ(CLIPVALUE2SQL(5, "NN"), "''");
  EXPECT_EQ(CLIPVALUE2SQL(5, "X"), "''");
  EXPECT_EQ(CLIPVALUE2SQL(5, "U"), "''");
}

TEST(ClipValue, AppendFormAppends) {
  std::string out = "x = ";
  appendSqlLiteral(out, Value("  a "), 'C', true, false);
  out += ", y = ";
  appendSqlLiteral(out, Value(0), 'N', true, false);
  out += ", z = ";
  appendSqlLiteral(out, Value(12), 'N', true, true);
  EXPECT_EQ(out, "x = 'a', y = NULL, z = 12");
}

TEST(SqlDate, ToDate) {
  EXPECT_EQ(SQLDATE2CLIP("2010-07-20"), Date::fromYMD(2010, 7, 20));
  EXPECT_FALSE(SQLDATE2CLIP("2010-07-20").empty());
  EXPECT_TRUE(SQLDATE2CLIP("").empty());
  EXPECT_TRUE(SQLDATE2CLIP("0000-00-00").empty());
  EXPECT_TRUE(SQLDATE2CLIP("2010-07-20 15:30:59").empty());  // last two are the seconds
  EXPECT_TRUE(SQLDATE2CLIP("2010-02-30").empty());
  EXPECT_TRUE(SQLDATE2CLIP("2010-xx-20").empty());
  EXPECT_TRUE(SQLDATE2CLIP("20").empty());
  EXPECT_TRUE(SQLDATE2CLIP(20100720).empty());
}

TEST(NameLists, JoinAndSplit) {
  const Value names = Value::array({" Name", "CITY "});
  {
    CaseSetting off(false);
    EXPECT_EQ(SQLSTRINGFROMARRAY(names), "name, city");
  }
  {
    CaseSetting on(true);
    EXPECT_EQ(SQLSTRINGFROMARRAY(names), "Name, CITY");
  }
  EXPECT_EQ(SQLSTRINGFROMARRAY(Value::array()), "");
  EXPECT_EQ(SQLSTRINGFROMARRAY(Value::array({"one"})), "one");

  const Value pieces = ARRAYFROMSQLSTRING("a, b,,c");
  ASSERT_EQ(pieces.len(), 4u);
  EXPECT_EQ(pieces.at(1), Value("a"));
  EXPECT_EQ(pieces.at(2), Value(" b"));
  EXPECT_EQ(pieces.at(3), Value(""));
  EXPECT_EQ(pieces.at(4), Value("c"));

  const Value whole = ARRAYFROMSQLSTRING(" abc ");
  ASSERT_EQ(whole.len(), 1u);
  EXPECT_EQ(whole.at(1), Value(" abc "));
  const Value empty = ARRAYFROMSQLSTRING("");
  ASSERT_EQ(empty.len(), 1u);
  EXPECT_EQ(empty.at(1), Value(""));
  EXPECT_EQ(ARRAYFROMSQLSTRING(",").len(), 2u);
}

TEST(Structure, VerifyAndNotNull) {
  const Value sound = Value::array({"id", "N", 10, 0, true, kNil});
  const Value nilSwitch = Value::array({"name", "C", 20, 0, kNil, ""});
  const Value five = Value::array({"city", "C", 20, 0, false});
  const Value textSwitch = Value::array({"x", "C", 1, 0, "Y", kNil});

  EXPECT_TRUE(VERIFYSTRUCTURE(Value::array()).isNil());
  EXPECT_TRUE(VERIFYSTRUCTURE(Value::array({sound, nilSwitch})).isNil());
  EXPECT_EQ(VERIFYSTRUCTURE(Value::array({sound, five})), Value(9001));
  EXPECT_EQ(VERIFYSTRUCTURE(Value::array({textSwitch, five})), Value(9002));
  EXPECT_EQ(VERIFYSTRUCTURE(Value::array({sound, textSwitch, five})), Value(9002));

  CaseSetting off(false);
  const Value idColumn = Value::array({"ID ", "N", 10, 0, false, kNil});
  EXPECT_EQ(FNOTNULL(idColumn, "id", ""), " NOT NULL ");
  EXPECT_EQ(FNOTNULL(idColumn, "", "id"), " NOT NULL ");
  EXPECT_EQ(FNOTNULL(idColumn, "id,name", ""), "");  // a key of several columns matches none
  EXPECT_EQ(FNOTNULL(idColumn, "ID", ""), "");       // callers pass normalised names
  EXPECT_EQ(FNOTNULL(sound, "", ""), " NOT NULL ");
  EXPECT_EQ(FNOTNULL(nilSwitch, "id", "id"), "");
}

TEST(Settings, CallFormsAndLowerCase) {
  // Both settings are at their initial values here: every test puts them back.
  EXPECT_FALSE(Q_SETCASESENSITIVE());
  EXPECT_FALSE(Q_SETCASESENSITIVE());
  EXPECT_FALSE(Q_SETCASESENSITIVE(true));
  EXPECT_TRUE(Q_SETCASESENSITIVE());
  EXPECT_TRUE(caseSensitiveNames());
  EXPECT_TRUE(Q_SETCASESENSITIVE(kNil));  // nil changes nothing
  EXPECT_TRUE(Q_SETCASESENSITIVE(0));     // nor does a non-logical
  EXPECT_TRUE(Q_SETCASESENSITIVE("N"));
  EXPECT_EQ(Q_LOWERCASE(" \t\r\nMyTable  "), "MyTable");
  EXPECT_TRUE(Q_SETCASESENSITIVE(false));
  EXPECT_FALSE(caseSensitiveNames());
  EXPECT_EQ(Q_LOWERCASE(" \t\r\nMyTable  "), "mytable");
  EXPECT_EQ(Q_LOWERCASE("MyTable\t"), "mytable\t");

  EXPECT_TRUE(Q_SETPADRIGHT());
  EXPECT_TRUE(Q_SETPADRIGHT(false));
  EXPECT_FALSE(padRight());
  EXPECT_FALSE(Q_SETPADRIGHT(kNil));
  EXPECT_FALSE(Q_SETPADRIGHT(true));
  EXPECT_TRUE(Q_SETPADRIGHT());
}

TEST(BuildQuery, ClausesInOrder) {
  CaseSetting off(false);
  EXPECT_EQ(BUILDQUERY(), "SELECT *");
  EXPECT_EQ(BUILDQUERY(kNil, Value::array({" Clientes "})), "SELECT * FROM clientes");
  EXPECT_EQ(BUILDQUERY(Value::array({"Name", "City"}), Value::array({"Clientes"}), "edad > 30", kNil, kNil,
                       "name", "10"),
            "SELECT name, city FROM clientes WHERE edad > 30 ORDER BY name LIMIT 10");
  EXPECT_EQ(BUILDQUERY(Value::array({" "}), Value::array({"t"})), "SELECT * FROM t");
  EXPECT_EQ(BUILDQUERY(kNil, Value::array({"t", "u"})), "SELECT * FROM t, u");

  EXPECT_EQ(BUILDQUERY(kNil, Value::array({"t"}), "   "), "SELECT * FROM t");
  EXPECT_EQ(BUILDQUERY(kNil, Value::array({"t"}), "  id = 1 "), "SELECT * FROM t WHERE   id = 1 ");
  EXPECT_EQ(BUILDQUERY(kNil, Value::array({"t"}), kNil, kNil, kNil, kNil, kNil, true), "SELECT * FROM t");
  EXPECT_EQ(BUILDQUERY(kNil, Value::array({"t"}), kNil, " ", kNil, kNil, kNil, true), "SELECT * FROM t");
  EXPECT_EQ(BUILDQUERY(Value::array({"City", "COUNT(*)"}), Value::array({"t"}), "Age > 1", "city", "COUNT(*) > 2",
                       "city DESC", "5, 10", true),
            "SELECT city, count(*) FROM t WHERE Age > 1 GROUP BY city WITH ROLLUP HAVING COUNT(*) > 2"
            " ORDER BY city DESC LIMIT 5, 10");
  EXPECT_EQ(BUILDQUERY(kNil, kNil, kNil, kNil, kNil, kNil, "1"), "SELECT * LIMIT 1");
}

TEST(BuildQuery, CaseSensitiveNamesKeepCase) {
  CaseSetting on(true);
  EXPECT_EQ(BUILDQUERY(Value::array({" Name "}), Value::array({"Clientes  "}), "Name = 'X'"),
            "SELECT Name FROM Clientes WHERE Name = 'X'");
}

TEST(BuildInsert, ValuesEscapedThenTrimmed) {
  CaseSetting off(false);
  EXPECT_EQ(BUILDINSERT("Clientes", Value::array({"nombre", "edad"}), Value::array({"Ana", 30})),
            "INSERT INTO clientes ( nombre,edad) VALUES ( 'Ana',30)");
  EXPECT_EQ(BUILDINSERT("t", Value::array({"a"}), Value::array({"O'Brien"})),
            "INSERT INTO t ( a) VALUES ( 'O\\'Brien')");
  EXPECT_EQ(BUILDINSERT("t", Value::array({"a", "b", "c", "d"}), Value::array({"   ", 0, false, true})),
            "INSERT INTO t ( a,b,c,d) VALUES ( NULL,NULL,0,1)");
  EXPECT_EQ(BUILDINSERT("Clientes", Value::array(), Value::array()), "INSERT INTO clientes ( ) VALUES ( )");
  // Column names go in exactly as given; a missing value reads as nil.
  EXPECT_EQ(BUILDINSERT("t", Value::array({" Nombre", "x"}), Value::array({"  Ana  "})),
            "INSERT INTO t (  Nombre,x) VALUES ( 'Ana','')");
  // The escape comes first: an escaped line feed is no longer trimmed away.
  EXPECT_EQ(BUILDINSERT("t", Value::array({"a"}), Value::array({"\nAna "})), "INSERT INTO t ( a) VALUES ( '\\nAna')");
  EXPECT_EQ(BUILDINSERT("t", Value::array({"d"}), Value::array({Date::fromYMD(2010, 7, 20)})),
            "INSERT INTO t ( d) VALUES ( '2010-07-20')");
}

TEST(BuildInsert, LongTextEscapedAlike) {
  std::string text(70000, 'x');
  text[10] = '\'';
  std::string expected(70000, 'x');
  expected.replace(10, 1, "\\'");
  EXPECT_EQ(BUILDINSERT("t", Value::array({"a"}), Value::array({text})), "INSERT INTO t ( a) VALUES ( '" + expected + "')");
}

TEST(Names, CallersNamesAreIdentifiers) {
  struct Case {
    const char* text;
    int parts;
    bool ok;
  };
  const Case cases[] = {
      {"clientes", 2, true},         {"shop.clientes", 2, true},     {"shop.clientes.id", 2, false},
      {"shop.clientes.id", 3, true}, {"`my table`", 2, true},         {"`a``b`.`c`", 2, true},
      {"$x_1", 1, true},             {"\xc3\xa9t\xc3\xa9", 1, true}, {"", 1, false},
      {"``", 1, false},              {"`a`b`", 1, false},             {"`unclosed", 1, false},
      {"a b", 1, false},             {"a;b", 1, false},               {"a'b", 1, false},
      {"a-b", 1, false},             {"a.", 2, false},                {".a", 2, false},
      {"*", 1, false},               {"a/*x*/", 1, false},            {"a#", 1, false},
      {"x ON t (id) ; drop", 1, false},
  };
  for (const Case& c : cases) EXPECT_EQ(isSqlName(c.text, c.parts), c.ok) << c.text << " " << c.parts;
}

TEST(Names, NamesFromTheServerQuotedWhenNeeded) {
  const std::pair<const char*, const char*> cases[] = {
      {"clientes", "clientes"},     {"Name_2", "Name_2"},   {"order", "`order`"},   {"Key", "`Key`"},
      {"my table", "`my table`"},   {"a`b", "`a``b`"},      {"1e5", "`1e5`"},       {"", "``"},
      {"victim drop column secret,", "`victim drop column secret,`"}, {"select", "`select`"},
  };
  for (auto [name, quoted] : cases) EXPECT_EQ(quotedName(name), quoted) << name;
}

// Without a connection the writer escapes by the backslash rules; what it
// writes otherwise (trimming, NULL for empty values, kinds) is CLIPVALUE2SQL's.
TEST(Literal, WriterFollowsTheLiteralRules) {
  const std::pair<Value, const char*> cases[] = {
      {Value("  it's  "), "'it\\'s'"},   {Value("   "), "NULL"},     {Value::memo(""), "''"},
      {Value(0), "NULL"},                 {Value(-3), "-3"},         {Value(false), "0"},
      {Value(true), "1"},                 {Value(), "''"},           {Value("a\\b\n"), "'a\\\\b\\n'"},
      {Value("\r\nx"), "'\\r\\nx'"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(sqlLiteral(value, 0), expected) << value.asString();
  EXPECT_EQ(sqlLiteral(Value("   "), 0, '\0', true), "''");
  EXPECT_EQ(sqlLiteral(Value("x'"), 0, 'B'), "'x\\''");
  EXPECT_EQ(sqlLiteral(Value(5), 0, 'C'), "5");  // another kind is written by its own letter
}

// Found by fuzzing: numbers beyond the range of doubles.
TEST(ClipValue, NumbersBeyondDoublesNeverReachSql) {
  Number n;
  // A numeral beyond the range of doubles is no number (its text was "inf").
  EXPECT_FALSE(Number::parse("12354666612145678e90121", n));
  EXPECT_FALSE(Number::parse("-1e400", n));
  EXPECT_FALSE(Number::parse("1" + std::string(400, '0'), n));
  ASSERT_TRUE(Number::parse("1e-400", n));  // below the range it is zero
  EXPECT_TRUE(n.isZero());
  ASSERT_TRUE(Number::parse("1e308", n));  // the largest ones stay: the double's 309 digits
  EXPECT_EQ(n.text().size(), 309u);
  EXPECT_EQ(Number::leading("7e400").text(), "7");

  // An infinite or undefined double from a caller is written as NULL, never
  // as a word that the server would read as a column name.
  const double inf = std::numeric_limits<double>::infinity();
  for (const Value& v : {Value(inf), Value(-inf), Value(std::nan("")), Value::number(inf, 2)}) {
    EXPECT_EQ(CLIPVALUE2SQL(v), "NULL");
    EXPECT_EQ(CLIPVALUE2SQL(v, "I", false, true), "NULL");
    EXPECT_EQ(CLIPVALUE2SQL(v, "T"), "NULL");
  }
  EXPECT_EQ(CLIPVALUE2SQL(Value(1e308), "N"), n.text());
}

}  // namespace
}  // namespace veltro
