// The program's settings reader: INI files into a map of sections.
#pragma once

#include <string>
#include <string_view>

#include "veltro/server.h"
#include "veltro/table.h"
#include "veltro/value.h"

namespace veltro {

// The settings map of the first readable file of a ";"-separated list: a
// case-sensitive keyed table from section name to a keyed table from key to
// value text. Always holds "MAIN"; a missing or unreadable file gives only that.
TablePtr INIREAD(const std::string& fileNames);

// The settings map of a text in INI form, read as INIREAD reads a file's
// contents (include lines name files relative to the working directory).
TablePtr INIREADTEXT(std::string_view text);

// The number of a setting's value: blanks skipped, optional sign, digits and
// one point up to the first other character; 0 when there are no digits.
Number settingNumber(std::string_view text);

// The port of a settings text: empty or "0" for the client library's default
// (0), else a whole number from 1 to 65535 in digits. false, with why in plain
// words, for anything else (a sign, a point, letters, a number beyond 65535),
// which the client library would otherwise take for another port.
bool settingPort(std::string_view text, Number& port, std::string& why);

// Sets the server object's connection settings members from the optional keys
// of section "mysql" that carry their names (charset, tls, ssl-ca, ssl-cert,
// ssl-key, connect-timeout, read-timeout, write-timeout, socket): texts as
// written, the timeouts as numbers. An absent or empty key leaves its member
// as it is (the default); a timeout that is not a numeral stays text, for the
// server object to report.
void applyConnectionSettings(const TablePtr& settings, TQuillonSrv& server);

}  // namespace veltro
