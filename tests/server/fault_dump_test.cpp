// Dumps against faults of the real throwaway server and the file system: a
// backup that cannot be written whole leaves the old dump, a damaged or cut
// dump restores everything else and says what it could not, and a restore
// whose connection is lost stops and says so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fault_fixture.h"
#include "server_support.h"
#include "veltro/query.h"

namespace veltro {
namespace {

using testing::Fault;
using testing::readAll;
using testing::Recorder;
using testing::scalar;
using testing::serverCommand;
using testing::SideConnection;
using testing::writeAll;
namespace fs = std::filesystem;

// Dumps that cannot be written: a target that is a directory, a folder that
// does not exist, a read-only file system, a file system without room, and a
// connection lost half-way. Each is reported and leaves the old dump as it was.
TEST_F(Fault, FailedBackupsLeaveTheOldDump) {
  VELTRO_SKIP_ON_CLUSTER(
      "it stops and starts the server through scripts/testserver.sh; losing nodes is the cluster tests' own");
  side->exec("CREATE TABLE vtb_fault.a (id int PRIMARY KEY, note text)");
  side->exec("INSERT INTO vtb_fault.a SELECT seq, REPEAT('x', 200) FROM seq_1_to_2000");
  side->exec("CREATE TABLE vtb_fault.b (id int PRIMARY KEY)");
  side->exec("INSERT INTO vtb_fault.b SELECT seq FROM seq_1_to_10");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  const std::string good = "-- a good dump\r\n";
  auto noTemporaries = [](const std::string& folder, std::size_t expected) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
    EXPECT_EQ(n, expected) << "files left in " << folder;
  };

  // A target that is a directory holding the old dump.
  fs::create_directory(dir + "/target.sql");
  writeAll(dir + "/target.sql/keep", good);
  EXPECT_FALSE(s->Backup(Value::array({"a"}), dir + "/target.sql", false, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
  EXPECT_TRUE(readAll(dir + "/target.sql/keep") == good) << "the old dump was changed";

  // A folder that does not exist.
  rec.calls->clear();
  EXPECT_FALSE(s->Backup(Value::array({"a"}), dir + "/none/dump.sql", false, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
  EXPECT_FALSE(fs::exists(dir + "/none"));

  // A small file system: read-only, then without room. Where mounting is not
  // allowed the size limit of the process stands in for the full disk.
  const std::string mnt = dir + "/mnt";
  fs::create_directory(mnt);
  const bool mounted = ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=256k") == 0;
  writeAll(mnt + "/dump.sql", good);
  if (mounted) {
    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    rec.calls->clear();
    EXPECT_FALSE(s->Backup(Value::array({"b"}), mnt + "/dump.sql", false, true));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
    EXPECT_TRUE(readAll(mnt + "/dump.sql") == good) << "the old dump was changed";
    ASSERT_EQ(::mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT, "size=256k"), 0);
  }
  rec.calls->clear();
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldSignal = signal(SIGXFSZ, SIG_IGN);
  if (!mounted) {
    rlimit small = old;
    small.rlim_cur = 256 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  EXPECT_FALSE(s->Backup(Value::array({"a"}), mnt + "/dump.sql", false, true));  // about 450 kB
  if (!mounted) setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
  EXPECT_TRUE(readAll(mnt + "/dump.sql") == good) << "the old dump was changed";
  noTemporaries(mnt, 1);
  if (mounted) ::umount(mnt.c_str());

  // The server crashes while the second table is read: the rows after the loss
  // are missing, so the incomplete dump must not replace the old one.
  rec.calls->clear();
  writeAll(dir + "/dump.sql", good);
  s->bOnBackUp = Value(Callable([](Args a) -> Value {
    if (a[0].asInt() == 2 && a[3].asInt() == 2) {
      EXPECT_TRUE(serverCommand("kill"));
      EXPECT_TRUE(serverCommand("resume"));
    }
    return {};
  }));
  EXPECT_FALSE(s->Backup(Value::array({"a", "b"}), dir + "/dump.sql", false, true));
  s->bOnBackUp = Value();
  ASSERT_FALSE(rec.calls->empty());
  // The loss itself is reported, and the backup fails whole.
  const long long lost = rec.calls->back().number;
  EXPECT_TRUE(lost == 2013 || lost == 2006 || lost == kErrDumpWrite) << lost;
  EXPECT_TRUE(readAll(dir + "/dump.sql") == good) << "the old dump was changed";
  noTemporaries(dir, 3);  // target.sql, mnt, dump.sql

  // And the same server object writes a whole dump afterwards.
  rec.calls->clear();
  EXPECT_FALSE(s->Backup(Value::array({"a", "b"}), dir + "/dump.sql", false, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  EXPECT_NE(readAll(dir + "/dump.sql").find("** END b"), std::string::npos);
}

// Dumps damaged on disk: a corrupted row group, a statement for another
// table than its block's, and a file cut in the middle of its last INSERT.
// Such lines are reported and skipped (9030); every other statement is
// restored, and nothing stays locked afterwards.
TEST_F(Fault, DamagedDumpsRestoreEverythingElse) {
  side->exec("CREATE TABLE vtb_fault.a (id int PRIMARY KEY, note varchar(20))");
  side->exec("INSERT INTO vtb_fault.a SELECT seq, CONCAT('a', seq) FROM seq_1_to_30");
  side->exec("CREATE TABLE vtb_fault.b (id int PRIMARY KEY, note varchar(20))");
  side->exec("INSERT INTO vtb_fault.b SELECT seq, CONCAT('b', seq) FROM seq_1_to_30");
  side->exec("CREATE TABLE vtb_fault.c (id int PRIMARY KEY, note varchar(20))");
  side->exec("INSERT INTO vtb_fault.c SELECT seq, CONCAT('c', seq) FROM seq_1_to_30");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  const std::string file = dir + "/dump.sql";
  ASSERT_FALSE(s->Backup(Value::array({"a", "b", "c"}), file, true, true, 10));
  ASSERT_TRUE(rec.calls->empty());
  const std::string dump = readAll(file);
  auto counts = [&] {
    SideConnection& c = freshSide();
    return std::vector<std::string>{c.scalar("SELECT COUNT(*) FROM a"), c.scalar("SELECT COUNT(*) FROM b"),
                                    c.scalar("SELECT COUNT(*) FROM c")};
  };

  // Table a's second batch line loses a quote; a line for a missing table is added.
  std::string damaged = dump;
  std::size_t at = damaged.find("(15,'a15')");
  ASSERT_NE(at, std::string::npos);
  damaged.erase(at + 4, 1);
  std::size_t endB = damaged.find("-- ** END b");
  damaged.insert(endB, "INSERT INTO missing (id) VALUES (1)\r\n");
  writeAll(file, damaged);
  // Altered: the closing line no longer matches, so the restore says it did not finish.
  EXPECT_FALSE(s->Restore(file));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrDumpStatement, kErrDumpStatement, kErrDumpIncomplete}));
  EXPECT_EQ(counts(), (std::vector<std::string>{"20", "30", "30"}));
  EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM a WHERE id BETWEEN 11 AND 20"), "0");

  // Cut in the middle of table c's last INSERT line.
  rec.calls->clear();
  std::size_t cut = dump.find("(25,'c25')");
  ASSERT_NE(cut, std::string::npos);
  writeAll(file, dump.substr(0, cut + 5));
  EXPECT_FALSE(s->Restore(file));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrDumpStatement, kErrDumpIncomplete}));
  EXPECT_EQ(counts(), (std::vector<std::string>{"30", "30", "20"}));
  // The LOCK TABLES of the cut table is not left behind on the connection.
  rec.calls->clear();
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM vtb_fault.b"), 30);
  EXPECT_TRUE(s->SqlQuery("INSERT INTO vtb_fault.b VALUES (100, 'after')"));
  EXPECT_TRUE(rec.calls->empty());

