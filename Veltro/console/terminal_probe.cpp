// Whether the process can run a full-screen console at all, asked before the
// screen is opened. Apart from terminal.cpp: term.h defines a macro for every
// terminal capability.
#include "veltro/console.h"  // first: term.h's macros would rewrite its names

#include <cstdlib>
#include <string>

#define NCURSES_NOMACROS
#include <curses.h>
#include <term.h>
#include <unistd.h>

namespace veltro {

std::string terminalProblem() {
  if (!isatty(STDIN_FILENO)) return "standard input is not a terminal";
  if (!isatty(STDOUT_FILENO)) return "standard output is not a terminal";
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') return "TERM is not set";
  int status = 0;
  // A terminal description of its own, dropped again: the screen makes its own later.
  TERMINAL* saved = cur_term;
  if (setupterm(term, STDOUT_FILENO, &status) != OK) {
    set_curterm(saved);
    return std::string("the terminal type \"") + term + "\" is unknown";
  }
  TERMINAL* probe = cur_term;
  const char* cup = tigetstr(const_cast<char*>("cup"));
  const bool positions = cup != nullptr && cup != reinterpret_cast<char*>(-1) && *cup != '\0';
  set_curterm(saved);
  del_curterm(probe);
  if (!positions) return std::string("the terminal type \"") + term + "\" cannot place the cursor";
  return {};
}

}  // namespace veltro
