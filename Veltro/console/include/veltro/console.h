// The console: key events, the choice menu, the number input field and the
// alert as pure models that render into an off-screen buffer, and the terminal
// screen that shows them through ncurses.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/error.h"

namespace veltro {

// ---------------------------------------------------------------------------
// Keys

enum class Key {
  None,  // a key that the console does not use
  Up,
  Down,
  Left,
  Right,
  Home,
  End,
  PageUp,
  PageDown,
  Enter,
  Esc,
  Backspace,
  Delete,
  Tab,
  BackTab,
  Char,  // a printable character, in KeyEvent::ch
};

struct KeyEvent {
  Key key = Key::None;
  char ch = 0;  // the character of Key::Char

  static KeyEvent of(Key key) { return {key, 0}; }
  static KeyEvent character(char c) { return {Key::Char, c}; }
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// Codes that lastKey() reports. Enter, Esc, Backspace and Tab are their ASCII
// codes, a printable character is its own code; the cursor keys use the
// classic control-key codes, so every code fits in one byte except Shift-Tab.
namespace keycode {
inline constexpr int Up = 5;
inline constexpr int Down = 24;
inline constexpr int Left = 19;
inline constexpr int Right = 4;
inline constexpr int Home = 1;
inline constexpr int End = 6;
inline constexpr int PageUp = 18;
inline constexpr int PageDown = 3;
inline constexpr int Enter = 13;
inline constexpr int Esc = 27;
inline constexpr int Backspace = 8;
inline constexpr int Delete = 7;
inline constexpr int Tab = 9;
inline constexpr int BackTab = 271;
}  // namespace keycode

// The event of an ncurses key code (getch with keypad on); Key::None for keys
// the console does not use.
KeyEvent decodeKey(int cursesCode);
// The code that lastKey() reports for an event; 0 for Key::None.
int keyCode(const KeyEvent& event);

// ---------------------------------------------------------------------------
// Off-screen rendering

enum class Attr : unsigned char {
  Normal,
  Highlight,  // the menu bar and the chosen alert button
  Field,      // an input field being edited
};

// One column of the screen: one character (UTF-8) and its attribute.
struct Cell {
  std::string glyph = " ";
  Attr attr = Attr::Normal;
};

struct Position {
  int row = 0;
  int col = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

// A rectangle, both corners inclusive.
struct Rect {
  int top = 0;
  int left = 0;
  int bottom = 0;
  int right = 0;
  int height() const { return bottom - top + 1; }
  int width() const { return right - left + 1; }
};

// The characters of a screen and its cursor. Writes are clipped at the edges;
// nothing wraps.
class ScreenBuffer {
 public:
  ScreenBuffer(int rows, int cols);

  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Blanks every cell and puts the cursor at 0, 0.
  void clear();
  // Writes text from (row, col) without touching the rest of the row or the
  // cursor: one column per UTF-8 character, at most width characters when
  // width >= 0. Returns the column after the last character written (clipped
  // text included).
  int put(int row, int col, std::string_view text, Attr attr = Attr::Normal, int width = -1);
  // Draws a single-line frame; the inside is left as it is.
  void box(const Rect& rect);
  // Moves every row up by one and blanks the last row.
  void scrollUp();
  // Makes the buffer rows x cols, keeping what fits.
  void resize(int rows, int cols);

  const Cell& at(int row, int col) const { return cells_[index(row, col)]; }
  Attr attrAt(int row, int col) const { return at(row, col).attr; }
  // The row's text, box lines as Unicode box-drawing characters (or '+', '-'
  // and '|' when ascii is set).
  std::string rowText(int row, bool ascii = false) const;
  // The rows up to the last one with a visible character, trailing blanks removed.
  std::vector<std::string> lines(bool ascii = false) const;

  Position cursor() const { return cursor_; }
  // Clamped into the screen.
  void setCursor(int row, int col);

 private:
  std::size_t index(int row, int col) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col);
  }
  void putGlyph(int row, int col, std::string glyph, Attr attr);

  int rows_;
  int cols_;
  std::vector<Cell> cells_;
  Position cursor_;
};

// ---------------------------------------------------------------------------
// Models fed with key events

// A vertical list with a highlight bar. The bar stops at both ends; Home and
// End go to the first and last item, PageUp and PageDown move by a screenful,
// a letter moves to the next item that starts with it. Enter chooses (result:
// the position from 1), Esc cancels (result 0).
class ChoiceMenu {
 public:
  ChoiceMenu(std::vector<std::string> items, int visibleRows);

  // Applies one key; true once the menu is done (Enter or Esc).
  bool handle(const KeyEvent& event);
  bool done() const { return done_; }
  int result() const { return result_; }
  int highlighted() const { return current_; }  // from 0
  int firstVisible() const { return first_; }   // from 0

  // Shows the visible items, one per row of the rectangle, padded to its width.
  void render(ScreenBuffer& screen, const Rect& rect) const;

 private:
  void moveTo(int index);

  std::vector<std::string> items_;
  int rows_;
  int current_ = 0;
  int first_ = 0;
  bool done_ = false;
  int result_ = 0;
};

// A whole number edited through the picture "999": 3 columns, digits only.
// The number is shown right-aligned. A digit typed as the first key replaces
// the content; later digits overwrite at the cursor, which advances. Typing
// past the last column, Enter, Down or Tab accept; Esc abandons and keeps the
// number. Backspace and Delete remove a digit and close the gap. Blanks inside
// the field are ignored when it is read back.
class NumberField {
 public:
  static constexpr int kWidth = 3;

