// Pool on the client-server connection: leases given back clean, a bounded
// wait, broken connections replaced, and 16 threads on 4 connections doing
// random work while another session KILLs the pool's connections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server_support.h"
#include "session_roundtrip.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using namespace std::chrono_literals;
using roundtrip::testSettings;
using testing::SideConnection;

constexpr unsigned kConnectionKilled = 1927;  // a statement running when its connection was killed

unsigned long long idOf(Session& s) { return s.value<unsigned long long>("SELECT CONNECTION_ID()"); }

TEST(SessionPool, LeasesComeBackClean) {
  SideConnection side;
  side.exec("CREATE OR REPLACE TABLE vs_pool (id INT PRIMARY KEY) ENGINE=InnoDB");
  Pool pool(testSettings(), 1);
  std::optional<Stream> kept;  // a stream that outlives its lease
  // What one lease leaves, and what the next lease on the same connection finds.
  struct Case {
    const char* what;
    std::function<void(Session&)> leave;
    const char* ask;
    const char* finds;
  };
  const Case cases[] = {
      {"a user variable", [](Session& s) { s.execute("SET @left = 1"); }, "SELECT IFNULL(@left, 'none')", "none"},
      {"a session variable", [](Session& s) { s.execute("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"); },
       "SELECT @@sql_mode LIKE '%NO_BACKSLASH%'", "0"},
      {"a character set", [](Session& s) { s.execute("SET NAMES latin1"); }, "SELECT @@character_set_client",
       "utf8mb4"},
      {"a temporary table", [](Session& s) { s.execute("CREATE TEMPORARY TABLE vs_pool SELECT 42 AS id"); },
       "SELECT COUNT(*) FROM vs_pool", "0"},
      {"an open transaction",
       [](Session& s) {
         s.execute("BEGIN");
         s.execute("INSERT INTO vs_pool VALUES (1)");
       },
       "SELECT COUNT(*) FROM vs_pool", "0"},
      {"an unfinished stream",
       [&kept](Session& s) {
         kept.emplace(s.stream("SELECT seq FROM seq_1_to_100000"));
         kept->begin();
       },
       "SELECT 'free'", "free"},
      {"another database", [](Session& s) { s.execute("USE mysql"); }, "SELECT DATABASE()", nullptr},
  };
  unsigned long long id = 0;
  for (const Case& c : cases) {
    kept.reset();
    SCOPED_TRACE(c.what);
    {
      Lease lease = pool.acquire();
      id = idOf(*lease);
      c.leave(*lease);
    }
    Lease next = pool.acquire();
    EXPECT_EQ(idOf(*next), id) << "the same connection";
    const std::string want = c.finds ? c.finds : roundtrip::testSettings().database;
    EXPECT_EQ(next->value<std::string>(c.ask), want);
    EXPECT_EQ(next->value<std::string>("SELECT ?", "a'b\xc3\xa9"), "a'b\xc3\xa9") << "escaped as the server reads";
  }
  const PoolStats st = pool.stats();
  EXPECT_EQ(st.size, 1u);
  EXPECT_EQ(st.open, 1u);
  EXPECT_EQ(st.inUse, 0u);
  EXPECT_EQ(st.replaced, 0u);
  side.exec("DROP TABLE vs_pool");
}

TEST(SessionPool, BoundedWaitAndBrokenConnections) {
  VELTRO_SKIP_ON_CLUSTER(
      "the first KILL moves the pool's connection to the next node of the host list, where the side "
      "connection's KILL cannot reach it");
  SideConnection side;
  Pool pool(testSettings(), 1, 0ms);
  {
    Lease held = pool.acquire();
    try {
      pool.acquire(50ms);
      ADD_FAILURE() << "a second lease of a pool of one";
    } catch (const SqlError& e) {
      EXPECT_EQ(e.number(), unsigned{kErrPoolTimeout});
    }
    // Killed while lent: the statement that meets it may be lost in flight
    // (2013); the next one runs on a connection the session replaced.
    side.exec("KILL " + std::to_string(idOf(*held)));
    try {
      held->execute("DO 1");
    } catch (const SqlError& e) {
      EXPECT_TRUE(e.number() == 2006 || e.number() == 2013) << e.what();
    }
    EXPECT_EQ(held->value<int>("SELECT 1"), 1);
  }
  unsigned long long before = 0;
  {
    Lease lease = pool.acquire();
    before = idOf(*lease);
  }
  // Killed while idle: the ping before the next lease finds it, and a new one is opened.
  side.exec("KILL " + std::to_string(before));
  Lease after = pool.acquire();
  EXPECT_NE(idOf(*after), before);
  const PoolStats st = pool.stats();
  EXPECT_EQ(st.waits, 1u);
  EXPECT_EQ(st.timeouts, 1u);
  EXPECT_EQ(st.replaced, 1u);
  EXPECT_EQ(st.inUse, 1u);
}

