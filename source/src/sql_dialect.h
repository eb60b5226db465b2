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
  if (*info.name == '\0') return d;
  // Statement after statement the set is the same one, named by the same
  // pointer into the client library's tables: its walk is looked up once.
  thread_local const char* lastName = nullptr;
  thread_local Charset lastWalk = Charset::Lenient;
  thread_local std::uint8_t lastBlanks = 0;
  if (info.name != lastName) {
    lastWalk = charsetNamed(info.name);
    lastBlanks = highBlanksNamed(info.name);
    lastName = info.name;
  }
  d.charset = lastWalk;
  d.highBlanks = lastBlanks;
  d.backslashEscapes = info.backslashEscapes;
  d.serverVersion = info.serverVersion;
  return d;
}

}  // namespace veltro::sql
