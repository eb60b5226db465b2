// The modal alert with its row of buttons.
#include <algorithm>
#include <cctype>

#include "veltro/console.h"

namespace veltro {

namespace {

constexpr int kButtonGap = 2;

// Screen columns of a UTF-8 text: one per character.
int columns(std::string_view text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(),
                                        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Byte offset where the text's character number n starts (text.size() past the end).
std::size_t offsetOfColumn(std::string_view text, int n) {
  std::size_t i = 0;
  for (int seen = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == n) return i;
  }
  return text.size();
}

}  // namespace

AlertBox::AlertBox(std::string_view message, std::vector<std::string> choices) : choices_(std::move(choices)) {
  if (choices_.empty()) choices_.push_back("Ok");
  std::size_t start = 0;
  for (;;) {
    std::size_t semi = message.find(';', start);
    lines_.emplace_back(message.substr(start, semi == std::string_view::npos ? semi : semi - start));
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
}

bool AlertBox::handle(const KeyEvent& event) {
  if (done_) return true;
  int count = static_cast<int>(choices_.size());
  switch (event.key) {
    case Key::Left:
    case Key::BackTab: current_ = (current_ + count - 1) % count; break;
    case Key::Right:
    case Key::Tab: current_ = (current_ + 1) % count; break;
    case Key::Home: current_ = 0; break;
    case Key::End: current_ = count - 1; break;
    case Key::Enter:
      done_ = true;
      result_ = current_ + 1;
      break;
    case Key::Esc:
      done_ = true;
      result_ = 0;
      break;
    case Key::Char: {
      auto wanted = std::tolower(static_cast<unsigned char>(event.ch));
      for (int i = 0; i < count; ++i) {
        const std::string& choice = choices_[i];
        if (!choice.empty() && std::tolower(static_cast<unsigned char>(choice[0])) == wanted) {
          current_ = i;
          done_ = true;
          result_ = i + 1;
          break;
        }
      }
      break;
    }
    default: break;
  }
  return done_;
}

int AlertBox::buttonsWidth() const {
  int width = 0;
  for (const std::string& choice : choices_) width += columns(choice) + 2;
  return width + kButtonGap * (static_cast<int>(choices_.size()) - 1);
}

// The message lines broken at blanks (or anywhere, for a longer word) to at
// most width columns.
std::vector<std::string> AlertBox::wrapped(int width) const {
  std::vector<std::string> out;
  for (const std::string& line : lines_) {
    std::string_view rest(line);
    while (columns(rest) > width) {
      std::size_t cut = offsetOfColumn(rest, width);
      std::size_t blank = rest.substr(0, cut + 1).find_last_of(' ');
      if (blank != std::string_view::npos && blank > 0) {
        out.emplace_back(rest.substr(0, blank));
        rest.remove_prefix(blank + 1);
      } else {
        out.emplace_back(rest.substr(0, cut));
        rest.remove_prefix(cut);
      }
    }
    out.emplace_back(rest);
  }
  return out;
}

// Layout: frame, one blank column, the centred lines, a blank row, the buttons.
Rect AlertBox::frame(int screenRows, int screenCols) const {
  int maxText = std::max(screenCols - 6, 1);  // frame, padding and one column of margin each side
  int longest = 0;
  for (const std::string& line : lines_) longest = std::max(longest, columns(line));
  int text = std::min(std::max(longest, buttonsWidth()), maxText);
  int lineCount = std::min(static_cast<int>(wrapped(text).size()), std::max(screenRows - 4, 1));
  int height = lineCount + 4;
  int width = text + 4;
  int top = std::max((screenRows - height) / 2, 0);
  int left = std::max((screenCols - width) / 2, 0);
  return {top, left, top + height - 1, left + width - 1};
}

void AlertBox::render(ScreenBuffer& screen) const {
  Rect box = frame(screen.rows(), screen.cols());
  int text = box.width() - 4;
  std::vector<std::string> lines = wrapped(text);
  lines.resize(std::min(lines.size(), static_cast<std::size_t>(box.height() - 4)));

  for (int row = box.top; row <= box.bottom; ++row) screen.put(row, box.left, std::string(box.width(), ' '));
  screen.box(box);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int indent = (text - columns(lines[i])) / 2;
    screen.put(box.top + 1 + static_cast<int>(i), box.left + 2 + indent, lines[i]);
  }
  int col = box.left + 2 + std::max((text - buttonsWidth()) / 2, 0);
  for (int i = 0; i < static_cast<int>(choices_.size()); ++i) {
    std::string label = " " + choices_[i] + " ";
    int limit = std::max(box.right - 1 - col, 0);  // keep clear of the frame
    col = screen.put(box.bottom - 1, col, label, i == current_ ? Attr::Highlight : Attr::Normal, limit) + kButtonGap;
  }
}

}  // namespace veltro
