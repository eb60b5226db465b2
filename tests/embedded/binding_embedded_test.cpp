// The embedded server beside a client-server connection, in one process.
#include <gtest/gtest.h>

#include <string>

#include "test_env.h"
#include "veltro/binding.h"

namespace veltro {
namespace {

using namespace std::string_literals;
using testing::serverEnv;

Value query(const Value& conn, const std::string& sql) { return MYSQLQUERY(conn, sql, static_cast<int>(sql.size())); }

Value optionList(const std::vector<std::string>& options) {
  Value list = Value::array();
  for (const std::string& o : options) list.items().emplace_back(o);
  return list;
}

// The first value of a one-row SELECT.
std::string scalar(const Value& conn, const std::string& sql) {
  EXPECT_EQ(query(conn, sql).asInt(), 0) << sql << ": " << MYSQLERROR(conn).asString();
  Value res = MYSQLSTORERESULT(conn);
  std::string v = MYSQLFETCHROW(res).at(1).asString();
  MYSQLFREERESULT(res);
  return v;
}

TEST(BindingEmbedded, BesideAClientConnection) {
  const auto& env = serverEnv();
  Value remote = MYSQLCONNECT(env.host, env.user, env.password, static_cast<int>(env.port), 0, env.database);
  ASSERT_GT(remote.asInt(), 0);
  ASSERT_EQ(MYSQLGETERRNO(remote).asInt(), 0) << MYSQLERROR(remote).asString();

  const std::string dir = testing::makeTempDir("veltro-embedded-");
  Value local = MYSQLEMBEDDED(Value(), optionList(db::embeddedOptions(dir)), Value::array());
  ASSERT_GT(local.asInt(), 0) << MYSQLGETERRNO(0).asInt() << " " << MYSQLERROR(0).asString();
  EXPECT_NE(scalar(local, "SELECT VERSION()").find("embedded"), std::string::npos);
  EXPECT_EQ(scalar(remote, "SELECT VERSION()").find("embedded"), std::string::npos);

  ASSERT_EQ(query(local, "CREATE DATABASE vbt_emb").asInt(), 0) << MYSQLERROR(local).asString();
  ASSERT_EQ(MYSQLSELECTDB(local, "vbt_emb").asInt(), 0);
  ASSERT_EQ(query(local, "CREATE TABLE people (id INT PRIMARY KEY, name VARCHAR(30), note BLOB) ENGINE=InnoDB").asInt(), 0)
      << MYSQLERROR(local).asString();
  const std::string binary = "z\0'q"s;
  ASSERT_EQ(query(local, "INSERT INTO people VALUES (1, 'Smith', '" + MYSQLESCAPE(binary, local).asString() +
                             "'), (2, 'Smithers', NULL)")
                .asInt(),
            0)
      << MYSQLERROR(local).asString();
  EXPECT_EQ(scalar(local, "SELECT ENGINE FROM information_schema.TABLES WHERE TABLE_NAME = 'people'"), "InnoDB");
  EXPECT_EQ(MYSQLCOMMIT(local).asInt(), 0);

  ASSERT_EQ(query(local, "SELECT id, name, note FROM people ORDER BY id").asInt(), 0);
  Value res = MYSQLSTORERESULT(local);
  ASSERT_GT(res.asInt(), 0);
  EXPECT_EQ(MYSQLNUMROWS(res).asInt(), 2);
  Value s = MYSQLRESULTSTRUCTURE(res, true);
  ASSERT_EQ(s.len(), 3u);
  EXPECT_EQ(s.at(2).at(2).asString(), "people");
  EXPECT_EQ(s.at(3).at(9).asString(), "M");
  Value row = MYSQLFETCHROW(res);
  EXPECT_EQ(row.at(2).asString(), "Smith");
  EXPECT_EQ(row.at(3).asString(), binary);
  EXPECT_EQ(MYSEEK(res, 2, "smith").asInt(), 1);
  EXPECT_EQ(MYSEEK(res, 2, "smithe", Value(), Value(), true).asInt(), 2);
  MYSQLFREERESULT(res);

  Value tables = MYSQLLISTTBLS(local);
  ASSERT_EQ(tables.len(), 1u);
  EXPECT_EQ(tables.at(1).asString(), "people");
  bool found = false;
  Value dbs = MYSQLLISTDBS(local);
  for (std::size_t i = 1; i <= dbs.len(); ++i) found = found || dbs.at(i).asString() == "vbt_emb";
  EXPECT_TRUE(found);

  // The remote connection still works and does not see the embedded database.
  EXPECT_EQ(MYSQLPING(remote).asInt(), 0);
  EXPECT_EQ(MYSQLSELECTDB(remote, "vbt_emb").asInt() != 0, true);

  // A second start reuses the running server, its options ignored.
  Value second = MYSQLEMBEDDED("vbt_emb", Value::array({"ignored", "--datadir=/nonexistent"}), Value());
  ASSERT_GT(second.asInt(), 0) << MYSQLERROR(0).asString();
  EXPECT_EQ(scalar(second, "SELECT COUNT(*) FROM people"), "2");
  MYSQLCLOSE(second);

  // A refused connect gives 0 and leaves the reason for handle 0; the server keeps running.
  EXPECT_EQ(MYSQLEMBEDDED("vbt_no_such_db").asInt(), 0);
  EXPECT_EQ(MYSQLGETERRNO(0).asInt(), 1049);
  EXPECT_NE(MYSQLERROR(0).asString().find("vbt_no_such_db"), std::string::npos);
  EXPECT_EQ(MYSQLPING(local).asInt(), 0);

  const auto localHandle = local.asInt();
  MYSQLCLOSE(local);
  EXPECT_FALSE(db::isConnection(localHandle));
  EXPECT_EQ(MYSQLPING(local).asInt(), 1);
  MYSQLCLOSE(remote);
}

}  // namespace
}  // namespace veltro
