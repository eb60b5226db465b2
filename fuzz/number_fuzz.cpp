// Number text on any input: a parsed numeral writes a text that parses back to
// the same number (exact numbers keep their decimals), the leading number of
// any text is a number whose text is a numeral, and decimals change by rounding.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "veltro/value.h"

using veltro::Number;
using veltro::fuzz::check;
using veltro::fuzz::isNumeral;

namespace {

std::size_t decimalsOf(std::string_view s) {
  const std::size_t point = s.find('.');
  return point == std::string_view::npos ? 0 : s.size() - point - 1;
}

void roundTrip(const Number& n, std::string_view input) {
  const std::string text = n.text();
  check(isNumeral(text), "number text is a numeral", text);
  check(decimalsOf(text) == static_cast<std::size_t>(n.decimals()), "text carries the decimals", text);
  Number back;
  check(Number::parse(text, back), "number text parses", text);
  if (n.isExact()) {
    check(back.isExact() && back == n && back.decimals() == n.decimals(), "exact round trip", input);
  }
  check(back.text() == text, "text is stable", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  Number parsed;
  if (Number::parse(text, parsed)) {
    roundTrip(parsed, text);
    const int decimals = static_cast<int>(size % 41);
    const Number rounded = parsed.withDecimals(decimals);
    check(rounded.decimals() == decimals, "withDecimals keeps the decimals asked for", text);
    roundTrip(rounded, text);
  }

  const Number lead = Number::leading(text);
  roundTrip(lead, text);
  (void)lead.toInt();
  (void)lead.toDouble();
  (void)(lead + parsed);
  (void)(lead - parsed);
  (void)(lead * parsed);
  (void)compare(lead, parsed);
  return 0;
}
