// The typed face of the binding: handles in, plain C++ values out.
#include <dlfcn.h>
#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "backend.h"
#include "client_backend.h"
#include "handles.h"
#include "veltro/append.h"
#include "veltro/binding.h"

namespace veltro::db {

namespace {

// Client error numbers the binding reports for failures that no connection carries.
constexpr unsigned kUnknownError = 2000;    // CR_UNKNOWN_ERROR
constexpr unsigned kOutOfMemoryError = 2008;  // CR_OUT_OF_MEMORY

// The last failure that no connection can report: a failed embedded start, or
// a connection object that could not be made. Each new open attempt resets it.
// One per thread: it answers the thread whose open attempt failed.
struct LastFailure {
  unsigned number = 0;
  std::string message;
};

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

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The module's mysql_* calls must reach the embedded server, not the Connector/C
// functions of the same names that the process already holds. Normally the
// module links libmariadbd and DEEPBIND puts it first; the sanitizer runtime
// refuses DEEPBIND, so sanitizer builds link the server into the module
// statically with its symbols hidden instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kModuleBinding = 0;
#else
constexpr int kModuleBinding = RTLD_DEEPBIND;
#endif

// The embedded server lives once per process: libmariadbd cannot be started
// again after it stopped or after a failed start, so neither is attempted.
// Its fields are read and written under embeddedStartMutex().
struct EmbeddedServer {
  bool started = false;
  bool failed = false;
  std::string failure;
  // mysql_server_init keeps pointers into its argument lists; they live as long as the process.
  std::vector<std::string> args;
  std::vector<std::string> groupNames;
  std::vector<char*> argv;
  std::vector<char*> groupv;
};

EmbeddedServer& embeddedServer() {
  static EmbeddedServer* server = new EmbeddedServer;
  return *server;
}

// Held while a thread checks and starts the embedded server, so that two
// threads calling embedded() at once start it once; later calls take it only
// to read that it runs.
std::mutex& embeddedStartMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

Handle adopt(const VeltroBackendOps* ops, void* conn) {
  Handle h = detail::connections().add(ops, conn);
  if (!h) {
    ops->close(conn);
    setLastFailure(kOutOfMemoryError, "Too many open connections");
  }
  return h;
}

// libmariadbd clears the error of a refused embedded connect before it returns
// (it only prints it), so the reason is found again on a probe connection
// without a database, asking for the database the caller wanted.
void explainEmbeddedRefusal(const VeltroBackendOps* ops, const char* database, unsigned& number,
                            std::string& message) {
  number = kUnknownError;
  message = "The embedded server refused the connection";
  if (!database) return;
  void* probe = ops->init();
  if (!probe) return;
  ops->useEmbeddedConnection(probe);
  if (ops->realConnect(probe, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0)) {
    // A statement, because a refused USE is reported the same silent way.
    std::string sql = "SHOW TABLES FROM `";
    for (const char* p = database; *p; ++p) sql += *p == '`' ? std::string("``") : std::string(1, *p);
    sql += '`';
    if (ops->realQuery(probe, sql.data(), sql.size()) != 0 && ops->errnum(probe) != 0) {
      number = ops->errnum(probe);
      message = ops->error(probe);
    } else if (void* res = ops->storeResult(probe)) {
      ops->freeResult(res);
    }
  }
  ops->close(probe);
}

// Stops the embedded server before the process's static objects go: its
// background threads still run and would crash on the destroyed runtime.
// Whatever the caller left open on it is released first.
void stopEmbeddedAtExit() {
  std::string ignored;
  const VeltroBackendOps* ops = detail::embeddedBackend(ignored);
  if (!ops) return;
  detail::results().releaseAll(ops);
  detail::connections().releaseAll(ops);
  ops->serverEnd();
}

// Starts the embedded server with the first caller's options; false, with the
// reason as the last failure, when it failed to start (then or before).
bool startEmbeddedOnce(const VeltroBackendOps* ops, const std::vector<std::string>& options,
                       const std::vector<std::string>& groups) {
  std::lock_guard<std::mutex> startOnce(embeddedStartMutex());
  EmbeddedServer& server = embeddedServer();
  if (server.failed) {
    setLastFailure(kUnknownError, server.failure);
    return false;
  }
  if (server.started) return true;
  server.args = options;
  server.groupNames = groups;
  for (std::string& a : server.args) server.argv.push_back(a.data());
  for (std::string& g : server.groupNames) server.groupv.push_back(g.data());
  server.argv.push_back(nullptr);
  server.groupv.push_back(nullptr);
  int argc = static_cast<int>(server.args.size());
  if (ops->serverInit(argc, argc ? server.argv.data() : nullptr, server.groupv.data()) != 0) {
    server.failed = true;
    server.failure = "The embedded server could not start";
    setLastFailure(kUnknownError, server.failure);
    return false;
  }
  server.started = true;
  std::atexit(stopEmbeddedAtExit);
  return true;
}

}  // namespace

namespace detail {

const VeltroBackendOps* embeddedBackend(std::string& error) {
  // Loaded once per process: the first caller loads, concurrent callers wait
  // for it (a function-local static), later ones read the outcome.
  struct Loaded {
    const VeltroBackendOps* ops = nullptr;
    std::string error;
  };
  static const Loaded* loaded = [] {
    auto* l = new Loaded;
    std::string path = embeddedModulePath();
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | kModuleBinding);
    if (!module) {
      const char* why = ::dlerror();
      l->error = "The embedded server module could not be loaded: " + std::string(why ? why : path);
    } else if (auto fn = reinterpret_cast<VeltroBackendOpsFn>(::dlsym(module, VELTRO_EMBEDDED_OPS_SYMBOL))) {
      l->ops = fn();
    } else {
      l->error = "The embedded server module " + path + " is not a Veltro module";
    }
    return l;
  }();
  error = loaded->error;
  return loaded->ops;
}

}  // namespace detail

