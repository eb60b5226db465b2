// How a connection's session reads SQL text, for the lexer and the name rules.
#pragma once

#include "sql_lexer.h"
#include "veltro/binding.h"

namespace veltro::sql {

// The dialect of a connection: its character set's walk and its backslash
// mode. No connection (0, or one that has ended) reads as Lenient with
// backslash escapes.
inline Dialect dialectOf(long long conn) {
  Dialect d;
  if (conn == 0) return d;
  const db::CharsetInfo info = db::charsetInfo(conn);
  if (info.name.empty()) return d;
  d.charset = charsetNamed(info.name);
  d.backslashEscapes = info.backslashEscapes;
  return d;
}

}  // namespace veltro::sql
