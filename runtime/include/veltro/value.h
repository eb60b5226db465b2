// The dynamic value that crosses every interface of the library.
#pragma once

// Every public header includes this one: one clear message instead of many obscure ones.
#if __cplusplus < 202002L
#error "Veltro's headers need C++20: compile with -std=c++20 or newer"
#endif

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "veltro/export.h"

namespace veltro {

class Value;
class Table;
class Object;

namespace detail {
// The position of T among a variant's alternatives, so that code can name an
// alternative by its type instead of by a number that reordering would break.
template <class T, class V>
struct AlternativeIndex;
template <class T, class... Ts>
struct AlternativeIndex<T, std::variant<Ts...>> {
  static constexpr std::size_t value = [] {
    constexpr bool same[] = {std::is_same_v<T, Ts>...};
    std::size_t i = 0;
    while (i < sizeof...(Ts) && !same[i]) ++i;
    return i;
  }();
  static_assert(value < sizeof...(Ts), "not an alternative of the variant");
};
}  // namespace detail

using Array = std::vector<Value>;
using ArrayPtr = std::shared_ptr<Array>;
using TablePtr = std::shared_ptr<Table>;
using ObjectPtr = std::shared_ptr<Object>;
using Args = std::span<const Value>;
using Callable = std::function<Value(Args)>;
using CallablePtr = std::shared_ptr<const Callable>;

// Kind letters, as the library tests them.
enum class Kind : char {
  Nil = 'U',
  Logical = 'L',
  Number = 'N',
  Text = 'C',
  Memo = 'M',
  Date = 'D',
  Timestamp = 'T',
  Array = 'A',
  Table = 'H',
  Block = 'B',
  Object = 'O',
};

// The exact mantissa of a Number: GCC's and Clang's 128-bit integer
// (__extension__ keeps -Wpedantic quiet about it in callers' builds).
__extension__ typedef __int128 Mantissa;

// A number: an exact decimal (up to 38 significant digits, with its number of
// decimals) or, when a caller gives one or exact digits run out, a double that
// carries its number of decimals.
class VELTRO_API Number {
 public:
  Number() = default;
  // Exact whole numbers.
  static Number fromInt(std::int64_t v) { Number n; n.m_ = v; return n; }
  static Number fromUInt(std::uint64_t v) { Number n; n.m_ = static_cast<Mantissa>(v); return n; }
  // A double given by a caller; decimals < 0 means "as many as it needs" (up to 10, trailing zeros dropped).
  static Number fromDouble(double v, int decimals = -1);
  // Exact parse of a server numeral ("-12", "3.1400", "1e5"); false when the text is no numeral
  // or its magnitude is beyond the range of doubles.
  static bool parse(std::string_view text, Number& out) { return parseShort(text, out) || parseWide(text, out); }
  // The leading decimal number of a text: blanks skipped, sign, digits and one point; 0 when none.
  static Number leading(std::string_view text);

  // Exact (not a double); its number of decimals; zero; below zero.
  bool isExact() const { return !dbl_; }
  int decimals() const { return dec_; }
  bool isZero() const;
  bool isNegative() const;
  // Truncated toward zero, saturated. Whole numbers in 64 bits, the usual
  // case (counters, row numbers, handles), are answered inline.
  std::int64_t toInt() const {
    if (!dbl_ && dec_ == 0 && m_ == static_cast<std::int64_t>(m_)) return static_cast<std::int64_t>(m_);
    return toIntSlow();
  }
  // The number exactly as an unsigned 64-bit integer; false (out untouched)
  // when it has a fraction, is negative or is 2^64 or more.
  bool toUInt(std::uint64_t& out) const;
  double toDouble() const;
  // Number text: decimal, no blanks, '-' when negative, exactly decimals() digits after the point.
  std::string text() const;
  void appendText(std::string& out) const;
  // Same number with another count of decimals (rounded half away from zero).
  Number withDecimals(int decimals) const;

  friend VELTRO_API int compare(const Number& a, const Number& b);
  friend bool operator==(const Number& a, const Number& b) { return compare(a, b) == 0; }
  friend VELTRO_API Number operator+(const Number& a, const Number& b);
  friend VELTRO_API Number operator-(const Number& a, const Number& b);
  friend VELTRO_API Number operator*(const Number& a, const Number& b);

