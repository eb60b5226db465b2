// SQL text helpers: values to SQL literals and back, name lists, structure
// checks and the two process-wide library settings.
#include "veltro/sqltext.h"

#include <atomic>
#include <cmath>
#include <cstdio>

#include <charconv>
#include <chrono>
#include <limits>

#include "sql_typed_literal.h"
#include "veltro/append.h"
#include "veltro/binding.h"

namespace veltro {

namespace {

// Constant-initialised, so they hold their initial values before any code of
// the library runs; atomic, so a setting changed in one thread is read whole
// in another (no ordering with anything else is implied).
std::atomic<bool> gCaseSensitive{false};
std::atomic<bool> gPadRight{true};

// The literal writer's codes: the kind letters, "I" for an integer column,
// and Other for every letter that names no literal (written as '').
enum class Code { Number, Integer, Date, Text, Memo, Binary, Logical, Timestamp, Other };

// The one place where a code letter becomes a Code.
Code codeFor(char letter) {
  switch (letter) {
    case 'N': return Code::Number;
    case 'I': return Code::Integer;
    case 'D': return Code::Date;
    case 'C': return Code::Text;
    case 'M': return Code::Memo;
    case 'B': return Code::Binary;
    case 'L': return Code::Logical;
    case 'T': return Code::Timestamp;
    default: return Code::Other;
  }
}

// A value under its own kind: a block's letter is the binary code's.
Code codeFor(const Value& value) { return codeFor(value.kindLetter()); }

bool isNumeral(Code code) { return code == Code::Number || code == Code::Integer; }

// Whether a value is of the kind that a code writes. A value of another kind
// is written by its own kind letter instead (a caller error with no defined
// result otherwise; this keeps it well defined and never unquotes a text).
bool fitsCode(const Value& value, Code code) {
  switch (code) {
    case Code::Number:
    case Code::Integer:
      return value.isNumber();
    case Code::Date:
      return value.isDate();
    case Code::Text:
    case Code::Memo:
      return value.isString();
    case Code::Binary:
      return value.isString() || value.isBlock();
    case Code::Logical:
      return value.isLogical();
    case Code::Timestamp:
      return value.isNumber() || value.isString() || value.isTimestamp();
    case Code::Other:
      return true;
  }
  return true;
}

void appendQuoted(std::string& out, std::string_view text, bool quote) {
  appendWith(out, text.size() + 2, [&](char* at) {
    if (quote) *at++ = '\'';
    at = copyTo(at, text);
    if (quote) *at++ = '\'';
    return at;
  });
}

// 'YYYY-MM-DD HH:MM:SS' of a timestamp value, with '.mmm' when it has
// milliseconds: a DATETIME(3) or (6) column keeps them, a DATETIME(0) one
// takes them as the server takes any fraction.
void appendTimestamp(std::string& out, Timestamp ts, bool quote) {
  int year = 0, month = 0, day = 0;
  Date{ts.day}.toYMD(year, month, day);
  const int secs = ts.msec / 1000;
  const int msec = ts.msec % 1000;
  char buf[48];
  int n = msec != 0 ? std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, month, day,
                                    secs / 3600, secs / 60 % 60, secs % 60, msec)
                    : std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
                                    secs / 3600, secs / 60 % 60, secs % 60);
  appendQuoted(out, std::string_view(buf, n > 0 ? static_cast<std::size_t>(n) : 0), quote);
}

Code codeArgument(const Value& kind, const Value& value) {
  if (kind.isNil()) return codeFor(value);
  // Codes are compared whole: "n", "NN" or "" match no code.
  if (kind.isString() && kind.str().size() == 1) return codeFor(kind.str()[0]);
  return Code::Other;
}

// How texts reach a literal: CLIPVALUE2SQL's rule (trimmed and quoted as they
// are, only code "B" escaped, without a connection), or the library's own
// rule (every text escaped for the connection the statement is for).
struct TextRule {
  bool escape;
  long long conn;
};

