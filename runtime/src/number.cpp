// Exact decimal numbers: parsing, text, arithmetic and comparison.
#include "veltro/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "blank.h"
#include "veltro/append.h"

namespace veltro {

namespace {

// Exact numbers keep at most this many significant digits and decimals.
constexpr int kMaxDigits = 38;
// Decimals carried by a double are capped so that its text stays bounded.
constexpr int kMaxDoubleDecimals = 99;

constexpr __int128 pow10i(int k) {
  __int128 r = 1;
  for (int i = 0; i < k; ++i) r *= 10;
  return r;
}

constexpr __int128 kMaxMantissa = pow10i(kMaxDigits) - 1;

__int128 abs128(__int128 v) { return v < 0 ? -v : v; }

// m * 10^k when the result keeps within the exact range.
bool scaleUp(__int128 m, int k, __int128& out) {
  if (k > kMaxDigits) return m == 0 ? (out = 0, true) : false;
  __int128 f = pow10i(k);
  if (abs128(m) > kMaxMantissa / f) return false;
  out = m * f;
  return true;
}

// m / 10^k rounded half away from zero.
__int128 scaleDown(__int128 m, int k) {
  if (k > kMaxDigits) return 0;
  __int128 f = pow10i(k);
  __int128 q = m / f;
  __int128 r = m % f;
  // r * 2 >= f, without doubling a remainder that may be near 10^38.
  if (abs128(r) >= f - abs128(r)) q += (m < 0 ? -1 : 1);
  return q;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the exponent ("e-12") that may follow a numeral's digits at text[i],
// before n, and moves i past it; false for an "e" without digits. Its
// magnitude stops growing at 100000, far beyond every range.
bool readExponent(std::string_view text, std::size_t& i, std::size_t n, long& exponent) {
  if (i >= n || (text[i] != 'e' && text[i] != 'E')) return true;
  ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= n || !isDigit(text[i])) return false;
  for (; i < n && isDigit(text[i]); ++i) {
    if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
  }
  if (negative) exponent = -exponent;
  return true;
}

// The double in fixed notation with the given decimals, rounded as "%.*f"
// rounds but independent of the process's locale, and without the sign of a
// value that rounds to zero.
std::string fixedText(double v, int decimals) {
  char buf[512];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (!s.empty() && s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos) s.erase(0, 1);
  return s;
}

// Reads a numeral as a double, without regard to the process's locale; a
// magnitude beyond the range of doubles reads as infinity, one below it as 0.
double readDouble(std::string_view digits) {
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  double d = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    std::size_t e = digits.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    bool negative = !digits.empty() && digits[0] == '-';
    d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    if (negative) d = -d;
  }
  return d;
}

}  // namespace

// ---- Number -----------------------------------------------------------------

Number Number::fromDouble(double v, int decimals) {
  Number n;
  n.dbl_ = true;
  n.d_ = v;
  if (decimals < 0) {
    // As many decimals as the value shows at ten places, trailing zeros dropped.
    decimals = 0;
    if (std::isfinite(v)) {
      std::string s = fixedText(v, 10);
      std::size_t point = s.find('.');
      if (point != std::string::npos) {
        std::size_t last = s.find_last_not_of('0');
        decimals = last > point ? static_cast<int>(last - point) : 0;
      }
    }
  }
  n.dec_ = static_cast<std::int8_t>(std::min(decimals, kMaxDoubleDecimals));
  return n;
}

