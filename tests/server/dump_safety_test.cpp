// Dumps against the moment they read and the input they meet: one snapshot
// (or one lock) for every table whatever the session's isolation, the
// caller's transaction left alone; hostile names and crafted dumps cannot run
// statements of their own; rows loaded before an unwinding report stay.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "dump_fixture.h"
#include "server_support.h"
#include "veltro/error.h"
#include "veltro/query.h"

namespace veltro {
namespace {

using testing::DumpRoundTrip;
using testing::kDb;
using testing::serverEnv;
using testing::SideConnection;
namespace fs = std::filesystem;

TEST_F(DumpRoundTrip, OneSnapshotWhateverTheIsolation) {
  side.exec("CREATE TABLE vtb_rt.acc_a (id int PRIMARY KEY, amount int) ENGINE=InnoDB");
  side.exec("CREATE TABLE vtb_rt.acc_b (id int PRIMARY KEY, amount int) ENGINE=InnoDB");
  side.exec("INSERT INTO vtb_rt.acc_a VALUES (1, 100)");
  side.exec("INSERT INTO vtb_rt.acc_b VALUES (1, 0)");
  ASSERT_TRUE(server->SqlQuery("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED"));
  SideConnection mover(kDb);
  server->bOnBackUp = Value(Callable([&](Args a) -> Value {
    // Before the second table: another client moves 40 from a to b and commits.
    if (a[0].asInt() == 2 && a[3].asInt() == 2) {
      mover.exec("START TRANSACTION");
      mover.exec("UPDATE acc_a SET amount = amount - 40");
      mover.exec("UPDATE acc_b SET amount = amount + 40");
      mover.exec("COMMIT");
    }
    return {};
  }));
  EXPECT_FALSE(server->Backup(Value::array({"acc_a", "acc_b"}), dir + "/snap.sql", true, true));
  server->bOnBackUp = Value();
  EXPECT_TRUE(server->Restore(dir + "/snap.sql"));
  EXPECT_EQ(side.scalar("SELECT (SELECT SUM(amount) FROM vtb_rt.acc_a) + (SELECT SUM(amount) FROM vtb_rt.acc_b)"),
            "100");
  EXPECT_EQ(side.scalar("SELECT amount FROM vtb_rt.acc_a"), "100");  // the moment before the move
  QueryPtr q = server->Query("SELECT @@tx_isolation");
  EXPECT_EQ(std::string(trimRight(q->FieldGet(1).asString())), "READ-COMMITTED");
  q->End();
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
}

// Tables that keep no transactions are read under a read lock for the whole
// dump: a transfer between two Aria tables waits until the dump is read.
TEST_F(DumpRoundTrip, OneMomentForTablesWithoutTransactions) {
  side.exec("CREATE TABLE vtb_rt.aria_a (id int PRIMARY KEY, amount int) ENGINE=Aria");
  side.exec("CREATE TABLE vtb_rt.aria_b (id int PRIMARY KEY, amount int) ENGINE=Aria");
  side.exec("INSERT INTO vtb_rt.aria_a VALUES (1, 100)");
  side.exec("INSERT INTO vtb_rt.aria_b VALUES (1, 0)");
  std::thread mover;
  server->bOnBackUp = Value(Callable([&](Args a) -> Value {
    // Before the second table another client moves 40 from a to b.
    if (a[0].asInt() == 2 && a[3].asInt() == 2 && !mover.joinable())
      mover = std::thread([] {
        SideConnection c(kDb);
        c.exec("UPDATE aria_a SET amount = amount - 40");
        c.exec("UPDATE aria_b SET amount = amount + 40");
      });
    return {};
  }));
  EXPECT_FALSE(server->Backup(Value::array({"aria_a", "aria_b"}), dir + "/aria.sql", true, true));
  server->bOnBackUp = Value();
  ASSERT_TRUE(mover.joinable());
  mover.join();
  EXPECT_EQ(side.scalar("SELECT amount FROM vtb_rt.aria_a"), "60");  // the move happened, after the dump
  EXPECT_TRUE(server->Restore(dir + "/aria.sql"));
  EXPECT_EQ(side.scalar("SELECT (SELECT SUM(amount) FROM vtb_rt.aria_a) + (SELECT SUM(amount) FROM vtb_rt.aria_b)"),
            "100");
  EXPECT_EQ(side.scalar("SELECT amount FROM vtb_rt.aria_a"), "100");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
}

// A transaction of the caller's is left as it was: Backup refuses to run in
// it (its pending change is neither committed nor dumped).
TEST_F(DumpRoundTrip, TheCallersTransactionIsLeftAlone) {
  side.exec("CREATE TABLE vtb_rt.tx (id int PRIMARY KEY) ENGINE=InnoDB");
  const std::string file = dir + "/tx.sql";
  const std::vector<std::vector<std::string>> opens = {{"SET autocommit = 0", "INSERT INTO tx VALUES (1)"},
                                                       {"BEGIN", "INSERT INTO tx VALUES (2)"}};
  for (const auto& open : opens) {
    SCOPED_TRACE(open.front());
    for (const std::string& sql : open) ASSERT_TRUE(server->SqlQuery(sql));
    rec.calls->clear();
    EXPECT_FALSE(server->Backup(Value::array({"tx"}), file, true, true));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrTransactionOpen});
    EXPECT_FALSE(std::filesystem::exists(file));
    ASSERT_TRUE(server->SqlQuery("ROLLBACK"));
    ASSERT_TRUE(server->SqlQuery("SET autocommit = 1"));
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.tx"), "0");  // the pending change is undone
  }
  rec.calls->clear();
  EXPECT_FALSE(server->Backup(Value::array({"tx"}), file, true, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
}

// A backup that cannot read every table of its list keeps the old dump and fails.
TEST_F(DumpRoundTrip, MissingTableKeepsTheOldDump) {
  side.exec("CREATE TABLE vtb_rt.here (id int)");
  const std::string file = dir + "/keep.sql";
  testing::writeAll(file, "a good dump");
  EXPECT_FALSE(server->Backup(Value::array({"here", "gone"}), file, true, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1146});
  EXPECT_EQ(testing::readAll(file), "a good dump");
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"keep.sql"});
}

