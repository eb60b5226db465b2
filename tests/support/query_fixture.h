// A connected server object for query and row tests, recording the errors it
// reports, with tables created per test and dropped afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "veltro/value.h"

namespace veltro::testing {

class QueryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const ServerEnv& env = serverEnv();
    srv = TQuillonSrv::create();
    Callable record = [this](Args a) -> Value {
      errors.push_back(static_cast<int>(a.size() > 1 ? a[1].asInt() : -1));
      return Value();
    };
    srv->New(env.host, env.user, env.password, static_cast<long>(env.port), 0, env.database, Value(record));
    ASSERT_NE(srv->handle(), 0) << "no connection to the test server";
    ASSERT_TRUE(errors.empty());
  }
  void TearDown() override {
    for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) srv->SqlQuery("DROP TABLE IF EXISTS " + *it);
    srv->End();
  }

  // Creates a table for this test (dropped first if a failed run left it).
  void table(const std::string& name, const std::string& definition, const std::string& options = "") {
    srv->SqlQuery("DROP TABLE IF EXISTS " + name);
    ASSERT_TRUE(srv->SqlQuery("CREATE TABLE " + name + " (" + definition + ") " + options)) << name;
    tables_.push_back(name);
  }
  void exec(const std::string& sql) { ASSERT_TRUE(srv->SqlQuery(sql)) << sql; }

  // The first column of the first row of a statement, read through a fresh query.
  Value scalar(const std::string& sql) {
    QueryPtr q = srv->Query(sql);
    Value v = q->FieldGet(1);
    q->End();
    return v;
  }

  // The first value of a statement as text without its padding.
  std::string text(const std::string& sql) { return std::string(trimRight(scalar(sql).asString())); }

  // Errors reported since the last call, then forgotten.
  std::vector<int> takeErrors() {
    std::vector<int> out;
    out.swap(errors);
    return out;
  }

  ServerPtr srv;
  std::vector<int> errors;

 private:
  std::vector<std::string> tables_;
};

// A text padded with blanks to the characters of a column: the length the
// query reports is in bytes, each character counted at the most bytes one
// takes in the connection's character set.
inline std::string padded(const std::string& text, const QueryPtr& q, const char* column) {
  const db::CharsetInfo charset = db::charsetInfo(q->oServer.asObjectOf<TQuillonSrv>()->handle());
  const std::size_t width = static_cast<std::size_t>(q->FieldLen(column)) / (charset.utf8 ? charset.maxBytes : 1);
  std::string out = text;
  if (text.size() < width) out.append(width - text.size(), ' ');  // ASCII texts: a byte is a character
  return out;
}

// Sets the padding setting for a scope and puts the old one back.
class PadSetting {
 public:
  explicit PadSetting(bool on) : before_(Q_SETPADRIGHT(Value(on))) {}
  ~PadSetting() { Q_SETPADRIGHT(Value(before_)); }

 private:
  bool before_;
};

// Element n (from 1) of an array of texts.
inline std::string item(const Value& array, std::size_t n) { return array.at(n).asString(); }

// The query tests' fixture (query_*_test.cpp): a people table and parsed statements.
class Query : public QueryFixture {
 protected:
  // Parses one statement on a fresh, unloaded query.
  QueryPtr parsed(const std::string& sql) {
    QueryPtr q = TQuillonQry::New(Value(), srv);
    q->BuildDatas(sql);
    return q;
  }
  // id, name CHAR(10), age, married TINYINT, born DATE, notes TEXT; three rows.
  void people() {
    table("qt_people",
          "id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, name CHAR(10), age INT, married TINYINT, born DATE, "
          "notes TEXT NULL", "CHARACTER SET latin1");
    exec("INSERT INTO qt_people (name, age, married, born, notes) VALUES "
         "('Ann', 39, 1, '2010-05-17', 'first'), ('Bob', 25, 0, NULL, NULL), ('Cid', 61, 5, '1999-12-31', '')");
  }
};

}  // namespace veltro::testing
