// Time of day as "hh:mm:ss" and the elapsed time between two of them.
#pragma once

#include <string>
#include <string_view>

namespace veltro {

// The current local time, "hh:mm:ss" on a 24-hour clock.
std::string timeOfDay();
// The time from start to end in the same form; a day is added when end is earlier.
std::string elapsedTime(std::string_view start, std::string_view end);
// Seconds since midnight of an "hh:mm:ss" text.
int secondsOfDay(std::string_view time);

}  // namespace veltro
