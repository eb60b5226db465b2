// Query object: fields of the current row by name and number, their
// descriptions, typed conversion, edits, undo, the blank row and FillArray.
#include <algorithm>
#include <string>

#include "query_impl.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"
#include "server_refuse.h"

namespace veltro {

namespace {

bool sameKind(const Value& a, const Value& b) {
  // Text and memo are both texts to the user of a column.
  if (a.isString() && b.isString()) return true;
  return a.kind() == b.kind();
}

// "a number", "a text", ... for messages.
std::string kindName(const Value& v) {
  switch (v.kind()) {
    case Kind::Text: case Kind::Memo: return "a text";
    case Kind::Number: return "a number";
    case Kind::Date: return "a date";
    case Kind::Timestamp: return "a timestamp";
    case Kind::Logical: return "a logical";
    case Kind::Nil: return "nil";
    case Kind::Array: return "an array";
    case Kind::Table: return "a keyed table";
    case Kind::Block: return "a code block";
    case Kind::Object: return "an object";
  }
  return "an object";
}

Value padded(const qdetail::QueryColumn& c, std::string_view text, std::size_t width) {
  Value out;
  qdetail::assignPadded(out, text, qdetail::padFor(c, text, width));
  return out;
}

}  // namespace

std::string TQuillonQry::FieldName(const Value& nField) {
  const std::int64_t n = nField.isNumber() ? nField.asInt() : 0;
  if (n < 1 || n > nFCount.asInt()) {
    return detail::refuse(server(), kErrFieldNumber,
                          Value("no column " + nField.toString() + " (the query has " + std::to_string(nFCount.asInt()) + ")"));
  }
  return aStructure.at(static_cast<std::size_t>(n)).at(kDescName).asString();
}

// Column number of a name, compared with the column names (lower case) after
// lower-casing the argument; blanks around it are not ignored.
long TQuillonQry::FieldPos(const Value& cName) {
  if (cName.isString() && !cName.isEmpty()) {
    if (long n = qdetail::columnOf(impl_->cols, cName.str())) return n;
  }
  return detail::refuse(server(), kErrFieldName, Value("no column named " + cName.toString()));
}

long TQuillonQry::FieldToNum(const Value& uField) {
  if (uField.isString()) return FieldPos(uField);
  return static_cast<long>(uField.asInt());
}

long TQuillonQry::FieldLen(const Value& uField) {
  const long n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > aStructure.len()) return 0;
  return static_cast<long>(aStructure.at(static_cast<std::size_t>(n)).at(kDescLength).asInt());
}

long TQuillonQry::FieldDec(const Value& uField) {
  const long n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > aStructure.len()) return 0;
  return static_cast<long>(aStructure.at(static_cast<std::size_t>(n)).at(kDescDecimals).asInt());
}

std::string TQuillonQry::FieldType(const Value& uField) {
  const long n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > aStructure.len()) return "U";
  return aStructure.at(static_cast<std::size_t>(n)).at(kDescKind).asString();
}

Kind TQuillonQry::FieldKind(const Value& uField) {
  const long n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > impl_->cols.size()) return Kind::Nil;
  return impl_->cols[static_cast<std::size_t>(n - 1)].kind;
}

Value TQuillonQry::FieldMySqlType(const Value& uField) {
  const long n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > aStructure.len()) return "U";
  return aStructure.at(static_cast<std::size_t>(n)).at(kDescType);
}

// The typed value of a column of the current row; nil (after 9013) when the
// row holds none.
Value TQuillonQry::FieldGet(const Value& uField) {
  auto& cols = impl_->cols;
  // A column name found directly spares FieldPos's emptiness test; misses go
  // the long way so that they raise what FieldPos raises.
  long n = uField.isString() ? qdetail::columnOf(cols, uField.str()) : 0;
  if (n == 0) n = FieldToNum(uField);
  if (n < 1 || static_cast<std::size_t>(n) > cols.size()) {
    if (!uField.isString()) FieldName(uField);
    return detail::refuse(server(), kErrFieldValue, Value("no value for column " + uField.toString()));
  }
  return fieldAt(n);
}

Value TQuillonQry::fieldAt(long n) {
  auto& c = impl_->cols[static_cast<std::size_t>(n - 1)];
  Table* row = hRow.tableOrNull();
  Value* v = row ? qdetail::slot(*row, c.rowSlot, c.key, false) : nullptr;
  if (!v)
    return detail::refuse(server(), kErrFieldValue, Value("the row holds no value of column " + c.name));
  // A value already of its column's kind needs no verifying: the walk over a
  // result reads most fields this way.
  if (qdetail::readsAsHeld(c, *v, false)) return *v;
  return VerifyValue(n, *v);
}

// Writes a column of the current row when the value has the kind already held
// (or the column holds nil). Texts are stored trimmed, as given otherwise.
Value TQuillonQry::FieldPut(const Value& uField, const Value& uValue) {
  const long n = FieldToNum(uField);
  if (n < 1 || n > nFCount.asInt() || static_cast<std::size_t>(n) > impl_->cols.size()) return Value();
  return putAt(n, uValue);
}

