// The demo table clientes: created when missing (id primary key, an index on
// notes, which the four methods find their row by) and filled with demo rows
// whose notes are distinct ("Client 000042 notes").
#pragma once

#include "veltro/server.h"

namespace veltro {

// Creates clientes in the server's current database and adds rows up to rows;
// reset drops the table first. Errors go the server's usual way.
void seedClientes(TQuillonSrv& server, long rows, bool reset);

}  // namespace veltro
