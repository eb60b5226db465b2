// The watch over a host list's connections: the calls' bookkeeping, the probe
// of a node and the one watcher thread.
#include "node_watch.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace veltro::db::detail {

namespace {

using namespace std::chrono_literals;
using Clock = NodeWatch::Clock;

// How often the watcher looks at the calls, and how long it lingers with
// nothing to watch before its thread ends.
constexpr auto kTick = 200ms;
constexpr auto kLinger = 10s;
// A probe's answer stands for the node this long, for every call waiting on it.
constexpr auto kProbeKept = 1s;

// Waits for events on fd until deadline; the events seen (0 when none came).
short waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return p.revents;
    if (n == 0 || errno != EINTR) return 0;
  }
}

// One address of host:port answers with its first byte by deadline.
bool addressAnswers(const addrinfo* a, Clock::time_point deadline) {
  const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) return false;
  bool answered = false;
  if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
    int error = 0;
    socklen_t size = sizeof error;
    if ((waitFor(fd, POLLOUT, deadline) & POLLOUT) && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
        error == 0 && (waitFor(fd, POLLIN, deadline) & POLLIN)) {
      char byte;
      answered = ::recv(fd, &byte, 1, MSG_DONTWAIT) == 1;
    }
  }
  ::close(fd);
  return answered;
}

// The watches of the process and the thread that serves them. Never
// destroyed: the thread may still run while the process ends.
struct Watcher {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<std::weak_ptr<NodeWatch>> watches;
  bool running = false;
  // The last probe of each node ("host:port"): when, and whether it answered.
  std::map<std::string, std::pair<Clock::time_point, bool>> probes;

  static Watcher& get() {
    static Watcher* w = new Watcher;
    return *w;
  }

  // The watches alive now; the expired ones are dropped. false when none is
  // left and the thread may end.
  bool live(std::vector<std::shared_ptr<NodeWatch>>& out) {
    std::lock_guard<std::mutex> lock(mutex);
    out.clear();
    for (auto it = watches.begin(); it != watches.end();) {
      if (std::shared_ptr<NodeWatch> w = it->lock()) {
        out.push_back(std::move(w));
        ++it;
      } else {
        it = watches.erase(it);
      }
    }
    return !out.empty();
  }

  // Whether the node of w answers, asked at most once a kProbeKept per node.
  bool answers(const NodeWatch& w) {
    const std::string node = w.host() + ":" + std::to_string(w.port());
    const auto now = Clock::now();
    auto it = probes.find(node);
    if (it != probes.end() && now - it->second.first < kProbeKept) return it->second.second;
    const bool ok = nodeAnswers(w.host(), w.port(), w.probeBound());
    probes[node] = {Clock::now(), ok};
    return ok;
  }

  void run() {
    std::vector<std::shared_ptr<NodeWatch>> current;
    auto idleSince = Clock::now();
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, kTick);
      }
      const auto now = Clock::now();
      if (!live(current)) {
        std::lock_guard<std::mutex> lock(mutex);
        if (watches.empty() && now - idleSince > kLinger) {
          running = false;
          return;
        }
        continue;
      }
      idleSince = now;
      for (const std::shared_ptr<NodeWatch>& w : current) {
        std::uint64_t call = 0;
        if (!w->overdue(Clock::now(), &call) || answers(*w)) continue;
        w->cut(call, "the node " + w->host() + ":" + std::to_string(w->port()) + " did not answer within " +
                         std::to_string(w->probeBound().count()) + " ms");
      }
      current.clear();
    }
  }
};

}  // namespace

NodeWatch::NodeWatch(std::string host, unsigned port, int socket, std::chrono::milliseconds patience,
                     std::chrono::milliseconds probeBound)
    : host_(std::move(host)),
      port_(port),
      socket_(socket),
      patience_(patience),
      probeBound_(probeBound),
      since_(Clock::now()) {}

void NodeWatch::start(const std::shared_ptr<NodeWatch>& w) {
  Watcher& watcher = Watcher::get();
  std::lock_guard<std::mutex> lock(watcher.mutex);
  watcher.watches.push_back(w);
  if (watcher.running) return;
  watcher.running = true;
  std::thread([&watcher] { watcher.run(); }).detach();
}

void NodeWatch::begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_ = true;
  ++call_;
  since_ = Clock::now();
}

void NodeWatch::end() {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_ = false;
}

bool NodeWatch::closedWhileIdle() {
  pollfd p{socket_, static_cast<short>(POLLIN | POLLRDHUP), 0};
  if (::poll(&p, 1, 0) != 1) return false;
  if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return true;
  char byte;
  return (p.revents & POLLIN) && ::recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void NodeWatch::refuseNextSend() { ::shutdown(socket_, SHUT_RDWR); }

std::string NodeWatch::cutReason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cutReason_;
}

bool NodeWatch::overdue(Clock::time_point now, std::uint64_t* call) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *call = call_;
  return waiting_ && now - since_ >= patience_;
}

void NodeWatch::cut(std::uint64_t call, const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Only the call that was found waiting: the socket is the connection's
  // until the owner closes it, which it cannot do while the call waits.
  if (!waiting_ || call_ != call) return;
  cutReason_ = why;
  ::shutdown(socket_, SHUT_RDWR);
}

bool nodeAnswers(const std::string& host, unsigned port, std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // A name that no longer resolves tells nothing of the node: its call waits on.
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return true;
  bool ok = false;
  for (const addrinfo* a = found; a && !ok && Clock::now() < deadline; a = a->ai_next) ok = addressAnswers(a, deadline);
  ::freeaddrinfo(found);
  return ok;
}

}  // namespace veltro::db::detail
