// The literal writer's form for the typed face: each argument as itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "sql_typed_literal.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using namespace std::chrono;

template <class T>
std::string literal(const T& v) {
  std::string out;
  if (!detail::appendParamLiteral(out, detail::toParam(v), 0)) return "<refused>";
  return out;
}

TEST(TypedLiteral, ValuesAsThemselves) {
  EXPECT_EQ(literal(0), "0");
  EXPECT_EQ(literal(false), "0");
  EXPECT_EQ(literal(true), "1");
  EXPECT_EQ(literal(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(literal(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(literal(0.1), "0.1");
  EXPECT_EQ(literal(1.5f), "1.5");
  EXPECT_EQ(literal(1e300), "1e+300");
  EXPECT_EQ(literal(std::string()), "''");
  EXPECT_EQ(literal("  it's  "), "'  it\\'s  '");
  EXPECT_EQ(literal(std::string("a\0b", 3)), "'a\\0b'");
  EXPECT_EQ(literal(std::nullopt), "NULL");
  EXPECT_EQ(literal(nullptr), "NULL");
  EXPECT_EQ(literal(std::optional<int>()), "NULL");
  EXPECT_EQ(literal(std::optional<int>(0)), "0");
  EXPECT_EQ(literal(Number::fromInt(-12).withDecimals(2)), "-12.00");
  EXPECT_EQ(literal(year_month_day(2024y / 2 / 29)), "'2024-02-29'");
  EXPECT_EQ(literal(sys_days(1969y / 12 / 31) + microseconds(1)), "'1969-12-31 00:00:00.000001'");
  EXPECT_EQ(literal(sys_days(2024y / 2 / 29) + hours(23) + minutes(59) + seconds(59)), "'2024-02-29 23:59:59'");
  EXPECT_EQ(literal(-(hours(100) + microseconds(500000))), "'-100:00:00.500000'");
  EXPECT_EQ(literal(minutes(90)), "'01:30:00'");
}

TEST(TypedLiteral, ValuesWithoutALiteralAreRefused) {
  EXPECT_EQ(literal(std::numeric_limits<double>::infinity()), "<refused>");
  EXPECT_EQ(literal(std::numeric_limits<double>::quiet_NaN()), "<refused>");
  EXPECT_EQ(literal(year_month_day(year(10000), month(1), day(1))), "<refused>");
  EXPECT_EQ(literal(sys_days(year(-1) / 1 / 1)), "<refused>");
  EXPECT_EQ(literal(microseconds(std::numeric_limits<std::int64_t>::min())), "<refused>");
}

}  // namespace
}  // namespace veltro
