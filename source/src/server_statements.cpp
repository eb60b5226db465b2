// Running statements, transactions, databases and the registry of open queries.
#include <algorithm>
#include <chrono>
#include <thread>
#include <string>
#include <string_view>

#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "server_flag_scope.h"
#include "server_codes.h"
#include "server_session.h"
#include "server_query_counter.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

namespace {
using detail::kClientErrorsFrom;
using detail::kDeadlock;
using detail::kNodeNotReady;
using detail::kServerGone;
using detail::kShutdown;
constexpr int kDefaultMultiRetries = 3;
constexpr int kConflictPauseMs = 20;

// What a statement does to the session, read by the lexer from its first
// words, once per statement:
// - tx: BEGIN [WORK] and START TRANSACTION open a transaction (BEGIN NOT
//   ATOMIC is a compound statement); COMMIT and ROLLBACK close it, unless AND
//   CHAIN opens the next or ROLLBACK TO a savepoint stays in it.
// - keepsCharset: kinds of statement that cannot change the character set
//   the server reads the connection's texts in. Stored routines and triggers
//   they run put the session's character sets back when they end, so a
//   SELECT or an UPDATE that calls one changes nothing; SET, EXECUTE of a
//   prepared statement, a compound statement, CALL and every kind not named
//   here may.
enum class TxEffect { None, Begin, End };
struct StatementKind {
  TxEffect tx = TxEffect::None;
  bool keepsCharset = false;
  bool session = false;  // SET, USE or CREATE: may leave something in the session
};
StatementKind kindOf(std::string_view sql, const sql::Dialect& d) {
  static constexpr std::string_view kKeep[] = {
      "SELECT",   "INSERT",   "UPDATE", "DELETE",  "REPLACE", "COMMIT",  "ROLLBACK", "START",   "SAVEPOINT",
      "RELEASE",  "SHOW",     "DESCRIBE", "DESC",  "EXPLAIN", "CREATE",  "DROP",     "ALTER",   "TRUNCATE",
      "RENAME",   "LOCK",     "UNLOCK", "GRANT",   "REVOKE",  "USE",     "ANALYZE",  "OPTIMIZE", "CHECK",
      "REPAIR",   "CHECKSUM", "FLUSH",  "KILL",    "DO",      "WITH",    "VALUES",   "TABLE",   "PREPARE",
      "DEALLOCATE", "LOAD",   "HANDLER", "XA"};
  sql::Lexer lex(sql, d);
  auto next = [&] {
    sql::Token t;
    do t = lex.next(); while (t.kind != sql::Tok::End && !sql::isCode(t));
    return t;
  };
  StatementKind k;
  sql::Token t = next();
  if (t.kind == sql::Tok::Punct && sql[t.begin] == '(') {  // (SELECT ...) UNION ...
    k.keepsCharset = true;
    return k;
  }
  if (t.kind != sql::Tok::Word) return k;
  if (sql::isKeyword(sql, t, "BEGIN")) {
    t = next();
    k.tx = sql::isKeyword(sql, t, "NOT") ? TxEffect::None : TxEffect::Begin;
    k.keepsCharset = t.kind == sql::Tok::End || sql::isKeyword(sql, t, "WORK") ||
                     (t.kind == sql::Tok::Punct && sql[t.begin] == ';');
    return k;
  }
  for (std::string_view kind : kKeep)
    if (sql::isKeyword(sql, t, kind)) k.keepsCharset = true;
  k.session = sql::isKeyword(sql, t, "SET") || sql::isKeyword(sql, t, "USE") || sql::isKeyword(sql, t, "CREATE");
  if (sql::isKeyword(sql, t, "START")) {
    if (sql::isKeyword(sql, next(), "TRANSACTION")) k.tx = TxEffect::Begin;
    return k;
  }
  const bool rollback = sql::isKeyword(sql, t, "ROLLBACK");
  if (!rollback && !sql::isKeyword(sql, t, "COMMIT")) return k;
  bool chain = false, no = false;
  for (t = next(); t.kind != sql::Tok::End; t = next()) {
    if (rollback && sql::isKeyword(sql, t, "TO")) return k;
    if (sql::isKeyword(sql, t, "NO")) {
      no = true;
    } else if (sql::isKeyword(sql, t, "CHAIN")) {
      chain = !no;
      no = false;
    } else if (sql::isKeyword(sql, t, "RELEASE")) {
      no = false;
    }
  }
  k.tx = chain ? TxEffect::Begin : TxEffect::End;
  return k;
}

}  // namespace

