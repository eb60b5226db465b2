// Loading and walking a stored result: the query object reading every field
// with FieldGet, beside a raw client-library loop over the same rows.
//
//   walk_bench [--rows N] [--reps R] [--conn socket|tcp] [--db NAME]
//
// The table bench_walk (int, tinyint, int, decimal(10,2), char(30), date) of
// database NAME (default veltro_bench_walk) is made to hold N rows (default
// 100000). Each run is a fresh process of this program (--child lib|raw), so
// its peak memory is its own: the figure is the growth of the peak resident
// size over the size after connecting. Library and raw runs alternate R times
// (default 5); prints the median time and peak growth of each side and their
// ratios. Exits non-zero when a run read no rows or fewer than N.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raw_client.h"
#include "veltro/query.h"
#include "veltro/server.h"

using namespace veltro;
using bench::env;
using bench::peakKb;
using bench::residentKb;

namespace {

const char* const kTable = "bench_walk";

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "walk_bench: %s\n", why.c_str());
  std::exit(1);
}

struct Login {
  std::string conn, host, user, password, socket, db;
  unsigned port = 0;
  // Connector/C takes the socket of host "localhost" from MYSQL_UNIX_PORT.
  std::string libHost() const { return conn == "socket" ? "localhost" : host; }
};

Login login(const std::string& conn, const std::string& db) {
  Login l{conn, env("VELTRO_TEST_HOST"), env("VELTRO_TEST_USER"), env("VELTRO_TEST_PASSWORD"),
          env("VELTRO_TEST_SOCKET"), db};
  l.port = static_cast<unsigned>(std::atoi(env("VELTRO_TEST_PORT").c_str()));
  if (l.host.empty() || l.socket.empty()) fail("VELTRO_TEST_* not set: start scripts/testserver.sh");
  if (conn != "socket" && conn != "tcp") fail("--conn is socket or tcp");
  if (conn == "socket") ::setenv("MYSQL_UNIX_PORT", l.socket.c_str(), 1);
  return l;
}

// The library's walk: load, then every field of every row by FieldGet.
__attribute__((noinline)) long libraryWalk(TQuillonSrv& server, long& sink) {
  QueryPtr query = server.Query(std::string("SELECT * FROM ") + kTable);
  if (!query) return 0;
  const long fields = query->FCount();
  long rows = 0;
  for (; !query->Eof(); query->Skip()) {
    for (long i = 1; i <= fields; ++i) {
      const Value v = query->FieldGet(i);
      sink += static_cast<long>(v.kindLetter());
    }
    ++rows;
  }
  query->End();
  return rows;
}

// The floor: the stored result fetched row by row, every field touched.
__attribute__((noinline)) long rawWalk(const bench::RawApi& api, void* conn, long& sink) {
  const std::string sql = std::string("SELECT * FROM ") + kTable;
  if (api.realQuery(conn, sql.data(), sql.size()) != 0) fail(api.error(conn));
  void* res = api.storeResult(conn);
  if (!res) fail(api.error(conn));
  const unsigned fields = api.numFields(res);
  long rows = 0;
  while (char** row = api.fetchRow(res)) {
    const unsigned long* len = api.fetchLengths(res);
    for (unsigned i = 0; i < fields; ++i) sink += row[i] ? static_cast<long>(len[i]) + row[i][0] : 0;
    ++rows;
  }
  api.freeResult(res);
  return rows;
}

// One measured run in this process; prints "run ROWS MICROSECONDS PEAK_GROWTH_KB".
int child(const Login& l, const std::string& side) {
  long sink = 0, rows = 0;
  std::chrono::steady_clock::time_point start;
  long base = 0;
  if (side == "lib") {
    ServerPtr server = TQuillonSrv::create();
    server->New(l.libHost(), l.user, l.password, static_cast<int>(l.port), 0, l.db);
    base = residentKb();
    start = std::chrono::steady_clock::now();
    rows = libraryWalk(*server, sink);
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("run %ld %.0f %ld %ld\n", rows, us, peakKb() - base, sink & 1);
    server->End();
  } else {
    const bench::RawApi& api = bench::clientApi();
    void* conn = api.init(nullptr);
    if (!api.realConnect(conn, l.libHost().c_str(), l.user.c_str(), l.password.c_str(), l.db.c_str(), l.port,
                         l.socket.c_str(), 0))
      fail(api.error(conn));
    base = residentKb();
    start = std::chrono::steady_clock::now();
    rows = rawWalk(api, conn, sink);
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("run %ld %.0f %ld %ld\n", rows, us, peakKb() - base, sink & 1);
    api.close(conn);
  }
  return rows > 0 ? 0 : 1;
}

struct Run {
  long rows = 0;
  double us = 0;
  long growthKb = 0;
};

Run spawn(const std::string& self, const std::string& side, const Login& l) {
  const std::string cmd = "'" + self + "' --child " + side + " --conn " + l.conn + " --db " + l.db;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) fail("cannot start " + cmd);
  Run r;
  long parity = 0;
  const int got = std::fscanf(p, "run %ld %lf %ld %ld", &r.rows, &r.us, &r.growthKb, &parity);
  const int rc = pclose(p);
  if (got != 4 || rc != 0) fail("the " + side + " run failed");
  return r;
}

void seed(const Login& l, long rows) {
  ServerPtr s = TQuillonSrv::create();
  s->New(l.libHost(), l.user, l.password, static_cast<int>(l.port), 0, "");
  s->SqlQuery("CREATE DATABASE IF NOT EXISTS " + l.db);
  s->SelectDB(l.db);
  if (!s->TableExist(kTable) || s->GetRowsFromTable(kTable).asInt() != rows) {
    s->SqlQuery(std::string("DROP TABLE IF EXISTS ") + kTable);
    s->SqlQuery(std::string("CREATE TABLE ") + kTable +
                " (id int NOT NULL, flag tinyint, qty int, price decimal(10,2), name char(30), born date, "
                "PRIMARY KEY (id))");
    s->SqlQuery(std::string("INSERT INTO ") + kTable +
                " SELECT seq, seq % 5, seq * 3, seq / 100, CONCAT('name ', seq), "
                "'2000-01-01' + INTERVAL (seq % 9000) DAY FROM seq_1_to_" + std::to_string(rows));
  }
  s->End();
}

template <typename T, typename F>
std::vector<T> pick(const std::vector<Run>& runs, F f) {
  std::vector<T> out;
  for (const Run& r : runs) out.push_back(f(r));
  std::sort(out.begin(), out.end());
  return out;
}

template <typename T>
double median(const std::vector<T>& v) {
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? static_cast<double>(v[m]) : (static_cast<double>(v[m - 1]) + static_cast<double>(v[m])) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = 100000;
  int reps = 5;
  std::string conn = "socket", db = "veltro_bench_walk", side;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--rows" && more) rows = std::atol(argv[++i]);
    else if (a == "--reps" && more) reps = std::max(1, std::atoi(argv[++i]));
    else if (a == "--conn" && more) conn = argv[++i];
    else if (a == "--db" && more) db = argv[++i];
    else if (a == "--child" && more) side = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--rows N] [--reps R] [--conn socket|tcp] [--db NAME]\n", argv[0]);
      return 2;
    }
  }
  const Login l = login(conn, db);
  if (!side.empty()) return child(l, side);
  if (rows <= 0) fail("--rows must be positive");

  seed(l, rows);
  const std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
  std::vector<Run> lib, raw;
  for (int r = 0; r < reps; ++r) {
    lib.push_back(spawn(self, "lib", l));
    raw.push_back(spawn(self, "raw", l));
  }
  for (const auto* runs : {&lib, &raw})
    for (const Run& r : *runs)
      if (r.rows != rows) fail("a run read " + std::to_string(r.rows) + " rows of " + std::to_string(rows));

  const auto libUs = pick<double>(lib, [](const Run& r) { return r.us; });
  const auto rawUs = pick<double>(raw, [](const Run& r) { return r.us; });
  const auto libKb = pick<long>(lib, [](const Run& r) { return r.growthKb; });
  const auto rawKb = pick<long>(raw, [](const Run& r) { return r.growthKb; });
  const double lt = median(libUs), rt = median(rawUs), lm = median(libKb), rm = median(rawKb);
  std::printf("walk conn=%s rows=%ld lib_ms=%.1f raw_ms=%.1f time_ratio=%.3f lib_min=%.1f lib_max=%.1f raw_min=%.1f "
              "raw_max=%.1f lib_kb=%.0f raw_kb=%.0f mem_ratio=%.3f reps=%d\n",
              conn.c_str(), rows, lt / 1000, rt / 1000, lt / rt, libUs.front() / 1000, libUs.back() / 1000,
              rawUs.front() / 1000, rawUs.back() / 1000, lm, rm, rm > 0 ? lm / rm : 0.0, reps);
  return 0;
}
