// The embedded server: its module found and loaded once, the server started
// once per process and stopped at exit, and connections to it.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "backend.h"
#include "client_backend.h"
#include "db_detail.h"
#include "handles.h"
#include "veltro/binding.h"

namespace veltro::db {

using detail::adopt;
using detail::kOutOfMemoryError;
using detail::kUnknownError;
using detail::setLastFailure;

namespace {

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
      "--lc-messages-dir=" VELTRO_MARIADB_MESSAGES_DIR,
      "--character-set-server=utf8mb4",
      "--collation-server=utf8mb4_general_ci",
      "--innodb-use-native-aio=0",
      "--innodb-buffer-pool-size=32M",
      "--innodb-log-file-size=16M",
  };
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

}  // namespace veltro::db
