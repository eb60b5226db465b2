// Creates the demo table clientes in the database that a settings file names
// and fills it with demo rows, through the library (server or embedded alike).
//
//   seed_clientes [--ini FILE] [--rows N] [--reset]
//
// --reset drops the table first; without it, rows are added only up to N.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "connect.h"
#include "settings.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;

namespace {

const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS clientes ("
    "id INT NOT NULL AUTO_INCREMENT,"
    "name VARCHAR(40) NOT NULL DEFAULT '',"
    "city VARCHAR(30) NOT NULL DEFAULT '',"
    "married TINYINT(1) NOT NULL DEFAULT 0,"
    "age INT NOT NULL DEFAULT 0,"
    "salary DECIMAL(12,2) NOT NULL DEFAULT 0,"
    "birth DATE NULL,"
    "notes VARCHAR(120) NOT NULL DEFAULT '',"
    "PRIMARY KEY (id),"
    "KEY idx_notes (notes)"  // the four methods find their row by notes
    ") ENGINE=InnoDB";

const char* const kNames[] = {"Ana", "Luis", "Marta", "Jorge", "Elena", "Pablo", "Lucia", "Diego", "Sara", "Tomas"};
const char* const kCities[] = {"Madrid", "Lima", "Quito", "Bogota", "Sevilla", "Rosario", "Cusco", "Valencia"};

// One row of demo data; notes are distinct ("Client 000042 notes").
void appendRow(std::string& sql, long n) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "('%s %ld','%s',%ld,%ld,%ld.%02ld,'%04ld-%02ld-%02ld','Client %06ld notes')",
                kNames[n % 10], n, kCities[n % 8], n % 2, 20 + n % 50, 1000 + (n * 37) % 9000, n % 100,
                1950 + n % 50, 1 + n % 12, 1 + n % 28, n);
  sql += buf;
}

}  // namespace

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
  if (reset) server->SqlQuery("DROP TABLE IF EXISTS clientes");
  server->SqlQuery(kCreate);
  long have = server->GetRowsFromTable("clientes").asInt();

  const long kBatch = 1000;
  server->BeginTransaction();
  for (long n = have + 1; n <= rows;) {
    std::string sql = "INSERT INTO clientes (name,city,married,age,salary,birth,notes) VALUES ";
    long last = std::min(rows, n + kBatch - 1);
    for (long k = n; k <= last; ++k) {
      if (k > n) sql += ',';
      appendRow(sql, k);
    }
    server->SqlQuery(sql);
    n = last + 1;
    if (rows >= 20000) std::fprintf(stderr, "\rseeding clientes: %ld/%ld", last, rows);
  }
  server->CommitTransaction();
  if (rows >= 20000) std::fprintf(stderr, "\n");
  std::printf("clientes holds %lld rows\n", static_cast<long long>(server->GetRowsFromTable("clientes").asInt()));
  server->End();
  return 0;
}
