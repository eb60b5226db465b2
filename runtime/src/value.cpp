// The dynamic value: exact decimal numbers, day-number dates, the empty-value
// rule and the text helpers that every other part of the library leans on.
#include "veltro/value.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>

#include "veltro/append.h"
#include "veltro/object.h"
#include "veltro/table.h"

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
bool isValueBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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
  while (i < n && isValueBlank(text[i])) ++i;
  while (n > i && isValueBlank(text[n - 1])) --n;
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
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (i >= n || !isDigit(text[i])) return false;
    for (; i < n && isDigit(text[i]); ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (expNegative) exponent = -exponent;
  }
  if (i != n) return false;

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
  while (i < n && isValueBlank(text[i])) ++i;
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

// ---- Date -------------------------------------------------------------------

namespace {

// Day 1 is 0001-01-01 of the proleptic Gregorian calendar.
constexpr std::int64_t kDayOfEpoch = 719163;  // 1970-01-01

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// The process's date format. Threads read it without a lock while another may
// set it: each format set is a text of its own, published whole through one
// pointer and never freed (nor changed), so the reference dateFormat() hands
// out stays readable. A format set again reuses its text; programs set one or
// two, so the kept texts stay few.
class DateFormatStorage {
 public:
  DateFormatStorage() { set("mm/dd/yyyy"); }
  const std::string& get() const { return *current_.load(std::memory_order_acquire); }
  void set(std::string_view format) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* text = nullptr;
    for (const std::unique_ptr<const std::string>& kept : kept_)
      if (*kept == format) text = kept.get();
    if (!text) text = kept_.emplace_back(std::make_unique<const std::string>(format)).get();
    current_.store(text, std::memory_order_release);
  }

 private:
  std::mutex mutex_;  // held by set
  std::vector<std::unique_ptr<const std::string>> kept_;
  std::atomic<const std::string*> current_{nullptr};
};

DateFormatStorage& dateFormatStorage() {
  // Never destroyed: a date may be displayed during static destruction.
  static DateFormatStorage* storage = new DateFormatStorage;
  return *storage;
}

void appendPadded(std::string& out, int value, int width, bool blank) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  std::string_view s(buf);
  if (s.size() > static_cast<std::size_t>(width)) s = s.substr(s.size() - width);
  if (blank) out.append(static_cast<std::size_t>(width), ' ');
  else out += s;
}

bool startsWithNoCase(std::string_view s, std::size_t at, std::string_view token) {
  return s.size() - at >= token.size() && equalsNoCase(s.substr(at, token.size()), token);
}

}  // namespace

Date Date::fromYMD(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
    return Date{};
  }
  return Date{static_cast<std::int32_t>(daysFromCivil(year, static_cast<unsigned>(month),
                                                      static_cast<unsigned>(day)) + kDayOfEpoch)};
}

void Date::toYMD(int& year, int& month, int& d) const {
  if (empty()) {
    year = month = d = 0;
    return;
  }
  civilFromDays(static_cast<std::int64_t>(day) - kDayOfEpoch, year, month, d);
}

