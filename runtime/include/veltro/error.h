// The error object, the stack of error handlers, guarded blocks and the
// default handling that reports an error and ends the program.
//
// Each thread has its own handler stack: an error raised in a thread goes to
// that thread's innermost handler (or guarded block), else to the default
// handling. The alert console is one for the whole process.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro {

// The process's standard error record. Fields are Values because handlers test
// their kinds ("SubSystem when it is a text").
struct Error {
  Value SubSystem = "";
  Value SubCode = 0;
  Value Severity = 2;  // 2 error, 1 warning
  Value Description = "";
  Value Operation = "";
  Value Args;
  Value GenCode = 0;
  Value OsCode = 0;
  Value CanRetry = false;
  Value CanDefault = false;
  Value CanSubstitute = false;
  Value FileName = "";
  Value Cargo;
};
using ErrorPtr = std::shared_ptr<Error>;

// A handler receives the error object; its result goes back to the code that raised it.
using ErrorHandler = std::function<Value(const ErrorPtr&)>;

// Hands an error to the calling thread's current handler (its innermost
// installed one, else the default handling) and returns that handler's result.
VELTRO_API Value raiseError(const ErrorPtr& error);

// Installs a handler in the calling thread for the lifetime of the scope; the
// previous one is current again afterwards.
class VELTRO_API HandlerScope {
 public:
  explicit HandlerScope(ErrorHandler handler);
  ~HandlerScope();
  HandlerScope(const HandlerScope&) = delete;
  HandlerScope& operator=(const HandlerScope&) = delete;

 private:
  std::size_t depth_;
};

// Number of handlers the calling thread installed above the default handling.
VELTRO_API std::size_t handlerDepth();

// Runs body(context) with a handler that ends the block at once on any raised
// error; returns the error that ended the block, or nullptr when body ran to
// its end. The unwinding stays inside the library; callers use guarded().
VELTRO_API ErrorPtr runGuarded(void (*body)(void* context), void* context);

// Runs body with a handler that ends the block at once on any raised error.
// Returns the error that ended the block, or nullptr when body ran to its end.
template <class F>
ErrorPtr guarded(F&& body) {
  using Body = std::remove_reference_t<F>;
  void* context = const_cast<void*>(static_cast<const void*>(std::addressof(body)));
  return runGuarded([](void* at) { (*static_cast<Body*>(at))(); }, context);
}

// The message line of the default handling: "Error SUB/CODE  Description: Operation".
VELTRO_API std::string errorMessage(const Error& error);
// The "(DOS Error n)" text, or "" when the operating-system code is 0.
VELTRO_API std::string errorAdditional(const Error& error);

// The console that the default handling shows its alert on, one for the
// process. The program installs its screen; without one, the alert is written
// to the error output and answered "Quit". Errors of several threads are
// shown one after another, never at once.
class VELTRO_API AlertConsole {
 public:
  virtual ~AlertConsole() = default;
  // Shows a modal alert; ';' separates lines. Returns the chosen position from 1, or 0 for Esc.
  virtual int alert(const std::string& message, const std::vector<std::string>& choices) = 0;
  // Restores the terminal before the program ends; what was shown must stay readable.
  virtual void shutdown() {}
};
VELTRO_API void setAlertConsole(AlertConsole* console);  // nullptr: the plain error-output console
// The console now installed (the plain one when none is).
VELTRO_API AlertConsole& alertConsole();

// The default handling: silent cases, then the alert, then Quit (error output,
// "Called from" lines, exit code 1), Retry (true) or Default (false).
VELTRO_API Value defaultErrorHandling(const ErrorPtr& error);

// The calling thread's network-error flag: set when the default handling
// resolves a failed file open (sharing violation) or append lock of this
// thread by using the default.
VELTRO_API bool networkError();
VELTRO_API void setNetworkError(bool on);

}  // namespace veltro
