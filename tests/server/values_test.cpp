// What server values read as and are written back as: BIT columns, timestamps
// with a fraction, BIGINT UNSIGNED beyond the signed range, and texts taken
// from a field that is gone by the time they are read.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include "query_fixture.h"
#include "veltro/query.h"
#include "veltro/sqltext.h"

namespace veltro::testing {
namespace {

class Values : public QueryFixture {};

constexpr std::uint64_t kAllOnes = std::numeric_limits<std::uint64_t>::max();

// BIT(1) is the logical its letter promises and a wider BIT the unsigned number
// it holds; Save (by the key or by every value), the key condition and Seek
// write each back as the same bits, NULL included.
TEST_F(Values, BitColumnsReadByTheirLetterAndWriteBackTheirBits) {
  struct Layout {
    const char* table;
    const char* wide;  // the BIT(64) column: the key, or a nullable column of a table without one
  };
  const Layout layouts[] = {{"vt_bitkey", "id bit(64) PRIMARY KEY"}, {"vt_bitrow", "id bit(64) NULL"}};
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.table);
    const std::string t = l.table;
    table(t, std::string(l.wide) + ", one bit(1) NULL, b8 bit(8) NULL, n int");
    exec("INSERT INTO " + t + " VALUES (18446744073709551615, b'1', b'10000001', 1), (0, b'0', b'0', 2), " +
         "(5, NULL, NULL, 3)");
    QueryPtr q = srv->Query("SELECT id, one, b8, n FROM " + t + " ORDER BY n");
    EXPECT_EQ(q->FieldType("one"), "L");
    EXPECT_EQ(q->FieldType("b8"), "N");
    EXPECT_EQ(q->FieldType("id"), "N");
    EXPECT_TRUE(q->FieldGet("one").asBool());
    EXPECT_EQ(q->FieldGet("b8").asInt(), 129);
    EXPECT_EQ(q->FieldGet("id").asUInt(), kAllOnes);
    if (t == "vt_bitkey") {
      EXPECT_EQ(q->MakePrimaryKeyWhere(), "id=18446744073709551615");
    }

    struct Row {
      long n;
      bool one;
      long b8;
      const char* bits;  // id, one, b8 of the row that Save changed, as the server shows them
    };
    // Last row first, so that each n * 10 keeps the rows in their order.
    const Row rows[] = {{3, false, 0, "5 NULL NULL"}, {2, false, 0, "0 0 0"}, {1, true, 129, "FFFFFFFFFFFFFFFF 1 129"}};
    for (const Row& r : rows) {
      SCOPED_TRACE(r.n);
      q->GoTo(r.n);
      EXPECT_EQ(q->FieldGet("one"), Value(r.one));
      EXPECT_EQ(q->FieldGet("b8").asInt(), r.b8);
      q->FieldPut("n", Value(r.n * 10));
      EXPECT_EQ(q->Save(), Value(true));
      EXPECT_EQ(text("SELECT CONCAT_WS(' ', HEX(id), IFNULL(one + 0, 'NULL'), IFNULL(b8 + 0, 'NULL')) FROM " + t +
                     " WHERE n = " + std::to_string(r.n * 10)),
                r.bits)
          << "the row was not found by its bits";
    }

    // Edited bits are written as the server reads them, and found again by them.
    q->GoTo(1);
    q->FieldPut("one", false);
    q->FieldPut("b8", 200);
    EXPECT_EQ(q->Save(), Value(true));
    EXPECT_EQ(text("SELECT CONCAT(one + 0, ' ', b8 + 0, ' ', HEX(id)) FROM " + t + " WHERE n = 10"),
              "0 200 FFFFFFFFFFFFFFFF");
    q->GoTo(1);
    q->FieldPut("n", 11);
    EXPECT_EQ(q->Save(), Value(true));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM " + t + " WHERE n = 11").asInt(), 1);

    // Seek compares the bytes the server sends for the bits.
    q->GoTo(3);
    EXPECT_EQ(q->Seek(Value(static_cast<unsigned long long>(kAllOnes)), "id"), 1);
    EXPECT_EQ(q->Seek(200, "b8"), 1);
    EXPECT_EQ(q->Seek("200", "b8"), 1);
    EXPECT_EQ(q->Seek(0, "b8"), 2);
    EXPECT_EQ(q->Seek(5, "id"), 3);
    EXPECT_EQ(q->Seek(false, "one"), 1);
    EXPECT_EQ(q->Seek(true, "one", Value(), Value(), Value(), false), 1);  // none true: the current row
    EXPECT_EQ(q->Seek(-1, "b8", Value(), Value(), Value(), false), 1);
    q->End();
  }
  EXPECT_TRUE(takeErrors().empty());
}

