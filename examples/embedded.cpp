// Runs a MariaDB server inside the process on a data directory of its own (an
// empty directory is enough) and uses it like any other server.
//
//   embedded DATADIR      exits 1 on failure
#include <cstdio>
#include <string>

#include <veltro/client.h>
#include <veltro/query.h>
#include <veltro/server.h>

using namespace veltro;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATADIR\n", argv[0]);
    return 2;
  }
  int errors = 0;
  Value onError = Callable([&](Args a) -> Value {
    ++errors;
    std::fprintf(stderr, "error %lld %s\n", static_cast<long long>(a[1].asInt()), a[3].asString().c_str());
    return {};
  });

  // The server's start options: the usual ones for a private data directory.
  Value options = Value::array();
  for (const std::string& option : db::embeddedOptions(argv[1])) options.items().emplace_back(option);

  ServerPtr srv = TQuillonSrv::create();
  srv->Embedded(Value(), options, Value::array(), onError);
  if (errors) return 1;

  srv->SqlQuery("CREATE DATABASE IF NOT EXISTS example");
  srv->SelectDB("example");
  srv->SqlQuery("CREATE OR REPLACE TABLE notes (id INT AUTO_INCREMENT PRIMARY KEY, body TEXT)");
  srv->Insert("notes", Value::array({"body"}), Value::array({"kept in the process"}));

  QueryPtr q = srv->Query("SELECT body FROM notes");
  std::printf("%ld row(s): %s\n", q->LastRec(), q->FieldGet("body").asString().c_str());
  bool found = q->LastRec() == 1;
  q->End();
  srv->End();
  return found && errors == 0 ? 0 : 1;
}