// The quoted, escaped literal of a text: spaces and tabs in front and spaces
// behind left out, and a text with nothing else NULL when blankIsNull.
void appendEscapedText(std::string& out, std::string_view text, bool blankIsNull, long long conn) {
  // Escaping turns CR and LF into letters and never makes or takes a blank, so
  // trimming the text before escaping gives what trimming the escaped one gives.
  text = trimRight(text);
  std::size_t lead = 0;
  while (lead < text.size() && (text[lead] == ' ' || text[lead] == '\t')) ++lead;
  text.remove_prefix(lead);
  if (text.empty() && blankIsNull) {
    out.append("NULL", 4);
    return;
  }
  const std::size_t base = out.size();
  out += '\'';
  db::escapeAppend(out, text, conn);
  if (out.size() == base + 1 && !text.empty()) {
    // A text the connection's character set cannot carry escapes to nothing.
    out.resize(base);
    out += blankIsNull ? "NULL" : "''";
    return;
  }
  out += '\'';
}

// A trimmed text (codes "C", "M" and a timestamp held as text).
void appendText(std::string& out, std::string_view text, bool quote, bool blankIsNull, const TextRule& rule) {
  if (rule.escape && quote)
    appendEscapedText(out, text, blankIsNull, rule.conn);
  else
    appendQuoted(out, trimValueText(text), quote);
}

// Code "B": escaped, not trimmed; without a connection for CLIPVALUE2SQL, as
// VAL2ESCAPE does, else for the statement's connection.
void appendBinary(std::string& out, const Value& value, bool quote, const TextRule& rule) {
  if (quote) out += '\'';
  if (!value.isEmpty()) db::escapeAppend(out, value.asString(), rule.escape ? rule.conn : 0);
  if (quote) out += '\'';
}

// Code "T" for a value that fits it: a number, a text or a timestamp.
void appendTimestampLiteral(std::string& out, const Value& value, bool quote, bool notNull, const TextRule& rule) {
  if (value.isNumber()) {
    if (value.number().isNegative())
      out += "NULL";
    else
      value.number().appendText(out);
  } else if (value.isString()) {
    // The query object holds timestamp columns as text; such a text is
    // written as under "C" (trimmed, quoted, NULL when empty).
    if (!notNull && value.isEmpty())
      out += "NULL";
    else
      appendText(out, value.str(), quote, false, rule);
  } else if (value.asTimestamp().empty() && !notNull) {
    out += "NULL";
  } else if (value.asTimestamp().empty()) {
    appendQuoted(out, "0000-00-00 00:00:00", quote);
  } else {
    appendTimestamp(out, value.asTimestamp(), quote);
  }
}

void writeLiteral(std::string& out, const Value& value, Code code, bool quote, bool notNull, const TextRule& rule) {
  // The common cases first: a logical, and an exact non-zero number, under their own codes.
  if (code == Code::Logical && value.isLogical()) {
    out += value.asBool() ? '1' : '0';
    return;
  }
  if (isNumeral(code) && value.isNumber() && value.number().isExact() && !value.number().isZero()) {
    value.number().appendText(out);
    return;
  }
  const bool nullable = isNumeral(code) || code == Code::Date || code == Code::Text;
  if (nullable && !notNull && value.isEmpty()) {
    out += "NULL";
    return;
  }
  if (!fitsCode(value, code)) {
    writeLiteral(out, value, codeFor(value), quote, notNull, rule);
    return;
  }
  // An infinite or undefined double has no number text; its "inf" or "nan"
  // would read as a column name inside the statement.
  if (value.isNumber() && !value.number().isExact() && !std::isfinite(value.number().toDouble()) &&
      (isNumeral(code) || code == Code::Timestamp)) {
    out += "NULL";
    return;
  }
  switch (code) {
    case Code::Number:
    case Code::Integer:
      value.number().appendText(out);
      return;
    case Code::Date:
      appendQuoted(out, value.asDate().sqlText(), quote);
      return;
    case Code::Text:
    case Code::Memo:
      // An empty memo trims to nothing and so gives the two quotes.
      appendText(out, value.str(), quote, false, rule);
      return;
    case Code::Binary:
      appendBinary(out, value, quote, rule);
      return;
    case Code::Logical:
      out += value.asBool() ? '1' : '0';
      return;
    case Code::Timestamp:
      appendTimestampLiteral(out, value, quote, notNull, rule);
      return;
    case Code::Other:
      appendQuoted(out, {}, quote);
      return;
  }
}

}  // namespace

