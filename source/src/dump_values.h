// How a dump writes a column's values: the literal that gives each value
// back exactly in any loading session.
#pragma once

#include <string>

#include "veltro/binding.h"

namespace veltro::detail {

// How one column's values are written.
// Typed: a text the column parses (INET6, INET4, UUID), which a binary
// session would take for the value's raw bytes: written as UTF-8 text.
enum class Form { Numeral, Hex, Text, Typed };

// The form of a column's values, by its protocol type.
Form formOf(const db::FieldInfo& field);

// Appends the literal of value i of row: NULL, the numeral as the server sent
// it, a text between quotes when it holds nothing whose reading depends on the
// session, else its bytes as a hex literal; a long text whose hex would be
// larger goes between quotes with backslash escapes (NUL, CR, LF, ^Z and the
// backslash escaped, the quote doubled), read as the dump's session reads it:
// its size is the value's and one byte per escape.
void appendValue(std::string& out, const db::RowView& row, unsigned i, Form form);

}  // namespace veltro::detail
