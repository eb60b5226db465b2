// The server object against the real throwaway server: connecting, error
// checking and reporting, statements, transactions and reconnecting.
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

namespace {

using veltro::testing::Recorder;

ServerPtr connectTo(const Value& onError = {}) { return veltro::testing::connectServer(onError); }

long long scalar(const ServerPtr& s, const std::string& sql) {
  EXPECT_TRUE(s->SqlQuery(sql));
  long long res = db::storeResult(s->handle());
  db::RowView row;
  long long v = -1;
  if (db::fetchRow(res, row)) v = std::stoll(std::string(row.at(0)));
  db::freeResult(res);
  return v;
}

// A free loopback port: one the throwaway server is not on.
unsigned closedPort() { return serverEnv().port == 1 ? 2 : 1; }

}  // namespace

TEST(Server, ConnectsAndEnds) {
  ServerPtr s = connectTo();
  EXPECT_FALSE(s->lError.asBool());
  EXPECT_GT(s->hMysql.asInt(), 0);
  EXPECT_TRUE(s->lReConnect.asBool());
  EXPECT_EQ(s->nInternalError.asInt(), 0);
  EXPECT_EQ(s->cBuild.asString(), "20-Jul-10 3:30:59 PM");
  EXPECT_TRUE(s->Ping());
  s->End();
  EXPECT_EQ(s->hMysql.asInt(), 0);
  s->End();  // a second End does nothing
  EXPECT_EQ(s->ErrorTxt(), "");
}

TEST(Server, FailedConnectGoesToTheCallbackOnce) {
  Recorder rec;
  const auto& e = serverEnv();
  ServerPtr s = TQuillonSrv::create();
  s->New("127.0.0.1", e.user, e.password, static_cast<int>(closedPort()), 0, e.database, rec.block());
  ASSERT_EQ(rec.calls->size(), 1u);
  EXPECT_TRUE((*rec.calls)[0].number == 2002 || (*rec.calls)[0].number == 2003) << (*rec.calls)[0].number;
  EXPECT_FALSE((*rec.calls)[0].internal);
  EXPECT_TRUE(s->lError.asBool());
  EXPECT_EQ(s->hMysql.asInt(), 0);
  // With the callback set, Ping on the ended object reports and answers false.
  EXPECT_FALSE(s->Ping());
}

