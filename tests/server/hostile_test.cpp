// Hostile texts through every path that writes SQL: quotes, backslashes, zero
// bytes, invalid UTF-8, lead bytes of multi-byte character sets before a quote
// and 1 MB sizes are stored byte for byte, and neither another row nor the
// canary table is touched. Every case runs in each session mode that changes
// how a value must be escaped: backslash escapes off, and the gbk, big5 and
// sjis character sets, set by a statement with the server's session tracking
// on and off. Names are checked before anything is sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "server_support.h"
#include "updates.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

std::string bytes(const char* text, std::size_t n) { return std::string(text, n); }

// Texts meant to end their literal early or to confuse the escaping. None has
// blanks at its ends, since texts are trimmed on their way into SQL.
// bigSize: the size of the one long text (every statement of it lands in the
// server's general log, so only one mode uses the full megabyte).
std::vector<std::string> hostileTexts(std::size_t bigSize) {
  std::vector<std::string> texts = {
      "x'; DROP TABLE canary; --",
      "x\\'; DROP TABLE canary; --",
      "\\",
      "a\\",
      "\\'",
      "''",
      "' OR '1'='1",
      "\" OR \"1\"=\"1",
      "x`; DROP TABLE canary; --",
      bytes("a\0b'\0", 5),
      bytes("\0", 1),
      "\x1a'\r\n\\n",
      "\xc0' OR 1=1 -- x",    // an overlong lead byte before a quote
      "\xbf' OR 1=1 -- x",    // a lone continuation byte (the GBK-style trick)
      "\xe4\xb8' OR 1=1 -- x",  // a three-byte sequence cut by the quote
      "\xff\xfe\\'x",
      "\xa1' OR 1=1 -- x",   // a big5 lead byte before a quote
      "\x81' OR 1=1 -- x",   // an sjis lead byte before a quote
      "\x95\\' OR 1=1 -- x",  // a lead byte before a backslash and a quote
      "\xbf\\",             // a lead byte before a final backslash
      "x', 1) ON DUPLICATE KEY UPDATE s=0x50574E4544 #",
  };
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  texts.push_back("<" + all + ">");
  std::string big;
  big.reserve(bigSize);
  for (std::size_t i = 0; big.size() < bigSize; ++i) big += "'\\\"" + std::string(1, static_cast<char>(i % 251 + 1));
  texts.push_back("<" + big + ">");
  return texts;
}

// A readable name of a text for failure messages.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 40)) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return text.size() > 40 ? out + "... (" + std::to_string(text.size()) + " bytes)" : out;
}

// A session mode of the server object under test: statements that set it up.
struct Mode {
  const char* name;
  std::vector<std::string> setup;
  const char* charset;  // what the session's character_set_client must then be
};

const std::vector<Mode>& modes() {
  static const std::vector<Mode> all = {
      {"plain", {}, "utf8mb4"},
      {"no_backslash_escapes", {"SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"}, "utf8mb4"},
      {"gbk", {"SET NAMES gbk"}, "gbk"},
      {"big5", {"SET NAMES big5"}, "big5"},
      {"sjis", {"SET NAMES sjis"}, "sjis"},
      // Without session tracking the client library is not told of the change.
      {"gbk_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES gbk"}, "gbk"},
      {"big5_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES big5"}, "big5"},
      {"sjis_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES sjis"}, "sjis"},
      {"gbk_no_backslash_escapes",
       {"SET SESSION session_track_system_variables = ''", "SET NAMES gbk",
        "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"},
       "gbk"},
  };
  return all;
}

