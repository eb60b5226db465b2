// The library on the three-node Galera cluster that ./test starts
// (scripts/cluster.sh): nodes that are not ready are passed over, a node
// killed or frozen under increments and under transaction lists costs at most
// one call of unknown outcome and nothing else, writers on two nodes keep
// every count, and a lost node rejoins holding every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cluster_support.h"
#include "veltro/binding.h"
#include "veltro/error.h"

namespace veltro::cluster_test {
namespace {

// A node whose state is not Synced, or that refuses statements, is passed
// over by a host list; one host alone is used as given.
TEST_F(Cluster, NodesThatAreNotReadyArePassedOver) {
  struct Case {
    const char* on;
    const char* off;
  };
  ServerPtr first = connect(Value(), nodeAddress(1));
  ASSERT_EQ(nodeOf(first), 1);
  for (const Case& c : {Case{"SET GLOBAL wsrep_desync = ON", "SET GLOBAL wsrep_desync = OFF"},
                        Case{"SET GLOBAL wsrep_reject_queries = ALL", "SET GLOBAL wsrep_reject_queries = NONE"}}) {
    SCOPED_TRACE(c.on);
    ASSERT_TRUE(first->SqlQuery(c.on));
    Recorder rec;
    ServerPtr s = connect(rec.block());
    EXPECT_EQ(nodeOf(s), 2);
    EXPECT_TRUE(rec.calls->empty());
    s->End();
    EXPECT_TRUE(first->SqlQuery(c.off));
  }
  // Read-your-writes reaches the session of a cluster node.
  ServerPtr s = TQuillonSrv::create();
  s->lReadYourWrites = true;
  s->New(cluster().hosts, cluster().user, cluster().password, firstPort(), 0, cluster().database);
  EXPECT_EQ(ask(s, "SELECT @@wsrep_sync_wait"), "1");
  EXPECT_EQ(ask(first, "SELECT @@wsrep_sync_wait"), "0");
  s->End();
  first->End();
}

// The node a server object is on is killed (SIGKILL) or frozen (SIGSTOP:
// sockets open, nothing answers) under single increments (one autocommit
// statement each), then under transaction lists: every call returns, each
// increment or list is applied exactly once or is the one call reported as of
// unknown outcome (2013, 1180, or 9031 for a COMMIT lost on its way), nothing
// else is reported, and the node comes back holding every row.
TEST_F(Cluster, ALostNodeCostsAtMostOneCallOfUnknownOutcome) {
  const Value list =
      Value::array({"UPDATE counts SET n = n + 1 WHERE id = 1", "UPDATE counts SET n = n + 1 WHERE id = 2"});
  for (const char* how : {"kill", "freeze"}) {
    for (const bool lists : {false, true}) {
      SCOPED_TRACE(std::string(how) + (lists ? " under lists" : " under statements"));
      ASSERT_TRUE(admin->SqlQuery("UPDATE counts SET n = 0"));
      Recorder rec;
      ServerPtr s = connect(rec.block());
      const int victim = nodeOf(s);
      // Lists are slower: fewer of them span the loss.
      const int calls = lists ? 200 : 1000;
      std::atomic<int> sent{0};
      std::thread stopper([&] {
        while (sent.load() < calls * 3 / 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(clusterCommand(how, victim));
      });
      int applied = 0;
      double longest = 0;
      for (int i = 0; i < calls; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (lists ? s->MultiQuery(list) : s->SqlQuery("UPDATE counts SET n = n + 1 WHERE id = 1")) ++applied;
        longest = std::max(longest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        ++sent;
      }
      stopper.join();
      std::printf("%s under %s: the longest call took %.1f s\n", how, lists ? "lists" : "statements", longest);
      ASSERT_LE(rec.calls->size(), 1u);
      for (const auto& r : *rec.calls) EXPECT_TRUE(unknownOutcome(r.number)) << r.number;
      EXPECT_NE(nodeOf(s), victim);
      const std::string both = readOn(victim % 3 + 1, "SELECT CONCAT(MAX(n), '/', MIN(n)) FROM counts");
      const int n = std::atoi(both.c_str());
      if (lists) {
        EXPECT_EQ(both, std::to_string(n) + "/" + std::to_string(n)) << "a list applied in part";
      }
      EXPECT_TRUE(n == applied || (rec.calls->size() == 1 && n == applied + 1)) << n << " applied " << applied;
      ASSERT_TRUE(clusterCommand("resume", victim));
      EXPECT_EQ(readOn(victim, "SELECT MAX(n) FROM counts"), std::to_string(n));
      s->End();
    }
  }
}

// Two writers on two nodes increment the same rows in transaction lists: the
// losers of certification conflicts (1213) run their list again in the same
// session, and the final counts equal the lists applied.
TEST_F(Cluster, WritersOnTwoNodesKeepEveryCount) {
  std::atomic<int> applied{0};
  std::atomic<int> failed{0};
  auto writer = [&](const std::string& hosts) {
    Recorder rec;
    ServerPtr s = connect(rec.block(), hosts);
    s->nMultiRetries = 20;
    const Value list =
        Value::array({"UPDATE counts SET n = n + 1 WHERE id = 1", "UPDATE counts SET n = n + 1 WHERE id = 2"});
    // A conflict reruns the list in the same session, on the same node.
    EXPECT_TRUE(s->SqlQuery("SET @writer = '" + hosts + "', time_zone = '+03:00'"));
    const std::string session = ask(s, "SELECT CONCAT(CONNECTION_ID(), '/', @writer, '/', @@time_zone)");
    for (int i = 0; i < 150; ++i) (s->MultiQuery(list) ? applied : failed)++;
    EXPECT_EQ(ask(s, "SELECT CONCAT(CONNECTION_ID(), '/', @writer, '/', @@time_zone)"), session);
    s->End();
  };
  std::thread a(writer, hostList({1, 2}));
  std::thread b(writer, hostList({2, 1}));
  a.join();
  b.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(readOn(3, "SELECT CONCAT(MIN(n), '/', MAX(n)) FROM counts"),
            std::to_string(applied.load()) + "/" + std::to_string(applied.load()));
}

}  // namespace
}  // namespace veltro::cluster_test
