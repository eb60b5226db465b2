// Schema commands: databases, tables, indexes, engines and column listings.
#include <string>
#include <utility>
#include <vector>

#include "server_name_arg.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

namespace {

// A switch argument: its logical value, or fallback when omitted.
bool switchOr(const Value& v, bool fallback) { return v.isLogical() ? v.asBool() : fallback; }

// Width, digits and decimals of a column definition as number text.
std::string numberText(const Value& v) { return v.asNumber().text(); }

// The DEFAULT clause of a column definition, its value written for the connection.
std::string defaultClause(const Value& value, long long conn) {
  if (value.isNil()) return {};
  return " DEFAULT " + sqlLiteral(value, conn);
}

// Whether each piece of a comma list of names (a key of several columns) is a name.
bool nameList(std::string_view list, long long conn) {
  for (;;) {
    const std::size_t comma = list.find(',');
    if (!isSqlName(trimValueText(list.substr(0, comma)), 1, conn)) return false;
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

// Checks every name that CreateTable writes, reporting the first that is not one.
bool definitionNames(TQuillonSrv& srv, const Value& table, const Value& definition, const Value& primary,
                     const Value& unique, const Value& autoInc) {
  if (!detail::nameArg(srv, table, "table")) return false;
  if (definition.isArray()) {
    for (const Value& column : definition.items())
      if (!detail::nameArg(srv, column.at(kDefName), "column", 1)) return false;
  }
  const std::pair<const Value*, const char*> keys[] = {{&primary, "primary key"}, {&unique, "unique key"},
                                                       {&autoInc, "auto-increment column"}};
  for (const auto& [key, what] : keys) {
    if (key->str().empty() || nameList(key->str(), srv.handle())) continue;
    detail::reportNotAName(srv, *key, what);
    return false;
  }
  return true;
}

// Whether some column of the definition carries the normalised name.
bool namesColumn(const Value& definition, const std::string& name, long long conn) {
  for (const Value& column : definition.items())
    if (lowerCaseName(column.at(kDefName).asString(), conn) == name) return true;
  return false;
}

// The column clause of one definition (without the separating comma).
std::string columnClause(const Value& column, const Value& primaryKey, const Value& autoIncrement, long long conn) {
  const std::string name = column.at(kDefName).asString();
  const std::string code = column.at(kDefType).asString();
  const std::string len = numberText(column.at(kDefLength));
  const std::string nn = FNOTNULL(column, primaryKey, autoIncrement);
  const Value& defaultValue = column.at(kDefDefault);

  if (code == "M") return name + " text" + nn;
  if (code == "N") {
    const long long digits = column.at(kDefLength).asInt();
    const long long decimals = column.at(kDefDecimals).asInt();
    if (decimals != 0 || digits > 18)
      return name + " decimal(" + len + "," + numberText(column.at(kDefDecimals)) + ")" + nn + defaultClause(defaultValue, conn);
    const std::string& autoName = autoIncrement.asString();
    if (!autoName.empty() && lowerCaseName(name, conn) == autoName) return name + " int(" + len + ")" + nn + " auto_increment";
    const char* type = digits <= 4 ? " smallint(" : digits <= 6 ? " mediumint(" : digits <= 9 ? " int(" : " bigint(";
    return name + type + len + ")" + nn + defaultClause(defaultValue, conn);
  }
  std::string type;
  if (code == "D") type = " date ";
  else if (code == "L") type = " tinyint (1)";
  else if (code == "B") type = " mediumblob ";
  else if (code == "I") type = " mediumint ";
  else if (code == "T") type = " timestamp(" + len + ")";
  else type = " char(" + len + ")";  // "C" and every unlisted code
  return name + type + nn + defaultClause(defaultValue, conn);
}

}  // namespace

// CREATE DATABASE [IF NOT EXISTS] name [CHARACTER SET cs] [COLLATE  co].
bool TQuillonSrv::DBCreate(const Value& name, const Value& ifNotExists, const Value& charset,
                           const Value& collation) {
  const auto dbName = detail::nameArg(*this, name, "database", 1);
  if (!dbName) return false;
  if (!charset.isEmpty() && !detail::nameArg(*this, charset, "character set", 1)) return false;
  if (!collation.isEmpty() && !detail::nameArg(*this, collation, "collation", 1)) return false;
  std::string sql = "CREATE DATABASE";
  if (switchOr(ifNotExists, true)) sql += " IF NOT EXISTS";
  sql += ' ';
  sql += *dbName;
  if (!charset.isEmpty()) {
    sql += " CHARACTER SET ";
    sql += charset.asString();
  }
  if (!collation.isEmpty()) {
    sql += " COLLATE  ";
    sql += collation.asString();
  }
  return SqlQuery(sql);
}

namespace {
// Whether a listing by pattern holds the name itself: "%" and "_" in a name
// are wildcards to the listing, so a pattern also lists other names. The
// listing already applied the server's rule on letter case.
bool listsName(const Value& names, const std::string& name) {
  if (!names.isArray()) return false;
  for (const Value& listed : names.items())
    if (equalsNoCase(listed.asString(), name)) return true;
  return false;
}
}  // namespace

bool TQuillonSrv::DBExist(const Value& name) {
  if (name.isEmpty()) return false;
  const std::string normal = lowerCaseName(name.asString(), handle());
  return listsName(ListDBs(normal), normal);
}

bool TQuillonSrv::TableExist(const Value& name) {
  if (name.isEmpty()) return false;
  const std::string normal = lowerCaseName(name.asString(), handle());
  return listsName(ListTables(normal), normal);
}

bool TQuillonSrv::DeleteDB(const Value& name, const Value& ifExists) {
  const auto dbName = detail::nameArg(*this, name, "database", 1);
  if (!dbName) return false;
  std::string sql = "DROP DATABASE ";
  if (switchOr(ifExists, false)) sql += " IF EXISTS ";
  return SqlQuery(sql + *dbName);
}

// Builds CREATE TABLE from column definitions. With verify on, a malformed
// definition or a key name that matches no column is reported and nothing is sent.
bool TQuillonSrv::CreateTable(const Value& table, const Value& definition, const Value& primaryKey,
                              const Value& uniqueKey, const Value& autoIncrement, const Value& options,
                              const Value& ifNotExists, const Value& verify) {
  const bool doVerify = switchOr(verify, true);
  const bool ifNot = switchOr(ifNotExists, true);
  const std::size_t n = definition.isArray() ? definition.len() : 0;

  const long long conn = handle();
  const Value primary = lowerCaseName(primaryKey.asString(), conn);
  const Value autoInc = lowerCaseName(autoIncrement.asString(), conn);
  const Value unique = lowerCaseName(uniqueKey.asString(), conn);
  const std::string tableOptions = lowerCaseName(options.asString(), conn);

  if (doVerify && n > 0) {
    // Only a failed check reports: asking the client library here would report
    // again whatever the previous statement left behind.
    const Value code = VERIFYSTRUCTURE(definition);
    lError = false;
    if (!code.isNil()) {
      CheckError(code);
      return false;
    }
    if (!primary.str().empty() && !namesColumn(definition, primary.str(), conn))
      return detail::refuse(*this, kErrNoPrimaryColumn);
    if (!unique.str().empty() && !namesColumn(definition, unique.str(), conn))
      return detail::refuse(*this, kErrNoUniqueColumn);
    if (!autoInc.str().empty() && !namesColumn(definition, autoInc.str(), conn))
      return detail::refuse(*this, kErrNoAutoIncColumn);
  }

  if (!definitionNames(*this, table, definition, primary, unique, autoInc)) return false;
  std::string sql = "CREATE TABLE ";
  if (ifNot) sql += " IF NOT EXISTS ";
  sql += lowerCaseName(table.asString(), conn);
  if (n == 0) return SqlQuery(sql + " " + tableOptions + ";");

  sql += " (";
  for (const Value& column : definition.items()) {
    sql += columnClause(column, primary, autoInc, conn);
    sql += ',';
  }
  if (!primary.str().empty()) sql += " PRIMARY KEY (" + primary.str() + "),";
  // Every check of this call has passed here, so the unique key always follows;
  // a code left over from an earlier operation must not drop it.
  if (!unique.str().empty()) sql += " UNIQUE " + unique.str() + " (" + unique.str() + "),";
  sql.pop_back();
  sql += ")" + tableOptions + ";";
  return SqlQuery(sql);
}

// The table's CREATE statement on one line, without backquotes; "" on failure.
std::string TQuillonSrv::CreateInfo(const Value& table) {
  const auto name = detail::nameArg(*this, table, "table");
  if (!name) return std::string();
  QueryPtr q = Query("SHOW CREATE TABLE " + *name);
  std::string text;
  if (q) {
    if (q->LastRec() > 0) text = q->FieldGet(2).asString();
    q->End();
  }
  std::string out;
  out.reserve(text.size());
  for (char c : trimBlanks(trimValueText(text)))
    if (c != '\n' && c != '`') out += c;
  return out;
}

// ALTER TABLE t ADD [INDEX|UNIQUE|FULLTEXT|SPATIAL|PRIMARY KEY] name (cols) [USING type].
bool TQuillonSrv::CreateIndex(const Value& index, const Value& table, const Value& columns, const Value& constraint,
                              const Value& type) {
  static const char* const kConstraints[] = {"", "UNIQUE", "FULLTEXT", "SPATIAL", "PRIMARY KEY"};
  static const char* const kOrders[] = {"", "ASC", "DESC"};
  static const char* const kTypes[] = {"", "BTREE", "HASH", "RTREE"};
  auto word = [](const char* const* words, std::size_t count, const Value& v) -> std::string {
    long long i = v.asInt();
    return i > 0 && static_cast<std::size_t>(i) < count ? words[i] : "";
  };

  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName) return false;
  const auto indexName = detail::nameArg(*this, index, "index", 1);
  if (!indexName) return false;
  if (columns.isArray()) {
    for (const Value& column : columns.items()) {
      if (!detail::isNameArg(*this, column.isArray() ? column.at(1) : column, "column", 1)) return false;
    }
  }
  std::string sql = "ALTER TABLE " + *tableName + " ADD ";
  const std::string constraintWord = word(kConstraints, 5, constraint);
  sql += constraintWord.empty() ? std::string("INDEX ") : constraintWord + " ";
  sql += *indexName + " (";
  if (columns.isArray()) {
    for (const Value& column : columns.items()) {
      if (column.isArray())
        sql += column.at(1).asString() + " " + word(kOrders, 3, column.at(2)) + ",";
      else
        sql += column.asString() + ",";
    }
  }
  if (sql.back() == ',') sql.pop_back();
  sql += ") ";
  // The server wants the index type introduced by USING.
  const std::string typeWord = word(kTypes, 4, type);
  if (!typeWord.empty()) sql += "USING " + typeWord;
  return SqlQuery(sql);
}

// DROP INDEX name ON table; with the primary switch the primary key, which the
// server knows only under the quoted name PRIMARY, is dropped by ALTER TABLE.
bool TQuillonSrv::DeleteIndex(const Value& index, const Value& table, const Value& primary) {
  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName) return false;
  if (switchOr(primary, false)) return SqlQuery("ALTER TABLE " + *tableName + " DROP PRIMARY KEY");
  // The index name as given: checked, not normalised.
  if (!detail::isNameArg(*this, index, "index", 1)) return false;
  return SqlQuery("DROP INDEX " + index.str() + " ON " + *tableName);
}