bool TQuillonSrv::SqlQuery(const Value& cQuery) {
  if (!cQuery.isString())
    return detail::refuse(*this, kErrEmptyStatement);
  return impl_->sendStatement(cQuery.str());
}

// Makes the connection escape with the character set the server now reads
// from it: the client library learns a new set only from the server's session
// tracking, which may be off. quiet: a failure to ask is not reported.
bool TQuillonSrv::Impl::followCharset(bool quiet) {
  const db::Handle h = srv.hMysql.asInt();
  static constexpr std::string_view kAsk = "SELECT @@character_set_client";
  if (db::query(h, kAsk.data(), kAsk.size()) != 0) {
    if (!quiet) srv.CheckError();
    return false;
  }
  std::string name;
  const db::Handle res = db::storeResult(h);
  db::RowView row;
  if (db::fetchRow(res, row)) name = row.at(0);
  db::freeResult(res);
  if (!db::adoptCharset(h, name.c_str())) {
    if (!quiet) srv.RaiseInternal(kErrBadSetting, Value("character set \"" + name + "\" of the connection, unknown to the client library"));
    return false;
  }
  return true;
}

bool TQuillonSrv::Impl::settleResults() {
  const db::Handle h = srv.hMysql.asInt();
  const bool follow = followPending_;
  followPending_ = false;
  if (db::discardResults(h) != 0) {
    // Asked after the report, which reads the error from the connection.
    struct FollowAfter {
      Impl* owner;
      bool on;
      ~FollowAfter() {
        if (on) owner->followCharset(true);
      }
    } after{this, follow};
    srv.CheckError();
    return false;
  }
  return !follow || followCharset(false);
}

// Outside a transaction a statement that certainly did not run is sent
// once more: on a new connection after 2006 (it never reached the server),
// 1047 from a node of a host list (refused before running) or 1053 (stopped
// by a server shutting down), and at once after a conflict (1213: rolled
// back whole). One that may have been applied (2013: lost while it ran;
// 1180) is sent again only when the caller said that its statements may run
// twice. The statement's status; reported: its failure has been reported.
int TQuillonSrv::Impl::sendAgainIfUnrun(std::string_view sql, bool& reported) {
  const long long code = db::errnum(srv.hMysql.asInt());
  const bool reconnect = srv.lReConnect.asBool() && (code == kServerGone || code == kShutdown ||
                                                  (code == kNodeNotReady && hostList()) ||
                                                  (detail::lostInFlight(code) && srv.lRepeatable.asBool()));
  if (!reconnect && (code != kDeadlock || listRun_)) return 1;
  if (reconnect) {
    const std::string cause = std::to_string(code) + " " + db::error(srv.hMysql.asInt());
    srv.ReConnect();
    reported = true;
    if (!connected()) {
      reportUnreachable(cause);
      return 1;
    }
    // The new session lacks what the caller set: reported, and the statement not sent.
    if (sessionDropped_) return 1;
  }
  const int status = db::query(srv.hMysql.asInt(), sql.data(), sql.size());
  reported = status != 0;
  if (reported) {
    detail::FlagScope retry(retrying_);
    srv.CheckError();
  }
  return status;
}

bool TQuillonSrv::Impl::sendStatement(std::string_view sql) {
  if (isBlankText(sql))
    return detail::refuse(srv, kErrEmptyStatement);
  // A connection lost earlier, with no reconnect then, is tried again now.
  if (lost_ && !revive()) return false;
  // The connection takes no statement while an earlier one has results left
  // (a CALL's further result sets): they are read and dropped first.
  settleResults();
  int status = db::query(srv.hMysql.asInt(), sql.data(), sql.size());
  if (status != 0 && !db::isConnection(srv.hMysql.asInt())) {
    // Refused at New, or ended: the client library has no connection to carry
    // an error, so the library reports it rather than failing silently.
    return detail::refuse(srv, kErrNoConnection, Value("no connection for: " + std::string(sql.substr(0, 200))));
  }
  if (status != 0 && !inTransaction_ && !reconnecting_) {
    bool reported = false;
    status = sendAgainIfUnrun(sql, reported);
    if (reported) return false;
  }
  const sql::Dialect dialect = sql::dialectOf(srv.hMysql.asInt());
  // Values of later statements are escaped as the server then reads them.
  const StatementKind kind = kindOf(sql, dialect);
  const bool follow = !kind.keepsCharset;
  if (status != 0) {
    // A statement that failed part way (a compound statement) may have
    // changed it as well. Asked after the error is reported, which reads the
    // error from the connection, also when the report unwinds; quietly, as
    // nothing may be reported then.
    struct FollowAfter {
      Impl* owner;
      bool on;
      ~FollowAfter() {
        if (on) owner->followCharset(true);
      }
    } after{this, follow && db::errnum(srv.hMysql.asInt()) < kClientErrorsFrom};
    srv.CheckError();
    return false;
  }
  switch (kind.tx) {
    case TxEffect::Begin: inTransaction_ = true; break;
    case TxEffect::End: inTransaction_ = false; break;
    case TxEffect::None: break;
  }
  if (kind.session) session_.keep(sql, detail::sessionStep(sql, dialect));
  if (db::fieldCount(srv.hMysql.asInt()) != 0) {
    // A result set waits for the caller (a query object takes it, then
    // settles the rest): asking now would find the connection busy.
    followPending_ = follow;
    return true;
  }
  // No result set for the caller: further results (a CALL's status) are read now.
  followPending_ = follow;
  return settleResults();
}

