#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>

#include "veltro/append.h"
#include "veltro/table.h"
#include "veltro/value.h"

using namespace veltro;

namespace {

Number num(std::string_view text) {
  Number n;
  EXPECT_TRUE(Number::parse(text, n)) << text;
  return n;
}

// Whether items() may be called on a V.
template <class V>
concept HasItems = requires { std::declval<V>().items(); };

// Restores the process's date format when a test has changed it.
struct DateFormatGuard {
  std::string saved = dateFormat();
  ~DateFormatGuard() { setDateFormat(saved); }
};

}  // namespace

TEST(Value, EmptyRule) {
  EXPECT_TRUE(Value().isEmpty());
  EXPECT_TRUE(Value(0).isEmpty());
  EXPECT_TRUE(Value(0.0).isEmpty());
  EXPECT_TRUE(Value(num("0.000")).isEmpty());
  EXPECT_FALSE(Value(num("0.001")).isEmpty());
  EXPECT_FALSE(Value(-1).isEmpty());
  EXPECT_TRUE(Value("").isEmpty());
  EXPECT_TRUE(Value(" \t\r\n ").isEmpty());
  EXPECT_TRUE(Value::memo("\n\n").isEmpty());
  EXPECT_FALSE(Value(" x ").isEmpty());
  EXPECT_FALSE(Value(std::string("\0", 1)).isEmpty());  // a zero byte is not a blank
  EXPECT_TRUE(Value(Date{}).isEmpty());
  EXPECT_FALSE(Value(Date::fromYMD(2020, 1, 1)).isEmpty());
  EXPECT_TRUE(Value(Timestamp{}).isEmpty());
  EXPECT_FALSE(Value(Timestamp{0, 1}).isEmpty());
  EXPECT_TRUE(Value(false).isEmpty());
  EXPECT_FALSE(Value(true).isEmpty());
  EXPECT_TRUE(Value::array().isEmpty());
  EXPECT_FALSE(Value::array({Value()}).isEmpty());
  Value table = Value::table();
  EXPECT_TRUE(table.isEmpty());
  table.asTable()->set("k", Value());
  EXPECT_FALSE(table.isEmpty());
  EXPECT_FALSE(Value(Callable([](Args) { return Value(); })).isEmpty());
}

TEST(Value, KindsAndEquality) {
  EXPECT_EQ(Value().kindLetter(), 'U');
  EXPECT_EQ(Value(true).kindLetter(), 'L');
  EXPECT_EQ(Value(1).kindLetter(), 'N');
  EXPECT_EQ(Value("a").kindLetter(), 'C');
  EXPECT_EQ(Value::memo("a").kindLetter(), 'M');
  EXPECT_EQ(Value(Date::fromYMD(2000, 1, 1)).kindLetter(), 'D');
  EXPECT_EQ(Value(Timestamp{1, 0}).kindLetter(), 'T');
  EXPECT_EQ(Value::array().kindLetter(), 'A');
  EXPECT_EQ(Value::table().kindLetter(), 'H');
  EXPECT_EQ(Value(Callable([](Args) { return Value(); })).kindLetter(), 'B');

  EXPECT_EQ(Value(2), Value(2.0));
  EXPECT_EQ(Value(num("2.50")), Value(2.5));
  EXPECT_FALSE(Value(2) == Value("2"));
  EXPECT_FALSE(Value(0) == Value(false));
  EXPECT_FALSE(Value() == Value(""));
  EXPECT_EQ(Value("abc"), Value::memo("abc"));
  EXPECT_FALSE(Value("abc") == Value("abc "));
  EXPECT_EQ(Value(std::string("a\0b", 3)), Value(std::string("a\0b", 3)));
  EXPECT_FALSE(Value(std::string("a\0b", 3)) == Value(std::string("a\0c", 3)));
  Value a = Value::array({1, 2});
  Value sameArray = a;
  EXPECT_EQ(a, sameArray);
  EXPECT_FALSE(a == Value::array({1, 2}));
}

