// Query object: construction, loading a result, the statement parser and the
// rebuilding of the statement from its clauses.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sql_builders.h"
#include "query_impl.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"
#include "server_impl.h"

namespace veltro {

namespace {

bool liveHandle(const Value& h) { return h.isNumber() && h.asInt() != 0; }

// The pieces between the commas of a list that are code outside parentheses,
// blanks kept; an empty text gives one empty piece.
Value splitList(std::string_view text, const sql::Dialect& d) {
  Value out = Value::array();
  Array& items = out.items();
  std::size_t start = 0;
  int depth = 0;
  sql::Lexer lex(text, d);
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (t.kind != sql::Tok::Punct) continue;
    const char c = text[t.begin];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth > 0) --depth;
    } else if (c == ',' && depth == 0) {
      items.emplace_back(std::string(text.substr(start, t.begin - start)));
      start = t.end;
    }
  }
  items.emplace_back(std::string(text.substr(start)));
  return out;
}

enum class Clause { Select, Where, Group, Having, Limit, Order, From, Desc, Asc };

struct ClauseWord {
  std::string_view word;
  Clause clause;
  std::size_t skip;  // characters of the keyword and what follows it ("GROUP BY ") before the clause text
};

constexpr std::array<ClauseWord, 9> kClauseWords = {{{"SELECT", Clause::Select, 7},
                                                     {"WHERE", Clause::Where, 6},
                                                     {"GROUP", Clause::Group, 9},
                                                     {"HAVING", Clause::Having, 7},
                                                     {"LIMIT", Clause::Limit, 6},
                                                     {"ORDER", Clause::Order, 9},
                                                     {"FROM", Clause::From, 5},
                                                     {"DESC", Clause::Desc, 4},
                                                     {"ASC", Clause::Asc, 3}}};

// The clause a word of code opens: one of the keywords standing alone between
// single spaces (or the text's ends).
const ClauseWord* clauseAt(std::string_view text, const sql::Token& t) {
  if (t.kind != sql::Tok::Word) return nullptr;
  if (t.begin > 0 && text[t.begin - 1] != ' ') return nullptr;
  if (t.end < text.size() && text[t.end] != ' ') return nullptr;
  for (const ClauseWord& k : kClauseWords)
    if (sql::isKeyword(text, t, k.word)) return &k;
  return nullptr;
}

// Characters of a clause segment after its first n, trimmed of blanks.
std::string restFrom(std::string_view segment, std::size_t n) {
  if (segment.size() < n) return std::string();
  return std::string(trimBlanks(segment.substr(n)));
}

// Fills cols with the columns of result res on connection conn, as its
// description (structure) gives them. The server gives a text column's width
// in bytes: its characters times the most bytes a character of the
// connection's set takes. Over UTF-8 texts are padded to the column's
// characters instead, counted as characters.
void describeColumns(const Value& structure, db::Handle conn, db::Handle res, std::vector<qdetail::QueryColumn>& cols) {
  cols.clear();
  const db::CharsetInfo charset = db::charsetInfo(conn);
  const std::vector<unsigned> charsets =
      charset.utf8 && charset.maxBytes > 1 ? db::fieldCharsets(res) : std::vector<unsigned>();
  for (std::size_t i = 1; i <= structure.len(); ++i) {
    Value d = structure.at(i);
    qdetail::QueryColumn c;
    c.name = d.at(kDescName).asString();
    c.key = "_" + c.name;
    c.sqlName = quotedName(c.name, conn);
    c.def = d.at(kDescDefault).asString();
    c.flags = static_cast<unsigned>(d.at(kDescFlags).asInt());
    const std::string letter = d.at(kDescKind).asString();
    // The one place where the description's kind letter becomes the kind.
    c.kind = letter.empty() ? Kind::Nil : static_cast<Kind>(letter[0]);
    c.bits = d.at(kDescType).asInt() == static_cast<int>(db::FieldType::Bit);
    std::int64_t w = std::max(d.at(kDescMaxLength).asInt(), d.at(kDescLength).asInt());
    if (i <= charsets.size() && charsets[i - 1] != db::kBinaryCharset && (c.kind == Kind::Text || c.kind == Kind::Timestamp)) {
      w /= charset.maxBytes;
      c.utf8Width = true;
    }
    c.width = static_cast<std::size_t>(std::clamp<std::int64_t>(w, 0, 65535));
    cols.push_back(std::move(c));
  }
}

}  // namespace

