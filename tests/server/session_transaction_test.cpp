// Transaction and Session::transact on the client-server connection: commit,
// rollback and abandonment, forced deadlocks between two sessions, and a
// connection killed before COMMIT.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "server_support.h"
#include "session_roundtrip.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using roundtrip::testSettings;
using testing::SideConnection;

unsigned numberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const SqlError& e) {
    return e.number();
  }
  return 0;
}

TEST(SessionTransaction, CommitRollbackAndAbandon) {
  Session s = Session::open(testSettings());
  s.execute("CREATE OR REPLACE TABLE vs_tx (id INT PRIMARY KEY)");
  struct Case {
    const char* what;
    std::function<void(Session&)> run;
  };
  const Case cases[] = {
      {"committed", [](Session& db) { Transaction tx(db); db.execute("INSERT INTO vs_tx VALUES (1)"); tx.commit(); }},
      {"rolled back", [](Session& db) { Transaction tx(db); db.execute("INSERT INTO vs_tx VALUES (2)"); tx.rollback(); }},
      {"destroyed", [](Session& db) { Transaction tx(db); db.execute("INSERT INTO vs_tx VALUES (3)"); }},
      {"abandoned by an exception",
       [](Session& db) {
         try {
           Transaction tx(db);
           db.execute("INSERT INTO vs_tx VALUES (4)");
           throw std::runtime_error("the caller's own failure");
         } catch (const std::runtime_error&) {
         }
       }},
      {"ended with a stream of it still open",
       [](Session& db) {
         std::optional<Stream> rows;  // outlives the transaction: dropped by its rollback
         Transaction tx(db);
         db.execute("INSERT INTO vs_tx VALUES (5)");
         rows.emplace(db.stream("SELECT seq FROM seq_1_to_1000"));
         rows->begin();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.run(s);
    EXPECT_EQ(s.value<int>("SELECT @@in_transaction"), 0);
  }
  EXPECT_EQ(s.value<std::string>("SELECT GROUP_CONCAT(id) FROM vs_tx"), "1");
  // Misuse is refused before anything is sent.
  {
    Transaction tx(s);
    EXPECT_EQ(numberOf([&] { Transaction inner(s); }), unsigned{kErrNestedTransaction});
    EXPECT_EQ(numberOf([&] { s.transact([](Session&) {}); }), unsigned{kErrNestedTransaction});
    tx.commit();
    EXPECT_EQ(numberOf([&] { tx.commit(); }), unsigned{kErrTransactionEnded});
    EXPECT_EQ(numberOf([&] { tx.rollback(); }), unsigned{kErrTransactionEnded});
  }
  // transact gives back what its work returns; the work's own exception rolls back.
  EXPECT_EQ(s.transact([](Session& db) { return db.execute("INSERT INTO vs_tx VALUES (6)").affected; }), 1u);
  EXPECT_THROW(s.transact([](Session& db) {
    db.execute("INSERT INTO vs_tx VALUES (7)");
    throw std::logic_error("no");
  }),
               std::logic_error);
  EXPECT_EQ(numberOf([&] { s.transact([](Session& db) { db.execute("INSERT INTO vs_tx VALUES (1)"); }); }), 1062u);
  EXPECT_EQ(s.value<std::string>("SELECT GROUP_CONCAT(id ORDER BY id) FROM vs_tx"), "1,6");
  s.execute("DROP TABLE vs_tx");
}

TEST(SessionTransaction, TransactUnderForcedDeadlocks) {
  // Two sessions take two rows' locks in opposite orders, meeting in the
  // middle on each unit's first run: one of each pair is the deadlock's
  // victim, rolled back and run again. Each unit is applied once.
  SideConnection side;
  side.exec("CREATE OR REPLACE TABLE vs_locks (id INT PRIMARY KEY, n INT) ENGINE=InnoDB");
  side.exec("INSERT INTO vs_locks VALUES (1, 0), (2, 0)");
  side.exec("CREATE OR REPLACE TABLE vs_units (unit VARCHAR(20)) ENGINE=InnoDB");
  constexpr int kUnits = 5;
  std::atomic<int> arrived{0}, done{0}, runs{0};
  auto worker = [&](int first, int second, const std::string& name) {
    Session s = Session::open(testSettings());
    for (int u = 0; u < kUnits; ++u) {
      // Both start a unit once both have finished the one before.
      while (done.load() < 2 * u) std::this_thread::yield();
      int attempt = 0;
      s.transact([&](Session& db) {
        ++runs;
        db.execute("UPDATE vs_locks SET n = n + 1 WHERE id = ?", first);
        if (attempt++ == 0) {
          // Both hold their first row before either asks for its second.
          const int target = 2 * (u + 1);
          ++arrived;
          while (arrived.load() < target) std::this_thread::yield();
        }
        db.execute("UPDATE vs_locks SET n = n + 1 WHERE id = ?", second);
        db.execute("INSERT INTO vs_units VALUES (?)", name + std::to_string(u));
      }, 10);
      ++done;
    }
  };
  std::thread a(worker, 1, 2, "a"), b(worker, 2, 1, "b");
  a.join();
  b.join();
  EXPECT_GE(runs.load(), 2 * kUnits + kUnits) << "each pair of units met a deadlock";
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vs_units"), std::to_string(2 * kUnits));
  EXPECT_EQ(side.scalar("SELECT COUNT(DISTINCT unit) FROM vs_units"), std::to_string(2 * kUnits));
  EXPECT_EQ(side.scalar("SELECT GROUP_CONCAT(n) FROM vs_locks"), std::to_string(2 * kUnits) + "," +
                                                                    std::to_string(2 * kUnits));
  side.exec("DROP TABLE vs_locks");
  side.exec("DROP TABLE vs_units");
}

TEST(SessionTransaction, ConnectionKilledBeforeCommit) {
  // The unit's connection is killed after its INSERT: the transaction went
  // with it, so the unit runs again on a new connection, and is applied once.
  SideConnection side;
  side.exec("CREATE OR REPLACE TABLE vs_units (unit VARCHAR(20)) ENGINE=InnoDB");
  Session s = Session::open(testSettings());
  int runs = 0;
  s.transact([&](Session& db) {
    db.execute("INSERT INTO vs_units VALUES ('once')");
    if (runs++ == 0) {
      side.exec("KILL " + std::to_string(db.value<unsigned long long>("SELECT CONNECTION_ID()")));
      db.execute("DO 1");
    }
  });
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vs_units"), "1");
  side.exec("DROP TABLE vs_units");
}

}  // namespace
}  // namespace veltro
