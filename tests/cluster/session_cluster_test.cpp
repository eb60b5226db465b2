// The typed face on the three-node Galera cluster: Session::transact and a
// Pool through the host list while the node under them is killed. Each unit
// of work is applied once, or reported as of unknown outcome.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cluster_support.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using cluster_test::cluster;
using cluster_test::clusterCommand;
using cluster_test::firstPort;
using cluster_test::nodeAddress;

Settings clusterSettings(const std::string& hosts = cluster().hosts) {
  Settings s;
  s.host = hosts;
  s.port = firstPort();
  s.user = cluster().user;
  s.password = cluster().password;
  s.database = cluster().database;
  return s;
}

int nodeOf(Session& s) { return s.value<int>("SELECT @@port") - firstPort() + 1; }

// A session on one node that reads what the cluster has committed.
Session readerOn(int node) {
  Settings s = clusterSettings(nodeAddress(node));
  s.readYourWrites = true;
  return Session::open(s);
}

class SessionCluster : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings admin = clusterSettings();
    admin.repeatable = true;  // its node may be the one killed
    Session s = Session::open(admin);
    s.execute("CREATE OR REPLACE TABLE vs_counts (id INT PRIMARY KEY, n INT NOT NULL) ENGINE=InnoDB");
    s.execute("INSERT INTO vs_counts VALUES (1, 0), (2, 0)");
    s.execute("CREATE OR REPLACE TABLE vs_units (id INT AUTO_INCREMENT PRIMARY KEY, unit VARCHAR(20)) ENGINE=InnoDB");
  }
  void TearDown() override {
    // Every node is back for the next test, also when this one failed.
    for (int node = 1; node <= 3; ++node) EXPECT_TRUE(clusterCommand("resume", node)) << "node " << node;
    Settings admin = clusterSettings();
    admin.repeatable = true;
    Session s = Session::open(admin);
    s.execute("DROP TABLE IF EXISTS vs_counts, vs_units");
  }
};

// transact on the host list, its node killed after 60 of 200 units: each
// unit (two increments) is applied whole exactly once, or is the one
// reported as UnknownOutcome (its COMMIT lost on the way); no other error.
TEST_F(SessionCluster, TransactSurvivesTheLossOfItsNode) {
  Session s = Session::open(clusterSettings());
  const int victim = nodeOf(s);
  std::atomic<int> sent{0};
  std::thread killer([&] {
    while (sent.load() < 60) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(clusterCommand("kill", victim));
  });
  int applied = 0, unknown = 0;
  for (int i = 0; i < 200; ++i) {
    try {
      s.transact(
          [](Session& tx) {
            tx.execute("UPDATE vs_counts SET n = n + 1 WHERE id = 1");
            tx.execute("UPDATE vs_counts SET n = n + 1 WHERE id = 2");
          },
          10);
      ++applied;
    } catch (const UnknownOutcome&) {
      ++unknown;
    } catch (const SqlError& e) {
      ADD_FAILURE() << "unit " << i << ": " << e.number() << " " << e.what();
    }
    ++sent;
  }
  killer.join();
  EXPECT_LE(unknown, 1);
  EXPECT_NE(nodeOf(s), victim);
  Session reader = readerOn(victim % 3 + 1);
  const std::string both = reader.value<std::string>("SELECT CONCAT(MIN(n), '/', MAX(n)) FROM vs_counts");
  const int n = std::atoi(both.c_str());
  EXPECT_EQ(both, std::to_string(n) + "/" + std::to_string(n)) << "a unit applied in part";
  EXPECT_TRUE(n >= applied && n <= applied + unknown) << n << " applied " << applied << " unknown " << unknown;
}

// Four threads on a pool of 2 over the host list, the node of its
// connections killed midway: each unit (a row of its own) is applied once or
// reported unknown; leases go on over the surviving nodes.
TEST_F(SessionCluster, PoolSurvivesTheLossOfANode) {
  Pool pool(clusterSettings(), 2);
  int victim = 0;
  {
    Lease first = pool.acquire();
    victim = nodeOf(*first);
  }
  std::atomic<int> sent{0};
  std::mutex mutex;
  std::set<std::string> done, unknown;
  auto worker = [&](int t) {
    for (int k = 0; k < 50; ++k) {
      const std::string unit = std::to_string(t) + "-" + std::to_string(k);
      try {
        Lease lease = pool.acquire(std::chrono::seconds(60));
        lease->transact([&](Session& tx) { tx.execute("INSERT INTO vs_units (unit) VALUES (?)", unit); }, 10);
        std::lock_guard<std::mutex> lock(mutex);
        done.insert(unit);
      } catch (const UnknownOutcome&) {
        std::lock_guard<std::mutex> lock(mutex);
        unknown.insert(unit);
      } catch (const SqlError& e) {
        ADD_FAILURE() << unit << ": " << e.number() << " " << e.what();
      }
      ++sent;
    }
  };
  std::thread killer([&] {
    while (sent.load() < 40) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(clusterCommand("kill", victim));
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t);
  for (std::thread& t : threads) t.join();
  killer.join();
  EXPECT_EQ(pool.stats().inUse, 0u);
  Session reader = readerOn(victim % 3 + 1);
  std::multiset<std::string> rows;
  for (const Row& r : reader.query("SELECT unit FROM vs_units")) rows.insert(r.get<std::string>(0));
  for (const std::string& unit : done) EXPECT_EQ(rows.count(unit), 1u) << unit;
  for (const std::string& unit : unknown) EXPECT_LE(rows.count(unit), 1u) << unit;
  EXPECT_LE(rows.size(), done.size() + unknown.size());
}

}  // namespace
}  // namespace veltro
