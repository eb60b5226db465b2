// Escaping texts for quoted SQL literals: byte by byte (SSE2 where there is)
// where that gives what the client library gives, else by the client library.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "db_detail.h"
#include "veltro/append.h"
#include "veltro/binding.h"

namespace veltro::db {

using detail::connEntry;

namespace {

// The escape letter that follows a backslash for each byte, 0 for bytes kept as they are.
constexpr std::array<char, 256> kEscapeLetter = [] {
  std::array<char, 256> t{};
  t[0] = '0';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\\'] = '\\';
  t['\''] = '\'';
  t['"'] = '"';
  t['\032'] = 'Z';
  return t;
}();

#if defined(__SSE2__)
// Bit i set: byte i of the 16 at p needs escaping.
inline unsigned specialMask(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i hit = _mm_cmpeq_epi8(v, _mm_setzero_si128());
  for (char c : {'\n', '\r', '\\', '\'', '"', '\032'}) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

std::size_t plainEscape(char* to, const char* from, std::size_t n) {
  char* const start = to;
  const char* const end = from + n;
#if defined(__SSE2__)
  // Most texts hold nothing to escape: sixteen bytes are checked at once and
  // copied whole up to the first byte that needs its backslash.
  while (end - from >= 16) {
    const unsigned mask = specialMask(from);
    if (mask == 0) {
      std::memcpy(to, from, 16);
      to += 16;
      from += 16;
      continue;
    }
    const auto clean = static_cast<std::size_t>(__builtin_ctz(mask));
    std::memcpy(to, from, clean);
    to += clean;
    from += clean;
    *to++ = '\\';
    *to++ = kEscapeLetter[static_cast<unsigned char>(*from++)];
  }
#endif
  for (; from != end; ++from) {
    const char letter = kEscapeLetter[static_cast<unsigned char>(*from)];
    if (letter == 0) {
      *to++ = *from;
    } else {
      *to++ = '\\';
      *to++ = letter;
    }
  }
  return static_cast<std::size_t>(to - start);
}

}  // namespace

void escapeAppend(std::string& out, std::string_view text, Handle conn) {
  // Trailing blanks never need escaping, and padded texts are mostly blanks:
  // only the text before them is escaped. A blank is never part of a
  // multi-byte character in any character set the server speaks, so the
  // result is the same as escaping the whole text.
  const std::size_t head = trimRight(text).size();
  const std::size_t blanks = text.size() - head;
  if (head == 0) {
    out.append(blanks, ' ');
    return;
  }
  const auto n = static_cast<unsigned long>(head);
  const detail::Entry* e = conn ? connEntry(conn) : nullptr;
  // The client library escapes every character set through a general
  // multi-byte walk; where the connection's set allows, the same bytes come
  // from one table lookup a byte. Without a connection the library escapes
  // byte by byte as well.
  const bool plain = !e || (e->ops->plainEscaping && e->ops->plainEscaping(e->object));
  // Room for the worst case (and the client library's closing NUL), once.
  appendWith(out, 2 * head + 1 + blanks, [&](char* at) {
    const unsigned long m = plain ? plainEscape(at, text.data(), n) : e->ops->realEscape(e->object, at, text.data(), n);
    // (unsigned long)-1 reports a text the character set cannot escape.
    if (m > 2 * n) return at;
    std::memset(at + m, ' ', blanks);
    return at + m + blanks;
  });
}

std::string escape(std::string_view text, Handle conn) {
  std::string out;
  escapeAppend(out, text, conn);
  return out;
}

}  // namespace veltro::db