class Hostile : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    side.exec("DROP DATABASE IF EXISTS vtb_hostile");
    side.exec("CREATE DATABASE vtb_hostile");
    side.exec("CREATE TABLE vtb_hostile.canary (id int)");
    side.exec("INSERT INTO vtb_hostile.canary VALUES (1)");
    // Binary columns keep any byte; s is a memo, v a text column.
    side.exec("CREATE TABLE vtb_hostile.t (id int PRIMARY KEY, s longblob, v varbinary(255), n int)");
    side.exec("INSERT INTO vtb_hostile.t VALUES (99, 'keep', 'keep', 0)");
    server = testing::connectServer(rec.block(), "vtb_hostile");
    ASSERT_FALSE(server->lError.asBool());
    // Megabytes of hostile texts stay out of the general log that other tests scan.
    ASSERT_TRUE(server->SqlQuery("SET SESSION sql_log_off = 1"));
    for (const std::string& sql : GetParam().setup) ASSERT_TRUE(server->SqlQuery(sql)) << sql;
    QueryPtr q = server->Query("SELECT @@character_set_client");
    ASSERT_EQ(q->FieldGet(1).asString().substr(0, std::string(GetParam().charset).size()), GetParam().charset);
    q->End();
  }
  void TearDown() override {
    if (server) server->End();
    side.exec("DROP DATABASE IF EXISTS vtb_hostile");
  }

  // The canary table and the bystander row are as they were.
  void expectUntouched() {
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.canary"), "1");
    EXPECT_EQ(side.rows("SELECT s, v, n FROM vtb_hostile.t WHERE id = 99"),
              (std::vector<std::vector<std::string>>{{"keep", "keep", "0"}}));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  }
  std::vector<std::string> texts() const {
    return hostileTexts(std::string(GetParam().name) == "plain" ? (1u << 20) : (16u << 10));
  }
  std::string stored(const std::string& column, int id) {
    return side.scalar("SELECT " + column + " FROM vtb_hostile.t WHERE id = " + std::to_string(id));
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
};

TEST_P(Hostile, InsertStoresTheBytes) {
  int id = 0;
  for (const std::string& text : texts()) {
    SCOPED_TRACE(shown(text));
    ++id;
    EXPECT_TRUE(server->Insert("t", Value::array({"id", "s", "v"}),
                               Value::array({id, Value::memo(text), text.size() < 256 ? Value(text) : Value("x")})));
    EXPECT_TRUE(stored("s", id) == text);
    if (text.size() < 256) {
      EXPECT_TRUE(stored("v", id) == text);
    }
    expectUntouched();
  }
}

TEST_P(Hostile, UpdateStoresTheBytes) {
  side.exec("INSERT INTO vtb_hostile.t VALUES (1, 'a', 'a', 0)");
  for (const std::string& text : texts()) {
    SCOPED_TRACE(shown(text));
    EXPECT_TRUE(server->Update("t", Value::array({"s"}), Value::array({Value::memo(text)}), "id = 1"));
    EXPECT_TRUE(stored("s", 1) == text);
    // A relative change appends to the memo column as data too.
    if (text.size() < 1000) {
      EXPECT_TRUE(server->Update("t", Value::array({"s"}), Value::array({Value::array({Value::memo(text)})}), "id = 1"));
      EXPECT_TRUE(stored("s", 1) == text + text);
    }
    expectUntouched();
  }
}

// FieldPut escapes and Save writes; the row is found by its key.
TEST_P(Hostile, FieldPutAndSaveStoreTheBytes) {
  side.exec("INSERT INTO vtb_hostile.t VALUES (1, 'a', 'a', 0)");
  QueryPtr q = server->Query("SELECT * FROM t WHERE id = 1");
  ASSERT_EQ(q->LastRec(), 1);
  for (const std::string& text : texts()) {
    SCOPED_TRACE(shown(text));
    q->FieldPut("s", Value::memo(text));
    if (text.size() < 256) q->send("_v", text);  // the assignment by name
    EXPECT_TRUE(q->Save().asBool());
    EXPECT_TRUE(stored("s", 1) == text);
    if (text.size() < 256) {
      EXPECT_TRUE(stored("v", 1) == text);
    }
    expectUntouched();
  }
  q->End();
}

// Writes through a row object (as after GetBlankRow) store the value as given;
// Save must still write it as data.
TEST_P(Hostile, RowObjectSaveStoresTheBytes) {
  QueryPtr q = server->Query("SELECT * FROM t WHERE id = 99");
  ASSERT_EQ(q->LastRec(), 1);
  int id = 100;
  for (const std::string& text : texts()) {
    SCOPED_TRACE(shown(text));
    ++id;
    RowPtr row = q->GetBlankRow();
    ASSERT_TRUE(row);
    row->send("_id", id);
    row->send("_s", Value::memo(text));
    if (text.size() < 256) row->send("_v", text);
    EXPECT_TRUE(q->Save().asBool());
    EXPECT_TRUE(stored("s", id) == text);
    if (text.size() < 256) {
      EXPECT_TRUE(stored("v", id) == text);
    }
    expectUntouched();
    // An edit of the same row through a row object of a loaded row.
    QueryPtr one = server->Query("SELECT * FROM t WHERE id = " + std::to_string(id));
    RowPtr edit = one->GetRowObj();
    edit->send("_s", Value::memo("y" + text));
    EXPECT_TRUE(one->Save().asBool());
    EXPECT_TRUE(stored("s", id) == "y" + text);
    one->End();
    expectUntouched();
  }
  q->End();
}

