// Values to SQL text and back, name lists, structure checks, the two library
// settings and the statement builders. Pure functions: no server is touched.
#pragma once

#include <string>
#include <string_view>

#include "veltro/value.h"

namespace veltro {

// The SQL literal of a value. kind: a kind code ("N", "I", "D", "C", "M", "B",
// "L", "T", ...), nil for the value's own kind letter. quote (default true):
// put texts and dates between single quotes. notNull (default false): write an
// empty value as its literal instead of NULL. Only code "B" escapes the text.
std::string CLIPVALUE2SQL(const Value& value, const Value& kind = {}, const Value& quote = {},
                          const Value& notNull = {});
// Appends the literal to out (the hot-path form of CLIPVALUE2SQL).
void appendSqlLiteral(std::string& out, const Value& value, char kind, bool quote, bool notNull);
// Appends the quoted literal of a text escaped by the connection conn (0: none),
// as appendSqlLiteral writes an escaped text: spaces and tabs in front and
// spaces behind left out, and a text with nothing else NULL when blankIsNull.
void appendEscapedLiteral(std::string& out, std::string_view text, bool blankIsNull, long long conn);

// "YYYY-MM-DD" (characters 1-4, 6-7 and the last two) to a date; the empty date when not valid.
Date SQLDATE2CLIP(const Value& text);

// The normalised texts joined by ", ".
std::string SQLSTRINGFROMARRAY(const Value& names);
// The pieces between commas, exactly as they stand.
Value ARRAYFROMSQLSTRING(const Value& text);

// nil when the table definition is sound, else 9001 (fewer than 6 elements) or
// 9002 (element 5 neither nil nor logical) for the first failing column.
Value VERIFYSTRUCTURE(const Value& definition);
// " NOT NULL " or "".
std::string FNOTNULL(const Value& column, const Value& primaryKey, const Value& autoIncrement);

// The two process-wide settings; each returns its value before the call and
// changes it only when given exactly one logical argument.
bool Q_SETCASESENSITIVE();
bool Q_SETCASESENSITIVE(const Value& on);
bool Q_SETPADRIGHT();
bool Q_SETPADRIGHT(const Value& on);
// Current settings without the call form.
bool caseSensitiveNames();
bool padRight();

// Trims leading white space and trailing spaces, and lower-cases unless
// case-sensitive names are on.
std::string Q_LOWERCASE(const Value& name);
std::string lowerCaseName(std::string_view name);
void appendLowerCaseName(std::string& out, std::string_view name);

// "SELECT cols FROM tables WHERE .. GROUP BY .. [WITH ROLLUP] HAVING .. ORDER BY .. LIMIT ..".
std::string BUILDQUERY(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                       const Value& group = {}, const Value& having = {}, const Value& order = {},
                       const Value& limit = {}, const Value& withRollup = {});
// "INSERT INTO table ( c1,c2) VALUES ( v1,v2)" with text values escaped.
std::string BUILDINSERT(const Value& table, const Value& columns, const Value& values);

}  // namespace veltro
