#include <gtest/gtest.h>

#include <string>

#include "veltro/clock.h"

using namespace veltro;

TEST(Clock, TimesOfDay) {
  EXPECT_EQ(secondsOfDay("01:02:03"), 3723);
  EXPECT_EQ(secondsOfDay("23:59:59"), 86399);
  EXPECT_EQ(elapsedTime("10:00:00", "11:30:15"), "01:30:15");
  EXPECT_EQ(elapsedTime("23:59:50", "00:00:10"), "00:00:20");  // across midnight
  EXPECT_EQ(elapsedTime("08:00:00", "08:00:00"), "00:00:00");
  std::string now = timeOfDay();
  ASSERT_EQ(now.size(), 8u);
  EXPECT_EQ(now[2], ':');
  EXPECT_EQ(now[5], ':');
  EXPECT_LT(secondsOfDay(now), 86400);
}
