// The server object on the embedded server, beside a client-server one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/server.h"

namespace veltro {
namespace {

Value embeddedOptions() {
  static const std::string dir = testing::makeTempDir("veltro-semb-");
  Value options = Value::array();
  for (const std::string& o : db::embeddedOptions(dir)) options.items().emplace_back(o);
  return options;
}

TEST(ServerEmbedded, FailedStartReportsOnceAndEndsQuietly) {
  auto codes = std::make_shared<std::vector<long long>>();
  Value record = Value(Callable([codes](Args a) -> Value {
    codes->push_back(argAt(a, 1).asInt());
    return {};
  }));
  ServerPtr s = TQuillonSrv::create();
  s->Embedded("no_such_database_here", embeddedOptions(), Value(), record);
  ASSERT_EQ(codes->size(), 1u);
  EXPECT_EQ(codes->front(), 1049);
  EXPECT_TRUE(s->lError.asBool());
  EXPECT_EQ(s->hMysql.asInt(), 0);
  EXPECT_NE(s->ErrorTxt().find("no_such_database_here"), std::string::npos) << s->ErrorTxt();
  s->End();  // nothing to close: the failed start left no handle
  s->End();
  EXPECT_EQ(codes->size(), 1u);
}

TEST(ServerEmbedded, WorksBesideAClientServerConnection) {
  const testing::ServerEnv& e = testing::serverEnv();
  ServerPtr remote = TQuillonSrv::create();
  remote->New(e.host, e.user, e.password, static_cast<int>(e.port), 0, e.database);
  ServerPtr local = TQuillonSrv::create();
  local->Embedded(Value(), embeddedOptions());
  ASSERT_GT(local->hMysql.asInt(), 0);
  EXPECT_TRUE(local->SqlQuery("CREATE DATABASE IF NOT EXISTS se_emb"));
  EXPECT_TRUE(local->SelectDB("se_emb"));
  EXPECT_TRUE(local->SqlQuery("CREATE OR REPLACE TABLE t (a INT)"));
  EXPECT_TRUE(local->SqlQuery("INSERT INTO t VALUES (1), (2)"));
  EXPECT_EQ(local->GetRowsFromTable("t").asInt(), 2);
  // The same table name on the remote server is another table.
  EXPECT_TRUE(remote->SqlQuery("CREATE OR REPLACE TABLE se_remote (a INT)"));
  EXPECT_EQ(remote->GetRowsFromTable("se_remote").asInt(), 0);
  EXPECT_TRUE(local->Ping());
  EXPECT_TRUE(remote->Ping());
  remote->SqlQuery("DROP TABLE se_remote");
  local->End();
  remote->End();
  EXPECT_EQ(local->hMysql.asInt(), 0);
}

}  // namespace
}  // namespace veltro
