// The typed face's round trip, shared by the client-server and embedded
// suites: each column type with its C++ type and values (NULL, zero or empty,
// both ends, a sample), written through execute and through a prepared
// statement, read back through query, stream, value and the prepared query.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "test_env.h"
#include "veltro/session.h"

namespace veltro::roundtrip {

// The settings of the test server's account and database.
inline Settings testSettings() {
  const testing::ServerEnv& e = testing::serverEnv();
  Settings s;
  s.host = e.host;
  s.port = e.port;
  s.user = e.user;
  s.password = e.password;
  s.database = e.database;
  return s;
}

using namespace std::chrono;
using Micros = sys_time<microseconds>;

inline Micros at(int y, unsigned m, unsigned d, long long micro) {
  return sys_days(year(y) / month(m) / day(d)) + microseconds(micro);
}
inline constexpr long long kSecond = 1000000;
inline constexpr long long kHour = 3600 * kSecond;

template <class T>
std::string shown(const T& v) {
  if constexpr (std::is_same_v<T, std::string>) {
    return v.size() > 40 ? v.substr(0, 40) + "..." : v;
  } else if constexpr (std::is_same_v<T, Number>) {
    return v.text();
  } else if constexpr (std::is_arithmetic_v<T>) {
    return std::to_string(v);
  } else {
    return "(value)";
  }
}

// One column type and its values; run() checks every way in and out, many()
// writes them in one executeMany and reads them back.
struct Case {
  std::string column;
  std::function<void(Session&, const std::string&)> run;
  std::function<void(Session&, const std::string&)> many;
};

// Writes values into table.v through both ways in and reads them back through every way out.
template <class T>
void check(Session& s, const std::string& table, const std::vector<std::optional<T>>& values) {
  s.execute("DELETE FROM " + table);
  Statement insert = s.prepare("INSERT INTO " + table + " (id, v) VALUES (?, ?)");
  const int n = static_cast<int>(values.size());
  for (int i = 0; i < n; ++i) {
    s.execute("INSERT INTO " + table + " (id, v) VALUES (?, ?)", i, values[i]);
    insert.execute(n + i, values[i]);
  }
  auto expectRow = [&](int id, const std::optional<T>& got, const char* how) {
    const std::optional<T>& want = values[id % n];
    EXPECT_EQ(got.has_value(), want.has_value()) << how << " id " << id;
    if (got && want) {
      EXPECT_TRUE(*got == *want) << how << " id " << id << ": " << shown(*got) << " != " << shown(*want);
    }
  };
  const std::string select = "SELECT id, v FROM " + table + " ORDER BY id";
  Rows rows = s.query(select);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(2 * n));
  for (const Row& r : rows) expectRow(r.get<int>(0), r.get<std::optional<T>>(1), "query");
  int seen = 0;
  for (const Row& r : s.stream(select)) {
    expectRow(r.get<int>(0), r.get<std::optional<T>>("v"), "stream");
    ++seen;
  }
  EXPECT_EQ(seen, 2 * n);
  Statement byId = s.prepare("SELECT v FROM " + table + " WHERE id = ?");
  for (int id = 0; id < 2 * n; ++id) {
    expectRow(id, s.value<std::optional<T>>("SELECT v FROM " + table + " WHERE id = ?", id), "value");
    Rows one = byId.query(id);
    ASSERT_EQ(one.size(), 1u);
    expectRow(id, one[0].get<std::optional<T>>(0), "prepared query");
  }
}

// Writes values into table.v with one executeMany and reads them back.
template <class T>
void checkMany(Session& s, const std::string& table, const std::vector<std::optional<T>>& values) {
  s.execute("DELETE FROM " + table);
  std::vector<std::tuple<int, std::optional<T>>> rows;
  for (std::size_t i = 0; i < values.size(); ++i) rows.emplace_back(static_cast<int>(i), values[i]);
  Statement insert = s.prepare("INSERT INTO " + table + " (id, v) VALUES (?, ?)");
  EXPECT_EQ(insert.executeMany(rows).affected, values.size());
  Rows back = s.query("SELECT id, v FROM " + table + " ORDER BY id");
  ASSERT_EQ(back.size(), values.size());
  for (const Row& r : back) {
    const std::optional<T> got = r.get<std::optional<T>>(1);
    const std::optional<T>& want = values[r.get<std::size_t>(0)];
    EXPECT_EQ(got.has_value(), want.has_value()) << "id " << r.get<int>(0);
    if (got && want) {
      EXPECT_TRUE(*got == *want) << "id " << r.get<int>(0) << ": " << shown(*got) << " != " << shown(*want);
    }
  }
}

template <class T>
Case make(std::string column, std::vector<std::optional<T>> values) {
  return {column, [values](Session& s, const std::string& table) { check<T>(s, table, values); },
          [values](Session& s, const std::string& table) { checkMany<T>(s, table, values); }};
}

inline std::string allBytes() {
  std::string s;
  for (int c = 0; c < 256; ++c) s += static_cast<char>(c);
  return s;
}

