// The number input field with the picture "999".
#include <algorithm>

#include "veltro/console.h"

namespace veltro {

std::string NumberField::picture(int value) {
  if (value < 0 || value > 999) return std::string(kWidth, '*');
  std::string digits = std::to_string(value);
  return std::string(kWidth - digits.size(), ' ') + digits;
}

NumberField::NumberField(int value) : value_(value), original_(value), text_(picture(value)) {}

// The first key decides whether a digit replaces the content: any other key
// before it means the user is editing the shown number.
void NumberField::touch() { touched_ = true; }

void NumberField::accept() {
  bool any = false;
  int number = 0;
  for (char c : text_) {
    if (c >= '0' && c <= '9') {
      number = number * 10 + (c - '0');
      any = true;
    }
  }
  // "***" stands for a number the field cannot show; unedited, it stays as it was.
  value_ = any || text_ != std::string(kWidth, '*') ? number : original_;
  text_ = picture(value_);
  state_ = State::Accepted;
}

bool NumberField::handle(const KeyEvent& event) {
  if (done()) return true;
  switch (event.key) {
    case Key::Char:
      if (event.ch < '0' || event.ch > '9') break;
      if (!touched_) {
        text_.assign(kWidth, ' ');
        cursor_ = 0;
        touch();
      }
      text_[cursor_] = event.ch;
      if (++cursor_ == kWidth) accept();  // typing past the last column leaves the field
      break;
    case Key::Backspace:
      touch();
      if (cursor_ > 0) {
        text_.erase(--cursor_, 1);
        text_.push_back(' ');
      }
      break;
    case Key::Delete:
      touch();
      text_.erase(cursor_, 1);
      text_.push_back(' ');
      break;
    case Key::Left:
      touch();
      cursor_ = std::max(cursor_ - 1, 0);
      break;
    case Key::Right:
      touch();
      cursor_ = std::min(cursor_ + 1, kWidth - 1);
      break;
    case Key::Home:
      touch();
      cursor_ = 0;
      break;
    case Key::End:
      touch();
      cursor_ = kWidth - 1;
      break;
    case Key::Enter:
    case Key::Down:
    case Key::PageDown:
    case Key::Tab: accept(); break;
    case Key::Esc:
      value_ = original_;
      text_ = picture(original_);
      state_ = State::Abandoned;
      break;
    default: break;
  }
  return done();
}

void NumberField::render(ScreenBuffer& screen, int row, int col) const {
  screen.put(row, col, text_, done() ? Attr::Normal : Attr::Field);
  if (!done()) screen.setCursor(row, col + cursor_);
}

}  // namespace veltro
