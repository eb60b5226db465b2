// Hostile SQL text and names where the library reads SQL or writes a name: the
// query object's clause parser and rebuilds, names walked by character of the
// connection's set, Restore's checker, the character set followed after any
// statement that may change it, and password literals in reported texts.
// Every parametrised case runs in each session mode of the hostile suite.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "hostile_fixture.h"
#include "server_support.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using hostile::bytes;
using hostile::Mode;
using hostile::modes;
using hostile::shown;
using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

class HostileSql : public hostile::Hostile {
 protected:
  // A byte of the mode's set that a multi-byte character starts with, or a
  // byte that is no character at all in UTF-8.
  std::string lead() const { return std::string(1, GetParam().lead ? GetParam().lead : '\x95'); }
  bool multiByte() const { return GetParam().lead != 0; }
  std::string count(const std::string& where) {
    return side.scalar("SELECT COUNT(*) FROM vtb_hostile.t WHERE " + where);
  }
};

// Literals built as the README advises, holding keywords, comments and
// quotes: every rebuild of the statement keeps the filter, and a Delete acts
// on the query's own table and row.
TEST_P(HostileSql, QueryRebuildsKeepLiteralsWhole) {
  const std::vector<std::string> texts = {
      "x FROM canary #", "' FROM canary #", "x WHERE 1=1 ORDER BY id LIMIT 1", "a` FROM canary #",
      "x -- y", "x /* y", "x */ FROM canary", "|FROM canary|", "x ) FROM canary #", "a, b FROM canary",
      lead() + "` FROM canary #", lead() + "\\' FROM canary #", lead() + "' FROM canary #"};
  const long long h = server->handle();
  int id = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE(shown(text));
    ++id;
    ASSERT_TRUE(server->Insert("t", Value::array({"id", "s", "v"}), Value::array({id, Value::memo(text), "v"})));
    const std::string literal = sqlLiteral(Value::memo(text), h);
    QueryPtr q = server->Query("SELECT id, s FROM t WHERE s = " + literal);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->LastRec(), 1);
    q->SetPages(5);
    EXPECT_EQ(q->LastRec(), 1);
    q->Refresh();
    EXPECT_EQ(q->LastRec(), 1);
    EXPECT_EQ(server->GetRowsFromQry(Value(std::static_pointer_cast<Object>(q))).asInt(), 1);
    q->SetOrder("id");
    EXPECT_EQ(q->LastRec(), 1);
    EXPECT_EQ(q->FieldGet("id").asInt(), id);
    q->End();

    // The literal in the select list: the table is the FROM's, not the literal's.
    QueryPtr d = server->Query("SELECT " + literal + " AS tag, id FROM t WHERE id = " + std::to_string(id));
    ASSERT_EQ(d->LastRec(), 1);
    EXPECT_TRUE(d->Delete());
    EXPECT_EQ(count("id = " + std::to_string(id)), "0");
    d->End();
    expectUntouched();
  }
  // Comments beside the table name are no part of it.
  side.exec("INSERT INTO vtb_hostile.t VALUES (1, 'a', 'a', 0), (2, 'b', 'b', 0)");
  QueryPtr c = server->Query("SELECT * FROM t /* FROM canary */ WHERE id = 1");
  EXPECT_EQ(c->aTables.at(1).asString(), "t /* FROM canary */");
  EXPECT_TRUE(c->Delete());
  EXPECT_EQ(count("id IN (1, 2)"), "1");
  c->End();
  // A FROM item that is not one table is refused, not guessed at.
  QueryPtr j = server->Query("SELECT t.id FROM t JOIN canary ON canary.id = t.n WHERE t.id = 2");
  EXPECT_FALSE(j->Delete());
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrDeleteTables});
  rec.calls->clear();
  j->End();
  expectUntouched();
}

