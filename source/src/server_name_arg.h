// Name arguments of the server's commands: checked to be identifiers before
// anything is sent, so that a caller's text can never add SQL of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sql_dialect.h"
#include "sql_names.h"
#include "veltro/binding.h"
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

// A table of the current database (what: "table") or a database
// ("database") named exactly as ListTables or ListDBs give it, such as "my
// table" or "order": its name backquoted for the connection; nothing when no
// such object exists (or for other kinds of names).
inline std::optional<std::string> listedObject(TQuillonSrv& srv, const Value& name, std::string_view what) {
  if (!name.isString() || (what != "table" && what != "database")) return std::nullopt;
  const std::string& text = name.str();
  const long long conn = srv.handle();
  // Nothing is sent for a text the server could hold no name as.
  if (!sql::couldBeListedName(text, sql::dialectOf(conn).charset)) return std::nullopt;
  // The listing takes a LIKE pattern: the exact name is picked from what it matches.
  for (const std::string& listed : what == "table" ? db::listTables(conn, text.c_str()) : db::listDbs(conn, text.c_str()))
    if (listed == text) return quotedName(text, conn);
  return std::nullopt;
}

// The normalised name (Q_LOWERCASE, by character of the connection's set) of
// a name argument, else an existing table's or database's name as listed,
// backquoted; or nothing after reporting it.
inline std::optional<std::string> nameArg(TQuillonSrv& srv, const Value& name, const char* what, int parts = 2) {
  std::string normal = name.isString() ? lowerCaseName(name.str(), srv.handle()) : std::string();
  const sql::Charset cs = sql::dialectOf(srv.handle()).charset;
  if (sql::isName(normal, parts, cs)) return sql::reservedQuoted(normal, parts, cs);
  if (auto listed = listedObject(srv, name, what)) return listed;
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