namespace qdetail {

std::size_t padWidth(const QueryColumn& c) { return padRight() ? c.width : 0; }

Date sqlDate(std::string_view t) {
  auto digits = [&](std::size_t pos, std::size_t n, int& out) {
    if (pos + n > t.size()) return false;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (t[i] - '0');
    }
    out = v;
    return true;
  };
  int y = 0, m = 0, d = 0;
  if (t.size() == 10 && digits(0, 4, y) && digits(5, 2, m) && digits(8, 2, d)) return Date::fromYMD(y, m, d);
  if (t.empty()) return Date{};
  return SQLDATE2CLIP(Value(t));
}

void convertAny(const QueryColumn& c, std::string_view raw, Value& out, std::size_t width) {
  switch (c.kind) {
    case Kind::Number: {
      Number n;
      if (c.bits) {
        // Big-endian bytes; a BIT column holds at most 64 bits.
        std::uint64_t bits = 0;
        for (unsigned char b : raw) bits = bits << 8 | b;
        n = Number::fromUInt(bits);
      } else if (!Number::parse(raw, n)) {
        n = Number::leading(raw);
      }
      out.setNumber(n);
      return;
    }
    case Kind::Logical:
      // BIT(1) sends its bit as a byte, not as a numeral.
      out.setLogical(c.bits ? raw.find_first_not_of('\0') != std::string_view::npos : !Number::leading(raw).isZero());
      return;
    case Kind::Date:
      out.setDate(sqlDate(raw));
      return;
    case Kind::Text:
    case Kind::Timestamp: {
      assignPadded(out, raw, padFor(c, raw, width));
      return;
    }
    default:
      if (out.isText())
        out.str().assign(raw.data(), raw.size());
      else
        out = Value(raw);
      return;
  }
}

}  // namespace qdetail

TQuillonQry::TQuillonQry(Key) : impl_(std::make_unique<Impl>()) {}

TQuillonQry::~TQuillonQry() {
  // A query dropped without End must not leak its stored result, and must leave
  // the registry of a server that outlives it.
  if (liveHandle(hResult)) db::freeResult(hResult.asInt());
  if (auto srv = server()) srv->impl_->forgetQuery(this);
}

ServerPtr TQuillonQry::server() const { return oServer.asObjectOf<TQuillonSrv>(); }

QueryPtr TQuillonQry::New(const Value& query, const ServerPtr& srv) {
  if (!srv) return nullptr;
  auto q = std::make_shared<TQuillonQry>(Key{});
  q->oServer = srv;
  q->cQuery = query;
  q->nQryId = srv->GetQueryId();
  srv->AddQuery(q);
  q->nRecCount = 0;
  q->nRecNo = 0;
  q->nFCount = 0;
  q->aColumns = Value::array();
  q->aTables = Value::array();
  q->cWhere = "";
  q->cGroup = "";
  q->cHaving = "";
  q->cOrder = "";
  q->cLimit = "";
  q->aRow = Value::array();
  q->aOldRow = Value::array();
  q->lPagination = false;
  q->hRow = Value::table();
  q->hOldRow = Value::table();
  q->lEof = true;
  q->lBof = true;
  q->lAppend = false;
  if (query.isNil()) return q;
  q->LoadQuery();
  return q;
}

void TQuillonQry::End() {
  if (auto srv = server()) srv->CloseQuery(nQryId);
  impl_->nextRow = Impl::kUnknownRow;
  oRow = Value();
}

void TQuillonQry::CheckError(const Value& nError) {
  if (auto srv = server()) srv->CheckError(nError);
}

