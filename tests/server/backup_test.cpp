// Backup and restore against the real server: the file form, a round trip
// that loses nothing, batches, callbacks, refusals, failed writes and cancel.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "dump_format.h"
#include "server_support.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;
namespace fs = std::filesystem;

using testing::readAll;
using testing::writeAll;

// Files of a directory, for "nothing left behind".
std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  return out;
}

// Every call of a progress callback, its arguments as text.
struct Calls {
  std::shared_ptr<std::vector<std::string>> seen = std::make_shared<std::vector<std::string>>();
  Value block() const {
    auto s = seen;
    return Value(Callable([s](Args a) -> Value {
      std::string line;
      for (const Value& v : a) line += (line.empty() ? "" : "|") + v.toString();
      s->push_back(line);
      return {};
    }));
  }
};

class Backup : public ::testing::Test {
 protected:
  void SetUp() override {
    side.exec("DROP DATABASE IF EXISTS vtb_dump");
    side.exec("CREATE DATABASE vtb_dump");
    server = testing::connectServer(rec.block(), "vtb_dump");
    ASSERT_FALSE(server->lError.asBool());
    dir = testing::makeTempDir("backup");
  }
  void TearDown() override {
    if (server) server->End();
    side.exec("DROP DATABASE IF EXISTS vtb_dump");
    fs::remove_all(dir);
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
  std::string dir;
};

TEST_F(Backup, FileOfTheExampleByteForByte) {
  side.exec("CREATE TABLE vtb_dump.clientes (id int NOT NULL, name varchar(30), PRIMARY KEY (id))");
  side.exec("INSERT INTO vtb_dump.clientes VALUES (1, 'Ana'), (2, 'Luis')");
  const std::string file = dir + "/dump.sql";
  Value tables = Value::array({"Clientes"});
  EXPECT_FALSE(server->Backup(tables, file));
  EXPECT_TRUE(rec.calls->empty());
  EXPECT_EQ(tables.at(1).asString(), "clientes");  // the normalised name is written back

  std::string text = readAll(file);
  std::string session, sessionEnd;
  for (std::string_view line : {"SET @veltro_client = @@character_set_client, @veltro_results = "
                                "@@character_set_results, @veltro_collation = @@collation_connection, "
                                "@veltro_time_zone = @@time_zone, @veltro_sql_mode = @@sql_mode, "
                                "@veltro_unique_checks = @@unique_checks, @veltro_foreign_key_checks = "
                                "@@foreign_key_checks;",
                                "SET NAMES binary;", "SET time_zone = '+00:00';",
                                "SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO';",
                                "SET unique_checks = 0, foreign_key_checks = 0;"})
    session += std::string(line) + "\r\n";
  for (std::string_view line : {"SET unique_checks = @veltro_unique_checks, foreign_key_checks = "
                                "@veltro_foreign_key_checks, sql_mode = @veltro_sql_mode, time_zone = "
                                "@veltro_time_zone;",
                                "SET character_set_client = @veltro_client, character_set_results = "
                                "@veltro_results, collation_connection = @veltro_collation;"})
    sessionEnd += std::string(line) + "\r\n";
  // Markers are comments, names backquoted, statements end with ";": the stock client loads it.
  const std::string expected =
      "-- CLASS TQuillon, for [x]Pelagon\r\n"
      "---------------------------------\r\n"
      "\r\n"
      "-- ** This dump ends with a closing line\r\n"
      "-- ** Table: Clientes\r\n"
      "\r\n"
      "\r\n" +
      session +
      "\r\n"
      "-- ** BEGIN clientes\r\n"
      "\r\n"
      "\r\n"
      "--\r\n"
      "-- Dumping data for table clientes\r\n"
      "--\r\n"
      "\r\n"
      "\r\n"
      "LOCK TABLES `clientes` WRITE;\r\n"
      "INSERT INTO `clientes` (`id`,`name`) VALUES (1,'Ana'),(2,'Luis');\r\n"
      "\r\n"
      "UNLOCK TABLES;\r\n"
      "\r\n"
      "-- ** END clientes\r\n"
      "\r\n"
      "\r\n" +
      sessionEnd + "\r\n";
  ASSERT_GE(text.size(), expected.size());
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  std::string footer = text.substr(expected.size());
  // The closing line: the tables and the digest of every byte before it.
  EXPECT_TRUE(std::regex_match(footer.substr(0, footer.find('\n') + 1),
                               std::regex("-- \\*\\* Dump complete: 1 tables, digest [0-9a-f]{16}\r\n")))
      << footer;
  footer = footer.substr(footer.find('\n') + 1);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string today = Date::fromYMD(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).display();
  EXPECT_TRUE(std::regex_match(footer, std::regex("-- Dump completed on " + today + " \\d\\d:\\d\\d:\\d\\d\r\n")))
      << footer;
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"dump.sql"});

  // A header and a footer of the caller's; an empty table has no data part.
  side.exec("DELETE FROM vtb_dump.clientes");
  EXPECT_FALSE(server->Backup(Value::array({"clientes"}), file, false, true, {}, "", "-- end"));
  const std::string small = readAll(file);
  const std::string body = "\r\n-- ** This dump ends with a closing line\r\n-- ** Table: clientes\r\n\r\n\r\n" +
                           session + "\r\n-- ** BEGIN clientes\r\n\r\nUNLOCK TABLES;\r\n\r\n-- ** END clientes\r\n\r\n\r\n" +
                           sessionEnd + "\r\n";
  dump::DumpDigest digest;
  digest.update(body);
  EXPECT_EQ(small, body + "-- ** Dump complete: 1 tables, digest " + digest.hex() + "\r\n-- end");
}

