// The binding against the throwaway server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"

namespace veltro {
namespace {

using namespace std::string_literals;
using testing::serverEnv;

// Connector/C reads the socket of host "localhost" from MYSQL_UNIX_PORT once, when
// the library initialises on the first mysql_init, and the binding sets no
// connection options. So the variable is set before any test runs.
const bool kSocketFromEnv = [] {
  if (const char* sock = std::getenv("VELTRO_TEST_SOCKET")) ::setenv("MYSQL_UNIX_PORT", sock, 1);
  return true;
}();

Value query(const Value& conn, const std::string& sql) { return MYSQLQUERY(conn, sql, static_cast<int>(sql.size())); }

class Binding : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& env = serverEnv();
    conn = MYSQLCONNECT(env.host, env.user, env.password, static_cast<int>(env.port), Value(), env.database);
    ASSERT_GT(conn.asInt(), 0);
    ASSERT_EQ(MYSQLGETERRNO(conn).asInt(), 0) << MYSQLERROR(conn).asString();
    for (const char* t : {"vbt_people", "vbt_types", "Vbt_Sales", "vbt_blob"}) query(conn, "DROP TABLE IF EXISTS "s + t);
  }
  void TearDown() override {
    if (conn.asInt() <= 0) return;
    for (const char* t : {"vbt_people", "vbt_types", "Vbt_Sales", "vbt_blob"}) query(conn, "DROP TABLE IF EXISTS "s + t);
    MYSQLCLOSE(conn);
  }
  void exec(const std::string& sql) {
    ASSERT_EQ(query(conn, sql).asInt(), 0) << sql << ": " << MYSQLERROR(conn).asString();
  }
  // The stored result of a SELECT.
  Value select(const std::string& sql) {
    EXPECT_EQ(query(conn, sql).asInt(), 0) << sql << ": " << MYSQLERROR(conn).asString();
    Value res = MYSQLSTORERESULT(conn);
    EXPECT_GT(res.asInt(), 0) << sql;
    return res;
  }
  Value conn;
};

TEST_F(Binding, ConnectByTcpAndSocket) {
  const auto& env = serverEnv();
  EXPECT_EQ(MYSQLPING(conn).asInt(), 0);
  EXPECT_EQ(MYSQLCOMMIT(conn).asInt(), 0);
  EXPECT_EQ(MYSQLROLLBACK(conn).asInt(), 0);

  Value local = MYSQLCONNECT("localhost", env.user, env.password, Value(), Value(), env.database);
  ASSERT_GT(local.asInt(), 0);
  EXPECT_EQ(MYSQLGETERRNO(local).asInt(), 0) << MYSQLERROR(local).asString();
  EXPECT_EQ(query(local, "SELECT 1").asInt(), 0);
  Value res = MYSQLSTORERESULT(local);
  EXPECT_EQ(MYSQLFETCHROW(res).at(1).asString(), "1");
  MYSQLFREERESULT(res);
  EXPECT_NE(local.asInt(), conn.asInt());
  MYSQLCLOSE(local);

  // A wrong password is reported on the handle it still returns.
  Value refused = MYSQLCONNECT(env.host, env.user, "wrong", static_cast<int>(env.port));
  ASSERT_GT(refused.asInt(), 0);
  EXPECT_EQ(MYSQLGETERRNO(refused).asInt(), 1045);
  EXPECT_NE(MYSQLERROR(refused).asString().find("Access denied"), std::string::npos);
  MYSQLCLOSE(refused);
}

