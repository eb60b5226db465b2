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
    t.method<&Q::End>("End")
        .method<&Q::Bof>("Bof")
        .method<&Q::BuildDatas>("BuildDatas")
        .method<&Q::BuildDataWhere>("BuildDataWhere")
        .method<&Q::BuildQuery>("BuildQuery")
        .method<&Q::CheckError>("CheckError")
        .method<&Q::Delete>("Delete")
        .method<&Q::Eof>("Eof")
        .method<&Q::FCount>("FCount")
        .method<&Q::FieldLen>("FieldLen")
        .method<&Q::FieldDec>("FieldDec")
        .method<&Q::FieldName>("FieldName")
        .method<&Q::FieldPos>("FieldPos")
        .method<&Q::FieldGet>("FieldGet")
        .method<&Q::FieldType>("FieldType")
        .method<&Q::FieldMySqlType>("FieldMySqlType")
        .method<&Q::FieldPut>("FieldPut")
        .method<&Q::FillArray>("FillArray")
        .method<&Q::FirstPage>("FirstPage")
        .method<&Q::GetBlankRow>("GetBlankRow")
        .method<&Q::GetRow>("GetRow")
        .method<&Q::GoTo>("GoTo")
        .method<&Q::GetRowObj>("GetRowObj")
        .method<&Q::GoBottom>("GoBottom")
        .method<&Q::GoTop>("GoTop")
        .method<&Q::IsEqual>("IsEqual")
        .method<&Q::IsSingleTable>("IsSingleTable")
        .method<&Q::IsCommand>("IsCommand")
        .method<&Q::LastPage>("LastPage")
        .method<&Q::LastRec>("LastRec")
        .method<&Q::LoadQuery>("LoadQuery")
        .method<&Q::MakePrimaryKeyWhere>("MakePrimaryKeyWhere")
        .method<&Q::NextPage>("NextPage")
        .method<&Q::PrevPage>("PrevPage")
        .method<&Q::RecNo>("RecNo")
        .method<&Q::RecCount>("RecCount")
        .method<&Q::Refresh>("Refresh")
        .method<&Q::Save>("Save")
        .method<&Q::Seek>("Seek")
        .method<&Q::SetNewFilter>("SetNewFilter")
        .method<&Q::SetWhere>("SetWhere")
        .method<&Q::SetGroup>("SetGroup")
        .method<&Q::SetHaving>("SetHaving")
        .method<&Q::SetOrder>("SetOrder")
        .method<&Q::SetLimit>("SetLimit")
        .method<&Q::SetPages>("SetPages")
        .method<&Q::Skip>("Skip")
        .method<&Q::Undo>("Undo")
        .method<&Q::Zap>("Zap");
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
