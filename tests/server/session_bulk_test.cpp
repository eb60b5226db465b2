// executeMany on the client-server connection, by array binding and by
// multi-row statements: every column type, NULLs, a failing row with and
// without a transaction, and more rows than one packet carries.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "server_support.h"
#include "session_impl.h"
#include "session_roundtrip.h"
#include "veltro/session.h"

namespace veltro {
namespace {

using roundtrip::testSettings;

// The two ways rows go: array binding (this server is MariaDB), and the
// multi-row statements used where it is not there.
struct Way {
  const char* name;
  bool textOnly;
};
constexpr Way kWays[] = {{"array binding", false}, {"multi-row statements", true}};

// Sets the hooks for one way while it lives.
struct UseWay {
  UseWay(const Way& w, std::size_t batchBytes = 0) { detail::bulkHooks = {w.textOnly, batchBytes}; }
  ~UseWay() { detail::bulkHooks = {}; }
};

TEST(SessionBulk, EveryColumnTypeBothWays) {
  Session s = Session::open(testSettings());
  s.execute("SET time_zone = '+00:00'");
  for (const Way& way : kWays) {
    UseWay use(way);
    for (const roundtrip::Case& c : roundtrip::cases()) {
      SCOPED_TRACE(std::string(way.name) + ": " + c.column);
      s.execute("CREATE OR REPLACE TABLE vs_bulk_types (id INT PRIMARY KEY, v " + c.column + ")");
      c.many(s, "vs_bulk_types");
    }
  }
  s.execute("DROP TABLE vs_bulk_types");
}

struct Person {
  int id;
  std::string name;
  std::optional<double> score;
};

TEST(SessionBulk, NullsShapesAndOtherStatements) {
  Session s = Session::open(testSettings());
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.name);
    UseWay use(way);
    s.execute("CREATE OR REPLACE TABLE vs_bulk (id INT PRIMARY KEY, name VARCHAR(20), score DOUBLE)");
    Statement insert = s.prepare("INSERT INTO vs_bulk (id, name, score) VALUES (?, ?, ?)");
    // NULL in any cell, a column NULL throughout, and rows as tuples, pairs, arrays and a mapped struct.
    using Cells = std::tuple<int, std::optional<std::string>, std::optional<double>>;
    const std::vector<Cells> tuples = {{1, std::nullopt, 1.5}, {2, "b", std::nullopt}, {3, std::nullopt, std::nullopt}};
    EXPECT_EQ(insert.executeMany(tuples).affected, 3u);
    const std::vector<Person> people = {{4, "d'Arcy", 4.0}, {5, "", std::nullopt}};
    EXPECT_EQ(insert.executeMany(people, [](const Person& p) { return std::tie(p.id, p.name, p.score); }).affected, 2u);
    Statement named = s.prepare("INSERT INTO vs_bulk (id, name) VALUES (?, ?)");
    EXPECT_EQ(named.executeMany(std::vector<std::pair<int, const char*>>{{6, "f"}, {7, nullptr}}).affected, 2u);
    EXPECT_EQ(named.executeMany(std::vector<std::array<int, 2>>{}).affected, 0u);
    EXPECT_EQ(s.value<std::string>("SELECT GROUP_CONCAT(id, ':', IFNULL(name, '-'), ':', IFNULL(score, '-') ORDER BY id) "
                                   "FROM vs_bulk"),
              "1:-:1.5,2:b:-,3:-:-,4:d'Arcy:4,5::-,6:f:-,7:-:-");
    // A statement that is no INSERT ... VALUES runs a row at a time where there is no array binding.
    Statement update = s.prepare("UPDATE vs_bulk SET score = ? WHERE id = ?");
    EXPECT_EQ(update.executeMany(std::vector<std::tuple<double, int>>{{10, 1}, {20, 2}, {30, 99}}).affected, 2u);
    EXPECT_EQ(s.value<double>("SELECT SUM(score) FROM vs_bulk"), 34.0);
    // Rows of another width than the placeholders: nothing sent.
    try {
      insert.executeMany(std::vector<std::tuple<int, int>>{{8, 8}});
      ADD_FAILURE() << "rows of two values for three placeholders";
    } catch (const SqlError& e) {
      EXPECT_EQ(e.number(), unsigned{kErrPlaceholders});
    }
  }
  s.execute("DROP TABLE vs_bulk");
}

