// Names in SQL text: checking the names callers give, and quoting the names
// read from the server when they are not plain identifiers.
#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <string_view>

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

// Length of one name part at the start of text (plain or backquoted), 0 when none.
std::size_t partLength(std::string_view text) {
  if (!text.empty() && text[0] == '`') {
    for (std::size_t i = 1; i < text.size(); ++i) {
      if (text[i] == '\0') return 0;
      if (text[i] != '`') continue;
      if (i + 1 < text.size() && text[i + 1] == '`') {
        ++i;
        continue;
      }
      return i > 1 ? i + 1 : 0;  // `` is no name
    }
    return 0;  // no closing backquote
  }
  std::size_t n = 0;
  while (n < text.size() && plainByte(static_cast<unsigned char>(text[n]))) ++n;
  return n;
}

}  // namespace

bool isSqlName(std::string_view text, int parts) {
  for (int part = 1; part <= parts; ++part) {
    const std::size_t n = partLength(text);
    if (n == 0) return false;
    text.remove_prefix(n);
    if (text.empty()) return true;
    if (text[0] != '.') return false;
    text.remove_prefix(1);
  }
  return false;
}

void appendQuotedName(std::string& out, std::string_view name) {
  // A leading digit could read as a number ("1e5"); a reserved word as syntax.
  const bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9') &&
                     std::all_of(name.begin(), name.end(), [](char c) { return plainByte(static_cast<unsigned char>(c)); }) &&
                     !reserved(name);
  if (plain)
    out += name;
  else
    appendBackquoted(out, name);
}

void appendBackquoted(std::string& out, std::string_view name) {
  out += '`';
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  out += '`';
}

std::string quotedName(std::string_view name) {
  std::string out;
  appendQuotedName(out, name);
  return out;
}

}  // namespace veltro