TEST(Value, ArraysAndBlocks) {
  Value a = Value::array({1, "two", 3.5});
  EXPECT_EQ(a.len(), 3u);
  EXPECT_EQ(a.at(1), Value(1));
  EXPECT_EQ(a.at(2), Value("two"));
  EXPECT_TRUE(a.at(0).isNil());
  EXPECT_TRUE(a.at(4).isNil());
  EXPECT_TRUE(Value("abc").at(1).isNil());
  EXPECT_EQ(Value("abcd").len(), 4u);
  EXPECT_EQ(Value(12).len(), 0u);

  Value shared = a;
  shared.items().push_back(Value("four"));  // arrays are shared by reference
  EXPECT_EQ(a.len(), 4u);

  Value add = Callable([](Args args) { return Value(args[0].asNumber() + args[1].asNumber()); });
  EXPECT_EQ(add(2, 3), Value(5));
  EXPECT_TRUE(Value(5).call().isNil());
}

TEST(Value, DeeplyNestedArrayIsReleased) {
  Value root = Value::array();
  Value cursor = root;
  for (int i = 0; i < 200000; ++i) {
    Value inner = Value::array();
    cursor.items().push_back(inner);
    cursor = inner;
  }
  cursor = Value();
  root = Value();  // must not exhaust the stack
  SUCCEED();
}

// asUInt reads a whole number exactly, or says it does not fit; asInt saturates.
TEST(Value, TemporariesHandOverTheirParts) {
  static_assert(std::is_same_v<decltype(std::declval<Value>().asString()), std::string>);
  static_assert(std::is_same_v<decltype(std::declval<Value>().str()), std::string>);
  static_assert(std::is_same_v<decltype(std::declval<Value>().number()), Number>);
  static_assert(std::is_same_v<decltype(std::declval<Value&>().str()), std::string&>);
  static_assert(std::is_same_v<decltype(std::declval<const Value&>().asString()), const std::string&>);
  static_assert(!HasItems<Value>, "a temporary's shared array is not handed out");
  static_assert(HasItems<const Value&>);
  static_assert(std::is_same_v<decltype(std::declval<Table>().keyAt(0)), std::string>);
  static_assert(std::is_same_v<decltype(std::declval<Table>().valueAt(0)), Value>);
  static_assert(std::is_same_v<decltype(std::declval<Table&>().valueAt(0)), Value&>);

  auto make = [] { return Value(std::string(64, 'x')); };
  const std::string& text = make().asString();  // a copy lives on with the reference
  EXPECT_EQ(text, std::string(64, 'x'));
  const std::string& raw = make().str();
  EXPECT_EQ(raw.size(), 64u);
  Value held = make();
  held.str() += 'y';
  EXPECT_EQ(held.asString().size(), 65u);
  auto table = [] {
    Table t;
    t.set("key", Value(std::string(64, 'v')));
    return t;
  };
  const std::string& key = table().keyAt(0);
  const Value& value = table().valueAt(0);
  EXPECT_EQ(key, "key");
  EXPECT_EQ(value.asString(), std::string(64, 'v'));
}

TEST(Date, ValidityAndTexts) {
  EXPECT_TRUE(Date::fromYMD(0, 0, 0).empty());
  EXPECT_TRUE(Date::fromYMD(2010, 2, 30).empty());
  EXPECT_TRUE(Date::fromYMD(1900, 2, 29).empty());
  EXPECT_TRUE(Date::fromYMD(2010, 13, 1).empty());
  EXPECT_FALSE(Date::fromYMD(2000, 2, 29).empty());
  EXPECT_FALSE(Date::fromYMD(1, 1, 1).empty());
  EXPECT_GT(Date::fromYMD(1, 1, 1).day, 0);

  Date d = Date::fromYMD(2024, 3, 9);
  int y, m, day;
  d.toYMD(y, m, day);
  EXPECT_EQ(y, 2024);
  EXPECT_EQ(m, 3);
  EXPECT_EQ(day, 9);
  EXPECT_EQ(d.sqlText(), "2024-03-09");
  EXPECT_EQ(d.digits8(), "20240309");
  EXPECT_EQ(Date::fromYMD(9999, 12, 31).sqlText(), "9999-12-31");
  EXPECT_EQ(Date{}.sqlText(), "    -  -  ");
  EXPECT_EQ(Date{}.digits8(), "        ");

  EXPECT_EQ(Date::fromYMD(2000, 3, 1).day - Date::fromYMD(2000, 2, 28).day, 2);
  EXPECT_EQ(Date::fromYMD(1970, 1, 1).day - Date::fromYMD(1969, 12, 31).day, 1);
  EXPECT_LT(Date::fromYMD(1999, 12, 31), Date::fromYMD(2000, 1, 1));
  for (int day1 = Date::fromYMD(1899, 12, 25).day; day1 < Date::fromYMD(1900, 3, 5).day; ++day1) {
    Date x{day1};
    x.toYMD(y, m, day);
    EXPECT_EQ(Date::fromYMD(y, m, day), x);
  }
}