bool TQuillonSrv::MultiQuery(const Value& aQuery, const Value& lTransaction, const Value& bOnMulti) {
  bool transaction = lTransaction.isNil() ? true : lTransaction.asBool();
  Value callback = bOnMulti.isNil() ? bOnMultiQry : bOnMulti;
  bOnMultiQry = callback;
  if (aQuery.isEmpty() || !aQuery.isArray())
    return detail::refuse(*this, kErrEmptyList);
  if (impl_->lost_ && !impl_->revive()) return false;
  if (!db::isConnection(hMysql.asInt())) {
    // Nothing can run; with a callback installed the loop would go on and report success.
    return detail::refuse(*this, kErrNoConnection);
  }
  // A copy: a callback may change the caller's array while the list runs.
  const Array statements = aQuery.items();
  const int retries = nMultiRetries.isNumber() ? static_cast<int>(std::max<long long>(nMultiRetries.asInt(), 0))
                                               : kDefaultMultiRetries;
  Value last;
  Impl::ListRun outcome = impl_->runList(statements, transaction, last);
  for (int attempt = 0; outcome == Impl::ListRun::Retry; ++attempt) {
    if (!impl_->readyToRerun(attempt, retries, last)) return false;
    outcome = impl_->runList(statements, transaction, last);
  }
  return impl_->endList(outcome, last);
}

bool TQuillonSrv::Impl::readyToRerun(int attempt, int retries, const Value& last) {
  // The list certainly did not commit: nothing of it stays on the server.
  const long long cause = listLoss_;
  if (linkUp()) srv.RollBack();
  if (attempt >= retries) {
    // Only the last run's failure is reported: the cause, then the list.
    if (!connected() && srv.lReConnect.asBool()) srv.ReConnect();
    if (!srv.bOnError.isNil()) report(Value(cause), false, Value());
    return detail::refuse(srv, kErrMultiQuery, last);
  }
  if (cause == kDeadlock && linkUp()) {
    // Conflicting writers back off a little longer on each run, in the same session.
    std::this_thread::sleep_for(std::chrono::milliseconds(kConflictPauseMs * (attempt + 1)));
  } else if (srv.lReConnect.asBool()) {
    srv.ReConnect();  // the next ready host of the list
    if (sessionDropped_) return false;
    if (!connected()) {
      reportUnreachable(std::to_string(cause) + " (a transaction list)");
      return false;
    }
  }
  return true;
}

bool TQuillonSrv::Impl::endList(ListRun outcome, const Value& last) {
  switch (outcome) {
    case ListRun::Committed:
      return true;
    case ListRun::Unknown:
      // The COMMIT went out and its answer was lost: the list may or may not
      // be on the server, so it is neither run again nor reported as failed.
      inTransaction_ = false;
      if (srv.lReConnect.asBool()) srv.ReConnect();
      return detail::refuse(srv, kErrUnknownOutcome, last);
    case ListRun::Failed:
    case ListRun::Retry:
      break;
  }
  // Rolled back twice in a row, as the system always has; the second finds nothing to undo.
  db::rollback(srv.handle());
  srv.RollBack();
  return detail::refuse(srv, kErrMultiQuery, last);
}

