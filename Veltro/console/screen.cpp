// The console screen: the models above shown on the terminal.
#include <algorithm>
#include <cstdio>

#include "console_detail.h"
#include "veltro/console.h"

namespace veltro {

namespace {
// The size of the buffer until the terminal tells its own.
constexpr int kDefaultRows = 24;
constexpr int kDefaultCols = 80;
}  // namespace

Screen::Screen() : shadow_(kDefaultRows, kDefaultCols) {}

Screen::Screen(int rows, int cols, std::function<KeyEvent()> keys) : shadow_(rows, cols), keys_(std::move(keys)) {}

Screen::~Screen() { shutdown(); }

// Opens the terminal once per session and shows the buffer on it, so a screen
// reopened after shutdown() shows what it showed before.
void Screen::open() {
  if (keys_ || tried_) return;
  tried_ = true;
  auto terminal = std::make_unique<detail::Terminal>();
  if (!terminal->open()) return;
  terminal_ = std::move(terminal);
  shadow_.resize(terminal_->rows(), terminal_->cols());
  paintAll();
}

void Screen::shutdown() {
  tried_ = false;
  if (!terminal_) return;
  bool reshow = terminal_->alternateScreen();
  bool ascii = !terminal_->utf8();
  terminal_->close();
  terminal_.reset();
  // Leaving the alternate screen took the last screen from view: show its
  // lines again in the terminal's normal text.
  if (reshow) {
    for (const std::string& line : shadow_.lines(ascii)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
}

// Next key event; Esc when there is no terminal or its input has ended.
KeyEvent Screen::readKey() {
  if (keys_) return keys_();
  open();
  while (terminal_) {
    detail::Terminal::Input input = terminal_->read();
    if (input.kind == detail::Terminal::Input::Closed) break;
    if (input.kind == detail::Terminal::Input::Resize) {
      shadow_.resize(terminal_->rows(), terminal_->cols());
      paintAll();
      continue;
    }
    KeyEvent event = decodeKey(input.code);
    if (event.key != Key::None) return event;
  }
  inputEnded_ = true;
  return KeyEvent::of(Key::Esc);
}

void Screen::paint(const Rect& rect) {
  if (!terminal_) return;
  for (int row = std::max(rect.top, 0); row <= rect.bottom && row < shadow_.rows(); ++row) {
    for (int col = std::max(rect.left, 0); col <= rect.right && col < shadow_.cols(); ++col) {
      terminal_->put(row, col, shadow_.at(row, col));
    }
  }
  terminal_->moveCursor(shadow_.cursor().row, shadow_.cursor().col);
  terminal_->flush();
}

void Screen::syncCursor() { paint({0, 0, -1, -1}); }

void Screen::paintAll() { paint({0, 0, shadow_.rows() - 1, shadow_.cols() - 1}); }

void Screen::showCursor(bool visible) {
  if (terminal_) terminal_->showCursor(visible);
}

void Screen::clear() {
  open();
  shadow_.clear();
  paintAll();
}

void Screen::box(int top, int left, int bottom, int right) {
  open();
  Rect rect{top, left, bottom, right};
  shadow_.box(rect);
  paint(rect);
}

int Screen::menu(int top, int left, int bottom, int right, const std::vector<std::string>& items) {
  open();
  Rect rect{top, left, bottom, right};
  ChoiceMenu menu(items, rect.height());
  menu.render(shadow_, rect);
  showCursor(false);
  paint(rect);
  while (!menu.done()) {
    KeyEvent event = readKey();
    lastKey_ = keyCode(event);
    menu.handle(event);
    menu.render(shadow_, rect);
    paint(rect);
  }
  showCursor(true);
  return menu.result();
}

void Screen::writeAt(int row, int col, std::string_view text) {
  open();
  int end = shadow_.put(row, col, text);
  shadow_.setCursor(row, end);
  paint({row, col, row, end - 1});
}

Position Screen::cursor() const { return shadow_.cursor(); }

void Screen::setCursor(int row, int col) {
  open();
  shadow_.setCursor(row, col);
  syncCursor();
}

int Screen::numberField(int value) {
  open();
  Position at = shadow_.cursor();
  Rect rect{at.row, at.col, at.row, at.col + NumberField::kWidth - 1};
  NumberField field(value);
  field.render(shadow_, at.row, at.col);
  paint(rect);
  while (!field.done()) {
    KeyEvent event = readKey();
    lastKey_ = keyCode(event);
    field.handle(event);
    field.render(shadow_, at.row, at.col);
    paint(rect);
  }
  shadow_.setCursor(at.row, at.col + NumberField::kWidth);
  paint(rect);
  return field.value();
}

void Screen::newLine() {
  open();
  Position at = shadow_.cursor();
  if (at.row + 1 < shadow_.rows()) {
    shadow_.setCursor(at.row + 1, 0);
    syncCursor();
    return;
  }
  shadow_.scrollUp();
  shadow_.setCursor(at.row, 0);
  paintAll();
}

int Screen::alert(const std::string& message, const std::vector<std::string>& choices) {
  open();
  AlertBox box(message, choices);
  if (!keys_ && (!terminal_ || inputEnded_)) {
    // Nobody can answer: report on the error output and take the first choice,
    // as a repeated Esc would show the alert for ever.
    for (const std::string& line : box.messageLines()) std::fprintf(stderr, "%s\n", line.c_str());
    return 1;
  }
  ScreenBuffer saved = shadow_;
  Rect rect = box.frame(shadow_.rows(), shadow_.cols());
  box.render(shadow_);
  showCursor(false);
  paint(rect);
  while (!box.done()) {
    KeyEvent event = readKey();
    lastKey_ = keyCode(event);
    if (inputEnded_) {
      restoreAfterAlert(saved, rect);
      return 1;
    }
    box.handle(event);
    box.render(shadow_);
    paint(rect);
  }
  restoreAfterAlert(saved, rect);
  return box.result();
}

// Puts back what the alert covered; a resize meanwhile repaints everything.
void Screen::restoreAfterAlert(const ScreenBuffer& saved, const Rect& rect) {
  int rows = shadow_.rows();
  int cols = shadow_.cols();
  shadow_ = saved;
  showCursor(true);
  if (rows != saved.rows() || cols != saved.cols()) {
    shadow_.resize(rows, cols);
    paintAll();
  } else {
    paint(rect);
  }
}

Screen& screen() {
  static Screen theScreen;
  return theScreen;
}

}  // namespace veltro
