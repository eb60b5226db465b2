// A test database for faults of the throwaway server: the server script's
// commands (stop, kill, resume) on it, and the process's memory and files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "server_support.h"
#include "test_env.h"
#include "veltro/query.h"
#include "veltro/server.h"

#ifndef VELTRO_SOURCE_DIR
#error "VELTRO_SOURCE_DIR names the source tree (for scripts/testserver.sh)"
#endif

namespace veltro::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

inline constexpr long long kServerGone = 2006;
inline constexpr long long kServerLost = 2013;

// The directory of the throwaway server, where the script keeps its pid and port.
inline std::string serverDir() {
  const char* dir = std::getenv("VELTRO_TEST_SERVER_DIR");
  if (!dir || !*dir) ADD_FAILURE() << "VELTRO_TEST_SERVER_DIR is not set: run the tests through ./test";
  return dir ? dir : "";
}

// Runs one command of the server script on the test server; true on success.
inline bool serverCommand(const std::string& command) {
  std::string line = "bash '" + std::string(VELTRO_SOURCE_DIR) + "/scripts/testserver.sh' " + command + " '" +
                     serverDir() + "' >/dev/null";
  return std::system(line.c_str()) == 0;
}

inline long long scalar(const ServerPtr& s, const std::string& sql) {
  QueryPtr q = s->Query(sql);
  long long v = q && q->LastRec() > 0 ? q->FieldGet(1).asInt() : -1;
  if (q) q->End();
  return v;
}

// A field of /proc/self/status in kB ("VmRSS").
inline long long statusKb(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field + ":", 0) == 0) return std::atoll(line.c_str() + field.size() + 1);
  return -1;
}

inline std::size_t openFiles() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Every test here may stop the server; each leaves it running, also when it
// fails. On a cluster the tests that stop it skip themselves: no script starts it.
class Fault : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!onCluster()) {
      ASSERT_TRUE(serverCommand("resume"));
    }
    side = std::make_unique<SideConnection>();
    side->exec("DROP DATABASE IF EXISTS vtb_fault");
    side->exec("CREATE DATABASE vtb_fault");
    dir = makeTempDir("fault");
  }
  void TearDown() override {
    for (ServerPtr& s : servers) s->End();
    if (!onCluster()) {
      EXPECT_TRUE(serverCommand("resume")) << "the test server could not be started again";
    }
    SideConnection after;
    after.exec("DROP DATABASE IF EXISTS vtb_fault");
    std::filesystem::remove_all(dir);
  }
  ServerPtr connect(const Value& onError) {
    ServerPtr s = connectServer(onError, "vtb_fault");
    servers.push_back(s);
    return s;
  }
  // A fresh side connection: one made before a restart is gone with it.
  SideConnection& freshSide() {
    side = std::make_unique<SideConnection>("vtb_fault");
    return *side;
  }

  std::unique_ptr<SideConnection> side;
  std::vector<ServerPtr> servers;
  std::string dir;
};

}  // namespace veltro::testing
