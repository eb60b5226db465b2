// The stack of error handlers, guarded blocks and the default handling that
// shows an error and, on Quit, reports it with its callers and ends the program.
//
// Threads: the handler stack, the raise site and the network-error flag belong
// to the calling thread, so an error unwinds to a guarded block of its own
// thread. The installed console is one for the process; the default handling
// shows one alert at a time on it.
#include "veltro/error.h"
#include "veltro/error_report.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace veltro {

namespace {

std::vector<ErrorHandler>& handlers() {
  thread_local std::vector<ErrorHandler> stack;
  return stack;
}

thread_local bool networkErrorFlag = false;

// Return address into the code that called raiseError for the error being
// handled: the first of the callers that a Quit report lists.
thread_local void* raiseSite = nullptr;

// Without an installed screen the alert goes to the error output and is answered "Quit".
class PlainConsole : public AlertConsole {
 public:
  int alert(const std::string& message, const std::vector<std::string>& choices) override {
    std::string text;
    std::size_t start = 0;
    for (;;) {
      std::size_t semicolon = message.find(';', start);
      text.append(message, start, semicolon == std::string::npos ? std::string::npos : semicolon - start);
      text += '\n';
      if (semicolon == std::string::npos) break;
      start = semicolon + 1;
    }
    for (const std::string& choice : choices) text += "[ " + choice + " ] ";
    text += '\n';
    std::fputs(text.c_str(), stderr);
    return 1;
  }
};

std::atomic<AlertConsole*> installedConsole{nullptr};

// Held by the default handling from its first alert to the answer (or to the
// end of the process on Quit), so that errors of two threads do not share the
// screen. Recursive: a console may itself raise an error while it shows one.
std::recursive_mutex& alertMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// "ns::Class::method(int) const [clone .cold]" -> "ns::Class::method".
std::string bareFunctionName(std::string name) {
  if (std::size_t clone = name.find(" [clone"); clone != std::string::npos) name.resize(clone);
  for (bool changed = true; changed;) {
    changed = false;
    for (std::string_view q : {" const", " volatile", " &&", " &", "&&", "&"}) {
      if (endsWith(name, q)) {
        name.resize(name.size() - q.size());
        changed = true;
      }
    }
  }
  if (name.empty() || name.back() != ')') return name;
  int depth = 0;
  for (std::size_t i = name.size(); i-- > 0;) {
    if (name[i] == ')') ++depth;
    else if (name[i] == '(' && --depth == 0) return name.substr(0, i);
  }
  return name;
}

struct Frame {
  std::string name;
  std::string module;  // file name of the executable or library, without its directory
};

// The function that holds a return address, demangled and without its
// parameters; a frame without a symbol reads as its module and offset.
Frame describeFrame(void* address) {
  Dl_info info{};
  if (!dladdr(address, &info)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", address);
    return {buf, ""};
  }
  const char* module = info.dli_fname ? info.dli_fname : "?";
  if (const char* slash = std::strrchr(module, '/')) module = slash + 1;
  if (info.dli_sname) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : info.dli_sname;
    std::free(demangled);
    return {bareFunctionName(name), module};
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "+0x%zx",
                static_cast<std::size_t>(static_cast<char*>(address) - static_cast<char*>(info.dli_fbase)));
  return {module + std::string(buf), module};
}

bool isMachinery(const std::string& name) {
  return name == "veltro::raiseError" || name == "veltro::defaultErrorHandling" || name.rfind("std::", 0) == 0;
}

// The C library's start-up code lies beyond the program's own callers.
bool isStartup(const Frame& frame) {
  return frame.module.rfind("libc.so", 0) == 0 || frame.name == "_start";
}

// The active callers of the code that raised the error, innermost first, as
// "NAME(LINE)"; line numbers are not known at run time and read 0. The frames
// of the handling itself (the handler, raiseError, std::function glue) are left out.
std::vector<std::string> collectCallers() {
  void* frames[64];
  int count = backtrace(frames, 64);
  int first = 1;  // frame 0 is the handling that called backtrace
  for (int i = 1; i < count; ++i) {
    if (frames[i] == raiseSite) {
      first = i;
      break;
    }
  }
  std::vector<std::string> callers;
  bool skipping = first == 1;
  for (int i = first; i < count; ++i) {
    Frame frame = describeFrame(frames[i]);
    if (skipping && isMachinery(frame.name)) continue;
    skipping = false;
    if (isStartup(frame)) break;
    callers.push_back(frame.name + "(0)");
    if (frame.name == "main") break;
  }
  return callers;
}

bool isText(const Value& v) { return v.isString(); }

}  // namespace

