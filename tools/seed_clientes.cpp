// Creates the demo table clientes in the database that a settings file names
// and fills it with demo rows, through the library (server or embedded alike).
//
//   seed_clientes [--ini FILE] [--rows N] [--reset]
//
// --reset drops the table first; without it, rows are added only up to N.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "connect.h"
#include "seed.h"
#include "settings.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;

int main(int argc, char** argv) {
  std::string ini = kSettingsFile;
  long rows = 1000;
  bool reset = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ini" && i + 1 < argc) {
      ini = argv[++i];
    } else if (a == "--rows" && i + 1 < argc) {
      rows = std::strtol(argv[++i], nullptr, 10);
    } else if (a == "--reset") {
      reset = true;
    } else {
      std::fprintf(stderr, "usage: %s [--ini FILE] [--rows N] [--reset]\n", argv[0]);
      return 2;
    }
  }
  if (rows < 0) rows = 0;

  TablePtr settings = INIREAD(ini);
  ServerPtr server = openServer(settings, true);  // errors end the program with a report
  seedClientes(*server, rows, reset);
  std::printf("clientes holds %lld rows\n", static_cast<long long>(server->GetRowsFromTable("clientes").asInt()));
  server->End();
  return 0;
}