  explicit NumberField(int value);

  // Applies one key; true once the field is done (accepted or abandoned).
  bool handle(const KeyEvent& event);
  bool done() const { return state_ != State::Editing; }
  bool accepted() const { return state_ == State::Accepted; }
  bool abandoned() const { return state_ == State::Abandoned; }
  // The accepted number; the original number while editing or when abandoned.
  int value() const { return value_; }
  // The field's columns as shown now.
  const std::string& text() const { return text_; }
  int cursor() const { return cursor_; }  // column inside the field, from 0

  // Shows the field at (row, col); while editing it is marked and the
  // buffer's cursor is put on the field's cursor.
  void render(ScreenBuffer& screen, int row, int col) const;

  // The number as the picture shows it: right-aligned in 3 columns, "***"
  // when it does not fit.
  static std::string picture(int value);

 private:
  enum class State { Editing, Accepted, Abandoned };
  void accept();
  void touch();

  int value_;
  int original_;
  std::string text_;
  int cursor_ = 0;
  bool touched_ = false;
  State state_ = State::Editing;
};

// A modal message with a row of buttons. ';' separates the message's lines;
// long lines are wrapped at blanks to fit the screen. Left, Right, Tab and
// Shift-Tab move between buttons, Home and End go to the ends, Enter chooses,
// the first letter of a button chooses it, Esc gives 0.
class AlertBox {
 public:
  AlertBox(std::string_view message, std::vector<std::string> choices);

  bool handle(const KeyEvent& event);
  bool done() const { return done_; }
  int result() const { return result_; }     // from 1; 0 for Esc
  int highlighted() const { return current_; }  // from 0
  const std::vector<std::string>& messageLines() const { return lines_; }
  const std::vector<std::string>& choices() const { return choices_; }

  // Where the box goes on a screen of this size: centred, wrapped to fit.
  Rect frame(int screenRows, int screenCols) const;
  // Draws the framed box, centred, over whatever the screen shows.
  void render(ScreenBuffer& screen) const;

 private:
  std::vector<std::string> wrapped(int width) const;
  int buttonsWidth() const;

  std::vector<std::string> lines_;
  std::vector<std::string> choices_;
  int current_ = 0;
  bool done_ = false;
  int result_ = 0;
};

// ---------------------------------------------------------------------------
// The terminal

namespace detail {
class Terminal;
}

// The console screen. Everything shown is kept in an off-screen buffer too, so
// the last screen can be shown again in the terminal's normal text after the
// program ends (ncurses draws on the alternate screen, which is wiped then).
// The terminal is opened on first use. Without a terminal (input or output not
// a terminal, or input at its end) the menu and the number field answer as if
// Esc was pressed, and an alert is written to the error output and answered
// with its first choice.
class Screen : public AlertConsole {
 public:
  // The real terminal, on standard input and output.
  Screen();
  // An off-screen console of the given size that reads its keys from keys; it
  // never touches the terminal. For tests.
  Screen(int rows, int cols, std::function<KeyEvent()> keys);
  ~Screen() override;
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  // Blanks the screen; cursor at 0, 0.
  void clear();
  // Single-line frame from (top, left) to (bottom, right), both inclusive.
  void box(int top, int left, int bottom, int right);
  // Choice menu in the rectangle; the position of the chosen item from 1, 0 for Esc.
  int menu(int top, int left, int bottom, int right, const std::vector<std::string>& items);
  // The code of the last key pressed in any console operation (see keycode); 0 before any.
  int lastKey() const { return lastKey_; }
  // Writes text at (row, col); the cursor stays after its last character.
  void writeAt(int row, int col, std::string_view text);
  Position cursor() const;
  void setCursor(int row, int col);
  // Edits a number through the picture "999" at the cursor; returns the
  // accepted number, or value unchanged when Esc abandons the edit.
  int numberField(int value);
  // Moves the output to the start of the next line, scrolling at the bottom.
  void newLine();

  // Modal alert over the current screen, which is restored afterwards.
  int alert(const std::string& message, const std::vector<std::string>& choices) override;
  // Gives the terminal back and shows the last screen's lines in it. The
  // screen opens again on the next use.
  void shutdown() override;

  // What the screen shows now.
  const ScreenBuffer& buffer() const { return shadow_; }

 private:
  void open();
  KeyEvent readKey();
  void paint(const Rect& rect);
  void paintAll();
  void syncCursor();  // moves the terminal's cursor to the buffer's
  void showCursor(bool visible);
  void restoreAfterAlert(const ScreenBuffer& saved, const Rect& rect);

  ScreenBuffer shadow_;
  std::function<KeyEvent()> keys_;  // off-screen key source; empty for the terminal
  std::unique_ptr<detail::Terminal> terminal_;
  bool tried_ = false;  // the terminal was opened (or could not be) since the last shutdown
  bool inputEnded_ = false;  // the terminal's input is at its end: nobody can answer
  int lastKey_ = 0;
};

// The process's screen on the terminal, created on first use and shut down at exit.
Screen& screen();

// Why the process cannot run a full-screen console ("" when it can): standard
// input or output is not a terminal, or the terminal (TERM) cannot place the
// cursor.
std::string terminalProblem();

}  // namespace veltro
