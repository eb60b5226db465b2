// The typed face beside the raw client library, over the socket.
//
//   session_bench stream [--rows N] [--reps R] [--db NAME]
//   session_bench update [--rows N] [--reps R] [--min-ms MS] [--db NAME]
//
// stream: bench_stream (INT, VARCHAR, DECIMAL, DATE, nullable TEXT) holds N
// rows (default 200000); each run, in a fresh process so that its peak memory
// is its own, reads every row into typed values: Session::stream beside a
// mysql_use_result loop converting the same columns the same way. Prints
// "stream rows=N lib_ms raw_ms time_ratio lib_kb raw_kb ..." (kb: growth of the
// peak resident size over the connected process).
// update: N rows (default 999) of bench_update updated by key, one statement
// a row: Session::execute beside a text-protocol loop, and a prepared
// Statement beside a mysql_stmt_execute loop; runs alternate until each side
// has run --min-ms in all (at least R runs, at most 41). Prints "update kind=..."
// lines with the time per row, and the raw prepared loop over the raw text one.
// bulk: N rows (default 100000) x 5 columns (INT, VARCHAR, DOUBLE, DATE,
// nullable TEXT) inserted into an empty bench_bulk: Statement::executeMany
// beside a raw loop binding the same rows as arrays (STMT_ATTR_ARRAY_SIZE,
// one mysql_stmt_execute), alternating, R runs each; then a raw loop of one
// prepared single-row INSERT per row inside one transaction. Prints "bulk
// rows=N lib_ms raw_ms ratio ... single_ms speedup" (speedup: the single-row
// loop's time over executeMany's).
// pool: 8 threads each run N (default 2000) short transactions (an UPDATE by
// key through transact) on a Pool of 4, beside 8 sessions of their own;
// alternating, R runs each (--pool-size sets another size). Prints "pool ...
// pool_tps own_tps ratio".
// Exits non-zero when a run read or changed fewer rows than asked.
#include <mysql.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench_util.h"
#include "veltro/session.h"

using namespace veltro;
using bench::env;
using bench::peakKb;
using bench::residentKb;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMaxReps = 41;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "session_bench: %s\n", why.c_str());
  std::exit(1);
}

Settings settings(const std::string& db) {
  Settings s;
  s.host = "localhost";
  s.socket = env("VELTRO_TEST_SOCKET");
  s.user = env("VELTRO_TEST_USER");
  s.password = env("VELTRO_TEST_PASSWORD");
  s.database = db;
  if (s.socket.empty()) fail("VELTRO_TEST_* not set: start scripts/testserver.sh");
  return s;
}

MYSQL* rawConnect(const std::string& db) {
  MYSQL* m = mysql_init(nullptr);
  const std::string cs = "utf8mb4";
  mysql_options(m, MYSQL_SET_CHARSET_NAME, cs.c_str());
  if (!mysql_real_connect(m, "localhost", env("VELTRO_TEST_USER").c_str(), env("VELTRO_TEST_PASSWORD").c_str(),
                          db.c_str(), 0, env("VELTRO_TEST_SOCKET").c_str(), 0))
    fail(mysql_error(m));
  return m;
}

// --- stream -----------------------------------------------------------------------

const char* const kStreamSql = "SELECT id, name, amount, born, note FROM bench_stream";

// The raw loop's conversions: what a program reading the same columns writes by hand.
int rawInt(const char* p, unsigned long n) {
  int v = 0;
  std::from_chars(p, p + n, v);
  return v;
}

std::chrono::year_month_day rawDate(const char* p) {
  auto num = [&](int at, int n) {
    int v = 0;
    for (int i = at; i < at + n; ++i) v = v * 10 + (p[i] - '0');
    return v;
  };
  return std::chrono::year_month_day(std::chrono::year(num(0, 4)), std::chrono::month(static_cast<unsigned>(num(5, 2))),
                                     std::chrono::day(static_cast<unsigned>(num(8, 2))));
}

__attribute__((noinline)) long libraryStream(Session& s, long& sink) {
  long rows = 0;
  for (const Row& r : s.stream(kStreamSql)) {
    sink += r.get<int>(0);
    sink += static_cast<long>(r.get<std::string_view>(1).size());
    sink += r.get<Number>(2).isZero();
    sink += static_cast<unsigned>(r.get<std::chrono::year_month_day>(3).day());
    const auto note = r.get<std::optional<std::string_view>>(4);
    sink += note ? static_cast<long>(note->size()) : -1;
    ++rows;
  }
  return rows;
}