bool TQuillonQry::IsSingleTable() const { return aTables.isArray() && aTables.len() == 1; }

bool TQuillonQry::IsCommand() const {
  return (IsSingleTable() && aColumns.len() == 0) || (aTables.len() == 0 && aColumns.len() >= 1);
}

// Executes cQuery and loads its result; the rows, handle and cursor stay as
// they were when the server refuses the statement.
void TQuillonQry::LoadQuery(const Value& lBuildData) {
  const bool build = qdetail::flagOr(lBuildData, true);
  const bool keepCase = caseSensitiveNames();
  if (bOnLoadQuery.isBlock()) bOnLoadQuery(self());
  ServerPtr srv = server();
  if (!srv) return;
  if (!srv->SqlQuery(cQuery)) return;
  if (build) BuildDatas();

  if (liveHandle(hResult)) db::freeResult(hResult.asInt());
  hResult = 0;
  impl_->nextRow = Impl::kUnknownRow;

  const db::Handle res = db::storeResult(srv->handle());
  hResult = static_cast<long long>(res);
  if (res == 0) {
    if (db::fieldCount(srv->handle()) == 0) srv->CheckError();
    return;
  }
  // A CALL holds its first result set here; the rest is dropped, so that the
  // connection takes the next statement.
  srv->impl_->settleResults();
  impl_->nextRow = 0;
  aStructure = resultStructure(res, keepCase);
  nRecCount = static_cast<long long>(db::numRows(res));
  nRecNo = std::max<std::int64_t>(1, nRecNo.asInt());
  nFCount = static_cast<long long>(aStructure.len());
  lBof = true;
  lEof = nRecCount.asInt() == 0;
  if (!hRow.isTable()) hRow = Value::table(true);
  if (!hOldRow.isTable()) hOldRow = Value::table(true);
  hRow.asTable()->setCaseInsensitive(true);
  hOldRow.asTable()->setCaseInsensitive(true);

  auto& cols = impl_->cols;
  describeColumns(aStructure, srv->handle(), res, cols);
  for (std::size_t i = 0; i < cols.size(); ++i) SetData(Value(cols[i].name), Value());
  GetRow();
}

// Splits a statement into its clauses. Keywords are the words that equal one
// of nine keywords, standing between single spaces, read by the lexer in the
// connection's session: a keyword inside a quoted text, a backquoted name, a
// comment or parentheses (a subquery) opens no clause. WHERE, GROUP, HAVING,
// LIMIT, ORDER and FROM are taken only while still empty, so the first
// occurrence wins.
void TQuillonQry::BuildDatas(const Value& query) {
  const Value& source = query.isNil() ? cQuery : query;
  const std::string text(qdetail::textOf(source));
  const ServerPtr srv = server();
  const sql::Dialect dialect = sql::dialectOf(srv ? srv->handle() : 0);

  struct Mark {
    const ClauseWord* word;
    std::size_t at;
  };
  std::vector<Mark> marks;
  int depth = 0;
  sql::Lexer lex(text, dialect);
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (t.kind == sql::Tok::Punct) {
      if (text[t.begin] == '(') ++depth;
      if (text[t.begin] == ')' && depth > 0) --depth;
      continue;
    }
    if (depth > 0) continue;
    if (const ClauseWord* k = clauseAt(text, t)) marks.push_back({k, t.begin});
  }

  for (std::size_t m = 0; m < marks.size(); ++m) {
    const std::size_t end = m + 1 < marks.size() ? marks[m + 1].at : text.size();
    const std::string_view segment = trimBlanks(std::string_view(text).substr(marks[m].at, end - marks[m].at));
    const std::size_t skip = marks[m].word->skip;
    switch (marks[m].word->clause) {
      case Clause::Select:
        aColumns = splitList(restFrom(segment, skip), dialect);
        break;
      case Clause::Where:
        if (cWhere.isEmpty()) cWhere = restFrom(segment, skip);
        break;
      case Clause::Group:
        if (cGroup.isEmpty()) cGroup = restFrom(segment, skip);
        break;
      case Clause::Having:
        if (cHaving.isEmpty()) cHaving = restFrom(segment, skip);
        break;
      case Clause::Limit:
        if (cLimit.isEmpty()) cLimit = restFrom(segment, skip);
        // A limit that starts at 0 or 1 rows is no limit worth keeping.
        if (compare(Number::leading(qdetail::textOf(cLimit)), Number::fromInt(1)) <= 0) cLimit = "";
        break;
      case Clause::Order:
        if (cOrder.isEmpty()) cOrder = restFrom(segment, skip);
        break;
      case Clause::From:
        if (aTables.len() == 0) aTables = splitList(restFrom(segment, skip), dialect);
        break;
      case Clause::Desc:
        if (!cOrder.isEmpty()) cOrder = std::string(qdetail::textOf(cOrder)) + " DESC";
        break;
      case Clause::Asc:
        if (!cOrder.isEmpty()) cOrder = std::string(qdetail::textOf(cOrder)) + " ASC";
        break;
    }
  }
}