  // Garbage bytes, zero bytes and a file without CR LF: reported, nothing is sent and nothing breaks.
  rec.calls->clear();
  writeAll(file, std::string("\0\xff\xfe garbage\nINSERT", 17));
  EXPECT_TRUE(s->Restore(file));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrDumpStatement, kErrDumpIncomplete}));
  EXPECT_EQ(counts(), (std::vector<std::string>{"30", "31", "20"}));
}

// A dump cut at each point of a table's block: the restore says it did not
// finish (9033), and every table holds only rows the dump holds.
TEST_F(Fault, TruncatedDumpsAreReported) {
  for (const char* t : {"a", "b"}) {
    side->exec(std::string("CREATE TABLE vtb_fault.") + t + " (id int PRIMARY KEY, note varchar(20))");
    side->exec(std::string("INSERT INTO vtb_fault.") + t + " SELECT seq, CONCAT('" + t + "', seq) FROM seq_1_to_30");
  }
  side->exec(
      "CREATE TRIGGER vtb_fault.b_ins BEFORE INSERT ON vtb_fault.b FOR EACH ROW\nBEGIN\n"
      "  SET NEW.note = NEW.note;\nEND");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  const std::string file = dir + "/dump.sql";
  ASSERT_FALSE(s->Backup(Value::array({"a", "b"}), file, true, true, 10));
  const std::string dump = readAll(file);
  const std::size_t beginB = dump.find("-- ** BEGIN b\r\n");
  ASSERT_NE(beginB, std::string::npos);
  const std::size_t cuts[] = {
      beginB,                                                                // before the table
      beginB + std::string("-- ** BEGIN b\r\n").size(),                      // after its marker
      dump.find("\r\n", dump.find("DROP TABLE IF EXISTS `b`", beginB)) + 2,  // after its DROP
      dump.find("\r\n", dump.find("CREATE TABLE `b`", beginB)) + 2,          // after its CREATE
      dump.find("\r\n", dump.find("INSERT INTO `b`", beginB)) + 2,           // after its first INSERT
      dump.find("(15,'b15')"),                                               // inside an INSERT
      dump.find("  SET NEW.note", beginB),                                   // inside its trigger
      dump.find("\r\n", dump.find("DELIMITER ;\r\n", beginB)) + 2,           // after its trigger
      dump.find("-- ** Dump complete: "),                                    // before the closing line
  };
  for (std::size_t cut : cuts) {
    ASSERT_NE(cut, std::string::npos);
    SCOPED_TRACE(cut);
    writeAll(file, dump.substr(0, cut));
    rec.calls->clear();
    EXPECT_FALSE(s->Restore(file));
    ASSERT_FALSE(rec.calls->empty());
    EXPECT_EQ(rec.calls->back().number, kErrDumpIncomplete);
    // What is there is what the dump holds.
    for (const char* t : {"a", "b"}) {
      const auto rows = freshSide().rows(std::string("SELECT COUNT(*) FROM information_schema.tables WHERE "
                                                     "table_schema = 'vtb_fault' AND table_name = '") +
                                         t + "'");
      if (rows.at(0).at(0) == "0") continue;
      EXPECT_EQ(side->scalar(std::string("SELECT COUNT(*) FROM ") + t + " WHERE note <> CONCAT('" + t + "', id)"), "0");
    }
  }
  // The whole dump: every row, nothing reported.
  writeAll(file, dump);
  rec.calls->clear();
  EXPECT_TRUE(s->Restore(file));
  EXPECT_TRUE(rec.calls->empty());
  EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM b"), "30");
}

