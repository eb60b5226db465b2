// The four update methods of Veltro through the library, each beside a raw
// client-library loop that sends the same statement texts in the same order.
//
//   update_bench [--conn socket|tcp|embedded] [--datadir DIR] [--rows 100,999]
//                [--reps N] [--min-ms MS] [--methods 1,2,3,4] [--only lib|raw] [--db NAME]
//                [--hosts LIST]
//
// The server comes from the VELTRO_TEST_* variables (scripts/testserver.sh);
// --conn embedded runs the embedded server on DIR instead; --hosts gives the
// library a host list (a cluster's nodes) while the raw loop connects to the
// server of the variables, the list's first node. The table clientes
// of database NAME (default veltro_bench_upd) is created and seeded as the demo's.
// Runs of one comparison alternate library and raw loop; before each run every
// row is set back so that each statement really changes its row. --min-ms adds
// runs (up to 41) until each side has run that long in all, so that short
// comparisons get enough runs for a steady median; one untimed pass of each
// side comes first. Prints one
// "result ..." line per method and row count. --only runs one side per
// method: a warm-up pass, then the pass that callgrind counts (its
// --toggle-collect names libraryPass or rawPass). Exits non-zero when a run
// read no rows or fewer than asked.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "raw_client.h"
#include "seed.h"
#include "updates.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"

using namespace veltro;
using bench::env;

namespace {

const char* const kNames[] = {"", "method-update", "build-sentence", "method-save", "sentence-update"};

struct Options {
  std::string conn = "socket";
  std::string datadir;
  std::string db = "veltro_bench_upd";
  std::vector<long> rows = {100, 999};
  std::vector<int> methods = {1, 2, 3, 4};
  int reps = 5;
  double minMs = 0;  // each side runs at least this long in all, up to kMaxReps runs
  std::string only;
  std::string hosts;  // the library's host list; empty: the raw loop's host
};

std::vector<long> numbers(const std::string& list) {
  std::vector<long> out;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t comma = list.find(',', at);
    if (comma == std::string::npos) comma = list.size();
    out.push_back(std::strtol(list.substr(at, comma - at).c_str(), nullptr, 10));
    at = comma + 1;
  }
  return out;
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "update_bench: %s\n", why.c_str());
  std::exit(1);
}

// The raw side: one connection of the client library and its statements.
struct Raw {
  bench::RawApi api;
  void* conn = nullptr;
  std::size_t notesWidth = 0;  // the library pads notes with blanks to this width
  std::string escaped, padded, sql;

  void run(const std::string& text) {
    if (api.realQuery(conn, text.data(), text.size()) != 0) fail("raw: " + std::string(api.error(conn)));
  }
  void* select(const std::string& text) {
    run(text);
    void* res = api.storeResult(conn);
    if (!res) fail("raw: no result for " + text);
    return res;
  }
  void escape(const char* text, unsigned long len) {
    escaped.resize(2 * len + 1);
    escaped.resize(api.realEscape(conn, escaped.data(), text, len));
  }
  // The notes text padded to the column's width, escaped, into padded.
  void escapePadded(const char* text, unsigned long len) {
    escape(text, len);
    padded = escaped;
    if (len < notesWidth) padded.append(notesWidth - len, ' ');
  }
};

// Columns of SELECT * FROM clientes as the seed creates it.
constexpr unsigned kIdColumn = 0;
constexpr unsigned kNotesColumn = 7;

// A load as the query object does it: the previous result freed, the
// statement, its stored result, the cursor on row (from 0). Apart so that
// callgrind can leave the loads out; the free belongs to them, as it does in
// the query object's load.
__attribute__((noinline)) void* rawLoad(Raw& raw, const std::string& select, long row, void* previous) {
  if (previous) raw.api.freeResult(previous);
  void* res = raw.select(select);
  if (row > 0) raw.api.dataSeek(res, static_cast<std::uint64_t>(row));
  return res;
}

