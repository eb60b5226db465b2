// Number: exact decimals read from server text, their text, arithmetic and
// rounding, and the doubles callers give.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "veltro/value.h"

using namespace veltro;

namespace {

Number num(std::string_view text) {
  Number n;
  EXPECT_TRUE(Number::parse(text, n)) << text;
  return n;
}

}  // namespace

TEST(Number, UnsignedReadsExactly) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {{"0", 0u},
                        {"9223372036854775807", 9223372036854775807u},
                        {"9223372036854775808", 9223372036854775808u},
                        {"18446744073709551615", UINT64_MAX},
                        {"18446744073709551616", std::nullopt},
                        {"-1", std::nullopt},
                        {"5.00", 5u},
                        {"5.50", std::nullopt},
                        {"-0.00", 0u}};
  for (const Case& c : cases) EXPECT_EQ(Value(num(c.text)).asUInt(), c.expected) << c.text;
  EXPECT_EQ(Value(num("18446744073709551615")).asInt(), INT64_MAX);
  EXPECT_EQ(Value(18446744073709551615ull).asUInt(), UINT64_MAX);
  EXPECT_EQ(Value(-5).asUInt(), std::nullopt);
  EXPECT_EQ(Value(4096.0).asUInt(), 4096u);
  EXPECT_EQ(Value(0.5).asUInt(), std::nullopt);
  EXPECT_EQ(Value(1e30).asUInt(), std::nullopt);
  EXPECT_EQ(Value("12").asUInt(), std::nullopt);  // not a number
}

// Accessors called on a temporary hand their result over; on a held value they
// still return references into it.

TEST(Number, TextFollowsDecimals) {
  EXPECT_EQ(Value::number(2.5, 2).asNumber().text(), "2.50");
  EXPECT_EQ(Value(-12).asNumber().text(), "-12");
  EXPECT_EQ(Number::fromDouble(2.5).decimals(), 1);
  EXPECT_EQ(Number::fromDouble(2.5).text(), "2.5");
  EXPECT_EQ(Number::fromDouble(3.0).text(), "3");
  EXPECT_EQ(Number::fromDouble(1.0 / 3).text(), "0.3333333333");
  EXPECT_EQ(Number::fromDouble(-0.001, 2).text(), "0.00");  // no "-0.00"
  EXPECT_EQ(Number::fromDouble(1234.5678, 0).text(), "1235");
  EXPECT_EQ(num("-0.05").text(), "-0.05");
  EXPECT_EQ(num("2.345").withDecimals(2).text(), "2.35");
  EXPECT_EQ(num("-2.345").withDecimals(2).text(), "-2.35");
  EXPECT_EQ(num("7").withDecimals(3).text(), "7.000");
  EXPECT_EQ(num("9.99").withDecimals(0).text(), "10");
}

TEST(Number, ParseKeepsServerDigits) {
  Number decimal = num("12345678901234567890.1234567890");
  EXPECT_TRUE(decimal.isExact());
  EXPECT_EQ(decimal.decimals(), 10);
  EXPECT_EQ(decimal.text(), "12345678901234567890.1234567890");

  Number ubig = num("18446744073709551615");
  EXPECT_TRUE(ubig.isExact());
  EXPECT_EQ(ubig.text(), "18446744073709551615");
  EXPECT_EQ(Value(18446744073709551615ull).asNumber().text(), "18446744073709551615");
  EXPECT_EQ(num("-9223372036854775808").toInt(), INT64_MIN);

  EXPECT_EQ(num("3.1400").decimals(), 4);
  EXPECT_EQ(num("3.1400").text(), "3.1400");
  EXPECT_EQ(num("-0.000001").text(), "-0.000001");
  EXPECT_EQ(num("1e5").text(), "100000");
  EXPECT_EQ(num("1.5e-3").text(), "0.0015");
  EXPECT_EQ(num("+42").text(), "42");
  EXPECT_EQ(num("99999999999999999999999999999999999999").text(), "99999999999999999999999999999999999999");

  Number tooLong = num("123456789012345678901234567890123456789");  // 39 digits
  EXPECT_FALSE(tooLong.isExact());
  EXPECT_NEAR(tooLong.toDouble(), 1.2345678901234568e38, 1e23);

  Number n;
  for (const char* bad : {"", " ", "abc", "1.2.3", "1e", "--1", "12abc", "-", "."}) {
    EXPECT_FALSE(Number::parse(bad, n)) << bad;
  }
}

