// The watch over a host list's connections: a statement that waits on a node
// that no longer answers is cut instead of waiting as long as the node is
// frozen, while a long statement on a node that answers runs on.
//
// A node that stops without closing its sockets (a stopped process, a paused
// machine, a partition without resets) looks to a waiting client exactly like
// a long statement. So a statement that has waited longer than the watch's
// patience has its node probed on the side: a new TCP connection that must
// bring the server's first packet within the probe's bound. A node that
// answers is busy, and the statement waits on; one that does not has the
// statement's socket shut, and the statement fails as lost (2013), or as never
// sent (2006) when the node had not taken all of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace veltro::db::detail {

class NodeWatch {
 public:
  using Clock = std::chrono::steady_clock;
  NodeWatch(std::string host, unsigned port, int socket, std::chrono::milliseconds patience,
            std::chrono::milliseconds probeBound);

  // Starts watching w (one watcher thread serves every watch of the process).
  static void start(const std::shared_ptr<NodeWatch>& w);

  // A call that may wait on the node begins and ends.
  void begin();
  void end();
  // Whether the connection, idle since its last call, was closed by the node
  // (it stopped, or ended the session): a statement sent now would be lost
  // without having run. One poll of the socket, which waits for nothing.
  bool closedWhileIdle();
  // Shuts the connection's socket for writing, so that the client library
  // reports a statement sent on it as never sent.
  void refuseNextSend();
  // Why the watch cut the connection ("" when it did not).
  std::string cutReason() const;

  // The watcher's side: whether a call has waited longer than the patience
  // (its number in *call), and the cut of that call if it still waits.
  bool overdue(Clock::time_point now, std::uint64_t* call) const;
  void cut(std::uint64_t call, const std::string& why);
  const std::string& host() const { return host_; }
  unsigned port() const { return port_; }
  std::chrono::milliseconds probeBound() const { return probeBound_; }

 private:
  const std::string host_;
  const unsigned port_;
  const int socket_;
  const std::chrono::milliseconds patience_;
  const std::chrono::milliseconds probeBound_;
  mutable std::mutex mutex_;
  bool waiting_ = false;
  std::uint64_t call_ = 0;  // number of the current (or last) call
  Clock::time_point since_;
  std::string cutReason_;
};

// A node's server answers: a TCP connection to host:port brings at least one
// byte within bound. True when the host no longer resolves: that tells
// nothing of the node.
bool nodeAnswers(const std::string& host, unsigned port, std::chrono::milliseconds bound);

// Marks a call on a watched connection (none: nothing is watched).
class WatchedCall {
 public:
  explicit WatchedCall(NodeWatch* w) : w_(w) {
    if (w_) w_->begin();
  }
  ~WatchedCall() {
    if (w_) w_->end();
  }
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

 private:
  NodeWatch* w_;
};

}  // namespace veltro::db::detail
