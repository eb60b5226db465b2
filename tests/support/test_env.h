// Where the tests find the throwaway server that ./test started.
#pragma once

#include <string>

namespace veltro::testing {

struct ServerEnv {
  std::string host;    // 127.0.0.1
  unsigned port = 0;   // loopback TCP port
  std::string socket;  // unix socket path
  std::string user;    // password account with every privilege
  std::string password;
  std::string database;  // test database
  std::string tmpdir;    // scratch space under the build tree
  // TLS: the CA that signed the server's certificate, a CA that signed
  // nothing of it, and an account that may only connect encrypted (password
  // as above). Empty when the server was started without TLS; the tests that
  // need them fail then.
  std::string sslCa;
  std::string otherCa;
  std::string tlsUser;
};

// The server of this run. A test that calls it fails (never skips) when the
// variables are missing: run the tests through ./test.
const ServerEnv& serverEnv();

// A loopback port that nothing listens on: bound once to learn a free number, then released.
unsigned closedPort();

// A fresh empty directory under the scratch space.
std::string makeTempDir(const std::string& prefix);

// Whether this run is against a cluster: tests/cluster/server_suite.sh sets
// VELTRO_TEST_ON_CLUSTER=1 when it runs the server tests there.
bool onCluster();

}  // namespace veltro::testing

// Skips the calling test on a cluster run, saying why it does not apply there.
#define VELTRO_SKIP_ON_CLUSTER(reason)                                                    \
  do {                                                                                    \
    if (::veltro::testing::onCluster()) GTEST_SKIP() << "not on a cluster: " << (reason); \
  } while (0)