// Reads sign, digits with one point and an optional exponent. The digits stay
// exact while they fit in 38 significant digits and 38 decimals; beyond that
// the numeral becomes a double that keeps its count of decimals. A magnitude
// beyond the range of doubles is no number.
bool Number::parseWide(std::string_view text, Number& out) {
  std::size_t i = 0, n = text.size();
  while (i < n && detail::isValueBlank(text[i])) ++i;
  while (n > i && detail::isValueBlank(text[n - 1])) --n;
  std::string_view body = text.substr(i, n - i);

  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  __int128 m = 0;
  int significant = 0, fraction = 0;
  bool anyDigit = false, point = false, tooLong = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (isDigit(c)) {
      anyDigit = true;
      if (point) ++fraction;
      if (significant > 0 || c != '0') ++significant;
      if (significant > kMaxDigits) tooLong = true;
      else m = m * 10 + (c - '0');
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!anyDigit) return false;

  long exponent = 0;
  if (!readExponent(text, i, n, exponent) || i != n) return false;

  long decimals = fraction - exponent;
  Number r;
  bool exact = !tooLong;
  if (exact && decimals < 0) {
    exact = scaleUp(m, static_cast<int>(-decimals), m);
    decimals = 0;
  }
  if (exact && decimals > kMaxDigits) exact = false;
  if (exact) {
    r.m_ = negative ? -m : m;
    r.dec_ = static_cast<std::int8_t>(decimals);
  } else {
    r.dbl_ = true;
    r.d_ = readDouble(body);
    // Beyond the range of doubles there is no number to carry, and its text
    // would be no numeral ("inf").
    if (!std::isfinite(r.d_)) return false;
    r.dec_ = static_cast<std::int8_t>(std::clamp<long>(fraction - exponent, 0, kMaxDoubleDecimals));
  }
  out = r;
  return true;
}

Number Number::leading(std::string_view text) {
  std::size_t i = 0, n = text.size();
  while (i < n && detail::isValueBlank(text[i])) ++i;
  std::size_t start = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  bool point = false, anyDigit = false;
  for (; i < n; ++i) {
    if (isDigit(text[i])) anyDigit = true;
    else if (text[i] == '.' && !point) point = true;
    else break;
  }
  Number r;
  if (anyDigit) parse(text.substr(start, i - start), r);
  return r;
}

bool Number::isZero() const { return dbl_ ? d_ == 0 : m_ == 0; }
bool Number::isNegative() const { return dbl_ ? d_ < 0 : m_ < 0; }

std::int64_t Number::toIntSlow() const {
  constexpr auto lo = std::numeric_limits<std::int64_t>::min();
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  if (dbl_) {
    if (std::isnan(d_)) return 0;
    if (d_ <= static_cast<double>(lo)) return lo;
    if (d_ >= static_cast<double>(hi)) return hi;
    return static_cast<std::int64_t>(d_);
  }
  // Whole numbers, the usual case, need no division.
  __int128 q = dec_ == 0 ? m_ : m_ / pow10i(dec_);
  if (q < lo) return lo;
  if (q > hi) return hi;
  return static_cast<std::int64_t>(q);
}

bool Number::toUInt(std::uint64_t& out) const {
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (dbl_) {
    // NaN fails every comparison, and so every test here.
    if (!(d_ >= 0 && d_ < kTwoTo64) || std::trunc(d_) != d_) return false;
    out = static_cast<std::uint64_t>(d_);
    return true;
  }
  if (m_ < 0) return false;
  __int128 whole = m_;
  if (dec_ > 0) {
    if (dec_ > kMaxDigits) {
      if (m_ != 0) return false;
    } else {
      if (m_ % pow10i(dec_) != 0) return false;
      whole = m_ / pow10i(dec_);
    }
  }
  if (whole > static_cast<__int128>(std::numeric_limits<std::uint64_t>::max())) return false;
  out = static_cast<std::uint64_t>(whole);
  return true;
}

double Number::toDouble() const {
  if (dbl_) return d_;
  // Small mantissas divide exactly; the rest go through the text so that the
  // double is the one nearest to the decimal.
  if (abs128(m_) < (static_cast<__int128>(1) << 53) && dec_ <= 22) {
    return static_cast<double>(m_) / static_cast<double>(pow10i(dec_));
  }
  return readDouble(text());
}