LiveHandles liveHandles() { return {detail::connections().liveCount(), detail::results().liveCount()}; }

// The module as installed beside the binary that holds this code: an installed
// libveltro.so finds lib/veltro/ next to itself wherever the prefix was moved.
// "" when that binary has no module beside it (a program linked statically).
namespace {
std::string moduleBesideThisBinary() {
  static const char anchor = 0;
  Dl_info info{};
  if (::dladdr(&anchor, &info) == 0 || !info.dli_fname) return "";
  std::error_code failed;
  std::filesystem::path binary = std::filesystem::canonical(info.dli_fname, failed);
  if (failed) return "";
  std::string path = (binary.parent_path() / "veltro" / "libveltro_embedded.so").string();
  return fileExists(path) ? path : "";
}
}  // namespace

std::string embeddedModulePath() {
  if (const char* env = std::getenv("VELTRO_EMBEDDED_MODULE"); env && *env) return env;
  if (std::string beside = moduleBesideThisBinary(); !beside.empty()) return beside;
#ifdef VELTRO_EMBEDDED_BUILD_PATH
  if (fileExists(VELTRO_EMBEDDED_BUILD_PATH)) return VELTRO_EMBEDDED_BUILD_PATH;
#endif
#ifdef VELTRO_EMBEDDED_INSTALL_PATH
  return VELTRO_EMBEDDED_INSTALL_PATH;
#else
  return "libveltro_embedded.so";
#endif
}

std::vector<std::string> embeddedOptions(const std::string& datadir) {
  // The server resolves a relative datadir against its base directory, not ours.
  std::error_code failed;
  std::filesystem::path dir = std::filesystem::absolute(datadir, failed);
  if (failed) dir = datadir;
  return {
      "veltro",
      "--no-defaults",
      "--datadir=" + dir.string(),
      "--skip-grant-tables",
      "--lc-messages-dir=/usr/share/mysql",
      "--character-set-server=utf8mb4",
      "--collation-server=utf8mb4_general_ci",
      "--innodb-use-native-aio=0",
      "--innodb-buffer-pool-size=32M",
      "--innodb-log-file-size=16M",
  };
}

char typeLetter(int type) {
  switch (type) {
    case 0: case 2: case 3: case 4: case 5: case 8: case 9: case 13: case 246:
      return 'N';
    case 1:
      return 'L';
    case 16:  // BIT: its bytes read as an unsigned number
      return 'N';
    case 7:
      return 'T';
    case 10:
      return 'D';
    case 11: case 12: case 253: case 254:
      return 'C';
    case 250: case 251: case 252:
      return 'M';
    default:
      return 'U';
  }
}

