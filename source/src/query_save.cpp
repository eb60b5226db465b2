// Query object: writing the current row back (UPDATE or INSERT) and deleting.
#include <string>

#include "query_impl.h"
#include "server_impl.h"
#include "server_refuse.h"
#include "sql_dialect.h"
#include "sql_statement_text.h"
#include "veltro/append.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"

namespace veltro {

namespace {

// Texts equal up to trailing blanks (padding), compared without trimming
// padded texts from their ends first.
bool sameTextPadded(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  return b.compare(0, a.size(), a) == 0 && trimRight(b.substr(a.size())).empty();
}

// Whether a current value differs from the loaded one. Texts compare exactly
// except for trailing blanks (padding), so an appended text is always saved.
bool changed(const Value& now, const Value& loaded) {
  if (now.isString() && loaded.isString()) return !sameTextPadded(now.str(), loaded.str());
  if (now.isNumber() && loaded.isNumber()) return compare(now.number(), loaded.number()) != 0;
  if (now.kind() != loaded.kind()) return true;
  return !(now == loaded);
}

// What a field reads as for saving: the held value itself when FieldGet would
// hand it back as it is or only padded, else FieldGet's value, kept in spare.
const Value& savedValue(TQuillonQry& q, const qdetail::QueryColumn& c, const Value* held, long n, Value& spare) {
  if (held && qdetail::readsAsHeld(c, *held, true)) return *held;
  spare = q.FieldGet(n);
  return spare;
}

// The condition on a nullable BIT column whose loaded value reads as no bits
// set: NULL reads so too, and the row may hold either.
void appendNoBits(std::string& out, const std::string& name) {
  out += '(';
  appendBytes(out, name);
  appendBytes(out, " IS NULL OR ");
  appendBytes(out, name);
  appendBytes(out, " = 0)");
}

}  // namespace

namespace qdetail {

std::string tableOfItem(std::string_view item, const sql::Dialect& d) {
  sql::Lexer lex(item, d);
  auto nextCode = [&] {
    for (sql::Token t = lex.next();; t = lex.next())
      if (t.kind == sql::Tok::End || sql::isCode(t)) return t;
  };
  auto isName = [](const sql::Token& t) { return t.kind == sql::Tok::Word || (t.kind == sql::Tok::Name && t.closed); };
  std::string name;
  sql::Token t = nextCode();
  if (!isName(t)) return {};
  name = t.text(item);
  t = nextCode();
  if (t.kind == sql::Tok::Punct && item[t.begin] == '.') {
    t = nextCode();
    if (!isName(t)) return {};
    name += '.';
    name += t.text(item);
    t = nextCode();
  }
  if (sql::isKeyword(item, t, "AS")) {
    t = nextCode();
    if (!isName(t)) return {};
  }
  if (isName(t)) t = nextCode();
  return t.kind == sql::Tok::End ? name : std::string();
}

}  // namespace qdetail

// Writes the current row: INSERT in append mode, else an UPDATE of the changed
// columns found again by the key condition (or by every loaded value). Returns
// true when a statement was sent, false when nothing was to be written, nil for
// a query over more than one table.
Value TQuillonQry::Save() {
  ServerPtr srv = server();
  const long long conn = srv ? srv->handle() : 0;
  const std::string table = IsSingleTable() ? qdetail::tableOfItem(aTables.at(1).asString(), sql::dialectOf(conn)) : "";
  if (table.empty()) return detail::refuse(srv, kErrSaveTables, Value("Save needs a query of one table"));
  if (auto row = oRow.asObjectOf<TQuillonRow>()) row->SetData();
  oRow = Value();

  const bool append = lAppend.asBool();
  StatementText statement;
  std::string& sql = statement.text();
  sql.reserve(512);
  appendBytes(sql, append ? "INSERT INTO " : "UPDATE ");
  appendLowerCaseName(sql, table, conn);
  appendBytes(sql, " SET ");
  std::size_t written = 0;
  // Held, not borrowed: FieldGet may report an error to a handler that replaces the tables.
  TablePtr row = hRow.asTable();
  TablePtr old = hOldRow.asTable();
  auto& cols = impl_->cols;
  Value spare;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    auto& c = cols[i];
    const Value* held = row ? qdetail::slot(*row, c.rowSlot, c.key, false) : nullptr;
    const Value& value = savedValue(*this, c, held, static_cast<long>(i + 1), spare);
    if (!append) {
      const Value* loaded = old ? qdetail::slot(*old, c.oldSlot, c.key, false) : nullptr;
      static const Value nil;
      if (!changed(value, loaded ? *loaded : nil)) continue;  // a reference: no copy of the loaded text
    }
    appendBytes(sql, c.sqlName);
    sql += '=';
    appendLiteral(sql, value, '\0', (c.flags & db::kNotNullFlag) != 0, conn);
    sql += ',';
    ++written;
  }
  if (written > 0) {
    sql.pop_back();
    if (!append) {
      appendBytes(sql, " WHERE ");
      if (!appendKeyWhere(sql)) sql += BuildDataWhere();
    }
    if (srv && srv->impl_->sendStatement(sql)) LoadQuery();
  }
  lAppend = false;
  return written > 0;
}

