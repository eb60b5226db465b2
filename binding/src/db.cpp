// The typed face of the binding: handles in, plain C++ values out. Here:
// connections, their statements and errors, results, fields and listings.
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"
#include "client_backend.h"
#include "db_detail.h"
#include "handles.h"
#include "veltro/binding.h"

namespace veltro::db {

namespace detail {

LastFailure& lastFailure() {
  thread_local LastFailure failure;
  return failure;
}

void setLastFailure(unsigned number, std::string message) {
  lastFailure().number = number;
  lastFailure().message = std::move(message);
}

const detail::Entry* connEntry(Handle conn) { return detail::connections().find(conn); }
const detail::Entry* resEntry(Handle res) { return detail::results().find(res); }

Handle adopt(const VeltroBackendOps* ops, void* conn, std::shared_ptr<NodeWatch> watch) {
  Handle h = detail::connections().add(ops, conn, std::move(watch));
  if (!h) {
    ops->close(conn);
    setLastFailure(kOutOfMemoryError, "Too many open connections");
  }
  return h;
}

}  // namespace detail

using detail::adopt;
using detail::connEntry;
using detail::kOutOfMemoryError;
using detail::kUnknownError;
using detail::lastFailure;
using detail::resEntry;
using detail::setLastFailure;

namespace {
// A watch over a host list's connection; none for a socket on this machine,
// whose server cannot be probed apart from it.
std::shared_ptr<detail::NodeWatch> watchFor(const VeltroBackendOps* ops, void* conn, const char* host, unsigned port,
                                            const ConnectOptions& options) {
  using std::chrono::milliseconds;
  constexpr unsigned kProbeDefaultMs = 5000;
  const int socket = ops->socketOf ? ops->socketOf(conn) : -1;
  if (socket < 0 || !host || !*host || std::string_view(host) == "localhost") return nullptr;
  const unsigned probe = options.connectTimeout ? options.connectTimeout * 1000 : kProbeDefaultMs;
  return std::make_shared<detail::NodeWatch>(host, port ? port : 3306, socket, milliseconds(options.nodeWatchMs),
                                             milliseconds(probe));
}

// False, with the reason as the last failure, for a setting the client library
// would read as another: it takes a port as 16 bits and a text up to its first
// zero byte, and either would connect to what the caller did not name.
bool checkSettings(unsigned port, const ConnectOptions& options) {
  if (port > 65535) {
    setLastFailure(detail::kBadSettingError, "port " + std::to_string(port) + ": not a port from 1 to 65535");
    return false;
  }
  for (const auto& [name, text] : {std::pair<const char*, const std::string*>{"charset", &options.charset},
                                   {"ssl-ca", &options.sslCa},
                                   {"ssl-cert", &options.sslCert},
                                   {"ssl-key", &options.sslKey},
                                   {"socket", &options.socket}}) {
    if (text->find('\0') != std::string::npos) {
      setLastFailure(detail::kBadSettingError, std::string(name) + ": a zero byte in the text");
      return false;
    }
  }
  return true;
}
}  // namespace

LiveHandles liveHandles() { return {detail::connections().liveCount(), detail::results().liveCount()}; }

Handle connect(const char* host, const char* user, const char* password, unsigned port,
               unsigned long flags, const char* database, const ConnectOptions& options) {
  // Multi-statement mode is never on, and TLS is the tls setting's alone
  // (CLIENT_SSL among the flags would ask for it behind that setting).
  constexpr unsigned long kClientSsl = 2048;
  constexpr unsigned long kClientMultiStatements = 65536;
  constexpr unsigned kSslConnectionError = 2026;  // CR_SSL_CONNECTION_ERROR
  flags &= ~(kClientSsl | kClientMultiStatements);
  setLastFailure(0, {});
  if (!checkSettings(port, options)) return 0;
  const VeltroBackendOps* ops = detail::clientBackend();
  void* conn = ops->init();
  if (!conn) {
    setLastFailure(kOutOfMemoryError, "MySQL client ran out of memory");
    return 0;
  }
  auto textOrNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  const VeltroConnectOptions settings{textOrNull(options.charset), static_cast<int>(options.tls),
                                      textOrNull(options.sslCa),   textOrNull(options.sslCert),
                                      textOrNull(options.sslKey),  options.connectTimeout,
                                      options.readTimeout,         options.writeTimeout};
  static_assert(static_cast<int>(TlsMode::Off) == VELTRO_TLS_OFF && static_cast<int>(TlsMode::Preferred) == VELTRO_TLS_PREFERRED &&
                static_cast<int>(TlsMode::Required) == VELTRO_TLS_REQUIRED &&
                static_cast<int>(TlsMode::VerifyIdentity) == VELTRO_TLS_VERIFY_IDENTITY);
  if (ops->applyOptions(conn, &settings) != 0) {
    ops->close(conn);
    setLastFailure(kUnknownError, "The connection settings could not be applied");
    return 0;
  }
  // A failed connect still yields the handle: the error is read from it.
  const bool connected =
      ops->realConnect(conn, host, user, password, database, port, textOrNull(options.socket), flags) != nullptr;
  if (!connected && options.tls == TlsMode::Required) ops->explainTlsRefusal(conn);
  // A required TLS is refused before the login by the client backend; this
  // check stands behind it (a path on which the client library skipped TLS),
  // before any statement is sent.
  const bool tlsRequired = options.tls == TlsMode::Required || options.tls == TlsMode::VerifyIdentity;
  if (connected && tlsRequired && !ops->sslCipher(conn)) {
    ops->close(conn);
    setLastFailure(kSslConnectionError, "TLS is required, but the server does not offer it");
    return 0;
  }
  std::shared_ptr<detail::NodeWatch> watch;
  if (connected && options.nodeWatchMs > 0) watch = watchFor(ops, conn, host, port, options);
  const Handle h = adopt(ops, conn, watch);
  if (h && watch) detail::NodeWatch::start(watch);
  return h;
}

void close(Handle conn) { detail::connections().release(conn); }

bool isConnection(Handle conn) { return connEntry(conn) != nullptr; }

int query(Handle conn, const char* sql, std::size_t length) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 1;
  detail::NodeWatch* w = e->watch.get();
  // A node that closed the idle connection never sees the statement: the
  // client library is made to say so (2006) instead of losing it in flight.
  if (w && w->closedWhileIdle()) w->refuseNextSend();
  detail::WatchedCall call(w);
  return e->ops->realQuery(e->object, sql ? sql : "", sql ? static_cast<unsigned long>(length) : 0);
}

