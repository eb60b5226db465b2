// What the fuzz targets share: a failed property aborts with the input's
// facts on the error output, so that libFuzzer saves the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace veltro::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property failed: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

// Whether a text is a plain decimal numeral: optional '-', digits, at most one
// point with digits on both sides.
inline bool isNumeral(std::string_view s) {
  if (!s.empty() && s.front() == '-') s.remove_prefix(1);
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  bool point = false;
  for (char c : s) {
    if (c == '.' && !point) point = true;
    else if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace veltro::fuzz