// Names the byte-wise check took for whole names end early in the server's
// reading of a multi-byte set (a backquote or backslash as second byte), or
// are no characters of the set at all: each is refused before anything is
// sent, in every operation that takes a name.
TEST_P(HostileSql, NamesAreCheckedByCharacter) {
  side.exec("DROP USER IF EXISTS 'vtb_u5'@'localhost'");
  const std::string l = lead();
  std::vector<std::string> names = {"`" + l + "`.`, canary -- `", "`" + l + "`", "`" + l + "\\`, canary",
                                    std::string(65, 'n'), std::string(3000, 'n'), "`" + std::string(65, 'q') + "`",
                                    bytes("`a\0b`", 5)};
  // Whole characters of a multi-byte set, and no characters at all in UTF-8.
  const std::vector<std::string> characters = {"`" + l + "``", "a" + l + "`"};
  if (!multiByte()) names.insert(names.end(), characters.begin(), characters.end());
  const std::vector<std::pair<const char*, Call>> calls = {
      {"DeleteTables", [&](const Value& n) { server->DeleteTables(Value::array({n})); }},
      {"CreateTable", [&](const Value& n) { server->CreateTable(n, Value::array({Value::array({"a", "N", 5, 0, false, Value()})})); }},
      {"CreateTable column", [&](const Value& n) { server->CreateTable("made", Value::array({Value::array({n, "N", 5, 0, false, Value()})})); }},
      {"Insert", [&](const Value& n) { server->Insert(n, Value::array({"id"}), Value::array({5})); }},
      {"Update column", [&](const Value& n) { server->Update("t", Value::array({n}), Value::array({5})); }},
      {"AddUser database", [&](const Value& n) { server->AddUser("localhost", "vtb_u5", "pw", n); }},
      {"IsAutoIncrement", [&](const Value& n) { server->IsAutoIncrement("id", n); }},
      {"IsAutoIncrement column", [&](const Value& n) { server->IsAutoIncrement(n, "t"); }},
      {"TableStructure", [&](const Value& n) { server->TableStructure(n); }},
      {"GetRowsFromTable", [&](const Value& n) { server->GetRowsFromTable(n); }},
      {"Compact", [&](const Value& n) { server->Compact(n); }},
  };
  expectNamesRefused(calls, names);
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM mysql.user WHERE User = 'vtb_u5'"), "0");
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'vtb_hostile'"), "2");
  expectUntouched();

  // Those characters make names of their own: created and dropped by exactly that name.
  for (const std::string& name : multiByte() ? characters : std::vector<std::string>{}) {
    SCOPED_TRACE(shown(name));
    EXPECT_TRUE(server->CreateTable(name, Value::array({Value::array({"a", "N", 5, 0, false, Value()})})));
    EXPECT_EQ(server->TableStructure(name).len(), 1u);
    EXPECT_TRUE(server->DeleteTables(Value::array({name})));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    EXPECT_EQ(server->TableStructure(name).len(), 0u);
    rec.calls->clear();
  }
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  // A name of 64 characters is a name, whatever bytes they take.
  const std::string longest = "`" + std::string(63, 'n') + (multiByte() ? l + "``" : std::string("\xc3\xa9`"));
  EXPECT_TRUE(server->CreateTable(longest, Value::array({Value::array({"a", "N", 5, 0, false, Value()})})))
      << (rec.calls->empty() ? std::string() : rec.calls->front().extra.asString() + " " + server->ErrorTxt());
  EXPECT_EQ(server->TableStructure(longest).len(), 1u);
  EXPECT_TRUE(server->DeleteTables(Value::array({longest})));
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'vtb_hostile'"), "2");
  expectUntouched();
}

// Lower-casing a name leaves every byte of a multi-byte character alone: the
// table dropped is the one named, not one whose character differs in its
// second byte.
TEST_P(HostileSql, LowerCasingKeepsMultiByteCharacters) {
  const std::string named = multiByte() ? "t" + lead() + "A" : std::string("t\xc3\x81");
  const std::string other = multiByte() ? "t" + lead() + "a" : std::string("t\xc3\xa1x");
  ASSERT_TRUE(server->SqlQuery("CREATE TABLE `" + named + "` (id int)"));
  ASSERT_TRUE(server->SqlQuery("CREATE TABLE `" + other + "` (id int)"));
  EXPECT_TRUE(server->TableExist(named));
  EXPECT_TRUE(server->IsAutoIncrement("id", named) == false);
  EXPECT_EQ(server->TableStructure(named).len(), 1u);
  EXPECT_TRUE(server->DeleteTables(Value::array({named})));
  EXPECT_FALSE(server->TableExist(named));
  EXPECT_TRUE(server->TableExist(other));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  expectUntouched();
}