TEST(Server, FailedConnectWithoutCallbackRaisesToTheGuardedBlock) {
  const auto& e = serverEnv();
  ServerPtr s = TQuillonSrv::create();
  ErrorPtr err = guarded([&] { s->New("127.0.0.1", e.user, e.password, static_cast<int>(closedPort()), 0); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "MYSQL");
  EXPECT_FALSE(err->Description.asString().find(e.password) != std::string::npos) << "no password in messages";
}

TEST(Server, RejectedStatementReachesTheHandler) {
  ServerPtr s = connectTo();
  ErrorPtr err = guarded([&] { s->SqlQuery("SELEC nonsense"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "MYSQL");
  EXPECT_EQ(err->SubCode.asInt(), 1064);
  EXPECT_EQ(err->Severity.asInt(), 2);
  const std::string& d = err->Description.asString();
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), ' ');
  EXPECT_NE(d.find("SQL syntax"), std::string::npos) << d;
  EXPECT_TRUE(s->lError.asBool());
  EXPECT_EQ(errorMessage(*err).rfind("Error MYSQL/1064  ", 0), 0u) << errorMessage(*err);
}

TEST(Server, EmptyStatementIsAnInternalErrorWithoutTheServer) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  EXPECT_FALSE(s->SqlQuery("   "));
  EXPECT_FALSE(s->Execute(Value()));
  ASSERT_EQ(rec.calls->size(), 2u);
  EXPECT_EQ((*rec.calls)[0].number, 9006);
  EXPECT_TRUE((*rec.calls)[0].internal);
  EXPECT_TRUE((*rec.calls)[0].extra.isNil());
  EXPECT_EQ(s->nInternalError.asInt(), 9006);

  // The stale code is readable but is never reported by a call that succeeds.
  Value dbs = s->ListDBs();
  EXPECT_GT(dbs.len(), 0u);
  Value tables = s->ListTables();
  EXPECT_EQ(rec.calls->size(), 2u);
  EXPECT_EQ(s->nInternalError.asInt(), 9006);

  ServerPtr plain = connectTo();
  ErrorPtr err = guarded([&] { plain->SqlQuery(""); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "TQUILLON");
  EXPECT_EQ(err->SubCode.asInt(), 9006);
  EXPECT_EQ(err->Description.asString(), "Internal Error ");
}

TEST(Server, ExplicitNumbersAreClientErrors) {
  ServerPtr s = connectTo();
  ErrorPtr err = guarded([&] { s->CheckError(9001); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "MYSQL");
  EXPECT_EQ(err->SubCode.asInt(), 9001);
  // A check that finds nothing reports nothing.
  EXPECT_FALSE(guarded([&] { s->CheckError(); }));
  EXPECT_FALSE(s->lError.asBool());
}

TEST(Server, MultiQueryRollsBackOnARaisedError) {
  ServerPtr s = connectTo();
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE mq (a INT) ENGINE=InnoDB"));
  ErrorPtr err = guarded([&] {
    bool ok = s->MultiQuery(Value::array({"INSERT INTO mq VALUES (1)", "INSERT INTO nowhere VALUES (2)",
                                          "INSERT INTO mq VALUES (3)"}));
    EXPECT_FALSE(ok);
  });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "TQUILLON");
  EXPECT_EQ(err->SubCode.asInt(), 9025);
  EXPECT_EQ(err->Description.asString(), "Internal Error INSERT INTO nowhere VALUES (2)");
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM mq"), 0);
  s->SqlQuery("DROP TABLE mq");
}

TEST(Server, MultiQueryWithACallbackCommitsTheRest) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE mq2 (a INT) ENGINE=InnoDB"));
  auto seen = std::make_shared<std::vector<long long>>();
  Value progress = Value(Callable([seen](Args a) -> Value {
    seen->push_back(a[0].asInt());
    return {};
  }));
  EXPECT_TRUE(s->MultiQuery(Value::array({"INSERT INTO mq2 VALUES (1)", "INSERT INTO nowhere VALUES (2)",
                                         "INSERT INTO mq2 VALUES (3)"}),
                            Value(), progress));
  ASSERT_EQ(rec.calls->size(), 1u);
  EXPECT_EQ((*rec.calls)[0].number, 1146);
  EXPECT_EQ(*seen, (std::vector<long long>{1, 2, 3}));
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM mq2"), 2);
  // The callback stays stored for the next list.
  EXPECT_TRUE(s->MultiQuery(Value::array({"DELETE FROM mq2"}), false));
  EXPECT_EQ(seen->size(), 4u);
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM mq2"), 0);
  EXPECT_FALSE(s->MultiQuery(Value::array()));
  EXPECT_EQ(rec.calls->back().number, 9024);
  s->SqlQuery("DROP TABLE mq2");
}

TEST(Server, MultiQueryWithoutTransactionKeepsWhatRan) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE mq3 (a INT) ENGINE=InnoDB"));
  ServerPtr other = connectTo();
  EXPECT_TRUE(s->MultiQuery(Value::array({"INSERT INTO mq3 VALUES (1)"}), false));
  // Without BEGIN the row is committed at once and seen by another connection.
  EXPECT_EQ(scalar(other, "SELECT COUNT(*) FROM mq3"), 1);
  s->SqlQuery("DROP TABLE mq3");
}

TEST(Server, SelectDBKeepsTheCurrentDatabase) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  EXPECT_FALSE(s->SelectDB("no_such_database_here"));
  EXPECT_EQ(s->cDBName.asString(), "");
  ASSERT_EQ(rec.calls->size(), 1u);
  EXPECT_NE(rec.calls->back().number, 0);
  // The internal code is reported, not the error the failed select left on the connection.
  EXPECT_FALSE(s->SelectDB("  "));
  EXPECT_EQ(rec.calls->back().number, 9000);
  EXPECT_TRUE(rec.calls->back().internal);
  EXPECT_TRUE(s->SelectDB("mysql"));
  EXPECT_EQ(s->cDBName.asString(), "mysql");
  // A zero byte would cut the name short: "mysql" is not what was named.
  EXPECT_FALSE(s->SelectDB(std::string("mysql\0x", 7)));
  EXPECT_EQ(rec.calls->back().number, kErrNotAName);
  EXPECT_EQ(s->cDBName.asString(), "mysql");
  // A reconnect opens the database selected last.
  s->ReConnect();
  EXPECT_TRUE(s->SqlQuery("SELECT 1"));
  db::freeResult(db::storeResult(s->handle()));
  EXPECT_TRUE(s->SqlQuery("SELECT DATABASE()"));
  long long res = db::storeResult(s->handle());
  db::RowView row;
  ASSERT_TRUE(db::fetchRow(res, row));
  EXPECT_EQ(row.at(0), "mysql");
  db::freeResult(res);
}

