// The one checking path for every failure: CheckError and the default reporting.
#include <memory>
#include <string>

#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/server.h"
#include "server_codes.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "server_impl.h"

namespace veltro {

using detail::kDeadlock;
using detail::kNodeNotReady;
using detail::kServerGone;

Value TQuillonSrv::ErrorNo() {
  lError = false;
  return Value(db::errnum(handle()));
}

// The server's messages may quote the statement ("near '...'"): password
// literals in them are masked, as in every text the library reports.
std::string TQuillonSrv::ErrorTxt() {
  if (handle() != 0) return sql::maskPasswords(db::error(handle()), sql::dialectOf(handle()));
  // Handle 0: the binding still knows why an embedded start failed.
  return db::error(0);
}

void TQuillonSrv::RaiseInternal(int code, const Value& cExtra) {
  // The internal code is this operation's error: an error that an earlier call
  // left on the connection must not be reported in its place.
  nInternalError = code;
  impl_->internalPending_ = false;
  lError = true;
  ++impl_->errors_;
  impl_->report(code, true, cExtra);
}

void TQuillonSrv::SetInternalError(const Value& code) {
  nInternalError = code;
  impl_->internalPending_ = code.asInt() > 0;
}

void TQuillonSrv::CheckError(const Value& nErrorIn, const Value& cExtra) {
  bool internal = false;
  Value nError = nErrorIn;
  if (nError.isNil()) nError = ErrorNo();
  if (nError.asInt() == 0) {
    // An internal code is reported only by the check of the operation that
    // set it; a later successful call must not report it again.
    if (impl_->internalPending_ && nInternalError.asInt() > 0) {
      nError = nInternalError;
      internal = true;
      lError = true;
    }
  } else {
    lError = true;
  }
  impl_->internalPending_ = false;
  if (!lError.asBool() || nError.asInt() == 0) return;
  ++impl_->errors_;
  const bool lost = !internal && detail::connectionGone(nError.asInt());
  if (lost) ++impl_->lostConnections_;
  if (impl_->listRun_ && !internal &&
      (lost || nError.asInt() == kNodeNotReady || nError.asInt() == kDeadlock || detail::lostInFlight(nError.asInt()))) {
    // A transaction list that met a loss or a conflict is run again by
    // MultiQuery, which reports only when its last run fails.
    impl_->listLoss_ = nError.asInt();
    return;
  }

  if (!internal && nError.asInt() == kServerGone && lReConnect.asBool() && !impl_->reconnecting_ && !impl_->retrying_) {
    // The lost connection is replaced. Outside a transaction the failed call
    // never reached the server and nothing is lost beyond it; a transaction
    // is gone with its connection, and a server that stays away is an error.
    bool lostTransaction = impl_->inTransaction_;
    ReConnect();
    if (impl_->connected() && !lostTransaction) return;
  }
  impl_->report(nError, internal, cExtra);
}

void TQuillonSrv::Impl::report(const Value& nError, bool internal, const Value& cExtraIn) {
  // Extras often hold a statement (the one that could not be sent, the last
  // of a failed list): its password literals never leave the library.
  const Value cExtra =
      cExtraIn.isString() ? Value(sql::maskPasswords(cExtraIn.str(), sql::dialectOf(srv.hMysql.asInt()))) : cExtraIn;
  if (!srv.bOnError.isNil()) {
    srv.bOnError(srv.self(), nError, internal, cExtra);
    return;
  }
  QUILLON_DEFERROR(srv.self(), nError, internal, cExtra);
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