// A dump that does not set its session itself: Restore reads it in binary,
// as its checker does, so a lead byte before a backslash-quote or a
// backquote neither hides an INSERT of a password hash nor widens a DROP.
TEST_P(HostileSql, RestoreReadsTheDumpAsItsChecker) {
  const std::string l = lead();
  const std::string dump = serverEnv().tmpdir + "/hostile_restore_" + GetParam().name + ".sql";
  {
    std::ofstream out(dump, std::ios::binary | std::ios::trunc);
    out << "-- ** BEGIN t\r\n"
        << "INSERT INTO `t` (`id`,`s`) VALUES (5,'" << l
        << "\\'),(6,(SELECT authentication_string FROM mysql.user LIMIT 1)) -- ');\r\n"
        << "-- ** BEGIN " << l << "`, canary -- x\r\n"
        << "DROP TABLE IF EXISTS `" << l << "``, canary -- x`;\r\n"
        << "-- ** BEGIN t\r\n"
        << "INSERT INTO `t` (`id`,`s`) VALUES (7,'" << l << "\\''),(8,'x');\r\n";
  }
  server->Restore(dump);
  // Every line is what the checker read: two rows, and a DROP of a table by
  // its whole name, which the server may refuse (1300: no valid name in its
  // own character set).
  // It has no closing line: that is said as well.
  for (long long n : rec.numbers()) EXPECT_TRUE(n == 1300 || n == kErrDumpIncomplete) << n;
  EXPECT_EQ(side.scalar("SELECT GROUP_CONCAT(id ORDER BY id) FROM vtb_hostile.t"), "5,7,8,99");
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.t t JOIN mysql.user u ON t.s = u.authentication_string "
                        "WHERE u.authentication_string <> ''"),
            "0");
  EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.canary"), "1");
  EXPECT_EQ(side.rows("SELECT s, v, n FROM vtb_hostile.t WHERE id = 99"),
            (std::vector<std::vector<std::string>>{{"keep", "keep", "0"}}));
  // The session the caller had is back.
  QueryPtr q = server->Query("SELECT @@character_set_client");
  EXPECT_EQ(q->FieldGet(1).asString().substr(0, std::string(GetParam().charset).size()), GetParam().charset);
  q->End();
  std::remove(dump.c_str());
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileSql, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// Every way a statement can change the connection's character set is
// followed, with the server's session tracking off: values written afterwards
// are escaped as the server then reads them.
TEST(HostileCharset, FollowedAfterEveryStatementKind) {
  Recorder rec;
  SideConnection side;
  side.exec("DROP DATABASE IF EXISTS vtb_charset");
  side.exec("CREATE DATABASE vtb_charset");
  side.exec("CREATE TABLE vtb_charset.t (id int PRIMARY KEY, s longblob)");
  side.exec("CREATE TABLE vtb_charset.canary (id int)");
  side.exec("INSERT INTO vtb_charset.canary VALUES (1)");
  ServerPtr server = testing::connectServer(rec.block(), "vtb_charset");
  ASSERT_TRUE(server->SqlQuery("SET SESSION session_track_system_variables = ''"));
  ASSERT_TRUE(server->SqlQuery("CREATE PROCEDURE p() SET NAMES gbk"));
  // A gbk character whose second byte is a backslash, then a quote.
  const std::string text = "\x95\\' OR 1=1 -- x";
  struct Switch {
    std::vector<std::string> statements;
    bool fails;
  };
  const std::vector<Switch> switches = {
      {{"SET NAMES gbk"}, false},
      {{"PREPARE s FROM 'SET NAMES gbk'", "EXECUTE s"}, false},
      {{"EXECUTE IMMEDIATE 'SET NAMES gbk'"}, false},
      {{"BEGIN NOT ATOMIC SET NAMES gbk; END"}, false},
      {{"/*!40101 SET NAMES gbk */"}, false},
      {{"/* a comment */ set character_set_client = gbk, character_set_connection = gbk"}, false},
      {{"SET @a = 1, NAMES gbk"}, false},
      {{"CALL p()"}, false},  // a routine's SET NAMES ends with it: utf8mb4 still
      {{"BEGIN NOT ATOMIC SET NAMES gbk; SIGNAL SQLSTATE '45000'; END"}, true},
  };
  int id = 0;
  for (const Switch& s : switches) {
    SCOPED_TRACE(s.statements.back());
    ASSERT_TRUE(server->SqlQuery("SET NAMES utf8mb4"));
    for (const std::string& sql : s.statements) EXPECT_EQ(server->SqlQuery(sql), !s.fails);
    EXPECT_EQ(rec.calls->size(), s.fails ? 1u : 0u);
    rec.calls->clear();
    ++id;
    EXPECT_TRUE(server->Insert("t", Value::array({"id", "s"}), Value::array({id, Value::memo(text)})));
    const std::string stored = side.scalar("SELECT s FROM vtb_charset.t WHERE id = " + std::to_string(id));
    EXPECT_TRUE(stored == text) << shown(stored);
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_charset.t"), std::to_string(id));
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_charset.canary"), "1");
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  }
  server->End();
  side.exec("DROP DATABASE vtb_charset");
}

// Statement texts the library reports carry no password: a statement that
// could not be sent, the last of a failed list, and the server's own message
// quoting the statement.
TEST(HostileCharset, ReportedStatementsMaskPasswords) {
  Recorder rec;
  ServerPtr server = testing::connectServer(rec.block());
  const std::string secret = "s3cr3t-pw";
  auto leaks = [&] {
    for (const auto& r : *rec.calls)
      if (r.extra.asString().find(secret) != std::string::npos) return true;
    return server->ErrorTxt().find(secret) != std::string::npos;
  };
  // The server's message quotes the statement from the point it could not read.
  EXPECT_FALSE(server->SqlQuery("GRANT SELECT ON *.* TO 'vtb_nobody'@'localhost' IDENTIFIED BY '" + secret + "' (("));
  EXPECT_EQ(rec.calls->size(), 1u);
  EXPECT_FALSE(leaks());
  rec.calls->clear();
  // With a callback the list goes on after the failed statement: its report is what is checked.
  server->MultiQuery(
      Value::array({"SELECT 1", "SET PASSWORD FOR 'vtb_nobody'@'localhost' = PASSWORD('" + secret + "')"}));
  EXPECT_FALSE(rec.calls->empty());
  EXPECT_FALSE(leaks());
  rec.calls->clear();
  server->End();
  EXPECT_FALSE(server->AddUser("localhost", "vtb_nobody", secret, "vtb_nodb"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNoConnection});
  EXPECT_FALSE(leaks());
  ASSERT_FALSE(rec.calls->empty());
  EXPECT_NE(rec.calls->front().extra.asString().find("IDENTIFIED BY '***'"), std::string::npos)
      << rec.calls->front().extra.asString();
}

}  // namespace
}  // namespace veltro