TEST(Date, DisplayFollowsFormat) {
  DateFormatGuard guard;
  Date d = Date::fromYMD(2024, 3, 9);
  setDateFormat("mm/dd/yyyy");
  EXPECT_EQ(d.display(), "03/09/2024");
  setDateFormat("dd/mm/yyyy");
  EXPECT_EQ(d.display(), "09/03/2024");
  EXPECT_EQ(Value(d).toString(), "09/03/2024");
  EXPECT_EQ(Date{}.display(), "  /  /    ");
  setDateFormat("yyyy-mm-dd");
  EXPECT_EQ(d.display(), "2024-03-09");
  setDateFormat("DD.MM.YY");
  EXPECT_EQ(d.display(), "09.03.24");
}

TEST(Text, Helpers) {
  EXPECT_TRUE(isBlankText(""));
  EXPECT_TRUE(isBlankText(" \t\r\n"));
  EXPECT_FALSE(isBlankText(" a"));
  EXPECT_EQ(trimValueText(" \t\r\nab c \t  "), "ab c \t");
  EXPECT_EQ(trimBlanks("  \tab  "), "\tab");
  EXPECT_EQ(trimRight("  ab  "), "  ab");
  EXPECT_EQ(lower("AbC-\xC3\x89"), "abc-\xC3\x89");
  EXPECT_EQ(upper("aBc_1"), "ABC_1");
  EXPECT_TRUE(equalsNoCase("Nombre", "NOMBRE"));
  EXPECT_FALSE(equalsNoCase("Nombre", "Nombres"));
  EXPECT_FALSE(equalsNoCase("[", "{"));  // ASCII folding only touches letters
}

// Hashing takes eight bytes a step: names that differ only in the case of
// their letters must meet at every length, and distinct names must spread.
TEST(Text, KeyHashFoldsCaseAtEveryLength) {
  std::string name;
  std::set<std::size_t> seen;
  for (int len = 0; len < 40; ++len) {
    EXPECT_EQ(keyHash(upper(name), true), keyHash(lower(name), true)) << name;
    EXPECT_EQ(keyHash(name, false), keyHash(name, false));
    if (len > 0) {
      EXPECT_NE(keyHash(upper(name), false), keyHash(lower(name), false)) << name;
    }
    seen.insert(keyHash(name, true));
    name += static_cast<char>('A' + len % 26);
  }
  for (int i = 0; i < 10000; ++i) seen.insert(keyHash("column_" + std::to_string(i), true));
  EXPECT_EQ(seen.size(), 40u + 10000u);
}

// Padded texts are trimmed in blocks: the last kept byte may stand anywhere in
// a block, and bytes that differ from a blank in one bit must stay.
TEST(Text, TrimRightAtEveryLengthAndPosition) {
  for (std::size_t len = 0; len <= 300; ++len) {
    for (std::size_t kept = 0; kept <= len; ++kept) {
      for (char c : std::string("x\0\x21\xA0\t", 5)) {
        std::string s(len, ' ');
        if (kept > 0) s[kept - 1] = c;
        if (kept > 1) s[0] = 'a';
        ASSERT_EQ(trimRight(s).size(), kept) << "length " << len << ", last kept at " << kept << ", byte " << int(c);
      }
    }
  }
}

// The inline appends write past the old end without filling it first: every
// growth step (small-string buffer, heap, doubling) must keep what was there,
// and a writer that uses less room than it asked for must leave no stray bytes.
TEST(Text, AppendsKeepTheTextAcrossEveryGrowth) {
  std::string out, expected;
  for (int i = 0; i < 400; ++i) {
    const std::string piece(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26));
    if (i % 3 == 0) {
      appendBytes(out, piece);
      expected += piece;
    } else {
      // Asks for twice the room and writes the piece once, then a marker.
      appendWith(out, 2 * piece.size() + 1, [&](char* at) {
        at = copyTo(at, piece);
        *at++ = '|';
        return at;
      });
      expected += piece + '|';
    }
    ASSERT_EQ(out, expected) << "after piece " << i;
    ASSERT_EQ(out.c_str()[out.size()], '\0');
  }
  appendBytes(out, std::string_view());
  EXPECT_EQ(out, expected);
}
