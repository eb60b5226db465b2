// The thin binding over the MySQL/MariaDB client library.
//
// Two faces of the same functions:
//  - veltro::db: typed calls for the library's own hot paths (no Value boxing,
//    rows read in place);
//  - the MYSQL* free functions: Values in, Values out, with the binding's
//    argument rules (a missing or wrongly-kinded argument reads as a null text,
//    0 or false and never fails).
// Handles are numbers: 0 is none, a positive number stands for one live
// connection or result; a handle that was closed reads as none afterwards.
// No client-library type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/value.h"

namespace veltro::db {

using Handle = std::int64_t;

// The protocol's type numbers of a column (FieldInfo::type), named once.
enum class FieldType : int {
  Decimal = 0, Tiny = 1, Short = 2, Long = 3, Float = 4, Double = 5, Null = 6, Timestamp = 7, LongLong = 8,
  Int24 = 9, Date = 10, Time = 11, DateTime = 12, Year = 13, NewDate = 14, VarChar = 15, Bit = 16,
  Json = 245, NewDecimal = 246, Enum = 247, Set = 248, TinyBlob = 249, MediumBlob = 250, LongBlob = 251,
  Blob = 252, VarString = 253, String = 254, Geometry = 255,
};

// Whether the server sends a column of this type as a plain numeral.
constexpr bool isNumeralType(int type) {
  switch (static_cast<FieldType>(type)) {
    case FieldType::Decimal: case FieldType::Tiny: case FieldType::Short: case FieldType::Long:
    case FieldType::Float: case FieldType::Double: case FieldType::LongLong: case FieldType::Int24:
    case FieldType::Year: case FieldType::NewDecimal:
      return true;
    default:
      return false;
  }
}

// One column description in the binding's own terms.
struct FieldInfo {
  std::string name;   // as the server sent it
  std::string table;  // as the server sent it
  std::string def;    // default value text, "" when none
  int type = 0;       // MySQL protocol type number
  std::uint64_t length = 0;
  std::uint64_t maxLength = 0;
  unsigned flags = 0;
  unsigned decimals = 0;
};

// The row just fetched, read in place; valid until the next fetch or free on its result.
struct RowView {
  char** values = nullptr;
  const unsigned long* lengths = nullptr;
  unsigned count = 0;
  bool isNull(unsigned i) const { return values[i] == nullptr; }
  std::string_view at(unsigned i) const {
    return values[i] ? std::string_view(values[i], lengths[i]) : std::string_view();
  }
};

// Column flag bits the library tests.
inline constexpr unsigned kNotNullFlag = 1;
inline constexpr unsigned kPrimaryKeyFlag = 2;
inline constexpr unsigned kMultipleKeyFlag = 8;
inline constexpr unsigned kAutoIncrementFlag = 512;

// Type letter of a MySQL protocol type number ("N", "L", "D", "T", "C", "M" or
// "U"); length, the column's, tells BIT(1) ("L") from a wider BIT ("N").
char typeLetter(int type, std::uint64_t length);

// How a connection uses TLS.
enum class TlsMode {
  Default,         // as the client library does by itself (Connector/C: TLS when a certificate file is given)
  Off,             // never; certificate files are ignored
  Preferred,       // encrypted when the server offers it, unencrypted otherwise
  Required,        // encrypted or no connection; the certificate checked only against a given sslCa
  VerifyIdentity,  // encrypted, the certificate signed by the CA (sslCa) and naming the host
};

// The TLS mode of a text: "off", "preferred", "required" or "verify-identity",
// in any letter case; false for any other text.
bool tlsModeOf(std::string_view text, TlsMode& mode);

// Settings of one connection, applied through the client library's options
// before it connects. Empty texts and zero numbers keep the client library's
// default.
struct ConnectOptions {
  std::string charset;  // character set of the connection ("utf8mb4", "gbk", ...)
  TlsMode tls = TlsMode::Default;
  std::string sslCa, sslCert, sslKey;  // certificate files (PEM)
  unsigned connectTimeout = 0, readTimeout = 0, writeTimeout = 0;  // seconds
  std::string socket;  // the Unix socket, used when the host is "localhost" (or null)
};

// The error number of a connection setting refused before anything is sent
// (the server object reports the same number as kErrBadSetting).
inline constexpr unsigned kBadSettingError = 9029;

// The port a number names: a whole number from 0 to 65535 (0: the client
// library's default); false for any other number (negative, fractional, not a
// number, beyond 65535) and for a value that is not a number.
bool portOf(const Value& port, unsigned& number);

// Connections. connect() returns a handle also when the connect failed (the
// error is readable on it); 0 when no connection object could be made, when
// the options could not be applied, when a setting is refused (a port above
// 65535 or an option text holding a zero byte: kBadSettingError), or when TLS
// was required and the connection came out unencrypted (the reason readable
// through errnum(0) / error(0)). With TlsMode::Required a server that does
// not offer TLS is refused before the login (error 2026), whether the
// connection is refused by handle 0 or by the handle's error. port 0 lets the
// client library choose its default. The flags never switch on
// multi-statement mode (65536) nor TLS (2048, which the tls setting decides):
// both bits are cleared.
Handle connect(const char* host, const char* user, const char* password, unsigned port,
               unsigned long flags, const char* database, const ConnectOptions& options);
inline Handle connect(const char* host, const char* user, const char* password, unsigned port,
                      unsigned long flags, const char* database) {
  return connect(host, user, password, port, flags, database, ConnectOptions{});
}
// Makes a connection escape with the character set the server now reads from
// it (name as in @@character_set_client), after a statement changed it; false
// when the client library does not know the name (or for no connection).
bool adoptCharset(Handle conn, const char* name);
// Starts the embedded server (once per process) and connects to it; 0 on failure,
// with the reason readable through errnum(0) / error(0).
// options is the server's argv: its first element is the program name, the
// server options follow (see embeddedOptions). groups names the option-file
// groups to read. Only the first call that starts the server uses them; later
// calls connect to the running server. A server that failed to start, or
// that started, is never started again in this process (libmariadbd cannot
// restart), so a failed connect leaves it running.
Handle embedded(const char* database, const std::vector<std::string>& options,
                const std::vector<std::string>& groups);
// The server argv that runs the embedded server on datadir (an empty directory
// will do): the program name, no option files, no grant tables, the system's
// error messages, utf8mb4, and an InnoDB that needs no native AIO.
std::vector<std::string> embeddedOptions(const std::string& datadir);
void close(Handle conn);
bool isConnection(Handle conn);
int query(Handle conn, const char* sql, std::size_t length);
int selectDb(Handle conn, const char* database);
int ping(Handle conn);      // 1 for handle 0
int commit(Handle conn);    // 1 for handle 0
int rollback(Handle conn);  // 1 for handle 0
// Rows the last statement of a connection changed (for a SELECT: the rows it
// returned; -1 after a failed statement or for handle 0), and the value its
// last INSERT gave an AUTO_INCREMENT column (0 for none).
long long affectedRows(Handle conn);
std::uint64_t insertId(Handle conn);
// The connection's character set: the most bytes one character takes (1 for
// handle 0), whether it is UTF-8, its name ("" for handle 0; the client
// library's own text, the same pointer for the same set for the process's
// life), and whether the session reads backslashes in quoted texts as
// escapes (off under NO_BACKSLASH_ESCAPES); with the server's version as a
// number (10.11.19: 101119; 0 for handle 0), which decides what its versioned
// comments hold.
struct CharsetInfo {
  unsigned maxBytes = 1;
  bool utf8 = false;
  const char* name = "";
  bool backslashEscapes = true;
  unsigned long serverVersion = 0;
};
// Those facts of a connection.
CharsetInfo charsetInfo(Handle conn);
// Last error of a connection. For handle 0 (or a stale handle): the last
// failure the binding saw in the calling thread (a failed embedded start), else 0 / "".
unsigned errnum(Handle conn);
std::string error(Handle conn);
// The SQLSTATE of a connection's last error ("00000" when none; "HY000" for handle 0).
std::string sqlstate(Handle conn);
// Escapes for a quoted SQL literal; with a connection by its character set,
// without one by the client library's connection-less rules.
std::string escape(std::string_view text, Handle conn = 0);
void escapeAppend(std::string& out, std::string_view text, Handle conn = 0);

// Results.
Handle storeResult(Handle conn);
// A result streamed row by row (memory flat in its size); fetch every row (or
// free it) before the connection's next statement. A fetch that ends early
// leaves its error on the connection.
Handle useResult(Handle conn);
unsigned fieldCount(Handle conn);
// Drops what the last statement of conn left unread: a result set not taken
// (its rows read and discarded), then every further result of a statement
// that returns more than one (a CALL of a procedure that returns rows), so
// that the connection takes the next statement. 0 when all went well, else
// the error number of the result that failed (its error stays on conn).
unsigned discardResults(Handle conn);
bool isResult(Handle res);
std::uint64_t numRows(Handle res);
unsigned numFields(Handle res);
void dataSeek(Handle res, std::uint64_t row);
// Fetches the next row; false past the end (or for handle 0).
bool fetchRow(Handle res, RowView& row);
void freeResult(Handle res);
std::vector<FieldInfo> fields(Handle res);
// The character set number of each column of a result (kBinaryCharset: binary data).
inline constexpr unsigned kBinaryCharset = 63;
std::vector<unsigned> fieldCharsets(Handle res);
Handle listFields(Handle conn, const char* table, const char* wild);
std::vector<std::string> listDbs(Handle conn, const char* wild);
std::vector<std::string> listTables(Handle conn, const char* wild);
// First row (from 1) in [first, last] whose column col (from 1) matches text; 0 for none.
// soft: the value begins with text; otherwise text begins with the whole value. ASCII
// letters compare without case; empty values never match.
long seek(Handle res, unsigned col, std::string_view text, long first, long last, bool soft);
// The comparison of seek on one value, exposed for tests and fuzzing.
bool seekMatches(std::string_view value, std::string_view text, bool soft);
// As seek, for a column whose value the server sends as raw bytes (BIT): the
// first row whose value is exactly bytes.
long seekBytes(Handle res, unsigned col, std::string_view bytes, long first, long last);

// Connections not yet closed and results not yet freed in this process, for
// leak checks.
struct LiveHandles {
  std::size_t connections = 0;
  std::size_t results = 0;
};
// How many of each are live now.
LiveHandles liveHandles();

// Where the embedded module is looked for: $VELTRO_EMBEDDED_MODULE, then
// veltro/libveltro_embedded.so beside the library that holds the binding (an
// installed libveltro.so, wherever its prefix), then the build tree, then the
// configured install location.
std::string embeddedModulePath();

}  // namespace veltro