TEST_F(Backup, RoundTripLosesNothing) {
  side.exec(
      "CREATE TABLE vtb_dump.kinds (id int NOT NULL AUTO_INCREMENT, tiny tinyint, small smallint, big bigint, "
      "money decimal(30,10), ratio double, fixed char(20), var varchar(100), memo text, raw blob, born date, "
      "moment datetime(6), stamp timestamp NULL DEFAULT NULL, clock time, yr year, pick enum('a','b'), bits bit(8), "
      "PRIMARY KEY (id)) DEFAULT CHARSET=utf8mb4");
  side.exec("CREATE TABLE vtb_dump.pairs (a int NOT NULL, b varchar(10) NOT NULL, v int, PRIMARY KEY (a, b))");
  side.exec("CREATE TABLE vtb_dump.nokey (v varchar(10))");
  std::string blob;
  for (int i = 0; i < 256; ++i) blob += static_cast<char>(i);
  const std::string texts[] = {"it's", "back\\slash", "cr\r\nlf", "  lead and trail  ", std::string("zero\0byte", 9),
                               "\xc3\xb1" "and\xc3\xba \xe2\x82\xac", "DROP TABLE", "UNLOCK TABLES", "\t tab"};
  side.exec("INSERT INTO vtb_dump.kinds (id) VALUES (1)");  // NULL in every other column
  int id = 2;
  for (const std::string& t : texts) {
    std::string esc = db::escape(t, side.handle());
    side.exec("INSERT INTO vtb_dump.kinds VALUES (" + std::to_string(id) + ", " + std::to_string(id % 2 ? 5 : -7) +
              ", 0, 9223372036854775807, 12345678901234567890.0123456789, 0.1, '" + esc + "', '" + esc + "', '" + esc +
              "', '" + db::escape(blob, side.handle()) + "', '2024-02-29', '2024-02-29 13:14:15.123456', " +
              "'2020-01-01 00:00:01', '-12:34:56', 2024, 'b', b'10100101')");
    ++id;
  }
  side.exec("INSERT INTO vtb_dump.kinds (id, money, var, born) VALUES (100, -0.0000000001, '', '0000-00-00')");
  for (int a = 0; a < 3; ++a)
    for (const char* b : {"x", "y", "x y", "y'"})
      side.exec("INSERT INTO vtb_dump.pairs VALUES (" + std::to_string(a) + ", '" + db::escape(b, side.handle()) +
                "', " + std::to_string(a * 10) + ")");
  side.exec("INSERT INTO vtb_dump.nokey VALUES ('a'), ('a'), (NULL), ('b'), ('c')");

  const char* tables[] = {"kinds", "pairs", "nokey"};
  std::map<std::string, std::vector<std::vector<std::string>>> before;
  std::map<std::string, std::string> sums;
  for (const char* t : tables) {
    const std::string order = std::string(t) == "pairs" ? " ORDER BY 1, 2" : " ORDER BY 1";
    before[t] = side.rows(std::string("SELECT * FROM vtb_dump.") + t + order);
    sums[t] = side.rows(std::string("CHECKSUM TABLE vtb_dump.") + t).at(0).at(1);
    EXPECT_NE(sums[t], "<NULL>") << t;
  }

  const std::string file = dir + "/round.sql";
  // Three rows to an INSERT line: several lines per table, each read in key order.
  // The database's defaults differ from the server's: they must come back too.
  side.exec("ALTER DATABASE vtb_dump CHARACTER SET latin1 COLLATE latin1_german1_ci");
  EXPECT_FALSE(server->Backup(Value::array({"kinds", "pairs", "nokey"}), file, true, false, 3));
  EXPECT_TRUE(rec.calls->empty());
  std::string text = readAll(file);
  // With the database's own defaults.
  EXPECT_NE(text.find("-- ** Create database **\r\nCREATE DATABASE IF NOT EXISTS `vtb_dump` CHARACTER SET "),
            std::string::npos);
  EXPECT_NE(text.find("-- ** BEGIN pairs\r\nDROP TABLE IF EXISTS `pairs`;\r\nSET NAMES utf8mb4;\r\nCREATE TABLE `pairs` ("),
            std::string::npos);
  std::size_t inserts = 0;
  for (std::size_t p = text.find("\r\nINSERT INTO `kinds` "); p != std::string::npos;
       p = text.find("\r\nINSERT INTO `kinds` ", p + 1))
    ++inserts;
  EXPECT_EQ(inserts, 4u);  // 11 rows
  EXPECT_NE(text.find(",NULL,NULL,"), std::string::npos);
  EXPECT_NE(text.find(",12345678901234567890.0123456789,"), std::string::npos);

  side.exec("DROP TABLE vtb_dump.kinds, vtb_dump.pairs, vtb_dump.nokey");
  side.exec("DROP DATABASE vtb_dump");
  server->SelectDB("mysql");
  rec.calls->clear();
  EXPECT_TRUE(server->Restore(file));
  EXPECT_TRUE(rec.calls->empty()) << rec.calls->front().number;
  EXPECT_EQ(server->cDBName.asString(), "vtb_dump");  // the dump's database is selected
  EXPECT_EQ(side.rows("SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM information_schema.SCHEMATA "
                      "WHERE SCHEMA_NAME = 'vtb_dump'"),
            (std::vector<std::vector<std::string>>{{"latin1", "latin1_german1_ci"}}));
  for (const char* t : tables) {
    const std::string order = std::string(t) == "pairs" ? " ORDER BY 1, 2" : " ORDER BY 1";
    EXPECT_EQ(side.rows(std::string("SELECT * FROM vtb_dump.") + t + order), before[t]) << t;
    EXPECT_EQ(side.rows(std::string("CHECKSUM TABLE vtb_dump.") + t).at(0).at(1), sums[t]) << t;
  }
}