std::string TQuillonQry::BuildQuery(const Value& columns, const Value& tables, const Value& where,
                                    const Value& group, const Value& having, const Value& order,
                                    const Value& limit, const Value& withRollup) {
  aColumns = columns;
  aTables = tables;
  cWhere = where;
  cGroup = group;
  cHaving = having;
  cOrder = order;
  cLimit = limit;
  const ServerPtr srv = server();
  return buildQuery(columns, tables, where, group, having, order, limit, withRollup,
                    sql::dialectOf(srv ? srv->handle() : 0));
}

Value TQuillonQry::Refresh(const Value& lBuildData) {
  const ServerPtr srv = server();
  cQuery = buildQuery(aColumns, aTables, cWhere, cGroup, cHaving, cOrder, cLimit, Value(),
                      sql::dialectOf(srv ? srv->handle() : 0));
  LoadQuery(qdetail::flagOr(lBuildData, false));
  return cQuery;
}

// Replaces one clause (1 WHERE, 2 GROUP, 3 HAVING, 4 ORDER, 5 LIMIT), rebuilds
// cQuery and, unless lRefresh is false, reloads; returns the clause's old value.
Value TQuillonQry::SetNewFilter(const Value& nClause, const Value& uValue, const Value& lRefresh) {
  Value previous;
  switch (nClause.isNumber() ? nClause.asInt() : 0) {
    case 1: previous = cWhere; cWhere = uValue; break;
    case 2: previous = cGroup; cGroup = uValue; break;
    case 3: previous = cHaving; cHaving = uValue; break;
    case 4: previous = cOrder; cOrder = uValue; break;
    case 5:
      previous = cLimit;
      if (uValue.isString())
        cLimit = uValue;
      else if (uValue.isNumber())
        cLimit = uValue.asNumber().text();
      break;
    default: break;
  }
  // BuildQuery reassigns every clause member from itself: copies keep the
  // arguments independent of the members they overwrite.
  Value cols = aColumns, tabs = aTables, where = cWhere, group = cGroup, having = cHaving, order = cOrder,
        limit = cLimit;
  cQuery = BuildQuery(cols, tabs, where, group, having, order, limit);
  if (qdetail::flagOr(lRefresh, true)) LoadQuery(false);
  return previous;
}

// Stores one value as the column's current and loaded value.
void TQuillonQry::SetData(const Value& uField, const Value& uValue) {
  long n = FieldToNum(uField);
  auto& cols = impl_->cols;
  if (n < 1 || static_cast<std::size_t>(n) > cols.size()) return;
  auto& c = cols[static_cast<std::size_t>(n - 1)];
  TablePtr row = hRow.asTable(), old = hOldRow.asTable();
  if (row) *qdetail::slot(*row, c.rowSlot, c.key, true) = uValue;
  if (old) *qdetail::slot(*old, c.oldSlot, c.key, true) = uValue;
}


}  // namespace veltro
