#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "veltro/error.h"
#include "veltro/error_report.h"

using namespace veltro;

namespace {

ErrorPtr makeError(std::string subsystem, int code, std::string description, std::string operation = "") {
  auto e = std::make_shared<Error>();
  e->SubSystem = std::move(subsystem);
  e->SubCode = code;
  e->Description = std::move(description);
  e->Operation = std::move(operation);
  return e;
}

// Answers alerts from a script and records what it was shown.
class ScriptedConsole : public AlertConsole {
 public:
  explicit ScriptedConsole(std::vector<int> answers) : answers_(std::move(answers)) {}
  int alert(const std::string& message, const std::vector<std::string>& choices) override {
    messages.push_back(message);
    lastChoices = choices;
    return answers_.at(next_++);
  }
  std::vector<std::string> messages;
  std::vector<std::string> lastChoices;

 private:
  std::vector<int> answers_;
  std::size_t next_ = 0;
};

// Installs a console for one test and puts the plain one back.
struct ConsoleScope {
  explicit ConsoleScope(AlertConsole* c) { setAlertConsole(c); }
  ~ConsoleScope() { setAlertConsole(nullptr); }
};

class ShutdownMarkConsole : public AlertConsole {
 public:
  int alert(const std::string&, const std::vector<std::string>&) override { return 1; }
  void shutdown() override { std::fputs("CONSOLE RESTORED", stderr); }
};

}  // namespace

// Raises from a frame of its own so that the report can be checked to start
// there; the work after the call keeps the compiler from making it a jump.
__attribute__((noinline)) int raiseFromHere(const ErrorPtr& e) {
  Value result = raiseError(e);
  return static_cast<int>(result.asInt()) + 1;
}

TEST(Error, GuardedBlocks) {
  const std::size_t depth = handlerDepth();
  EXPECT_EQ(guarded([] {}), nullptr);

  int reached = 0;
  ErrorPtr e = guarded([&] {
    reached = 1;
    raiseError(makeError("TEST", 1, "first"));
    reached = 2;
  });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->SubCode, Value(1));
  EXPECT_EQ(reached, 1);
  EXPECT_EQ(handlerDepth(), depth);

  // The inner block takes its own error; the outer one goes on and takes the next.
  std::vector<std::string> trail;
  ErrorPtr outer = guarded([&] {
    ErrorPtr inner = guarded([&] {
      raiseError(makeError("TEST", 2, "inner"));
      trail.push_back("inner went on");
    });
    trail.push_back(inner ? "inner caught " + inner->Description.asString() : "inner none");
    EXPECT_EQ(handlerDepth(), depth + 1);
    raiseError(makeError("TEST", 3, "outer"));
    trail.push_back("outer went on");
  });
  ASSERT_TRUE(outer);
  EXPECT_EQ(outer->SubCode, Value(3));
  EXPECT_EQ(trail, std::vector<std::string>{"inner caught inner"});
  EXPECT_EQ(handlerDepth(), depth);

  // An error raised inside a handler scope nested in a block goes to that scope's handler.
  ErrorPtr none = guarded([&] {
    HandlerScope substitute([](const ErrorPtr& err) { return Value(err->SubCode.asInt() * 10); });
    EXPECT_EQ(raiseError(makeError("TEST", 4, "x")), Value(40));
  });
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(handlerDepth(), depth);
}

