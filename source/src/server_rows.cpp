// Row commands: insert and update from lists, counts, auto-increment values,
// the last value of a column, and queries built from parts.
#include <string>

#include "sql_builders.h"
#include "server_name_arg.h"
#include "sql_statement_text.h"
#include "veltro/append.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

namespace {

// Field 1 of the first row of a statement's result, or fallback when it has no row.
Value firstField(TQuillonSrv& server, const std::string& sql, const Value& fallback) {
  QueryPtr q = server.Query(sql);
  Value result = fallback;
  if (q) {
    if (q->LastRec() > 0) result = q->FieldGet(1);
    q->End();
  }
  return result;
}

// Bytes of the texts among an array's values, to size a statement once.
std::size_t textBytes(const Value& values) {
  std::size_t n = 0;
  for (const Value& v : values.items())
    if (v.isString()) n += v.str().size();
  return n;
}

// Update's change relative to the column's value: CONCAT for text columns, +
// otherwise.
void appendRelativeChange(TQuillonSrv& srv, std::string& sql, const std::string& table,
                                            const std::string& name, const Value& change, QueryPtr& structure) {
  if (!structure) structure = srv.Query("SELECT * FROM " + table + " LIMIT 0");
  const Kind kind = structure ? structure->FieldKind(Value(name)) : Kind::Nil;
  std::string literal = sqlLiteral(change.at(1), srv.handle());
  if (kind == Kind::Text || kind == Kind::Memo)
    sql += name + " = CONCAT(" + name + ", " + literal + "),";
  else
    sql += name + " = " + name + " + " + literal + ",";
}

// Whether every element of a column list is a column name; reports the first that is not.
bool columnNames(TQuillonSrv& srv, const Array& names, sql::Charset cs) {
  for (const Value& name : names)
    if (!detail::isNameArg(srv, name, "column", 3, cs)) return false;
  return true;
}

}  // namespace

bool TQuillonSrv::Insert(const Value& table, const Value& columns, const Value& values) {
  if (columns.isEmpty() && values.isEmpty())
    return detail::refuse(*this, kErrMissingLists);
  if (table.isEmpty())
    return detail::refuse(*this, kErrNoTableName);
  if (columns.len() != values.len() || !columns.isArray() || !values.isArray())
    return detail::refuse(*this, kErrListLengths);
  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName || !columnNames(*this, columns.items(), sql::dialectOf(handle()).charset)) return false;
  return impl_->sendStatement(insertStatement(*tableName, columns, values, handle()));
}

bool TQuillonSrv::Update(const Value& table, const Value& columns, const Value& values, const Value& where) {
  if (columns.isEmpty() || values.isEmpty() || !columns.isArray() || !values.isArray())
    return detail::refuse(*this, kErrMissingLists);
  if (table.isEmpty())
    return detail::refuse(*this, kErrNoTableName);
  if (columns.len() != values.len())
    return detail::refuse(*this, kErrListLengths);
  const Array& names = columns.items();
  // The connection's set, asked once for the table and every column, row after row.
  const sql::Charset cs = sql::dialectOf(handle()).charset;
  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName || !columnNames(*this, names, cs)) return false;
  const long long conn = handle();
  StatementText statement;
  std::string& sql = statement.text();
  sql.reserve(256 + where.len() + 2 * textBytes(values));
  appendBytes(sql, "UPDATE ");
  appendBytes(sql, *tableName);
  appendBytes(sql, " SET ");
  const Array& vals = values.items();
  QueryPtr structure;  // the table's column kinds, read only when a relative change needs them
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i].asString();
    const Value& v = vals[i];
    if (v.isArray()) {
      appendRelativeChange(*this, sql, *tableName, name, v, structure);
      continue;
    }
    appendBytes(sql, name);
    appendBytes(sql, " = ");
    appendLiteral(sql, v, '\0', false, conn);
    sql += ',';
  }
  if (structure) structure->End();
  sql.pop_back();
  if (!where.isEmpty() && where.isString()) {
    appendBytes(sql, " WHERE ");
    appendBytes(sql, where.str());
  }
  return impl_->sendStatement(sql);
}

Value TQuillonSrv::GetAutoIncrement(const Value& table) {
  if (table.isEmpty() || !table.isString()) return 0;
  if (cDBName.isEmpty()) {
    RaiseInternal(kErrNoCurrentDatabase);
    return 0;
  }
  Value database = cDBName;
  SelectDB("information_schema");
  std::string sql = "SELECT auto_increment FROM tables WHERE table_schema = " +
                    sqlLiteral(Value(database.asString()), handle()) +
                    " AND table_name = " + sqlLiteral(table, handle());
  QueryPtr q = Query(sql);
  Value result = 0;
  if (q && q->LastRec() > 0) result = q->FieldGet(1);
  SelectDB(database);
  if (q) q->End();
  return result;
}

bool TQuillonSrv::IsAutoIncrement(const Value& column, const Value& table) {
  const auto tbl = detail::listedName(*this, table, "table");
  if (!tbl) return false;
  const auto col = detail::listedName(*this, column, "column", detail::kListingBytes - tbl->size());
  if (!col) return false;
  const Value structure = impl_->listedColumns(*tbl, col->c_str());
  if (structure.isNil() || structure.len() == 0) return false;
  Value flags = structure.at(1).at(kDescFlags);
  return MYAND(flags, db::kAutoIncrementFlag).asInt() == db::kAutoIncrementFlag;
}

Value TQuillonSrv::GetRowsFromTable(const Value& table) {
  const auto name = detail::nameArg(*this, table, "table");
  if (!name) return 0;
  return firstField(*this, "SELECT COUNT(*) FROM " + *name, 0);
}

Value TQuillonSrv::GetRowsFromQry(const Value& query) {
  QueryPtr q = query.asObjectOf<TQuillonQry>();
  if (!q) {
    RaiseInternal(kErrNotAQuery);
    return 0;
  }
  ArrayPtr columns = q->aColumns.isArray() ? std::make_shared<Array>(q->aColumns.items()) : nullptr;
  Value savedColumns = columns ? Value(columns) : q->aColumns;
  Value tables = q->aTables, where = q->cWhere, group = q->cGroup, having = q->cHaving, order = q->cOrder,
        limit = q->cLimit;
  std::string count = q->BuildQuery(Value::array({"COUNT(*)"}), tables, where, group, having, order, Value());
  q->BuildQuery(savedColumns, tables, where, group, having, order, limit);
  return firstField(*this, count, 0);
}

Value TQuillonSrv::LastDownData(const Value& table, const Value& column, const Value& defaultValue) {
  if (table.isEmpty() || column.isEmpty() || !table.isString() || !column.isString()) return defaultValue;
  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName) return defaultValue;
  const auto columnName = detail::nameArg(*this, column, "column", 3);
  if (!columnName) return defaultValue;
  std::string sql = "SELECT " + *columnName + " FROM " + *tableName + " ORDER BY " + column.str() + " DESC LIMIT 1";
  return firstField(*this, sql, defaultValue);
}

QueryPtr TQuillonSrv::SelectTable(const Value& columns, const Value& tables, const Value& where, const Value& group,
                                  const Value& having, const Value& order, const Value& limit,
                                  const Value& withRollup) {
  // The eighth argument requests WITH ROLLUP.
  return Query(BUILDQUERY(columns, tables, where, group, having, order, limit, withRollup));
}

}  // namespace veltro