Handle connect(const char* host, const char* user, const char* password, unsigned port,
               unsigned long flags, const char* database, const ConnectOptions& options) {
  // Multi-statement mode is never on, and TLS is the tls setting's alone
  // (CLIENT_SSL among the flags would ask for it behind that setting).
  constexpr unsigned long kClientSsl = 2048;
  constexpr unsigned long kClientMultiStatements = 65536;
  constexpr unsigned kSslConnectionError = 2026;  // CR_SSL_CONNECTION_ERROR
  flags &= ~(kClientSsl | kClientMultiStatements);
  setLastFailure(0, {});
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
  // The client library goes on unencrypted when the server offers no TLS and
  // the certificate is not to be verified; a required TLS is made sure of here,
  // before any statement is sent.
  const bool tlsRequired = options.tls == TlsMode::Required || options.tls == TlsMode::VerifyIdentity;
  if (connected && tlsRequired && !ops->sslCipher(conn)) {
    ops->close(conn);
    setLastFailure(kSslConnectionError, "TLS is required, but the server does not offer it");
    return 0;
  }
  return adopt(ops, conn);
}

Handle embedded(const char* database, const std::vector<std::string>& options,
                const std::vector<std::string>& groups) {
  setLastFailure(0, {});
  std::string loadError;
  const VeltroBackendOps* ops = detail::embeddedBackend(loadError);
  if (!ops) {
    setLastFailure(kUnknownError, loadError);
    return 0;
  }
  if (!startEmbeddedOnce(ops, options, groups)) return 0;
  void* conn = ops->init();
  if (!conn) {
    setLastFailure(kOutOfMemoryError, "MySQL client ran out of memory");
    return 0;
  }
  ops->useEmbeddedConnection(conn);
  if (!ops->realConnect(conn, nullptr, nullptr, nullptr, database, 0, nullptr, 0)) {
    unsigned number = ops->errnum(conn);
    std::string message = ops->error(conn);
    ops->close(conn);
    if (number == 0) explainEmbeddedRefusal(ops, database, number, message);
    setLastFailure(number, std::move(message));
    return 0;
  }
  return adopt(ops, conn);
}

void close(Handle conn) { detail::connections().release(conn); }

bool isConnection(Handle conn) { return connEntry(conn) != nullptr; }

int query(Handle conn, const char* sql, std::size_t length) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 1;
  return e->ops->realQuery(e->object, sql ? sql : "", sql ? static_cast<unsigned long>(length) : 0);
}

int selectDb(Handle conn, const char* database) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->selectDb(e->object, database) : 1;
}

int ping(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->ping(e->object) : 1;
}

int commit(Handle conn) {
  const detail::Entry* e = connEntry(conn);
  return e ? e->ops->commit(e->object) : 1;
}

int rollback(Handle conn) {
  const detail::Entry* e = connEntry(conn);
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
  return text ? text : "";
}

