// The statement builders' shared part, for the server's own statements.
#pragma once

#include <string>
#include <string_view>

#include "sql_lexer.h"
#include "veltro/value.h"

namespace veltro {

// BUILDQUERY's statement, its lists lower-cased and read as the session d
// reads them; a piece that ends in a line comment is ended by a line break.
std::string buildQuery(const Value& columns, const Value& tables, const Value& where, const Value& group,
                       const Value& having, const Value& order, const Value& limit, const Value& withRollup,
                       const sql::Dialect& d);

// BUILDINSERT's statement on a table name already normalised, with the values
// written by appendLiteral for the connection conn (0: escaped without one,
// as BUILDINSERT does).
std::string insertStatement(std::string_view table, const Value& columns, const Value& values, long long conn);

}  // namespace veltro