__attribute__((noinline)) long rawStream(MYSQL* m, long& sink) {
  if (mysql_real_query(m, kStreamSql, std::strlen(kStreamSql)) != 0) fail(mysql_error(m));
  MYSQL_RES* res = mysql_use_result(m);
  if (!res) fail(mysql_error(m));
  long rows = 0;
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    const unsigned long* len = mysql_fetch_lengths(res);
    sink += rawInt(row[0], len[0]);
    sink += static_cast<long>(std::string_view(row[1], len[1]).size());
    Number n;
    Number::parse(std::string_view(row[2], len[2]), n);
    sink += n.isZero();
    sink += static_cast<unsigned>(rawDate(row[3]).day());
    const std::optional<std::string_view> note =
        row[4] ? std::optional<std::string_view>(std::string_view(row[4], len[4])) : std::nullopt;
    sink += note ? static_cast<long>(note->size()) : -1;
    ++rows;
  }
  if (mysql_errno(m) != 0) fail(mysql_error(m));
  mysql_free_result(res);
  return rows;
}

// One measured run in this process; prints "run ROWS MICROSECONDS PEAK_GROWTH_KB".
int child(const std::string& side, const std::string& db) {
  long sink = 0, rows = 0, base = 0;
  double us = 0;
  if (side == "lib") {
    Session s = Session::open(settings(db));
    base = residentKb();
    const auto start = Clock::now();
    rows = libraryStream(s, sink);
    us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  } else {
    MYSQL* m = rawConnect(db);
    base = residentKb();
    const auto start = Clock::now();
    rows = rawStream(m, sink);
    us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    mysql_close(m);
  }
  std::printf("run %ld %.0f %ld %ld\n", rows, us, peakKb() - base, sink & 1);
  return rows > 0 ? 0 : 1;
}

struct Run {
  long rows = 0;
  double us = 0;
  long growthKb = 0;
};

Run spawn(const std::string& side, const std::string& db) {
  const std::string cmd = "'/proc/" + std::to_string(getpid()) + "/exe' stream --child " + side + " --db " + db;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) fail("cannot start " + cmd);
  Run r;
  long parity = 0;
  const int got = std::fscanf(p, "run %ld %lf %ld %ld", &r.rows, &r.us, &r.growthKb, &parity);
  if (got != 4 || pclose(p) != 0) fail("the " + side + " run failed");
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void seed(Session& s, const char* table, const char* columns, const char* select, long rows) {
  if (s.value<long long>("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = DATABASE() AND "
                         "table_name = ?", table) == 1 &&
      s.value<long long>(std::string("SELECT COUNT(*) FROM ") + table) == rows)
    return;
  s.execute(std::string("CREATE OR REPLACE TABLE ") + table + " (" + columns + ")");
  s.execute(std::string("INSERT INTO ") + table + " " + select + " FROM seq_1_to_" + std::to_string(rows));
}

int streamMain(long rows, int reps, const std::string& db) {
  {
    Settings base = settings("");
    Session s = Session::open(base);
    s.execute("CREATE DATABASE IF NOT EXISTS " + db);
    s.execute("USE " + db);
    seed(s, "bench_stream", "id INT PRIMARY KEY, name VARCHAR(40), amount DECIMAL(12,2), born DATE, note TEXT NULL",
         "SELECT seq, CONCAT('name ', seq), seq / 100, '2000-01-01' + INTERVAL (seq % 9000) DAY, "
         "IF(seq % 3 = 0, NULL, REPEAT('n', seq % 50))",
         rows);
  }
  std::vector<double> libUs, rawUs, libKb, rawKb;
  for (int r = 0; r < reps; ++r) {
    for (const char* side : {"lib", "raw"}) {
      const Run run = spawn(side, db);
      if (run.rows != rows) fail(std::string(side) + " read " + std::to_string(run.rows) + " rows");
      (side[0] == 'l' ? libUs : rawUs).push_back(run.us);
      (side[0] == 'l' ? libKb : rawKb).push_back(static_cast<double>(run.growthKb));
    }
  }
  const double lt = median(libUs), rt = median(rawUs);
  std::printf("stream rows=%ld lib_ms=%.1f raw_ms=%.1f time_ratio=%.3f lib_min=%.1f raw_min=%.1f lib_kb=%.0f "
              "raw_kb=%.0f reps=%d\n",
              rows, lt / 1000, rt / 1000, lt / rt, *std::min_element(libUs.begin(), libUs.end()) / 1000,
              *std::min_element(rawUs.begin(), rawUs.end()) / 1000, median(libKb), median(rawKb), reps);
  return 0;
}

