// What the cluster tests share: the cluster of this run (scripts/cluster.sh,
// through the VELTRO_CLUSTER_* variables), its nodes' commands, connections
// through its host list, and a fixture with a table of counts.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "server_support.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/value.h"

#ifndef VELTRO_SOURCE_DIR
#error "VELTRO_SOURCE_DIR names the source tree (for scripts/cluster.sh)"
#endif

namespace veltro::cluster_test {

using testing::Recorder;

struct ClusterEnv {
  std::string hosts, user, password, database, dir;
};

// The cluster of this run; a test fails (never skips) without it.
inline const ClusterEnv& cluster() {
  static const ClusterEnv env = [] {
    auto get = [](const char* name) {
      const char* v = std::getenv(name);
      if (!v || !*v) ADD_FAILURE() << name << " is not set: run the cluster tests through ./test";
      return std::string(v ? v : "");
    };
    return ClusterEnv{get("VELTRO_CLUSTER_HOSTS"), get("VELTRO_CLUSTER_USER"), get("VELTRO_CLUSTER_PASSWORD"),
                      get("VELTRO_CLUSTER_DB"), get("VELTRO_CLUSTER_DIR")};
  }();
  return env;
}

// The first node's port, which scripts/cluster.sh chose and wrote into its
// env.sh (VELTRO_CLUSTER_PORT); node N listens on firstPort() + N - 1. The
// calling test fails without it (a guessed port may be another server's).
inline int firstPort() {
  const char* v = std::getenv("VELTRO_CLUSTER_PORT");
  const std::string text = v ? v : "";
  const bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
  const int port = digits ? std::stoi(text) : 0;
  if (port < 1 || port > 65535) {
    ADD_FAILURE() << "VELTRO_CLUSTER_PORT is " << (v ? "'" + text + "', not a port" : "not set")
                  << ": run the cluster tests through ./test, or source the env.sh of scripts/cluster.sh";
    throw std::runtime_error("no cluster port");
  }
  return port;
}

// Node N's address, as a host list names it.
inline std::string nodeAddress(int node) { return "127.0.0.1:" + std::to_string(firstPort() + node - 1); }

// A host list of the nodes given, in that order: hostList({2, 1}).
inline std::string hostList(std::initializer_list<int> nodes) {
  std::string list;
  for (int node : nodes) list += (list.empty() ? "" : ",") + nodeAddress(node);
  return list;
}

inline bool clusterCommand(const std::string& command, int node) {
  const std::string line = "bash '" + std::string(VELTRO_SOURCE_DIR) + "/scripts/cluster.sh' " + command + " '" +
                           cluster().dir + "' " + std::to_string(node) + " >/dev/null";
  return std::system(line.c_str()) == 0;
}

inline ServerPtr connect(const Value& onError, const std::string& hosts = cluster().hosts) {
  ServerPtr s = TQuillonSrv::create();
  s->New(hosts, cluster().user, cluster().password, firstPort(), 0, cluster().database, onError);
  return s;
}

inline std::string ask(const ServerPtr& s, const std::string& sql) {
  QueryPtr q = s->Query(sql);
  std::string v = q && q->LastRec() > 0 ? std::string(trimRight(q->FieldGet(1).toString())) : "<none>";
  if (q) q->End();
  return v;
}

inline int nodeOf(const ServerPtr& s) { return std::atoi(ask(s, "SELECT @@port").c_str()) - firstPort() + 1; }

// A value read on one node after it has applied what the cluster committed.
inline std::string readOn(int node, const std::string& sql) {
  ServerPtr s = TQuillonSrv::create();
  s->lReadYourWrites = true;
  s->New(nodeAddress(node), cluster().user, cluster().password, firstPort(), 0, cluster().database);
  const std::string v = ask(s, sql);
  s->End();
  return v;
}

class Cluster : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(cluster().dir.empty());
    // The tests kill the node the admin may be on: its statements may run twice.
    admin = connect(adminReports.block());
    admin->lRepeatable = true;
    ASSERT_GT(admin->handle(), 0) << admin->ErrorTxt();
    ASSERT_TRUE(admin->SqlQuery("CREATE OR REPLACE TABLE counts (id INT PRIMARY KEY, n INT NOT NULL) ENGINE=InnoDB"));
    ASSERT_TRUE(admin->SqlQuery("INSERT INTO counts VALUES (1, 0), (2, 0)"));
  }
  void TearDown() override {
    if (!admin) return;  // SetUp failed before it connected: the test did not run
    // Every node is back for the next test, also when this one failed.
    for (int node = 1; node <= 3; ++node) EXPECT_TRUE(clusterCommand("resume", node)) << "node " << node;
    EXPECT_TRUE(admin->SqlQuery("DROP TABLE IF EXISTS counts"));
    admin->End();
  }
  Recorder adminReports;
  ServerPtr admin;
};

// Codes that say a call's outcome is unknown: it may have been applied.
inline bool unknownOutcome(long long code) {
  return code == 2013 || code == 2055 || code == 1180 || code == kErrUnknownOutcome;
}

}  // namespace veltro::cluster_test