TEST_F(Binding, StatementsAndErrors) {
  EXPECT_NE(query(conn, "SELEC nonsense").asInt(), 0);
  EXPECT_EQ(MYSQLGETERRNO(conn).asInt(), 1064);
  EXPECT_FALSE(MYSQLERROR(conn).asString().empty());

  // The stated length decides, not a terminator: only "SELECT 1" runs.
  const std::string two = "SELECT 1; DROP TABLE nothing";
  ASSERT_EQ(MYSQLQUERY(conn, two, 8).asInt(), 0);
  Value res = MYSQLSTORERESULT(conn);
  EXPECT_EQ(MYSQLNUMROWS(res).asInt(), 1);
  MYSQLFREERESULT(res);
  EXPECT_EQ(MYSQLNUMROWS(res).asInt(), 0);  // freed: reads as none

  EXPECT_EQ(MYSQLSELECTDB(conn, "no_such_db_vbt").asInt() != 0, true);
  EXPECT_EQ(MYSQLGETERRNO(conn).asInt(), 1049);
  EXPECT_EQ(MYSQLSELECTDB(conn, serverEnv().database).asInt(), 0);

  exec("CREATE TABLE vbt_people (id INT PRIMARY KEY, name VARCHAR(40))");
  EXPECT_EQ(MYSQLSTORERESULT(conn).asInt(), 0);  // no result set
  EXPECT_EQ(MYSQLFIELDCOUNT(conn).asInt(), 0);
  exec("SELECT id, name FROM vbt_people");
  EXPECT_EQ(MYSQLFIELDCOUNT(conn).asInt(), 2);
  MYSQLFREERESULT(MYSQLSTORERESULT(conn));

  exec("SET autocommit = 0");
  exec("INSERT INTO vbt_people VALUES (1, 'kept')");
  EXPECT_EQ(MYSQLCOMMIT(conn).asInt(), 0);
  exec("INSERT INTO vbt_people VALUES (2, 'undone')");
  EXPECT_EQ(MYSQLROLLBACK(conn).asInt(), 0);
  res = select("SELECT COUNT(*) FROM vbt_people");
  EXPECT_EQ(MYSQLFETCHROW(res).at(1).asString(), "1");
  MYSQLFREERESULT(res);
}

TEST_F(Binding, ZeroBytesNullsAndRowEnds) {
  exec("CREATE TABLE vbt_blob (id INT PRIMARY KEY, a VARCHAR(20), b VARCHAR(20), c VARCHAR(20), d BLOB)");
  const std::string binary = "a\0b'c\\d\0"s;
  std::string sql = "INSERT INTO vbt_blob VALUES (1, 'abc', NULL, '', '" + MYSQLESCAPE(binary, conn).asString() + "')";
  exec(sql);
  // A raw zero byte inside a literal reaches the server too: the length is the byte count.
  exec("INSERT INTO vbt_blob VALUES (2, 'x', 'y', 'z', 'raw\0zero')"s);

  Value res = select("SELECT a, b, c, d FROM vbt_blob ORDER BY id");
  EXPECT_EQ(MYSQLNUMROWS(res).asInt(), 2);
  Value row = MYSQLFETCHROW(res);
  ASSERT_EQ(row.len(), 4u);
  EXPECT_EQ(row.at(1).asString(), "abc");
  EXPECT_TRUE(row.at(2).isString());
  EXPECT_EQ(row.at(2).asString(), "");
  EXPECT_EQ(row.at(3).asString(), "");
  EXPECT_EQ(row.at(4).asString(), binary);
  EXPECT_EQ(row.at(4).len(), binary.size());
  row = MYSQLFETCHROW(res, 9);  // cut to the result's 4 columns
  ASSERT_EQ(row.len(), 4u);
  EXPECT_EQ(row.at(4).asString(), "raw\0zero"s);

  row = MYSQLFETCHROW(res);  // past the end
  ASSERT_EQ(row.len(), 4u);
  for (std::size_t i = 1; i <= 4; ++i) EXPECT_TRUE(row.at(i).isNil());

  MYSQLDATASEEK(res, 1);
  row = MYSQLFETCHROW(res, 2);
  ASSERT_EQ(row.len(), 2u);
  EXPECT_EQ(row.at(1).asString(), "x");
  EXPECT_EQ(row.at(2).asString(), "y");
  MYSQLDATASEEK(res, 0);
  EXPECT_EQ(MYSQLFETCHROW(res, Value()).len(), 0u);
  MYSQLFREERESULT(res);
  MYSQLFREERESULT(res);  // a second free does nothing
}

