// The typed face: fields as C++ values. Every field arrives as the text the
// server shows (a prepared statement's binary values are put in the same
// form), so each type is read in one place; BIT columns are their bytes.
#include <charconv>
#include <chrono>
#include <string>

#include "session_impl.h"
#include "veltro/binding.h"
#include "veltro/session.h"

namespace veltro::detail {

namespace {

using std::chrono::microseconds;

std::string columnOf(const Cell& c) {
  return c.columns && c.index < c.columns->size() ? "column \"" + c.columns->names[c.index] + "\"" : "a field";
}

[[noreturn]] void doesNotFit(const Cell& c, const std::string& what) {
  std::string shown(c.text().substr(0, 64));
  fail(kErrConversion, "22018", columnOf(c) + ": '" + shown + "' " + what);
}

bool isBit(const Cell& c) {
  return c.columns && c.index < c.columns->size() && c.columns->types[c.index] == static_cast<int>(db::FieldType::Bit);
}

// A BIT column's bytes, big-endian, as a number.
std::uint64_t bitValue(const Cell& c) {
  std::uint64_t v = 0;
  for (unsigned char b : c.text()) v = v << 8 | b;
  return v;
}

// An integer numeral, with a fraction of zeros allowed (a DECIMAL's "12.00");
// false for anything else or beyond 128 bits.
bool wholeNumber(std::string_view t, __int128& out) {
  std::size_t i = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (negative) ++i;
  if (i == t.size()) return false;
  __int128 v = 0;
  std::size_t digits = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) {
    if (digits >= 38) return false;
    v = v * 10 + (t[i] - '0');
  }
  if (digits == 0) return false;
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size(); ++i)
      if (t[i] != '0') return false;
  }
  if (i != t.size()) return false;
  out = negative ? -v : v;
  return true;
}

// Two digits at p as a number, or -1.
int digitsAt(std::string_view t, std::size_t p, std::size_t n) {
  if (p + n > t.size()) return -1;
  int v = 0;
  for (std::size_t i = p; i < p + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return -1;
    v = v * 10 + (t[i] - '0');
  }
  return v;
}

// ".ffffff" at p (or nothing) as microseconds; -1 when malformed.
long fraction(std::string_view t, std::size_t p) {
  if (p == t.size()) return 0;
  if (t[p] != '.' || p + 1 == t.size() || t.size() - p - 1 > 6) return -1;
  long v = 0;
  std::size_t n = 0;
  for (std::size_t i = p + 1; i < t.size(); ++i, ++n) {
    if (t[i] < '0' || t[i] > '9') return -1;
    v = v * 10 + (t[i] - '0');
  }
  for (; n < 6; ++n) v *= 10;
  return v;
}

// "YYYY-MM-DD" at the start of t; false when malformed.
bool datePart(std::string_view t, std::chrono::year_month_day& out) {
  const int y = digitsAt(t, 0, 4), m = digitsAt(t, 5, 2), d = digitsAt(t, 8, 2);
  if (y < 0 || m < 0 || d < 0 || t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  out = std::chrono::year_month_day(std::chrono::year(y), std::chrono::month(static_cast<unsigned>(m)),
                                    std::chrono::day(static_cast<unsigned>(d)));
  return true;
}

}  // namespace

}  // namespace veltro::detail

