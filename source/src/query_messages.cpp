// Query object: its messages by name and the handler that takes unknown
// messages as column names; row objects handed out by GetRowObj.
#include <array>
#include <cstring>
#include <string>

#include "query_impl.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/table.h"

namespace veltro {

namespace {

using Q = TQuillonQry;

Q& q(Object& o) { return static_cast<Q&>(o); }

const MessageTable& queryMessages() {
  static const MessageTable table = [] {
    MessageTable t;
    t.reserve(128);
    t.member<Q, &Q::aColumns>("aColumns")
        .member<Q, &Q::aTables>("aTables")
        .member<Q, &Q::aRow>("aRow")
        .member<Q, &Q::aStructure>("aStructure")
        .member<Q, &Q::aOldRow>("aOldRow")
        .member<Q, &Q::bBof>("bBof")
        .member<Q, &Q::bEof>("bEof")
        .member<Q, &Q::bOnFillArray>("bOnFillArray")
        .member<Q, &Q::bOnChangePage>("bOnChangePage")
        .member<Q, &Q::bOnLoadQuery>("bOnLoadQuery")
        .member<Q, &Q::cQuery>("cQuery")
        .member<Q, &Q::cWhere>("cWhere")
        .member<Q, &Q::cGroup>("cGroup")
        .member<Q, &Q::cHaving>("cHaving")
        .member<Q, &Q::cOrder>("cOrder")
        .member<Q, &Q::cLimit>("cLimit")
        .member<Q, &Q::Cargo>("Cargo")
        .member<Q, &Q::hOldRow>("hOldRow")
        .member<Q, &Q::hResult>("hResult")
        .member<Q, &Q::hRow>("hRow")
        .member<Q, &Q::lBof>("lBof")
        .member<Q, &Q::lEof>("lEof")
        .member<Q, &Q::lAppend>("lAppend")
        .member<Q, &Q::lPagination>("lPagination")
        .member<Q, &Q::nFCount>("nFCount")
        .member<Q, &Q::nRecCount>("nRecCount")
        .member<Q, &Q::nRecNo>("nRecNo")
        .member<Q, &Q::nQryId>("nQryId")
        .member<Q, &Q::nCurrentPage>("nCurrentPage")
        .member<Q, &Q::nTotalRows>("nTotalRows")
        .member<Q, &Q::nPageStep>("nPageStep")
        .member<Q, &Q::nMaxPages>("nMaxPages")
        .member<Q, &Q::nCurrentLimit>("nCurrentLimit")
        .member<Q, &Q::oServer>("oServer")
        .member<Q, &Q::oRow>("oRow");
    t.add("End", [](Object& o, Args) -> Value { q(o).End(); return {}; })
        .add("Bof", [](Object& o, Args) -> Value { return q(o).Bof(); })
        .add("BuildDatas", [](Object& o, Args a) -> Value { q(o).BuildDatas(argAt(a, 0)); return {}; })
        .add("BuildDataWhere", [](Object& o, Args) -> Value { return q(o).BuildDataWhere(); })
        .add("BuildQuery", [](Object& o, Args a) -> Value {
          return q(o).BuildQuery(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5), argAt(a, 6), argAt(a, 7));
        })
        .add("CheckError", [](Object& o, Args a) -> Value { q(o).CheckError(argAt(a, 0)); return {}; })
        .add("Delete", [](Object& o, Args a) -> Value { return q(o).Delete(argAt(a, 0)); })
        .add("Eof", [](Object& o, Args) -> Value { return q(o).Eof(); })
        .add("FCount", [](Object& o, Args) -> Value { return q(o).FCount(); })
        .add("FieldLen", [](Object& o, Args a) -> Value { return q(o).FieldLen(argAt(a, 0)); })
        .add("FieldDec", [](Object& o, Args a) -> Value { return q(o).FieldDec(argAt(a, 0)); })
        .add("FieldName", [](Object& o, Args a) -> Value { return q(o).FieldName(argAt(a, 0)); })
        .add("FieldPos", [](Object& o, Args a) -> Value { return q(o).FieldPos(argAt(a, 0)); })
        .add("FieldGet", [](Object& o, Args a) -> Value { return q(o).FieldGet(argAt(a, 0)); })
        .add("FieldType", [](Object& o, Args a) -> Value { return q(o).FieldType(argAt(a, 0)); })
        .add("FieldMySqlType", [](Object& o, Args a) -> Value { return q(o).FieldMySqlType(argAt(a, 0)); })
        .add("FieldPut", [](Object& o, Args a) -> Value { return q(o).FieldPut(argAt(a, 0), argAt(a, 1)); })
        .add("FillArray", [](Object& o, Args a) -> Value { return q(o).FillArray(argAt(a, 0)); })
        .add("FirstPage", [](Object& o, Args) -> Value { q(o).FirstPage(); return {}; })
        .add("GetBlankRow", [](Object& o, Args a) -> Value { return q(o).GetBlankRow(argAt(a, 0)); })
        .add("GetRow", [](Object& o, Args a) -> Value { return q(o).GetRow(argAt(a, 0)); })
        .add("GoTo", [](Object& o, Args a) -> Value { return q(o).GoTo(argAt(a, 0)); })
        .add("GetRowObj", [](Object& o, Args a) -> Value { return q(o).GetRowObj(argAt(a, 0)); })
        .add("GoBottom", [](Object& o, Args) -> Value { return q(o).GoBottom(); })
        .add("GoTop", [](Object& o, Args) -> Value { return q(o).GoTop(); })
        .add("IsEqual", [](Object& o, Args a) -> Value { return q(o).IsEqual(argAt(a, 0)); })
        .add("IsSingleTable", [](Object& o, Args) -> Value { return q(o).IsSingleTable(); })
        .add("IsCommand", [](Object& o, Args) -> Value { return q(o).IsCommand(); })
        .add("LastPage", [](Object& o, Args) -> Value { q(o).LastPage(); return {}; })
        .add("LastRec", [](Object& o, Args) -> Value { return q(o).LastRec(); })
        .add("LoadQuery", [](Object& o, Args a) -> Value { q(o).LoadQuery(argAt(a, 0)); return {}; })
        .add("MakePrimaryKeyWhere", [](Object& o, Args) -> Value { return q(o).MakePrimaryKeyWhere(); })
        .add("NextPage", [](Object& o, Args a) -> Value { q(o).NextPage(argAt(a, 0), argAt(a, 1)); return {}; })
        .add("PrevPage", [](Object& o, Args a) -> Value { q(o).PrevPage(argAt(a, 0), argAt(a, 1)); return {}; })
        .add("RecNo", [](Object& o, Args) -> Value { return q(o).RecNo(); })
        .add("RecCount", [](Object& o, Args) -> Value { return q(o).RecCount(); })
        .add("Refresh", [](Object& o, Args a) -> Value { return q(o).Refresh(argAt(a, 0)); })
        .add("Save", [](Object& o, Args) -> Value { return q(o).Save(); })
        .add("Seek", [](Object& o, Args a) -> Value {
          return q(o).Seek(argAt(a, 0), argAt(a, 1), argAt(a, 2), argAt(a, 3), argAt(a, 4), argAt(a, 5));
        })
        .add("SetNewFilter", [](Object& o, Args a) -> Value { return q(o).SetNewFilter(argAt(a, 0), argAt(a, 1), argAt(a, 2)); })
        .add("SetWhere", [](Object& o, Args a) -> Value { return q(o).SetWhere(argAt(a, 0), argAt(a, 1)); })
        .add("SetGroup", [](Object& o, Args a) -> Value { return q(o).SetGroup(argAt(a, 0), argAt(a, 1)); })
        .add("SetHaving", [](Object& o, Args a) -> Value { return q(o).SetHaving(argAt(a, 0), argAt(a, 1)); })
        .add("SetOrder", [](Object& o, Args a) -> Value { return q(o).SetOrder(argAt(a, 0), argAt(a, 1)); })
        .add("SetLimit", [](Object& o, Args a) -> Value { return q(o).SetLimit(argAt(a, 0), argAt(a, 1)); })
        .add("SetPages", [](Object& o, Args a) -> Value { q(o).SetPages(argAt(a, 0)); return {}; })
        .add("Skip", [](Object& o, Args a) -> Value { return q(o).Skip(argAt(a, 0)); })
        .add("Undo", [](Object& o, Args a) -> Value { q(o).Undo(argAt(a, 0)); return {}; })
        .add("Zap", [](Object& o, Args) -> Value { return q(o).Zap(); });
    return t;
  }();
  return table;
}

// "_" + lower-case name in a buffer that lives on the stack for usual names.
class ColumnKey {
 public:
  explicit ColumnKey(std::string_view field) {
    const std::size_t n = field.size() + 1;
    char* out = buf_.data();
    if (n > buf_.size()) {
      heap_.resize(n);
      out = heap_.data();
    }
    out[0] = '_';
    for (std::size_t i = 0; i < field.size(); ++i) {
      out[i + 1] = foldAscii(field[i]);
    }
    key_ = std::string_view(out, n);
  }
  std::string_view key() const { return key_; }
  std::string_view field() const { return key_.substr(1); }

