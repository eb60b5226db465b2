// The report the default handling writes on Quit, apart from the handling
// itself so that its tests can build one. Internal: the package does not install it.
#pragma once

#include <string>
#include <vector>

#include "veltro/error.h"

namespace veltro {

// A line break and the message, then one "Called from NAME(LINE)  " line per caller.
std::string quitReport(const Error& error, const std::vector<std::string>& callers);

}  // namespace veltro
