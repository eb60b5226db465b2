// Query object: the cursor over the stored result, seek and pages.
#include <algorithm>
#include <string>

#include "query_impl.h"
#include "server_refuse.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"

namespace veltro {

namespace {

std::int64_t pageCount(std::int64_t total, std::int64_t step) {
  if (step <= 0) return 0;
  return total / step + (total % step > 0 ? 1 : 0);
}

std::string limitText(std::int64_t offset, std::int64_t count) {
  return std::to_string(offset) + "," + std::to_string(count);
}

// Counts the statement's rows again (without its limit) and the pages they make.
void recountPages(TQuillonQry& q, std::int64_t step) {
  ServerPtr srv = q.server();
  q.nTotalRows = srv ? srv->GetRowsFromQry(q.self()) : Value(0);
  q.nMaxPages = static_cast<long long>(pageCount(q.nTotalRows.asInt(), step));
}

// The bytes the server sends for a BIT column of width bits holding value (a
// logical, a number, or a text's leading number), big-endian; false when
// value is nil or no whole number that fits in width bits.
bool bitBytes(const Value& value, std::uint64_t width, std::string& out) {
  if (value.isNil() || width == 0) return false;
  Number n;
  if (value.isLogical())
    n = Number::fromInt(value.asBool() ? 1 : 0);
  else if (value.isNumber())
    n = value.number();
  else
    n = Number::leading(qdetail::textOf(value));
  std::uint64_t bits = 0;
  if (!n.toUInt(bits) || (width < 64 && bits >> width != 0)) return false;
  const std::size_t size = static_cast<std::size_t>((std::min<std::uint64_t>(width, 64) + 7) / 8);
  out.assign(size, '\0');
  for (std::size_t i = size; i-- > 0; bits >>= 8) out[i] = static_cast<char>(bits & 0xFF);
  return true;
}

}  // namespace

// Positions on row nRow (default the current one), clamped to the rows present,
// and converts that row into hRow and hOldRow. Returns the new nRecNo.
long TQuillonQry::GetRow(const Value& nRow) {
  std::int64_t row = nRow.isNil() ? nRecNo.asInt() : nRow.asInt();
  if (hResult.isNil()) {
    nRecNo = 0;
    return detail::refuse(server(), kErrNotLoaded, Value("the query has no loaded result"));
  }
  const std::int64_t count = nRecCount.asInt();
  std::int64_t recNo;
  bool bof, eof;
  if (count < 1) {
    bof = eof = true;
    recNo = 1;
  } else if (row >= 1 && row <= count) {
    bof = eof = false;
    recNo = row;
  } else if (row > count) {
    bof = false;
    eof = true;
    recNo = count;
  } else {
    bof = true;
    eof = false;
    recNo = 1;
  }
  // In place: the members hold their kinds row after row.
  lBof.setLogical(bof);
  lEof.setLogical(eof);
  nRecNo.setNumber(Number::fromInt(recNo));
  if (count < 1) return static_cast<long>(recNo);

  Impl& im = *impl_;
  const db::Handle res = hResult.asInt();
  const auto wanted = static_cast<std::uint64_t>(recNo - 1);
  // Seeking in a stored result walks its rows from the start, so a walk row by
  // row fetches on without seeking when the result already stands there.
  if (im.nextRow != wanted) db::dataSeek(res, wanted);
  if (!db::fetchRow(res, im.view)) {
    im.nextRow = Impl::kUnknownRow;
    return static_cast<long>(recNo);
  }
  im.nextRow = wanted + 1;

  // Nothing below runs the caller's code, so the tables stay held by hRow and hOldRow.
  Table* cur = hRow.tableOrNull();
  Table* old = hOldRow.tableOrNull();
  if (!cur || !old) return static_cast<long>(recNo);
  const std::size_t n = std::min<std::size_t>(im.view.count, im.cols.size());
  const bool pad = padRight();
  for (std::size_t i = 0; i < n; ++i) {
    auto& c = im.cols[i];
    Value* v = qdetail::slot(*cur, c.rowSlot, c.key, true);
    qdetail::convertRaw(c, im.view.at(static_cast<unsigned>(i)), *v, pad ? c.width : 0);
    // One table for both: the loaded values are the row's values.
    if (old != cur) qdetail::slot(*old, c.oldSlot, c.key, true)->assign(*v);
  }
  return static_cast<long>(recNo);
}

// Moves by nRows (default 1) and returns the rows actually moved; bEof and then
// bBof run when the move ends at either end.
long TQuillonQry::Skip(const Value& nRows) {
  const std::int64_t before = nRecNo.asInt();
  const std::int64_t by = nRows.isNil() ? 1 : nRows.asInt();
  nRecNo.setNumber(Number::fromInt(before + by));
  const long got = GetRow(nRecNo);
  if (got > 0 && by != 0) {
    if (Eof() && bEof.isBlock()) bEof(self());
    if (Bof() && bBof.isBlock()) bBof(self());
  }
  return static_cast<long>(nRecNo.asInt() - before);
}

// Finds the first row in [nStart, nEnd] whose column matches uData; moves there
// unless lGoTo is false. Without a match the current row is read again and its
// number returned.
long TQuillonQry::Seek(const Value& uData, const Value& uField, const Value& nStart, const Value& nEnd,
                       const Value& lSoft, const Value& lGoTo) {
  const bool soft = qdetail::flagOr(lSoft, false);
  const bool go = qdetail::flagOr(lGoTo, true);
  if (nRecCount.asInt() == 0) return 0;
  const long col = FieldToNum(uField);
  const Kind kind = FieldKind(col);
  const long first = nStart.isNil() ? 1 : static_cast<long>(nStart.asInt());
  const long last = nEnd.isNil() ? static_cast<long>(nRecCount.asInt()) : static_cast<long>(nEnd.asInt());
  long found = 0;
  if (kind != Kind::Nil && impl_->cols[static_cast<std::size_t>(col - 1)].bits) {
    // The server sends a BIT column's bits as bytes: the value is searched as those bytes.
    std::string bytes;
    if (bitBytes(uData, static_cast<std::uint64_t>(std::max(FieldLen(col), 0L)), bytes)) {
      impl_->nextRow = Impl::kUnknownRow;  // the search moves the stored result
      found = db::seekBytes(hResult.asInt(), static_cast<unsigned>(col), bytes, first, last);
    }
  } else {
    Value value = uData;
    if (kind == Kind::Number) {
      if (!value.isNumber()) value = Number::leading(qdetail::textOf(value));
    } else if (kind == Kind::Date) {
      return 0;
    }
    std::string text;
    appendSqlLiteral(text, value, static_cast<char>(kind), false, false);
    impl_->nextRow = Impl::kUnknownRow;  // the search moves the stored result
    found = col > 0 ? db::seek(hResult.asInt(), static_cast<unsigned>(col), text, first, last, soft) : 0;
  }
  if (found > 0) {
    if (go) GetRow(found);
    return found;
  }
  GoTo(nRecNo);
  return RecNo();
}

// Switches pages on with nStep rows a page (default 100) and loads the first.
void TQuillonQry::SetPages(const Value& nStep) {
  std::int64_t step = nStep.isNil() ? 100 : nStep.asInt();
  if (step < 1) step = 1;  // a page holds at least one row
  lPagination = true;
  nPageStep = static_cast<long long>(step);
  nCurrentLimit = 0;
  nCurrentPage = 1;
  recountPages(*this, step);
  SetLimit(limitText(0, step));
}

void TQuillonQry::NextPage(const Value& nSkip, const Value& lRefresh) {
  if (!lPagination.asBool()) return;
  const std::int64_t skip = nSkip.isNil() ? 1 : nSkip.asInt();
  const bool refresh = qdetail::flagOr(lRefresh, true);
  const std::int64_t step = nPageStep.asInt();
  recountPages(*this, step);
  const std::int64_t total = nTotalRows.asInt();
  if (nCurrentPage.asInt() + skip < nMaxPages.asInt()) {
    nCurrentLimit = static_cast<long long>(nCurrentLimit.asInt() + step * skip);
    nCurrentPage = static_cast<long long>(nCurrentPage.asInt() + skip);
  } else {
    // The last page always shows the last nPageStep rows of the whole result.
    nCurrentLimit = static_cast<long long>(std::max<std::int64_t>(total - step, 0));
    nCurrentPage = nMaxPages;
  }
  SetLimit(limitText(nCurrentLimit.asInt(), step), refresh);
  if (lPagination.asBool() && bOnChangePage.isBlock() && refresh) bOnChangePage(false);
}

void TQuillonQry::PrevPage(const Value& nSkip, const Value& lRefresh) {
  if (!lPagination.asBool()) return;
  const std::int64_t skip = nSkip.isNil() ? 1 : nSkip.asInt();
  const bool refresh = qdetail::flagOr(lRefresh, true);
  const std::int64_t step = nPageStep.asInt();
  recountPages(*this, step);
  if (nCurrentPage.asInt() - skip > 0) {
    nCurrentLimit = static_cast<long long>(std::max<std::int64_t>(0, nCurrentLimit.asInt() - step * skip));
    nCurrentPage = static_cast<long long>(std::max<std::int64_t>(1, nCurrentPage.asInt() - skip));
  } else {
    nCurrentLimit = 0;
    nCurrentPage = 1;
  }
  SetLimit(limitText(nCurrentLimit.asInt(), step), refresh);
  if (lPagination.asBool() && bOnChangePage.isBlock() && refresh) bOnChangePage(true);
}

void TQuillonQry::FirstPage() { PrevPage(static_cast<long long>(nCurrentPage.asInt() - 1)); }

void TQuillonQry::LastPage() { NextPage(static_cast<long long>(nMaxPages.asInt() - nCurrentPage.asInt())); }

}  // namespace veltro