 private:
  static Number addExact(const Number& a, const Number& b, bool subtract);
  // Server numerals are mostly [-]digits[.digits] of a few digits: those that
  // fit in 64 bits are read inline, without the general reading's wide arithmetic.
  static bool parseShort(std::string_view text, Number& out) {
    const std::size_t size = text.size();
    const bool negative = size > 0 && text[0] == '-';
    std::size_t at = negative ? 1 : 0;
    if (at >= size) return false;
    std::int64_t m = 0;
    int digits = 0, fraction = 0;
    bool point = false;
    for (; at < size; ++at) {
      const char c = text[at];
      if (c >= '0' && c <= '9' && digits < 18) {
        m = m * 10 + (c - '0');
        ++digits;
        fraction += point;
      } else if (c == '.' && !point) {
        point = true;
      } else {
        return false;
      }
    }
    if (digits == 0) return false;
    out = Number();
    out.m_ = negative ? -m : m;
    out.dec_ = static_cast<std::int8_t>(fraction);
    return true;
  }
  static bool parseWide(std::string_view text, Number& out);
  std::int64_t toIntSlow() const;

  Mantissa m_ = 0;  // exact mantissa: value = m_ / 10^dec_
  double d_ = 0;    // used when dbl_
  std::int8_t dec_ = 0;
  bool dbl_ = false;
};

// A date as a day number; 0 is the empty date.
struct VELTRO_API Date {
  std::int32_t day = 0;
  static Date fromYMD(int year, int month, int day);  // empty date when not a valid date
  bool empty() const { return day == 0; }
  void toYMD(int& year, int& month, int& day) const;
  std::string sqlText() const;      // "YYYY-MM-DD"; "    -  -  " for the empty date
  std::string digits8() const;      // "YYYYMMDD"; eight blanks for the empty date
  std::string display() const;      // by the process's date format, e.g. "dd/mm/yyyy"
  friend bool operator==(Date a, Date b) { return a.day == b.day; }
  friend auto operator<=>(Date a, Date b) { return a.day <=> b.day; }
};

// A date and a time of day in milliseconds; both 0 is the empty timestamp.
struct Timestamp {
  std::int32_t day = 0;
  std::int32_t msec = 0;
  bool empty() const { return day == 0 && msec == 0; }
  friend bool operator==(Timestamp a, Timestamp b) { return a.day == b.day && a.msec == b.msec; }
};

// The date display format used by Date::display ("dd/mm/yyyy", "mm/dd/yyyy", "yyyy-mm-dd", ...).
VELTRO_API void setDateFormat(std::string_view format);
VELTRO_API const std::string& dateFormat();

// One value of any Kind. Copies share what arrays, tables, blocks and objects
// hold; texts, numbers and dates are copied.
class VELTRO_API Value {
 public:
  // Nil by default; each C++ type makes its kind: whole numbers and doubles a
  // Number, texts a text (never a memo), a callable a block, an object's
  // shared_ptr an object.
  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int n) : v_(Number::fromInt(n)) {}
  Value(long n) : v_(Number::fromInt(n)) {}
  Value(long long n) : v_(Number::fromInt(n)) {}
  Value(unsigned n) : v_(Number::fromInt(n)) {}
  Value(unsigned long n) : v_(Number::fromUInt(n)) {}
  Value(unsigned long long n) : v_(Number::fromUInt(n)) {}
  Value(double d) : v_(Number::fromDouble(d)) {}
  Value(const Number& n) : v_(n) {}
  Value(const char* s) : v_(Str{std::string(s ? s : ""), false}) {}
  Value(std::string s) : v_(Str{std::move(s), false}) {}
  Value(std::string_view s) : v_(Str{std::string(s), false}) {}
  Value(Date d) : v_(d) {}
  Value(Timestamp t) : v_(t) {}
  Value(ArrayPtr a) : v_(std::move(a)) {}
  Value(TablePtr t) : v_(std::move(t)) {}
  Value(CallablePtr c) : v_(std::move(c)) {}
  Value(Callable c) : v_(std::make_shared<const Callable>(std::move(c))) {}
  template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
  Value(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}

