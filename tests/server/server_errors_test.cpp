// The server object's errors against the real throwaway server: checking,
// reporting to a callback or the handlers, and what a handler may do.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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
using veltro::testing::ServerEnv;

using veltro::testing::Recorder;

namespace {

ServerPtr connectTo(const Value& onError = {}) { return veltro::testing::connectServer(onError); }
long long scalar(const ServerPtr& s, const std::string& sql) { return veltro::testing::scalarOf(s, sql); }

}  // namespace

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

// lError is the caller's: a callback that clears it must not make the library
// go on past a step that failed. Each case fails once, is reported once, and
// leaves nothing half done.
TEST(Server, ACallbackThatClearsTheErrorFlagStopsNothing) {
  const ServerEnv& e = serverEnv();
  const Value goodColumns = Value::array({Value::array({"id", "N", 10, 0, true, Value()})});
  struct Case {
    const char* name;
    std::function<bool(TQuillonSrv&)> run;
    std::vector<long long> reported;  // empty: any one code
  };
  const std::vector<Case> cases = {
      {"a refused connect ends the object",
       [&](TQuillonSrv& s) {
         // Port 1 of the loopback: nothing listens there, on a cluster run too.
         s.New("127.0.0.1", e.user, e.password, 1, 0, e.database, s.bOnError);
         return s.handle() != 0;
       },
       {}},
      {"a column definition of five elements sends no CREATE",
       [](TQuillonSrv& s) {
         return s.CreateTable("cleared_flag_t", Value::array({Value::array({"id", "N", 10, 0, true})}));
       },
       {kErrStructureCount}},
      {"a primary key naming no column stops at the first refusal",
       [&](TQuillonSrv& s) { return s.CreateTable("cleared_flag_t", goodColumns, "nope", "nope_either"); },
       {kErrNoPrimaryColumn}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerPtr s = connectTo();
    ASSERT_TRUE(s->SqlQuery("DROP TABLE IF EXISTS cleared_flag_t"));
    auto calls = std::make_shared<std::vector<long long>>();
    TQuillonSrv* target = s.get();
    s->bOnError = Value(Callable([calls, target](Args a) -> Value {
      calls->push_back(argAt(a, 1).asInt());
      target->lError = false;
      return {};
    }));
    EXPECT_FALSE(c.run(*s));
    ASSERT_EQ(calls->size(), 1u);
    if (!c.reported.empty()) {
      EXPECT_EQ(*calls, c.reported);
    }
    if (s->handle() != 0) {
      EXPECT_FALSE(s->TableExist("cleared_flag_t"));
    }
  }
}

// A refused operation that answers a number answers 0, a number still, and
// reports its own code once.
TEST(Server, RefusalsThatAnswerANumberAnswerZero) {
  Recorder rec;
  ServerPtr s = connectTo(rec.block());
  s->cDBName = "";
  struct Case {
    const char* what;
    std::function<Value()> run;
    long long code;
  };
  const std::vector<Case> cases = {
      {"GetAutoIncrement without a current database", [&] { return s->GetAutoIncrement("t"); }, kErrNoCurrentDatabase},
      {"GetRowsFromQry of a text", [&] { return s->GetRowsFromQry(Value("SELECT 1")); }, kErrNotAQuery},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec.calls->clear();
    const Value answer = c.run();
    EXPECT_TRUE(answer.isNumber());
    EXPECT_EQ(answer.asInt(), 0);
    EXPECT_EQ(rec.numbers(), std::vector<long long>{c.code});
  }
}
