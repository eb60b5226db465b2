// The literals of a dump's values.
#include "dump_values.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace veltro::detail {

namespace {

// Bytes whose meaning inside a quoted literal depends on the loading
// session's backslash mode, or that would break the dump's lines (0 for the
// others): each with what follows the backslash that writes it in an escaped
// literal; a quote is doubled instead, which no mode reads differently.
constexpr char kEscape[256] = {
    '0', 0, 0, 0, 0, 0, 0, 0, 0, 0, 'n', 0, 0, 'r', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'Z', 0, 0, 0, 0, 0,
    0,   0, 0, 0, 0, 0, 0, '\'', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\\', 0, 0, 0,
};

// Values up to this long that hold such a byte stay hex literals, which read
// the same even outside the dump's session; longer ones take the smaller form.
constexpr std::size_t kHexUpTo = 1024;

bool modeBound(std::string_view text) {
  for (unsigned char c : text)
    if (kEscape[c] != 0) return true;
  return false;
}

std::size_t modeBoundCount(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += kEscape[c] != 0;
  return n;
}

void appendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t base = out.size();
  out.resize(base + 2 + 2 * bytes.size());
  char* at = out.data() + base;
  *at++ = '0';
  *at++ = 'x';
  for (unsigned char c : bytes) {
    *at++ = kDigits[c >> 4];
    *at++ = kDigits[c & 15];
  }
}

// A quoted literal read with backslash escapes, as the dump's session reads
// it; bound: how many of the bytes are escaped. A client that scans the file
// in a multi-byte set (the stock client in gbk, big5, sjis) would take a
// high byte and the backslash after it for one character, and the quote the
// backslash escapes for the literal's end: where an escape follows a high
// byte the literal is closed and the next one, which the server joins to it,
// starts with the escape. A quote after any byte is no second byte anywhere.
void appendEscaped(std::string& out, std::string_view bytes, std::size_t bound) {
  const std::size_t base = out.size();
  out.resize(base + 2 + bytes.size() + 4 * bound);
  char* at = out.data() + base;
  *at++ = '\'';
  unsigned char before = 0;
  for (unsigned char c : bytes) {
    const char e = kEscape[c];
    if (e == 0) {
      *at++ = static_cast<char>(c);
    } else if (e == '\'') {
      *at++ = '\'';
      *at++ = '\'';
    } else {
      if (before >= 0x80) {
        *at++ = '\'';
        *at++ = ' ';
        *at++ = '\'';
      }
      *at++ = '\\';
      *at++ = e;
    }
    before = c;
  }
  *at++ = '\'';
  out.resize(static_cast<std::size_t>(at - out.data()));
}

}  // namespace

Form formOf(const db::FieldInfo& field) {
  if (db::isNumeralType(field.type)) return Form::Numeral;
  // A BIT value arrives as raw bytes; as a hex literal it goes back bit for bit.
  if (field.type == static_cast<int>(db::FieldType::Bit)) return Form::Hex;
  return Form::Text;
}

void appendValue(std::string& out, const db::RowView& row, unsigned i, Form form) {
  if (row.isNull(i)) {
    out += "NULL";
    return;
  }
  const std::string_view text = row.at(i);
  switch (form) {
    case Form::Numeral:
      out += text;
      return;
    case Form::Hex:
      if (text.empty()) {
        out += "''";
        return;
      }
      appendHex(out, text);
      return;
    case Form::Typed:
      // Their texts are digits, letters and punctuation; anything else goes as any text does.
      if (!modeBound(text) && std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
        out += "_utf8mb4'";
        out += text;
        out += '\'';
        return;
      }
      [[fallthrough]];
    case Form::Text:
      if (text.size() > kHexUpTo) {
        // Hex doubles a long value: escaped, it grows only by the bytes that need it.
        const std::size_t bound = modeBoundCount(text);
        if (bound < text.size())
          appendEscaped(out, text, bound);
        else
          appendHex(out, text);
      } else if (modeBound(text)) {
        appendHex(out, text);
      } else {
        out += '\'';
        out += text;
        out += '\'';
      }
      return;
  }
}

}  // namespace veltro::detail
