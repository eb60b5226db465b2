// The off-screen buffer that every console view renders into.
#include <algorithm>

#include "console_detail.h"
#include "veltro/console.h"

namespace veltro {

namespace {

// Length of the UTF-8 character that starts text[i], or 0 when the bytes there
// are not one well-formed character.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  auto byte = static_cast<unsigned char>(text[i]);
  std::size_t len = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

namespace detail {

char asciiGlyph(const std::string& glyph) {
  if (glyph.size() == 1) return glyph[0];
  if (glyph == kBoxHorizontal) return '-';
  if (glyph == kBoxVertical) return '|';
  if (glyph == kBoxTopLeft || glyph == kBoxTopRight || glyph == kBoxBottomLeft || glyph == kBoxBottomRight) {
    return '+';
  }
  return '?';
}

}  // namespace detail

ScreenBuffer::ScreenBuffer(int rows, int cols)
    : rows_(std::max(rows, 1)), cols_(std::max(cols, 1)), cells_(static_cast<std::size_t>(rows_) * cols_) {}

void ScreenBuffer::clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{});
  cursor_ = {};
}

void ScreenBuffer::putGlyph(int row, int col, std::string glyph, Attr attr) {
  if (row < 0 || row >= rows_ || col < 0 || col >= cols_) return;
  Cell& cell = cells_[index(row, col)];
  cell.glyph = std::move(glyph);
  cell.attr = attr;
}

int ScreenBuffer::put(int row, int col, std::string_view text, Attr attr, int width) {
  std::size_t i = 0;
  for (int n = 0; i < text.size() && (width < 0 || n < width); ++n) {
    std::size_t len = utf8Length(text, i);
    std::string glyph;
    if (len == 0) {
      glyph = "?";  // a stray byte of some other encoding
      len = 1;
    } else if (len == 1 && static_cast<unsigned char>(text[i]) < 32) {
      glyph = " ";  // control characters would move the terminal's cursor
    } else {
      glyph.assign(text.substr(i, len));
    }
    putGlyph(row, col, std::move(glyph), attr);
    ++col;
    i += len;
  }
  return col;
}

void ScreenBuffer::box(const Rect& r) {
  if (r.bottom < r.top || r.right < r.left) return;
  for (int c = r.left + 1; c < r.right; ++c) {
    putGlyph(r.top, c, detail::kBoxHorizontal, Attr::Normal);
    putGlyph(r.bottom, c, detail::kBoxHorizontal, Attr::Normal);
  }
  for (int row = r.top + 1; row < r.bottom; ++row) {
    putGlyph(row, r.left, detail::kBoxVertical, Attr::Normal);
    putGlyph(row, r.right, detail::kBoxVertical, Attr::Normal);
  }
  putGlyph(r.top, r.left, detail::kBoxTopLeft, Attr::Normal);
  putGlyph(r.top, r.right, detail::kBoxTopRight, Attr::Normal);
  putGlyph(r.bottom, r.left, detail::kBoxBottomLeft, Attr::Normal);
  putGlyph(r.bottom, r.right, detail::kBoxBottomRight, Attr::Normal);
}

void ScreenBuffer::scrollUp() {
  std::move(cells_.begin() + cols_, cells_.end(), cells_.begin());
  std::fill(cells_.end() - cols_, cells_.end(), Cell{});
}

void ScreenBuffer::resize(int rows, int cols) {
  rows = std::max(rows, 1);
  cols = std::max(cols, 1);
  if (rows == rows_ && cols == cols_) return;
  std::vector<Cell> cells(static_cast<std::size_t>(rows) * cols);
  for (int r = 0; r < std::min(rows, rows_); ++r) {
    for (int c = 0; c < std::min(cols, cols_); ++c) {
      cells[static_cast<std::size_t>(r) * cols + c] = std::move(cells_[index(r, c)]);
    }
  }
  cells_ = std::move(cells);
  rows_ = rows;
  cols_ = cols;
  setCursor(cursor_.row, cursor_.col);
}

std::string ScreenBuffer::rowText(int row, bool ascii) const {
  std::string text;
  if (row < 0 || row >= rows_) return text;
  for (int c = 0; c < cols_; ++c) {
    const std::string& glyph = at(row, c).glyph;
    if (ascii) {
      text += detail::asciiGlyph(glyph);
    } else {
      text += glyph;
    }
  }
  return text;
}

std::vector<std::string> ScreenBuffer::lines(bool ascii) const {
  std::vector<std::string> out;
  for (int r = 0; r < rows_; ++r) {
    std::string text = rowText(r, ascii);
    text.erase(text.find_last_not_of(' ') + 1);
    out.push_back(std::move(text));
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

void ScreenBuffer::setCursor(int row, int col) {
  cursor_ = {std::clamp(row, 0, rows_ - 1), std::clamp(col, 0, cols_ - 1)};
}

}  // namespace veltro
