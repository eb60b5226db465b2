// Schema commands against the real server: the exact statements sent, the
// refusals of CreateTable, CreateInfo, indexes, engines and column listings.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::SideConnection;
using testing::StatementLog;

const char* const kTables[] = {"vts_clientes", "vts_kinds", "vts_idx", "vts_a", "vts_b", "vts_empty"};

class Schema : public testing::LoggedServerTest {
 protected:
  void dropAll() override {
    for (const char* t : kTables) side.exec(std::string("DROP TABLE IF EXISTS ") + t);
    side.exec("DROP DATABASE IF EXISTS vts_shop");
    side.exec("DROP DATABASE IF EXISTS vts_engines");
    side.exec("DROP DATABASE IF EXISTS vts_names");
    side.exec("DROP DATABASE IF EXISTS `vts shop-db`");
  }
  static Value column(const char* name, const char* kind, int len, int dec, const Value& notNull,
                      const Value& def) {
    return Value::array({name, kind, len, dec, notNull, def});
  }
};

TEST_F(Schema, DatabaseStatements) {
  EXPECT_TRUE(server->DBCreate("VTS_Shop"));
  EXPECT_EQ(log->last(), "CREATE DATABASE IF NOT EXISTS vts_shop");
  EXPECT_FALSE(server->DBCreate("vts_shop", false));  // exists: the server refuses
  EXPECT_EQ(log->last(), "CREATE DATABASE vts_shop");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1007});
  EXPECT_TRUE(server->DBCreate("vts_shop", true, "utf8", "utf8_general_ci"));
  EXPECT_EQ(log->last(), "CREATE DATABASE IF NOT EXISTS vts_shop CHARACTER SET utf8 COLLATE  utf8_general_ci");

  EXPECT_TRUE(server->DBExist("Vts_Shop"));
  EXPECT_FALSE(server->DBExist("vts_sh%"));  // a name, not a pattern
  EXPECT_FALSE(server->DBExist("vts_nowhere"));
  EXPECT_FALSE(server->DBExist(""));
  log->fresh();

  EXPECT_TRUE(server->DeleteDB("vts_shop", true));
  EXPECT_EQ(log->last(), "DROP DATABASE  IF EXISTS vts_shop");
  EXPECT_FALSE(server->DBExist("vts_shop"));
  log->fresh();
  EXPECT_FALSE(server->DeleteDB("vts_shop"));
  EXPECT_EQ(log->last(), "DROP DATABASE vts_shop");
  EXPECT_EQ(rec.numbers(), (std::vector<long long>{1007, 1008}));
}

TEST_F(Schema, CreateTableStatements) {
  // The server's log drops the final ";" of a statement, so the texts below end without it.
  Value def = Value::array({column("id", "N", 10, 0, true, {}), column("name", "C", 30, 0, {}, "x")});
  EXPECT_TRUE(server->CreateTable("Clientes_x", Value::array(), {}, {}, {}, "ENGINE=InnoDB") == false);
  EXPECT_EQ(log->last(), "CREATE TABLE  IF NOT EXISTS clientes_x engine=innodb");  // no columns: refused by the server
  EXPECT_TRUE(server->CreateTable("VTS_Clientes", def, "id", {}, "id", "ENGINE=InnoDB"));
  EXPECT_EQ(log->last(),
            "CREATE TABLE  IF NOT EXISTS vts_clientes (id int(10) NOT NULL  auto_increment,name char(30) DEFAULT "
            "'x', PRIMARY KEY (id))engine=innodb");
  EXPECT_TRUE(server->TableExist("vts_clientes"));
  EXPECT_FALSE(server->TableExist("vts_client%"));  // a name, not a pattern
  EXPECT_FALSE(server->TableExist("vts_none"));
  log->fresh();

  // Number widths, defaults, kinds compared exactly, the primary key NOT NULL.
  Value kinds = Value::array({
      column("n4", "N", 4, 0, true, 7), column("n5", "N", 5, 0, {}, 0), column("n10", "N", 10, 0, {}, {}),
      column("n19", "N", 19, 0, {}, {}), column("amount", "N", 12, 2, {}, Value::number(1.5, 2)),
      column("code", "C", 10, 0, false, ""), column("quote", "C", 10, 0, {}, "it's"),
      column("memo", "M", 0, 0, {}, "ignored"), column("flag", "L", 1, 0, {}, false),
      column("born", "D", 8, 0, {}, {}), column("raw", "B", 0, 0, {}, {}), column("small", "I", 0, 0, {}, {}),
      column("stamp", "T", 6, 0, {}, {}), column("lower", "n", 5, 0, {}, {}),
  });
  EXPECT_TRUE(server->CreateTable("vts_kinds", kinds, "n4", "code", {}, {}, false));
  EXPECT_EQ(log->last(),
            "CREATE TABLE vts_kinds (n4 smallint(4) NOT NULL  DEFAULT 7,n5 mediumint(5) DEFAULT NULL,n10 bigint(10),"
            "n19 decimal(19,0),amount decimal(12,2) DEFAULT 1.50,code char(10) DEFAULT NULL,"
            "quote char(10) DEFAULT 'it\\'s',memo text,flag tinyint (1) DEFAULT 0,born date ,raw mediumblob ,"
            "small mediumint ,stamp timestamp(6),lower char(5), PRIMARY KEY (n4), UNIQUE code (code))");
  auto cols = side.rows("SHOW COLUMNS FROM vts_kinds");
  ASSERT_EQ(cols.size(), 14u);
  EXPECT_EQ(cols[0][1], "smallint(4)");
  EXPECT_EQ(cols[0][2], "NO");
  EXPECT_EQ(cols[6][4], "it's");  // the escaped default arrived whole
  EXPECT_EQ(cols[13][1], "char(5)");
  EXPECT_TRUE(rec.calls->size() == 1 && (*rec.calls)[0].number == 1113);  // only the table without columns
}

TEST_F(Schema, CreateTableRefusalsSendNothing) {
  Value def = Value::array({column("id", "N", 10, 0, true, {}), column("name", "C", 30, 0, {}, {})});
  struct Case {
    Value definition, primary, unique, autoInc;
    long long code;
    bool internal;
  };
  const Case cases[] = {
      {def, "nope", {}, {}, 9003, true},
      {def, "id", "nope", {}, 9004, true},
      {def, "id", "name", "nope", 9005, true},
      {Value::array({Value::array({"id", "N", 10, 0, true})}), {}, {}, {}, 9001, false},
      {Value::array({column("id", "N", 10, 0, "yes", {})}), {}, {}, {}, 9002, false},
  };
  for (const Case& c : cases) {
    rec.calls->clear();
    EXPECT_FALSE(server->CreateTable("vts_a", c.definition, c.primary, c.unique, c.autoInc));
    ASSERT_EQ(rec.calls->size(), 1u) << c.code;
    EXPECT_EQ((*rec.calls)[0].number, c.code);
    EXPECT_EQ((*rec.calls)[0].internal, c.internal) << c.code;
    EXPECT_TRUE(log->fresh().empty()) << c.code;
  }
  // Names compare after normalising; a sound call after a refusal runs (and keeps its unique key).
  rec.calls->clear();
  EXPECT_TRUE(server->CreateTable("vts_a", def, " ID", "Name", "id"));
  EXPECT_TRUE(rec.calls->empty());
  EXPECT_EQ(side.rows("SHOW KEYS FROM vts_a WHERE Key_name = 'name'").size(), 1u);
  // With verify off nothing is checked and the server judges.
  EXPECT_FALSE(server->CreateTable("vts_b", def, "nope", {}, {}, {}, {}, false));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1072});
}

TEST_F(Schema, CreateInfoIsOneLineWithoutBackquotes) {
  side.exec("CREATE TABLE vts_a (`id` int NOT NULL,\n `name` varchar(20) DEFAULT 'a\\rb', PRIMARY KEY (`id`))");
  std::string info = server->CreateInfo("VTS_A");
  EXPECT_EQ(info.rfind("CREATE TABLE vts_a (", 0), 0u) << info;
  EXPECT_EQ(info.find('`'), std::string::npos);
  EXPECT_EQ(info.find('\n'), std::string::npos);
  EXPECT_NE(info.find("PRIMARY KEY (id)"), std::string::npos) << info;
  EXPECT_NE(info.back(), ';');
  // The text re-creates the table.
  side.exec("DROP TABLE vts_a");
  side.exec(info);
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  EXPECT_EQ(server->CreateInfo("vts_none"), "");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1146});
}

