// Time of day as "hh:mm:ss" and the elapsed time between two of them.
#pragma once

#include <string>
#include <string_view>

#include "veltro/export.h"

namespace veltro {

// The current local time, "hh:mm:ss" on a 24-hour clock.
VELTRO_API std::string timeOfDay();
// The time from start to end in the same form; a day is added when end is earlier.
VELTRO_API std::string elapsedTime(std::string_view start, std::string_view end);
// Seconds since midnight of an "hh:mm:ss" text.
VELTRO_API int secondsOfDay(std::string_view time);

}  // namespace veltro
