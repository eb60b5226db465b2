// The program's connection: settings from connect.ini to a ready server object.
#pragma once

#include <string>

#include "veltro/server.h"
#include "veltro/table.h"
#include "veltro/value.h"

namespace veltro {

// The settings file, read from the current directory.
inline constexpr const char* kSettingsFile = "connect.ini";

// The keys section [mysql] must hold (an empty value is fine).
inline constexpr const char* kRequiredKeys[] = {"host", "user", "psw", "port", "dbname", "flags"};

// settings[section][key]; a missing section or key raises an error that names it.
Value settingOf(const TablePtr& settings, const std::string& section, const std::string& key);

// Reads and checks a settings file before anything else runs: nil, with
// problem set in plain words (the file by its full path, the section, the
// key), when the file cannot be read or lacks [mysql] or one of its keys,
// when a value of [mysql] holds a zero byte, or when its port is no port
// (see settingPort).
TablePtr readSettings(const std::string& file, std::string& problem);

// A server object made ready from the section "mysql": with a non-empty key
// "embedded" (a data directory) on the embedded server, else by New, with the
// optional connection keys (see applyConnectionSettings) set on it first. The host
// may be a list ("h1:port,h2:port"). Raises through the current handler when
// the connection fails. createDatabase: make the database first when it does
// not exist (for the tools that prepare it).
ServerPtr openServer(const TablePtr& settings, bool createDatabase = false);

// Connects inside a guarded block with checked settings; nil on a failed
// connection, with its report (the error, and the host, port and user tried,
// never the password) in failureText. The statements of the four methods set
// constants, so they are sent again after a lost connection.
ServerPtr connectWith(const TablePtr& settings, std::string& failureText);

// Whether the table the methods update is there; when not, failureText says
// so and names the command that creates and fills it.
bool clientesReady(TQuillonSrv& server, const std::string& settingsFile, std::string& failureText);

// Reads connect.ini and connects inside a guarded block; nil on a failed
// connection, with no message. A missing section or key is not caught.
ServerPtr CONNECTTO();
// The same; a failed connection leaves its report in failureText.
ServerPtr CONNECTTO(std::string& failureText);

}  // namespace veltro
