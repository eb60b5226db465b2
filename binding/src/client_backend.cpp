// The client-server backend: Connector/C, linked into the binding.
#include <mysql.h>

#include <cstring>

#include "backend.h"
#include "client_backend.h"

#define VELTRO_BACKEND_NS veltro_client_ops
#include "backend_ops.inc"

namespace veltro_client_ops {
namespace {

// Whether the client library escapes the connection's character set byte by
// byte: single-byte sets, and UTF-8, whose multi-byte characters hold no ASCII
// byte. (It escapes a stray lead byte of the EUC family, so those take its path.)
bool plainCharset(const MARIADB_CHARSET_INFO* cs) {
  if (!cs) return false;
  if (cs->char_maxlen <= 1) return true;
  static const char* const kSafe[] = {"utf8", "utf8mb3", "utf8mb4"};
  for (const char* name : kSafe)
    if (cs->csname && std::strcmp(cs->csname, name) == 0) return true;
  return false;
}

int opPlainEscaping(void* conn) {
  const MYSQL* m = asConn(conn);
  if (m->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) return 0;
  // The character set objects are the library's static tables: one answer each.
  thread_local const MARIADB_CHARSET_INFO* known = nullptr;
  thread_local int answer = 0;
  if (m->charset != known) {
    answer = plainCharset(m->charset) ? 1 : 0;
    known = m->charset;
  }
  return answer;
}

}  // namespace
}  // namespace veltro_client_ops

namespace veltro::db::detail {

const VeltroBackendOps* clientBackend() {
  // The library's global state is set up once, before any connection, rather
  // than by whichever first mysql_init happens to come first.
  static const VeltroBackendOps ops = [] {
    mysql_library_init(0, nullptr, nullptr);
    VeltroBackendOps o = veltro_client_ops::commonOps();
    o.plainEscaping = veltro_client_ops::opPlainEscaping;
    return o;
  }();
  return &ops;
}

}  // namespace veltro::db::detail