// Connection ids lent now, and every one seen.
struct Leases {
  std::mutex mutex;
  std::set<unsigned long long> lent, seen;
  bool shared = false;
  void take(unsigned long long id) {
    std::lock_guard<std::mutex> lock(mutex);
    shared = shared || !lent.insert(id).second;
    seen.insert(id);
  }
  void give(unsigned long long id) {
    std::lock_guard<std::mutex> lock(mutex);
    lent.erase(id);
  }
  std::vector<unsigned long long> all() {
    std::lock_guard<std::mutex> lock(mutex);
    return {seen.begin(), seen.end()};
  }
};

// One thread's random work: units (each applied once, or reported unknown)
// and reads, streams dropped early and transactions abandoned.
void randomWork(Pool& pool, Leases& leases, int thread, std::vector<std::string>& unknown, std::atomic<int>& finished) {
  std::mt19937 random(static_cast<unsigned>(thread));
  for (int k = 0; k < 60; ++k, ++finished) {
    const std::string unit = std::to_string(thread) + "-" + std::to_string(k);
    try {
      Lease lease = pool.acquire(60s);
      // Given up before the lease goes back, whatever happens.
      struct Taken {
        Leases& leases;
        unsigned long long id;
        ~Taken() { leases.give(id); }
      } taken{leases, idOf(*lease)};
      leases.take(taken.id);
      switch (random() % 4) {
        case 0: lease->transact([&](Session& s) { s.execute("INSERT INTO vs_units VALUES (?)", unit); }); break;
        case 1: lease->value<int>("SELECT COUNT(*) FROM vs_units"); break;
        case 2: for (const Row& r : lease->stream("SELECT seq FROM seq_1_to_5000")) if (r.get<int>(0) > 10) break; break;
        default: {
          Transaction tx(*lease);
          lease->execute("INSERT INTO vs_units VALUES ('abandoned')");
        }
      }
    } catch (const UnknownOutcome&) {
      unknown.push_back(unit);  // its COMMIT was lost: applied or not
    } catch (const SqlError& e) {
      // A connection killed under a read: reported, and the next lease goes on.
      if (e.number() < 2000 && e.number() != kConnectionKilled) ADD_FAILURE() << unit << ": " << e.what();
    }
  }
}

TEST(SessionPool, SixteenThreadsOnFourConnectionsWithKills) {
  SideConnection side;
  side.exec("CREATE OR REPLACE TABLE vs_units (unit VARCHAR(20)) ENGINE=InnoDB");
  Leases leases;
  std::vector<std::vector<std::string>> unknown(16);
  std::atomic<int> finished{0};
  {
    Pool pool(testSettings(), 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
      threads.emplace_back(randomWork, std::ref(pool), std::ref(leases), t, std::ref(unknown[t]), std::ref(finished));
    // Mid-run, the pool's connections are killed from another session (the
    // shared server is not restarted): each is replaced.
    for (const int after : {150, 400, 650}) {
      while (finished.load() < after) std::this_thread::sleep_for(1ms);
      for (unsigned long long id : leases.all()) {
        const std::string kill = "KILL " + std::to_string(id);
        db::query(side.handle(), kill.data(), kill.size());  // one already gone: refused, no matter
      }
    }
    for (std::thread& t : threads) t.join();
    const PoolStats st = pool.stats();
    EXPECT_EQ(st.inUse, 0u);
    EXPECT_LE(st.open, 4u);
    EXPECT_FALSE(leases.shared) << "a connection lent to two leases at once";
    EXPECT_GT(leases.all().size(), 4u) << "connections killed mid-run were replaced by new ones";
  }
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vs_units WHERE unit = 'abandoned'"), "0");
  // Each unit once, or reported unknown (then at most once).
  for (const auto& row : side.rows("SELECT unit, COUNT(*) FROM vs_units GROUP BY unit HAVING COUNT(*) > 1"))
    ADD_FAILURE() << row[0] << " applied " << row[1] << " times";
  // Nothing left open: the pool's connections are gone from the server.
  std::string ids;
  for (unsigned long long id : leases.all()) ids += (ids.empty() ? "" : ",") + std::to_string(id);
  std::string left = "1";
  for (int wait = 0; wait < 100 && left != "0"; ++wait) {
    left = side.scalar("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID IN (" + ids + ")");
    if (left != "0") std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(left, "0");
  side.exec("DROP TABLE vs_units");
}

}  // namespace
}  // namespace veltro
