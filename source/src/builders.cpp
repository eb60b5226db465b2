// Statement builders: SELECT from its parts, a one-row INSERT.
#include "builders.h"
#include "veltro/binding.h"
#include "veltro/sqltext.h"

namespace veltro {

namespace {

// Clause texts are copied exactly as given; a blank one leaves its clause out.
void appendClause(std::string& out, const char* keyword, const Value& text) {
  if (text.isEmpty()) return;
  if (text.isString()) {
    out += keyword;
    out += text.str();
  } else if (text.isNumber()) {
    // A numeric LIMIT given directly still reads as its number text.
    out += keyword;
    text.number().appendText(out);
  }
}

}  // namespace

std::string BUILDQUERY(const Value& columns, const Value& tables, const Value& where, const Value& group,
                       const Value& having, const Value& order, const Value& limit, const Value& withRollup) {
  std::string columnPart = SQLSTRINGFROMARRAY(columns);
  std::string sql = "SELECT ";
  sql += isBlankText(columnPart) ? std::string_view("*") : std::string_view(columnPart);
  if (tables.isArray() && !tables.isEmpty()) {
    sql += " FROM ";
    sql += SQLSTRINGFROMARRAY(tables);
  }
  appendClause(sql, " WHERE ", where);
  if (!group.isEmpty() && (group.isString() || group.isNumber())) {
    appendClause(sql, " GROUP BY ", group);
    if (withRollup.asBool()) sql += " WITH ROLLUP";
  }
  appendClause(sql, " HAVING ", having);
  appendClause(sql, " ORDER BY ", order);
  appendClause(sql, " LIMIT ", limit);
  return sql;
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