 private:
  std::array<char, 64> buf_{};
  std::string heap_;
  std::string_view key_;
};

// Raises "BASE" subCode, "Message not found", for a name that is no column of the row.
Value notFound(int subCode, std::string_view field) {
  auto err = std::make_shared<Error>();
  err->SubSystem = "BASE";
  err->SubCode = subCode;
  err->Severity = 2;
  err->Description = "Message not found";
  err->Operation = "TQUILLYNQRY: " + std::string(field);
  raiseError(err);
  return Value();
}

}  // namespace

const MessageTable& TQuillonQry::messages() const { return queryMessages(); }

// A message the class does not define names a column: no argument reads it,
// one argument writes it. A name that is no column of the row raises "BASE"
// 1004 (read) or 1005 (assignment), "Message not found".
Value TQuillonQry::onUnknown(std::string_view message, Args args) {
  const bool assign = !message.empty() && message[0] == '_';
  const int subCode = assign ? 1005 : 1004;
  const std::string_view name = assign ? message.substr(1) : message;
  const Value& value = argAt(args, 0);
  Table* row = hRow.tableOrNull();
  // A loaded column reached through its cached position: the usual case, and
  // the same column that FieldGet and FieldPut would find by the name.
  if (row) {
    if (const long n = qdetail::columnOf(impl_->cols, name)) {
      auto& c = impl_->cols[static_cast<std::size_t>(n - 1)];
      if (qdetail::slot(*row, c.rowSlot, c.key, false)) {
        if (!value.isNil()) {
          if (n <= nFCount.asInt()) putAt(n, value);
          return value;
        }
        return fieldAt(n);
      }
    }
  }
  const ColumnKey ck(name);
  if (!row) return notFound(subCode, ck.field());
  if (row->has(ck.key())) {
    const Value field(ck.field());
    if (!value.isNil()) {
      FieldPut(field, value);
      return value;
    }
    return FieldGet(field);
  }
  return notFound(subCode, ck.field());
}

// Hands out a row object of row nRow (default the current row, no move).
RowPtr TQuillonQry::GetRowObj(const Value& nRow) {
  if (!nRow.isNil() && nRow.asInt() != nRecNo.asInt()) GoTo(nRow);
  oRow = Value();
  RowPtr row = TQuillonRow::New(self());
  oRow = row;
  return row;
}

}  // namespace veltro
