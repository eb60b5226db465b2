// Appending to a std::string through a cursor. std::string::append is kept
// out of line by the standard library; statements are built from many short
// pieces, so the hot builders append here, inline, instead.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace veltro {

// Makes room for at most `most` more bytes without filling them; `write`
// gets the old end, writes, and returns the new end.
template <class Write>
[[gnu::always_inline]] inline void appendWith(std::string& out, std::size_t most, Write&& write) {
  const std::size_t base = out.size();
#if defined(__cpp_lib_string_resize_and_overwrite)
  out.resize_and_overwrite(base + most, [&](char* data, std::size_t) {
    return static_cast<std::size_t>(write(data + base) - data);
  });
#else
  out.resize(base + most);
  out.resize(static_cast<std::size_t>(write(out.data() + base) - out.data()));
#endif
}

// Copies bytes to a cursor and returns the cursor after them.
[[gnu::always_inline]] inline char* copyTo(char* at, std::string_view bytes) {
  if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
  return at + bytes.size();
}

[[gnu::always_inline]] inline void appendBytes(std::string& out, std::string_view bytes) {
  appendWith(out, bytes.size(), [&](char* at) { return copyTo(at, bytes); });
}

}  // namespace veltro
