// The program's connection: settings from connect.ini to a ready server object.
#pragma once

#include <string>

#include "veltro/server.h"
#include "veltro/table.h"
#include "veltro/value.h"

namespace veltro {

// The settings file, read from the current directory.
inline constexpr const char* kSettingsFile = "connect.ini";

// settings[section][key]; a missing section or key raises an error that names it.
Value settingOf(const TablePtr& settings, const std::string& section, const std::string& key);

// A server object made ready from the section "mysql": with a non-empty key
// "embedded" (a data directory) on the embedded server, else by New, with the
// optional connection keys (see connectionSettings) set on it first. Raises
// through the current handler when the connection fails. createDatabase: make
// the database first when it does not exist (for the tools that prepare it).
ServerPtr openServer(const TablePtr& settings, bool createDatabase = false);

// Reads connect.ini and connects inside a guarded block; nil on a failed
// connection, with no message. A missing section or key is not caught.
ServerPtr CONNECTTO();
// The same; a connection that failed leaves its report (the error, and the
// host, port and user tried, never the password) in failureText.
ServerPtr CONNECTTO(std::string& failureText);

}  // namespace veltro