bool TQuillonSrv::DeleteTables(const Value& tables, const Value& ifExists) {
  const Array list = tables.isArray() ? tables.items() : Array{tables};
  std::string names;
  for (const Value& table : list) {
    const auto name = detail::nameArg(*this, table, "table");
    if (!name) return false;
    if (!names.empty()) names += ", ";
    names += *name;
  }
  std::string sql = "DROP TABLE ";
  if (switchOr(ifExists, false)) sql += " IF EXISTS ";
  return SqlQuery(sql + names);
}

bool TQuillonSrv::ChangeEngine(const Value& table, const Value& engine) {
  const auto tableName = detail::nameArg(*this, table, "table");
  if (!tableName) return false;
  const auto engineName = detail::nameArg(*this, engine, "engine", 1);
  if (!engineName) return false;
  return SqlQuery("ALTER TABLE " + *tableName + " ENGINE = " + *engineName);
}

// One ALTER TABLE per table of the current database; failures do not stop the run.
void TQuillonSrv::ChangeEngineAll(const Value& engine) {
  const auto engineName = detail::nameArg(*this, engine, "engine", 1);
  if (!engineName) return;
  Value tables = ListTables();
  if (!tables.isArray()) return;
  for (const Value& name : Array(tables.items()))
    SqlQuery("ALTER TABLE " + quotedName(name.asString(), handle()) + " ENGINE = " + *engineName);
}

