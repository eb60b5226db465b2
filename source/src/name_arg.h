// Name arguments of the server's commands: checked to be identifiers before
// anything is sent, so that a caller's text can never add SQL of its own.
#pragma once

#include <optional>
#include <string>

#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro::detail {

// The normalised name (Q_LOWERCASE) of a name argument, or nothing after
// reporting kErrNotAName with what it is ("table", "column", ...) and the text.
inline std::optional<std::string> nameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  std::string normal = name.isString() ? Q_LOWERCASE(name) : std::string();
  if (isSqlName(normal, parts)) return normal;
  std::string shown = name.isString() ? name.str().substr(0, 80) : std::string("(not a text)");
  srv.RaiseInternal(kErrNotAName, Value(std::string(what) + " name is not an identifier: " + shown));
  return std::nullopt;
}

}  // namespace veltro::detail