  // A memo text, a number with its decimals, an array of the items, an
  // empty table.
  static Value memo(std::string s) { Value v; v.v_ = Str{std::move(s), true}; return v; }
  static Value number(double d, int decimals) { return Value(Number::fromDouble(d, decimals)); }
  static Value array(std::initializer_list<Value> items = {});
  static Value arrayOf(Array items);
  static Value table(bool caseInsensitive = false);

  // The kind held, and its letter.
  Kind kind() const {
    switch (v_.index()) {
      case indexOf<bool>: return Kind::Logical;
      case indexOf<Number>: return Kind::Number;
      case indexOf<Str>: return std::get_if<Str>(&v_)->memo ? Kind::Memo : Kind::Text;
      case indexOf<Date>: return Kind::Date;
      case indexOf<Timestamp>: return Kind::Timestamp;
      case indexOf<ArrayPtr>: return Kind::Array;
      case indexOf<TablePtr>: return Kind::Table;
      case indexOf<CallablePtr>: return Kind::Block;
      case indexOf<ObjectPtr>: return Kind::Object;
      default: return Kind::Nil;
    }
  }
  char kindLetter() const { return static_cast<char>(kind()); }

  // Kind tests.
  bool isNil() const { return v_.index() == indexOf<std::monostate>; }
  bool isLogical() const { return std::holds_alternative<bool>(v_); }
  bool isNumber() const { return std::holds_alternative<Number>(v_); }
  bool isString() const { return std::holds_alternative<Str>(v_); }  // text or memo
  bool isText() const { return isString() && !std::get<Str>(v_).memo; }
  bool isMemo() const { return isString() && std::get<Str>(v_).memo; }
  bool isDate() const { return std::holds_alternative<Date>(v_); }
  bool isTimestamp() const { return std::holds_alternative<Timestamp>(v_); }
  bool isArray() const { return std::holds_alternative<ArrayPtr>(v_); }
  bool isTable() const { return std::holds_alternative<TablePtr>(v_); }
  bool isBlock() const { return std::holds_alternative<CallablePtr>(v_); }
  bool isObject() const { return std::holds_alternative<ObjectPtr>(v_); }

  // Checked accessors: the neutral value (false, 0, "", empty date, null pointer) for another kind.
  bool asBool() const { return isLogical() && std::get<bool>(v_); }
  Number asNumber() const { return isNumber() ? std::get<Number>(v_) : Number(); }
  // Truncated toward zero and saturated at the ends of the signed range: a
  // BIGINT UNSIGNED above 9223372036854775807 reads as that; use asUInt.
  std::int64_t asInt() const { return isNumber() ? std::get<Number>(v_).toInt() : 0; }
  // The number exactly, from 0 to 18446744073709551615; nullopt for another
  // kind and for a number that does not fit (negative, a fraction, too large).
  std::optional<std::uint64_t> asUInt() const {
    std::uint64_t n = 0;
    if (!isNumber() || !std::get<Number>(v_).toUInt(n)) return std::nullopt;
    return n;
  }
  double asDouble() const { return isNumber() ? std::get<Number>(v_).toDouble() : 0.0; }
  // Text or memo; "" otherwise. A temporary value hands its text over instead
  // of a reference that would die with it (q->FieldGet(1).asString()).
  const std::string& asString() const& {
    const Str* s = std::get_if<Str>(&v_);
    return s ? s->s : noText();
  }
  std::string asString() && {
    Str* s = std::get_if<Str>(&v_);
    return s ? std::move(s->s) : std::string();
  }
  Date asDate() const { return isDate() ? std::get<Date>(v_) : Date{}; }
  Timestamp asTimestamp() const { return isTimestamp() ? std::get<Timestamp>(v_) : Timestamp{}; }
  ArrayPtr asArray() const { return isArray() ? std::get<ArrayPtr>(v_) : nullptr; }
  TablePtr asTable() const { return isTable() ? std::get<TablePtr>(v_) : nullptr; }
  CallablePtr asBlock() const { return isBlock() ? std::get<CallablePtr>(v_) : nullptr; }
  ObjectPtr asObject() const { return isObject() ? std::get<ObjectPtr>(v_) : nullptr; }
  // The object as a T, or nullptr (defined in object.h, where objects are complete).
  template <class T>
  std::shared_ptr<T> asObjectOf() const;