void appendSqlLiteral(std::string& out, const Value& value, char kind, bool quote, bool notNull) {
  writeLiteral(out, value, codeFor(kind), quote, notNull, TextRule{false, 0});
}

void appendLiteral(std::string& out, const Value& value, char kind, bool notNull, long long conn) {
  const Code code = kind == '\0' ? codeFor(value) : codeFor(kind);
  // Texts under their own codes, the usual case of Update and Save, go straight to escaping.
  if (value.isString() && (code == Code::Text || code == Code::Memo)) {
    appendEscapedText(out, value.str(), code == Code::Text && !notNull, conn);
    return;
  }
  writeLiteral(out, value, code, true, notNull, TextRule{true, conn});
}

std::string sqlLiteral(const Value& value, long long conn, char kind, bool notNull) {
  std::string out;
  appendLiteral(out, value, kind, notNull, conn);
  return out;
}

namespace detail {

namespace {

// 'YYYY-MM-DD' of a day number (days since 1970-01-01); false outside years 0-9999.
bool appendDay(char*& at, std::int64_t days) {
  const std::chrono::year_month_day ymd{std::chrono::sys_days(std::chrono::days(days))};
  const int y = static_cast<int>(ymd.year());
  if (y < 0 || y > 9999) return false;
  at += std::snprintf(at, 16, "%04d-%02u-%02u", y, static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return true;
}

// "HH:MM:SS" and ".ffffff" when micro is not 0; hours may pass 24 (a TIME).
void appendClock(char*& at, std::int64_t hours, std::int64_t micro) {
  at += std::snprintf(at, 40, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                      static_cast<long long>(micro / 60000000 % 60), static_cast<long long>(micro / 1000000 % 60));
  if (micro % 1000000 != 0) at += std::snprintf(at, 16, ".%06lld", static_cast<long long>(micro % 1000000));
}

// 'YYYY-MM-DD HH:MM:SS' of microseconds since 1970-01-01; false outside years 0-9999.
bool appendDateTime(char*& at, std::int64_t micro) {
  const DayAndClock when = dayAndClock(micro);
  *at++ = '\'';
  if (!appendDay(at, when.day)) return false;
  *at++ = ' ';
  appendClock(at, when.micro / 3600000000LL, when.micro);
  *at++ = '\'';
  return true;
}

// 'HH:MM:SS' of a TIME in microseconds, '-' in front when negative; false for
// the one value whose magnitude an int64 cannot hold.
bool appendTime(char*& at, std::int64_t time) {
  if (time == std::numeric_limits<std::int64_t>::min()) return false;
  const std::int64_t micro = time < 0 ? -time : time;
  *at++ = '\'';
  if (time < 0) *at++ = '-';
  appendClock(at, micro / 3600000000LL, micro);
  *at++ = '\'';
  return true;
}

// The quoted, escaped text of a parameter; false (out unchanged) when escaping
// gives nothing: the connection's set cannot carry the text.
bool appendParamText(std::string& out, std::string_view text, long long conn) {
  const std::size_t base = out.size();
  out += '\'';
  db::escapeAppend(out, text, conn);
  if (out.size() == base + 1 && !text.empty()) {
    out.resize(base);
    return false;
  }
  out += '\'';
  return true;
}

}  // namespace

bool appendParamLiteral(std::string& out, const Param& p, long long conn) {
  using Kind = Param::Kind;
  char buf[128];
  char* at = buf;
  switch (p.kind) {
    case Kind::Null:
      out += "NULL";
      return true;
    case Kind::Int:
      at = std::to_chars(buf, buf + sizeof buf, p.i).ptr;
      break;
    case Kind::UInt:
      at = std::to_chars(buf, buf + sizeof buf, p.u).ptr;
      break;
    case Kind::Float:
    case Kind::Double: {
      if (!std::isfinite(p.d)) return false;
      // The shortest text that reads back as the same value; a float's as a float.
      at = p.kind == Kind::Float ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(p.d)).ptr
                                 : std::to_chars(buf, buf + sizeof buf, p.d).ptr;
      break;
    }
    case Kind::Decimal:
      if (!p.number->isExact() && !std::isfinite(p.number->toDouble())) return false;
      p.number->appendText(out);
      return true;
    case Kind::Text:
      return appendParamText(out, p.text, conn);
    case Kind::Date:
      *at++ = '\'';
      if (!appendDay(at, p.i)) return false;
      *at++ = '\'';
      break;
    case Kind::DateTime:
      if (!appendDateTime(at, p.i)) return false;
      break;
    case Kind::Time:
      if (!appendTime(at, p.i)) return false;
      break;
  }
  out.append(buf, static_cast<std::size_t>(at - buf));
  return true;
}

}  // namespace detail

