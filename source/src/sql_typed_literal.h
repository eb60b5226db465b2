// The literal writer's form for the typed face: values written as themselves.
#pragma once

#include <cstdint>
#include <string>

#include "veltro/session.h"

namespace veltro::detail {

// Appends the literal of one argument of a statement sent on conn: NULL only
// for Null; integers and doubles as numerals; texts quoted and escaped for
// the connection's character set and backslash mode, blanks kept and "" as
// ''; dates 'YYYY-MM-DD', date-times with their microseconds, times as
// '[-]H:MM:SS.ffffff'. false, with nothing appended, for a value SQL has no
// literal for: a text the connection's character set cannot carry, a double
// that is not finite, a date outside the years 0 to 9999.
bool appendParamLiteral(std::string& out, const Param& p, long long conn);

// A date-time argument's microseconds since 1970 as its day (days since
// 1970, floored) and the microseconds into that day.
struct DayAndClock {
  std::int64_t day, micro;
};
inline DayAndClock dayAndClock(std::int64_t micros) {
  constexpr std::int64_t kPerDay = 86400000000LL;
  DayAndClock out{micros / kPerDay, micros % kPerDay};
  if (out.micro < 0) {
    out.micro += kPerDay;
    --out.day;
  }
  return out;
}

}  // namespace veltro::detail