// The raw loop of one method over n rows: the statements of the library's
// run, built with plain string appends.
__attribute__((noinline)) long rawLoop(Raw& raw, int method, long n) {
  const std::string select = selectionStatement(n);
  void* res = rawLoad(raw, select, 0, nullptr);
  long rows = 0;
  std::string& sql = raw.sql;
  while (char** row = raw.api.fetchRow(res)) {
    const unsigned long* len = raw.api.fetchLengths(res);
    switch (method) {
      case 1:
      case 2:
        raw.escapePadded(row[kNotesColumn], len[kNotesColumn]);
        sql.assign("UPDATE clientes SET Married = 0,Age = 40,salary = 10,Notes = '");
        sql += raw.escaped;
        sql += "' WHERE notes='";
        sql += raw.padded;
        sql += '\'';
        break;
      case 3:
        raw.escape(row[kNotesColumn], len[kNotesColumn]);
        sql.assign("UPDATE clientes SET married=1,age=30,salary=20 WHERE id=");
        sql.append(row[kIdColumn], len[kIdColumn]);
        sql += " AND notes='";
        sql += raw.escaped;
        sql += '\'';
        break;
      default:
        raw.escapePadded(row[kNotesColumn], len[kNotesColumn]);
        sql.assign("update clientes set married = 0,age = 40,salary = 10 where notes='");
        sql += raw.padded;
        sql += '\'';
        break;
    }
    raw.run(sql);
    ++rows;
    if (method == 3) {
      // What Save does after its UPDATE: the query's statement again, stored,
      // and the cursor back on its row.
      res = rawLoad(raw, select, rows, res);
    }
  }
  raw.api.freeResult(res);
  return rows;
}

// The library's loop of one method over n rows: what UPDATES does, without the screen.
__attribute__((noinline)) long libraryLoop(TQuillonSrv& server, int method, long n) {
  QueryPtr query = server.Query(selectionStatement(n));
  long rows = 0;
  RowKey key;
  while (query && !query->Eof()) {
    rowKey(server, *query, key);
    updateRow(server, *query, method, key);
    ++rows;
    query->Skip();
  }
  if (query) query->End();
  return rows;
}

// The measured passes. Apart from the loops so that callgrind's
// --toggle-collect can count a pass without the warm-up pass before it.
__attribute__((noinline)) long rawPass(Raw& raw, int method, long n) {
  const long rows = rawLoop(raw, method, n);
  asm volatile("" ::: "memory");  // a call, not a tail jump
  return rows;
}

__attribute__((noinline)) long libraryPass(TQuillonSrv& server, int method, long n) {
  const long rows = libraryLoop(server, method, n);
  asm volatile("" ::: "memory");
  return rows;
}

