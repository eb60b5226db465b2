// The binding's typed calls over the MySQL/MariaDB client library, for the
// library's own hot paths: no Value boxing, rows read in place. The MYSQL*
// functions (veltro/client.h, the installed face) stand on them. Internal:
// the package does not install this header.
// Handles are numbers: 0 is none, a positive number stands for one live
// connection or result; a handle that was closed reads as none afterwards.
// No client-library type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/client.h"
#include "veltro/value.h"

namespace veltro::db {

using Handle = std::int64_t;

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
  // A call waiting this long has its node probed, and is cut when the node
  // does not answer within connectTimeout (5 s when 0); 0: not watched.
  unsigned nodeWatchMs = 0;
};

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
// The comparison of seek on one value.
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

}  // namespace veltro::db

namespace veltro {

// The nine-element column description of one field.
Value columnDescription(const db::FieldInfo& field, bool keepTableCase);
// The column descriptions of every field of a result (an empty array for none).
Value resultStructure(db::Handle res, bool keepTableCase);
// Names (of databases, tables) as an array of texts.
Value namesArray(const std::vector<std::string>& names);
// The texts of an array, "" for an element that is not a text; empty for a non-array.
std::vector<std::string> textList(const Value& v);
// db::connect with the login as Values, by the MYSQL* argument rules (a text
// that is not a text: none; port 3306 when it is not a number; the flags' low
// 32 bits), once the login has been checked.
Value connectByRules(const Value& host, const Value& user, const Value& password, const Value& port,
                     const Value& flags, const Value& database, const db::ConnectOptions& options);

}  // namespace veltro