std::string CLIPVALUE2SQL(const Value& value, const Value& kind, const Value& quote, const Value& notNull) {
  std::string out;
  writeLiteral(out, value, codeArgument(kind, value), quote.isLogical() ? quote.asBool() : true, notNull.asBool(),
               TextRule{false, 0});
  return out;
}

Date SQLDATE2CLIP(const Value& text) {
  const std::string& s = text.asString();
  if (s.size() < 7) return Date{};
  const std::string digits = s.substr(0, 4) + s.substr(5, 2) + s.substr(s.size() - 2);
  for (char c : digits)
    if (c < '0' || c > '9') return Date{};
  auto num = [&](std::size_t from, std::size_t len) {
    int n = 0;
    for (std::size_t i = from; i < from + len; ++i) n = n * 10 + (digits[i] - '0');
    return n;
  };
  return Date::fromYMD(num(0, 4), num(4, 2), num(6, 2));
}

std::string SQLSTRINGFROMARRAY(const Value& names) {
  std::string out;
  if (!names.isArray()) return out;
  for (const Value& name : names.items()) {
    out += lowerCaseName(name.asString());
    out += ", ";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return out;
}

Value ARRAYFROMSQLSTRING(const Value& text) {
  std::string_view s = text.asString();
  Array pieces;
  for (;;) {
    std::size_t comma = s.find(',');
    pieces.emplace_back(std::string(s.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  return Value::arrayOf(std::move(pieces));
}

Value VERIFYSTRUCTURE(const Value& definition) {
  if (!definition.isArray()) return {};
  for (const Value& column : definition.items()) {
    if (!column.isArray() || column.items().size() < kDefDefault) return Value(9001);
    const Value notNull = column.at(kDefNotNull);
    if (!notNull.isNil() && !notNull.isLogical()) return Value(9002);
  }
  return {};
}

std::string FNOTNULL(const Value& column, const Value& primaryKey, const Value& autoIncrement) {
  if (column.at(kDefNotNull).asBool()) return " NOT NULL ";
  const std::string name = lowerCaseName(column.at(kDefName).asString());
  if ((primaryKey.isString() && primaryKey.str() == name) ||
      (autoIncrement.isString() && autoIncrement.str() == name))
    return " NOT NULL ";
  return "";
}

bool Q_SETCASESENSITIVE() { return gCaseSensitive.load(std::memory_order_relaxed); }

bool Q_SETCASESENSITIVE(const Value& on) {
  const bool before = gCaseSensitive.load(std::memory_order_relaxed);
  if (on.isLogical()) gCaseSensitive.store(on.asBool(), std::memory_order_relaxed);
  return before;
}

bool Q_SETPADRIGHT() { return gPadRight.load(std::memory_order_relaxed); }

bool Q_SETPADRIGHT(const Value& on) {
  const bool before = gPadRight.load(std::memory_order_relaxed);
  if (on.isLogical()) gPadRight.store(on.asBool(), std::memory_order_relaxed);
  return before;
}

bool caseSensitiveNames() { return gCaseSensitive.load(std::memory_order_relaxed); }
bool padRight() { return gPadRight.load(std::memory_order_relaxed); }



}  // namespace veltro
