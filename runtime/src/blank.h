// The blanks of the empty-value rule, shared by the number reader and the text helpers.
#pragma once

namespace veltro::detail {

inline bool isValueBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace veltro::detail
