// MYSEEK's comparison of one value with the sought text: on texts without
// zero bytes it agrees with a plain prefix test on upper-cased texts, and on
// any texts the exact form is the soft form with the two texts swapped.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "veltro/binding.h"
#include "veltro/value.h"

using veltro::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string value = in.ConsumeRandomLengthString(64);
  const std::string text = in.ConsumeRemainingBytesAsString();

  const bool soft = veltro::db::seekMatches(value, text, true);
  const bool exact = veltro::db::seekMatches(value, text, false);
  if (value.find('\0') == std::string::npos && text.find('\0') == std::string::npos) {
    const std::string v = veltro::upper(value), t = veltro::upper(text);
    check(soft == (!value.empty() && v.starts_with(t)), "soft: the value begins with the text", value);
    check(exact == (!value.empty() && t.starts_with(v)), "exact: the text begins with the whole value", value);
  }
  if (!value.empty() && !text.empty()) check(exact == veltro::db::seekMatches(text, value, true), "swapped", value);
  return 0;
}
