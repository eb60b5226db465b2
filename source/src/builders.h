// The statement builders' shared part, for the server's own statements.
#pragma once

#include <string>
#include <string_view>

#include "veltro/value.h"

namespace veltro {

// BUILDINSERT's statement on a table name already normalised, with the values
// written by appendLiteral for the connection conn (0: escaped without one,
// as BUILDINSERT does).
std::string insertStatement(std::string_view table, const Value& columns, const Value& values, long long conn);

}  // namespace veltro