TEST_F(Backup, CallbacksBatchesAndOldDumps) {
  side.exec("CREATE TABLE vtb_dump.a (id int NOT NULL, PRIMARY KEY (id))");
  side.exec("CREATE TABLE vtb_dump.b (id int)");
  side.exec("INSERT INTO vtb_dump.a VALUES (1), (2), (3), (4), (5)");
  Calls backupCalls, restoreCalls;
  server->bOnBackUp = backupCalls.block();
  server->bOnRestore = restoreCalls.block();
  const std::string file = dir + "/calls.sql";
  EXPECT_FALSE(server->Backup(Value::array({"A", "b"}), file, false, false, 2));
  EXPECT_EQ(*backupCalls.seen, (std::vector<std::string>{"1", "2|a|2|1", "2|b|2|2", "3|" + file}));
  std::string text = readAll(file);
  EXPECT_NE(text.find("LOCK TABLES `a` WRITE;\r\nINSERT INTO `a` (`id`) VALUES (1),(2);\r\nINSERT INTO `a` (`id`) "
                      "VALUES (3),(4);\r\nINSERT INTO `a` (`id`) VALUES (5);\r\n\r\nUNLOCK TABLES;\r\n"),
            std::string::npos)
      << text;

  // Restore: each line once, the table of the latest begin marker, 4 at the end.
  side.exec("DELETE FROM vtb_dump.a");
  EXPECT_TRUE(server->Restore(file));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_dump.a"), "5");
  const auto& seen = *restoreCalls.seen;
  long lines = 1;
  for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++lines;
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(lines) + 2);
  EXPECT_EQ(seen.front(), "1");
  EXPECT_EQ(seen[1], "3||" + std::to_string(lines) + "|1");
  EXPECT_EQ(seen.back(), "4");
  bool sawA = false;
  for (const std::string& s : seen) sawA = sawA || s.rfind("3|a|" + std::to_string(lines) + "|", 0) == 0;
  EXPECT_TRUE(sawA);
  EXPECT_TRUE(rec.calls->empty());

  // A dump of the old form: dates as eight digits, every row in one INSERT, a lone LF inside a value.
  side.exec("CREATE TABLE vtb_dump.old (id int, born date, note varchar(20))");
  writeAll(dir + "/old.sql",
           "-- CLASS TQuillon, for [x]Pelagon\r\n---------------------------------\r\n\r\n** Table: old\r\n\r\n\r\n"
           "** BEGIN old\r\n\r\n\r\n--\r\n-- Dumping data for table old\r\n--\r\n\r\n\r\nLOCK TABLES old WRITE;\r\n"
           "INSERT INTO old (id,born,note) VALUES (1,'20100720','a\nb'),(2,'19991231','x')\r\n\r\nUNLOCK TABLES\r\n"
           "\r\n** END old\r\n\r\n\r\n-- Dump completed on 20/07/2010 15:30:59\r\n");
  EXPECT_TRUE(server->Restore(dir + "/old.sql"));
  EXPECT_EQ(side.rows("SELECT id, born, note FROM vtb_dump.old ORDER BY id"),
            (std::vector<std::vector<std::string>>{{"1", "2010-07-20", "a\nb"}, {"2", "1999-12-31", "x"}}));
  // It has no closing line: loaded, and said that its completeness cannot be checked.
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpIncomplete});
}

