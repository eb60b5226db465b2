// Threads without a server: each thread's handler stack and network-error
// flag are its own, the handle tables take opens, lookups and closes from many
// threads at once, and the date format may be set while other threads show dates.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/error.h"
#include "veltro/value.h"

namespace veltro {
namespace {

ErrorPtr numbered(int code) {
  auto e = std::make_shared<Error>();
  e->SubSystem = "TEST";
  e->SubCode = code;
  return e;
}

// Two threads hold guarded blocks and handlers at the same time, in steps
// kept in lockstep by a barrier: each raise reaches the raising thread's own
// innermost handler, and neither thread's depth moves with the other's.
TEST(ThreadsUnit, HandlerStacksAreIndependent) {
  const std::size_t mainDepth = handlerDepth();
  std::barrier step(2);
  struct Seen {
    std::size_t depthAtStart = 99, depthInside = 0, depthAfter = 99;
    long long substituted = 0;
    std::vector<long long> caught;
    bool networkFlag = true;
  };
  Seen seen[2];

  auto run = [&](int t) {
    Seen& s = seen[t];
    s.depthAtStart = handlerDepth();
    setNetworkError(t == 0);  // each thread's own flag
    step.arrive_and_wait();
    for (int round = 0; round < 50; ++round) {
      ErrorPtr err = guarded([&] {
        // A plain handler in thread 1 only: thread 0's raise must not meet it.
        std::optional<HandlerScope> substitute;
        if (t == 1) substitute.emplace([](const ErrorPtr& e) { return Value(e->SubCode.asInt() * 10); });
        step.arrive_and_wait();  // both threads now hold their handlers
        s.depthInside = handlerDepth();
        if (t == 1) {
          s.substituted = raiseError(numbered(7)).asInt();
          substitute.reset();
        }
        step.arrive_and_wait();
        raiseError(numbered(100 * (t + 1) + round));
        ADD_FAILURE() << "thread " << t << " went on after its raise";
      });
      s.caught.push_back(err ? err->SubCode.asInt() : -1);
    }
    s.depthAfter = handlerDepth();
    s.networkFlag = networkError();
  };
  std::thread first(run, 0), second(run, 1);
  first.join();
  second.join();

  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(seen[t].depthAtStart, 0u) << "a new thread starts with no handler";
    EXPECT_EQ(seen[t].depthInside, t == 0 ? 1u : 2u);
    EXPECT_EQ(seen[t].depthAfter, 0u);
    ASSERT_EQ(seen[t].caught.size(), 50u);
    for (int round = 0; round < 50; ++round) EXPECT_EQ(seen[t].caught[round], 100 * (t + 1) + round);
    EXPECT_EQ(seen[t].networkFlag, t == 0);
  }
  EXPECT_EQ(seen[1].substituted, 70);
  EXPECT_EQ(handlerDepth(), mainDepth);
}

using testing::closedPort;

// Refused connections still get handles (their error is read from them), so
// eight threads open, look up and close handles at once without a server. A
// handle is live until closed and none afterwards, though other threads reuse
// its slot; no number is handed out twice (no slot's generation turns over
// here); nothing stays open.
TEST(ThreadsUnit, HandleTablesServeManyThreads) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 100;
  const unsigned port = closedPort();
  const db::LiveHandles before = db::liveHandles();
  std::vector<std::vector<std::string>> problems(kThreads);
  std::vector<std::vector<db::Handle>> handedOut(kThreads);
  std::barrier start(kThreads);

  auto run = [&](int t) {
    start.arrive_and_wait();
    std::vector<db::Handle> closed;
    for (int round = 0; round < kRounds; ++round) {
      db::Handle held[3];
      for (db::Handle& h : held) {
        h = db::connect("127.0.0.1", "nobody", "nothing", port, 0, nullptr);
        if (!db::isConnection(h)) problems[t].push_back("a new handle reads as none");
        handedOut[t].push_back(h);
      }
      for (db::Handle h : held) {
        const unsigned number = db::errnum(h);
        if (number != 2002 && number != 2003) problems[t].push_back("error " + std::to_string(number));
        if (db::ping(h) == 0) problems[t].push_back("a refused connection answers ping");
      }
      for (db::Handle h : held) {
        db::close(h);
        closed.push_back(h);
      }
      // Closed handles read as none, though other threads reuse their slots.
      for (db::Handle h : closed)
        if (db::isConnection(h)) problems[t].push_back("a closed handle reads as live");
      if (closed.size() > 30) closed.erase(closed.begin(), closed.begin() + 15);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(run, t);
  for (std::thread& thread : threads) thread.join();

  std::set<db::Handle> distinct;
  for (int t = 0; t < kThreads; ++t) {
    for (const std::string& p : problems[t]) ADD_FAILURE() << "thread " << t << ": " << p;
    distinct.insert(handedOut[t].begin(), handedOut[t].end());
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kRounds * 3));
  const db::LiveHandles after = db::liveHandles();
  EXPECT_EQ(after.connections, before.connections);
  EXPECT_EQ(after.results, before.results);
}

// One thread switches the date format while others show a date: each display
// follows one format or the other, whole.
TEST(ThreadsUnit, DateFormatChangesWhileOthersShowDates) {
  const std::string saved = dateFormat();
  const Date day = Date::fromYMD(2024, 3, 9);
  std::atomic<bool> done{false};
  std::atomic<int> shown{0};
  std::vector<std::string> odd;
  std::mutex oddMutex;
  auto show = [&] {
    while (!done.load()) {
      const std::string text = day.display();
      ++shown;
      if (text != "09/03/2024" && text != "2024-03-09") {
        std::lock_guard<std::mutex> lock(oddMutex);
        odd.push_back(text);
      }
    }
  };
  setDateFormat("dd/mm/yyyy");
  std::thread a(show), b(show);
  // Until the readers have shown enough dates, however the threads are scheduled.
  for (int i = 0; i < 2000 || shown.load() < 2000; ++i) setDateFormat(i % 2 ? "dd/mm/yyyy" : "yyyy-mm-dd");
  done = true;
  a.join();
  b.join();
  setDateFormat(saved);
  EXPECT_TRUE(odd.empty()) << odd.front();
}

}  // namespace
}  // namespace veltro
