// The typed face's values on the client-server connection: every column type
// written and read as itself, and values that do not fit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "server_support.h"
#include "session_roundtrip.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using namespace std::chrono;

Session openTestSession() { return Session::open(roundtrip::testSettings()); }

TEST(SessionTypes, EveryColumnTypeRoundTrips) {
  Session s = openTestSession();
  roundtrip::runAll(s);
}

TEST(SessionTypes, ValuesThatDoNotFitTheirType) {
  Session s = openTestSession();
  // A zero date is a date of its own, and no point in time.
  const year_month_day zero = s.value<year_month_day>("SELECT CAST('0000-00-00' AS DATE)");
  EXPECT_FALSE(zero.ok());
  EXPECT_EQ(static_cast<int>(zero.year()), 0);
  EXPECT_THROW(s.value<sys_time<microseconds>>("SELECT CAST('0000-00-00 00:00:00' AS DATETIME)"), ConversionError);
  // More digits than a Number holds exactly: read the text instead.
  EXPECT_THROW(s.value<Number>("SELECT CAST('12345678901.123456789012345678901234567890' AS DECIMAL(65,30))"),
               ConversionError);
  EXPECT_THROW(s.value<float>("SELECT 1e300"), ConversionError);
  EXPECT_THROW(s.value<int>("SELECT 'twelve'"), ConversionError);
  EXPECT_THROW(s.value<year_month_day>("SELECT NOW()"), ConversionError);
  EXPECT_THROW(s.value<microseconds>("SELECT 'noon'"), ConversionError);
  EXPECT_EQ(s.value<int>("SELECT CAST(12 AS DECIMAL(5,2))"), 12);
  EXPECT_EQ(s.value<bool>("SELECT 2"), true);
  // A time point and a duration in coarser units are written exactly.
  EXPECT_EQ(s.value<std::string>("SELECT CAST(? AS DATETIME(6))", sys_days(2024y / 3 / 1) + hours(25)),
            "2024-03-02 01:00:00.000000");
  EXPECT_EQ(s.value<std::string>("SELECT CAST(? AS TIME)", -minutes(90)), "-01:30:00");
  // Arguments SQL has no literal for are refused before anything is sent.
  EXPECT_THROW(s.execute("SELECT ?", 1.0 / 0.0), SqlError);
  EXPECT_THROW(s.execute("SELECT ?", year_month_day(year(10000), month(1), day(1))), SqlError);
}

}  // namespace
}  // namespace veltro
