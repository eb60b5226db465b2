// Name arguments of the server's commands: checked to be identifiers before
// anything is sent, so that a caller's text can never add SQL of its own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sql_dialect.h"
#include "sql_names.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro::detail {

// Reports kErrNotAName with what the name is ("table", "column", ...) and the text.
inline void reportNotAName(TQuillonSrv& srv, const Value& name, const char* what) {
  std::string shown = name.isString() ? name.str().substr(0, 80) : std::string("(not a text)");
  srv.RaiseInternal(kErrNotAName, Value(std::string(what) + " name is not an identifier (up to 64 characters, valid in the connection's character set): " + shown));
}

// Whether a name argument, written as given, is a name (blanks around it
// aside); reports it when not.
inline bool isNameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts, sql::Charset cs) {
  if (name.isString() && sql::isName(trimValueText(name.str()), parts, cs)) return true;
  reportNotAName(srv, name, what);
  return false;
}
inline bool isNameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  return isNameArg(srv, name, what, parts, sql::dialectOf(srv.handle()).charset);
}

// The normalised name (Q_LOWERCASE, by character of the connection's set) of
// a name argument, or nothing after reporting it.
inline std::optional<std::string> nameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  std::string normal = name.isString() ? lowerCaseName(name.str(), srv.handle()) : std::string();
  if (isSqlName(normal, parts, srv.handle())) return normal;
  reportNotAName(srv, name, what);
  return std::nullopt;
}

// A table or column name for the client library's field listing, which takes
// names unquoted and at most kListingBytes bytes of table and column together:
// the name's one part without its backquotes, or nothing after reporting it.
// room: the bytes the name may take.
inline constexpr std::size_t kListingBytes = 126;
inline std::optional<std::string> listedName(TQuillonSrv& srv, const Value& name, const char* what,
                                             std::size_t room = kListingBytes) {
  const auto normal = nameArg(srv, name, what, 1);
  if (!normal) return std::nullopt;
  std::vector<std::string> parts = sql::nameParts(*normal, 1, sql::dialectOf(srv.handle()).charset);
  if (parts.size() != 1 || parts[0].size() > room) {
    srv.RaiseInternal(kErrNotAName, Value(std::string(what) + " name too long for the field listing: " + normal->substr(0, 80)));
    return std::nullopt;
  }
  return parts[0];
}

}  // namespace veltro::detail
