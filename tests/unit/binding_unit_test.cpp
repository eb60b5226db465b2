// The binding without a server: argument rules, handle 0, escaping, file reading,
// column descriptions and the seek comparison.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "test_env.h"
#include "veltro/binding.h"

namespace veltro {
namespace {

using namespace std::string_literals;

using testing::closedPort;

std::string writeFile(const std::string& name, const std::string& bytes) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(BindingUnit, HandleZeroAnswersWithoutAConnection) {
  EXPECT_EQ(MYSQLPING(0).asInt(), 1);
  EXPECT_EQ(MYSQLCOMMIT(0).asInt(), 1);
  EXPECT_EQ(MYSQLROLLBACK(Value()).asInt(), 1);
  EXPECT_NE(MYSQLQUERY(0, "SELECT 1", 8).asInt(), 0);
  EXPECT_NE(MYSQLSELECTDB(0, "x").asInt(), 0);
  EXPECT_EQ(MYSQLSTORERESULT(0).asInt(), 0);
  EXPECT_EQ(MYSQLFIELDCOUNT(0).asInt(), 0);
  EXPECT_EQ(MYSQLNUMROWS(0).asInt(), 0);
  EXPECT_TRUE(MYSQLDATASEEK(0, 3).isNil());
  EXPECT_TRUE(MYSQLFREERESULT(0).isNil());
  EXPECT_TRUE(MYSQLCLOSE(0).isNil());
  EXPECT_EQ(MYSQLRESULTSTRUCTURE(0, true).len(), 0u);
  EXPECT_EQ(MYSQLLISTFIELDS(0, "t").asInt(), 0);
  EXPECT_TRUE(MYSQLLISTDBS(0).isArray());
  EXPECT_EQ(MYSQLLISTDBS(0).len(), 0u);
  EXPECT_EQ(MYSQLLISTTBLS(0, "%").len(), 0u);
  EXPECT_EQ(MYSEEK(0, 1, "x").asInt(), 0);

  // One argument: no result, no columns. Two: that many nils, a nil count being 0.
  EXPECT_EQ(MYSQLFETCHROW(0).len(), 0u);
  Value row = MYSQLFETCHROW(0, 3);
  ASSERT_EQ(row.len(), 3u);
  for (std::size_t i = 1; i <= 3; ++i) EXPECT_TRUE(row.at(i).isNil());
  EXPECT_EQ(MYSQLFETCHROW(0, Value()).len(), 0u);
  EXPECT_EQ(MYSQLFETCHROW(0, 2.9).len(), 2u);
}

TEST(BindingUnit, ConnectFailureKeepsTheHandleAndItsError) {
  Value h = MYSQLCONNECT("127.0.0.1", "nobody", "nothing", static_cast<int>(closedPort()));
  ASSERT_GT(h.asInt(), 0);
  const auto number = MYSQLGETERRNO(h).asInt();
  EXPECT_TRUE(number == 2002 || number == 2003) << number;
  EXPECT_FALSE(MYSQLERROR(h).asString().empty());
  EXPECT_NE(MYSQLPING(h).asInt(), 0);

  // Closed, the number reads as none: no crash, and the answers of handle 0.
  Value other = MYSQLCONNECT("127.0.0.1", "nobody", "nothing", static_cast<int>(closedPort()));
  MYSQLCLOSE(h);
  EXPECT_FALSE(db::isConnection(h.asInt()));
  EXPECT_EQ(MYSQLPING(h).asInt(), 1);
  EXPECT_EQ(MYSQLGETERRNO(h).asInt(), MYSQLGETERRNO(0).asInt());
  EXPECT_EQ(MYSQLQUERY(h, "SELECT 1", 8).asInt(), 1);
  MYSQLCLOSE(h);  // a second close does nothing
  EXPECT_TRUE(db::isConnection(other.asInt()));
  EXPECT_NE(other.asInt(), h.asInt());
  MYSQLCLOSE(other);

  // A handle number that was never handed out, or one of a result, is none as well.
  EXPECT_FALSE(db::isConnection(123456789));
  EXPECT_FALSE(db::isConnection(-5));
  EXPECT_EQ(MYSQLPING(0x7FFFFFFF).asInt(), 1);
}

TEST(BindingUnit, EscapingWithoutAConnection) {
  EXPECT_EQ(VAL2ESCAPE("O'Brien").asString(), "O\\'Brien");
  EXPECT_EQ(VAL2ESCAPE("a\"b\\c\nd").asString(), "a\\\"b\\\\c\\nd");
  EXPECT_EQ(VAL2ESCAPE("x\0y"s).asString(), "x\\0y");
  EXPECT_TRUE(VAL2ESCAPE("").isString());
  EXPECT_EQ(VAL2ESCAPE("").asString(), "");
  EXPECT_EQ(VAL2ESCAPE(42).asString(), "");
  EXPECT_EQ(VAL2ESCAPE(Value()).asString(), "");
  EXPECT_EQ(MYSQLESCAPE("it's").asString(), VAL2ESCAPE("it's").asString());
  EXPECT_EQ(MYSQLESCAPE("it's", 0).asString(), "it\\'s");
  EXPECT_EQ(MYSQLESCAPE("it's", "not a handle").asString(), "it\\'s");
  std::string out = "'";
  db::escapeAppend(out, "a'b");
  EXPECT_EQ(out, "'a\\'b");
}

TEST(BindingUnit, ArgumentRulesOfNumbers) {
  EXPECT_EQ(MYAND(515, 512).asInt(), 512);
  EXPECT_EQ(MYAND(3, 512).asInt(), 0);
  EXPECT_EQ(MYAND(Value(), 512).asInt(), 0);
  EXPECT_EQ(MYAND("515", 512).asInt(), 0);
  EXPECT_EQ(MYAND(515.9, 3.7).asInt(), 3);  // decimals truncated
  EXPECT_EQ(MYAND(-1, 7).asInt(), 7);
  EXPECT_EQ(MYAND(Value(4294967295LL), 7).asInt(), 7);  // taken as signed 32-bit: -1
}

TEST(BindingUnit, ReadFileWhole) {
  EXPECT_EQ(Q_READFILE(::testing::TempDir() + "no-such-file.txt").asString(), "");
  EXPECT_EQ(Q_READFILE("").asString(), "");
  EXPECT_EQ(Q_READFILE(Value()).asString(), "");
  EXPECT_TRUE(Q_READFILE(7).isString());
  EXPECT_EQ(Q_READFILE(writeFile("veltro-empty.txt", "")).asString(), "");
  const std::string bytes = "line 1\r\nline 2\r\n\0tail\n"s;
  Value text = Q_READFILE(writeFile("veltro-crlf.txt", bytes));
  EXPECT_EQ(text.asString(), bytes);
  EXPECT_EQ(text.len(), bytes.size());
}

TEST(BindingUnit, ColumnDescription) {
  db::FieldInfo f;
  f.name = "CustName";
  f.table = "Sales_2024";
  f.type = 253;
  f.length = 120;
  f.maxLength = 17;
  f.flags = 1 | 2 | 512;
  f.decimals = 0;
  Value d = columnDescription(f, false);
  ASSERT_EQ(d.len(), 9u);
  EXPECT_EQ(d.at(1).asString(), "custname");
  EXPECT_EQ(d.at(2).asString(), "sales_2024");
  EXPECT_TRUE(d.at(3).isString());
  EXPECT_EQ(d.at(3).asString(), "");
  EXPECT_EQ(d.at(4).asInt(), 253);
  EXPECT_EQ(d.at(5).asInt(), 120);
  EXPECT_EQ(d.at(6).asInt(), 17);
  EXPECT_EQ(MYAND(d.at(7), 512).asInt(), 512);
  EXPECT_EQ(MYAND(d.at(7), 8).asInt(), 0);
  EXPECT_EQ(d.at(8).asInt(), 0);
  EXPECT_EQ(d.at(9).asString(), "C");
  EXPECT_EQ(columnDescription(f, true).at(2).asString(), "Sales_2024");
  EXPECT_EQ(columnDescription(f, true).at(1).asString(), "custname");
  f.name = "\xC3\x89T\xC3\x89";  // only A to Z are folded
  EXPECT_EQ(columnDescription(f, false).at(1).asString(), "\xC3\x89t\xC3\x89");
}

TEST(BindingUnit, TypeLetters) {
  const std::pair<int, char> expected[] = {
      {0, 'N'},   {1, 'L'},   {2, 'N'},   {3, 'N'},   {4, 'N'},   {5, 'N'},   {6, 'U'},
      {7, 'T'},   {8, 'N'},   {9, 'N'},   {10, 'D'},  {11, 'C'},  {12, 'C'},  {13, 'N'},
      {14, 'U'},  {15, 'U'},  {16, 'N'},  {246, 'N'}, {247, 'U'}, {248, 'U'}, {249, 'U'},
      {250, 'M'}, {251, 'M'}, {252, 'M'}, {253, 'C'}, {254, 'C'}, {255, 'U'}, {17, 'U'},
      {245, 'U'}, {-1, 'U'}};
  for (auto [type, letter] : expected) EXPECT_EQ(db::typeLetter(type, 8), letter) << type;
  // BIT(1) is a flag, a wider BIT a number; the length of other types changes nothing.
  EXPECT_EQ(db::typeLetter(16, 1), 'L');
  EXPECT_EQ(db::typeLetter(16, 2), 'N');
  EXPECT_EQ(db::typeLetter(16, 64), 'N');
  EXPECT_EQ(db::typeLetter(1, 1), 'L');
  EXPECT_EQ(db::typeLetter(3, 1), 'N');
}

TEST(BindingUnit, SeekComparison) {
  // Soft: the value begins with the text, without regard to ASCII case.
  EXPECT_TRUE(db::seekMatches("Smith", "smith", true));
  EXPECT_TRUE(db::seekMatches("Smithers", "smith", true));
  EXPECT_FALSE(db::seekMatches("Smi", "smith", true));
  EXPECT_TRUE(db::seekMatches("Smith", "", true));
  // Exact: the text begins with the whole value.
  EXPECT_TRUE(db::seekMatches("Smith", "SMITH", false));
  EXPECT_TRUE(db::seekMatches("Smith", "smithson", false));
  EXPECT_FALSE(db::seekMatches("Smithers", "smith", false));
  EXPECT_FALSE(db::seekMatches("Smyth", "smith", false));
  // Empty values never match, whatever the text.
  EXPECT_FALSE(db::seekMatches("", "", true));
  EXPECT_FALSE(db::seekMatches("", "", false));
  EXPECT_FALSE(db::seekMatches("", "x", true));
  // Only a to z fold: other bytes compare as they are.
  EXPECT_FALSE(db::seekMatches("\xC3\xA9", "\xC3\x89", false));
  EXPECT_FALSE(db::seekMatches("[", "{", false));
  // An equal zero byte ends the comparison as a match.
  EXPECT_TRUE(db::seekMatches("ab\0x"s, "AB\0y"s, false));
  EXPECT_TRUE(db::seekMatches("ab\0x"s, "AB", false));  // the text ends in its terminator
  EXPECT_FALSE(db::seekMatches("abc", "AB", false));
}

}  // namespace
}  // namespace veltro
