// Names in SQL text: checking the names callers give, and quoting the names
// read from the server when they are not plain identifiers.
#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "sql_dialect.h"
#include "sql_lexer.h"
#include "sql_names.h"
#include "veltro/sqltext.h"

namespace veltro {

namespace {

// Bytes of an unquoted identifier: ASCII letters, digits, "_", "$", and every
// byte of a non-ASCII character.
// One lookup a byte: Update checks every column name it is given.
constexpr auto kPlainBytes = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c >= 0x80;
  return t;
}();

bool plainByte(unsigned char c) { return kPlainBytes[c]; }

// The server's reserved words, upper case and sorted: a name that is one of
// them needs backquotes.
constexpr std::string_view kReserved[] = {
    "ACCESSIBLE", "ADD", "ALL", "ALTER", "ANALYZE", "AND", "AS", "ASC", "ASENSITIVE", "BEFORE", "BETWEEN",
    "BIGINT", "BINARY", "BLOB", "BOTH", "BY", "CALL", "CASCADE", "CASE", "CHANGE", "CHAR", "CHARACTER", "CHECK",
    "COLLATE", "COLUMN", "CONDITION", "CONSTRAINT", "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT_DATE",
    "CURRENT_ROLE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASE", "DATABASES",
    "DAY_HOUR", "DAY_MICROSECOND", "DAY_MINUTE", "DAY_SECOND", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELAYED",
    "DELETE", "DELETE_DOMAIN_ID", "DESC", "DESCRIBE", "DETERMINISTIC", "DISTINCT", "DISTINCTROW", "DIV",
    "DOUBLE", "DO_DOMAIN_IDS", "DROP", "DUAL", "EACH", "ELSE", "ELSEIF", "ENCLOSED", "ESCAPED", "EXCEPT",
    "EXISTS", "EXIT", "EXPLAIN", "FALSE", "FETCH", "FLOAT", "FLOAT4", "FLOAT8", "FOR", "FORCE", "FOREIGN",
    "FROM", "FULLTEXT", "GENERAL", "GRANT", "GROUP", "HAVING", "HIGH_PRIORITY", "HOUR_MICROSECOND",
    "HOUR_MINUTE", "HOUR_SECOND", "IF", "IGNORE", "IGNORE_DOMAIN_IDS", "IGNORE_SERVER_IDS", "IN", "INDEX",
    "INFILE", "INNER", "INOUT", "INSENSITIVE", "INSERT", "INT", "INT1", "INT2", "INT3", "INT4", "INT8",
    "INTEGER", "INTERSECT", "INTERVAL", "INTO", "IS", "ITERATE", "JOIN", "KEY", "KEYS", "KILL", "LEADING",
    "LEAVE", "LEFT", "LIKE", "LIMIT", "LINEAR", "LINES", "LOAD", "LOCALTIME", "LOCALTIMESTAMP", "LOCK", "LONG",
    "LONGBLOB", "LONGTEXT", "LOOP", "LOW_PRIORITY", "MASTER_HEARTBEAT_PERIOD", "MASTER_SSL_VERIFY_SERVER_CERT",
    "MATCH", "MAXVALUE", "MEDIUMBLOB", "MEDIUMINT", "MEDIUMTEXT", "MIDDLEINT", "MINUTE_MICROSECOND",
    "MINUTE_SECOND", "MOD", "MODIFIES", "NATURAL", "NOT", "NO_WRITE_TO_BINLOG", "NULL", "NUMERIC", "OFFSET",
    "ON", "OPTIMIZE", "OPTION", "OPTIONALLY", "OR", "ORDER", "OUT", "OUTER", "OUTFILE", "OVER", "PAGE_CHECKSUM",
    "PARSE_VCOL_EXPR", "PARTITION", "PERIOD", "POSITION", "PRECISION", "PRIMARY", "PROCEDURE", "PURGE",
    "RANGE", "READ", "READS", "READ_WRITE", "REAL", "RECURSIVE", "REFERENCES", "REF_SYSTEM_ID", "REGEXP",
    "RELEASE", "RENAME", "REPEAT", "REPLACE", "REQUIRE", "RESIGNAL", "RESTRICT", "RETURN", "RETURNING",
    "REVOKE", "RIGHT", "RLIKE", "ROWS", "ROW_NUMBER", "SCHEMA", "SCHEMAS", "SECOND_MICROSECOND", "SELECT",
    "SENSITIVE", "SEPARATOR", "SET", "SHOW", "SIGNAL", "SLOW", "SMALLINT", "SPATIAL", "SPECIFIC", "SQL",
    "SQLEXCEPTION", "SQLSTATE", "SQLWARNING", "SQL_BIG_RESULT", "SQL_CALC_FOUND_ROWS", "SQL_SMALL_RESULT", "SSL",
    "STARTING", "STATS_AUTO_RECALC", "STATS_PERSISTENT", "STATS_SAMPLE_PAGES", "STRAIGHT_JOIN", "TABLE",
    "TERMINATED", "THEN", "TINYBLOB", "TINYINT", "TINYTEXT", "TO", "TRAILING", "TRIGGER", "TRUE", "UNDO",
    "UNION", "UNIQUE", "UNLOCK", "UNSIGNED", "UPDATE", "USAGE", "USE", "USING", "UTC_DATE", "UTC_TIME",
    "UTC_TIMESTAMP", "VALUES", "VARBINARY", "VARCHAR", "VARCHARACTER", "VARYING", "WHEN", "WHERE", "WHILE",
    "WINDOW", "WITH", "WRITE", "XOR", "YEAR_MONTH", "ZEROFILL",
};

bool reserved(std::string_view name) {
  if (name.size() > 32) return false;
  char buf[32];
  for (std::size_t i = 0; i < name.size(); ++i) buf[i] = (name[i] >= 'a' && name[i] <= 'z') ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
  return std::binary_search(std::begin(kReserved), std::end(kReserved), std::string_view(buf, name.size()));
}

// Bytes of one name part at the start of text (plain or backquoted) and its
// unquoted characters; 0 when there is none.
std::size_t partLength(std::string_view text, sql::Charset cs, std::string* unquoted = nullptr) {
  std::size_t chars = 0;
  if (!text.empty() && text[0] == '`') {
    for (std::size_t i = 1; i < text.size();) {
      const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
      if (*p == '\0') return 0;
      if (*p == '`') {
        if (i + 1 < text.size() && text[i + 1] == '`') {
          if (unquoted) *unquoted += '`';
          i += 2;
          ++chars;
          continue;
        }
        if (i == 1 || chars > sql::kNameChars) return 0;  // `` is no name
        return i + 1;
      }
      const std::size_t n = sql::charLength(cs, p, text.size() - i);
      if (n == 0) return 0;
      if (unquoted) unquoted->append(text.substr(i, n));
      i += n;
      ++chars;
    }
    return 0;  // no closing backquote
  }
  std::size_t i = 0;
  while (i < text.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
    std::size_t n = 0;
    if (*p >= 0x80)
      n = sql::charLength(cs, p, text.size() - i);
    else if (plainByte(*p))
      n = 1;
    if (n == 0) break;
    i += n;
    ++chars;
  }
  // A byte that is no character of the set is no part of a name either.
  if (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x80) return 0;
  if (chars > sql::kNameChars) return 0;
  if (unquoted) unquoted->append(text.substr(0, i));
  return i;
}

// Whether a name read from the server can stand without backquotes.
bool plainName(std::string_view name, sql::Charset cs) {
  // A leading digit could read as a number ("1e5"); a reserved word as syntax.
  if (name.empty() || (name[0] >= '0' && name[0] <= '9') || reserved(name)) return false;
  for (std::size_t i = 0; i < name.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(name.data()) + i;
    const std::size_t n = *p >= 0x80 ? sql::charLength(cs, p, name.size() - i) : plainByte(*p) ? 1 : 0;
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace

namespace sql {

std::vector<std::string> nameParts(std::string_view text, int parts, Charset cs) {
  std::vector<std::string> out;
  for (int part = 1; part <= parts; ++part) {
    std::string name;
    const std::size_t n = partLength(text, cs, &name);
    if (n == 0) return {};
    out.push_back(std::move(name));
    text.remove_prefix(n);
    if (text.empty()) return out;
    if (text[0] != '.') return {};
    text.remove_prefix(1);
  }
  return {};
}

bool isName(std::string_view text, int parts, Charset cs) {
  for (int part = 1; part <= parts; ++part) {
    const std::size_t n = partLength(text, cs);
    if (n == 0) return false;
    text.remove_prefix(n);
    if (text.empty()) return true;
    if (text[0] != '.') return false;
    text.remove_prefix(1);
  }
  return false;
}

void appendBackquoted(std::string& out, std::string_view name, Charset cs) {
  out += '`';
  for (std::size_t i = 0; i < name.size();) {
    // Character by character, as the server reads the name back: a backquote
    // byte inside a multi-byte character is not one.
    const std::size_t n = stepLength(cs, name, i);
    if (n == 1 && name[i] == '`') out += '`';
    out.append(name.substr(i, n));
    i += n;
  }
  out += '`';
}

void appendQuoted(std::string& out, std::string_view name, Charset cs) {
  if (plainName(name, cs))
    out += name;
  else
    appendBackquoted(out, name, cs);
}

bool couldBeListedName(std::string_view text, Charset cs) {
  if (text.empty() || text.back() == ' ') return false;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++chars) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
    const std::size_t n = *p >= 0x80 ? charLength(cs, p, text.size() - i) : *p != 0 ? 1 : 0;
    if (n == 0) return false;
    i += n;
  }
  return chars <= kNameChars;
}

std::string reservedQuoted(std::string_view text, int parts, Charset cs) {
  // The common case, one plain name, needs no split (this runs on every Insert and Update).
  if (text.find_first_of("`.") == std::string_view::npos && !reserved(text)) return std::string(text);
  const std::vector<std::string> names = nameParts(text, parts, cs);
  if (std::none_of(names.begin(), names.end(), [](const std::string& n) { return reserved(n); }))
    return std::string(text);
  std::string out;
  for (const std::string& n : names) {
    if (!out.empty()) out += '.';
    appendQuoted(out, n, cs);
  }
  return out;
}

void appendLowerCase(std::string& out, std::string_view text, const Dialect& d) {
  text = trimValueText(text);
  if (caseSensitiveNames()) {
    out += text;
    return;
  }
  Lexer lex(text, d);
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next()) {
    if (t.kind != Tok::Word && t.kind != Tok::Name) {
      out.append(text.substr(t.begin, t.end - t.begin));
      continue;
    }
    for (std::size_t i = t.begin; i < t.end;) {
      const std::size_t n = stepLength(d.charset, text, i);
      if (n == 1)
        out += foldAscii(text[i]);
      else
        out.append(text.substr(i, n));
      i += n;
    }
  }
}

std::string lowerCaseText(std::string_view text, Charset cs) {
  text = trimValueText(text);
  std::string out;
  out.reserve(text.size());
  const bool fold = !caseSensitiveNames();
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = stepLength(cs, text, i);
    if (n == 1 && fold)
      out += foldAscii(text[i]);
    else
      out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace sql

bool isSqlName(std::string_view text, int parts, long long conn) {
  return sql::isName(text, parts, sql::dialectOf(conn).charset);
}

void appendQuotedName(std::string& out, std::string_view name, long long conn) {
  sql::appendQuoted(out, name, sql::dialectOf(conn).charset);
}

void appendBackquoted(std::string& out, std::string_view name, long long conn) {
  sql::appendBackquoted(out, name, sql::dialectOf(conn).charset);
}

std::string quotedName(std::string_view name, long long conn) {
  std::string out;
  appendQuotedName(out, name, conn);
  return out;
}

std::string lowerCaseName(std::string_view name, long long conn) {
  std::string out;
  appendLowerCaseName(out, name, conn);
  return out;
}

void appendLowerCaseName(std::string& out, std::string_view name, long long conn) {
  // With case-sensitive names (the program's setting) nothing is lower-cased:
  // the connection need not be asked for its set, row after row.
  if (caseSensitiveNames()) {
    out += trimValueText(name);
    return;
  }
  sql::appendLowerCase(out, name, sql::dialectOf(conn));
}

std::string Q_LOWERCASE(const Value& name) { return lowerCaseName(name.asString()); }

}  // namespace veltro