std::string Date::sqlText() const {
  if (empty()) return "    -  -  ";
  int y, m, d;
  toYMD(y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string Date::digits8() const {
  if (empty()) return std::string(8, ' ');
  int y, m, d;
  toYMD(y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

// Writes the date by the process's format: "dd", "mm", "yyyy" and "yy" (any
// case) stand for the parts, every other character is copied. The empty date
// shows blanks where the digits would be.
std::string Date::display() const {
  int y = 0, m = 0, d = 0;
  toYMD(y, m, d);
  const bool blank = empty();
  const std::string& format = dateFormatStorage().get();
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    if (startsWithNoCase(format, i, "yyyy")) {
      appendPadded(out, y, 4, blank);
      i += 4;
    } else if (startsWithNoCase(format, i, "yy")) {
      appendPadded(out, y % 100, 2, blank);
      i += 2;
    } else if (startsWithNoCase(format, i, "mm")) {
      appendPadded(out, m, 2, blank);
      i += 2;
    } else if (startsWithNoCase(format, i, "dd")) {
      appendPadded(out, d, 2, blank);
      i += 2;
    } else {
      out += format[i++];
    }
  }
  return out;
}

void setDateFormat(std::string_view format) { dateFormatStorage().set(format); }
const std::string& dateFormat() { return dateFormatStorage().get(); }

// ---- Value ------------------------------------------------------------------

namespace {

// Releases an array without recursing once per nesting level: nested arrays
// that would die with it are handed to the outermost release, which frees
// them one after another.
thread_local std::vector<ArrayPtr>* pendingArrays = nullptr;

struct ArrayRelease {
  void operator()(Array* array) const {
    std::vector<ArrayPtr> local;
    const bool outermost = pendingArrays == nullptr;
    if (outermost) pendingArrays = &local;
    for (Value& v : *array) {
      if (v.isArray()) {
        pendingArrays->push_back(v.asArray());
        v = Value();
      }
    }
    delete array;
    if (outermost) {
      while (!local.empty()) {
        ArrayPtr next = std::move(local.back());
        local.pop_back();
        next.reset();  // may append to local
      }
      pendingArrays = nullptr;
    }
  }
};

}  // namespace

Value Value::array(std::initializer_list<Value> items) { return arrayOf(Array(items)); }

Value Value::arrayOf(Array items) { return Value(ArrayPtr(new Array(std::move(items)), ArrayRelease{})); }

Value Value::table(bool caseInsensitive) { return Value(std::make_shared<Table>(caseInsensitive)); }

const std::string& Value::noText() {
  static const std::string none;
  return none;
}

bool Value::isEmpty() const {
  // By the alternative's position: monostate, bool, Number, Str, Date,
  // Timestamp, ArrayPtr, TablePtr, CallablePtr, ObjectPtr.
  using V = decltype(v_);
  static_assert(std::is_same_v<std::variant_alternative_t<3, V>, Str> &&
                std::is_same_v<std::variant_alternative_t<7, V>, TablePtr> && std::variant_size_v<V> == 10);
  switch (v_.index()) {
    case 0: return true;
    case 1: return !*std::get_if<bool>(&v_);
    case 2: return std::get_if<Number>(&v_)->isZero();
    case 3: return isBlankText(std::get_if<Str>(&v_)->s);
    case 4: return std::get_if<Date>(&v_)->empty();
    case 5: return std::get_if<Timestamp>(&v_)->empty();
    case 6: {
      const ArrayPtr& a = *std::get_if<ArrayPtr>(&v_);
      return !a || a->empty();
    }
    case 7: {
      const TablePtr& t = *std::get_if<TablePtr>(&v_);
      return !t || t->empty();
    }
    default: return false;  // blocks and objects
  }
}

std::size_t Value::len() const {
  if (isString()) return str().size();
  if (isArray()) {
    const ArrayPtr& a = std::get<ArrayPtr>(v_);
    return a ? a->size() : 0;
  }
  if (isTable()) {
    const TablePtr& t = std::get<TablePtr>(v_);
    return t ? t->size() : 0;
  }
  return 0;
}

Value Value::at(std::size_t n) const {
  if (!isArray()) return Value();
  const ArrayPtr& a = std::get<ArrayPtr>(v_);
  if (!a || n < 1 || n > a->size()) return Value();
  return (*a)[n - 1];
}

Value Value::call(Args args) const {
  if (!isBlock()) return Value();
  const CallablePtr& c = std::get<CallablePtr>(v_);
  if (!c || !*c) return Value();
  return (*c)(args);
}

std::string Value::toString() const {
  switch (kind()) {
    case Kind::Nil: return "NIL";
    case Kind::Logical: return std::get<bool>(v_) ? ".T." : ".F.";
    case Kind::Number: return number().text();
    case Kind::Text:
    case Kind::Memo: return str();
    case Kind::Date: return asDate().display();
    case Kind::Timestamp: {
      Timestamp t = asTimestamp();
      int seconds = t.msec / 1000;
      char buf[32];
      std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
      return Date{t.day}.display() + buf;
    }
    case Kind::Array: return "{Array(" + std::to_string(len()) + ")}";
    case Kind::Table: return "{Table(" + std::to_string(len()) + ")}";
    case Kind::Block: return "{Block}";
    case Kind::Object: {
      ObjectPtr o = asObject();
      return o ? "{Object " + std::string(o->className()) + "}" : "{Object}";
    }
  }
  return std::string();
}

// Numbers compare by value whatever their decimals or exactness. A text and a
// memo with the same bytes are equal: both are strings, the memo only marks a
// long one. Arrays, tables, blocks and objects are equal only to themselves.
bool operator==(const Value& a, const Value& b) {
  if (a.isString() && b.isString()) return a.str() == b.str();
  if (a.v_.index() != b.v_.index()) return false;
  switch (a.kind()) {
    case Kind::Nil: return true;
    case Kind::Logical: return a.asBool() == b.asBool();
    case Kind::Number: return compare(a.number(), b.number()) == 0;
    case Kind::Date: return a.asDate() == b.asDate();
    case Kind::Timestamp: return a.asTimestamp() == b.asTimestamp();
    case Kind::Array: return a.asArray() == b.asArray();
    case Kind::Table: return a.asTable() == b.asTable();
    case Kind::Block: return a.asBlock() == b.asBlock();
    case Kind::Object: return a.asObject() == b.asObject();
    default: return false;
  }
}

// ---- Text helpers -----------------------------------------------------------

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
