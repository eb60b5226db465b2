// The typed face's pool: sessions with one set of settings lent to threads as
// leases, each given back clean, broken ones replaced.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "server_codes.h"
#include "server_session.h"
#include "session_impl.h"
#include "veltro/binding.h"
#include "veltro/prepared.h"
#include "veltro/session.h"
#include "server_impl.h"

namespace veltro {

namespace detail {

bool SessionCore::resetForReuse(const Settings& settings) noexcept {
  try {
    if (openStream) openStream->finish(true);
    closeLater.clear();
    const db::Handle h = handle();
    if (!db::isConnection(h)) return false;
    if (!touched) {
      // Nothing but statements that leave no state ran: ending the transaction is enough.
      if (!inTransaction()) return !connectionGone(db::errnum(h));
      Scope scope(*this);
      return srv->impl_->sendStatement("ROLLBACK") && !last->any;
    }
    // The reset rolls back an open transaction and drops the session's state.
    if (!db::resetConnection(h)) return false;
    srv->impl_->inTransaction_ = false;
    srv->impl_->session_.clear();  // a failover must not bring back the last lease's settings
    touched = false;
    // The server reads the connect's character set again: so must the escaping.
    if (!settings.charset.empty() && !db::adoptCharset(h, settings.charset.c_str())) return false;
    // The reset keeps the current database: a USE of the last lease is undone.
    if (!settings.database.empty() && db::currentDatabase(h) != settings.database &&
        db::selectDb(h, settings.database.c_str()) != 0)
      return false;
    return true;
  } catch (...) {
    return false;
  }
}

struct PoolCore : std::enable_shared_from_this<PoolCore> {
  using Clock = std::chrono::steady_clock;
  struct Idle {
    std::shared_ptr<SessionCore> core;
    Clock::time_point since;
  };

  PoolCore(const Settings& s, std::size_t n, std::chrono::milliseconds check)
      : settings(s), size(n == 0 ? 1 : n), idleCheck(check) {}
  Lease acquire(std::chrono::milliseconds timeout);
  // Opens a connection for a lease already counted; uncounts it when that fails.
  std::shared_ptr<SessionCore> openCounted();
  void giveBack(std::shared_ptr<SessionCore> core) noexcept;
  void close() noexcept;

  const Settings settings;
  const std::size_t size;
  const std::chrono::milliseconds idleCheck;
  mutable std::mutex mutex;
  std::condition_variable freed;  // a connection came back, or room for a new one
  std::vector<Idle> idle;          // the most recently given back last
  PoolStats counts;
  bool closed = false;
};

std::shared_ptr<SessionCore> PoolCore::openCounted() {
  try {
    return Session::open(settings).core_;
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex);
    --counts.open;
    --counts.inUse;
    freed.notify_one();
    throw;
  }
}

Lease PoolCore::acquire(std::chrono::milliseconds timeout) {
  std::shared_ptr<SessionCore> core;
  Clock::time_point since{};
  {
    std::unique_lock<std::mutex> lock(mutex);
    const auto available = [&] { return !idle.empty() || counts.open < size; };
    if (!available()) {
      ++counts.waits;
      if (!freed.wait_for(lock, timeout, available)) {
        ++counts.timeouts;
        const std::size_t inUse = counts.inUse;
        lock.unlock();
        fail(kErrPoolTimeout, "HYT00",
             "no connection of the pool came free within " + std::to_string(timeout.count()) + " ms (" +
                 std::to_string(inUse) + " of " + std::to_string(size) + " lent)");
      }
    }
    if (!idle.empty()) {
      core = std::move(idle.back().core);
      since = idle.back().since;
      idle.pop_back();
    } else {
      ++counts.open;
    }
    ++counts.inUse;
  }
  if (!core) return Lease(shared_from_this(), Session(openCounted()));
  // Only a connection idle for a while is asked whether it still answers.
  if (Clock::now() - since > idleCheck && db::ping(core->handle()) != 0) {
    core.reset();
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++counts.replaced;
    }
    core = openCounted();
  }
  return Lease(shared_from_this(), Session(std::move(core)));
}

void PoolCore::giveBack(std::shared_ptr<SessionCore> core) noexcept {
  const bool good = core->resetForReuse(settings);
  std::shared_ptr<SessionCore> drop;  // closed after the lock is released
  std::lock_guard<std::mutex> lock(mutex);
  --counts.inUse;
  if (good && !closed) {
    idle.push_back(Idle{std::move(core), Clock::now()});
  } else {
    drop = std::move(core);
    --counts.open;
    if (!good) ++counts.replaced;
  }
  freed.notify_one();
}

void PoolCore::close() noexcept {
  std::vector<Idle> drop;  // closed after the lock is released
  std::lock_guard<std::mutex> lock(mutex);
  closed = true;
  counts.open -= idle.size();
  drop.swap(idle);
}

}  // namespace detail

Pool::Pool(const Settings& settings, std::size_t size, std::chrono::milliseconds idleCheck)
    : core_(std::make_shared<detail::PoolCore>(settings, size, idleCheck)) {}

Pool::~Pool() { core_->close(); }

Lease Pool::acquire(std::chrono::milliseconds timeout) { return core_->acquire(timeout); }

PoolStats Pool::stats() const {
  std::lock_guard<std::mutex> lock(core_->mutex);
  PoolStats s = core_->counts;
  s.size = core_->size;
  return s;
}

Lease::Lease(std::shared_ptr<detail::PoolCore> pool, Session session)
    : pool_(std::move(pool)), session_(std::move(session)) {}

Lease::Lease(Lease&& other) noexcept : pool_(std::move(other.pool_)), session_(std::move(other.session_)) {}

Lease& Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    giveBack();
    pool_ = std::move(other.pool_);
    session_ = std::move(other.session_);
  }
  return *this;
}

Lease::~Lease() { giveBack(); }

void Lease::giveBack() noexcept {
  if (!pool_) return;
  std::shared_ptr<detail::PoolCore> pool = std::move(pool_);
  if (session_.core_) pool->giveBack(std::move(session_.core_));
}

}  // namespace veltro