TQuillonSrv::Impl::ListRun TQuillonSrv::Impl::runList(const Array& statements, bool transaction, Value& last) {
  // Without a transaction each statement is on its own: SqlQuery deals with its losses.
  detail::FlagScope running(listRun_, transaction);
  listLoss_ = 0;
  bool stopped = false;
  long long commitError = 0;
  ErrorPtr failure = guarded([&] {
    if (transaction) {
      last = Value("BEGIN");
      if (!srv.BeginTransaction()) {
        // BEGIN itself refused: without a transaction the list must not run.
        stopped = true;
        return;
      }
    }
    long n = 0;
    for (const Value& statement : statements) {
      ++n;
      last = statement;
      srv.SqlQuery(statement);
      // A loss or a conflict ended the transaction: the rest of the list
      // must not run in autocommit and be committed piecemeal.
      if (listLoss_ != 0) return;
      if (!srv.bOnMultiQry.isNil()) srv.bOnMultiQry(n);
    }
    if (transaction && srv.CommitTransaction() != 0) {
      commitError = db::errnum(srv.hMysql.asInt());
      if (commitError == 0) commitError = kServerGone;  // no connection left to carry an error
    }
  });
  if (failure) return ListRun::Failed;
  if (listLoss_ != 0) return ListRun::Retry;
  if (stopped) return ListRun::Failed;
  if (commitError == 0) return ListRun::Committed;
  if (detail::lostInFlight(commitError)) return ListRun::Unknown;
  if (commitError == kServerGone || commitError == kNodeNotReady || commitError == kDeadlock) {
    listLoss_ = commitError;
    return ListRun::Retry;
  }
  // Refused at COMMIT for another reason: reported as the list's failure.
  last = Value("COMMIT");
  srv.lError = true;
  if (!srv.bOnError.isNil()) report(Value(commitError), false, Value());
  return ListRun::Failed;
}

long long TQuillonSrv::AffectedRows() { return db::affectedRows(hMysql.asInt()); }

long long TQuillonSrv::InsertId() { return static_cast<long long>(db::insertId(hMysql.asInt())); }

bool TQuillonSrv::BeginTransaction() { return SqlQuery("BEGIN"); }

int TQuillonSrv::CommitTransaction() {
  impl_->inTransaction_ = false;
  return db::commit(handle());
}

int TQuillonSrv::RollBack() {
  impl_->inTransaction_ = false;
  return db::rollback(handle());
}

QueryPtr TQuillonSrv::AddQuery(const QueryPtr& query) {
  if (query) impl_->queries_.push_back(query);
  return query;
}

std::vector<QueryPtr> TQuillonSrv::queries() const {
  std::vector<QueryPtr> live;
  live.reserve(impl_->queries_.size());
  for (const auto& weak : impl_->queries_)
    if (QueryPtr q = weak.lock()) live.push_back(std::move(q));
  return live;
}

Value TQuillonSrv::aQueries() const {
  Array items;
  for (QueryPtr& q : queries()) items.emplace_back(std::move(q));
  return Value::arrayOf(std::move(items));
}

Value TQuillonSrv::GetQueryId() {
  std::lock_guard<std::mutex> lock(detail::queryIdMutex());
  if (nQueryId.isNil()) nQueryId = 0;
  nQueryId = nQueryId.asInt() + 1;
  return nQueryId;
}

void TQuillonSrv::CloseQuery(const Value& nId) {
  for (auto it = impl_->queries_.begin(); it != impl_->queries_.end(); ++it) {
    QueryPtr q = it->lock();
    if (!q || q->nQryId.asInt() != nId.asInt() || !q->nQryId.isNumber()) continue;
    long long result = q->hResult.asInt();
    if (result != 0) db::freeResult(result);
    q->hResult = Value();
    impl_->queries_.erase(it);
    return;
  }
}

void TQuillonSrv::Impl::forgetQuery(const TQuillonQry* query) {
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
  if (name.isEmpty() || !name.isString())
    return detail::refuse(*this, kErrNoDatabaseName);
  // The client library takes the name up to its first zero byte: it would
  // select a database the caller did not name.
  if (name.str().find('\0') != std::string::npos)
    return detail::refuse(*this, kErrNotAName, Value("database name holds a zero byte"));
  const int status = db::selectDb(handle(), name.str().c_str());
  if (status != 0) {
    cDBName = "";
    lError = true;
    CheckError(Value(status));
    return false;
  }
  cDBName = name;
  impl_->session_.forgetDatabase();
  lError = false;
  return true;
}

Value TQuillonSrv::ListDBs(const Value& cWild) {
  Value names = namesArray(db::listDbs(handle(), cWild.isString() ? cWild.str().c_str() : nullptr));
  CheckError();
  return names;
}

Value TQuillonSrv::ListTables(const Value& cWild) {
  Value names = namesArray(db::listTables(handle(), cWild.isString() ? cWild.str().c_str() : nullptr));
  CheckError();
  return names;
}

}  // namespace veltro