TEST(Error, MessageText) {
  EXPECT_EQ(errorMessage(*makeError("MYSQL", 1064, "You have an error ")),
            "Error MYSQL/1064  You have an error ");

  auto warning = makeError("TQUILLON", 9001, "Internal Error ");
  warning->Severity = 1;
  EXPECT_EQ(errorMessage(*warning), "Warning TQUILLON/9001  Internal Error ");

  auto unknown = std::make_shared<Error>();
  unknown->SubSystem = Value();
  unknown->SubCode = "x";
  unknown->Description = Value();
  EXPECT_EQ(errorMessage(*unknown), "Error ???" "/???");

  auto both = makeError("BASE", 7, "Open failed", "Use");
  both->FileName = "data.dbf";
  EXPECT_EQ(errorMessage(*both), "Error BASE/7  Open failed: data.dbf");
  both->FileName = "   ";  // blank counts as empty
  EXPECT_EQ(errorMessage(*both), "Error BASE/7  Open failed: Use");

  EXPECT_EQ(errorAdditional(*both), "");
  both->OsCode = 5;
  EXPECT_EQ(errorAdditional(*both), "(DOS Error 5)");

  EXPECT_EQ(quitReport(*both, {"MAIN(12)", "START(0)"}),
            "\nError BASE/7  Open failed: Use (DOS Error 5)"
            "\nCalled from MAIN(12)  "
            "\nCalled from START(0)  ");
  both->OsCode = 0;
  EXPECT_EQ(quitReport(*both, {}), "\nError BASE/7  Open failed: Use");
}

TEST(Error, DefaultHandlingSilentCases) {
  ScriptedConsole console({});  // any alert would fail the test
  ConsoleScope scope(&console);

  auto zeroDivide = makeError("BASE", 1340, "Zero divisor");
  zeroDivide->GenCode = 5;
  zeroDivide->CanSubstitute = true;
  EXPECT_EQ(defaultErrorHandling(zeroDivide), Value(0));

  auto lock = makeError("DBFNTX", 1010, "Lock failed");
  lock->GenCode = 41;
  lock->CanRetry = true;
  EXPECT_EQ(defaultErrorHandling(lock), Value(true));

  setNetworkError(false);
  auto open = makeError("DBFNTX", 1001, "Open error");
  open->GenCode = 21;
  open->OsCode = 32;
  open->CanDefault = true;
  EXPECT_EQ(defaultErrorHandling(open), Value(false));
  EXPECT_TRUE(networkError());

  setNetworkError(false);
  auto append = makeError("DBFNTX", 1024, "Append lock failed");
  append->GenCode = 40;
  append->CanDefault = true;
  EXPECT_EQ(defaultErrorHandling(append), Value(false));
  EXPECT_TRUE(networkError());
  setNetworkError(false);
  EXPECT_TRUE(console.messages.empty());
}

TEST(Error, DefaultHandlingAlert) {
  auto e = makeError("DBFNTX", 1001, "Open error", "USE");
  e->GenCode = 21;
  e->OsCode = 2;
  e->CanRetry = true;
  e->CanDefault = true;

  ScriptedConsole retry({0, 0, 2});  // Esc twice, then Retry
  {
    ConsoleScope scope(&retry);
    EXPECT_EQ(raiseError(e), Value(true));
  }
  ASSERT_EQ(retry.messages.size(), 3u);
  EXPECT_EQ(retry.messages[0], "Error DBFNTX/1001  Open error: USE;(DOS Error 2)");
  EXPECT_EQ(retry.lastChoices, (std::vector<std::string>{"Quit", "Retry", "Default"}));

  ScriptedConsole useDefault({3});
  {
    ConsoleScope scope(&useDefault);
    EXPECT_EQ(raiseError(e), Value(false));
  }

  e->CanRetry = false;
  ScriptedConsole onlyDefault({2});
  {
    ConsoleScope scope(&onlyDefault);
    EXPECT_EQ(raiseError(e), Value(false));
  }
  EXPECT_EQ(onlyDefault.lastChoices, (std::vector<std::string>{"Quit", "Default"}));
}

TEST(ErrorDeathTest, QuitReportsAndExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto e = makeError("TQUILLON", 9001, "Internal Error ");
  EXPECT_EXIT(raiseFromHere(e), ::testing::ExitedWithCode(1),
              "\nError TQUILLON/9001  Internal Error \nCalled from raiseFromHere\\(0\\)  \nCalled from ");

  auto dos = makeError("BASE", 7, "Open failed", "Use");
  dos->OsCode = 32;
  ShutdownMarkConsole marking;
  EXPECT_EXIT(
      {
        setAlertConsole(&marking);
        raiseFromHere(dos);
      },
      ::testing::ExitedWithCode(1), "^CONSOLE RESTORED\nError BASE/7  Open failed: Use \\(DOS Error 32\\)\n");
}
