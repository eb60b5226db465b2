// The demo table clientes: created and filled with demo rows.
#include "seed.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace veltro {

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

void seedClientes(TQuillonSrv& server, long rows, bool reset) {
  if (reset) server.SqlQuery("DROP TABLE IF EXISTS clientes");
  server.SqlQuery(kCreate);
  long have = server.GetRowsFromTable("clientes").asInt();

  const long kBatch = 1000;
  server.BeginTransaction();
  for (long n = have + 1; n <= rows;) {
    std::string sql = "INSERT INTO clientes (name,city,married,age,salary,birth,notes) VALUES ";
    long last = std::min(rows, n + kBatch - 1);
    for (long k = n; k <= last; ++k) {
      if (k > n) sql += ',';
      appendRow(sql, k);
    }
    server.SqlQuery(sql);
    n = last + 1;
    if (rows >= 20000) std::fprintf(stderr, "\rseeding clientes: %ld/%ld", last, rows);
  }
  server.CommitTransaction();
  if (rows >= 20000) std::fprintf(stderr, "\n");
}

}  // namespace veltro