// Names chosen by someone with CREATE: quoted in the dump, or, holding a line
// break, refused with the whole backup.
TEST_F(DumpRoundTrip, HostileNamesFromTheServer) {
  side.exec(
      "CREATE TABLE vtb_rt.`a int) select user as stolen from mysql.user #` (`a int) select user as stolen "
      "from mysql.user #` int, `x``y` int)");
  side.exec("INSERT INTO vtb_rt.`a int) select user as stolen from mysql.user #` VALUES (1, 2)");
  roundTrip({"a int) select user as stolen from mysql.user #"});
  EXPECT_EQ(side.rows("SHOW TABLES FROM vtb_rt LIKE 'stolen'").size(), 0u);

  // Backslashes, quotes and backquotes in names of tables and columns, and
  // characters of several bytes: every row comes back.
  side.exec("CREATE TABLE vtb_rt.`a\\` (`b\\` int, `c'd` varchar(9), `e``f\\` int, `\xc3\xa9\\` varchar(9))");
  side.exec("INSERT INTO vtb_rt.`a\\` VALUES (1, 'x\\\\', 2, 'y'), (3, '\\'', 4, '\xc3\xa9')");
  side.exec("CREATE TABLE vtb_rt.`\xe8\xa1\xa8\\'` (`\\` int)");
  side.exec("INSERT INTO vtb_rt.`\xe8\xa1\xa8\\'` VALUES (5)");
  roundTrip({"a\\", "\xe8\xa1\xa8\\'"});

  const std::string file = dir + "/breaks.sql";
  testing::writeAll(file, "a good dump");
  side.exec("CREATE TABLE vtb_rt.`t\r\nDROP TABLE canary` (id int)");
  side.exec("CREATE TABLE vtb_rt.colbreak (`a\r\nDROP TABLE canary` int)");
  for (const char* table : {"`t\r\nDROP TABLE canary`", "colbreak"}) {
    rec.calls->clear();
    EXPECT_FALSE(server->Backup(Value::array({"canary", table}), file, true, true));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNotAName}) << table;
    EXPECT_EQ(testing::readAll(file), "a good dump");
  }
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
}

