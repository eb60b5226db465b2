// Name arguments of the server's commands: checked to be identifiers before
// anything is sent, so that a caller's text can never add SQL of its own.
#pragma once

#include <optional>
#include <string>

#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro::detail {

// Reports kErrNotAName with what the name is ("table", "column", ...) and the text.
inline void reportNotAName(TQuillonSrv& srv, const Value& name, const char* what) {
  std::string shown = name.isString() ? name.str().substr(0, 80) : std::string("(not a text)");
  srv.RaiseInternal(kErrNotAName, Value(std::string(what) + " name is not an identifier: " + shown));
}

// Whether a name argument, written as given, is a name (blanks around it
// aside); reports it when not.
inline bool isNameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  if (name.isString() && isSqlName(trimValueText(name.str()), parts)) return true;
  reportNotAName(srv, name, what);
  return false;
}

// The normalised name (Q_LOWERCASE) of a name argument, or nothing after reporting it.
inline std::optional<std::string> nameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  std::string normal = name.isString() ? Q_LOWERCASE(name) : std::string();
  if (isSqlName(normal, parts)) return normal;
  reportNotAName(srv, name, what);
  return std::nullopt;
}

}  // namespace veltro::detail
