// Internals shared by the console's sources.
#pragma once

#include <string>

namespace veltro::detail {

// Box-drawing characters as the buffer stores them.
inline const std::string kBoxHorizontal = "\u2500";
inline const std::string kBoxVertical = "\u2502";
inline const std::string kBoxTopLeft = "\u250C";
inline const std::string kBoxTopRight = "\u2510";
inline const std::string kBoxBottomLeft = "\u2514";
inline const std::string kBoxBottomRight = "\u2518";

// The ASCII stand-in of one cell's glyph: '+', '-' and '|' for box lines, '?'
// for any other non-ASCII character.
char asciiGlyph(const std::string& glyph);

}  // namespace veltro::detail

namespace veltro {
struct Cell;
}

namespace veltro::detail {

// The ncurses terminal on standard input and output. Only this class talks to
// ncurses, so the rest of the console works the same off-screen.
class Terminal {
 public:
  Terminal() = default;
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Takes over the terminal; false when there is none (input or output is not
  // a terminal, or TERM is unknown).
  bool open();
  // Gives the terminal back as it was.
  void close();

  int rows() const;
  int cols() const;
  // True when the terminal draws on an alternate screen that close() leaves,
  // so what was shown is gone from view afterwards.
  bool alternateScreen() const { return alternate_; }
  // True when the terminal shows UTF-8; otherwise non-ASCII text shows as '?'.
  bool utf8() const { return utf8_; }

  void put(int row, int col, const Cell& cell);
  void moveCursor(int row, int col);
  void showCursor(bool visible);
  void flush();

  struct Input {
    enum Kind { Key, Resize, Closed } kind;
    int code;  // the ncurses key code of Key
  };
  // Waits for the next key.
  Input read();

 private:
  void* screen_ = nullptr;  // the ncurses SCREEN
  bool alternate_ = false;
  bool utf8_ = false;
};

}  // namespace veltro::detail
