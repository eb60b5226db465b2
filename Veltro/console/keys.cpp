// Key decoding: ncurses key codes to console events and events to key codes.
#define NCURSES_NOMACROS  // keep curses' function-like macros out of our names
#include <curses.h>

#include "veltro/console.h"

namespace veltro {

KeyEvent decodeKey(int code) {
  switch (code) {
    case KEY_UP: return KeyEvent::of(Key::Up);
    case KEY_DOWN: return KeyEvent::of(Key::Down);
    case KEY_LEFT: return KeyEvent::of(Key::Left);
    case KEY_RIGHT: return KeyEvent::of(Key::Right);
    // Keypad and vt220 editing-block variants of Home and End.
    case KEY_HOME:
    case KEY_A1:
    case KEY_FIND: return KeyEvent::of(Key::Home);
    case KEY_END:
    case KEY_C1:
    case KEY_SELECT: return KeyEvent::of(Key::End);
    case KEY_PPAGE:
    case KEY_A3: return KeyEvent::of(Key::PageUp);
    case KEY_NPAGE:
    case KEY_C3: return KeyEvent::of(Key::PageDown);
    case KEY_ENTER:
    case '\n':
    case '\r': return KeyEvent::of(Key::Enter);
    case 27: return KeyEvent::of(Key::Esc);
    case KEY_BACKSPACE:
    case 127:
    case 8: return KeyEvent::of(Key::Backspace);
    case KEY_DC: return KeyEvent::of(Key::Delete);
    case '\t': return KeyEvent::of(Key::Tab);
    case KEY_BTAB: return KeyEvent::of(Key::BackTab);
    default: break;
  }
  if (code >= 32 && code < 127) return KeyEvent::character(static_cast<char>(code));
  return KeyEvent::of(Key::None);
}

int keyCode(const KeyEvent& event) {
  switch (event.key) {
    case Key::None: return 0;
    case Key::Up: return keycode::Up;
    case Key::Down: return keycode::Down;
    case Key::Left: return keycode::Left;
    case Key::Right: return keycode::Right;
    case Key::Home: return keycode::Home;
    case Key::End: return keycode::End;
    case Key::PageUp: return keycode::PageUp;
    case Key::PageDown: return keycode::PageDown;
    case Key::Enter: return keycode::Enter;
    case Key::Esc: return keycode::Esc;
    case Key::Backspace: return keycode::Backspace;
    case Key::Delete: return keycode::Delete;
    case Key::Tab: return keycode::Tab;
    case Key::BackTab: return keycode::BackTab;
    case Key::Char: return static_cast<unsigned char>(event.ch);
  }
  return 0;
}

}  // namespace veltro