// A timestamp's milliseconds reach the column; DATETIME(0) takes them as the server does.
TEST_F(Values, TimestampsKeepTheirFraction) {
  table("vt_times", "id int PRIMARY KEY, d0 datetime NULL, d3 datetime(3) NULL, d6 datetime(6) NULL, "
                    "t6 timestamp(6) NULL");
  const std::int32_t day = Date::fromYMD(2020, 1, 2).day;
  const Timestamp at{day, ((3 * 60 + 4) * 60 + 5) * 1000 + 734};
  ASSERT_TRUE(srv->Insert("vt_times", Value::array({"id", "d0", "d3", "d6", "t6"}),
                          Value::array({1, at, at, at, at})));
  // A timestamp column of a blank row takes a timestamp; Update writes one too.
  QueryPtr q = srv->Query("SELECT id, t6 FROM vt_times ORDER BY id");
  q->GetBlankRow(false);
  q->FieldPut("id", 2);
  q->FieldPut("t6", Timestamp{day, 1});
  EXPECT_EQ(q->Save(), Value(true));
  q->End();
  ASSERT_TRUE(srv->Update("vt_times", Value::array({"d6"}), Value::array({Timestamp{day, 999}}), "id = 2"));

  const std::string server0 = text("SELECT CAST('2020-01-02 03:04:05.734' AS DATETIME)");
  struct Case {
    const char* column;
    long id;
    std::string expected;
  };
  const Case cases[] = {{"d0", 1, server0},
                        {"d3", 1, "2020-01-02 03:04:05.734"},
                        {"d6", 1, "2020-01-02 03:04:05.734000"},
                        {"t6", 1, "2020-01-02 03:04:05.734000"},
                        {"t6", 2, "2020-01-02 00:00:00.001000"},
                        {"d6", 2, "2020-01-02 00:00:00.999000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    QueryPtr r = srv->Query(std::string("SELECT ") + c.column + " FROM vt_times WHERE id = " + std::to_string(c.id));
    EXPECT_EQ(std::string(trimRight(r->FieldGet(1).asString())), c.expected);
    r->End();
  }
  EXPECT_TRUE(takeErrors().empty());
}

// BIGINT UNSIGNED beyond the signed range reads exactly; asUInt says when a number does not fit.
TEST_F(Values, UnsignedNumbersReadExactly) {
  table("vt_unsigned", "id int PRIMARY KEY, u bigint unsigned, s bigint");
  exec("INSERT INTO vt_unsigned VALUES (1, 0, 0), (2, 9223372036854775807, -1), (3, 9223372036854775808, 0), "
       "(4, 18446744073709551615, 0)");
  const std::optional<std::uint64_t> expected[] = {0u, 9223372036854775807u, 9223372036854775808u, kAllOnes};
  QueryPtr q = srv->Query("SELECT u, s FROM vt_unsigned ORDER BY id");
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    q->GoTo(static_cast<long>(i + 1));
    EXPECT_EQ(q->FieldGet("u").asUInt(), expected[i]);
    EXPECT_EQ(q->FieldGet("u").asNumber().text(), std::to_string(*expected[i]));
  }
  q->GoTo(2);
  EXPECT_EQ(q->FieldGet("s").asUInt(), std::nullopt);  // -1 does not fit
  EXPECT_EQ(q->FieldGet("u").asInt(), std::numeric_limits<std::int64_t>::max());
  q->GoTo(4);
  EXPECT_EQ(q->FieldGet("u").asInt(), std::numeric_limits<std::int64_t>::max());  // saturated: asUInt is exact
  q->End();
  EXPECT_TRUE(takeErrors().empty());
}

// A text taken from a field read on the fly outlives the field's value.
TEST_F(Values, TextOfATemporaryFieldStaysValid) {
  static_assert(std::is_same_v<decltype(std::declval<Value>().asString()), std::string>,
                "a temporary's text is handed over, not referenced");
  static_assert(std::is_same_v<decltype(std::declval<const Value&>().asString()), const std::string&>);
  table("vt_texts", "id int PRIMARY KEY, note varchar(80), memo text");
  exec("INSERT INTO vt_texts VALUES (1, 'a note long enough to live outside the string', "
       "'a memo long enough to live outside the string')");
  QueryPtr q = srv->Query("SELECT id, note, memo FROM vt_texts");
  const std::string& note = q->FieldGet(2).asString();
  const std::string& memo = q->FieldGet("memo").str();
  EXPECT_EQ(std::string(trimRight(note)), "a note long enough to live outside the string");
  EXPECT_EQ(memo, "a memo long enough to live outside the string");
  q->End();
}

}  // namespace
}  // namespace veltro::testing