// --- update -----------------------------------------------------------------------

// A raw prepared UPDATE, its two arguments bound once.
struct RawPrepared {
  MYSQL_STMT* stmt = nullptr;
  long long value = 0, id = 0;
  MYSQL_BIND binds[2]{};
  explicit RawPrepared(MYSQL* m) {
    stmt = mysql_stmt_init(m);
    const char* sql = "UPDATE bench_update SET amount = ? WHERE id = ?";
    if (mysql_stmt_prepare(stmt, sql, std::strlen(sql)) != 0) fail(mysql_stmt_error(stmt));
    for (MYSQL_BIND& b : binds) b.buffer_type = MYSQL_TYPE_LONGLONG;
    binds[0].buffer = &value;
    binds[1].buffer = &id;
    if (mysql_stmt_bind_param(stmt, binds)) fail(mysql_stmt_error(stmt));
  }
  ~RawPrepared() { mysql_stmt_close(stmt); }
};

struct Sides {
  std::function<long(long, long)> lib, raw;  // (rows, value) -> rows changed
};

// Alternating runs; the time per row of each side (median, and the fastest run).
void compare(const char* kind, const Sides& sides, long rows, int reps, double minMs) {
  std::vector<double> lib, raw;
  double libMs = 0, rawMs = 0;
  long value = 1;
  sides.lib(rows, value++);
  sides.raw(rows, value++);  // one untimed pass of each
  for (int r = 0; r < reps || (std::min(libMs, rawMs) < minMs && r < kMaxReps); ++r) {
    for (int side = 0; side < 2; ++side) {
      const auto start = Clock::now();
      const long changed = side == 0 ? sides.lib(rows, value++) : sides.raw(rows, value++);
      const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      if (changed != rows) fail(std::string(kind) + ": a run changed " + std::to_string(changed) + " rows");
      (side == 0 ? lib : raw).push_back(us / static_cast<double>(rows));
      (side == 0 ? libMs : rawMs) += us / 1000;
    }
  }
  std::printf("update kind=%s rows=%ld lib_us=%.2f raw_us=%.2f ratio=%.3f lib_min=%.2f raw_min=%.2f reps=%zu\n", kind,
              rows, median(lib), median(raw), median(lib) / median(raw), *std::min_element(lib.begin(), lib.end()),
              *std::min_element(raw.begin(), raw.end()), lib.size());
}

int updateMain(long rows, int reps, double minMs, const std::string& db) {
  Settings base = settings("");
  Session s = Session::open(base);
  s.execute("CREATE DATABASE IF NOT EXISTS " + db);
  s.execute("USE " + db);
  seed(s, "bench_update", "id INT PRIMARY KEY, amount BIGINT", "SELECT seq, 0", rows);
  MYSQL* m = rawConnect(db);
  Statement prepared = s.prepare("UPDATE bench_update SET amount = ? WHERE id = ?");
  RawPrepared raw(m);

  auto libExecute = [&](long n, long v) {
    long changed = 0;
    for (long id = 1; id <= n; ++id)
      changed += static_cast<long>(s.execute("UPDATE bench_update SET amount = ? WHERE id = ?", v, id).affected);
    return changed;
  };
  auto rawText = [&](long n, long v) {
    long changed = 0;
    char sql[128];
    for (long id = 1; id <= n; ++id) {
      const int len = std::snprintf(sql, sizeof sql, "UPDATE bench_update SET amount = %ld WHERE id = %ld", v, id);
      if (mysql_real_query(m, sql, static_cast<unsigned long>(len)) != 0) fail(mysql_error(m));
      changed += static_cast<long>(mysql_affected_rows(m));
    }
    return changed;
  };
  auto libPrepared = [&](long n, long v) {
    long changed = 0;
    for (long id = 1; id <= n; ++id) changed += static_cast<long>(prepared.execute(v, id).affected);
    return changed;
  };
  auto rawPrepared = [&](long n, long v) {
    long changed = 0;
    for (long id = 1; id <= n; ++id) {
      raw.value = v;
      raw.id = id;
      if (mysql_stmt_execute(raw.stmt) != 0) fail(mysql_stmt_error(raw.stmt));
      changed += static_cast<long>(mysql_stmt_affected_rows(raw.stmt));
    }
    return changed;
  };
  compare("execute", {libExecute, rawText}, rows, reps, minMs);
  compare("prepared", {libPrepared, rawPrepared}, rows, reps, minMs);
  // Both sides raw: what the binary protocol saves over the text one.
  compare("prepared-over-text", {rawPrepared, rawText}, rows, reps, minMs);
  mysql_close(m);
  return 0;
}

