// The client-server backend: Connector/C, linked into the binding.
#include <mysql.h>

#include "backend.h"
#include "client_backend.h"

#define VELTRO_BACKEND_NS veltro_client_ops
#include "backend_ops.inc"

namespace veltro::db::detail {

const VeltroBackendOps* clientBackend() {
  static const VeltroBackendOps ops = veltro_client_ops::commonOps();
  return &ops;
}

}  // namespace veltro::db::detail
