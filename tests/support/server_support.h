// Helpers shared by the server-object tests: a connected server object, an
// error recorder, raw statements on a side connection and the statements
// that the server received from a connection (read from the general log).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/object.h"
#include "veltro/server.h"

namespace veltro::testing {

// A whole file's bytes ("" when it cannot be read).
inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

struct Report {
  long long number;
  bool internal;
  Value extra;
};

// A bOnError callable that records every report.
struct Recorder {
  std::shared_ptr<std::vector<Report>> calls = std::make_shared<std::vector<Report>>();
  Value block() const {
    auto c = calls;
    return Value(Callable([c](Args a) -> Value {
      c->push_back({argAt(a, 1).asInt(), argAt(a, 2).asBool(), argAt(a, 3)});
      return {};
    }));
  }
  std::vector<long long> numbers() const {
    std::vector<long long> out;
    for (const Report& r : *calls) out.push_back(r.number);
    return out;
  }
};

// Column col of the first row of a statement sent through the server object.
inline std::string ask(const ServerPtr& s, const std::string& sql, unsigned col = 0) {
  if (!s->SqlQuery(sql)) return "<failed>";
  const db::Handle res = db::storeResult(s->handle());
  db::RowView row;
  std::string out = db::fetchRow(res, row) && col < row.count ? std::string(row.at(col)) : "<no row>";
  db::freeResult(res);
  return out;
}

inline std::string cipherOf(const ServerPtr& s) { return ask(s, "SHOW SESSION STATUS LIKE 'Ssl_cipher'", 1); }

inline ServerPtr connectServer(const Value& onError, const Value& database = {}) {
  const ServerEnv& e = serverEnv();
  ServerPtr s = TQuillonSrv::create();
  s->New(e.host, e.user, e.password, static_cast<int>(e.port), 0, database.isNil() ? Value(e.database) : database,
         onError);
  return s;
}

// A plain connection of the binding, for set-up and for reading back.
class SideConnection {
 public:
  explicit SideConnection(const std::string& database = serverEnv().database) {
    const ServerEnv& e = serverEnv();
    conn_ = db::connect(e.host.c_str(), e.user.c_str(), e.password.c_str(), e.port, 0, database.c_str());
    // Set-up and reading back stay out of the general log, which the
    // statement checks of other tests scan whole.
    const std::string quiet = "SET SESSION sql_log_off = 1";
    db::query(conn_, quiet.data(), quiet.size());
  }
  ~SideConnection() { db::close(conn_); }
  SideConnection(const SideConnection&) = delete;
  SideConnection& operator=(const SideConnection&) = delete;

  db::Handle handle() const { return conn_; }
  void exec(const std::string& sql) {
    ASSERT_EQ(db::query(conn_, sql.data(), sql.size()), 0) << sql << ": " << db::error(conn_);
  }
  // Every row of a statement, NULL as "<NULL>".
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    std::vector<std::vector<std::string>> out;
    if (db::query(conn_, sql.data(), sql.size()) != 0) {
      ADD_FAILURE() << sql << ": " << db::error(conn_);
      return out;
    }
    db::Handle res = db::storeResult(conn_);
    db::RowView row;
    while (db::fetchRow(res, row)) {
      std::vector<std::string> r;
      for (unsigned i = 0; i < row.count; ++i) r.push_back(row.isNull(i) ? "<NULL>" : std::string(row.at(i)));
      out.push_back(std::move(r));
    }
    db::freeResult(res);
    return out;
  }
  std::string scalar(const std::string& sql) {
    auto r = rows(sql);
    return r.empty() || r[0].empty() ? std::string() : r[0][0];
  }

 private:
  db::Handle conn_ = 0;
};

// The statements one connection sent, as the server's general log records
// them. The log is switched on for the whole server and left on: tests run in
// parallel processes, and one switching it off would blind another.
class StatementLog {
 public:
  explicit StatementLog(const ServerPtr& server) {
    side_.exec("SET GLOBAL log_output = 'TABLE'");
    side_.exec("SET GLOBAL general_log = 1");
    server->SqlQuery("SELECT CONNECTION_ID()");
    db::Handle res = db::storeResult(server->handle());
    db::RowView row;
    if (db::fetchRow(res, row)) thread_ = std::string(row.at(0));
    db::freeResult(res);
    fresh();
  }
  // The statements received since the last call, in order.
  std::vector<std::string> fresh() {
    auto all = side_.rows("SELECT argument FROM mysql.general_log WHERE command_type = 'Query' AND thread_id = " +
                          thread_);
    std::vector<std::string> out;
    for (std::size_t i = seen_; i < all.size(); ++i) out.push_back(all[i][0]);
    seen_ = all.size();
    return out;
  }
  // The single statement received since the last call ("" and a failure otherwise).
  std::string last() {
    auto f = fresh();
    EXPECT_EQ(f.size(), 1u) << (f.empty() ? std::string("nothing sent") : f.front());
    return f.empty() ? std::string() : f.back();
  }

 private:
  SideConnection side_;
  std::string thread_;
  std::size_t seen_ = 0;
};

// A connected server object whose statements are read back from the general
// log, with a side connection; dropAll() clears what the tests create, before
// and after each test.
class LoggedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dropAll();
    server = connectServer(rec.block());
    ASSERT_FALSE(server->lError.asBool());
    log = std::make_unique<StatementLog>(server);
  }
  void TearDown() override {
    if (server) server->End();
    dropAll();
  }
  virtual void dropAll() = 0;

  Recorder rec;
  SideConnection side;
  ServerPtr server;
  std::unique_ptr<StatementLog> log;
};


// The first column of the first row of a statement as a whole number (-1 for no row).
inline long long scalarOf(const ServerPtr& s, const std::string& sql) {
  EXPECT_TRUE(s->SqlQuery(sql));
  long long res = db::storeResult(s->handle());
  db::RowView row;
  long long v = -1;
  if (db::fetchRow(res, row)) v = std::stoll(std::string(row.at(0)));
  db::freeResult(res);
  return v;
}

}  // namespace veltro::testing