// --- bulk -------------------------------------------------------------------------

using BulkRow = std::tuple<int, std::string, double, std::chrono::year_month_day, std::optional<std::string>>;

std::vector<BulkRow> bulkRows(long n) {
  using namespace std::chrono;
  std::vector<BulkRow> rows;
  rows.reserve(static_cast<std::size_t>(n));
  for (long i = 1; i <= n; ++i)
    rows.emplace_back(static_cast<int>(i), "name " + std::to_string(i), static_cast<double>(i) / 100,
                      year_month_day(sys_days(2000y / 1 / 1) + days(i % 9000)),
                      i % 3 == 0 ? std::nullopt : std::optional<std::string>(std::string(static_cast<std::size_t>(i % 50), 'n')));
  return rows;
}

// The raw side's arrays, one per column, filled from the same rows.
struct RawBulk {
  std::vector<int> ids;
  std::vector<char*> names, notes;
  std::vector<unsigned long> nameLengths, noteLengths;
  std::vector<double> amounts;
  std::vector<MYSQL_TIME> born;
  std::vector<MYSQL_TIME*> bornRows;  // a date goes as a pointer per row, as texts do
  std::vector<char> noteNull;
  MYSQL_BIND binds[5]{};

  long run(MYSQL_STMT* stmt, const std::vector<BulkRow>& rows) {
    const std::size_t n = rows.size();
    ids.resize(n), names.resize(n), notes.resize(n), nameLengths.resize(n), noteLengths.resize(n);
    amounts.resize(n), born.assign(n, MYSQL_TIME{}), bornRows.resize(n), noteNull.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const auto& [id, name, amount, day, note] = rows[i];
      ids[i] = id;
      names[i] = const_cast<char*>(name.data());
      nameLengths[i] = name.size();
      amounts[i] = amount;
      born[i].year = static_cast<unsigned>(static_cast<int>(day.year()));
      born[i].month = static_cast<unsigned>(day.month());
      born[i].day = static_cast<unsigned>(day.day());
      born[i].time_type = MYSQL_TIMESTAMP_DATE;
      bornRows[i] = &born[i];
      notes[i] = note ? const_cast<char*>(note->data()) : nullptr;
      noteLengths[i] = note ? note->size() : 0;
      noteNull[i] = note ? STMT_INDICATOR_NONE : STMT_INDICATOR_NULL;
    }
    const enum_field_types types[] = {MYSQL_TYPE_LONG, MYSQL_TYPE_STRING, MYSQL_TYPE_DOUBLE, MYSQL_TYPE_DATE,
                                      MYSQL_TYPE_STRING};
    void* buffers[] = {ids.data(), names.data(), amounts.data(), bornRows.data(), notes.data()};
    for (int c = 0; c < 5; ++c) {
      binds[c] = MYSQL_BIND{};
      binds[c].buffer_type = types[c];
      binds[c].buffer = buffers[c];
    }
    binds[1].length = nameLengths.data();
    binds[4].length = noteLengths.data();
    binds[4].u.indicator = noteNull.data();
    unsigned int size = static_cast<unsigned int>(n);
    mysql_stmt_attr_set(stmt, STMT_ATTR_ARRAY_SIZE, &size);
    if (mysql_stmt_bind_param(stmt, binds) || mysql_stmt_execute(stmt)) fail(mysql_stmt_error(stmt));
    return static_cast<long>(mysql_stmt_affected_rows(stmt));
  }
};

