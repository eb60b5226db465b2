// The local time of day and elapsed times as "hh:mm:ss".
#include "veltro/clock.h"

#include <cstdio>
#include <ctime>

namespace veltro {

namespace {

std::string hms(int seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

}  // namespace

std::string timeOfDay() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return hms(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

// Reads up to three ':'-separated fields; a field without digits counts 0.
int secondsOfDay(std::string_view time) {
  int fields[3] = {0, 0, 0};
  int field = 0;
  for (char c : time) {
    if (c == ':') {
      if (++field == 3) break;
    } else if (c >= '0' && c <= '9') {
      if (fields[field] < 100000) fields[field] = fields[field] * 10 + (c - '0');
    }
  }
  return fields[0] * 3600 + fields[1] * 60 + fields[2];
}

std::string elapsedTime(std::string_view start, std::string_view end) {
  int seconds = secondsOfDay(end) - secondsOfDay(start);
  if (seconds < 0) seconds += 86400;  // the run passed midnight
  return hms(seconds);
}

}  // namespace veltro
