// The one checking path for every failure: CheckError and the default reporting.
#include <memory>
#include <string>

#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/server.h"
#include "server_codes.h"
#include "sql_dialect.h"
#include "sql_lexer.h"

namespace veltro {

using detail::kDeadlock;
using detail::kNodeNotReady;
using detail::kServerGone;

Value TQuillonSrv::ErrorNo() {
  lError = false;
  return MYSQLGETERRNO(hMysql);
}

// The server's messages may quote the statement ("near '...'"): password
// literals in them are masked, as in every text the library reports.
std::string TQuillonSrv::ErrorTxt() {
  if (hMysql.asInt() != 0) return sql::maskPasswords(MYSQLERROR(hMysql).asString(), sql::dialectOf(hMysql.asInt()));
  // Handle 0: the binding still knows why an embedded start failed.
  return db::error(0);
}

void TQuillonSrv::RaiseInternal(int code, const Value& cExtra) {
  // The internal code is this operation's error: an error that an earlier call
  // left on the connection must not be reported in its place.
  nInternalError = code;
  internalPending_ = false;
  lError = true;
  report(code, true, cExtra);
}

void TQuillonSrv::SetInternalError(const Value& code) {
  nInternalError = code;
  internalPending_ = code.asInt() > 0;
}

void TQuillonSrv::CheckError(const Value& nErrorIn, const Value& cExtra) {
  bool internal = false;
  Value nError = nErrorIn;
  if (nError.isNil()) nError = ErrorNo();
  if (nError.asInt() == 0) {
    // An internal code is reported only by the check of the operation that
    // set it; a later successful call must not report it again.
    if (internalPending_ && nInternalError.asInt() > 0) {
      nError = nInternalError;
      internal = true;
      lError = true;
    }
  } else {
    lError = true;
  }
  internalPending_ = false;
  if (!lError.asBool() || nError.asInt() == 0) return;
  const bool lost = !internal && detail::connectionGone(nError.asInt());
  if (lost) ++lostConnections_;
  if (listRun_ && !internal &&
      (lost || nError.asInt() == kNodeNotReady || nError.asInt() == kDeadlock || detail::lostInFlight(nError.asInt()))) {
    // A transaction list that met a loss or a conflict is run again by
    // MultiQuery, which reports only when its last run fails.
    listLoss_ = nError.asInt();
    return;
  }

  if (!internal && nError.asInt() == kServerGone && lReConnect.asBool() && !reconnecting_ && !retrying_) {
    // The lost connection is replaced. Outside a transaction the failed call
    // never reached the server and nothing is lost beyond it; a transaction
    // is gone with its connection, and a server that stays away is an error.
    bool lostTransaction = inTransaction_;
    ReConnect();
    if (connected() && !lostTransaction) return;
  }
  report(nError, internal, cExtra);
}

void TQuillonSrv::report(const Value& nError, bool internal, const Value& cExtraIn) {
  // Extras often hold a statement (the one that could not be sent, the last
  // of a failed list): its password literals never leave the library.
  const Value cExtra =
      cExtraIn.isString() ? Value(sql::maskPasswords(cExtraIn.str(), sql::dialectOf(hMysql.asInt()))) : cExtraIn;
  if (!bOnError.isNil()) {
    bOnError(self(), nError, internal, cExtra);
    return;
  }
  QUILLON_DEFERROR(self(), nError, internal, cExtra);
}

void QUILLON_DEFERROR(const ServerPtr& server, const Value& nError, const Value& lInternal, const Value& cExtra) {
  std::string extra = cExtra.isString() ? cExtra.asString() : std::string();
  auto error = std::make_shared<Error>();
  bool internal = lInternal.asBool();
  error->SubSystem = internal ? "TQUILLON" : "MYSQL";
  error->SubCode = nError;
  error->Severity = 2;
  std::string description = internal ? std::string("Internal Error") : (server ? server->ErrorTxt() : std::string());
  description += ' ';
  description += extra;
  error->Description = std::move(description);
  raiseError(error);
}

}  // namespace veltro