// One prepared single-row INSERT per row, inside one transaction.
long rawSingleRows(MYSQL* m, MYSQL_STMT* stmt, const std::vector<BulkRow>& rows) {
  int id = 0;
  std::string name, note;
  double amount = 0;
  MYSQL_TIME born{};
  unsigned long nameLength = 0, noteLength = 0;
  my_bool noteNull = 0;
  MYSQL_BIND b[5]{};
  b[0].buffer_type = MYSQL_TYPE_LONG, b[0].buffer = &id;
  b[1].buffer_type = MYSQL_TYPE_STRING, b[1].length = &nameLength;
  b[2].buffer_type = MYSQL_TYPE_DOUBLE, b[2].buffer = &amount;
  b[3].buffer_type = MYSQL_TYPE_DATE, b[3].buffer = &born;
  b[4].buffer_type = MYSQL_TYPE_STRING, b[4].length = &noteLength, b[4].is_null = &noteNull;
  born.time_type = MYSQL_TIMESTAMP_DATE;
  long changed = 0;
  if (mysql_query(m, "BEGIN")) fail(mysql_error(m));
  for (const auto& [i, n, a, day, text] : rows) {
    id = i, amount = a, nameLength = n.size(), b[1].buffer = const_cast<char*>(n.data());
    born.year = static_cast<unsigned>(static_cast<int>(day.year()));
    born.month = static_cast<unsigned>(day.month()), born.day = static_cast<unsigned>(day.day());
    noteNull = !text;
    b[4].buffer = text ? const_cast<char*>(text->data()) : nullptr, noteLength = text ? text->size() : 0;
    if (mysql_stmt_bind_param(stmt, b) || mysql_stmt_execute(stmt)) fail(mysql_stmt_error(stmt));
    changed += static_cast<long>(mysql_stmt_affected_rows(stmt));
  }
  if (mysql_commit(m)) fail(mysql_error(m));
  return changed;
}

int bulkMain(long rows, int reps, const std::string& db) {
  Session s = Session::open(settings(""));
  s.execute("CREATE DATABASE IF NOT EXISTS " + db);
  s.execute("USE " + db);
  const char* const insert = "INSERT INTO bench_bulk (id, name, amount, born, note) VALUES (?, ?, ?, ?, ?)";
  const std::vector<BulkRow> data = bulkRows(rows);
  MYSQL* m = rawConnect(db);
  auto fresh = [&] {
    s.execute("CREATE OR REPLACE TABLE bench_bulk (id INT PRIMARY KEY, name VARCHAR(40), amount DOUBLE, born DATE, "
              "note TEXT NULL)");
  };
  auto timed = [&](const std::function<long()>& run, std::vector<double>& ms) {
    fresh();
    const auto start = Clock::now();
    const long changed = run();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (changed != rows) fail("a bulk run inserted " + std::to_string(changed) + " rows");
  };
  fresh();
  Statement lib = s.prepare(insert);
  MYSQL_STMT* raw = mysql_stmt_init(m);
  if (mysql_stmt_prepare(raw, insert, std::strlen(insert))) fail(mysql_stmt_error(raw));
  RawBulk arrays;
  std::vector<double> libMs, rawMs, singleMs;
  for (int r = 0; r <= reps; ++r) {  // the first pass of each is untimed
    timed([&] { return static_cast<long>(lib.executeMany(data).affected); }, libMs);
    timed([&] { return arrays.run(raw, data); }, rawMs);
    if (r == 0) libMs.clear(), rawMs.clear();
  }
  mysql_stmt_close(raw);
  raw = mysql_stmt_init(m);  // a statement of its own, never given an array size
  if (mysql_stmt_prepare(raw, insert, std::strlen(insert))) fail(mysql_stmt_error(raw));
  for (int r = 0; r < std::max(1, reps / 2); ++r) timed([&] { return rawSingleRows(m, raw, data); }, singleMs);
  mysql_stmt_close(raw);
  mysql_close(m);
  s.execute("DROP TABLE bench_bulk");
  const double lt = median(libMs), rt = median(rawMs), st = median(singleMs);
  std::printf("bulk rows=%ld lib_ms=%.1f raw_ms=%.1f ratio=%.3f lib_min=%.1f raw_min=%.1f single_ms=%.1f "
              "speedup=%.1f reps=%d\n",
              rows, lt, rt, lt / rt, *std::min_element(libMs.begin(), libMs.end()),
              *std::min_element(rawMs.begin(), rawMs.end()), st, st / lt, reps);
  return 0;
}

