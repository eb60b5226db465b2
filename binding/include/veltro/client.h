// The MYSQL* functions: the client library's calls with Values in and out,
// under the binding's argument rules (a missing or wrongly-kinded argument
// reads as a null text, 0 or false and never fails); the protocol's type
// numbers of a column and the embedded server's options.
// Handles are numbers: 0 is none, a positive number stands for one live
// connection or result; a handle that was closed reads as none afterwards.
// No client-library type appears here.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro::db {

// The protocol's type numbers of a column (the kDescType of a column description), named once.
enum class FieldType : int {
  Decimal = 0,
  Tiny = 1,
  Short = 2,
  Long = 3,
  Float = 4,
  Double = 5,
  Null = 6,
  Timestamp = 7,
  LongLong = 8,
  Int24 = 9,
  Date = 10,
  Time = 11,
  DateTime = 12,
  Year = 13,
  NewDate = 14,
  VarChar = 15,
  Bit = 16,
  Json = 245,
  NewDecimal = 246,
  Enum = 247,
  Set = 248,
  TinyBlob = 249,
  MediumBlob = 250,
  LongBlob = 251,
  Blob = 252,
  VarString = 253,
  String = 254,
  Geometry = 255,
};

// Whether the server sends a column of this type as a plain numeral.
constexpr bool isNumeralType(int type) {
  switch (static_cast<FieldType>(type)) {
    case FieldType::Decimal:
    case FieldType::Tiny:
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::Float:
    case FieldType::Double:
    case FieldType::LongLong:
    case FieldType::Int24:
    case FieldType::Year:
    case FieldType::NewDecimal:
      return true;
    default:
      return false;
  }
}

// The error number of a connection setting refused before anything is sent
// (the server object reports the same number as kErrBadSetting).
inline constexpr unsigned kBadSettingError = 9029;

// The server argv that runs the embedded server on datadir (an empty directory
// will do): the program name, no option files, no grant tables, the system's
// error messages, utf8mb4, and an InnoDB that needs no native AIO.
VELTRO_API std::vector<std::string> embeddedOptions(const std::string& datadir);

// Where the embedded module is looked for: $VELTRO_EMBEDDED_MODULE, then
// veltro/libveltro_embedded.so beside the library that holds the binding (an
// installed libveltro.so, wherever its prefix), then the build tree, then the
// configured install location.
VELTRO_API std::string embeddedModulePath();

}  // namespace veltro::db