// Short numerals take a 64-bit reading; at and past its edge they must read
// exactly as the wide one does.
TEST(Number, ShortNumeralsMatchTheWideReading) {
  EXPECT_EQ(num("999999999999999999").text(), "999999999999999999");      // 18 digits
  EXPECT_EQ(num("9999999999999999999").text(), "9999999999999999999");    // 19 digits
  EXPECT_EQ(num("-99999999999999999.9").text(), "-99999999999999999.9");  // 18 digits, one decimal
  EXPECT_EQ(num("-999999999999999999.99").decimals(), 2);
  EXPECT_EQ(num("-999999999999999999.99").text(), "-999999999999999999.99");
  EXPECT_EQ(num("000123.4500").text(), "123.4500");
  EXPECT_EQ(num("-0.50").text(), "-0.50");
  EXPECT_TRUE(num("-0.00").isZero());
  EXPECT_FALSE(num("-0.00").isNegative());
  EXPECT_EQ(num(".5").text(), "0.5");
  EXPECT_EQ(num("5.").decimals(), 0);
  EXPECT_EQ(num(" 12.5 ").text(), "12.5");
  EXPECT_EQ(num("12.345").toInt(), 12);
  EXPECT_EQ(num("-12.9").toInt(), -12);
  EXPECT_EQ(num("-170141183460469231731687303715884105727").toInt(), INT64_MIN);
  EXPECT_EQ(num("170141183460469231731687303715884105727").toInt(), INT64_MAX);
}

TEST(Number, ArithmeticAndCompare) {
  EXPECT_EQ(num("0.1") + num("0.2"), num("0.3"));  // exact, unlike doubles
  EXPECT_EQ((num("1.5") + num("2")).text(), "3.5");
  EXPECT_EQ((num("1.25") * num("4")).text(), "5.00");
  EXPECT_EQ((num("10") - num("0.01")).text(), "9.99");
  EXPECT_EQ((num("18446744073709551615") + num("1")).text(), "18446744073709551616");
  EXPECT_EQ((num("12345678901234567890.1234567890") - num("0.0000000001")).text(),
            "12345678901234567890.1234567889");

  EXPECT_EQ(compare(num("2.50"), Number::fromInt(2)), 1);
  EXPECT_EQ(compare(num("2.00"), Number::fromInt(2)), 0);
  EXPECT_EQ(compare(num("-3"), num("-2.9")), -1);
  EXPECT_EQ(compare(num("99999999999999999999999999999999999999"), num("0.5")), 1);
  EXPECT_EQ(compare(num("-99999999999999999999999999999999999999"), num("0.5")), -1);
  EXPECT_EQ(compare(Number::fromDouble(0.5), num("0.50")), 0);

  Number big = num("99999999999999999999999999999999999999") * num("10");
  EXPECT_FALSE(big.isExact());
  EXPECT_NEAR(big.toDouble(), 1e39, 1e24);
  EXPECT_EQ((Number::fromDouble(1.5, 1) + num("1.25")).text(), "2.75");

  EXPECT_EQ(num("12.99").toInt(), 12);
  EXPECT_EQ(num("-12.99").toInt(), -12);
  EXPECT_EQ(num("99999999999999999999").toInt(), INT64_MAX);
  EXPECT_DOUBLE_EQ(num("0.1").toDouble(), 0.1);
}

TEST(Number, Leading) {
  EXPECT_EQ(Number::leading("0, 100").text(), "0");
  EXPECT_EQ(Number::leading("20, 10").text(), "20");
  EXPECT_EQ(Number::leading("3306").text(), "3306");
  EXPECT_EQ(Number::leading("").text(), "0");
  EXPECT_EQ(Number::leading("12abc").text(), "12");
  EXPECT_EQ(Number::leading("  -4.50kg").text(), "-4.50");
  EXPECT_EQ(Number::leading("abc").text(), "0");
  EXPECT_EQ(Number::leading("1.2.3").text(), "1.2");
  EXPECT_EQ(Number::leading("1e5").text(), "1");
}

// Found by fuzzing: the arithmetic at the edge of 128 bits.
TEST(Number, SumsOfLargestExactNumbers) {
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

TEST(Number, RoundingAwayThirtyEightDecimals) {
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