namespace veltro {

// --- Connection-level wrappers -------------------------------------------------
// options: a keyed table of connection settings, each optional: "charset",
// "tls", "ssl-ca", "ssl-cert", "ssl-key", "socket" (texts) and
// "connect-timeout", "read-timeout", "write-timeout" (seconds). A "tls" text
// that tlsModeOf does not know asks for the strictest mode, verify-identity,
// so that a misspelt setting never connects unencrypted. A host, user,
// password or database text, or an option text, that holds a zero byte, and a
// port number that portOf refuses, connect nowhere: 0, with errnum(0)
// kBadSettingError and the reason in error(0). A port that is not a number
// means 3306.
Value MYSQLCONNECT(const Value& host = {}, const Value& user = {}, const Value& password = {},
                   const Value& port = {}, const Value& flags = {}, const Value& database = {},
                   const Value& options = {});
// options: array of texts, the server's argv (first element the program name,
// e.g. db::embeddedOptions(dir)); groups: array of option-file group names.
Value MYSQLEMBEDDED(const Value& database = {}, const Value& options = {}, const Value& groups = {});

// The db:: calls of the same names with Values: a handle argument that is
// not a number is handle 0, which answers as the db:: call does for it.
// MYSQLQUERY sends at most length bytes of sql; MYSQLSELECTDB, MYSQLPING,
// MYSQLCOMMIT and MYSQLROLLBACK give the client library's status (0: done).
Value MYSQLCLOSE(const Value& conn = {});
Value MYSQLQUERY(const Value& conn = {}, const Value& sql = {}, const Value& length = {});
Value MYSQLSELECTDB(const Value& conn = {}, const Value& database = {});
Value MYSQLPING(const Value& conn = {});
Value MYSQLCOMMIT(const Value& conn = {});
Value MYSQLROLLBACK(const Value& conn = {});
Value MYSQLERROR(const Value& conn = {});
Value MYSQLGETERRNO(const Value& conn = {});
// Escapes a text for a quoted literal: for the connection conn when it is a
// number, else (and always for VAL2ESCAPE) by the connection-less rules.
Value MYSQLESCAPE(const Value& text = {}, const Value& conn = {});
Value VAL2ESCAPE(const Value& text = {});
// The bitwise AND of two numbers taken as 32-bit integers (column flags).
Value MYAND(const Value& a = {}, const Value& b = {});
// The whole content of a file as a text; "" when it is missing, empty or unreadable.
Value Q_READFILE(const Value& fileName = {});

// --- Result-set wrappers -----------------------------------------------------
// The db:: result calls with Values: a result handle (0: none), the columns
// of a connection's last statement, the rows of a result, a move to a row
// (from 0), and freeing.
Value MYSQLSTORERESULT(const Value& conn = {});
Value MYSQLFIELDCOUNT(const Value& conn = {});
Value MYSQLNUMROWS(const Value& res = {});
Value MYSQLDATASEEK(const Value& res = {}, const Value& row = {});
// The next row as an array of texts (an SQL NULL reads as ""), of every
// column or of the first count; past the end an array of nils of that length.
Value MYSQLFETCHROW(const Value& res);
Value MYSQLFETCHROW(const Value& res, const Value& count);
Value MYSQLFREERESULT(const Value& res = {});
// Positions (from 1) in a column description of MYSQLRESULTSTRUCTURE.
enum DescriptionField : std::size_t {
  kDescName = 1,       // lower case
  kDescTable = 2,
  kDescDefault = 3,
  kDescType = 4,       // protocol type number (db::FieldType)
  kDescLength = 5,     // in bytes
  kDescMaxLength = 6,  // of the values in the result
  kDescFlags = 7,
  kDescDecimals = 8,
  kDescKind = 9,       // kind letter
};
// The description of every column of a result (an empty array for none);
// table names lower-cased unless keepTableCase is true.
Value MYSQLRESULTSTRUCTURE(const Value& res = {}, const Value& keepTableCase = {});
// A result of the table's columns matching wild (0 on failure), and the names
// of the databases and of the current database's tables (an empty array on
// failure); wild a LIKE pattern, nil for all.
Value MYSQLLISTFIELDS(const Value& conn = {}, const Value& table = {}, const Value& wild = {});
Value MYSQLLISTDBS(const Value& conn = {}, const Value& wild = {});
Value MYSQLLISTTBLS(const Value& conn = {}, const Value& wild = {});
// db::seek with Values: col from 1 (0 below 1), first and last default to
// the whole result; 0 when no row matches.
Value MYSEEK(const Value& res = {}, const Value& col = {}, const Value& text = {}, const Value& first = {},
             const Value& last = {}, const Value& soft = {});

// The nine-element column description of one field.
Value columnDescription(const db::FieldInfo& field, bool keepTableCase);

}  // namespace veltro
