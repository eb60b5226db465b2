// The server's registry of open queries: numbers, closing, ending, reloading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;
using veltro::testing::connectServer;
using veltro::testing::Recorder;

TEST(Registry, NumbersStartAtOneAndRunAcrossServers) {
  VELTRO_SKIP_ON_CLUSTER("it needs the process's first query, and the cluster run is one process for every test");
  // Each test runs in its own process: this is the process's first query.
  ServerPtr a = connectServer(Value());
  ServerPtr b = connectServer(Value());
  QueryPtr q1 = a->Query("SELECT 1");
  QueryPtr q2 = b->Query("SELECT 2");
  EXPECT_EQ(q1->nQryId.asInt(), 1);
  EXPECT_EQ(q2->nQryId.asInt(), 2);
  EXPECT_EQ(a->aQueries().len(), 1u);
  EXPECT_EQ(b->aQueries().len(), 1u);
}

TEST(Registry, CloseQueryFreesOnceAndEndEndsEveryQuery) {
  ServerPtr s = connectServer(Value());
  std::vector<QueryPtr> qs;
  for (int i = 0; i < 4; ++i) qs.push_back(s->Query("SELECT " + std::to_string(i)));
  ASSERT_EQ(s->aQueries().len(), 4u);
  long long result = qs[0]->hResult.asInt();
  ASSERT_GT(result, 0);
  EXPECT_TRUE(db::isResult(result));

  s->CloseQuery(qs[0]->nQryId);
  EXPECT_TRUE(qs[0]->hResult.isNil());
  EXPECT_FALSE(db::isResult(result));
  EXPECT_EQ(s->aQueries().len(), 3u);
  s->CloseQuery(qs[0]->nQryId);  // not registered any more: nothing happens
  EXPECT_EQ(s->aQueries().len(), 3u);

  s->End();
  EXPECT_EQ(s->aQueries().len(), 0u);
  for (const QueryPtr& q : qs) EXPECT_TRUE(q->hResult.isNil());
  s->End();  // a second End changes nothing
}

TEST(Registry, CloseAllQueryAndDroppedQueries) {
  ServerPtr s = connectServer(Value());
  QueryPtr keep = s->Query("SELECT 1");
  long long dropped = 0;
  {
    QueryPtr tmp = s->Query("SELECT 2");
    dropped = tmp->hResult.asInt();
  }
  // A query its owner dropped has freed its result and left the registry.
  EXPECT_FALSE(db::isResult(dropped));
  EXPECT_EQ(s->aQueries().len(), 1u);
  QueryPtr more = s->Query("SELECT 3");
  s->CloseAllQuery();
  EXPECT_EQ(s->aQueries().len(), 0u);
  EXPECT_TRUE(keep->hResult.isNil());
  EXPECT_TRUE(more->hResult.isNil());
}

TEST(Registry, ReConnectReloadsRegisteredQueries) {
  ServerPtr s = connectServer(Value());
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE reg (a INT) ENGINE=InnoDB"));
  ASSERT_TRUE(s->SqlQuery("INSERT INTO reg VALUES (1), (2)"));
  QueryPtr q = s->Query("SELECT * FROM reg");
  ASSERT_EQ(q->LastRec(), 2);
  ASSERT_TRUE(s->SqlQuery("INSERT INTO reg VALUES (3)"));
  s->ReConnect();
  EXPECT_EQ(q->LastRec(), 3);
  EXPECT_EQ(q->server().get(), s.get());
  s->SqlQuery("DROP TABLE reg");
}