TEST_F(Binding, ResultStructure) {
  exec("CREATE TABLE Vbt_Sales (Id INT AUTO_INCREMENT PRIMARY KEY, Name VARCHAR(30) NOT NULL DEFAULT 'none',"
       " Flag TINYINT, Born DATE, Seen DATETIME, Stamp TIMESTAMP NULL, Note TEXT, Data BLOB,"
       " Price DECIMAL(10,2), Tm TIME, KEY (Name))");
  exec("INSERT INTO Vbt_Sales (Name, Price) VALUES ('Widget', 12.50)");
  Value res = select("SELECT * FROM Vbt_Sales");
  Value s = MYSQLRESULTSTRUCTURE(res, false);
  MYSQLFREERESULT(res);
  ASSERT_EQ(s.len(), 10u);
  const char* names[] = {"id", "name", "flag", "born", "seen", "stamp", "note", "data", "price", "tm"};
  const char* letters[] = {"N", "C", "L", "D", "C", "T", "M", "M", "N", "C"};
  for (std::size_t i = 0; i < 10; ++i) {
    Value d = s.at(i + 1);
    ASSERT_EQ(d.len(), 9u);
    EXPECT_EQ(d.at(1).asString(), names[i]);
    EXPECT_EQ(d.at(2).asString(), "vbt_sales");
    EXPECT_EQ(d.at(9).asString(), letters[i]) << names[i];
  }
  Value id = s.at(1), name = s.at(2), price = s.at(9);
  EXPECT_EQ(id.at(4).asInt(), 3);
  EXPECT_EQ(MYAND(id.at(7), db::kPrimaryKeyFlag).asInt(), 2);
  EXPECT_EQ(MYAND(id.at(7), db::kAutoIncrementFlag).asInt(), 512);
  EXPECT_EQ(MYAND(name.at(7), db::kNotNullFlag).asInt(), 1);
  EXPECT_EQ(MYAND(name.at(7), db::kMultipleKeyFlag).asInt(), 8);
  EXPECT_EQ(name.at(6).asInt(), 6);  // widest value: "Widget"
  EXPECT_EQ(price.at(4).asInt(), 246);
  EXPECT_EQ(price.at(8).asInt(), 2);

  res = select("SELECT Name FROM Vbt_Sales");
  s = MYSQLRESULTSTRUCTURE(res, true);
  MYSQLFREERESULT(res);
  EXPECT_EQ(s.at(1).at(1).asString(), "name");
  EXPECT_EQ(s.at(1).at(2).asString(), "Vbt_Sales");

  // The field list carries default values.
  Value fields = MYSQLLISTFIELDS(conn, "Vbt_Sales", "Name");
  ASSERT_GT(fields.asInt(), 0) << MYSQLERROR(conn).asString();
  EXPECT_EQ(MYSQLNUMROWS(fields).asInt(), 0);
  s = MYSQLRESULTSTRUCTURE(fields, true);
  MYSQLFREERESULT(fields);
  ASSERT_EQ(s.len(), 1u);
  EXPECT_EQ(s.at(1).at(1).asString(), "name");
  EXPECT_EQ(s.at(1).at(3).asString(), "none");
  EXPECT_EQ(MYSQLLISTFIELDS(conn, "vbt_missing_table").asInt(), 0);
  EXPECT_EQ(MYSQLGETERRNO(conn).asInt(), 1146);
}

