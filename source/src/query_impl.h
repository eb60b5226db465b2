// Private state of TQuillonQry shared by its source files: per-column facts of
// the loaded result and the positions of each column in the row tables, so that
// moving to a row and reading a field cost no lookups by string and no
// allocation beyond the values themselves.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "sql_lexer.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/table.h"
#include "veltro/value.h"

namespace veltro {

namespace qdetail {

inline constexpr std::size_t kNoSlot = std::numeric_limits<std::size_t>::max();

// Where a column's value stood in a row table, and the table's layout then.
struct SlotCache {
  std::size_t pos = kNoSlot;
  std::uint64_t layout = 0;
};

// What a loaded result says about one column, computed once per load.
struct QueryColumn {
  std::string name;  // lower-case, as in the column description
  std::string key;   // "_" + name
  std::string sqlName;  // name as statements write it: backquoted when not plain
  std::string def;   // default text (element 3)
  Kind kind = Kind::Nil;  // what the column's values are read as
  bool bits = false;  // a BIT column: the server sends its bytes, not a numeral
  unsigned flags = 0;
  std::size_t width = 0;  // padding width with padding on
  bool utf8Width = false;  // width counts UTF-8 characters, not bytes
  SlotCache rowSlot;
  SlotCache oldSlot;
};

}  // namespace qdetail

struct TQuillonQry::Impl {
  static constexpr std::uint64_t kUnknownRow = std::numeric_limits<std::uint64_t>::max();

  using Column = qdetail::QueryColumn;

  std::vector<Column> cols;
  // Row (from 0) that the next fetch on hResult delivers; kUnknownRow after
  // anything that may have moved the stored result's position.
  std::uint64_t nextRow = kUnknownRow;
  db::RowView view;
};

namespace qdetail {

// Column number (from 1) of a lower-cased name among the loaded columns, 0 for none.
inline long columnOf(const std::vector<QueryColumn>& cols, std::string_view name) {
  for (std::size_t i = 0; i < cols.size(); ++i)
    if (equalsNoCase(cols[i].name, name)) return static_cast<long>(i + 1);
  return 0;
}

// The value of key in t through a cached position; nullptr when t lacks the key
// and create is false. The position is trusted while the table keeps the layout
// it had when the position was found; tables replaced, reordered or extended by
// callers are searched again.
inline Value* slot(Table& t, SlotCache& cache, const std::string& key, bool create) {
  if (cache.layout == t.layout()) return &t.valueAt(cache.pos);
  long i = t.indexOf(key);
  if (i < 0) {
    if (!create) return nullptr;
    t.set(key, Value());
    i = t.indexOf(key);
    if (i < 0) return nullptr;
  }
  cache.pos = static_cast<std::size_t>(i);
  cache.layout = t.layout();
  return &t.valueAt(cache.pos);
}

// Width for padding a text of column c under the current padding setting.
std::size_t padWidth(const QueryColumn& c);

// UTF-8 characters of a text: its bytes that do not continue a character.
inline std::size_t utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char b : s) n += (b & 0xC0) != 0x80;
  return n;
}

// The blanks that pad text to width for column c: a text's width is counted
// in characters where the column's width is.
inline std::size_t padFor(const QueryColumn& c, std::string_view text, std::size_t width) {
  if (width == 0) return 0;
  const std::size_t n = c.utf8Width ? utf8Length(text) : text.size();
  return n < width ? width - n : 0;
}

// Whether FieldGet hands back the held value v of column c as it is, without
// VerifyValue's copy. With ignorePadding (Save trims padding from its literals
// and skips it when comparing) a text shorter than the width counts as well.
inline bool readsAsHeld(const QueryColumn& c, const Value& v, bool ignorePadding) {
  switch (c.kind) {
    case Kind::Number: return v.isNumber();
    case Kind::Logical: return v.isLogical();
    case Kind::Date: return v.isDate() && !v.asDate().empty();
    case Kind::Text:
    case Kind::Timestamp: return v.isString() && (ignorePadding || padFor(c, v.str(), padWidth(c)) == 0);
    case Kind::Memo: return v.isString();
    default: return false;
  }
}

// out := text followed by pad blanks; a text of that size already in out is
// overwritten in place, as row after row of a walk has.
inline void assignPadded(Value& out, std::string_view text, std::size_t pad) {
  if (!out.isText()) {
    std::string s;
    s.reserve(text.size() + pad);
    out = Value(std::move(s));
  }
  std::string& s = out.str();
  if (s.size() == text.size() + pad) {
    if (!text.empty()) std::memcpy(s.data(), text.data(), text.size());
    std::memset(s.data() + text.size(), ' ', pad);
    return;
  }
  s.assign(text.data(), text.size());
  s.append(pad, ' ');
}

// Typed value of a raw server text for a column, written into out in place
// (reusing out's text buffer when it already holds a text); texts of "C" and
// "T" columns padded to width.
void convertAny(const QueryColumn& c, std::string_view raw, Value& out, std::size_t width);

// As convertAny, with the cases of a walk row after row inline: a logical 0
// or 1, and a text of the size the previous row's padding gave it.
inline void convertRaw(const QueryColumn& c, std::string_view raw, Value& out, std::size_t width) {
  switch (c.kind) {
    case Kind::Logical:
      if (raw.size() == 1 && (raw[0] == '0' || raw[0] == '1')) {
        out.setLogical(raw[0] == '1');
        return;
      }
      break;
    case Kind::Text:
    case Kind::Timestamp:
      assignPadded(out, raw, padFor(c, raw, width));
      return;
    default:
      break;
  }
  convertAny(c, raw, out, width);
}

// "YYYY-MM-DD" style text to a date, as SQLDATE2CLIP reads it.
Date sqlDate(std::string_view text);

// The table an item of a FROM list names, as Save and Delete write it: a name
// or db.name (plain or backquoted), with comments and an alias ([AS] alias)
// left out; "" when the item is anything else (a join, a subquery, a
// function), read as the session d reads it.
std::string tableOfItem(std::string_view item, const sql::Dialect& d);

// Text of an argument that may be nil or of another kind.
inline std::string_view textOf(const Value& v) { return v.isString() ? std::string_view(v.str()) : std::string_view(); }

inline bool flagOr(const Value& v, bool dflt) { return v.isNil() ? dflt : v.asBool(); }

}  // namespace qdetail
}  // namespace veltro