TEST_F(Backup, RefusalsFailedWritesAndCancel) {
  side.exec("CREATE TABLE vtb_dump.a (id int NOT NULL, note text, PRIMARY KEY (id))");
  side.exec("INSERT INTO vtb_dump.a SELECT seq, REPEAT('x', 1000) FROM seq_1_to_3000");
  const std::string file = dir + "/keep.sql";
  writeAll(file, "a good dump");

  // An existing file without the overwrite switch; an empty list.
  EXPECT_FALSE(server->Backup(Value::array({"a"}), file));
  EXPECT_FALSE(server->Backup(Value::array(), dir + "/new.sql"));
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{9020, 9021}));
  EXPECT_EQ(readAll(file), "a good dump");

  // A write that fails half-way (the file size limit) leaves the old dump and no temporary file.
  rec.calls->clear();
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldSignal = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_FALSE(server->Backup(Value::array({"a"}), file, false, true));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldSignal);
  ASSERT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
  EXPECT_TRUE((*rec.calls)[0].internal);
  EXPECT_EQ(readAll(file), "a good dump");
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"keep.sql"});

  // A directory that does not exist.
  rec.calls->clear();
  EXPECT_FALSE(server->Backup(Value::array({"a"}), dir + "/missing/dump.sql"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});

  // Cancelled from the progress callback: true, the callback told 0, no file written.
  rec.calls->clear();
  bool cancel = false;
  Calls calls;
  Value record = calls.block();
  server->bOnBackUp = Value(Callable([&cancel, record](Args a) -> Value {
    record.call(a);
    if (a[0].asInt() == 2) cancel = true;
    return {};
  }));
  EXPECT_TRUE(server->Backup(Value::array({"a", "a"}), file, false, true, {}, {}, {}, &cancel));
  EXPECT_EQ(*calls.seen, (std::vector<std::string>{"1", "2|a|2|1", "0"}));
  EXPECT_EQ(readAll(file), "a good dump");
  EXPECT_EQ(filesIn(dir), std::vector<std::string>{"keep.sql"});
  EXPECT_TRUE(rec.calls->empty());

  // Restore: a missing file is 9020; a set cancel flag reads nothing in and sends nothing.
  EXPECT_FALSE(server->Restore(dir + "/none.sql"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{9020});
  server->bOnBackUp = Value();
  cancel = false;
  EXPECT_FALSE(server->Backup(Value::array({"a"}), file, true, true));
  side.exec("DROP TABLE vtb_dump.a");
  Calls restoreCalls;
  server->bOnRestore = restoreCalls.block();
  cancel = true;
  EXPECT_FALSE(server->Restore(file, &cancel));
  EXPECT_EQ(*restoreCalls.seen, (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(side.rows("SHOW TABLES FROM vtb_dump LIKE 'a'").size(), 0u);

  // No current database.
  rec.calls->clear();
  ServerPtr bare = testing::connectServer(rec.block(), "");
  bare->cDBName = "";
  EXPECT_FALSE(bare->Backup(Value::array({"a"}), dir + "/x.sql"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{9018});
  bare->End();
}

}  // namespace
}  // namespace veltro
