// Faults against the real throwaway server: the server stopped or crashed and
// started again under a server object (by its pid, through the server script),
// a connection lost in the middle of a transaction list, and a long run that
// must leave memory and handles where they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_fixture.h"
#include "server_support.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"

namespace veltro {
namespace {

using testing::Fault;
using testing::kAddressSanitizer;
using testing::kServerGone;
using testing::kServerLost;
using testing::openFiles;
using testing::Recorder;
using testing::scalar;
using testing::serverCommand;
using testing::serverEnv;
using testing::statusKb;

// The server stopped and started again under a registered query: the first
// statement may meet 2013 (it may have reached the server, so it is reported
// and not resent); the next meets 2006, reconnects, reloads the query and is
// sent again. Work goes on without a second report, with nothing lost.
TEST_F(Fault, ServerRestartedUnderRegisteredQueries) {
  VELTRO_SKIP_ON_CLUSTER(
      "it stops and starts the server through scripts/testserver.sh; losing nodes is the cluster tests' own");
  side->exec("CREATE TABLE vtb_fault.t (id int PRIMARY KEY, note varchar(20))");
  side->exec("INSERT INTO vtb_fault.t VALUES (1,'a'),(2,'b'),(3,'c')");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  QueryPtr q = s->Query("SELECT * FROM t ORDER BY id");
  QueryPtr q2 = s->Query("SELECT COUNT(*) FROM t");
  QueryPtr tables = s->Query("SHOW TABLES");
  ASSERT_EQ(q->LastRec(), 3);
  ASSERT_EQ(tables->LastRec(), 1);
  const long long before = q->hResult.asInt();

  for (const char* how : {"restart", "kill"}) {
    SCOPED_TRACE(how);
    rec.calls->clear();
    if (std::string(how) == "kill") {
      ASSERT_TRUE(serverCommand("kill"));  // a crash: SIGKILL by pid
      ASSERT_TRUE(serverCommand("resume"));
    } else {
      ASSERT_TRUE(serverCommand("restart"));  // a clean stop by pid, then a start
    }
    freshSide().exec("INSERT INTO t VALUES (10, 'while away')");

    // The first statement after the restart: done, or reported once as lost.
    const bool first = s->SqlQuery("INSERT INTO t VALUES (20, 'first')");
    if (!first) {
      ASSERT_EQ(rec.numbers(), std::vector<long long>{kServerLost});
    } else {
      EXPECT_TRUE(rec.calls->empty());
    }
    // The next one is never lost: a new connection, the queries reloaded, the statement sent.
    EXPECT_TRUE(s->SqlQuery("INSERT INTO t VALUES (30, 'second')"));
    EXPECT_EQ(rec.calls->size(), first ? 0u : 1u);
    EXPECT_TRUE(s->Ping());

    // The registered queries were loaded again on the new connection, as the
    // reconnect found the table: before the statement that met 2006 was resent.
    EXPECT_EQ(q->LastRec(), 4);
    EXPECT_NE(q->hResult.asInt(), 0);
    EXPECT_NE(q->hResult.asInt(), before);
    EXPECT_EQ(q2->FieldGet(1).asInt(), 4);
    EXPECT_EQ(tables->LastRec(), 1);
    q->GoBottom();
    EXPECT_EQ(q->FieldGet("id").asInt(), 10);
    EXPECT_EQ(q->FieldGet("note").asString().substr(0, 10), "while away");
    q->Refresh();
    EXPECT_EQ(q->LastRec(), first ? 6 : 5);

    // Each statement ran once: the resent one is not doubled.
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t WHERE id = 30"), "1");
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t WHERE id = 20"), first ? "1" : "0");
    freshSide().exec("DELETE FROM t WHERE id >= 10");
    q->Refresh();
    ASSERT_EQ(q->LastRec(), 3);
  }

  // The first thing after the restart is a new query object: it loads on the
  // new connection, and the reload of the others does not trip over it.
  rec.calls->clear();
  ASSERT_TRUE(serverCommand("restart"));
  QueryPtr fresh = s->Query("SELECT * FROM t ORDER BY id");
  if (fresh->LastRec() == 0) {
    ASSERT_EQ(rec.numbers(), std::vector<long long>{kServerLost});
    fresh->LoadQuery();
  }
  EXPECT_EQ(fresh->LastRec(), 3);
  EXPECT_EQ(rec.calls->size(), fresh->LastRec() == 3 && rec.calls->empty() ? 0u : 1u);
  EXPECT_EQ(q->LastRec(), 3);
  fresh->End();

  EXPECT_EQ(s->queries().size(), 3u);
  q->End();
  q2->End();
  tables->End();
  EXPECT_TRUE(s->queries().empty());
}

// With the server gone for good every statement is reported once, after a
// bounded number of attempts, and nothing is left open per attempt; when the
// server is back the next statement reconnects and the query reloads.
TEST_F(Fault, ServerGoneForGoodIsReportedOncePerStatement) {
  VELTRO_SKIP_ON_CLUSTER(
      "it stops and starts the server through scripts/testserver.sh; losing nodes is the cluster tests' own");
  side->exec("CREATE TABLE vtb_fault.t (id int PRIMARY KEY)");
  side->exec("INSERT INTO vtb_fault.t VALUES (1),(2)");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  QueryPtr q = s->Query("SELECT * FROM t");
  ASSERT_EQ(q->LastRec(), 2);
  const db::LiveHandles handles = db::liveHandles();

  ASSERT_TRUE(serverCommand("kill"));
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    rec.calls->clear();
    EXPECT_FALSE(s->SqlQuery("INSERT INTO t VALUES (3)"));
    ASSERT_EQ(rec.calls->size(), 1u);
    // 2013 or 2006 on the lost connection, or why the last reconnect failed (2002, 2003).
    const long long n = rec.calls->front().number;
    EXPECT_TRUE(n == kServerGone || n == kServerLost || n == 2002 || n == 2003) << n;
    EXPECT_FALSE(rec.calls->front().internal);
    EXPECT_TRUE(s->lError.asBool());
    // The failed attempts keep one connection object, not one per try.
    EXPECT_LE(db::liveHandles().connections, handles.connections)
        << db::liveHandles().connections << " results " << db::liveHandles().results << " of " << handles.results;
  }
  // Without a callback the error reaches the handler once, with the text of the failure.
  s->bOnError = Value();
  ErrorPtr err = guarded([&] { s->SqlQuery("SELECT 1"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "MYSQL");
  EXPECT_TRUE(err->SubCode.asInt() == kServerGone || err->SubCode.asInt() == 2002 || err->SubCode.asInt() == 2003)
      << err->SubCode.asInt();
  EXPECT_NE(err->Description.asString(), " ");
  EXPECT_EQ(err->Description.asString().find(serverEnv().password), std::string::npos);
  s->bOnError = rec.block();

  ASSERT_TRUE(serverCommand("resume"));
  rec.calls->clear();
  EXPECT_TRUE(s->SqlQuery("INSERT INTO t VALUES (3)"));
  EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  EXPECT_EQ(q->LastRec(), 2);  // reloaded by the reconnect, before the resent statement
  q->Refresh();
  EXPECT_EQ(q->LastRec(), 3);
  EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t"), "3");
  q->End();
}

// The connection lost in the middle of a transaction list: nothing of the
// list is committed and the list fails, with a callback as without one.
TEST_F(Fault, MultiQueryLosingTheServerCommitsNothing) {
  VELTRO_SKIP_ON_CLUSTER(
      "it stops and starts the server through scripts/testserver.sh; losing nodes is the cluster tests' own");
  side->exec("CREATE TABLE vtb_fault.t (id int PRIMARY KEY) ENGINE=InnoDB");
  const Value list = Value::array({"INSERT INTO t VALUES (1)", "INSERT INTO t VALUES (2)",
                                   "INSERT INTO t VALUES (3)", "INSERT INTO t VALUES (4)",
                                   "INSERT INTO t VALUES (5)"});
  // The server crashes after the second statement and is back at once.
  auto crashAfterSecond = Value(Callable([](Args a) -> Value {
    if (a[0].asInt() == 2) {
      EXPECT_TRUE(serverCommand("kill"));
      EXPECT_TRUE(serverCommand("resume"));
    }
    return {};
  }));

  {
    SCOPED_TRACE("with a callback");
    Recorder rec;
    ServerPtr s = connect(rec.block());
    EXPECT_FALSE(s->MultiQuery(list, true, crashAfterSecond));
    ASSERT_FALSE(rec.calls->empty());
    EXPECT_EQ(rec.calls->back().number, kErrMultiQuery);
    EXPECT_TRUE(rec.calls->back().internal);
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t"), "0");
    // The server object works on afterwards.
    EXPECT_TRUE(s->SqlQuery("INSERT INTO t VALUES (9)"));
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t"), "1");
    freshSide().exec("DELETE FROM t");
  }
  {
    SCOPED_TRACE("without a callback");
    ServerPtr s = connect(Value());
    ErrorPtr err = guarded([&] { EXPECT_FALSE(s->MultiQuery(list, true, crashAfterSecond)); });
    ASSERT_TRUE(err);
    EXPECT_EQ(err->SubCode.asInt(), kErrMultiQuery);
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t"), "0");
    err = guarded([&] { EXPECT_TRUE(s->SqlQuery("INSERT INTO t VALUES (9)")); });
    EXPECT_FALSE(err);
    EXPECT_EQ(freshSide().scalar("SELECT COUNT(*) FROM t"), "1");
  }
}

// 10,000 statements and 1,000 query objects opened and ended on one server
// object: memory, open files and live handles end where they were.
TEST_F(Fault, SoakLeavesMemoryAndHandlesFlat) {
  side->exec("CREATE TABLE vtb_fault.t (id int PRIMARY KEY, note varchar(40))");
  side->exec("INSERT INTO vtb_fault.t SELECT seq, CONCAT('row ', seq) FROM seq_1_to_50");
  Recorder rec;
  ServerPtr s = connect(rec.block());
  auto round = [&](int statements, int queries) {
    for (int i = 0; i < statements; ++i) {
      const std::string n = std::to_string(i % 50 + 1);
      ASSERT_TRUE(s->SqlQuery("UPDATE t SET note = 'note " + std::to_string(i) + "' WHERE id = " + n));
    }
    for (int i = 0; i < queries; ++i) {
      QueryPtr q = s->Query("SELECT * FROM t WHERE id <= " + std::to_string(i % 50 + 1));
      ASSERT_TRUE(q);
      ASSERT_EQ(q->LastRec(), i % 50 + 1);
      q->GoBottom();
      q->FieldPut("note", "edited");
      q->Save();
      q->End();
    }
  };
  round(500, 50);  // warm-up: allocator pools and the client library's buffers
  const long long rss = statusKb("VmRSS");
  const std::size_t files = openFiles();
  const db::LiveHandles handles = db::liveHandles();

  round(10000, 1000);
  EXPECT_TRUE(rec.calls->empty());
  EXPECT_TRUE(s->queries().empty());
  EXPECT_EQ(openFiles(), files);
  EXPECT_EQ(db::liveHandles().connections, handles.connections);
  EXPECT_EQ(db::liveHandles().results, handles.results);
  // A leak of one result or one query per call would be megabytes here. Under
  // AddressSanitizer freed memory waits in quarantine, so the resident size
  // says nothing there; its leak check at exit stands in for this one.
  if (!kAddressSanitizer) {
    EXPECT_LE(statusKb("VmRSS"), rss + 2048) << "VmRSS grew from " << rss << " kB";
  }
}

}  // namespace
}  // namespace veltro
