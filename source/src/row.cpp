// Row object: a detached copy of one row of a query.
#include <string>

#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/table.h"

namespace veltro {

namespace {

using R = TQuillonRow;


Value copyTable(const Value& t) {
  TablePtr p = t.asTable();
  return p ? Value(p->copy()) : Value::table(true);
}

const MessageTable& rowMessages() {
  static const MessageTable table = [] {
    MessageTable t;
    t.member<R, &R::uRow>("uRow")
        .member<R, &R::uOldRow>("uOldRow")
        .member<R, &R::oQuery>("oQuery")
        .member<R, &R::nRecno>("nRecno");
    t.add("SetData", [](Object& o, Args) -> Value {
      static_cast<R&>(o).SetData();
      return {};
    });
    return t;
  }();
  return table;
}

}  // namespace

RowPtr TQuillonRow::New(const QueryPtr& query) {
  auto row = std::make_shared<TQuillonRow>(Key{});
  if (!query) return row;
  row->oQuery = query;
  row->nRecno = query->nRecNo;
  row->uRow = copyTable(query->hRow);
  row->uOldRow = copyTable(query->hOldRow);
  return row;
}

// Replaces the query's current row (wherever it now stands) with the copy.
void TQuillonRow::SetData() {
  auto query = oQuery.asObjectOf<TQuillonQry>();
  if (!query) return;
  query->hRow = copyTable(uRow);
  query->hOldRow = copyTable(uOldRow);
}

Value TQuillonRow::get(std::string_view column) const {
  TablePtr t = uRow.asTable();
  if (!t) return Value();
  std::string key = "_";
  key.append(column);
  return t->get(key);
}

const MessageTable& TQuillonRow::messages() const { return rowMessages(); }

// A column of the copy is read or written by name as stored (no check, no
// escaping); any other message goes to the query, without a leading "_".
Value TQuillonRow::onUnknown(std::string_view message, Args args) {
  std::string field = lower(!message.empty() && message[0] == '_' ? message.substr(1) : message);
  const Value value = argAt(args, 0);
  TablePtr t = uRow.asTable();
  const std::string key = "_" + field;
  if (t && t->has(key)) {
    if (!value.isNil()) {
      t->set(key, value);
      return value;
    }
    return t->get(key);
  }
  if (field.find('(') != std::string::npos) {
    for (std::size_t p; (p = field.find("()")) != std::string::npos;) field.erase(p, 2);
  }
  auto query = oQuery.asObjectOf<TQuillonQry>();
  if (!query) return Value();
  if (value.isNil()) return query->send(field, Args{});
  return query->send(field, value);
}

}  // namespace veltro