TEST(Server, TransactionsCommitAndRollBack) {
  ServerPtr s = connectTo();
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE tx (a INT) ENGINE=InnoDB"));
  EXPECT_TRUE(s->BeginTransaction());
  s->SqlQuery("INSERT INTO tx VALUES (1)");
  EXPECT_EQ(s->RollBack(), 0);
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM tx"), 0);
  EXPECT_TRUE(s->BeginTransaction());
  s->SqlQuery("INSERT INTO tx VALUES (1)");
  EXPECT_EQ(s->CommitTransaction(), 0);
  EXPECT_EQ(scalar(s, "SELECT COUNT(*) FROM tx"), 1);
  s->SqlQuery("DROP TABLE tx");
  s->End();
  EXPECT_EQ(s->CommitTransaction(), 1);
  EXPECT_EQ(s->RollBack(), 1);
}

// After KILL the next call meets "Lost connection" (2013: it may have reached
// the server, so it is reported, not resent); the one after meets 2006.
// Update builds its statements in a buffer per thread; an Update sent from the
// error handler of a failing Update must build its own, and both servers'
// later Updates must find the buffer free again.
TEST(Server, UpdateFromTheHandlerOfAFailingUpdate) {
  ServerPtr inner = connectTo();
  ASSERT_TRUE(inner->SqlQuery("CREATE OR REPLACE TABLE upd_nested (id INT PRIMARY KEY, note VARCHAR(40))"));
  ASSERT_TRUE(inner->SqlQuery("INSERT INTO upd_nested VALUES (1, 'before'), (2, 'before')"));
  int handled = 0;
  ServerPtr outer = connectTo(Value(Callable([&](Args) -> Value {
    ++handled;
    EXPECT_TRUE(inner->Update("upd_nested", Value::array({"note"}), Value::array({"from the handler"}), "id = 1"));
    return {};
  })));
  EXPECT_FALSE(outer->Update("upd_nested", Value::array({"no_such_column"}), Value::array({"x"}), "id = 2"));
  EXPECT_EQ(handled, 1);
  EXPECT_TRUE(outer->Update("upd_nested", Value::array({"note"}), Value::array({"after"}), "id = 2"));
  QueryPtr q = inner->Query("SELECT note FROM upd_nested ORDER BY id");
  EXPECT_EQ(trimRight(q->FieldGet(1).asString()), "from the handler");
  q->Skip();
  EXPECT_EQ(trimRight(q->FieldGet(1).asString()), "after");
  q->End();
  inner->SqlQuery("DROP TABLE upd_nested");
}

TEST(Server, LostConnectionOutsideATransactionResendsTheStatement) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  ServerPtr killer = connectTo();
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE lost (a INT) ENGINE=InnoDB"));
  long long id = scalar(s, "SELECT CONNECTION_ID()");
  ASSERT_TRUE(killer->SqlQuery("KILL " + std::to_string(id)));
  EXPECT_FALSE(s->SqlQuery("SELECT 1"));
  ASSERT_EQ(rec.calls->size(), 1u);
  EXPECT_EQ(rec.calls->back().number, 2013);
  // 2006: the statement never reached the server; it is sent again on a new connection.
  EXPECT_TRUE(s->SqlQuery("INSERT INTO lost VALUES (7)"));
  EXPECT_EQ(rec.calls->size(), 1u);
  EXPECT_EQ(scalar(killer, "SELECT COUNT(*) FROM lost"), 1);
  EXPECT_NE(scalar(s, "SELECT CONNECTION_ID()"), id);
  killer->SqlQuery("DROP TABLE lost");
}

