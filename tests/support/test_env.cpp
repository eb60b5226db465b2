#include "test_env.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace veltro::testing {

namespace {
std::string need(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) {
    ADD_FAILURE() << name << " is not set: the server tests run against the server that ./test starts";
    throw std::runtime_error(std::string("missing ") + name);
  }
  return v;
}
}  // namespace

const ServerEnv& serverEnv() {
  static const ServerEnv env = [] {
    ServerEnv e;
    e.host = need("VELTRO_TEST_HOST");
    e.port = static_cast<unsigned>(std::stoul(need("VELTRO_TEST_PORT")));
    e.socket = need("VELTRO_TEST_SOCKET");
    e.user = need("VELTRO_TEST_USER");
    e.password = need("VELTRO_TEST_PASSWORD");
    e.database = need("VELTRO_TEST_DB");
    const char* t = std::getenv("VELTRO_TEST_TMP");
    e.tmpdir = (t && *t) ? t : "/tmp";
    auto optional = [](const char* name) {
      const char* v = std::getenv(name);
      return std::string(v ? v : "");
    };
    e.sslCa = optional("VELTRO_TEST_SSL_CA");
    e.otherCa = optional("VELTRO_TEST_OTHER_CA");
    e.tlsUser = optional("VELTRO_TEST_TLS_USER");
    return e;
  }();
  return env;
}

std::string makeTempDir(const std::string& prefix) {
  const char* t = std::getenv("VELTRO_TEST_TMP");
  std::string base = (t && *t) ? t : "/tmp";
  std::string pattern = base + "/" + prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed under " + base);
  return pattern;
}

// A loopback port that nothing listens on: bound once to learn a free number, then released.
unsigned closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool onCluster() {
  const char* on = std::getenv("VELTRO_TEST_ON_CLUSTER");
  return on && std::string(on) == "1";
}

}  // namespace veltro::testing
