// A relay on loopback between a client and the test server, for tests of
// what the client sends before TLS: it can clear capability bits in the
// server's greeting and keeps every byte the client sent.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_env.h"

namespace veltro::testing {

// Forwards each client connection to the test server, one after the other,
// and keeps the bytes each client sent. The bits of strip() are cleared in the
// capabilities of the greeting each connection gets.
class Relay {
 public:
  explicit Relay(unsigned strip) : strip_(strip) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe(stop_) != 0) {
      ADD_FAILURE() << "the relay could not listen: " << std::strerror(errno);
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~Relay() {
    if (thread_.joinable()) {
      const char byte = 0;
      EXPECT_EQ(::write(stop_[1], &byte, 1), 1);
      thread_.join();
    }
    for (int fd : {listener_, stop_[0], stop_[1]})
      if (fd >= 0) ::close(fd);
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  unsigned port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // The greeting bits cleared for the connections accepted from now on.
  void strip(unsigned bits) { strip_ = bits; }
  // Client connections accepted so far.
  std::size_t accepted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_.size();
  }
  // The bytes each client connection sent, once count of them have ended.
  std::vector<std::string> clientBytes(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_changed_.wait(lock, [&] { return ended_ >= count; });
    return sent_;
  }

 private:
  // Waits for one of fds to be readable, or for the stop; false on the stop.
  bool wait(std::vector<pollfd>& fds) {
    fds.push_back({stop_[0], POLLIN, 0});
    for (pollfd& p : fds) p.revents = 0;
    while (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno != EINTR) return false;
    }
    const bool stopped = fds.back().revents != 0;
    fds.pop_back();
    return !stopped;
  }

  void run() {
    for (;;) {
      std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
      if (!wait(fds)) return;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        index = sent_.size();
        sent_.emplace_back();
      }
      const bool stopped = !serve(client, index);
      ::close(client);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ended_;
      }
      ended_changed_.notify_all();
      if (stopped) return;
    }
  }

  static bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  static bool readExactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::recv(fd, data, size, 0);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  // The server's greeting with the strip bits cleared from its capabilities:
  // after the protocol version, the version text and its zero byte, the
  // connection id (4), the first scramble part (8) and a filler byte come the
  // low two bytes; the high two follow the character set (1) and status (2).
  void rewriteGreeting(std::string& payload) const {
    const std::size_t versionEnd = payload.find('\0', 1);
    const std::size_t low = versionEnd + 1 + 4 + 8 + 1;
    if (versionEnd == std::string::npos || payload.size() < low + 7) {
      ADD_FAILURE() << "the relay read no greeting";
      return;
    }
    auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(payload[at])); };
    unsigned caps = byte(low) | byte(low + 1) << 8 | byte(low + 5) << 16 | byte(low + 6) << 24;
    caps &= ~strip_.load();
    payload[low] = static_cast<char>(caps & 0xff);
    payload[low + 1] = static_cast<char>(caps >> 8 & 0xff);
    payload[low + 5] = static_cast<char>(caps >> 16 & 0xff);
    payload[low + 6] = static_cast<char>(caps >> 24 & 0xff);
  }

  // Relays one client until either side ends; false when the relay was stopped.
  bool serve(int client, std::size_t index) {
    const auto& env = serverEnv();
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(env.port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char header[4];
    if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        !readExactly(server, header, sizeof header)) {
      ADD_FAILURE() << "the relay could not reach the test server";
      if (server >= 0) ::close(server);
      return true;
    }
    auto byte = [&](int at) { return static_cast<std::size_t>(static_cast<unsigned char>(header[at])); };
    std::string greeting(byte(0) | byte(1) << 8 | byte(2) << 16, '\0');
    bool open = readExactly(server, greeting.data(), greeting.size());
    if (open) {
      rewriteGreeting(greeting);
      open = sendAll(client, header, sizeof header) && sendAll(client, greeting.data(), greeting.size());
    }
    bool stopped = false;
    char buffer[16384];
    while (open) {
      std::vector<pollfd> fds = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (!wait(fds)) {
        stopped = true;
        break;
      }
      if (fds[0].revents != 0) {
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          sent_[index].append(buffer, static_cast<std::size_t>(n));
        }
        open = sendAll(server, buffer, static_cast<std::size_t>(n));
      }
      if (open && fds[1].revents != 0) {
        const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
        open = n > 0 && sendAll(client, buffer, static_cast<std::size_t>(n));
      }
    }
    ::close(server);
    return !stopped;
  }

  std::atomic<unsigned> strip_;
  int listener_ = -1;
  int stop_[2] = {-1, -1};
  unsigned port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ended_changed_;
  std::vector<std::string> sent_;
  std::size_t ended_ = 0;
};

}  // namespace veltro::testing