// A restore whose connection is killed, or whose server is killed, ends
// there, reported with the line it reached: it never reconnects, since the
// rest of the dump would load without its session's settings.
TEST_F(Fault, RestoreEndsWhenItsConnectionIsLost) {
  VELTRO_SKIP_ON_CLUSTER(
      "it stops and starts the server through scripts/testserver.sh; losing nodes is the cluster tests' own");
  side->exec("CREATE TABLE vtb_fault.z (id int AUTO_INCREMENT PRIMARY KEY, at timestamp NULL)");
  side->exec("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO', time_zone = '+00:00'");
  side->exec("INSERT INTO vtb_fault.z SELECT seq - 1, FROM_UNIXTIME(1000000000 + seq) FROM seq_1_to_40");
  side->exec("CREATE TABLE vtb_fault.y (id int PRIMARY KEY)");
  side->exec("INSERT INTO vtb_fault.y SELECT seq FROM seq_1_to_5");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  const std::string file = dir + "/dump.sql";
  ASSERT_FALSE(s->Backup(Value::array({"z", "y"}), file, true, true, 10));
  ASSERT_TRUE(rec.calls->empty());

  for (const char* what : {"connection", "server"}) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(serverCommand("resume"));
    freshSide().exec("DELETE FROM y WHERE id > 2");
    ServerPtr r = connect(rec.block());
    const long long id = scalar(r, "SELECT CONNECTION_ID()");
    long killedAt = 0;
    long seen = 0;
    // The line of z's second INSERT, where the connection goes.
    const std::string text = readAll(file);
    const std::size_t second = text.find("INSERT INTO `z`", text.find("INSERT INTO `z`") + 1);
    ASSERT_NE(second, std::string::npos);
    long secondLine = 1;
    for (std::size_t p = 0; p < second; p = text.find("\r\n", p) + 2) {
      if (text.find("\r\n", p) >= second) break;
      ++secondLine;
    }
    r->bOnRestore = Callable([&](Args a) -> Value {
      if (argAt(a, 0).asInt() == 3) seen = argAt(a, 3).asInt();
      if (argAt(a, 0).asInt() == 3 && seen == secondLine && killedAt == 0) {
        killedAt = seen;
        if (std::string(what) == "connection")
          freshSide().exec("KILL CONNECTION " + std::to_string(id));
        else
          serverCommand("kill");
      }
      return Value();
    });
    rec.calls->clear();
    EXPECT_FALSE(r->Restore(file));
    EXPECT_EQ(killedAt, secondLine);
    // It stopped at the line where the connection went: nothing after it was tried.
    EXPECT_EQ(seen, secondLine);
    ASSERT_FALSE(rec.calls->empty());
    EXPECT_EQ(rec.calls->back().number, kErrRestoreStopped);
    EXPECT_NE(rec.calls->back().extra.asString().find("line " + std::to_string(secondLine) + " of"), std::string::npos)
        << rec.calls->back().extra.asString();
    EXPECT_TRUE(r->lReConnect.asBool());  // the caller's setting is back
    ASSERT_TRUE(serverCommand("resume"));
    // No row holds a value the dump does not: keys and instants as they were, y untouched.
    SideConnection& c = freshSide();
    c.exec("SET SESSION time_zone = '+00:00'");
    EXPECT_EQ(c.scalar("SELECT COUNT(*) FROM z WHERE at <> FROM_UNIXTIME(1000000001 + id)"), "0");
    EXPECT_EQ(c.scalar("SELECT COUNT(*) FROM y"), "2");
  }
}

}  // namespace
}  // namespace veltro