// The row-matching conditions: loaded hostile values (a text key, or every
// column of a table without one) find exactly their own row.
TEST_P(Hostile, RowConditionsMatchOnlyTheirRow) {
  side.exec("CREATE TABLE vtb_hostile.pk (k varbinary(255) PRIMARY KEY, n int)");
  // n starts as NULL: a loaded 0 would be matched as NULL, by the literal rules.
  side.exec("CREATE TABLE vtb_hostile.nk (a longblob, b varbinary(255), n int)");
  const std::vector<std::string> all = texts();
  SideConnection raw("vtb_hostile");
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string esc = db::escape(all[i], raw.handle());
    if (all[i].size() < 256) raw.exec("INSERT INTO pk VALUES ('" + esc + "', 0)");
    raw.exec("INSERT INTO nk VALUES ('" + esc + "', '" + (all[i].size() < 256 ? esc : std::string("x")) + "', NULL)");
  }

  QueryPtr pk = server->Query("SELECT * FROM pk");
  for (long r = 1; r <= pk->LastRec(); ++r) {
    pk->GoTo(r);
    SCOPED_TRACE(shown(pk->FieldGet("k").asString()));
    EXPECT_TRUE(pk->FieldPut("n", r).isNumber());
    EXPECT_TRUE(pk->Save().asBool());
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.pk WHERE n = " + std::to_string(r)), "1");
  }
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.pk WHERE n = 0"), "0");
  pk->End();

  QueryPtr nk = server->Query("SELECT * FROM nk");
  ASSERT_EQ(nk->LastRec(), static_cast<long>(all.size()));
  for (long r = 1; r <= nk->LastRec(); ++r) {
    nk->GoTo(r);
    SCOPED_TRACE(shown(nk->FieldGet("a").asString()));
    const std::string where = nk->BuildDataWhere();
    nk->FieldPut("n", r);
    EXPECT_TRUE(nk->Save().asBool());
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.nk WHERE n = " + std::to_string(r)), "1")
        << shown(where);
  }
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.nk WHERE n IS NULL"), "0");
  // Deleting by the same conditions removes one row each time.
  nk->GoTop();
  EXPECT_TRUE(nk->Delete());
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.nk"), std::to_string(all.size() - 1));
  nk->End();
  expectUntouched();
}

// Account names, hosts and passwords with quotes and backslashes are data.
TEST_P(Hostile, UsersKeepTheirNames) {
  const std::vector<std::string> names = {"u'x", "u\\", "u\\'; drop table canary; --", "u' identified by 'x"};
  auto accounts = [&](const std::string& user) {
    return side.scalar("SELECT COUNT(*) FROM mysql.user WHERE Host = 'localhost' AND User = '" +
                       db::escape(user, side.handle()) + "'");
  };
  for (const std::string& user : names) {
    SCOPED_TRACE(user);
    const std::string renamed = user + "'2";
    side.exec("DROP USER IF EXISTS '" + db::escape(user, side.handle()) + "'@'localhost'");
    side.exec("DROP USER IF EXISTS '" + db::escape(renamed, side.handle()) + "'@'localhost'");
    const std::string password = "p'w\\\"; --";
    EXPECT_TRUE(server->AddUser("localhost", user, password, "vtb_hostile"));
    EXPECT_EQ(accounts(user), "1");
    // The password is the one given: the account logs in with it.
    db::Handle login = db::connect(nullptr, user.c_str(), password.c_str(), 0, 0, "vtb_hostile");
    EXPECT_EQ(db::errnum(login), 0u) << db::error(login);
    db::close(login);
    EXPECT_TRUE(server->RenameUser(user, "localhost", renamed));
    EXPECT_EQ(accounts(user), "0");
    EXPECT_EQ(accounts(renamed), "1");
    EXPECT_TRUE(server->RevokePrivileges("localhost", renamed, "vtb_hostile"));
    side.exec("DROP USER '" + db::escape(renamed, side.handle()) + "'@'localhost'");
    expectUntouched();
  }
}

