// The raw client loops the benchmarks compare against.
#include "raw_client.h"

#include <dlfcn.h>
#include <link.h>
#include <mysql.h>

#include <cstring>

namespace bench {

namespace {

MYSQL* conn(void* m) { return static_cast<MYSQL*>(m); }
MYSQL_RES* res(void* r) { return static_cast<MYSQL_RES*>(r); }

RawApi makeClientApi() {
  RawApi a;
  a.init = [](void* m) -> void* { return mysql_init(conn(m)); };
  a.realConnect = [](void* m, const char* host, const char* user, const char* password, const char* db,
                     unsigned port, const char* socket, unsigned long flags) -> void* {
    return mysql_real_connect(conn(m), host, user, password, db, port, socket, flags);
  };
  a.realQuery = [](void* m, const char* sql, unsigned long len) { return mysql_real_query(conn(m), sql, len); };
  a.storeResult = [](void* m) -> void* { return mysql_store_result(conn(m)); };
  a.fetchRow = [](void* r) -> char** { return mysql_fetch_row(res(r)); };
  a.fetchLengths = [](void* r) { return mysql_fetch_lengths(res(r)); };
  a.numFields = [](void* r) { return mysql_num_fields(res(r)); };
  a.numRows = [](void* r) -> std::uint64_t { return mysql_num_rows(res(r)); };
  a.dataSeek = [](void* r, std::uint64_t row) { mysql_data_seek(res(r), row); };
  a.freeResult = [](void* r) { mysql_free_result(res(r)); };
  a.realEscape = [](void* m, char* to, const char* from, unsigned long len) {
    return mysql_real_escape_string(conn(m), to, from, len);
  };
  a.close = [](void* m) { mysql_close(conn(m)); };
  a.error = [](void* m) { return mysql_error(conn(m)); };
  a.errnum = [](void* m) { return mysql_errno(conn(m)); };
  return a;
}

int findMariadbd(dl_phdr_info* info, std::size_t, void* out) {
  if (info->dlpi_name && std::strstr(info->dlpi_name, "libmariadbd")) {
    *static_cast<std::string*>(out) = info->dlpi_name;
    return 1;
  }
  return 0;
}

template <typename F>
bool bind(void* lib, F& fn, const char* name, std::string& why) {
  void* sym = dlsym(lib, name);
  if (!sym) {
    why = std::string("libmariadbd lacks ") + name;
    return false;
  }
  fn = reinterpret_cast<F>(sym);
  return true;
}

}  // namespace

const RawApi& clientApi() {
  static const RawApi api = makeClientApi();
  return api;
}

bool embeddedApi(RawApi& api, std::string& why) {
  std::string path;
  dl_iterate_phdr(findMariadbd, &path);
  if (path.empty()) {
    why = "libmariadbd is not loaded (is the embedded server linked statically?)";
    return false;
  }
  // RTLD_NOLOAD: the same instance that runs the server, never a second copy.
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!lib) {
    why = dlerror();
    return false;
  }
  return bind(lib, api.init, "mysql_init", why) && bind(lib, api.realConnect, "mysql_real_connect", why) &&
         bind(lib, api.realQuery, "mysql_real_query", why) && bind(lib, api.storeResult, "mysql_store_result", why) &&
         bind(lib, api.fetchRow, "mysql_fetch_row", why) && bind(lib, api.fetchLengths, "mysql_fetch_lengths", why) &&
         bind(lib, api.numFields, "mysql_num_fields", why) && bind(lib, api.numRows, "mysql_num_rows", why) &&
         bind(lib, api.dataSeek, "mysql_data_seek", why) && bind(lib, api.freeResult, "mysql_free_result", why) &&
         bind(lib, api.realEscape, "mysql_real_escape_string", why) && bind(lib, api.close, "mysql_close", why) &&
         bind(lib, api.error, "mysql_error", why) && bind(lib, api.errnum, "mysql_errno", why);
}

}  // namespace bench
