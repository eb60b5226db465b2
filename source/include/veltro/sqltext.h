// Values to SQL text and back, name lists, structure checks, the two library
// settings and the statement builders. Pure functions: no server is touched.
#pragma once

#include <string>
#include <string_view>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro {

// The SQL literal of a value. kind: a kind code ("N", "I", "D", "C", "M", "B",
// "L", "T", ...), nil for the value's own kind letter. quote (default true):
// put texts and dates between single quotes. notNull (default false): write an
// empty value as its literal instead of NULL.
// It knows no connection: "C" and "M" texts are written as they are and only
// code "B" escapes, by the backslash rules. That is not safe for a server in
// NO_BACKSLASH_ESCAPES mode or a connection in a multi-byte character set
// such as gbk, big5 or sjis: for values in statements, use sqlLiteral.
VELTRO_API std::string CLIPVALUE2SQL(const Value& value, const Value& kind = {}, const Value& quote = {},
                          const Value& notNull = {});
// Appends CLIPVALUE2SQL's literal to out, with the same caveat.
VELTRO_API void appendSqlLiteral(std::string& out, const Value& value, char kind, bool quote, bool notNull);

// The literal of a value for a statement sent on the connection conn (a
// server's handle()): CLIPVALUE2SQL's rules for kinds and empty values, always
// quoted, with every text escaped for that connection's character set and
// backslash mode. Texts lose spaces and tabs in front and spaces behind.
// kind '\0': the value's own kind letter. Every statement the library builds
// writes its values through here.
VELTRO_API std::string sqlLiteral(const Value& value, long long conn, char kind = '\0', bool notNull = false);
VELTRO_API void appendLiteral(std::string& out, const Value& value, char kind, bool notNull, long long conn);

// Names. A caller's name is accepted when it is an identifier: letters,
// digits, "_" and "$" (and non-ASCII characters), or any text between
// backquotes with backquotes inside doubled; up to `parts` of them joined by
// "." (db.table, table.column), each at most 64 characters. Nothing else: no
// blanks, quotes, comments, operators or NUL bytes. conn: the connection the
// name is for (a server's handle()); its character set is walked character by
// character, and a name that is not valid in it is refused. Without one (0),
// UTF-8 where valid and any other byte as a character of its own.
VELTRO_API bool isSqlName(std::string_view text, int parts = 2, long long conn = 0);
// Appends a name read from the server: as it is when it is a plain
// identifier that is not a reserved word, else between backquotes with
// backquotes inside doubled (by character of conn's set).
VELTRO_API void appendQuotedName(std::string& out, std::string_view name, long long conn = 0);
// Appends a name between backquotes, whatever it is, backquotes inside doubled.
VELTRO_API void appendBackquoted(std::string& out, std::string_view name, long long conn = 0);
VELTRO_API std::string quotedName(std::string_view name, long long conn = 0);

// "YYYY-MM-DD" (characters 1-4, 6-7 and the last two) to a date; the empty date when not valid.
VELTRO_API Date SQLDATE2CLIP(const Value& text);

// The normalised texts joined by ", ".
VELTRO_API std::string SQLSTRINGFROMARRAY(const Value& names);
// The pieces between commas, exactly as they stand.
VELTRO_API Value ARRAYFROMSQLSTRING(const Value& text);

// Positions (from 1) in a column of a table definition (CreateTable).
enum DefinitionField : std::size_t {
  kDefName = 1,
  kDefType = 2,      // type code: "C", "N", "D", "L", "M", "B", "I", "T"
  kDefLength = 3,
  kDefDecimals = 4,
  kDefNotNull = 5,   // logical or nil
  kDefDefault = 6,
};
// nil when the table definition is sound, else 9001 (fewer than 6 elements) or
// 9002 (element kDefNotNull neither nil nor logical) for the first failing column.
VELTRO_API Value VERIFYSTRUCTURE(const Value& definition);
// " NOT NULL " or "".
VELTRO_API std::string FNOTNULL(const Value& column, const Value& primaryKey, const Value& autoIncrement);

// The two process-wide settings; each returns its value before the call and
// changes it only when given exactly one logical argument.
VELTRO_API bool Q_SETCASESENSITIVE();
VELTRO_API bool Q_SETCASESENSITIVE(const Value& on);
VELTRO_API bool Q_SETPADRIGHT();
VELTRO_API bool Q_SETPADRIGHT(const Value& on);
// Current settings without the call form.
VELTRO_API bool caseSensitiveNames();
VELTRO_API bool padRight();

// Trims leading white space and trailing spaces, and lower-cases unless
// case-sensitive names are on: the letters of words and backquoted names,
// never those of a quoted text or a comment, nor a byte of a multi-byte
// character of conn's set (0: no connection, as for isSqlName).
VELTRO_API std::string Q_LOWERCASE(const Value& name);
VELTRO_API std::string lowerCaseName(std::string_view name, long long conn = 0);
VELTRO_API void appendLowerCaseName(std::string& out, std::string_view name, long long conn = 0);

// "SELECT cols FROM tables WHERE .. GROUP BY .. [WITH ROLLUP] HAVING .. ORDER BY .. LIMIT ..".
VELTRO_API std::string BUILDQUERY(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                       const Value& group = {}, const Value& having = {}, const Value& order = {},
                       const Value& limit = {}, const Value& withRollup = {});
// "INSERT INTO table ( c1,c2) VALUES ( v1,v2)" with text values escaped
// without a connection, as CLIPVALUE2SQL's code "B" does (see its caveat). The
// server's Insert writes the same statement with its connection's escaping.
VELTRO_API std::string BUILDINSERT(const Value& table, const Value& columns, const Value& values);

}  // namespace veltro