void Number::appendText(std::string& out) const {
  if (dbl_) {
    out += fixedText(d_, dec_);
    return;
  }
  if (dec_ == 0 && m_ == static_cast<std::int64_t>(m_)) {
    appendWith(out, 20, [&](char* at) { return std::to_chars(at, at + 20, static_cast<std::int64_t>(m_)).ptr; });
    return;
  }
  // Digits from the right, then sign and point placed while copying out. A
  // mantissa that fits 64 bits is divided in 64 bits: 128-bit division is a
  // library call per digit.
  char digits[48];
  int len = 0;
  const __int128 a = abs128(m_);
  if (a <= static_cast<__int128>(std::numeric_limits<std::uint64_t>::max())) {
    auto u = static_cast<std::uint64_t>(a);
    do {
      digits[len++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
  } else {
    __int128 w = a;
    do {
      digits[len++] = static_cast<char>('0' + static_cast<int>(w % 10));
      w /= 10;
    } while (w != 0);
  }
  while (len < dec_ + 1) digits[len++] = '0';
  appendWith(out, static_cast<std::size_t>(len) + 2, [&](char* at) {
    if (m_ < 0) *at++ = '-';
    for (int i = len - 1; i >= 0; --i) {
      *at++ = digits[i];
      if (i == dec_ && dec_ > 0) *at++ = '.';
    }
    return at;
  });
}

std::string Number::text() const {
  std::string s;
  appendText(s);
  return s;
}

Number Number::withDecimals(int decimals) const {
  decimals = std::max(decimals, 0);
  Number r = *this;
  if (dbl_) {
    r.dec_ = static_cast<std::int8_t>(std::min(decimals, kMaxDoubleDecimals));
    if (std::isfinite(d_)) r.d_ = readDouble(fixedText(d_, r.dec_));
    return r;
  }
  if (decimals >= dec_) {
    __int128 m;
    if (decimals <= kMaxDigits && scaleUp(m_, decimals - dec_, m)) {
      r.m_ = m;
      r.dec_ = static_cast<std::int8_t>(decimals);
      return r;
    }
    return fromDouble(toDouble(), decimals);
  }
  r.m_ = scaleDown(m_, dec_ - decimals);
  r.dec_ = static_cast<std::int8_t>(decimals);
  return r;
}

int compare(const Number& a, const Number& b) {
  if (a.dbl_ || b.dbl_) {
    double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  __int128 x = a.m_, y = b.m_;
  // A mantissa that cannot be scaled up is beyond the exact range, so its sign decides.
  if (a.dec_ < b.dec_ && !scaleUp(x, b.dec_ - a.dec_, x)) return x < 0 ? -1 : 1;
  if (b.dec_ < a.dec_ && !scaleUp(y, a.dec_ - b.dec_, y)) return y < 0 ? 1 : -1;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// a + b, or a - b: exact while both are exact and the result fits, else by doubles.
Number Number::addExact(const Number& a, const Number& b, bool subtract) {
  if (!a.dbl_ && !b.dbl_) {
    int decimals = std::max(a.dec_, b.dec_);
    __int128 x, y, z;
    // Two mantissas of 38 digits can overflow 128 bits before the range check.
    if (scaleUp(a.m_, decimals - a.dec_, x) && scaleUp(b.m_, decimals - b.dec_, y) &&
        !(subtract ? __builtin_sub_overflow(x, y, &z) : __builtin_add_overflow(x, y, &z)) &&
        abs128(z) <= kMaxMantissa) {
      Number r;
      r.m_ = z;
      r.dec_ = static_cast<std::int8_t>(decimals);
      return r;
    }
  }
  const double d = subtract ? a.toDouble() - b.toDouble() : a.toDouble() + b.toDouble();
  return Number::fromDouble(d, std::max(a.dec_, b.dec_));
}

Number operator+(const Number& a, const Number& b) { return Number::addExact(a, b, false); }
Number operator-(const Number& a, const Number& b) { return Number::addExact(a, b, true); }

Number operator*(const Number& a, const Number& b) {
  int decimals = a.dec_ + b.dec_;
  if (!a.dbl_ && !b.dbl_ && decimals <= kMaxDigits) {
    __int128 p;
    if (!__builtin_mul_overflow(a.m_, b.m_, &p) && abs128(p) <= kMaxMantissa) {
      Number r;
      r.m_ = p;
      r.dec_ = static_cast<std::int8_t>(decimals);
      return r;
    }
  }
  return Number::fromDouble(a.toDouble() * b.toDouble(), decimals);
}

}  // namespace veltro