// Table names with quotes find their own table's counter, and a name meant
// to widen the condition finds none.
TEST_P(Hostile, GetAutoIncrementReadsOnlyTheNamedTable) {
  side.exec("CREATE TABLE vtb_hostile.`a'b` (id int AUTO_INCREMENT PRIMARY KEY) AUTO_INCREMENT = 42");
  side.exec("CREATE TABLE vtb_hostile.`a\\` (id int AUTO_INCREMENT PRIMARY KEY) AUTO_INCREMENT = 7");
  side.exec("CREATE TABLE vtb_hostile.plain (id int AUTO_INCREMENT PRIMARY KEY) AUTO_INCREMENT = 5");
  EXPECT_EQ(server->GetAutoIncrement("a'b").asInt(), 42);
  EXPECT_EQ(server->GetAutoIncrement("a\\").asInt(), 7);
  EXPECT_EQ(server->GetAutoIncrement("x' OR table_name = 'plain").asInt(), 0);
  EXPECT_EQ(server->GetAutoIncrement("x' OR '1'='1").asInt(), 0);
  EXPECT_EQ(server->GetAutoIncrement(bytes("plain\0' OR 1=1 -- ", 19)).asInt(), 0);
  EXPECT_EQ(server->cDBName.asString(), "vtb_hostile");
  EXPECT_EQ(server->GetAutoIncrement("plain").asInt(), 5);
  expectUntouched();
}

// The benchmark finds each row by its notes: with hostile notes every method
// updates exactly the rows whose notes they are, and the notes stay as they were.
TEST_P(Hostile, BenchmarkFilterMatchesOnlyItsNotes) {
  side.exec(
      "CREATE TABLE vtb_hostile.clientes (id int NOT NULL AUTO_INCREMENT, married tinyint(1) NOT NULL DEFAULT 0, "
      "age int NOT NULL DEFAULT 0, salary decimal(12,2) NOT NULL DEFAULT 0, notes varchar(120) NOT NULL DEFAULT '', "
      "PRIMARY KEY (id), KEY idx_notes (notes))");
  const std::vector<std::string> notes = {"x'; DROP TABLE canary; --", "a\\", "\\'", "' OR '1'='1",
                                          bytes("a\0b'", 4), "x\\' OR notes <> '"};
  SideConnection raw("vtb_hostile");
  for (const std::string& n : notes)
    raw.exec("INSERT INTO clientes (notes) VALUES ('" + db::escape(n, raw.handle()) + "')");
  raw.exec("INSERT INTO clientes (notes) VALUES ('bystander')");

  const long count = static_cast<long>(notes.size());  // the bystander is last and not selected

  // The condition alone finds its own row and no other.
  QueryPtr q = server->Query("SELECT * FROM clientes ORDER BY id");
  RowKey key;  // reused row after row, as the program does
  for (long r = 1; r <= count; ++r) {
    q->GoTo(r);
    SCOPED_TRACE(shown(notes[static_cast<std::size_t>(r - 1)]));
    rowKey(*server, *q, key);
    // On the connection it was escaped for.
    QueryPtr found = server->Query("SELECT id FROM clientes WHERE " + key.filter.str());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->LastRec(), 1);
    EXPECT_EQ(found->FieldGet(1).asInt(), r);
    found->End();
  }
  q->End();

  for (int method = 1; method <= 4; ++method) {
    SCOPED_TRACE(method);
    raw.exec("UPDATE clientes SET married = 0, age = 0, salary = 0");
    Screen screen(24, 80, [] { return KeyEvent{}; });
    UPDATES(server, method, count, updateMethods(), screen);
    const std::string age = method == 3 ? "30" : "40";
    EXPECT_EQ(raw.scalar("SELECT COUNT(*) FROM clientes WHERE age = " + age), std::to_string(count));
    EXPECT_EQ(raw.rows("SELECT age FROM clientes WHERE notes = 'bystander'"),
              (std::vector<std::vector<std::string>>{{"0"}}));
    for (std::size_t i = 0; i < notes.size(); ++i)
      EXPECT_TRUE(raw.scalar("SELECT notes FROM clientes WHERE id = " + std::to_string(i + 1)) == notes[i]) << i;
    expectUntouched();
  }
}