namespace veltro {

// --- Connection-level wrappers -------------------------------------------------
// options: a keyed table of connection settings, each optional: "charset",
// "tls", "ssl-ca", "ssl-cert", "ssl-key", "socket" (texts) and
// "connect-timeout", "read-timeout", "write-timeout" (seconds). A "tls" text
// other than "off", "preferred", "required" or "verify-identity" (in any
// letter case) asks for the strictest mode, verify-identity, so that a
// misspelt setting never connects unencrypted. A host, user, password or
// database text, or an option text, that holds a zero byte, and a port number
// that is not a whole number from 0 to 65535, connect nowhere: 0, with
// MYSQLGETERRNO(0) db::kBadSettingError and the reason in MYSQLERROR(0). A
// port that is not a number means 3306.
VELTRO_API Value MYSQLCONNECT(const Value& host = {}, const Value& user = {}, const Value& password = {},
                              const Value& port = {}, const Value& flags = {}, const Value& database = {},
                              const Value& options = {});
// options: array of texts, the server's argv (first element the program name,
// e.g. db::embeddedOptions(dir)); groups: array of option-file group names.
VELTRO_API Value MYSQLEMBEDDED(const Value& database = {}, const Value& options = {}, const Value& groups = {});

// The client library's calls of the same names: a handle argument that is
// not a number is handle 0, which is no connection (a ping, commit or
// rollback of it gives 1). MYSQLQUERY sends at most length bytes of sql;
// MYSQLSELECTDB, MYSQLPING, MYSQLCOMMIT and MYSQLROLLBACK give the client
// library's status (0: done). MYSQLERROR and MYSQLGETERRNO of handle 0 give
// the last failure the binding saw in the calling thread (a refused setting,
// a failed embedded start), else "" and 0.
VELTRO_API Value MYSQLCLOSE(const Value& conn = {});
VELTRO_API Value MYSQLQUERY(const Value& conn = {}, const Value& sql = {}, const Value& length = {});
VELTRO_API Value MYSQLSELECTDB(const Value& conn = {}, const Value& database = {});
VELTRO_API Value MYSQLPING(const Value& conn = {});
VELTRO_API Value MYSQLCOMMIT(const Value& conn = {});
VELTRO_API Value MYSQLROLLBACK(const Value& conn = {});
VELTRO_API Value MYSQLERROR(const Value& conn = {});
VELTRO_API Value MYSQLGETERRNO(const Value& conn = {});
// Escapes a text for a quoted literal: for the connection conn when it is a
// number, else (and always for VAL2ESCAPE) by the connection-less rules.
VELTRO_API Value MYSQLESCAPE(const Value& text = {}, const Value& conn = {});
VELTRO_API Value VAL2ESCAPE(const Value& text = {});
// The bitwise AND of two numbers taken as 32-bit integers (column flags).
VELTRO_API Value MYAND(const Value& a = {}, const Value& b = {});
// The whole content of a file as a text; "" when it is missing, empty or unreadable.
VELTRO_API Value Q_READFILE(const Value& fileName = {});

// --- Result-set wrappers -----------------------------------------------------
// The client library's result calls: a result handle (0: none), the columns
// of a connection's last statement, the rows of a result, a move to a row
// (from 0), and freeing.
VELTRO_API Value MYSQLSTORERESULT(const Value& conn = {});
VELTRO_API Value MYSQLFIELDCOUNT(const Value& conn = {});
VELTRO_API Value MYSQLNUMROWS(const Value& res = {});
VELTRO_API Value MYSQLDATASEEK(const Value& res = {}, const Value& row = {});
// The next row as an array of texts (an SQL NULL reads as ""), of every
// column or of the first count; past the end an array of nils of that length.
VELTRO_API Value MYSQLFETCHROW(const Value& res);
VELTRO_API Value MYSQLFETCHROW(const Value& res, const Value& count);
VELTRO_API Value MYSQLFREERESULT(const Value& res = {});
// Positions (from 1) in a column description of MYSQLRESULTSTRUCTURE.
enum DescriptionField : std::size_t {
  kDescName = 1,  // lower case
  kDescTable = 2,
  kDescDefault = 3,
  kDescType = 4,       // protocol type number (db::FieldType)
  kDescLength = 5,     // in bytes
  kDescMaxLength = 6,  // of the values in the result
  kDescFlags = 7,
  kDescDecimals = 8,
  kDescKind = 9,  // kind letter
};
// The description of every column of a result (an empty array for none);
// table names lower-cased unless keepTableCase is true.
VELTRO_API Value MYSQLRESULTSTRUCTURE(const Value& res = {}, const Value& keepTableCase = {});
// A result of the table's columns matching wild (0 on failure), and the names
// of the databases and of the current database's tables (an empty array on
// failure); wild a LIKE pattern, nil for all.
VELTRO_API Value MYSQLLISTFIELDS(const Value& conn = {}, const Value& table = {}, const Value& wild = {});
VELTRO_API Value MYSQLLISTDBS(const Value& conn = {}, const Value& wild = {});
VELTRO_API Value MYSQLLISTTBLS(const Value& conn = {}, const Value& wild = {});
// The first row (from 1) between first and last whose column col (from 1)
// matches text; first and last default to the whole result; 0 when no row
// matches. soft: the value begins with text; otherwise text begins with the
// whole value. ASCII letters compare without case; empty values never match.
VELTRO_API Value MYSEEK(const Value& res = {}, const Value& col = {}, const Value& text = {}, const Value& first = {},
                        const Value& last = {}, const Value& soft = {});

}  // namespace veltro
