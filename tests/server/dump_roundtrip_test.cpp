// Backup then Restore on tables that real servers hold: every stored byte of
// every column comes back (CHECKSUM TABLE and HEX() of each column), in any
// escaping mode of the dumping and the loading session; the stock client
// loads a dump the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dump_fixture.h"
#include "server_support.h"
#include "veltro/query.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::DumpRoundTrip;
using testing::kDb;
using testing::serverEnv;
using testing::SideConnection;

// and the statements that make them.
TEST_F(DumpRoundTrip, TablesRoundTripWhole) {
  struct Case {
    const char* what;
    std::vector<std::string> setup;
    std::vector<std::string> tables;
    long batch;
  };
  const std::vector<Case> cases = {
      {"generated columns",
       {"CREATE TABLE vtb_rt.g (a int, v int AS (a + 1) VIRTUAL, p int AS (a * 2) PERSISTENT, s varchar(9))",
        "INSERT INTO vtb_rt.g (a, s) VALUES (1, 'x'), (2, NULL)"},
       {"g"},
       0},
      {"reserved words as column names",
       {"CREATE TABLE vtb_rt.r (`key` int PRIMARY KEY, `order` int, `desc` text, `select` char(3))",
        "INSERT INTO vtb_rt.r VALUES (1, 2, 'd', 's'), (2, NULL, NULL, NULL)"},
       {"r"},
       0},
      {"table names that need quoting",
       {"CREATE TABLE vtb_rt.`order` (id int)", "CREATE TABLE vtb_rt.`my table` (id int)",
        "CREATE TABLE vtb_rt.`my-table` (id int)", "INSERT INTO vtb_rt.`order` VALUES (1)",
        "INSERT INTO vtb_rt.`my table` VALUES (2)", "INSERT INTO vtb_rt.`my-table` VALUES (3)"},
       {"`order`", "`my table`", "`my-table`"},
       0},
      {"an AUTO_INCREMENT column holding 0",
       {"CREATE TABLE vtb_rt.z (id int AUTO_INCREMENT PRIMARY KEY, n int)",
        "SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO'", "INSERT INTO vtb_rt.z VALUES (0, 1), (5, 2)",
        "SET SESSION sql_mode = DEFAULT"},
       {"z"},
       0},
      {"invisible columns",
       {"CREATE TABLE vtb_rt.inv (id int, secret int INVISIBLE)", "INSERT INTO vtb_rt.inv (id, secret) VALUES (1, 7)"},
       {"inv"},
       0},
      {"ENUM and SET primary keys read in batches",
       {"CREATE TABLE vtb_rt.e (k enum('z', 'a', 'm') PRIMARY KEY, n int)",
        "INSERT INTO vtb_rt.e VALUES ('z', 1), ('a', 2), ('m', 3)",
        "CREATE TABLE vtb_rt.st (k set('z', 'a', 'm') PRIMARY KEY, n int)",
        "INSERT INTO vtb_rt.st VALUES ('z', 1), ('a', 2), ('z,a', 3), ('m', 4)"},
       {"e", "st"},
       2},
      {"FLOAT primary keys that differ beyond six digits",
       {"CREATE TABLE vtb_rt.f (k float PRIMARY KEY, d double)",
        "INSERT INTO vtb_rt.f VALUES (1.0000001, 0.1), (1.0000002, 1e-300), (1.0000004, -2.5e300), (3.4e38, 0)"},
       {"f"},
       2},
      {"every byte, NULL and the empty text",
       {"CREATE TABLE vtb_rt.b (id int PRIMARY KEY, raw blob, t text, c char(5), bits bit(10), j json, "
        "d decimal(40,20), dt datetime(6), tm time(3))",
        "INSERT INTO vtb_rt.b VALUES (1, 0x00010D0A1A5C27225C6E, 'cr\\r\\nlf\\\\''\"', '', b'1010101010', "
        "'{\"a\": \"b\\\\nc\"}', -12345678901234567890.12345678901234567890, '2024-02-29 23:59:59.999999', "
        "'-838:59:59.000'), (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), (3, '', '', ' ', b'0', '[]', 0, "
        "'0000-00-00 00:00:00', '00:00:00')"},
       {"b"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SideConnection db(kDb);
    for (const std::string& sql : c.setup) db.exec(sql);
    std::vector<std::string> plain;
    for (const std::string& t : c.tables)
      plain.push_back(t.front() == '`' ? t.substr(1, t.size() - 2) : t);
    // The backup takes the names as the caller writes them.
    roundTrip(plain, c.batch, true, c.tables);
    for (const std::string& t : plain) side.exec("DROP TABLE IF EXISTS vtb_rt." + quotedName(t));
  }
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
}

// Definitions whose ENUM and SET members and DEFAULTs are in other character
// sets than UTF-8 come back as they were, and so do the values stored with
// them: the definition is read in the session it was written in.
TEST_F(DumpRoundTrip, DefinitionsInOtherCharacterSets) {
  struct Column {
    const char* charset;
    const char* a;  // two members, in UTF-8, that the set can hold
    const char* b;
  };
  const Column columns[] = {{"latin1", "\xc3\xa9t\xc3\xa9", "caf\xc3\xa9"},
                            {"cp1251", "\xd0\x96\xd1\x83\xd0\xba", "\xd0\xb4\xd0\xbe\xd0\xbc"},
                            {"utf16", "\xe2\x82\xac", "caf\xc3\xa9"},
                            {"greek", "\xce\xa9\xce\xbc\xce\xb1", "\xce\xb2"},
                            // The server's SHOW CREATE TABLE writes a member of four bytes as "?".
                            {"utf8mb4", "\xe2\x9c\x93", "caf\xc3\xa9"}};
  std::string definition = "CREATE TABLE vtb_rt.defs (id int PRIMARY KEY";
  std::string insert = "INSERT INTO vtb_rt.defs (id";
  std::string values = ") VALUES (1";
  std::vector<std::string> first, second;
  for (const Column& c : columns) {
    const std::string cs(c.charset), a(c.a), b(c.b);
    definition += ", e_" + cs + " ENUM('" + a + "', '" + b + "') CHARACTER SET " + cs + " DEFAULT '" + b + "'";
    definition += ", s_" + cs + " SET('" + a + "', '" + b + "') CHARACTER SET " + cs;
    definition += ", d_" + cs + " VARCHAR(10) CHARACTER SET " + cs + " DEFAULT '" + a + "'";
    insert += ", e_" + cs + ", s_" + cs;
    values += ", '" + a + "', '" + a + "," + b + "'";
    first.insert(first.end(), {a, a + "," + b, a});
    second.insert(second.end(), {b, "<NULL>", a});
  }
  side.exec("SET NAMES utf8mb4");
  side.exec(definition + ")");
  side.exec(insert + values + ")");
  side.exec("INSERT INTO vtb_rt.defs (id) VALUES (2)");
  const std::string shown = side.rows("SHOW CREATE TABLE vtb_rt.defs").at(0).at(1);
  roundTrip({"defs"});
  EXPECT_EQ(side.rows("SHOW CREATE TABLE vtb_rt.defs").at(0).at(1), shown);
  std::string select = "SELECT ";
  for (const Column& c : columns)
    select += std::string("e_") + c.charset + ", s_" + c.charset + ", d_" + c.charset + ",";
  select.back() = ' ';
  EXPECT_EQ(side.rows(select + "FROM vtb_rt.defs ORDER BY id"), (std::vector<std::vector<std::string>>{first, second}));
}

// A view is dumped as its definition only, after the tables, without its
// DEFINER: restoring over the database leaves the base table's rows as they
// were (a keyless table's rows are not doubled) and the view as it was.
TEST_F(DumpRoundTrip, ViewsAsDefinitions) {
  side.exec("CREATE TABLE vtb_rt.base (a int, note varchar(10))");
  side.exec("INSERT INTO vtb_rt.base VALUES (1, 'x'), (2, 'y;z'), (2, 'y;z')");
  side.exec("CREATE VIEW vtb_rt.`the view` AS SELECT a, note, 'it''s -- not a comment' AS c FROM vtb_rt.base WHERE a > 1");
  const std::string shown = side.rows("SHOW CREATE VIEW vtb_rt.`the view`").at(0).at(1);
  const std::string file = dir + "/views.sql";
  EXPECT_FALSE(server->Backup(Value::array({"`the view`", "base"}), file, true, true));
  ASSERT_EQ(rec.numbers(), std::vector<long long>{});
  const std::string text = testing::readAll(file);
  EXPECT_EQ(text.find("INSERT INTO `the view`"), std::string::npos);
  EXPECT_EQ(text.find("DEFINER="), std::string::npos);
  EXPECT_LT(text.find("-- ** BEGIN base"), text.find("-- ** BEGIN the view"));
  // Over the database as it is, and after both are gone; then with the stock client.
  for (int pass = 0; pass < 3; ++pass) {
    if (pass > 0) side.exec("DROP VIEW vtb_rt.`the view`");
    if (pass < 2)
      EXPECT_TRUE(server->Restore(file));
    else
      stockLoad(file);
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.base"), "3");
    // The restoring account is the definer: the stock client here loads as root.
    std::string view = side.rows("SHOW CREATE VIEW vtb_rt.`the view`").at(0).at(1);
    if (pass == 2) view.replace(view.find("`root`"), 6, "`" + serverEnv().user + "`");
    EXPECT_EQ(view, shown);
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.`the view`"), "2");
  }
}

// Triggers come back after their table's rows (loading the rows fires
// none), in their own sql_mode and firing order, owned by the restoring
// account; a sequence comes before the table whose DEFAULT takes its NEXTVAL
// and keeps its state.
TEST_F(DumpRoundTrip, TriggersAndSequences) {
  SideConnection db(kDb);
  db.exec("CREATE SEQUENCE seq START WITH 100 INCREMENT BY 5 NOCACHE");  // a cluster refuses a cache
  db.exec("CREATE TABLE orders (id int DEFAULT NEXTVAL(seq) PRIMARY KEY, note varchar(40), n int)");
  db.exec("CREATE TABLE audit (id int AUTO_INCREMENT PRIMARY KEY, what text)");
  db.exec("SET NAMES utf8mb4");
  // Bodies with ";", comments, line breaks of both kinds, a non-ASCII text.
  db.exec("CREATE TRIGGER first_ins BEFORE INSERT ON orders FOR EACH ROW\r\nBEGIN\r\n"
          "  -- a comment; with a quote ' in it\n  IF NEW.n IS NULL THEN SET NEW.n = 1; END IF; # more\n"
          "  SET NEW.note = CONCAT(IFNULL(NEW.note, ''), '\xc3\xa9;''s');\r\nEND");
  db.exec("CREATE TRIGGER second_ins BEFORE INSERT ON orders FOR EACH ROW SET NEW.n = NEW.n * 10");
  db.exec("CREATE TRIGGER after_upd AFTER UPDATE ON orders FOR EACH ROW "
          "INSERT INTO audit (what) VALUES (CONCAT('upd ', OLD.id)) -- ends in a comment");
  db.exec("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
  db.exec("CREATE TRIGGER before_del BEFORE DELETE ON orders FOR EACH ROW SET @deleted = 'a\\b'");
  db.exec("SET SESSION sql_mode = DEFAULT");
  db.exec("INSERT INTO orders (note) VALUES ('one'), ('two')");
  db.exec("UPDATE orders SET note = 'three' WHERE id = 105");

  const std::string triggers =
      "SELECT TRIGGER_NAME, EVENT_MANIPULATION, ACTION_TIMING, ACTION_ORDER, ACTION_STATEMENT, SQL_MODE, DEFINER "
      "FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = 'vtb_rt' ORDER BY TRIGGER_NAME";
  const auto triggersBefore = side.rows(triggers);
  ASSERT_EQ(triggersBefore.size(), 4u);
  const std::vector<std::string> tables = {"orders", "audit", "seq"};
  std::vector<std::vector<std::string>> before;
  for (const std::string& t : tables) before.push_back(contents(t));
  const std::string file = dir + "/triggers.sql";
  EXPECT_FALSE(server->Backup(Value::array({"orders", "audit", "seq"}), file, true, true));
  ASSERT_EQ(rec.numbers(), std::vector<long long>{});
  const std::string text = testing::readAll(file);
  EXPECT_LT(text.find("-- ** BEGIN seq"), text.find("-- ** BEGIN orders"));
  EXPECT_LT(text.find("INSERT INTO `orders`"), text.find("CREATE TRIGGER"));
  EXPECT_EQ(text.find("DEFINER="), std::string::npos);

  for (int client = 0; client < 2; ++client) {
    SCOPED_TRACE(client == 0 ? "Restore" : "the stock client");
    for (const std::string& t : tables) side.exec("DROP TABLE vtb_rt." + t);
    if (client == 0)
      EXPECT_TRUE(server->Restore(file));
    else
      stockLoad(file);
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    for (std::size_t i = 0; i < tables.size(); ++i) EXPECT_EQ(contents(tables[i]), before[i]) << tables[i];
    auto after = side.rows(triggers);
    ASSERT_EQ(after.size(), triggersBefore.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
      const std::string definer = after[i].back();
      EXPECT_EQ(definer.substr(0, definer.find('@')), client == 0 ? serverEnv().user : "root");
      after[i].back() = triggersBefore[i].back();
      // The stock client, by its own rules, takes the comments and CRs out of a body.
      if (client == 1) after[i][4] = triggersBefore[i][4];
    }
    EXPECT_EQ(after, triggersBefore);
    // The restored objects work together: the sequence goes on, both triggers fire in order.
    const std::string next = side.scalar("SELECT next_not_cached_value FROM vtb_rt.seq");
    db.exec("INSERT INTO orders (note) VALUES ('next')");
    EXPECT_EQ(side.rows("SELECT id, n FROM vtb_rt.orders WHERE note LIKE 'next%'"),
              (std::vector<std::vector<std::string>>{{next, "10"}}));
    db.exec("DELETE FROM orders WHERE note LIKE 'next%'");
    EXPECT_EQ(db.scalar("SELECT @deleted"), "a\\b");
  }
}

// An Aria table's keys are built once, after its rows, as the stock dump tool
// does (filled under LOCK TABLES, it otherwise miscounts its rows).
TEST_F(DumpRoundTrip, AriaKeysAfterTheRows) {
  side.exec("CREATE TABLE vtb_rt.aria_t (id int PRIMARY KEY, k int, KEY (k)) ENGINE=Aria");
  side.exec("INSERT INTO vtb_rt.aria_t VALUES (1, 1), (2, 2), (3, 2)");
  roundTrip({"aria_t"});
  EXPECT_NE(testing::readAll(dir + "/rt.sql").find("ALTER TABLE `aria_t` DISABLE KEYS"), std::string::npos);
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.aria_t WHERE k = 2"), "2");
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.aria_t"), "3");
}

// Values of types that parse their text (INET6, INET4, UUID) come back, not
// NULL: the dump writes them as text, which the binary session would
// otherwise take for their raw bytes.
TEST_F(DumpRoundTrip, TypesThatParseTheirText) {
  side.exec("CREATE TABLE vtb_rt.ty (id int PRIMARY KEY, a INET6, b UUID, c INET4)");
  side.exec("INSERT INTO vtb_rt.ty VALUES (1, 'fe80::1', '123e4567-e89b-12d3-a456-426655440000', '10.0.0.1'), "
            "(2, '::ffff:192.168.0.1', '00000000-0000-0000-0000-000000000000', '255.255.255.255'), "
            "(3, NULL, NULL, NULL)");
  const auto before = side.rows("SELECT * FROM vtb_rt.ty ORDER BY id");
  roundTrip({"ty"});
  EXPECT_EQ(side.rows("SELECT * FROM vtb_rt.ty ORDER BY id"), before);
}

// A mixed-case name on a case-sensitive server is dumped as the server lists it.
TEST_F(DumpRoundTrip, MixedCaseNames) {
  if (side.scalar("SELECT @@lower_case_table_names") != "0") GTEST_FAIL() << "the test server must be case-sensitive";
  side.exec("CREATE TABLE vtb_rt.MixedCase (id int)");
  side.exec("INSERT INTO vtb_rt.MixedCase VALUES (1), (2)");
  roundTrip({"MixedCase"});
  // Two tables that differ in letter case only: each dumped under its own name.
  side.exec("CREATE TABLE vtb_rt.Caps (id int)");
  side.exec("INSERT INTO vtb_rt.Caps VALUES (1)");
  side.exec("CREATE TABLE vtb_rt.caps (id int)");
  side.exec("INSERT INTO vtb_rt.caps VALUES (2), (3)");
  roundTrip({"Caps", "caps"});
  // A caller's name that matches one table only without regard to case finds it.
  const std::string file = dir + "/case.sql";
  EXPECT_FALSE(server->Backup(Value::array({"MIXEDCASE"}), file, true, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  EXPECT_NE(testing::readAll(file).find("-- ** BEGIN MixedCase\r\n"), std::string::npos);
  // A table of another database is refused, not looked for here.
  EXPECT_FALSE(server->Backup(Value::array({"mysql.user"}), file, true, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNotAName});
}

// The dumping and the loading session may differ in their backslash mode:
// texts holding CR, LF, quotes and statements come back as they were, and
// nothing of them runs.
TEST_F(DumpRoundTrip, EscapingModesOfBothSessions) {
  const std::string hostile = "x\r\nUNLOCK TABLES\r\nDROP TABLE canary\r\n\\'";
  const char* modes[] = {"", "NO_BACKSLASH_ESCAPES"};
  for (const char* dumpMode : modes) {
    for (const char* loadMode : modes) {
      SCOPED_TRACE(std::string(dumpMode) + " -> " + loadMode);
      side.exec("CREATE TABLE vtb_rt.n (id int, t text, b blob)");
      SideConnection db(kDb);
      db.exec("INSERT INTO n VALUES (1, '" + db::escape(hostile, db.handle()) + "', '" +
              db::escape(hostile, db.handle()) + "'), (2, 'plain', NULL)");
      const auto before = contents("n");
      ASSERT_TRUE(server->SqlQuery(std::string("SET SESSION sql_mode = '") + dumpMode + "'"));
      EXPECT_FALSE(server->Backup(Value::array({"n"}), dir + "/modes.sql", true, true));
      ASSERT_TRUE(server->SqlQuery(std::string("SET SESSION sql_mode = '") + loadMode + "'"));
      side.exec("DROP TABLE vtb_rt.n");
      EXPECT_TRUE(server->Restore(dir + "/modes.sql"));
      EXPECT_EQ(contents("n"), before);
      EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
      EXPECT_EQ(rec.numbers(), std::vector<long long>{});
      // The caller's session is as it was.
      QueryPtr q = server->Query("SELECT @@sql_mode");
      EXPECT_EQ(std::string(trimRight(q->FieldGet(1).asString())), loadMode);
      q->End();
      side.exec("DROP TABLE vtb_rt.n");
    }
  }
}

// Instants in the hour that repeats when summer time ends stay apart, and the
// caller's time zone is left as it was.
TEST_F(DumpRoundTrip, TimestampsInTheRepeatedHour) {
  if (side.scalar("SELECT COUNT(*) FROM mysql.time_zone_name WHERE Name = 'Europe/Berlin'") == "0") {
    const std::string load = "mariadb-tzinfo-to-sql /usr/share/zoneinfo/Europe/Berlin Europe/Berlin 2>/dev/null | "
                             "mariadb --no-defaults -uroot -S '" + serverEnv().socket + "' mysql";
    ASSERT_EQ(std::system(load.c_str()), 0) << load;
  }
  side.exec("CREATE TABLE vtb_rt.ts (id int, at timestamp NULL)");
  SideConnection db(kDb);
  db.exec("SET time_zone = '+00:00'");
  db.exec("INSERT INTO ts VALUES (1, '2023-10-29 00:30:00'), (2, '2023-10-29 01:30:00')");
  ASSERT_TRUE(server->SqlQuery("SET time_zone = 'Europe/Berlin'"));
  const auto before = side.rows("SELECT id, UNIX_TIMESTAMP(at) FROM vtb_rt.ts ORDER BY id");
  ASSERT_NE(before[0][1], before[1][1]);
  roundTrip({"ts"});
  EXPECT_EQ(side.rows("SELECT id, UNIX_TIMESTAMP(at) FROM vtb_rt.ts ORDER BY id"), before);
  QueryPtr q = server->Query("SELECT @@time_zone");
  EXPECT_EQ(std::string(trimRight(q->FieldGet(1).asString())), "Europe/Berlin");
  q->End();
}

// At READ COMMITTED in the caller's session, the dump is still one moment:
// money moved between two tables while the dump runs keeps its sum.
}  // namespace
}  // namespace veltro
