// CLIPVALUE2SQL on values of every kind under every kind code and switch: the
// literal of a number is a numeral or NULL, a date literal names a real date,
// an escaped text cannot end its quotes early, and the hot-path form writes
// the same text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/value.h"

using veltro::fuzz::check;
using veltro::fuzz::isNumeral;
using veltro::Value;

namespace {

Value makeValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return Value();
    case 1: return Value(in.ConsumeBool());
    case 2: {
      veltro::Number n;
      veltro::Number::parse(in.ConsumeRandomLengthString(64), n);
      return Value(n);
    }
    case 3: return Value(in.ConsumeIntegral<std::int64_t>());
    case 4: return Value::number(in.ConsumeFloatingPoint<double>(), in.ConsumeIntegralInRange<int>(-1, 120));
    case 5: return Value(in.ConsumeRandomLengthString(256));
    case 6: return Value::memo(in.ConsumeRandomLengthString(256));
    case 7: return Value(veltro::Date{in.ConsumeIntegral<std::int32_t>()});
    case 8: return Value(veltro::Timestamp{in.ConsumeIntegral<std::int32_t>(), in.ConsumeIntegral<std::int32_t>()});
    case 9: return in.ConsumeBool() ? Value::array() : Value::array({Value(1), Value("x")});
    case 10: return in.ConsumeBool() ? Value::table() : Value(veltro::Callable([](veltro::Args) { return Value(); }));
    default: {
      static const veltro::ServerPtr server = veltro::TQuillonSrv::create();
      return Value(server);
    }
  }
}

// A quoted literal whose quotes are its first and last characters: every
// quote inside is escaped by a backslash.
bool closedLiteral(std::string_view s) {
  if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return false;
  s = s.substr(1, s.size() - 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') ++i;
    else if (s[i] == '\'') return false;
  }
  // A trailing lone backslash would escape the closing quote.
  return s.empty() || s.back() != '\\' || [&] {
    std::size_t n = 0;
    for (std::size_t i = s.size(); i > 0 && s[i - 1] == '\\'; --i) ++n;
    return n % 2 == 0;
  }();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static constexpr char kCodes[] = {'C', 'N', 'D', 'T', 'L', 'U', 'A', 'H', 'B', 'O', 'M', 'I', 'n', 'X', '\0'};
  const char code = in.ConsumeBool() ? '\0' : kCodes[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kCodes - 1)];
  const Value quote = in.ConsumeBool() ? Value() : Value(in.ConsumeBool());
  const Value notNull = in.ConsumeBool() ? Value() : Value(in.ConsumeBool());
  const Value value = makeValue(in);
  const Value kind = code == '\0' ? Value() : Value(std::string(1, code));

  const std::string sql = veltro::CLIPVALUE2SQL(value, kind, quote, notNull);
  std::string fast;
  veltro::appendSqlLiteral(fast, value, code == '\0' ? value.kindLetter() : code, quote.isLogical() ? quote.asBool() : true,
                           notNull.asBool());
  check(fast == sql, "both forms alike", sql);

  const char used = code == '\0' ? value.kindLetter() : code;
  const bool quoting = !quote.isLogical() || quote.asBool();
  if ((used == 'N' || used == 'I') && value.isNumber())
    check(sql == "NULL" || isNumeral(sql), "a number is a numeral", sql);
  if (used == 'T' && value.isNumber()) check(sql == "NULL" || isNumeral(sql), "a timestamp number", sql);
  static const veltro::Date first = veltro::Date::fromYMD(1, 1, 1), last = veltro::Date::fromYMD(9999, 12, 31);
  if (used == 'D' && value.isDate() && !value.isEmpty() && value.asDate() >= first && value.asDate() <= last) {
    const std::string body = quoting ? sql.substr(1, sql.size() - 2) : sql;
    check(veltro::SQLDATE2CLIP(Value(body)) == value.asDate(), "a date literal reads back", sql);
  }
  if (used == 'B' && value.isString() && quoting) check(closedLiteral(sql), "escaped text stays quoted", sql);
  if (used == 'L' && value.isLogical()) check(sql == "0" || sql == "1", "a logical", sql);
  const bool fits = ((used == 'C' || used == 'M') && value.isString()) || (used == 'D' && value.isDate());
  if (sql != "NULL" && quoting && fits)
    check(sql.size() >= 2 && sql.front() == '\'' && sql.back() == '\'', "quoted", sql);
  return 0;
}