// A crafted dump: statements of other forms, or naming another table than
// their block's, are reported and skipped.
TEST_F(DumpRoundTrip, RestoreSendsOnlyTheDumpsOwnForms) {
  side.exec("CREATE TABLE vtb_rt.t (id int)");
  const std::string file = dir + "/crafted.sql";
  testing::writeAll(file,
                    "-- ** BEGIN t\r\n"
                    "DROP TABLE IF EXISTS canary;\r\n"
                    "CREATE TABLE stolen SELECT User, Host, authentication_string FROM mysql.user;\r\n"
                    "INSERT INTO `t` (`id`) VALUES (1);\r\n"
                    "INSERT INTO `t` (`id`) VALUES (2); DROP TABLE canary;\r\n"
                    "INSERT INTO `t` (`id`) SELECT 3;\r\n"
                    "GRANT ALL ON *.* TO 'x'@'%';\r\n"
                    "-- ** END t\r\n");
  // A dump without a closing line (as written before dumps had one): loaded, with that said too.
  EXPECT_TRUE(server->Restore(file));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrDumpStatement, kErrDumpStatement, kErrDumpStatement,
                                                   kErrDumpStatement, kErrDumpStatement, kErrDumpIncomplete}));
  EXPECT_EQ(side.rows("SELECT id FROM vtb_rt.t"), (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
  EXPECT_EQ(side.rows("SHOW TABLES FROM vtb_rt LIKE 'stolen'").size(), 0u);
}

// A trigger's body is sent as one statement: what follows a ";" outside a
// compound statement is no statement of its own, and a body left open at
// the dump's end is never sent.
TEST_F(DumpRoundTrip, CraftedTriggersRunNothingElse) {
  side.exec("CREATE TABLE vtb_rt.t (id int)");
  const std::string file = dir + "/crafted.sql";
  testing::writeAll(file,
                    "-- ** BEGIN t\r\n"
                    "DELIMITER ;;\r\n"
                    "CREATE TRIGGER `tr` BEFORE INSERT ON `t` FOR EACH ROW SET NEW.id = 1; DROP TABLE canary;;\r\n"
                    "DELIMITER ;\r\n"
                    "DELIMITER ;;\r\n"
                    "CREATE TRIGGER `tr2` BEFORE INSERT ON `canary` FOR EACH ROW SET NEW.id = 2;;\r\n"
                    "DELIMITER ;\r\n"
                    "DELIMITER ;;\r\n"
                    "CREATE TRIGGER `tr3` BEFORE INSERT ON `t` FOR EACH ROW SET NEW.id = 3;;\r\n"
                    "DELIMITER ;\r\n"
                    "-- ** END t\r\n"
                    "DELIMITER ;;\r\n"
                    "CREATE TRIGGER `tr4` BEFORE UPDATE ON `t` FOR EACH ROW SET NEW.id = 4;;\r\n");
  // No closing line, as in dumps written before there was one: loaded, and that said.
  EXPECT_TRUE(server->Restore(file));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{1064, kErrDumpStatement, kErrDumpIncomplete}));
  EXPECT_EQ(side.rows("SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = 'vtb_rt'"),
            (std::vector<std::vector<std::string>>{{"tr3"}}));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
}

// A report that unwinds to a guarded block mid-way leaves the rows loaded so
// far committed and the session's autocommit as it was.
TEST_F(DumpRoundTrip, RowsLoadedBeforeAnUnwindingReportStay) {
  side.exec("CREATE TABLE vtb_rt.t (id int PRIMARY KEY)");
  const std::string file = dir + "/unwind.sql";
  testing::writeAll(file,
                    "-- ** BEGIN t\r\n"
                    "INSERT INTO `t` (`id`) VALUES (1),(2);\r\n"
                    "GRANT ALL ON *.* TO 'x'@'%';\r\n"
                    "INSERT INTO `t` (`id`) VALUES (3);\r\n");
  server->bOnError = Value();
  ErrorPtr err = guarded([&] { server->Restore(file); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), kErrDumpStatement);
  server->bOnError = rec.block();
  EXPECT_EQ(side.rows("SELECT id FROM vtb_rt.t"), (std::vector<std::vector<std::string>>{{"1"}, {"2"}}));
  EXPECT_EQ(testing::ask(server, "SELECT @@autocommit"), "1");
  // A statement of the caller's commits at once, as before the restore.
  EXPECT_TRUE(server->SqlQuery("INSERT INTO vtb_rt.t VALUES (4)"));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.t WHERE id = 4"), "1");
}

// The stock client loads a dump as it is, with the same checksums.
TEST_F(DumpRoundTrip, StockClientLoadsTheDump) {
  side.exec("CREATE TABLE vtb_rt.s (id int AUTO_INCREMENT PRIMARY KEY, t text, b blob, g int AS (id * 2) VIRTUAL)");
  SideConnection db(kDb);
  db.exec("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO'");
  db.exec("INSERT INTO s (id, t, b) VALUES (0, 'zero', NULL), (1, 'it''s\\r\\n\\\\', 0x00FF27), (2, '', '')");
  const auto before = contents("s");
  const std::string file = dir + "/stock.sql";
  EXPECT_FALSE(server->Backup(Value::array({"s"}), file, true, true));
  side.exec("DROP TABLE vtb_rt.s");
  stockLoad(file);
  EXPECT_EQ(contents("s"), before);
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
}

}  // namespace
}  // namespace veltro
