// Inputs that the fuzz targets in fuzz/ found, kept as plain cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "veltro/sqltext.h"
#include "veltro/value.h"

namespace veltro {
namespace {

TEST(FuzzFindings, NumbersBeyondDoublesNeverReachSql) {
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

TEST(FuzzFindings, SumsOfLargestExactNumbers) {
  // Two 38-digit mantissas overflowed 128 bits before the range check.
  Number big, negative;
  ASSERT_TRUE(Number::parse(std::string(38, '9'), big));
  ASSERT_TRUE(Number::parse("-" + std::string(38, '9'), negative));
  for (const Number& n : {big + big, big - negative}) {
    EXPECT_FALSE(n.isExact());
    EXPECT_NEAR(n.toDouble(), 2e38, 1e24);
  }
  EXPECT_NEAR((negative + negative).toDouble(), -2e38, 1e24);
  EXPECT_NEAR((negative - big).toDouble(), -2e38, 1e24);
  EXPECT_TRUE((big - big).isExact() && (big - big).isZero());
}

TEST(FuzzFindings, RoundingAwayThirtyEightDecimals) {
  // The remainder of a division by 10^38 was doubled to round, beyond 128 bits.
  Number n;
  ASSERT_TRUE(Number::parse("0." + std::string(38, '9'), n));
  EXPECT_EQ(n.withDecimals(0).text(), "1");
  ASSERT_TRUE(Number::parse("-0." + std::string(38, '9'), n));
  EXPECT_EQ(n.withDecimals(0).text(), "-1");
  ASSERT_TRUE(Number::parse("0.5" + std::string(37, '0'), n));
  EXPECT_EQ(n.withDecimals(0).text(), "1");
  ASSERT_TRUE(Number::parse("0.4" + std::string(37, '9'), n));
  EXPECT_EQ(n.withDecimals(0).text(), "0");
  EXPECT_EQ(n.withDecimals(1).text(), "0.5");
}

}  // namespace
}  // namespace veltro
