// Running statements, transactions, databases and the registry of open queries.
#include <algorithm>
#include <string>
#include <string_view>

#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "flag_scope.h"

namespace veltro {

namespace {
constexpr unsigned kServerGone = 2006;

// Whether a statement opens or closes a transaction, by its first word.
enum class TxEffect { None, Begin, End };
TxEffect transactionEffect(std::string_view sql) {
  // Nearly every statement starts with its word; only B, S, C and R can begin one of these.
  if (!sql.empty()) {
    const char first = foldAscii(sql[0]);
    if (first != 'b' && first != 's' && first != 'c' && first != 'r' && first != ' ' && first != '\t' &&
        first != '\r' && first != '\n')
      return TxEffect::None;
  }
  sql = trimValueText(sql);
  const std::string_view word = sql.substr(0, sql.find_first_of(" \t\r\n;"));
  if (equalsNoCase(word, "BEGIN")) return TxEffect::Begin;
  if (equalsNoCase(word, "START")) return TxEffect::Begin;  // START TRANSACTION
  if (equalsNoCase(word, "COMMIT") || equalsNoCase(word, "ROLLBACK")) return TxEffect::End;
  return TxEffect::None;
}
}  // namespace

bool TQuillonSrv::SqlQuery(const Value& cQuery) {
  if (!cQuery.isString()) {
    RaiseInternal(kErrEmptyStatement);
    return false;
  }
  return sendStatement(cQuery.str());
}

bool TQuillonSrv::sendStatement(std::string_view sql) {
  if (isBlankText(sql)) {
    RaiseInternal(kErrEmptyStatement);
    return false;
  }
  if (!db::isConnection(hMysql.asInt())) {
    // Refused at New, or ended: the client library has no connection to carry
    // an error, so the library reports it rather than failing silently.
    RaiseInternal(kErrNoConnection, Value(std::string(sql)));
    return false;
  }
  int status = db::query(hMysql.asInt(), sql.data(), sql.size());
  if (status != 0 && lReConnect.asBool() && !reconnecting_ && !inTransaction_ &&
      db::errnum(hMysql.asInt()) == kServerGone) {
    // 2006: the statement never reached the server. Outside a transaction it
    // is sent once more on a new connection instead of being dropped.
    ReConnect();
    if (connected()) status = db::query(hMysql.asInt(), sql.data(), sql.size());
    if (status != 0) {
      detail::FlagScope retry(retrying_);
      CheckError();
      return false;
    }
  }
  if (status != 0) {
    CheckError();
    return false;
  }
  switch (transactionEffect(sql)) {
    case TxEffect::Begin: inTransaction_ = true; break;
    case TxEffect::End: inTransaction_ = false; break;
    case TxEffect::None: break;
  }
  return true;
}

bool TQuillonSrv::MultiQuery(const Value& aQuery, const Value& lTransaction, const Value& bOnMulti) {
  bool transaction = lTransaction.isNil() ? true : lTransaction.asBool();
  Value callback = bOnMulti.isNil() ? bOnMultiQry : bOnMulti;
  bOnMultiQry = callback;
  if (aQuery.isEmpty() || !aQuery.isArray()) {
    RaiseInternal(kErrEmptyList);
    return false;
  }
  if (!db::isConnection(hMysql.asInt())) {
    // Nothing can run; with a callback installed the loop would go on and report success.
    RaiseInternal(kErrNoConnection);
    return false;
  }
  // A copy: a callback may change the caller's array while the list runs.
  Array statements = aQuery.items();
  Value last;
  bool lost = false;
  ErrorPtr failure = guarded([&] {
    if (transaction) BeginTransaction();
    const unsigned long losses = lostConnections_;
    long n = 0;
    for (const Value& statement : statements) {
      ++n;
      last = statement;
      SqlQuery(statement);
      // A callback may have taken the report of a lost connection. The
      // transaction went with it, so the rest of the list must not run in
      // autocommit on the next connection and be committed piecemeal.
      if (transaction && lostConnections_ != losses) {
        lost = true;
        return;
      }
      if (!bOnMultiQry.isNil()) bOnMultiQry(n);
    }
    if (transaction) CommitTransaction();
  });
  if (!failure && !lost) return true;
  MYSQLROLLBACK(hMysql);
  RollBack();
  RaiseInternal(kErrMultiQuery, last);
  return false;
}

bool TQuillonSrv::BeginTransaction() { return SqlQuery("BEGIN"); }

int TQuillonSrv::CommitTransaction() {
  inTransaction_ = false;
  return static_cast<int>(MYSQLCOMMIT(hMysql).asInt());
}

int TQuillonSrv::RollBack() {
  inTransaction_ = false;
  return static_cast<int>(MYSQLROLLBACK(hMysql).asInt());
}

QueryPtr TQuillonSrv::AddQuery(const QueryPtr& query) {
  if (query) queries_.push_back(query);
  return query;
}

std::vector<QueryPtr> TQuillonSrv::queries() const {
  std::vector<QueryPtr> live;
  live.reserve(queries_.size());
  for (const auto& weak : queries_)
    if (QueryPtr q = weak.lock()) live.push_back(std::move(q));
  return live;
}

Value TQuillonSrv::aQueries() const {
  Array items;
  for (QueryPtr& q : queries()) items.emplace_back(std::move(q));
  return Value::arrayOf(std::move(items));
}

Value TQuillonSrv::GetQueryId() {
  if (nQueryId.isNil()) nQueryId = 0;
  nQueryId = nQueryId.asInt() + 1;
  return nQueryId;
}

void TQuillonSrv::CloseQuery(const Value& nId) {
  for (auto it = queries_.begin(); it != queries_.end(); ++it) {
    QueryPtr q = it->lock();
    if (!q || q->nQryId.asInt() != nId.asInt() || !q->nQryId.isNumber()) continue;
    long long result = q->hResult.asInt();
    if (result != 0) MYSQLFREERESULT(q->hResult);
    q->hResult = Value();
    queries_.erase(it);
    return;
  }
}

void TQuillonSrv::forgetQuery(const TQuillonQry* query) {
  // Called from a query's destructor: its weak entry has already expired.
  std::erase_if(queries_, [query](const std::weak_ptr<TQuillonQry>& w) {
    QueryPtr q = w.lock();
    return !q || q.get() == query;
  });
}

void TQuillonSrv::CloseAllQuery() {
  for (const QueryPtr& q : queries()) CloseQuery(q->nQryId);
}

bool TQuillonSrv::SelectDB(const Value& name) {
  lError = false;
  if (name.isEmpty() || !name.isString()) {
    RaiseInternal(kErrNoDatabaseName);
    return false;
  }
  Value status = MYSQLSELECTDB(hMysql, name);
  if (status.asInt() != 0) {
    cDBName = "";
    lError = true;
    CheckError(status);
    return false;
  }
  cDBName = name;
  lError = false;
  return true;
}

Value TQuillonSrv::ListDBs(const Value& cWild) {
  Value names = MYSQLLISTDBS(hMysql, cWild);
  CheckError();
  return names;
}

Value TQuillonSrv::ListTables(const Value& cWild) {
  Value names = MYSQLLISTTBLS(hMysql, cWild);
  CheckError();
  return names;
}

}  // namespace veltro
