// The typed face's transactions: Transaction (rolled back unless committed)
// and Session::transact, which reruns a unit of work that certainly did not
// commit, by the rules the server object's MultiQuery follows.
#include <chrono>
#include <thread>

#include "server_codes.h"
#include "session_impl.h"
#include "veltro/binding.h"
#include "veltro/session.h"
#include "server_impl.h"

namespace veltro {

namespace {

constexpr unsigned kLockWaitTimeout = 1205;
constexpr unsigned kConnectionKilled = 1927;  // the connection was killed while the statement ran
constexpr int kConflictPauseMs = 20;  // as MultiQuery: conflicting writers back off longer on each run

// A run that failed so before COMMIT, or a COMMIT refused so, certainly did
// not commit: it may run again. (A COMMIT lost in flight is UnknownOutcome.)
bool rerunnable(unsigned number) {
  return number == detail::kDeadlock || number == kLockWaitTimeout || number == detail::kNodeNotReady ||
         number == kConnectionKilled || detail::connectionGone(number);
}

}  // namespace

namespace detail {

bool SessionCore::rollbackQuietly() noexcept {
  try {
    if (openStream) openStream->finish(true);
    Scope scope(*this);
    // Sent through the server object, which replaces a connection found gone
    // (the transaction went with it); its report stays in last.
    if (inTransaction()) srv->impl_->sendStatement("ROLLBACK");
    srv->impl_->inTransaction_ = false;
    return srv->impl_->connected();
  } catch (...) {
    return false;
  }
}

void SessionCore::recover(unsigned cause, unsigned attempt) {
  Scope scope(*this);
  if (cause == kNodeNotReady || !srv->impl_->connected()) {
    srv->ReConnect();  // a host list's next ready host
    return;
  }
  if (cause == kDeadlock || cause == kLockWaitTimeout)
    std::this_thread::sleep_for(std::chrono::milliseconds(kConflictPauseMs * (attempt + 1)));
}

}  // namespace detail

Transaction::Transaction(Session& session) : core_(session.core_) {
  core_->ready();
  if (core_->inTransaction())
    detail::fail(kErrNestedTransaction, "25000", "a transaction is already open on this session");
  detail::SessionCore::Scope scope(*core_);
  core_->send("BEGIN");
  active_ = true;
}

Transaction::~Transaction() {
  if (active_) core_->rollbackQuietly();
}

void Transaction::commit() {
  if (!active_) detail::fail(kErrTransactionEnded, "25000", "the transaction was already committed or rolled back");
  core_->ready();
  active_ = false;
  detail::SessionCore::Scope scope(*core_);
  try {
    core_->send("COMMIT");
  } catch (const SqlError& e) {
    // Refused, or lost: whatever the server left open is rolled back (a
    // lost connection is replaced, the server having rolled back or committed).
    core_->rollbackQuietly();
    if (e.number() == kConnectionKilled) throw UnknownOutcome(e.number(), e.sqlstate(), e.what());
    throw;
  }
}

void Transaction::rollback() {
  if (!active_) detail::fail(kErrTransactionEnded, "25000", "the transaction was already committed or rolled back");
  core_->ready();
  active_ = false;
  detail::SessionCore::Scope scope(*core_);
  core_->send("ROLLBACK");
}

void Session::runTransaction(unsigned reruns, void (*body)(void*), void* context) {
  for (unsigned attempt = 0;; ++attempt) {
    unsigned cause = 0;
    {
      Transaction tx(*this);
      try {
        body(context);
      } catch (const SqlError& e) {
        // Before COMMIT even a statement lost in flight left nothing committed.
        if (!rerunnable(e.number()) || attempt >= reruns) throw;
        cause = e.number();
      }
      if (cause == 0) {
        try {
          tx.commit();
          return;
        } catch (const UnknownOutcome&) {
          throw;  // the COMMIT went out: it may have committed
        } catch (const SqlError& e) {
          if (!rerunnable(e.number()) || attempt >= reruns) throw;
          cause = e.number();
        }
      }
    }  // rolled back here when still open
    core_->recover(cause, attempt);
  }
}

}  // namespace veltro
