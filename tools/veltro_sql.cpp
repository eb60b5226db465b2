// Runs SQL statements through the library on the server that a settings file
// names (server or embedded) and prints the first field of each row.
//
//   veltro_sql [--ini FILE] STATEMENT...
#include <cstdio>
#include <string>

#include "connect.h"
#include "settings.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;

int main(int argc, char** argv) {
  std::string ini = kSettingsFile;
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--ini") {
    ini = argv[2];
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: %s [--ini FILE] STATEMENT...\n", argv[0]);
    return 2;
  }
  ServerPtr server = openServer(INIREAD(ini));
  for (int i = first; i < argc; ++i) {
    QueryPtr q = server->Query(argv[i]);
    for (; q && q->LastRec() > 0 && !q->Eof(); q->Skip()) std::printf("%s\n", q->FieldGet(1).toString().c_str());
    if (q) q->End();
  }
  server->End();
  return 0;
}