// Not inlined, so that its return address marks the raising code for the report.
__attribute__((noinline)) Value raiseError(const ErrorPtr& error) {
  struct SiteScope {
    void* saved = raiseSite;
    ~SiteScope() { raiseSite = saved; }
  } site;
  raiseSite = __builtin_return_address(0);
  std::vector<ErrorHandler>& stack = handlers();
  if (stack.empty()) return defaultErrorHandling(error);
  // A copy: the handler may install or remove handlers while it runs.
  ErrorHandler handler = stack.back();
  return handler(error);
}

HandlerScope::HandlerScope(ErrorHandler handler) {
  handlers().push_back(std::move(handler));
  depth_ = handlers().size();
}

HandlerScope::~HandlerScope() {
  std::vector<ErrorHandler>& stack = handlers();
  while (stack.size() >= depth_ && !stack.empty()) stack.pop_back();
}

std::size_t handlerDepth() { return handlers().size(); }

namespace {
// Carries an error from a guarded block's handler to its block; thrown and
// caught only here, so that no exception of the library's crosses its edge.
struct Unwind {
  ErrorPtr error;
  std::size_t depth;
};
}  // namespace

ErrorPtr runGuarded(void (*body)(void* context), void* context) {
  const std::size_t depth = handlerDepth() + 1;
  try {
    HandlerScope scope([depth](const ErrorPtr& error) -> Value { throw Unwind{error, depth}; });
    body(context);
  } catch (Unwind& u) {
    if (u.depth != depth) throw;  // belongs to an outer block
    return std::move(u.error);
  }
  return nullptr;
}

std::string errorMessage(const Error& error) {
  std::string message = compare(error.Severity.asNumber(), Number::fromInt(1)) > 0 ? "Error" : "Warning";
  message += ' ';
  message += isText(error.SubSystem) ? error.SubSystem.asString() : std::string("???");
  message += '/';
  if (error.SubCode.isNumber()) error.SubCode.number().appendText(message);
  else message += "???";
  if (isText(error.Description)) message += "  " + error.Description.asString();
  if (!error.FileName.isEmpty()) message += ": " + error.FileName.toString();
  else if (!error.Operation.isEmpty()) message += ": " + error.Operation.toString();
  return message;
}

std::string errorAdditional(const Error& error) {
  if (!error.OsCode.isNumber() || error.OsCode.number().isZero()) return std::string();
  return "(DOS Error " + error.OsCode.number().text() + ")";
}

void setAlertConsole(AlertConsole* console) { installedConsole.store(console, std::memory_order_release); }

AlertConsole& alertConsole() {
  static PlainConsole plain;
  AlertConsole* installed = installedConsole.load(std::memory_order_acquire);
  return installed ? *installed : plain;
}

bool networkError() { return networkErrorFlag; }
void setNetworkError(bool on) { networkErrorFlag = on; }

std::string quitReport(const Error& error, const std::vector<std::string>& callers) {
  std::string report = "\n";
  report += errorMessage(error);
  std::string additional = errorAdditional(error);
  if (!additional.empty()) {
    report += ' ';
    report += additional;
  }
  for (const std::string& caller : callers) {
    report += "\nCalled from ";
    report += caller;
    report += "  ";
  }
  return report;
}

// Resolves the recoverable cases silently; otherwise shows the alert until the
// user picks a choice, and on Quit writes the report and ends the process.
Value defaultErrorHandling(const ErrorPtr& error) {
  static const Error none;
  const Error& e = error ? *error : none;
  const std::int64_t genCode = e.GenCode.asInt();
  const std::int64_t osCode = e.OsCode.asInt();
  const bool canRetry = e.CanRetry.asBool();
  const bool canDefault = e.CanDefault.asBool();

  if (genCode == 5 && e.CanSubstitute.asBool()) return Value(0);  // division by zero
  if (genCode == 41 && canRetry) return Value(true);               // lock failed
  if ((genCode == 21 && osCode == 32 && canDefault) || (genCode == 40 && canDefault)) {
    networkErrorFlag = true;  // open refused by sharing, or append lock failed
    return Value(false);
  }

  std::string message = errorMessage(e);
  std::string additional = errorAdditional(e);
  std::vector<std::string> choices{"Quit"};
  if (canRetry) choices.emplace_back("Retry");
  if (canDefault) choices.emplace_back("Default");
  std::string alertText = additional.empty() ? message : message + ";" + additional;

  std::lock_guard<std::recursive_mutex> oneAlert(alertMutex());
  int choice = 0;
  while (choice == 0) choice = alertConsole().alert(alertText, choices);  // 0 is Esc: ask again
  if (choice > 0 && static_cast<std::size_t>(choice) <= choices.size()) {
    if (choices[choice - 1] == "Retry") return Value(true);
    if (choices[choice - 1] == "Default") return Value(false);
  }

  std::string report = quitReport(e, collectCallers()) + "\n";
  // The screen is restored first so that the report stays readable after exit.
  alertConsole().shutdown();
  std::fputs(report.c_str(), stderr);
  std::fflush(stderr);
  std::exit(1);
}

}  // namespace veltro