// --- pool -------------------------------------------------------------------------

constexpr int kPoolThreads = 8;

// Transactions per second of kPoolThreads threads each running units units through unit(thread, k).
double throughput(long units, const std::function<void(int, long)>& unit) {
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int t = 0; t < kPoolThreads; ++t)
    threads.emplace_back([&, t] {
      for (long k = 0; k < units; ++k) unit(t, k);
    });
  for (std::thread& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(units * kPoolThreads) / seconds;
}

int poolMain(long units, int reps, const std::string& db, std::size_t size) {
  Settings base = settings("");
  {
    Session s = Session::open(base);
    s.execute("CREATE DATABASE IF NOT EXISTS " + db);
    s.execute("USE " + db);
    s.execute("CREATE OR REPLACE TABLE bench_pool (id INT PRIMARY KEY, n BIGINT)");
    s.execute("INSERT INTO bench_pool SELECT seq, 0 FROM seq_0_to_" + std::to_string(kPoolThreads * 100 - 1));
  }
  base.database = db;
  // Each thread updates rows of its own: the two sides compare without lock waits.
  auto work = [](Session& s, int t, long k) {
    s.transact([&](Session& tx) {
      if (tx.execute("UPDATE bench_pool SET n = n + 1 WHERE id = ?", t * 100 + k % 100).affected != 1)
        fail("a transaction changed no row");
    });
  };
  Pool pool(base, size);
  std::vector<Session> own;
  for (int t = 0; t < kPoolThreads; ++t) own.push_back(Session::open(base));
  std::vector<double> pooled, owned;
  for (int r = 0; r <= reps; ++r) {  // the first pass of each is untimed
    pooled.push_back(throughput(units, [&](int t, long k) {
      Lease lease = pool.acquire();
      work(*lease, t, k);
    }));
    owned.push_back(throughput(units, [&](int t, long k) { work(own[static_cast<std::size_t>(t)], t, k); }));
    if (r == 0) pooled.clear(), owned.clear();
  }
  const PoolStats st = pool.stats();
  const double p = median(pooled), o = median(owned);
  std::printf("pool threads=%d units=%ld size=%zu pool_tps=%.0f own_tps=%.0f ratio=%.3f pool_max=%.0f own_max=%.0f "
              "waits=%llu reps=%d\n",
              kPoolThreads, units, size, p, o, p / o, *std::max_element(pooled.begin(), pooled.end()),
              *std::max_element(owned.begin(), owned.end()), static_cast<unsigned long long>(st.waits), reps);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) fail("usage: session_bench stream|update|bulk|pool [--rows N] [--reps R] [--min-ms MS] [--db NAME]");
  const std::string mode = argv[1];
  long rows = mode == "stream" ? 200000 : mode == "bulk" ? 100000 : mode == "pool" ? 2000 : 999;
  int reps = 5;
  double minMs = 0;
  std::string db = "veltro_bench_session", side;
  std::size_t poolSize = 4;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--rows" && more) rows = std::atol(argv[++i]);
    else if (a == "--reps" && more) reps = std::max(1, std::atoi(argv[++i]));
    else if (a == "--min-ms" && more) minMs = std::max(0.0, std::atof(argv[++i]));
    else if (a == "--db" && more) db = argv[++i];
    else if (a == "--pool-size" && more) poolSize = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
    else if (a == "--child" && more) side = argv[++i];
    else fail("unknown argument " + a);
  }
  if (rows <= 0) fail("--rows must be positive");
  try {
    if (mode == "stream") return side.empty() ? streamMain(rows, reps, db) : child(side, db);
    if (mode == "update") return updateMain(rows, reps, minMs, db);
    if (mode == "bulk") return bulkMain(rows, reps, db);
    if (mode == "pool") return poolMain(rows, reps, db, poolSize);
  } catch (const SqlError& e) {
    fail(std::string("error ") + std::to_string(e.number()) + ": " + e.what());
  }
  fail("mode is stream, update, bulk or pool");
}
