// The literals of a dump's values.
#include "dump_values.h"

#include <string_view>

namespace veltro::detail {

namespace {

// Bytes whose meaning inside a quoted literal depends on the loading
// session's backslash mode, or that would break the dump's lines.
constexpr bool kModeBound[256] = {
    true, false, false, false, false, false, false, false, false, false, true,  false, false, true,  false, false,
    false, false, false, false, false, false, false, false, false, false, true,  false, false, false, false, false,
    false, false, false, false, false, false, false, true,  false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, true,  false, false, false,
};

bool modeBound(std::string_view text) {
  for (unsigned char c : text)
    if (c < 96 && kModeBound[c]) return true;
  return false;
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
    case Form::Text:
      if (modeBound(text)) {
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