int selectDb(Handle conn, const char* database) {
  const detail::Entry* e = connEntry(conn);
  detail::WatchedCall call(e ? e->watch.get() : nullptr);
  return e ? e->ops->selectDb(e->object, database) : 1;
}

int ping(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  detail::WatchedCall call(e ? e->watch.get() : nullptr);
  return e ? e->ops->ping(e->object) : 1;
}

int commit(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  detail::WatchedCall call(e ? e->watch.get() : nullptr);
  return e ? e->ops->commit(e->object) : 1;
}

int rollback(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  detail::WatchedCall call(e ? e->watch.get() : nullptr);
  return e ? e->ops->rollback(e->object) : 1;
}

long long affectedRows(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? static_cast<long long>(e->ops->affectedRows(e->object)) : -1;
}

std::uint64_t insertId(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->insertId(e->object) : 0;
}

CharsetInfo charsetInfo(Handle conn) {
  CharsetInfo info;
  const detail::Entry* e = connEntry(conn);
  if (!e) return info;
  const char* name = nullptr;
  const unsigned n = e->ops->charsetInfo(e->object, &name);
  info.maxBytes = n ? n : 1;
  info.utf8 = name != nullptr && std::string_view(name).substr(0, 4) == "utf8";
  if (name) info.name = name;
  info.backslashEscapes = e->ops->noBackslashEscapes(e->object) == 0;
  info.serverVersion = e->ops->serverVersion(e->object);
  return info;
}

unsigned errnum(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->errnum(e->object) : lastFailure().number;
}

std::string error(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return lastFailure().message;
  const char* text = e->ops->error(e->object);
  std::string message = text ? text : "";
  if (e->watch && e->ops->errnum(e->object) != 0) {
    const std::string why = e->watch->cutReason();
    if (!why.empty()) message += " (" + why + ")";
  }
  return message;
}

std::string sqlstate(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return "HY000";
  const char* state = e->ops->sqlstate(e->object);
  return state && *state ? state : "00000";
}

namespace {
// A result of conn taken by one of the backend's two ways, as a handle (0 for none).
Handle takeResult(Handle conn, void* (*VeltroBackendOps::*take)(void*)) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 0;
  void* res;
  {
    detail::WatchedCall call(e->watch.get());
    res = (e->ops->*take)(e->object);
  }
  if (!res) return 0;
  // A streamed result's rows still come from the node.
  Handle h = detail::results().add(e->ops, res, take == &VeltroBackendOps::useResult ? e->watch : nullptr);
  if (!h) e->ops->freeResult(res);
  return h;
}
}  // namespace

Handle storeResult(Handle conn) { return takeResult(conn, &VeltroBackendOps::storeResult); }

Handle useResult(Handle conn) { return takeResult(conn, &VeltroBackendOps::useResult); }

