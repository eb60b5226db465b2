// SQLDATE2CLIP on any text: the date it gives is empty or writes back to a
// text that reads as the same date, and the query object's fast reading of
// date columns agrees with it.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "query_impl.h"
#include "veltro/sqltext.h"

using veltro::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const veltro::Date date = veltro::SQLDATE2CLIP(veltro::Value(text));
  check(veltro::qdetail::sqlDate(text) == date, "column reading agrees", text);
  if (date.empty()) return 0;

  int year = 0, month = 0, day = 0;
  date.toYMD(year, month, day);
  check(year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31, "a real date", text);
  const std::string sql = date.sqlText();
  check(sql.size() == 10 && veltro::SQLDATE2CLIP(veltro::Value(sql)) == date, "round trip", sql);
  check(veltro::Date::fromYMD(year, month, day) == date, "day number round trip", sql);
  // The date's digits are those of the text (characters 1-4, 6-7 and the last two).
  check(sql.substr(0, 4) == text.substr(0, 4) && sql.substr(5, 2) == text.substr(5, 2) &&
            sql.substr(8, 2) == text.substr(text.size() - 2),
        "digits kept", text);
  return 0;
}