TEST_F(Binding, Lists) {
  exec("CREATE TABLE vbt_people (id INT)");
  exec("CREATE TABLE vbt_types (id INT)");
  exec("CREATE TABLE vbt_blob (id INT)");
  Value tables = MYSQLLISTTBLS(conn, "vbt\\_%");
  ASSERT_EQ(tables.len(), 3u);
  std::vector<std::string> names;
  for (std::size_t i = 1; i <= 3; ++i) names.push_back(tables.at(i).asString());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"vbt_blob", "vbt_people", "vbt_types"}));
  EXPECT_GE(MYSQLLISTTBLS(conn).len(), 3u);

  Value dbs = MYSQLLISTDBS(conn);
  bool found = false;
  for (std::size_t i = 1; i <= dbs.len(); ++i) found = found || dbs.at(i).asString() == serverEnv().database;
  EXPECT_TRUE(found);
  EXPECT_EQ(MYSQLLISTDBS(conn, "no\\_such\\_db\\_vbt%").len(), 0u);
}

TEST_F(Binding, Seek) {
  exec("CREATE TABLE vbt_people (id INT PRIMARY KEY, name VARCHAR(40))");
  exec("INSERT INTO vbt_people VALUES (1,'Adams'),(2,'Smithers'),(3,''),(4,NULL),(5,'Smith'),(6,'Smithson'),"
       "(7,'Young')");
  Value res = select("SELECT id, name FROM vbt_people ORDER BY id");
  EXPECT_EQ(MYSEEK(res, 2, "smith", Value(), Value(), true).asInt(), 2);   // soft: first that begins with it
  EXPECT_EQ(MYSEEK(res, 2, "smith").asInt(), 5);                           // exact: Smith, not Smithers
  EXPECT_EQ(MYSEEK(res, 2, "SMITHSON", Value(), Value(), false).asInt(), 5);  // Smith is a prefix of it
  EXPECT_EQ(MYSEEK(res, 2, "smithers", 3, Value(), true).asInt(), 0);
  EXPECT_EQ(MYSEEK(res, 2, "smith", 3, 5, true).asInt(), 5);
  EXPECT_EQ(MYSEEK(res, 2, "smithson", 6, 6).asInt(), 6);
  EXPECT_EQ(MYSEEK(res, 2, "young", 3, 5).asInt(), 0);         // row 7 lies outside
  EXPECT_EQ(MYSEEK(res, 2, "young", -4, 100).asInt(), 7);      // clamped to 1 .. row count
  EXPECT_EQ(MYSEEK(res, 2, "", Value(), Value(), true).asInt(), 1);   // first non-empty value
  EXPECT_EQ(MYSEEK(res, 2, "", 3, 4, true).asInt(), 0);                // empty and NULL never match
  EXPECT_EQ(MYSEEK(res, 2, "", 3, 4, false).asInt(), 0);
  EXPECT_EQ(MYSEEK(res, 3, "smith").asInt(), 0);  // no such column
  EXPECT_EQ(MYSEEK(res, 0, "smith").asInt(), 0);
  EXPECT_EQ(MYSEEK(res, 1, "5").asInt(), 5);

  // Without Smith, exact mode does not take Smithers for it.
  MYSQLFREERESULT(res);
  exec("DELETE FROM vbt_people WHERE name = 'Smith'");
  res = select("SELECT id, name FROM vbt_people ORDER BY id");
  EXPECT_EQ(MYSEEK(res, 2, "smith").asInt(), 0);
  MYSQLFREERESULT(res);
}

TEST_F(Binding, EscapingWithTheConnection) {
  const std::string text = "O'Brien \"quoted\" back\\slash\nline\0zero"s;
  std::string escaped = MYSQLESCAPE(text, conn).asString();
  EXPECT_EQ(escaped, VAL2ESCAPE(text).asString());
  EXPECT_EQ(MYSQLESCAPE("", conn).asString(), "");
  Value res = select("SELECT '" + escaped + "'");
  EXPECT_EQ(MYSQLFETCHROW(res).at(1).asString(), text);
  MYSQLFREERESULT(res);

  // With NO_BACKSLASH_ESCAPES the connection escapes quotes by doubling them.
  exec("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
  EXPECT_EQ(MYSQLESCAPE("it's", conn).asString(), "it''s");
  EXPECT_EQ(MYSQLESCAPE("it's").asString(), "it\\'s");
}

}  // namespace
}  // namespace veltro
