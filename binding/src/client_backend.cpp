// The client-server backend: Connector/C, linked into the binding.
#include <mysql.h>

#include "backend.h"
#include "client_backend.h"

#define VELTRO_BACKEND_NS veltro_client_ops
#include "backend_ops.inc"

namespace veltro::db::detail {

const VeltroBackendOps* clientBackend() {
  // The library sets up its character sets on its first mysql_init; escaping
  // without a connection can come first and needs them too.
  static const VeltroBackendOps ops = [] {
    mysql_library_init(0, nullptr, nullptr);
    return veltro_client_ops::commonOps();
  }();
  return &ops;
}

}  // namespace veltro::db::detail
