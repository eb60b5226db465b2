// The two backends as the binding reaches them.
#pragma once

#include <string>

#include "backend.h"

namespace veltro::db::detail {

// Connector/C; always present.
const VeltroBackendOps* clientBackend();

// The embedded module, loaded on the first call; null (with the reason in
// error) when it cannot be loaded. Later calls give the same answer.
const VeltroBackendOps* embeddedBackend(std::string& error);

}  // namespace veltro::db::detail