// OPTIMIZE TABLE for one table, or for every table of the current database.
void TQuillonSrv::Compact(const Value& table) {
  std::vector<std::string> names;
  if (!table.isEmpty()) {
    const auto name = detail::nameArg(*this, table, "table");
    if (!name) return;
    names.push_back(*name);
  } else {
    // Names read from the server are quoted when they need it.
    Value tables = ListTables();
    if (tables.isArray())
      for (const Value& t : tables.items()) names.push_back(quotedName(t.asString(), handle()));
  }
  for (const std::string& t : names) {
    // OPTIMIZE answers with a status table; it is read and dropped so that the
    // connection is ready for the next statement.
    if (SqlQuery("OPTIMIZE TABLE " + t) && db::fieldCount(handle()) > 0)
      db::freeResult(db::storeResult(handle()));
  }
}

Value TQuillonSrv::Impl::listedColumns(const std::string& table, const char* column) {
  const db::Handle res = db::listFields(srv.handle(), table.c_str(), column);
  if (res == 0) {
    srv.CheckError();
    return Value();
  }
  const Value structure = resultStructure(res, caseSensitiveNames());
  db::freeResult(res);
  return structure;
}

// Column descriptions of every column of the table; an empty array on failure.
Value TQuillonSrv::TableStructure(const Value& table) {
  const auto name = detail::listedName(*this, table, "table");
  if (!name) return Value::array();
  const Value structure = impl_->listedColumns(*name, nullptr);
  if (structure.isNil()) return Value::array();
  if (structure.len() == 0) CheckError();
  return structure;
}

}  // namespace veltro
