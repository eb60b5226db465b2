// Statement builders: SELECT from its parts, a one-row INSERT.
#include "sql_builders.h"
#include "sql_lexer.h"
#include "sql_names.h"
#include "veltro/binding.h"
#include "veltro/sqltext.h"

namespace veltro {

namespace {

// A piece ending in a -- or # comment would comment out the rest of the
// statement: a line break ends the comment where the piece ends.
void endPiece(std::string& out, std::size_t start, const sql::Dialect& d) {
  if (sql::endsInLineComment(std::string_view(out).substr(start), d)) out += '\n';
}

// Clause texts are copied exactly as given; a blank one leaves its clause out.
void appendClause(std::string& out, const char* keyword, const Value& text, const sql::Dialect& d) {
  if (text.isEmpty()) return;
  if (text.isString()) {
    out += keyword;
    const std::size_t start = out.size();
    out += text.str();
    endPiece(out, start, d);
  } else if (text.isNumber()) {
    // A numeric LIMIT given directly still reads as its number text.
    out += keyword;
    text.number().appendText(out);
  }
}

// The normalised texts of a list joined by ", ".
void appendList(std::string& out, const Value& names, const sql::Dialect& d) {
  bool first = true;
  for (const Value& name : names.items()) {
    if (!first) out += ", ";
    first = false;
    const std::size_t start = out.size();
    sql::appendLowerCase(out, name.asString(), d);
    endPiece(out, start, d);
  }
}

}  // namespace

std::string buildQuery(const Value& columns, const Value& tables, const Value& where, const Value& group,
                       const Value& having, const Value& order, const Value& limit, const Value& withRollup,
                       const sql::Dialect& d) {
  std::string sql = "SELECT ";
  const std::size_t start = sql.size();
  if (columns.isArray()) appendList(sql, columns, d);
  if (isBlankText(std::string_view(sql).substr(start))) {
    sql.resize(start);
    sql += '*';
  }
  if (tables.isArray() && !tables.isEmpty()) {
    sql += " FROM ";
    appendList(sql, tables, d);
  }
  appendClause(sql, " WHERE ", where, d);
  if (!group.isEmpty() && (group.isString() || group.isNumber())) {
    appendClause(sql, " GROUP BY ", group, d);
    if (withRollup.asBool()) sql += " WITH ROLLUP";
  }
  appendClause(sql, " HAVING ", having, d);
  appendClause(sql, " ORDER BY ", order, d);
  appendClause(sql, " LIMIT ", limit, d);
  return sql;
}

std::string BUILDQUERY(const Value& columns, const Value& tables, const Value& where, const Value& group,
                       const Value& having, const Value& order, const Value& limit, const Value& withRollup) {
  return buildQuery(columns, tables, where, group, having, order, limit, withRollup, sql::Dialect{});
}

std::string insertStatement(std::string_view table, const Value& columns, const Value& values, long long conn) {
  std::string sql = "INSERT INTO ";
  sql += table;
  sql += " ( ";
  std::string literals;
  const std::size_t count = columns.isArray() ? columns.items().size() : 0;
  for (std::size_t i = 1; i <= count; ++i) {
    sql += columns.at(i).asString();
    sql += ',';
    appendLiteral(literals, values.at(i), '\0', false, conn);
    literals += ',';
  }
  if (count > 0) {
    sql.pop_back();
    literals.pop_back();
  }
  sql += ") VALUES ( ";
  sql += literals;
  sql += ')';
  return sql;
}

// Text values are escaped (without a connection) before they are trimmed and
// quoted; other values are written as they are (0 and blanks as NULL, false as 0).
std::string BUILDINSERT(const Value& table, const Value& columns, const Value& values) {
  return insertStatement(Q_LOWERCASE(table), columns, values, 0);
}

}  // namespace veltro