// A row whose text key was stored by anyone: deleting it through another
// object deletes that row alone, with and without a key.
TEST_P(Hostile, SecondOrderDeleteRemovesOnlyItsRow) {
  side.exec("CREATE TABLE vtb_hostile.k (k varbinary(255) PRIMARY KEY, n int)");
  side.exec("CREATE TABLE vtb_hostile.nokey (k varbinary(255), n int)");
  const std::vector<std::string> keys = {"a' OR 1=1 #", "a\\' OR 1=1 #", "\xbf' OR 1=1 #", "\xa1\\' OR ''='",
                                         "a' OR 1=1 --x"};
  SideConnection raw("vtb_hostile");
  for (const char* table : {"k", "nokey"}) {
    raw.exec(std::string("INSERT INTO ") + table + " VALUES ('bystander', 0)");
    for (const std::string& key : keys)
      raw.exec(std::string("INSERT INTO ") + table + " VALUES ('" + db::escape(key, raw.handle()) + "', 1)");
  }
  for (const char* table : {"k", "nokey"}) {
    SCOPED_TRACE(table);
    std::size_t left = keys.size() + 1;
    for (const std::string& key : keys) {
      SCOPED_TRACE(shown(key));
      QueryPtr q = server->Query(std::string("SELECT * FROM ") + table + " WHERE n = 1 ORDER BY k");
      ASSERT_GE(q->LastRec(), 1);
      EXPECT_TRUE(q->Delete());
      --left;
      EXPECT_EQ(side.scalar(std::string("SELECT COUNT(*) FROM vtb_hostile.") + table), std::to_string(left));
      EXPECT_EQ(side.scalar(std::string("SELECT COUNT(*) FROM vtb_hostile.") + table + " WHERE k = 'bystander'"), "1");
      q->End();
    }
  }
  expectUntouched();
}

// Arguments that must be names are refused before anything is sent: no
// account, database, index or column is created, widened or dropped.
TEST_P(Hostile, NamesAreCheckedBeforeAnythingIsSent) {
  side.exec("CREATE TABLE vtb_hostile.victim (id int PRIMARY KEY, secret int)");
  // Statements this connection sent: Questions counts the asking statement too.
  auto questions = [&] {
    QueryPtr q = server->Query("SHOW SESSION STATUS LIKE 'Questions'");
    const long long n = std::stoll(std::string(trimBlanks(q->FieldGet(2).asString())));
    q->End();
    return n;
  };
  const std::string bad[] = {"*.* TO u4@localhost IDENTIFIED BY \"pw4\" #", "x ON victim (id) ; drop", "t; DROP",
                             "a b", "victim drop column secret,", "`x` OR 1", "x'y", "x--", "`unclosed", "db.t.c.d"};
  using Call = std::function<void(const Value&)>;
  const std::vector<std::pair<const char*, Call>> calls = {
      {"AddUser database", [&](const Value& n) { server->AddUser("localhost", "vtb_u4", "pw", n); }},
      {"RevokePrivileges database", [&](const Value& n) { server->RevokePrivileges("localhost", "vtb_u4", n); }},
      {"CreateIndex index", [&](const Value& n) { server->CreateIndex(n, "victim", Value::array({"id"})); }},
      {"CreateIndex table", [&](const Value& n) { server->CreateIndex("i", n, Value::array({"id"})); }},
      {"CreateIndex column", [&](const Value& n) { server->CreateIndex("i", "victim", Value::array({n})); }},
      {"DeleteIndex index", [&](const Value& n) { server->DeleteIndex(n, "victim"); }},
      {"Insert table", [&](const Value& n) { server->Insert(n, Value::array({"id"}), Value::array({5})); }},
      {"Insert column", [&](const Value& n) { server->Insert("victim", Value::array({n}), Value::array({5})); }},
      {"Update table", [&](const Value& n) { server->Update(n, Value::array({"id"}), Value::array({5})); }},
      {"Update column", [&](const Value& n) { server->Update("victim", Value::array({n}), Value::array({5})); }},
      {"DBCreate", [&](const Value& n) { server->DBCreate(n); }},
      {"DeleteDB", [&](const Value& n) { server->DeleteDB(n); }},
      {"DeleteTables", [&](const Value& n) { server->DeleteTables(Value::array({"canary", n})); }},
      {"LastDownData column", [&](const Value& n) { server->LastDownData("victim", n); }},
      {"GetRowsFromTable", [&](const Value& n) { server->GetRowsFromTable(n); }},
      {"ChangeEngine", [&](const Value& n) { server->ChangeEngine("victim", n); }},
      {"CreateTable column",
       [&](const Value& n) {
         server->CreateTable("made", Value::array({Value::array({n, "N", 5, 0, false, Value()})}));
       }},
      {"Backup table",
       [&](const Value& n) {
         const std::string dump = serverEnv().tmpdir + "/hostile_names.dump";
         std::remove(dump.c_str());
         server->Backup(Value::array({"canary", n}), dump);
         EXPECT_FALSE(std::ifstream(dump).good()) << "no dump is written";
       }},
      {"DropUser", [&](const Value& n) { server->DropUser(Value(std::string(n.asString()) + "' OR 1")); }},
  };
  for (const auto& [what, call] : calls) {
    for (const std::string& name : bad) {
      SCOPED_TRACE(std::string(what) + ": " + name);
      const long long before = questions();
      rec.calls->clear();
      call(Value(name));
      EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNotAName});
      EXPECT_EQ(questions() - before, 1) << "something was sent";
    }
  }
  rec.calls->clear();
  EXPECT_EQ(side.rows("SHOW COLUMNS FROM vtb_hostile.victim").size(), 2u);
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM mysql.user WHERE User = 'u4'"), "0");
  // Identifiers of every accepted form still go through.
  EXPECT_TRUE(server->CreateIndex("`my index`", "vtb_hostile.victim", Value::array({"`secret`"})));
  EXPECT_TRUE(server->Insert("`victim`", Value::array({"victim.id", "`secret`"}), Value::array({7, 8})));
  EXPECT_EQ(side.scalar("SELECT secret FROM vtb_hostile.victim WHERE id = 7"), "8");
  expectUntouched();
}

