// The ncurses side of the console.
#define NCURSES_NOMACROS  // keep curses' function-like macros out of our names
#include <curses.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <langinfo.h>

#include "console_detail.h"
#include "veltro/console.h"

namespace veltro::detail {

namespace {

// Short enough that Esc feels immediate, long enough for a terminal's escape
// sequences to arrive whole (tmux passes them on at once).
constexpr int kEscDelayMs = 25;

attr_t cursesAttr(Attr attr) {
  switch (attr) {
    case Attr::Highlight: return A_REVERSE;
    case Attr::Field: return A_UNDERLINE | A_BOLD;
    case Attr::Normal: break;
  }
  return A_NORMAL;
}

bool hasCapability(const char* name) {
  char* value = tigetstr(const_cast<char*>(name));
  return value != nullptr && value != reinterpret_cast<char*>(-1) && *value != '\0';
}

}  // namespace

Terminal::~Terminal() { close(); }

bool Terminal::open() {
  if (screen_) return true;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
  // Without a locale ncurses shows UTF-8 text as escapes; only the character
  // type is taken from the environment, number formats stay untouched.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current == nullptr || std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0) {
    std::setlocale(LC_CTYPE, "");
  }
  utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

  std::fflush(stdout);
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) return false;
  screen_ = screen;
  set_term(screen);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  set_escdelay(kEscDelayMs);
  alternate_ = hasCapability("smcup") && hasCapability("rmcup");
  return true;
}

void Terminal::close() {
  if (!screen_) return;
  endwin();
  delscreen(static_cast<SCREEN*>(screen_));
  screen_ = nullptr;
  std::fflush(stdout);
}

int Terminal::rows() const { return LINES; }
int Terminal::cols() const { return COLS; }

void Terminal::put(int row, int col, const Cell& cell) {
  attr_t attr = cursesAttr(cell.attr);
  const std::string& glyph = cell.glyph;
  chtype ch = 0;
  if (glyph == kBoxHorizontal) ch = ACS_HLINE;
  else if (glyph == kBoxVertical) ch = ACS_VLINE;
  else if (glyph == kBoxTopLeft) ch = ACS_ULCORNER;
  else if (glyph == kBoxTopRight) ch = ACS_URCORNER;
  else if (glyph == kBoxBottomLeft) ch = ACS_LLCORNER;
  else if (glyph == kBoxBottomRight) ch = ACS_LRCORNER;
  else if (glyph.size() == 1 || !utf8_) ch = static_cast<unsigned char>(asciiGlyph(glyph));
  // The bottom-right cell reports an error because the cursor cannot move past
  // it; the cell is written all the same.
  if (ch != 0) {
    mvwaddch(stdscr, row, col, ch | attr);
    return;
  }
  wattr_on(stdscr, attr, nullptr);
  mvwaddstr(stdscr, row, col, glyph.c_str());
  wattr_off(stdscr, attr, nullptr);
}

void Terminal::moveCursor(int row, int col) { wmove(stdscr, row, col); }

void Terminal::showCursor(bool visible) { curs_set(visible ? 1 : 0); }

void Terminal::flush() { wrefresh(stdscr); }

Terminal::Input Terminal::read() {
  for (;;) {
    errno = 0;
    int code = wgetch(stdscr);
    if (code == KEY_RESIZE) return {Input::Resize, code};
    if (code != ERR) return {Input::Key, code};
    if (errno != EINTR) return {Input::Closed, 0};
  }
}

}  // namespace veltro::detail

