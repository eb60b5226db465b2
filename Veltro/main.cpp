// Veltro: a console benchmark of four ways of updating rows of clientes.
//
//   Veltro                                  the menu, in a terminal
//   Veltro --method N --rows N [--ini FILE] one method without the console
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "connect.h"
#include "updates.h"
#include "veltro/console.h"
#include "veltro/error.h"
#include "veltro/sqltext.h"
#include "veltro/value.h"

#ifndef VELTRO_VERSION
#define VELTRO_VERSION "unknown"
#endif

namespace veltro {

namespace {

// Exit codes.
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

constexpr const char* kUsage =
    "usage: Veltro                                   the menu (needs an interactive terminal)\n"
    "       Veltro --method N --rows N [--ini FILE]  run method N (1-4) over N rows and print\n"
    "                                                the summary line, without the console\n"
    "       Veltro --help | --version\n"
    "Settings are read from connect.ini in the current folder (or FILE).\n"
    "Methods: 1 Method Update, 2 Build Sentence, 3 Method Save, 4 Sentence UPDATE.\n"
    "Exit codes: 0 done, 1 an error (printed), 2 bad usage or no terminal.\n";

struct Options {
  bool help = false, version = false;
  int method = 0;  // 0: the menu
  long rows = 0;
  std::string ini = kSettingsFile;
};

// A whole number from 1 to max; false for anything else.
bool positive(const std::string& text, long max, long& out) {
  if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::atol(text.c_str());
  return out >= 1 && out <= max;
}

// The command line into options; "" when it is good, else what is wrong.
std::string parseOptions(int argc, char** argv, Options& o) {
  bool rowsGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg == "--version") {
      o.version = true;
      continue;
    }
    if (arg != "--method" && arg != "--rows" && arg != "--ini") return "unknown argument " + arg;
    if (i + 1 >= argc) return arg + " needs a value";
    const std::string value = argv[++i];
    long number = 0;
    if (arg == "--method") {
      if (!positive(value, 4, number)) return "--method takes 1, 2, 3 or 4, not \"" + value + "\"";
      o.method = static_cast<int>(number);
    } else if (arg == "--rows") {
      if (!positive(value, 1000000000L, number)) return "--rows takes a whole number of at least 1, not \"" + value + "\"";
      o.rows = number;
      rowsGiven = true;
    } else {
      if (value.empty()) return "--ini needs a file";
      o.ini = value;
    }
  }
  if (o.help || o.version) return {};
  if (o.method != 0 && !rowsGiven) return "--method needs --rows";
  if (o.method == 0 && rowsGiven) return "--rows needs --method";
  return {};
}

// A problem for the person at the terminal, on standard error.
void complain(const std::string& text) { std::fprintf(stderr, "Veltro: %s\n", text.c_str()); }

// One method without the console: the summary line on standard output.
int runBatch(const TablePtr& settings, const Options& o) {
  std::string failure;
  ServerPtr server = connectWith(settings, failure);
  if (!server) {
    complain(failure);
    return kFailed;
  }
  int code = kDone;
  if (!clientesReady(*server, o.ini, failure)) {
    complain(failure);
    code = kFailed;
  } else {
    RunSummary run;
    ErrorPtr error = guarded([&] { run = runUpdates(server, o.method, o.rows, {}); });
    if (error) {
      complain(errorMessage(*error));
      code = kFailed;
    } else {
      std::printf("%s: %s\n", run.method.c_str(), summaryText(run).c_str());
      // A summary that could not be written is a failure, not a quiet success.
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        complain("the summary could not be written to standard output");
        code = kFailed;
      }
    }
  }
  server->End();
  return code;
}

}  // namespace

// Runs the menu; returns the exit code, with failureText set when the
// connection failed or the table is missing (shown once the terminal is restored).
int MAIN(const TablePtr& settings, const std::string& settingsFile, std::string& failureText) {
  Screen& scr = screen();
  setAlertConsole(&scr);
  setDateFormat("dd/mm/yyyy");
  Q_SETCASESENSITIVE(true);

  const std::vector<std::string>& menu = updateMethods();
  const int items = static_cast<int>(menu.size());
  long records = 100;

  scr.clear();
  scr.box(1, 1, items + 2, 31);
  int option = scr.menu(2, 2, items + 1, 30, menu);
  scr.clear();
  if (scr.lastKey() == keycode::Esc) return kDone;

  scr.writeAt(1, 1, "How many records?");
  Position at = scr.cursor();
  scr.setCursor(at.row, at.col + 1);
  records = scr.numberField(static_cast<int>(records));
  if (scr.lastKey() == keycode::Esc) {
    scr.clear();
    return kDone;
  }

  // A failed connection is a failure: reported and exit code 1, not a quiet end.
  ServerPtr server = connectWith(settings, failureText);
  if (!server) return kFailed;
  if (!clientesReady(*server, settingsFile, failureText)) {
    server->End();
    return kFailed;
  }
  UPDATES(server, option, records, menu, scr);
  server->End();
  return kDone;
}

}  // namespace veltro

int main(int argc, char** argv) {
  using namespace veltro;
  Options options;
  const std::string bad = parseOptions(argc, argv, options);
  if (!bad.empty()) {
    std::fprintf(stderr, "Veltro: %s\n%s", bad.c_str(), kUsage);
    return kBadUsage;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kDone;
  }
  if (options.version) {
    std::printf("Veltro %s\n", VELTRO_VERSION);
    return kDone;
  }
  if (options.method == 0) {
    const std::string why = terminalProblem();
    if (!why.empty()) {
      std::fprintf(stderr,
                   "Veltro needs an interactive terminal (%s).\n"
                   "For scripts: Veltro --method N --rows N (see Veltro --help).\n",
                   why.c_str());
      return kBadUsage;
    }
  }
  std::string problem;
  const TablePtr settings = readSettings(options.ini, problem);
  if (!settings) {
    complain(problem);
    return kFailed;
  }
  if (options.method != 0) return runBatch(settings, options);

  std::string failure;
  const int code = MAIN(settings, options.ini, failure);
  screen().shutdown();
  if (!failure.empty()) complain(failure);
  return code;
}
