// The embedded-server backend, built as its own module against libmariadbd.
//
// The binding loads this module with RTLD_DEEPBIND on the first embedded start,
// so the mysql_* calls below bind to the embedded server's library and not to
// Connector/C, which the program has already loaded under the same names.
#include <mysql.h>

#include "backend.h"

#define VELTRO_BACKEND_NS veltro_embedded_ops
#include "backend_ops.inc"

namespace veltro_embedded_ops {

int opServerInit(int argc, char** argv, char** groups) { return mysql_server_init(argc, argv, groups); }
void opServerEnd(void) { mysql_server_end(); }
int opUseEmbeddedConnection(void* conn) {
  return mysql_options(asConn(conn), MYSQL_OPT_USE_EMBEDDED_CONNECTION, nullptr);
}

// The embedded library has no lookup of its character sets by name: it
// changes the session's set and its own together.
int opAdoptCharset(void* conn, const char* name) {
  return name && mysql_set_character_set(asConn(conn), name) == 0 ? 1 : 0;
}

constexpr VeltroBackendOps embeddedOps() {
  VeltroBackendOps ops = commonOps();
  ops.serverInit = opServerInit;
  ops.serverEnd = opServerEnd;
  ops.useEmbeddedConnection = opUseEmbeddedConnection;
  ops.adoptCharset = opAdoptCharset;
  return ops;
}

}  // namespace veltro_embedded_ops

extern "C" __attribute__((visibility("default"))) const VeltroBackendOps* veltro_embedded_backend_ops(void) {
  static const VeltroBackendOps ops = veltro_embedded_ops::embeddedOps();
  return &ops;
}