// However the transaction was opened, or kept open by a savepoint's rollback
// or a chained commit, a lost connection inside it is reported, never hidden
// by sending the statement again on a new connection.
TEST(Server, LostConnectionInsideATransactionIsReported) {
  const std::vector<std::vector<std::string>> opens = {
      {"BEGIN"},
      {"/* opened */ start transaction"},
      {"BEGIN WORK"},
      {"BEGIN", "SAVEPOINT s", "ROLLBACK TO SAVEPOINT s"},
      {"BEGIN", "COMMIT AND CHAIN"},
      {"BEGIN", "ROLLBACK WORK AND CHAIN NO RELEASE"},
  };
  for (const auto& open : opens) {
    SCOPED_TRACE(open.back());
    Recorder rec;
    ServerPtr s = connectTo(rec.block());
    ServerPtr killer = connectTo();
    ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE lost2 (a INT) ENGINE=InnoDB"));
    for (const std::string& sql : open) ASSERT_TRUE(s->SqlQuery(sql));
    ASSERT_TRUE(s->SqlQuery("INSERT INTO lost2 VALUES (1)"));
    long long id = scalar(s, "SELECT CONNECTION_ID()");
    ASSERT_TRUE(killer->SqlQuery("KILL " + std::to_string(id)));
    EXPECT_FALSE(s->SqlQuery("INSERT INTO lost2 VALUES (2)"));
    // Inside the transaction 2006 is not hidden: the transaction is gone.
    EXPECT_FALSE(s->SqlQuery("INSERT INTO lost2 VALUES (3)"));
    ASSERT_EQ(rec.calls->size(), 2u);
    EXPECT_EQ((*rec.calls)[0].number, 2013);
    EXPECT_EQ((*rec.calls)[1].number, 2006);
    // Reconnected for what follows; nothing of the lost transaction was committed.
    EXPECT_TRUE(s->SqlQuery("INSERT INTO lost2 VALUES (4)"));
    EXPECT_EQ(scalar(killer, "SELECT COUNT(*) FROM lost2"), 1);
    killer->SqlQuery("DROP TABLE lost2");
    s->End();
    killer->End();
  }
}

TEST(Server, ServerGoneForGoodIsReportedOnce) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  ServerPtr killer = connectTo();
  long long id = scalar(s, "SELECT CONNECTION_ID()");
  // The reconnects go to a port where nothing listens, as when the server is gone.
  s->nPort = static_cast<int>(closedPort());
  s->cHost = "127.0.0.1";
  ASSERT_TRUE(killer->SqlQuery("KILL " + std::to_string(id)));
  EXPECT_FALSE(s->SqlQuery("SELECT 1"));  // 2013
  EXPECT_FALSE(s->SqlQuery("SELECT 1"));  // 2006, the reconnect attempts fail
  ASSERT_EQ(rec.calls->size(), 2u);
  EXPECT_NE((*rec.calls)[1].number, 0);
}

// With no run again allowed, a list that lost its connection fails whole.
TEST(Server, MultiQueryThatLosesItsConnectionFails) {
  ServerPtr s = connectTo();
  s->nMultiRetries = 0;
  ServerPtr killer = connectTo();
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE lost3 (a INT) ENGINE=InnoDB"));
  long long id = scalar(s, "SELECT CONNECTION_ID()");
  std::string kill = "KILL " + std::to_string(id);
  auto killerRaw = killer;
  s->bOnMultiQry = Value(Callable([killerRaw, kill](Args a) -> Value {
    if (a[0].asInt() == 1) killerRaw->SqlQuery(kill);
    return {};
  }));
  ErrorPtr err = guarded([&] {
    EXPECT_FALSE(s->MultiQuery(Value::array({"INSERT INTO lost3 VALUES (1)", "INSERT INTO lost3 VALUES (2)"})));
  });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), 9025);
  EXPECT_EQ(scalar(killer, "SELECT COUNT(*) FROM lost3"), 0);
  killer->SqlQuery("DROP TABLE lost3");
}

