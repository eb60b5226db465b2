// Hostile texts through every path that writes SQL: quotes, backslashes, zero
// bytes, invalid UTF-8 and 1 MB sizes are stored byte for byte, and neither
// another row nor the canary table is touched.
#include <gtest/gtest.h>

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
std::vector<std::string> hostileTexts() {
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
  };
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  texts.push_back("<" + all + ">");
  std::string big;
  big.reserve(1 << 20);
  for (std::size_t i = 0; big.size() < (1u << 20); ++i) big += "'\\\"" + std::string(1, static_cast<char>(i % 251 + 1));
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

class Hostile : public ::testing::Test {
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
  std::string stored(const std::string& column, int id) {
    return side.scalar("SELECT " + column + " FROM vtb_hostile.t WHERE id = " + std::to_string(id));
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
};

TEST_F(Hostile, InsertStoresTheBytes) {
  int id = 0;
  for (const std::string& text : hostileTexts()) {
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

TEST_F(Hostile, UpdateStoresTheBytes) {
  side.exec("INSERT INTO vtb_hostile.t VALUES (1, 'a', 'a', 0)");
  for (const std::string& text : hostileTexts()) {
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
TEST_F(Hostile, FieldPutAndSaveStoreTheBytes) {
  side.exec("INSERT INTO vtb_hostile.t VALUES (1, 'a', 'a', 0)");
  QueryPtr q = server->Query("SELECT * FROM t WHERE id = 1");
  ASSERT_EQ(q->LastRec(), 1);
  for (const std::string& text : hostileTexts()) {
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
TEST_F(Hostile, RowObjectSaveStoresTheBytes) {
  QueryPtr q = server->Query("SELECT * FROM t WHERE id = 99");
  ASSERT_EQ(q->LastRec(), 1);
  int id = 100;
  for (const std::string& text : hostileTexts()) {
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
TEST_F(Hostile, RowConditionsMatchOnlyTheirRow) {
  side.exec("CREATE TABLE vtb_hostile.pk (k varbinary(255) PRIMARY KEY, n int)");
  // n starts as NULL: a loaded 0 would be matched as NULL, by the literal rules.
  side.exec("CREATE TABLE vtb_hostile.nk (a longblob, b varbinary(255), n int)");
  const std::vector<std::string> texts = hostileTexts();
  SideConnection raw("vtb_hostile");
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string esc = db::escape(texts[i], raw.handle());
    if (texts[i].size() < 256) raw.exec("INSERT INTO pk VALUES ('" + esc + "', 0)");
    raw.exec("INSERT INTO nk VALUES ('" + esc + "', '" + (texts[i].size() < 256 ? esc : std::string("x")) + "', NULL)");
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
  ASSERT_EQ(nk->LastRec(), static_cast<long>(texts.size()));
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
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.nk"), std::to_string(texts.size() - 1));
  nk->End();
  expectUntouched();
}

// Account names, hosts and passwords with quotes and backslashes are data.
TEST_F(Hostile, UsersKeepTheirNames) {
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
TEST_F(Hostile, GetAutoIncrementReadsOnlyTheNamedTable) {
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
TEST_F(Hostile, BenchmarkFilterMatchesOnlyItsNotes) {
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
    EXPECT_EQ(side.rows("SELECT id FROM vtb_hostile.clientes WHERE " + key.filter.str()),
              (std::vector<std::vector<std::string>>{{std::to_string(r)}}));
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

}  // namespace
}  // namespace veltro