TEST_F(Schema, IndexesTablesAndEngines) {
  side.exec("CREATE TABLE vts_idx (id int NOT NULL, name varchar(20), city varchar(20), PRIMARY KEY (id))");
  EXPECT_TRUE(server->CreateIndex("IdxName", "vts_idx", Value::array({Value::array({"name", 2}), "city"}), 1));
  // The log drops the final blank.
  EXPECT_EQ(log->last(), "ALTER TABLE vts_idx ADD UNIQUE idxname (name DESC,city)");
  EXPECT_TRUE(server->CreateIndex("idxcity", "vts_idx", Value::array({"city"}), {}, 1));
  EXPECT_EQ(log->last(), "ALTER TABLE vts_idx ADD INDEX idxcity (city) USING BTREE");
  EXPECT_EQ(side.scalar("SELECT index_type FROM information_schema.statistics WHERE table_schema = DATABASE() "
                        "AND table_name = 'vts_idx' AND index_name = 'idxcity'"),
            "BTREE");
  EXPECT_TRUE(server->DeleteIndex("idxcity", "VTS_IDX"));
  EXPECT_EQ(log->last(), "DROP INDEX idxcity ON vts_idx");
  EXPECT_TRUE(server->DeleteIndex("ignored", "vts_idx", true));
  EXPECT_EQ(side.rows("SHOW KEYS FROM vts_idx WHERE Key_name = 'PRIMARY'").size(), 0u);
  EXPECT_TRUE(server->CreateIndex("pk", "vts_idx", Value::array({"id"}), 4));
  EXPECT_EQ(side.rows("SHOW KEYS FROM vts_idx WHERE Key_name = 'PRIMARY'").size(), 1u);
  log->fresh();

  EXPECT_TRUE(server->ChangeEngine("vts_idx", "MyISAM"));
  EXPECT_EQ(log->last(), "ALTER TABLE vts_idx ENGINE = myisam");
  side.exec("CREATE TABLE vts_a (x int)");
  side.exec("CREATE TABLE vts_b (x int)");
  EXPECT_TRUE(server->DeleteTables(Value::array({"VTS_A", " vts_b"}), true));
  EXPECT_EQ(log->last(), "DROP TABLE  IF EXISTS vts_a, vts_b");
  EXPECT_FALSE(server->DeleteTables("vts_a"));
  EXPECT_EQ(log->last(), "DROP TABLE vts_a");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1051});

  // Every table of a database of its own: other tests share the test database.
  side.exec("CREATE DATABASE vts_engines");
  side.exec("CREATE TABLE vts_engines.t1 (x int) ENGINE=InnoDB");
  side.exec("CREATE TABLE vts_engines.t2 (x int) ENGINE=InnoDB");
  ASSERT_TRUE(server->SelectDB("vts_engines"));
  log->fresh();
  server->ChangeEngineAll("MyISAM");
  EXPECT_EQ(log->fresh(), (std::vector<std::string>{"SHOW TABLES LIKE '%'", "ALTER TABLE t1 ENGINE = myisam", "ALTER TABLE t2 ENGINE = myisam"}));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'vts_engines' AND "
                        "engine = 'MyISAM'"),
            "2");
  server->Compact();
  EXPECT_EQ(log->fresh(), (std::vector<std::string>{"SHOW TABLES LIKE '%'", "OPTIMIZE TABLE t1", "OPTIMIZE TABLE t2"}));
  server->Compact("T2");
  EXPECT_EQ(log->fresh(), std::vector<std::string>{"OPTIMIZE TABLE t2"});
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1051});
}