// A transaction list whose connection is lost before its COMMIT certainly
// did not commit: it runs again, whole, on a new connection. Lost on BEGIN
// itself, or after a statement, with a callback and without one, the rows of
// the list end up on the server exactly once.
TEST(Server, MultiQueryRunsALostListAgainWhole) {
  ServerPtr killer = connectTo();
  ASSERT_TRUE(killer->SqlQuery("CREATE OR REPLACE TABLE lost4 (a INT PRIMARY KEY) ENGINE=InnoDB"));
  const Value list = Value::array({"INSERT INTO lost4 VALUES (1)", "INSERT INTO lost4 VALUES (2)",
                                   "INSERT INTO lost4 VALUES (3)"});
  struct Case {
    const char* name;
    long killAt;  // 0: before BEGIN; n: after the n-th statement, on the first run only
    bool callback;
  };
  for (const Case& c : {Case{"on BEGIN, callback", 0, true}, Case{"on BEGIN, handler", 0, false},
                        Case{"mid-list, callback", 2, true}, Case{"mid-list, handler", 2, false}}) {
    SCOPED_TRACE(c.name);
    Recorder rec;
    ServerPtr s = connectTo(c.callback ? rec.block() : Value());
    const std::string kill = "KILL " + std::to_string(scalar(s, "SELECT CONNECTION_ID()"));
    std::vector<long long> seen;
    bool killed = false;
    s->bOnMultiQry = Value(Callable([&](Args a) -> Value {
      seen.push_back(a[0].asInt());
      if (!killed && a[0].asInt() == c.killAt) {
        killed = true;
        EXPECT_TRUE(killer->SqlQuery(kill));
      }
      return {};
    }));
    if (c.killAt == 0) {
      killed = true;
      ASSERT_TRUE(killer->SqlQuery(kill));
    }
    ErrorPtr err = guarded([&] { EXPECT_TRUE(s->MultiQuery(list)); });
    EXPECT_FALSE(err) << (err ? err->Description.asString() : "");
    EXPECT_TRUE(rec.calls->empty()) << rec.calls->front().number;
    EXPECT_EQ(scalar(killer, "SELECT COUNT(*) FROM lost4"), 3);
    // The callback saw the first run up to the loss, then the whole second run.
    const std::vector<long long> expected =
        c.killAt == 0 ? std::vector<long long>{1, 2, 3} : std::vector<long long>{1, 2, 1, 2, 3};
    EXPECT_EQ(seen, expected);
    ASSERT_TRUE(killer->SqlQuery("DELETE FROM lost4"));
    s->End();
  }
  killer->SqlQuery("DROP TABLE lost4");
}