inline Number decimal(const char* text) {
  Number n;
  Number::parse(text, n);
  return n;
}

// The column types and their values.
inline std::vector<Case> cases() {
  const std::nullopt_t null = std::nullopt;
  std::vector<Case> all = {
      make<std::int8_t>("TINYINT", {null, 0, -128, 127, 42}),
      make<std::uint8_t>("TINYINT UNSIGNED", {null, 0, 255, 7}),
      make<std::int16_t>("SMALLINT", {null, 0, -32768, 32767, -300}),
      make<std::uint16_t>("SMALLINT UNSIGNED", {null, 0, 65535}),
      make<std::int32_t>("MEDIUMINT", {null, 0, -8388608, 8388607}),
      make<std::uint32_t>("MEDIUMINT UNSIGNED", {null, 0, 16777215}),
      make<std::int32_t>("INT", {null, 0, INT32_MIN, INT32_MAX, 123456}),
      make<std::uint32_t>("INT UNSIGNED", {null, 0, UINT32_MAX}),
      make<std::int64_t>("BIGINT", {null, 0, INT64_MIN, INT64_MAX, -5}),
      make<std::uint64_t>("BIGINT UNSIGNED", {null, 0, UINT64_MAX, 9223372036854775808ull}),
      make<Number>("DECIMAL(65,30)", {null, Number::fromInt(0), decimal("-99999999.999999999999999999999999999999"),
                                      decimal("99999999.999999999999999999999999999999"), decimal("1234.5")}),
      // The widest DECIMAL has more digits than a Number holds: as its text.
      make<std::string>("DECIMAL(65,30)", {"99999999999999999999999999999999999.999999999999999999999999999999",
                                           "-0.000000000000000000000000000001"}),
      // The text protocol shows a FLOAT with 6 significant digits.
      make<float>("FLOAT", {null, 0.0f, -3.40282e38f, 3.40282e38f, 1.5f, 0.1f}),
      make<double>("DOUBLE", {null, 0.0, -1.7976931348623157e308, 1.7976931348623157e308, 0.1, 5e-324}),
      make<std::string>("VARCHAR(255) CHARACTER SET utf8mb4",
                        {null, "", "  blanks kept  ", std::string(255, 'z'), "a\xc3\xb1\xe2\x82\xac\xf0\x9f\x98\x80"}),
      make<std::string>("CHAR(10) CHARACTER SET utf8mb4", {null, "", "  lead", "\xe2\x82\xac" "234567890"}),
      make<std::string>("TEXT CHARACTER SET latin1", {null, "", " a\tb\r\n ", std::string(65535, 'x'), "a\xc3\xb1o"}),
      make<std::string>("BLOB", {null, "", allBytes(), std::string(1, '\0')}),
      make<std::string>("BINARY(4)", {null, std::string(4, '\0'), "\xff\xff\xff\xff", std::string("a\0b'", 4)}),
      make<std::string>("VARBINARY(300)", {null, "", allBytes()}),
      make<year_month_day>("DATE", {null, 1970y / 1 / 1, 1000y / 1 / 1, 9999y / 12 / 31, 2024y / 2 / 29}),
      make<Micros>("DATETIME(6)", {null, at(1970, 1, 1, 0), at(1000, 1, 1, 0), at(9999, 12, 31, 24 * kHour - 1),
                                   at(2024, 2, 29, 12 * kHour + 789012)}),
      make<Micros>("TIMESTAMP(6) NULL", {null, at(1970, 1, 1, kSecond), at(2038, 1, 19, 3 * kHour + 14 * 60 * kSecond + 7 * kSecond + 999999),
                                         at(2024, 2, 29, 1)}),
      make<microseconds>("TIME(6)", {null, microseconds(0), -microseconds(838 * kHour + 3599 * kSecond),
                                     microseconds(838 * kHour + 3599 * kSecond), -microseconds(kHour + 2 * kSecond + 500000),
                                     microseconds(100 * kHour)}),
      make<int>("YEAR", {null, 0, 1901, 2155, 2024}),
      make<bool>("BIT(1)", {null, false, true}),
      make<std::uint64_t>("BIT(64)", {null, 0, UINT64_MAX, 0x8000000000000001ull}),
      make<std::string>("ENUM('a','b','c')", {null, "a", "c", "b"}),
      make<std::string>("SET('a','b','c')", {null, "", "a", "a,b,c"}),
      make<std::string>("JSON", {null, "null", "{\"a\": [1, 2.5, \"x\"]}", "[]"}),
  };
  return all;
}

// Every case in its own table of the session's current database.
inline void runAll(Session& s) {
  // TIMESTAMP values are shown in the session's time zone: one without shifts.
  s.execute("SET time_zone = '+00:00'");
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.column);
    s.execute("CREATE OR REPLACE TABLE vs_types (id INT PRIMARY KEY, v " + c.column + ")");
    c.run(s, "vs_types");
  }
  s.execute("DROP TABLE vs_types");
}

}  // namespace veltro::roundtrip