Value TQuillonQry::putAt(long n, const Value& uValue) {
  auto& c = impl_->cols[static_cast<std::size_t>(n - 1)];
  Table* row = hRow.tableOrNull();
  if (!row) return Value();
  Value* held = qdetail::slot(*row, c.rowSlot, c.key, false);
  if (held && !held->isNil() && !sameKind(*held, uValue)) {
    return detail::refuse(server(), kErrFieldKind,
                          Value("column " + c.name + " holds " + kindName(*held) + ", given " + kindName(uValue)));
  }
  Value* slotV = held ? held : qdetail::slot(*row, c.rowSlot, c.key, true);
  if (uValue.isString()) {
    // Held as given, only trimmed: Save escapes it once, for its connection.
    const std::string_view text = trimBlanks(uValue.str());
    *slotV = uValue.isMemo() ? Value::memo(std::string(text)) : Value(text);
    return *slotV;
  }
  slotV->assign(uValue);
  return uValue;
}

// A raw or typed value as the column's type letter reads it; typed values pass
// unchanged, texts of "C" and "T" columns come back padded to the column width.
Value TQuillonQry::VerifyValue(long nField, const Value& uValue) {
  auto& cols = impl_->cols;
  if (nField < 1 || static_cast<std::size_t>(nField) > cols.size()) return uValue;
  const auto& c = cols[static_cast<std::size_t>(nField - 1)];
  switch (c.kind) {
    case Kind::Logical:
      if (uValue.isNil()) return !Number::leading(c.def).isZero();
      if (uValue.isString()) return !Number::leading(uValue.str()).isZero();
      if (uValue.isNumber()) return !uValue.number().isZero();
      return uValue;
    case Kind::Number:
      if (uValue.isNil()) return Number::leading(c.def);
      if (uValue.isString()) {
        Number num;
        if (!Number::parse(uValue.str(), num)) num = Number::leading(uValue.str());
        return num;
      }
      return uValue;
    case Kind::Date:
      if (uValue.isNil() || (uValue.isString() && uValue.str().empty()) || (uValue.isDate() && uValue.asDate().empty()))
        return qdetail::sqlDate(c.def);
      if (uValue.isString()) return qdetail::sqlDate(uValue.str());
      return uValue;
    case Kind::Memo:
      if (uValue.isNil()) return "";
      return uValue;
    case Kind::Text:
    case Kind::Timestamp: {
      const std::size_t width = qdetail::padWidth(c);
      if (uValue.isNil()) return padded(c, c.def, width);
      if (uValue.isString() && uValue.str().size() < width) {
        Value out = padded(c, uValue.str(), width);
        return uValue.isMemo() ? Value::memo(std::move(out.str())) : out;
      }
      return uValue;
    }
    default:
      return uValue;
  }
}

bool TQuillonQry::IsEqual(const Value& cName) {
  std::string key(1, '_');
  key += qdetail::textOf(cName);
  TablePtr row = hRow.asTable(), old = hOldRow.asTable();
  const Value* a = row ? row->find(key) : nullptr;
  const Value* b = old ? old->find(key) : nullptr;
  if (!a || !b) return false;
  return *a == *b;
}

// Restores the loaded value of one column, or of every column without an
// argument, in the row object's tables when one is handed out.
void TQuillonQry::Undo(const Value& uField) {
  const long n = uField.isNil() ? 0 : FieldToNum(uField);
  auto row = oRow.asObjectOf<TQuillonRow>();
  Value& curV = row ? row->uRow : hRow;
  Value& oldV = row ? row->uOldRow : hOldRow;
  TablePtr old = oldV.asTable();
  if (!old) return;
  if (n == 0) {
    curV = Value(old->copy());
    return;
  }
  auto& cols = impl_->cols;
  if (n < 0 || static_cast<std::size_t>(n) > cols.size()) return;
  TablePtr cur = curV.asTable();
  if (!cur) return;
  const std::string& key = cols[static_cast<std::size_t>(n - 1)].key;
  cur->set(key, old->get(key));
}

// Starts a new row for insertion: every column blank from its default, append
// mode on, and (by default) a row object of that row.
RowPtr TQuillonQry::GetBlankRow(const Value& lObj) {
  if (!IsSingleTable())
    return detail::refuse(server(), kErrBlankRowTables, Value("a blank row needs a query of one table"));
  oRow = Value();
  lAppend = true;
  auto& cols = impl_->cols;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const auto& c = cols[i];
    Value blank;
    switch (c.kind) {
      case Kind::Memo: blank = c.def; break;
      case Kind::Text: blank = padded(c, c.def, qdetail::padWidth(c)); break;
      case Kind::Number: blank = Number::leading(c.def); break;
      case Kind::Logical: blank = c.def == "1"; break;
      case Kind::Date: blank = qdetail::sqlDate(c.def); break;
      default: break;
    }
    SetData(static_cast<long>(i + 1), blank);
  }
  if (!qdetail::flagOr(lObj, true)) return nullptr;
  return GetRowObj();
}

// The rows from the current one to the last, each as an array of its fields;
// the cursor ends on the last row with Eof() true.
Value TQuillonQry::FillArray(const Value& bBlock) {
  const Value block = bBlock.isNil() ? bOnFillArray : bBlock;
  Value result = Value::array();
  if (nRecCount.asInt() > 0) {
    while (!lEof.asBool()) {
      Value rowArr = Value::array();
      const long count = FCount();
      rowArr.items().reserve(static_cast<std::size_t>(std::max(count, 0L)));
      for (long i = 1; i <= count; ++i) rowArr.items().push_back(FieldGet(i));
      if (block.isBlock()) block(rowArr);
      result.items().push_back(rowArr);
      if (Skip() == 0 && !lEof.asBool()) break;  // the cursor could not move (result gone)
    }
  }
  return result;
}

}  // namespace veltro