// Names read from the server are quoted where they are not plain identifiers.
TEST_P(Hostile, NamesFromTheServerAreQuoted) {
  side.exec("CREATE TABLE vtb_hostile.`victim drop column secret,` (id int PRIMARY KEY, secret int)");
  side.exec("CREATE TABLE vtb_hostile.`order` (id int PRIMARY KEY, `key` varchar(10), `a``b` int)");
  side.exec("INSERT INTO vtb_hostile.`order` VALUES (1, 'k', 2)");
  server->ChangeEngineAll("InnoDB");
  server->Compact();
  EXPECT_EQ(side.rows("SHOW COLUMNS FROM vtb_hostile.`victim drop column secret,`").size(), 2u);
  // Columns named by reserved words and backquotes are written back quoted.
  QueryPtr q = server->Query("SELECT * FROM `order`");
  q->FieldPut("key", "k2");
  q->FieldPut("a`b", 3);
  EXPECT_TRUE(q->Save().asBool());
  EXPECT_EQ(side.rows("SELECT `key`, `a``b` FROM vtb_hostile.`order`"), (std::vector<std::vector<std::string>>{{"k2", "3"}}));
  EXPECT_TRUE(q->Delete());
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.`order`"), "0");
  q->End();
  expectUntouched();
}

// Listing patterns are data: a quote cannot end them, and the existence
// checks match the name itself, not a pattern.
TEST_P(Hostile, ListingPatternsAreData) {
  EXPECT_FALSE(server->TableExist("x' OR 1=1 #"));
  EXPECT_FALSE(server->TableExist("%"));
  EXPECT_FALSE(server->TableExist("canar_"));
  EXPECT_TRUE(server->TableExist("canary"));
  EXPECT_FALSE(server->DBExist("%"));
  EXPECT_FALSE(server->DBExist("vtb\\_hostile' OR 1=1 #"));
  EXPECT_TRUE(server->DBExist("vtb_hostile"));
  EXPECT_EQ(server->ListTables("can%").len(), 1u);
  EXPECT_EQ(server->ListTables("x' UNION SELECT 1 #").len(), 0u);
  expectUntouched();
}

INSTANTIATE_TEST_SUITE_P(Modes, Hostile, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltro
