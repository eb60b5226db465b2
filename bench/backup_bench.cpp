// Backup and Restore against mariadb-dump and the mariadb client, in one run.
//
//   backup_bench [rows] [--nokey]   (default 100000 rows with a primary key;
//                                    server from the VELTRO_TEST_* variables)
//
// The library's Backup beside mariadb-dump --single-transaction --quick, and
// its Restore of its own dump beside the mariadb client loading mariadb-dump's.
// Prints the times, the ratios and the peak memory of the process after the
// backup (the backup runs first, so the peak is its own). Exits non-zero when
// the dump or the restore lost rows.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_util.h"
#include "veltro/binding.h"
#include "veltro/server.h"

using namespace veltro;
using bench::env;
using bench::peakKb;

namespace {

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

long long count(TQuillonSrv& s) {
  s.SqlQuery("SELECT COUNT(*) FROM bench_rows");
  db::Handle res = db::storeResult(s.handle());
  db::RowView row;
  long long n = db::fetchRow(res, row) ? std::stoll(std::string(row.at(0))) : -1;
  db::freeResult(res);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
  const bool key = !(argc > 2 && std::string(argv[2]) == "--nokey");
  const std::string host = env("VELTRO_TEST_HOST"), user = env("VELTRO_TEST_USER"),
                    password = env("VELTRO_TEST_PASSWORD"), port = env("VELTRO_TEST_PORT"),
                    tmp = env("VELTRO_TEST_TMP").empty() ? "/tmp" : env("VELTRO_TEST_TMP");
  if (host.empty()) {
    std::fprintf(stderr, "VELTRO_TEST_* not set: start a server with scripts/testserver.sh\n");
    return 2;
  }
  ServerPtr s = TQuillonSrv::create();
  s->New(host, user, password, std::atoi(port.c_str()), 0, "");
  s->SqlQuery("CREATE DATABASE IF NOT EXISTS veltro_bench");
  s->SelectDB("veltro_bench");
  s->SqlQuery("DROP TABLE IF EXISTS bench_rows");
  s->SqlQuery(
      "CREATE TABLE bench_rows (id int NOT NULL, flag tinyint, qty int, price decimal(10,2), name char(30), "
      "born date" + std::string(key ? ", PRIMARY KEY (id))" : ")"));
  s->SqlQuery("INSERT INTO bench_rows SELECT seq, IF(seq % 7 = 0, NULL, seq % 5), seq * 3, seq / 100, "
              "IF(seq % 11 = 0, NULL, CONCAT('name ', seq)), '2000-01-01' + INTERVAL (seq % 9000) DAY FROM seq_1_to_" +
              std::to_string(rows));

  const std::string ours = tmp + "/bench_ours.sql", theirs = tmp + "/bench_theirs.sql";
  const std::string login = " -h" + host + " -P" + port + " -u" + user + " -p'" + password + "' ";
  std::remove(ours.c_str());

  auto t = std::chrono::steady_clock::now();
  s->Backup(Value::array({"bench_rows"}), ours, true, true);
  const double backup = seconds(t);
  const long peak = peakKb();

  t = std::chrono::steady_clock::now();
  int rc = std::system(("mariadb-dump --single-transaction --quick" + login + "veltro_bench bench_rows > " + theirs).c_str());
  const double dump = seconds(t);

  t = std::chrono::steady_clock::now();
  s->Restore(ours);
  const double restore = seconds(t);
  const long long restored = count(*s);

  t = std::chrono::steady_clock::now();
  rc |= std::system(("mariadb" + login + "veltro_bench < " + theirs).c_str());
  const double client = seconds(t);

  std::printf("rows %ld %s\n", rows, key ? "key" : "nokey");
  std::printf("Backup       %.3f s   mariadb-dump %.3f s   ratio %.2f\n", backup, dump, backup / dump);
  std::printf("Restore      %.3f s   mariadb      %.3f s   ratio %.2f\n", restore, client, restore / client);
  std::printf("peak memory after Backup: %ld KiB\n", peak);
  s->SqlQuery("DROP DATABASE veltro_bench");
  s->End();
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  return restored == rows && rc == 0 ? 0 : 1;
}