// A connection lost with the COMMIT on its way leaves the outcome unknown: the
// list is not run again and the caller learns it with its own code, never
// true. A list that met a conflict (1213) is rolled back whole and runs again;
// with no run again allowed the conflict is reported.
TEST(Server, MultiQueryCommitLostAndConflicts) {
  ServerPtr killer = connectTo();
  ASSERT_TRUE(killer->SqlQuery("CREATE OR REPLACE TABLE lost5 (id INT PRIMARY KEY, n INT) ENGINE=InnoDB"));
  ASSERT_TRUE(killer->SqlQuery("INSERT INTO lost5 VALUES (1, 0), (2, 0)"));
  {
    SCOPED_TRACE("COMMIT lost");
    Recorder rec;
    ServerPtr s = connectTo(rec.block());
    const std::string kill = "KILL " + std::to_string(scalar(s, "SELECT CONNECTION_ID()"));
    int runs = 0;
    s->bOnMultiQry = Value(Callable([&](Args a) -> Value {
      if (a[0].asInt() == 2 && ++runs == 1) {
        EXPECT_TRUE(killer->SqlQuery(kill));
      }
      return {};
    }));
    const bool done = s->MultiQuery(
        Value::array({"UPDATE lost5 SET n = n + 1 WHERE id = 1", "UPDATE lost5 SET n = n + 1 WHERE id = 2"}));
    const long long n = scalar(killer, "SELECT SUM(n) FROM lost5");
    if (done) {
      // The COMMIT met 2006 (never sent): the list ran again, whole, once.
      EXPECT_EQ(runs, 2);
      EXPECT_EQ(n, 2);
    } else {
      EXPECT_EQ(runs, 1) << "a list whose COMMIT was lost must not run again";
      EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrUnknownOutcome});
      EXPECT_EQ(n, 0);  // the KILL rolled it back; the caller could not know that
    }
    EXPECT_TRUE(s->SqlQuery("SELECT 1"));  // the object works on
    db::freeResult(db::storeResult(s->handle()));
    s->End();
  }
  ASSERT_TRUE(killer->SqlQuery("UPDATE lost5 SET n = 0"));
  for (long long retries : {3LL, 0LL}) {
    SCOPED_TRACE(retries ? "a conflict, run again" : "a conflict, no run again allowed");
    Recorder rec;
    ServerPtr s = connectTo(rec.block());
    s->nMultiRetries = retries;
    // The other writer holds row 2 and changed many rows, so that InnoDB
    // picks the list, the smaller transaction, as the deadlock's victim.
    ServerPtr other = connectTo();
    ASSERT_TRUE(other->SqlQuery("CREATE OR REPLACE TABLE lost5_bulk (id INT PRIMARY KEY) ENGINE=InnoDB"));
    ASSERT_TRUE(other->BeginTransaction());
    ASSERT_TRUE(other->SqlQuery("INSERT INTO lost5_bulk SELECT seq FROM seq_1_to_2000"));
    ASSERT_TRUE(other->SqlQuery("UPDATE lost5 SET n = n + 10 WHERE id = 2"));
    std::thread waiter;
    int runs = 0;
    s->bOnMultiQry = Value(Callable([&](Args a) -> Value {
      if (a[0].asInt() == 1 && ++runs == 1) {
        // The other writer now waits for row 1, which the list holds; the
        // list's next statement waits for row 2: a deadlock.
        waiter = std::thread([&] {
          other->SqlQuery("UPDATE lost5 SET n = n + 10 WHERE id = 1");
          other->CommitTransaction();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      return {};
    }));
    const bool done = s->MultiQuery(
        Value::array({"UPDATE lost5 SET n = n + 1 WHERE id = 1", "UPDATE lost5 SET n = n + 1 WHERE id = 2"}));
    waiter.join();
    if (retries) {
      EXPECT_TRUE(done);
      EXPECT_EQ(runs, 2);
      EXPECT_TRUE(rec.calls->empty());
      EXPECT_EQ(killer->Query("SELECT GROUP_CONCAT(n ORDER BY id) FROM lost5")->FieldGet(1).asString(), "11,11");
    } else {
      EXPECT_FALSE(done);
      EXPECT_EQ(rec.numbers(), (std::vector<long long>{1213, kErrMultiQuery}));
      EXPECT_EQ(killer->Query("SELECT GROUP_CONCAT(n ORDER BY id) FROM lost5")->FieldGet(1).asString(), "10,10");
    }
    other->SqlQuery("DROP TABLE lost5_bulk");
    ASSERT_TRUE(killer->SqlQuery("UPDATE lost5 SET n = 0"));
    other->End();
    s->End();
  }
  killer->SqlQuery("DROP TABLE lost5");
}

// A statement lost while it ran may have been applied: it is reported (2013),
// unless the caller said its statements may run twice; then it is sent again
// on a new connection and nothing is reported.
TEST(Server, RepeatableStatementsAreSentAgainAfterALoss) {
  ServerPtr killer = connectTo();
  ASSERT_TRUE(killer->SqlQuery("CREATE OR REPLACE TABLE lost6 (id INT PRIMARY KEY, v INT) ENGINE=InnoDB"));
  ASSERT_TRUE(killer->SqlQuery("INSERT INTO lost6 VALUES (1, 0)"));
  for (bool repeatable : {false, true}) {
    SCOPED_TRACE(repeatable ? "repeatable" : "not repeatable");
    Recorder rec;
    ServerPtr s = connectTo(rec.block());
    s->lRepeatable = repeatable;
    ASSERT_TRUE(killer->SqlQuery("KILL " + std::to_string(scalar(s, "SELECT CONNECTION_ID()"))));
    EXPECT_EQ(s->SqlQuery("UPDATE lost6 SET v = 5 WHERE id = 1"), repeatable);
    EXPECT_EQ(rec.numbers(), repeatable ? std::vector<long long>{} : std::vector<long long>{2013});
    EXPECT_EQ(scalar(killer, "SELECT v FROM lost6"), repeatable ? 5 : 0);
    s->End();
  }
  killer->SqlQuery("DROP TABLE lost6");
}

// What the last statement changed: rows changed (not matched) and the
// AUTO_INCREMENT value an INSERT gave.
TEST(Server, AffectedRowsAndInsertId) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  ASSERT_TRUE(s->SqlQuery("CREATE OR REPLACE TABLE changed (id INT AUTO_INCREMENT PRIMARY KEY, v INT)"));
  ASSERT_TRUE(s->SqlQuery("INSERT INTO changed (v) VALUES (1), (1), (2)"));
  EXPECT_EQ(s->AffectedRows(), 3);
  EXPECT_EQ(s->InsertId(), 1);  // the first row of a multi-row INSERT
  ASSERT_TRUE(s->Insert("changed", Value::array({"v"}), Value::array({7})));
  EXPECT_EQ(s->InsertId(), 4);
  struct Case {
    const char* sql;
    long long changed;
  };
  for (const Case& c : {Case{"UPDATE changed SET v = 9 WHERE id = 99", 0}, Case{"UPDATE changed SET v = 1 WHERE v = 1", 0},
                        Case{"UPDATE changed SET v = 3 WHERE v = 1", 2}, Case{"DELETE FROM changed WHERE v = 2", 1}}) {
    SCOPED_TRACE(c.sql);
    ASSERT_TRUE(s->SqlQuery(c.sql));
    EXPECT_EQ(s->AffectedRows(), c.changed);
  }
  EXPECT_FALSE(s->SqlQuery("UPDATE changed SET nope = 1"));
  EXPECT_EQ(s->AffectedRows(), -1);
  EXPECT_EQ(s->send("AffectedRows").asInt(), -1);
  s->SqlQuery("DROP TABLE changed");
  s->End();
  EXPECT_EQ(s->AffectedRows(), -1);
  EXPECT_EQ(s->InsertId(), 0);
}

// A handler may throw the caller's own exception: it reaches the caller's
// catch, and the server object and its queries work on afterwards.
TEST(Server, HandlerThatThrowsTheCallersException) {
  struct DbError : std::runtime_error {
    long long code;
    explicit DbError(const Error& e) : std::runtime_error(errorMessage(e)), code(e.SubCode.asInt()) {}
  };
  ServerPtr s = connectTo();
  QueryPtr q = s->Query("SELECT 1 AS one");
  const db::LiveHandles before = db::liveHandles();
  for (const char* sql : {"UPDATE no_such_table_here SET a = 1", "SELEKT 1", "   "}) {
    SCOPED_TRACE(sql);
    HandlerScope scope([](const ErrorPtr& e) -> Value { throw DbError(*e); });
    long long code = 0;
    try {
      s->SqlQuery(sql);
    } catch (const DbError& e) {
      code = e.code;
    }
    EXPECT_NE(code, 0);
  }
  EXPECT_EQ(db::liveHandles().connections, before.connections);
  EXPECT_EQ(db::liveHandles().results, before.results);
  EXPECT_EQ(scalar(s, "SELECT 2"), 2);
  EXPECT_EQ(q->FieldGet("one").asInt(), 1);
  q->End();
  s->End();
}

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

// A statement on an object without a connection (refused at New, or ended)
// is reported, and a list of them fails instead of reporting success.
TEST(Server, StatementsWithoutAConnectionAreReported) {
  const auto& e = serverEnv();
  for (bool ended : {false, true}) {
    SCOPED_TRACE(ended ? "after End" : "refused");
    Recorder rec;
    ServerPtr s = TQuillonSrv::create();
    s->New("127.0.0.1", e.user, e.password, static_cast<int>(ended ? e.port : closedPort()), 0, e.database,
           rec.block());
    if (ended) s->End();
    rec.calls->clear();
    EXPECT_FALSE(s->SqlQuery("SELECT 1"));
    EXPECT_FALSE(s->MultiQuery(Value::array({"SELECT 1", "SELECT 2"})));
    EXPECT_FALSE(s->Update("t", Value::array({"a"}), Value::array({1})));
    EXPECT_EQ(rec.numbers(), (std::vector<long long>{kErrNoConnection, kErrNoConnection, kErrNoConnection}));
    ErrorPtr err = guarded([&] {
      s->bOnError = Value();
      s->SqlQuery("SELECT 1");
    });
    ASSERT_TRUE(err);
    EXPECT_EQ(err->SubCode.asInt(), kErrNoConnection);
  }
}
