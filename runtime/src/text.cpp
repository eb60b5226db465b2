// The text helpers every part of the library leans on: blanks and trimming
// (SSE2 where there is), the key hash, case folding.
#include "veltro/value.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "blank.h"

namespace veltro {

using detail::isValueBlank;


bool isBlankText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), isValueBlank);
}

std::string_view trimValueText(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isValueBlank(s[i])) ++i;
  s.remove_prefix(i);
  return trimRight(s);
}

std::string_view trimBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  s.remove_prefix(i);
  return trimRight(s);
}

std::string_view trimRight(std::string_view s) {
  // Texts padded to their column width end in many blanks, and every
  // comparison and literal of a padded value trims them: 64 bytes a step.
  std::size_t n = s.size();
#if defined(__SSE2__)
  const __m128i blanks = _mm_set1_epi8(' ');
  while (n >= 64) {
    const char* p = s.data() + n - 64;
    const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), blanks);
    const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), blanks);
    const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), blanks);
    const __m128i d = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), blanks);
    if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, d))) != 0xFFFF) break;
    n -= 64;
  }
  while (n >= 16) {
    const int mask = _mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + n - 16)), blanks));
    if (mask != 0xFFFF) {
      // Bit i set: byte i of the block is a blank; the highest clear bit is the last non-blank.
      n -= 16 - (32 - __builtin_clz(static_cast<unsigned>(~mask & 0xFFFF)));
      return s.substr(0, n);
    }
    n -= 16;
  }
#else
  constexpr std::uint64_t kEightBlanks = 0x2020202020202020ULL;
  while (n >= 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + n - 8, 8);
    if (word != kEightBlanks) break;
    n -= 8;
  }
#endif
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::size_t keyHash(std::string_view s, bool fold) {
  // Eight bytes a step (the last step overlapping the one before). Folding
  // sets bit 5 of every byte: that maps each ASCII capital onto its small
  // letter, so names equal without regard to case hash alike (other bytes
  // merely collide more, which the comparison settles).
  const std::uint64_t mask = fold ? 0x2020202020202020ULL : 0;
  const char* p = s.data();
  const std::size_t len = s.size();
  std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ len;
  auto mix = [&h, mask](std::uint64_t w) {
    h = (h ^ (w | mask)) * 0xFF51AFD7ED558CCDULL;
    h ^= h >> 32;
  };
  auto load8 = [](const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, 8);
    return w;
  };
  auto load4 = [](const char* at) {
    std::uint32_t w;
    std::memcpy(&w, at, 4);
    return static_cast<std::uint64_t>(w);
  };
  if (len >= 8) {
    for (std::size_t n = len; n > 8; p += 8, n -= 8) mix(load8(p));
    mix(load8(s.data() + len - 8));
  } else if (len >= 4) {
    mix(load4(p) | load4(p + len - 4) << 32);
  } else if (len > 0) {
    const auto byte = [p](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])); };
    mix(byte(0) | byte(len / 2) << 8 | byte(len - 1) << 16);
  }
  h ^= h >> 29;
  h *= 0xC4CEB9FE1A85EC53ULL;
  h ^= h >> 32;
  return static_cast<std::size_t>(h);
}

std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = foldAscii(c);
  return r;
}

std::string upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

}  // namespace veltro