TEST(SessionBulk, AFailingRowInTheMiddle) {
  // Row 57 repeats the key of row 10; batches of about 20 rows, so the
  // batches before its own are applied outside a transaction.
  std::vector<std::tuple<int, std::string>> rows;
  for (int i = 0; i < 100; ++i) rows.emplace_back(i == 57 ? 10 : i, "row " + std::to_string(i));
  Session s = Session::open(testSettings());
  for (const Way& way : kWays) {
    for (const bool inTransaction : {false, true}) {
      SCOPED_TRACE(std::string(way.name) + (inTransaction ? ", in a transaction" : ", alone"));
      UseWay use(way, 400);
      s.execute("CREATE OR REPLACE TABLE vs_bulk (id INT PRIMARY KEY, name VARCHAR(20))");
      std::optional<Transaction> tx;
      if (inTransaction) {
        tx.emplace(s);
        s.execute("INSERT INTO vs_bulk VALUES (-1, 'before')");
      }
      Statement insert = s.prepare("INSERT INTO vs_bulk VALUES (?, ?)");
      try {
        insert.executeMany(rows);
        ADD_FAILURE() << "a duplicate key went in";
      } catch (const BulkError& e) {
        EXPECT_EQ(e.number(), 1062u);
        EXPECT_EQ(e.row(), 57u);
        EXPECT_GT(e.row(), e.applied());
        const std::size_t applied = inTransaction ? 0 : e.applied();
        EXPECT_EQ(e.applied(), applied);
        if (!inTransaction) {
          EXPECT_GT(e.applied(), 20u) << "the batches before the failing one";
        }
        EXPECT_EQ(s.value<std::size_t>("SELECT COUNT(*) FROM vs_bulk WHERE id >= 0"), applied);
        EXPECT_EQ(s.value<std::size_t>("SELECT COUNT(*) FROM vs_bulk WHERE id < 0"), inTransaction ? 1u : 0u);
      }
      if (tx) tx->commit();  // the transaction goes on after the failed call
      EXPECT_EQ(s.value<std::size_t>("SELECT COUNT(*) FROM vs_bulk WHERE id < 0"), inTransaction ? 1u : 0u);
    }
  }
  s.execute("DROP TABLE vs_bulk");
}

TEST(SessionBulk, MoreRowsThanOnePacketCarries) {
  Session s = Session::open(testSettings());
  const auto packet = s.value<std::size_t>("SELECT @@max_allowed_packet");
  const std::size_t rowBytes = 512 * 1024;
  const std::size_t n = packet / rowBytes + packet / rowBytes / 10 + 2;  // 10% beyond one packet
  std::vector<std::tuple<int, std::string>> rows;
  for (std::size_t i = 0; i < n; ++i) rows.emplace_back(static_cast<int>(i), std::string(rowBytes, 'a' + i % 26));
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.name);
    UseWay use(way);
    s.execute("CREATE OR REPLACE TABLE vs_bulk_big (id INT PRIMARY KEY, v LONGTEXT CHARACTER SET latin1)");
    Statement insert = s.prepare("INSERT INTO vs_bulk_big VALUES (?, ?)");
    EXPECT_EQ(insert.executeMany(rows).affected, n);
    EXPECT_EQ(s.value<std::size_t>("SELECT COUNT(*) FROM vs_bulk_big WHERE LENGTH(v) = ?", rowBytes), n);
    EXPECT_EQ(s.value<std::string>("SELECT LEFT(v, 1) FROM vs_bulk_big WHERE id = 27"), "b");
  }
  s.execute("DROP TABLE vs_bulk_big");
}

}  // namespace
}  // namespace veltro
