// The vertical choice menu.
#include <algorithm>
#include <cctype>

#include "veltro/console.h"

namespace veltro {

ChoiceMenu::ChoiceMenu(std::vector<std::string> items, int visibleRows)
    : items_(std::move(items)), rows_(std::max(visibleRows, 1)) {}

// Puts the bar on item index (clamped) and scrolls just enough to show it.
void ChoiceMenu::moveTo(int index) {
  if (items_.empty()) return;
  current_ = std::clamp(index, 0, static_cast<int>(items_.size()) - 1);
  if (current_ < first_) first_ = current_;
  if (current_ >= first_ + rows_) first_ = current_ - rows_ + 1;
}

bool ChoiceMenu::handle(const KeyEvent& event) {
  if (done_) return true;
  switch (event.key) {
    case Key::Up: moveTo(current_ - 1); break;
    case Key::Down: moveTo(current_ + 1); break;
    case Key::Home: moveTo(0); break;
    case Key::End: moveTo(static_cast<int>(items_.size()) - 1); break;
    case Key::PageUp: moveTo(current_ - rows_); break;
    case Key::PageDown: moveTo(current_ + rows_); break;
    case Key::Enter:
      done_ = true;
      result_ = items_.empty() ? 0 : current_ + 1;
      break;
    case Key::Esc:
      done_ = true;
      result_ = 0;
      break;
    case Key::Char: {
      // The next item after the bar whose first letter matches, round the end.
      auto wanted = std::tolower(static_cast<unsigned char>(event.ch));
      int count = static_cast<int>(items_.size());
      for (int step = 1; step <= count; ++step) {
        int i = (current_ + step) % count;
        const std::string& item = items_[i];
        if (!item.empty() && std::tolower(static_cast<unsigned char>(item[0])) == wanted) {
          moveTo(i);
          break;
        }
      }
      break;
    }
    default: break;
  }
  return done_;
}

void ChoiceMenu::render(ScreenBuffer& screen, const Rect& rect) const {
  int width = rect.width();
  if (width <= 0) return;
  for (int row = 0; row < rect.height(); ++row) {
    int index = first_ + row;
    std::string_view text = index < static_cast<int>(items_.size()) ? std::string_view(items_[index]) : std::string_view();
    Attr attr = index == current_ && index < static_cast<int>(items_.size()) ? Attr::Highlight : Attr::Normal;
    // Blank the whole row of the rectangle first so the bar spans its width
    // and a shorter item hides what a scrolled-away item left there.
    screen.put(rect.top + row, rect.left, std::string(width, ' '), attr);
    screen.put(rect.top + row, rect.left, text, attr, width);
  }
}

}  // namespace veltro
