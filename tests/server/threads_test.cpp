// Threads: eight threads, each with its own server object, run statements,
// queries, edits with Save on their own rows of one table, and failing
// statements in guarded blocks, all at once. Each thread must see only its own
// work and its own errors, and nothing may be left open afterwards.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server_support.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"

namespace veltro::testing {
namespace {

constexpr int kThreads = 8;
constexpr int kIterations = 300;
constexpr int kRowsPerThread = 3;

// What one thread saw, checked on the main thread after all have ended.
struct ThreadLog {
  std::vector<std::string> problems;
  std::vector<long long> queryIds;
  int guardedErrors = 0;
};

// The note thread t writes on its rows in iteration i (0: as seeded).
std::string noteOf(int t, int i) { return "t" + std::to_string(t) + "-i" + std::to_string(i); }

// The error number of thread t's failing statement in iteration i: unique to
// the thread, so an error that reached another thread's block is told apart.
int errorNumberOf(int t, int i) { return 20000 + t * 1000 + i % 1000; }

// One iteration of thread t: a statement, a walk over its rows that checks
// and saves them, a failing statement in a guarded block, a query number.
void iterate(const ServerPtr& srv, int t, int i, ThreadLog& log) {
  const std::string at = " in iteration " + std::to_string(i);
  auto problem = [&](const std::string& what) { log.problems.push_back(what + at); };
  const std::string owner = std::to_string(t);

  if (!srv->SqlQuery("INSERT INTO thr_log (owner, k) VALUES (" + owner + ", " + std::to_string(i) + ")"))
    problem("INSERT failed");

  // The rows hold what this thread saved in the previous iteration.
  QueryPtr q = srv->Query("SELECT id, owner, n, note FROM thr_rows WHERE owner = " + owner + " ORDER BY id");
  log.queryIds.push_back(q->nQryId.asInt());
  int seen = 0;
  for (; !q->Eof(); q->Skip()) {
    ++seen;
    if (q->FieldGet("owner").asInt() != t) problem("a row of another thread");
    if (q->FieldGet("n").asInt() != i - 1) problem("n " + q->FieldGet("n").toString());
    if (std::string(trimRight(q->FieldGet("note").asString())) != noteOf(t, i - 1))
      problem("note " + q->FieldGet("note").asString());
    q->FieldPut("n", i);
    q->FieldPut("note", noteOf(t, i));
    if (!q->Save().asBool()) problem("nothing saved");
  }
  if (seen != kRowsPerThread) problem(std::to_string(seen) + " rows");
  q->End();

  const int number = errorNumberOf(t, i);
  const std::string text = "thread " + owner + " iteration " + std::to_string(i);
  const std::size_t depth = handlerDepth();
  bool wentOn = false;
  ErrorPtr err = guarded([&] {
    srv->SqlQuery("SIGNAL SQLSTATE '45000' SET MYSQL_ERRNO = " + std::to_string(number) + ", MESSAGE_TEXT = '" +
                  text + "'");
    wentOn = true;
  });
  if (!err || wentOn)
    problem("the failing statement did not end its block");
  else if (err->SubCode.asInt() != number || err->Description.asString().find(text) == std::string::npos)
    problem("error " + err->SubCode.toString() + " " + err->Description.asString());
  else
    ++log.guardedErrors;
  if (handlerDepth() != depth) problem("handlers left installed");

  log.queryIds.push_back(srv->GetQueryId().asInt());
}

void work(int t, ThreadLog& log) {
  ServerPtr srv;
  // No bOnError: a failed statement raises, and the error unwinds to a
  // guarded block of this thread; an unexpected one ends the thread's run
  // here instead of ending the process.
  ErrorPtr unexpected = guarded([&] {
    srv = connectServer(Value());
    // Kept out of the general log, which other tests read back and scan whole.
    srv->SqlQuery("SET SESSION sql_log_off = 1");
    for (int i = 1; i <= kIterations; ++i) iterate(srv, t, i, log);
  });
  if (unexpected) log.problems.push_back("unexpected error " + errorMessage(*unexpected));
  if (handlerDepth() != 0) log.problems.push_back("handlers left installed");
  if (srv) srv->End();
}

TEST(Threads, ServerObjectsWorkInParallel) {
  SideConnection side;
  ASSERT_NE(side.handle(), 0);
  side.exec("DROP TABLE IF EXISTS thr_rows, thr_log");
  side.exec("CREATE TABLE thr_rows (id INT PRIMARY KEY, owner INT NOT NULL, n INT NOT NULL, note VARCHAR(20))");
  side.exec("CREATE TABLE thr_log (owner INT NOT NULL, k INT NOT NULL)");
  std::string seed = "INSERT INTO thr_rows VALUES ";
  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRowsPerThread; ++r) {
      if (t || r) seed += ", ";
      seed += "(" + std::to_string(t * 100 + r + 1) + ", " + std::to_string(t) + ", 0, '" + noteOf(t, 0) + "')";
    }
  }
  side.exec(seed);
  const db::LiveHandles before = db::liveHandles();

  std::vector<ThreadLog> logs(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t, std::ref(logs[t]));
  for (std::thread& thread : threads) thread.join();

  std::set<long long> ids;
  std::size_t handedOut = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (const std::string& p : logs[t].problems) ADD_FAILURE() << "thread " << t << ": " << p;
    EXPECT_EQ(logs[t].guardedErrors, kIterations) << "thread " << t;
    ids.insert(logs[t].queryIds.begin(), logs[t].queryIds.end());
    handedOut += logs[t].queryIds.size();
  }
  EXPECT_EQ(handedOut, static_cast<std::size_t>(kThreads * kIterations * 2));
  EXPECT_EQ(ids.size(), handedOut) << "query ids handed out twice";

  // Each thread's rows hold its own last values; each statement arrived once.
  for (const auto& row : side.rows("SELECT owner, n, note FROM thr_rows ORDER BY id")) {
    const int t = std::stoi(row[0]);
    EXPECT_EQ(row[1], std::to_string(kIterations)) << "thread " << t;
    EXPECT_EQ(row[2], noteOf(t, kIterations)) << "thread " << t;
  }
  auto counts = side.rows("SELECT owner, COUNT(*), COUNT(DISTINCT k) FROM thr_log GROUP BY owner ORDER BY owner");
  ASSERT_EQ(counts.size(), static_cast<std::size_t>(kThreads));
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(counts[t], (std::vector<std::string>{std::to_string(t), std::to_string(kIterations),
                                                   std::to_string(kIterations)}));

  const db::LiveHandles after = db::liveHandles();
  EXPECT_EQ(after.connections, before.connections) << "connections left open";
  EXPECT_EQ(after.results, before.results) << "results left unfreed";
  side.exec("DROP TABLE thr_rows, thr_log");
}

}  // namespace
}  // namespace veltro::testing