namespace {

// The escape letter that follows a backslash for each byte, 0 for bytes kept as they are.
constexpr std::array<char, 256> kEscapeLetter = [] {
  std::array<char, 256> t{};
  t[0] = '0';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\\'] = '\\';
  t['\''] = '\'';
  t['"'] = '"';
  t['\032'] = 'Z';
  return t;
}();

#if defined(__SSE2__)
// Bit i set: byte i of the 16 at p needs escaping.
inline unsigned specialMask(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i hit = _mm_cmpeq_epi8(v, _mm_setzero_si128());
  for (char c : {'\n', '\r', '\\', '\'', '"', '\032'}) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

std::size_t plainEscape(char* to, const char* from, std::size_t n) {
  char* const start = to;
  const char* const end = from + n;
#if defined(__SSE2__)
  // Most texts hold nothing to escape: sixteen bytes are checked at once and
  // copied whole up to the first byte that needs its backslash.
  while (end - from >= 16) {
    const unsigned mask = specialMask(from);
    if (mask == 0) {
      std::memcpy(to, from, 16);
      to += 16;
      from += 16;
      continue;
    }
    const auto clean = static_cast<std::size_t>(__builtin_ctz(mask));
    std::memcpy(to, from, clean);
    to += clean;
    from += clean;
    *to++ = '\\';
    *to++ = kEscapeLetter[static_cast<unsigned char>(*from++)];
  }
#endif
  for (; from != end; ++from) {
    const char letter = kEscapeLetter[static_cast<unsigned char>(*from)];
    if (letter == 0) {
      *to++ = *from;
    } else {
      *to++ = '\\';
      *to++ = letter;
    }
  }
  return static_cast<std::size_t>(to - start);
}

}  // namespace

void escapeAppend(std::string& out, std::string_view text, Handle conn) {
  // Trailing blanks never need escaping, and padded texts are mostly blanks:
  // only the text before them is escaped. A blank is never part of a
  // multi-byte character in any character set the server speaks, so the
  // result is the same as escaping the whole text.
  const std::size_t head = trimRight(text).size();
  const std::size_t blanks = text.size() - head;
  if (head == 0) {
    out.append(blanks, ' ');
    return;
  }
  const auto n = static_cast<unsigned long>(head);
  const detail::Entry* e = conn ? connEntry(conn) : nullptr;
  // The client library escapes every character set through a general
  // multi-byte walk; where the connection's set allows, the same bytes come
  // from one table lookup a byte. Without a connection the library escapes
  // byte by byte as well.
  const bool plain = !e || (e->ops->plainEscaping && e->ops->plainEscaping(e->object));
  // Room for the worst case (and the client library's closing NUL), once.
  appendWith(out, 2 * head + 1 + blanks, [&](char* at) {
    const unsigned long m = plain ? plainEscape(at, text.data(), n) : e->ops->realEscape(e->object, at, text.data(), n);
    // (unsigned long)-1 reports a text the character set cannot escape.
    if (m > 2 * n) return at;
    std::memset(at + m, ' ', blanks);
    return at + m + blanks;
  });
}

std::string escape(std::string_view text, Handle conn) {
  std::string out;
  escapeAppend(out, text, conn);
  return out;
}

namespace {
// A result of conn taken by one of the backend's two ways, as a handle (0 for none).
Handle takeResult(Handle conn, void* (*VeltroBackendOps::*take)(void*)) {
  const detail::Entry* e = connEntry(conn);
  if (!e) return 0;
  void* res = (e->ops->*take)(e->object);
  if (!res) return 0;
  Handle h = detail::results().add(e->ops, res);
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
  VeltroField f;
  while (e->ops->fetchField(e->object, &f)) {
    FieldInfo info;
    if (f.name) info.name.assign(f.name, f.nameLength);
    if (f.table) info.table.assign(f.table, f.tableLength);
    if (f.def) info.def.assign(f.def, f.defLength);
    info.type = f.type;
    info.length = f.length;
    info.maxLength = f.maxLength;
    info.flags = f.flags;
    info.decimals = f.decimals;
    out.push_back(std::move(info));
  }
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
  void* res = e->ops->listFields(e->object, table, wild);
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
  if (e->ops->realQuery(e->object, sql.data(), static_cast<unsigned long>(sql.size())) != 0) return {};
  return firstColumn(e->ops, e->ops->storeResult(e->object));
}
}  // namespace

std::vector<std::string> listDbs(Handle conn, const char* wild) { return listLike(conn, "SHOW DATABASES", wild); }

std::vector<std::string> listTables(Handle conn, const char* wild) { return listLike(conn, "SHOW TABLES", wild); }

bool seekMatches(std::string_view value, std::string_view text, bool soft) {
  if (value.empty()) return false;
  // Both texts read as NUL-terminated beyond their ends, as the client library hands them over.
  const std::size_t n = soft ? text.size() : value.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char a = i < value.size() ? static_cast<unsigned char>(value[i]) : 0;
    unsigned char b = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    if (a != b) return false;
    if (a == 0) return true;
  }
  return true;
}

long seek(Handle res, unsigned col, std::string_view text, long first, long last, bool soft) {
  const detail::Entry* e = resEntry(res);
  if (!e) return 0;
  const VeltroBackendOps* ops = e->ops;
  if (col < 1 || col > ops->numFields(e->object)) return 0;
  const auto rows = static_cast<long long>(ops->numRows(e->object));
  const long long from = first < 1 ? 1 : first;
  const long long to = last > rows ? rows : last;
  for (long long r = from; r <= to; ++r) {
    ops->dataSeek(e->object, static_cast<std::uint64_t>(r - 1));
    unsigned long* lengths = nullptr;
    char** row = ops->fetchRow(e->object, &lengths);
    if (!row) break;
    const char* v = row[col - 1];
    if (v && seekMatches(std::string_view(v, lengths[col - 1]), text, soft)) return static_cast<long>(r);
  }
  return 0;
}

}  // namespace veltro::db
