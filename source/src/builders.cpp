// Statement builders: SELECT from its parts, a one-row INSERT.
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

// Text values are escaped before CLIPVALUE2SQL trims and quotes them; other
// values are written as they are (0 and blanks as NULL, false as 0).
std::string BUILDINSERT(const Value& table, const Value& columns, const Value& values) {
  std::string fields;
  std::string literals;
  const std::size_t count = columns.isArray() ? columns.items().size() : 0;
  for (std::size_t i = 1; i <= count; ++i) {
    fields += columns.at(i).asString();
    fields += ',';
    const Value value = values.at(i);
    if (value.isString()) {
      Value escaped = value.str().size() > 65535 ? MYSQLESCAPE(value) : VAL2ESCAPE(value);
      // A memo stays a memo, so an empty one keeps its "''" instead of NULL.
      if (value.isMemo()) escaped = Value::memo(escaped.asString());
      appendSqlLiteral(literals, escaped, escaped.kindLetter(), true, false);
    } else {
      appendSqlLiteral(literals, value, value.kindLetter(), true, false);
    }
    literals += ',';
  }
  if (!fields.empty()) fields.pop_back();
  if (!literals.empty()) literals.pop_back();

  std::string sql = "INSERT INTO ";
  sql += Q_LOWERCASE(table);
  sql += " ( ";
  sql += fields;
  sql += ") VALUES ( ";
  sql += literals;
  sql += ')';
  return sql;
}

}  // namespace veltro