unsigned fieldCount(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->fieldCount(e->object) : 0;
}

unsigned discardResults(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 0;
  const VeltroBackendOps* ops = e->ops;
  void* m = e->object;
  if (!ops->resultWaiting(m) && !ops->moreResults(m)) return 0;
  detail::WatchedCall call(e->watch.get());
  // Read row by row and dropped: an unread result may be large. Freeing a
  // result in use reads the rest of its rows.
  if (ops->resultWaiting(m))
    if (void* res = ops->useResult(m)) ops->freeResult(res);
  while (ops->moreResults(m)) {
    const int next = ops->nextResult(m);
    if (next > 0) return ops->errnum(m);
    if (next < 0) break;
    if (void* res = ops->useResult(m)) ops->freeResult(res);
  }
  return 0;
}

bool isResult(Handle res) { return resEntry(res) != nullptr; }

std::uint64_t numRows(Handle res) {
  const detail::Entry* e = resEntry(res);
  return e ? e->ops->numRows(e->object) : 0;
}

unsigned numFields(Handle res) {
  const detail::Entry* e = resEntry(res);
  return e ? e->ops->numFields(e->object) : 0;
}

void dataSeek(Handle res, std::uint64_t row) {
  if (const detail::Entry* e = resEntry(res)) e->ops->dataSeek(e->object, row);
}

bool fetchRow(Handle res, RowView& row) {
  row = RowView{};
  const detail::Entry* e = resEntry(res);
  if (!e) return false;
  unsigned long* lengths = nullptr;
  detail::WatchedCall call(e->watch.get());
  char** values = e->ops->fetchRow(e->object, &lengths);
  if (!values) return false;
  row.values = values;
  row.lengths = lengths;
  row.count = e->ops->numFields(e->object);
  return true;
}

void freeResult(Handle res) { detail::results().release(res); }

std::vector<FieldInfo> fields(Handle res) {
  std::vector<FieldInfo> out;
  const detail::Entry* e = resEntry(res);
  if (!e) return out;
  out.reserve(e->ops->numFields(e->object));
  VeltroField f{};
  while (e->ops->fetchField(e->object, &f)) out.push_back(detail::fieldInfoOf(f));
  return out;
}

std::vector<unsigned> fieldCharsets(Handle res) {
  std::vector<unsigned> out;
  const detail::Entry* e = resEntry(res);
  if (!e) return out;
  const unsigned n = e->ops->numFields(e->object);
  out.reserve(n);
  for (unsigned i = 0; i < n; ++i) out.push_back(e->ops->fieldCharset(e->object, i));
  return out;
}

Handle listFields(Handle conn, const char* table, const char* wild) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 0;
  // The client library copies both into a buffer of 128 bytes but sends the
  // length they would have taken: longer names would send what lies beyond.
  if (std::strlen(table ? table : "") + 1 + std::strlen(wild ? wild : "") >= 128) return 0;
  void* res;
  {
    detail::WatchedCall call(e->watch.get());
    res = e->ops->listFields(e->object, table, wild);
  }
  if (!res) return 0;
  Handle h = detail::results().add(e->ops, res);
  if (!h) e->ops->freeResult(res);
  return h;
}

namespace {

// The first column of every row of a catalogue list, the list freed once.
std::vector<std::string> firstColumn(const VeltroBackendOps* ops, void* res) {
  std::vector<std::string> names;
  if (!res) return names;
  names.reserve(ops->numRows(res));
  unsigned long* lengths = nullptr;
  while (char** row = ops->fetchRow(res, &lengths)) names.emplace_back(row[0] ? row[0] : "", row[0] ? lengths[0] : 0);
  ops->freeResult(res);
  return names;
}

}  // namespace

namespace {
// The client library's listing calls paste their pattern between quotes
// unescaped; this sends the same statement with the pattern escaped for the
// connection, so a quote in it is part of the pattern ("%" and "_" stay wildcards).
std::vector<std::string> listLike(Handle conn, const char* what, const char* wild) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return {};
  std::string sql = what;
  sql += " LIKE '";
  escapeAppend(sql, wild ? std::string_view(wild) : std::string_view("%"), conn);
  sql += '\'';
  detail::WatchedCall call(e->watch.get());
  if (e->ops->realQuery(e->object, sql.data(), static_cast<unsigned long>(sql.size())) != 0) return {};
  return firstColumn(e->ops, e->ops->storeResult(e->object));
}
}  // namespace

std::vector<std::string> listDbs(Handle conn, const char* wild) { return listLike(conn, "SHOW DATABASES", wild); }

std::vector<std::string> listTables(Handle conn, const char* wild) { return listLike(conn, "SHOW TABLES", wild); }

}  // namespace veltro::db