// Sets every row back so that the next run's statements change their rows.
void resetRows(Raw& raw, int method) {
  raw.run(method == 3 ? "UPDATE clientes SET married=0,age=40,salary=10"
                      : "UPDATE clientes SET married=1,age=30,salary=20");
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

template <typename F>
double timed(F&& pass, long n) {
  const auto start = std::chrono::steady_clock::now();
  const long rows = pass();
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  if (rows <= 0 || rows != n) fail("a run read " + std::to_string(rows) + " rows of " + std::to_string(n));
  return us / static_cast<double>(rows);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--conn" && more) o.conn = argv[++i];
    else if (a == "--datadir" && more) o.datadir = argv[++i];
    else if (a == "--db" && more) o.db = argv[++i];
    else if (a == "--rows" && more) o.rows = numbers(argv[++i]);
    else if (a == "--reps" && more) o.reps = std::max(1, std::atoi(argv[++i]));
    else if (a == "--min-ms" && more) o.minMs = std::max(0.0, std::atof(argv[++i]));
    else if (a == "--only" && more) o.only = argv[++i];
    else if (a == "--hosts" && more) o.hosts = argv[++i];
    else if (a == "--methods" && more) {
      o.methods.clear();
      for (long m : numbers(argv[++i])) o.methods.push_back(static_cast<int>(m));
    } else {
      std::fprintf(stderr,
                   "usage: %s [--conn socket|tcp|embedded] [--datadir DIR] [--rows 100,999] [--reps N] [--min-ms MS] "
                   "[--methods 1,2,3,4] [--only lib|raw] [--db NAME] [--hosts LIST]\n",
                   argv[0]);
      return 2;
    }
  }
  for (int m : o.methods)
    if (m < 1 || m > 4) fail("methods are 1 to 4");
  if (o.rows.empty() || *std::min_element(o.rows.begin(), o.rows.end()) <= 0) fail("--rows must be positive");
  const long most = *std::max_element(o.rows.begin(), o.rows.end());

  const bool embedded = o.conn == "embedded";
  const std::string host = env("VELTRO_TEST_HOST"), user = env("VELTRO_TEST_USER"),
                    password = env("VELTRO_TEST_PASSWORD"), socket = env("VELTRO_TEST_SOCKET");
  const unsigned port = static_cast<unsigned>(std::atoi(env("VELTRO_TEST_PORT").c_str()));
  if (!embedded && (host.empty() || socket.empty())) fail("VELTRO_TEST_* not set: start scripts/testserver.sh");
  if (embedded && o.datadir.empty()) fail("--conn embedded needs --datadir");
  if (o.conn == "socket") {
    // Connector/C takes the socket of host "localhost" from here, once, on its first mysql_init.
    ::setenv("MYSQL_UNIX_PORT", socket.c_str(), 1);
  } else if (!embedded && o.conn != "tcp") {
    fail("--conn is socket, tcp or embedded");
  }
  const std::string libHost = o.conn == "socket" ? "localhost" : host;

  Q_SETCASESENSITIVE(true);  // as the program runs
  ServerPtr server = TQuillonSrv::create();
  if (embedded) {
    Array options;
    for (const std::string& s : db::embeddedOptions(o.datadir)) options.emplace_back(s);
    server->Embedded(Value(), Value::arrayOf(std::move(options)));
  } else {
    server->New(o.hosts.empty() ? libHost : o.hosts, user, password, static_cast<int>(port), 0, "");
  }
  server->SqlQuery("CREATE DATABASE IF NOT EXISTS " + o.db);
  server->SelectDB(o.db);
  seedClientes(*server, most, false);

  Raw raw;
  if (embedded) {
    std::string why;
    if (!bench::embeddedApi(raw.api, why)) fail(why);
  } else {
    raw.api = bench::clientApi();
  }
  raw.conn = raw.api.init(nullptr);
  const bool rawUp = embedded ? raw.api.realConnect(raw.conn, nullptr, nullptr, nullptr, o.db.c_str(), 0, nullptr, 0)
                              : raw.api.realConnect(raw.conn, libHost.c_str(), user.c_str(), password.c_str(),
                                                    o.db.c_str(), port, socket.c_str(), 0);
  if (!rawUp) fail("raw connect: " + std::string(raw.api.error(raw.conn)));
  {
    // The width the library pads notes to, as the raw loop must send the same texts.
    QueryPtr probe = server->Query("SELECT * FROM clientes LIMIT 1");
    raw.notesWidth = probe ? probe->FieldGet("notes").asString().size() : 0;
    if (probe) probe->End();
  }

  if (!o.only.empty()) {
    for (int m : o.methods) {
      for (long n : o.rows) {
        // One pass uncounted first, as in the timed runs: what a process
        // does once (tables built on first use, buffers grown) is not a row's cost.
        resetRows(raw, m);
        if (o.only == "raw" ? rawLoop(raw, m, n) != n : libraryLoop(*server, m, n) != n) fail("the warm-up pass failed");
        resetRows(raw, m);
        const long rows = o.only == "raw" ? rawPass(raw, m, n) : libraryPass(*server, m, n);
        std::printf("pass side=%s method=%s rows=%ld\n", o.only.c_str(), kNames[m], rows);
        if (rows != n) fail("a pass read " + std::to_string(rows) + " rows of " + std::to_string(n));
      }
    }
  } else {
    for (long n : o.rows) {
      for (int m : o.methods) {
        constexpr int kMaxReps = 41;
        // One untimed pass of each side first: caches, the server's buffer
        // pool and its plans warm up before anything is counted.
        resetRows(raw, m);
        timed([&] { return libraryPass(*server, m, n); }, n);
        resetRows(raw, m);
        timed([&] { return rawPass(raw, m, n); }, n);
        std::vector<double> lib, flr;
        double libMs = 0, rawMs = 0;  // each side's total so far
        for (int r = 0; r < o.reps || (std::min(libMs, rawMs) < o.minMs && r < kMaxReps); ++r) {
          resetRows(raw, m);
          lib.push_back(timed([&] { return libraryPass(*server, m, n); }, n));
          resetRows(raw, m);
          flr.push_back(timed([&] { return rawPass(raw, m, n); }, n));
          libMs += lib.back() * static_cast<double>(n) / 1000.0;
          rawMs += flr.back() * static_cast<double>(n) / 1000.0;
        }
        const double l = median(lib), f = median(flr);
        std::printf("result conn=%s rows=%ld method=%s lib_us=%.2f raw_us=%.2f ratio=%.3f lib_min=%.2f lib_max=%.2f "
                    "raw_min=%.2f raw_max=%.2f reps=%d\n",
                    o.conn.c_str(), n, kNames[m], l, f, l / f, *std::min_element(lib.begin(), lib.end()),
                    *std::max_element(lib.begin(), lib.end()), *std::min_element(flr.begin(), flr.end()),
                    *std::max_element(flr.begin(), flr.end()), static_cast<int>(lib.size()));
        std::fflush(stdout);
      }
    }
  }
  raw.api.close(raw.conn);
  server->End();
  return 0;
}