// Deletes the current row (found by the key condition or every loaded value),
// or every row of the table with lAll. True when the server accepted it.
bool TQuillonQry::Delete(const Value& lAll) {
  ServerPtr srv = server();
  const std::string table =
      IsSingleTable() ? qdetail::tableOfItem(aTables.at(1).asString(), sql::dialectOf(srv ? srv->handle() : 0)) : "";
  if (table.empty()) return detail::refuse(srv, kErrDeleteTables, Value("Delete needs a query of one table"));
  std::string sql = "DELETE FROM " + table;
  if (!lAll.asBool()) {
    sql += " WHERE ";
    if (!appendKeyWhere(sql)) sql += BuildDataWhere();
  }
  if (!srv || !srv->SqlQuery(sql)) return false;
  LoadQuery();
  return true;
}

// "k1=v1 AND k2=v2" over the primary-key and non-unique-key columns, from the
// loaded values; "" when the result has no rows or no such column.
std::string TQuillonQry::MakePrimaryKeyWhere() {
  std::string where;
  appendKeyWhere(where);
  return where;
}

bool TQuillonQry::appendKeyWhere(std::string& out) {
  if (LastRec() == 0) return false;
  const std::size_t base = out.size();
  // Borrowed: nothing below runs the caller's code.
  Table* old = hOldRow.tableOrNull();
  bool any = false;
  ServerPtr srv = server();
  const long long conn = srv ? srv->handle() : 0;
  static const Value nil;
  for (auto& c : impl_->cols) {
    if ((c.flags & (db::kPrimaryKeyFlag | db::kMultipleKeyFlag)) == 0) continue;
    const Value* held = old ? qdetail::slot(*old, c.oldSlot, c.key, false) : nullptr;
    const Value& value = held ? *held : nil;
    const bool notNull = (c.flags & db::kNotNullFlag) != 0;
    if (any) appendBytes(out, " AND ");
    any = true;
    if (c.bits && !notNull && value.isEmpty()) {
      appendNoBits(out, c.sqlName);
      continue;
    }
    appendBytes(out, c.sqlName);
    out += '=';
    // A key column that cannot be NULL is written as its literal even when
    // empty (a key of 0 is 0); a NULL of a nullable index column is matched by IS.
    const std::size_t literal = out.size();
    appendLiteral(out, value, static_cast<char>(c.kind), notNull, conn);
    if (out.compare(literal, std::string::npos, "NULL") == 0) out.replace(literal - 1, 1, " IS ");
  }
  if (!any) out.resize(base);
  return any;
}

// A condition matching the loaded row by every column's loaded value.
std::string TQuillonQry::BuildDataWhere() {
  std::string where;
  TablePtr old = hOldRow.asTable();
  ServerPtr srv = server();
  const long long conn = srv ? srv->handle() : 0;
  auto& cols = impl_->cols;
  for (auto& c : cols) {
    const Value* raw = old ? qdetail::slot(*old, c.oldSlot, c.key, false) : nullptr;
    static const Value nil;
    const bool notNull = (c.flags & db::kNotNullFlag) != 0;
    const std::string& name = c.sqlName;
    if (c.bits && !notNull && (!raw || raw->isEmpty())) {
      appendNoBits(where, name);
      where += " AND ";
      continue;
    }
    const std::string literal = sqlLiteral(raw ? *raw : nil, conn, '\0', notNull);
    if (notNull) {
      where += name + " = " + literal;
    } else if (c.kind == Kind::Memo && (literal == "''" || literal == "NULL")) {
      // The library reads NULL and '' alike, so an empty memo matches either.
      where += "(" + name + " IS NULL OR " + name + " = '')";
    } else {
      where += name + (literal == "NULL" ? " IS " : " = ") + literal;
    }
    where += " AND ";
  }
  if (where.size() >= 5) where.resize(where.size() - 5);
  return where;
}

}  // namespace veltro
