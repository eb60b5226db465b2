// Key events and an off-screen screen that answers its prompts from a
// script, for the console's tests.
#pragma once

#define NCURSES_NOMACROS
#include <curses.h>

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "veltro/console.h"

namespace veltro::testing {

inline KeyEvent key(Key k) { return KeyEvent::of(k); }
inline KeyEvent ch(char c) { return KeyEvent::character(c); }

inline const std::vector<std::string> kMenu = {"Method Update", "Build Sentence", "Method Save", "Sentence UPDATE"};

// An off-screen screen that answers its prompts from a script of keys, then Esc.
struct ScriptedScreen {
  std::deque<KeyEvent> keys;
  Screen screen{24, 80, [this] {
                  if (keys.empty()) return key(Key::Esc);
                  KeyEvent next = keys.front();
                  keys.pop_front();
                  return next;
                }};
  void type(std::initializer_list<KeyEvent> events) { keys.insert(keys.end(), events); }
};

}  // namespace veltro::testing
