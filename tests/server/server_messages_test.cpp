// The server object's messages against the real throwaway server: query
// numbers and operations answered by name.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "server_support.h"
#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;
using veltro::testing::serverEnv;

using veltro::testing::Recorder;

namespace {

ServerPtr connectTo(const Value& onError = {}) { return veltro::testing::connectServer(onError); }

}  // namespace

TEST(Server, QueryNumbersAreProcessWide) {
  ServerPtr a = connectTo();
  ServerPtr b = connectTo();
  long long first = a->GetQueryId().asInt();
  EXPECT_EQ(b->GetQueryId().asInt(), first + 1);
  EXPECT_EQ(a->GetQueryId().asInt(), first + 2);
}

TEST(Server, AnswersMessagesByName) {
  ServerPtr s = connectTo();
  EXPECT_EQ(s->send("CBUILD").asString(), "20-Jul-10 3:30:59 PM");
  EXPECT_EQ(s->send("cbuild").asString(), "20-Jul-10 3:30:59 PM");
  EXPECT_EQ(s->send("ROLLBACK").asInt(), 0);
  s->send("_lReConnect", false);
  EXPECT_FALSE(s->lReConnect.asBool());
  EXPECT_TRUE(s->send("SqlQuery", "SELECT 1").asBool());
  db::freeResult(db::storeResult(s->handle()));
  ErrorPtr err = guarded([&] { s->send("NoSuchMessage"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "BASE");
  EXPECT_EQ(err->SubCode.asInt(), 1004);
}

// Every public operation answers by name; sent by name with its arguments it
// does what the call does, and a call that returns the object answers with it.
TEST(Server, OperationsAnswerByNameWithTheirArguments) {
  ServerPtr s = connectTo();
  for (const char* name :
       {"New", "Connect", "ReConnect", "End", "Embedded", "Ping", "CheckError", "ErrorNo",
        "ErrorTxt", "SqlQuery", "Execute", "MultiQuery", "BeginTransaction", "CommitTransaction", "RollBack",
        "Query", "AddQuery", "GetQueryId", "CloseQuery", "CloseAllQuery", "SelectDB", "AffectedRows", "InsertId",
        "ListDBs", "ListTables", "Insert", "Update", "GetAutoIncrement", "IsAutoIncrement", "GetRowsFromTable",
        "GetRowsFromQry", "LastDownData", "SelectTable", "DBCreate", "DBExist", "TableExist", "DeleteDB",
        "CreateTable", "CreateInfo", "CreateIndex", "DeleteIndex", "DeleteTables", "ChangeEngine",
        "ChangeEngineAll", "Compact", "TableStructure", "AddUser", "DropUser", "RenameUser", "GetPrivileges",
        "RevokePrivileges", "Backup", "Restore", "aQueries"}) {
    EXPECT_TRUE(s->understands(name)) << name;
  }
  EXPECT_TRUE(s->send("SqlQuery", "CREATE OR REPLACE TABLE by_name (id INT AUTO_INCREMENT PRIMARY KEY, v INT)").asBool());
  EXPECT_TRUE(s->send("Insert", "by_name", Value::array({"v"}), Value::array({5})).asBool());
  // On a cluster AUTO_INCREMENT starts at the node's offset: the first key is what InsertId says.
  const long long id = s->send("InsertId").asInt();
  EXPECT_GE(id, 1);
  EXPECT_TRUE(
      s->send("Update", "by_name", Value::array({"v"}), Value::array({6}), "id = " + std::to_string(id)).asBool());
  EXPECT_EQ(s->send("AffectedRows").asInt(), 1);
  EXPECT_TRUE(s->send("TableExist", "by_name").asBool());
  EXPECT_EQ(s->send("GetRowsFromTable", "by_name").asInt(), 1);
  EXPECT_NE(s->send("CreateInfo", "by_name").asString().find("by_name"), std::string::npos);
  QueryPtr q = s->send("Query", "SELECT v FROM by_name").asObjectOf<TQuillonQry>();
  ASSERT_TRUE(q);
  EXPECT_EQ(q->send("FieldGet", "v").asInt(), 6);
  EXPECT_EQ(q->send("LastRec").asInt(), 1);
  q->send("End");
  EXPECT_EQ(s->send("ErrorNo").asInt(), 0);
  EXPECT_TRUE(s->send("DeleteTables", Value::array({"by_name"})).asBool());
  // New answers with the object itself.
  const auto& e = serverEnv();
  EXPECT_EQ(s->send("New", e.host, e.user, e.password, static_cast<int>(e.port), 0, e.database)
                .asObjectOf<TQuillonSrv>()
                .get(),
            s.get());
  s->End();
}