// Names exactly as ListTables and ListDBs give existing objects are taken and
// written backquoted; a text that is no identifier and names nothing that
// exists is refused before the statement is sent. Backup keeps letter case.
TEST_F(Schema, NamesAsTheServerListsThem) {
  side.exec("CREATE DATABASE vts_names");
  const std::vector<std::string> names = {"my table", "my-table", "order", "it's"};
  for (const std::string& n : names) side.exec("CREATE TABLE vts_names.`" + n + "` (id int PRIMARY KEY, v int)");
  side.exec("CREATE TABLE vts_names.MixedCase (id int PRIMARY KEY, v int)");
  side.exec("CREATE TABLE vts_names.mixedcase (id int PRIMARY KEY, v int)");
  ASSERT_TRUE(server->SelectDB("vts_names"));
  for (const std::string& n : names) {
    SCOPED_TRACE(n);
    const std::string table = "vts_names." + quotedName(n);
    EXPECT_TRUE(server->Insert(n, Value::array({"id", "v"}), Value::array({1, 10})));
    EXPECT_TRUE(server->Update(n, Value::array({"v"}), Value::array({Value::array({5})}), "id = 1"));
    EXPECT_EQ(side.scalar("SELECT v FROM " + table), "15");
    EXPECT_TRUE(server->CreateIndex("byv", n, Value::array({"v"})));
    EXPECT_TRUE(server->ChangeEngine(n, "Aria"));
    EXPECT_EQ(side.scalar("SELECT engine FROM information_schema.tables WHERE table_schema = 'vts_names' AND "
                          "table_name = '" + db::escape(n, side.handle()) + "'"),
              "Aria");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  }

  // The natural way to dump a whole database.
  const std::string dir = testing::makeTempDir("listed");
  EXPECT_FALSE(server->Backup(server->ListTables(), dir + "/all.sql", true, true));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  const std::string dump = testing::readAll(dir + "/all.sql");
  for (const char* n : {"my table", "my-table", "order", "it's", "MixedCase", "mixedcase"})
    EXPECT_NE(dump.find("CREATE TABLE `" + std::string(n) + "` ("), std::string::npos) << n;
  std::filesystem::remove_all(dir);

  // Neither identifiers nor names of tables that exist: refused, nothing dropped.
  for (const char* text : {"no such table", "my table ", "my table; DROP TABLE `order`", "`my table"}) {
    SCOPED_TRACE(text);
    log->fresh();
    EXPECT_FALSE(server->DeleteTables(text));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNotAName});
    rec.calls->clear();
    for (const std::string& sent : log->fresh()) EXPECT_EQ(sent.rfind("SHOW TABLES LIKE ", 0), 0u) << sent;
  }
  log->fresh();
  EXPECT_TRUE(server->DeleteTables(Value::array({"my table", "`order`", "it's"})));
  // The listing that finds each name that is no identifier, then the statement.
  EXPECT_EQ(log->fresh(), (std::vector<std::string>{"SHOW TABLES LIKE 'my table'", "SHOW TABLES LIKE 'it\\'s'",
                                                    "DROP TABLE `my table`, `order`, `it's`"}));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'vts_names'"), "3");

  // A database, as ListDBs gives it.
  side.exec("CREATE DATABASE `vts shop-db`");
  log->fresh();
  EXPECT_TRUE(server->DeleteDB("vts shop-db"));
  EXPECT_EQ(log->fresh().back(), "DROP DATABASE `vts shop-db`");
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
}

TEST_F(Schema, TableStructure) {
  side.exec("CREATE TABLE vts_a (id int NOT NULL AUTO_INCREMENT, Name varchar(20), born date, PRIMARY KEY (id))");
  Value structure = server->TableStructure("vts_a");
  ASSERT_EQ(structure.len(), 3u);
  EXPECT_EQ(structure.at(1).len(), 9u);
  EXPECT_EQ(structure.at(1).at(9).asString(), "N");
  EXPECT_EQ(structure.at(3).at(9).asString(), "D");
  EXPECT_TRUE(rec.calls->empty());
  Value missing = server->TableStructure("vts_none");
  EXPECT_TRUE(missing.isArray());
  EXPECT_EQ(missing.len(), 0u);
  EXPECT_EQ(rec.numbers(), std::vector<long long>{1146});
}

}  // namespace
}  // namespace veltro
