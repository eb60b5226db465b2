// The literal writer's form for the typed face: values written as themselves.
#pragma once

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

}  // namespace veltro::detail