  // Unchecked accessors: the caller has tested the kind. On a temporary
  // value they return copies (a text is moved out), not references into it.
  const Number& number() const& { return *std::get_if<Number>(&v_); }
  Number number() && { return *std::get_if<Number>(&v_); }
  const std::string& str() const& { return std::get_if<Str>(&v_)->s; }
  std::string& str() & { return std::get_if<Str>(&v_)->s; }
  std::string str() && { return std::move(std::get_if<Str>(&v_)->s); }
  // The array is shared: a copy of a temporary's would drop writes meant for
  // the others that share it, and a reference dies with a temporary that was
  // its only owner. Keep the value (or asArray()) and take items() from it.
  Array& items() const& { return **std::get_if<ArrayPtr>(&v_); }
  Array& items() && = delete;
  // The table held, or nullptr; no reference is taken, so the caller keeps the value alive.
  Table* tableOrNull() const {
    const TablePtr* t = std::get_if<TablePtr>(&v_);
    return t ? t->get() : nullptr;
  }

  // Copies other into this value. Between values of the same kind the copy
  // reuses this value's storage (a text keeps its buffer): rows read into the
  // same tables row after row cost no allocation.
  void assign(const Value& other);
  // Stores a number, logical or date, in place when the value holds one already.
  void setNumber(const Number& n) { put(n); }
  void setLogical(bool b) { put(b); }
  void setDate(Date d) { put(d); }

  // The empty-value rule: nil, 0, a text of only blanks/tabs/CR/LF, the empty date or
  // timestamp, false, an array or table without elements. Blocks and objects never are.
  bool isEmpty() const;

  // Number of elements of an array or table, bytes of a text; 0 otherwise.
  std::size_t len() const;
  // Element n (from 1) of an array; nil when out of range or not an array.
  Value at(std::size_t n) const;

  // Calls a block with arguments; nil when not a block.
  Value call(Args args = {}) const;
  template <class... A>
  Value operator()(A&&... a) const {
    Value argv[] = {Value(std::forward<A>(a))..., Value()};
    return call(Args(argv, sizeof...(A)));
  }

  // A readable rendering for messages and tests (number text, text as is, dates by the display format).
  std::string toString() const;

  // Exact equality: same kind and same value (texts byte for byte, arrays by identity).
  friend VELTRO_API bool operator==(const Value& a, const Value& b);

 private:
  struct Str {
    std::string s;
    bool memo = false;
  };
  static const std::string& noText();
  template <class T>
  void put(const T& x) {
    if (T* held = std::get_if<T>(&v_))
      *held = x;
    else
      v_ = x;
  }
  using Variant = std::variant<std::monostate, bool, Number, Str, Date, Timestamp, ArrayPtr, TablePtr, CallablePtr, ObjectPtr>;
  // The variant's position of alternative T.
  template <class T>
  static constexpr std::size_t indexOf = detail::AlternativeIndex<T, Variant>::value;
  Variant v_;
};

inline void Value::assign(const Value& other) {
  if (v_.index() == other.v_.index()) {
    if (Str* a = std::get_if<Str>(&v_)) {
      const Str& b = *std::get_if<Str>(&other.v_);
      a->s.assign(b.s);
      a->memo = b.memo;
      return;
    }
    if (Number* a = std::get_if<Number>(&v_)) {
      *a = *std::get_if<Number>(&other.v_);
      return;
    }
  }
  if (this != &other) *this = other;
}

// Blanks for the empty-value rule: space, tab, CR, LF.
VELTRO_API bool isBlankText(std::string_view s);
// Removes leading spaces, tabs, CRs and LFs and trailing spaces (a trailing tab stays).
VELTRO_API std::string_view trimValueText(std::string_view s);
// Removes spaces from both ends only.
VELTRO_API std::string_view trimBlanks(std::string_view s);
// Removes trailing spaces only.
VELTRO_API std::string_view trimRight(std::string_view s);
// ASCII case folding.
VELTRO_API std::string lower(std::string_view s);
VELTRO_API std::string upper(std::string_view s);
inline char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
// A hash of the bytes, case-folded when fold is set, so that lookups that
// ignore case never build a lower-cased copy of the key.
VELTRO_API std::size_t keyHash(std::string_view s, bool fold);
// Inline: per-field lookups by name run through it.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

}  // namespace veltro
