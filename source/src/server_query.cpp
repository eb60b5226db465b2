// Server object: a query object on this connection.
#include "veltro/query.h"
#include "veltro/server.h"

namespace veltro {

QueryPtr TQuillonSrv::Query(const Value& cQuery) { return TQuillonQry::New(cQuery, self()); }

}  // namespace veltro