namespace veltro {

using namespace detail;  // the field and its helpers above

void Row::throwNull(const Cell& c) {
  fail(kErrNullValue, "22002", columnOf(c) + " is NULL: read it as a std::optional");
}

std::int64_t Row::readInt(const Cell& c, std::int64_t min, std::int64_t max) {
  __int128 v;
  if (isBit(c)) {
    v = bitValue(c);
  } else if (!wholeNumber(c.text(), v)) {
    doesNotFit(c, "is not a whole number");
  }
  if (v < min || v > max)
    doesNotFit(c, "does not fit [" + std::to_string(min) + ", " + std::to_string(max) + "]");
  return static_cast<std::int64_t>(v);
}

std::uint64_t Row::readUInt(const Cell& c, std::uint64_t max) {
  __int128 v;
  if (isBit(c)) {
    v = bitValue(c);
  } else if (!wholeNumber(c.text(), v)) {
    doesNotFit(c, "is not a whole number");
  }
  if (v < 0 || v > max) doesNotFit(c, "does not fit [0, " + std::to_string(max) + "]");
  return static_cast<std::uint64_t>(v);
}

bool Row::readBool(const Cell& c) {
  if (isBit(c)) return bitValue(c) != 0;
  __int128 v;
  if (!wholeNumber(c.text(), v)) doesNotFit(c, "is not a whole number");
  return v != 0;
}

namespace {
template <class F>
F readFloating(const Cell& c) {
  if (isBit(c)) return static_cast<F>(bitValue(c));
  const std::string_view t = c.text();
  F v{};
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range) doesNotFit(c, "is out of the type's range");
  if (ec != std::errc() || end != t.data() + t.size()) doesNotFit(c, "is not a number");
  return v;
}
}  // namespace

float Row::readFloat(const Cell& c) { return readFloating<float>(c); }
double Row::readDouble(const Cell& c) { return readFloating<double>(c); }

Number Row::readNumber(const Cell& c) {
  if (isBit(c)) return Number::fromUInt(bitValue(c));
  Number n;
  if (!Number::parse(c.text(), n)) doesNotFit(c, "is not a number");
  if (!n.isExact()) doesNotFit(c, "has more digits than a Number holds exactly (38)");
  return n;
}

std::chrono::year_month_day Row::readDate(const Cell& c) {
  std::chrono::year_month_day ymd;
  if (c.size != 10 || !datePart(c.text(), ymd)) doesNotFit(c, "is not a date (YYYY-MM-DD)");
  return ymd;
}

std::chrono::sys_time<microseconds> Row::readDateTime(const Cell& c) {
  const std::string_view t = c.text();
  std::chrono::year_month_day ymd;
  if (!datePart(t, ymd)) doesNotFit(c, "is not a date and time");
  if (!ymd.ok()) doesNotFit(c, "is no point in time (a zero date or day)");
  std::chrono::sys_time<microseconds> at = std::chrono::sys_days(ymd);
  if (t.size() == 10) return at;
  const int h = digitsAt(t, 11, 2), m = digitsAt(t, 14, 2), s = digitsAt(t, 17, 2);
  const long micro = t.size() >= 19 ? fraction(t, 19) : -1;
  if (t[10] != ' ' || h < 0 || m < 0 || s < 0 || t[13] != ':' || t[16] != ':' || micro < 0)
    doesNotFit(c, "is not a date and time");
  return at + std::chrono::hours(h) + std::chrono::minutes(m) + std::chrono::seconds(s) + microseconds(micro);
}

microseconds Row::readTime(const Cell& c) {
  const std::string_view t = c.text();
  const bool negative = !t.empty() && t[0] == '-';
  std::size_t p = negative ? 1 : 0;
  long long hours = 0;
  std::size_t digits = 0;
  for (; p < t.size() && t[p] >= '0' && t[p] <= '9' && digits < 4; ++p, ++digits) hours = hours * 10 + (t[p] - '0');
  const int m = digitsAt(t, p + 1, 2), s = digitsAt(t, p + 4, 2);
  const long micro = p + 6 <= t.size() ? fraction(t, p + 6) : -1;
  if (digits == 0 || p + 6 > t.size() || t[p] != ':' || t[p + 3] != ':' || m < 0 || s < 0 || micro < 0)
    doesNotFit(c, "is not a time ([-]H:MM:SS[.ffffff])");
  const microseconds v = std::chrono::hours(hours) + std::chrono::minutes(m) + std::chrono::seconds(s) + microseconds(micro);
  return negative ? -v : v;
}

}  // namespace veltro
