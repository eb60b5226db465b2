// A test database of its own for dump round trips: Backup then Restore (and
// the stock client) must bring every stored byte back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/sqltext.h"

namespace veltro::testing {

inline constexpr const char* kDb = "vtb_rt";

class DumpRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    side.exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    side.exec(std::string("CREATE DATABASE ") + kDb);
    side.exec("CREATE TABLE vtb_rt.canary (id int)");
    side.exec("INSERT INTO vtb_rt.canary VALUES (1)");
    server = connectServer(rec.block(), kDb);
    ASSERT_FALSE(server->lError.asBool());
    // Megabytes of hostile texts stay out of the general log that other tests scan.
    ASSERT_TRUE(server->SqlQuery("SET SESSION sql_log_off = 1"));
    dir = makeTempDir("roundtrip");
  }
  void TearDown() override {
    if (server) server->End();
    side.exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    side.exec("DROP TABLE IF EXISTS mysql.stolen");
    std::filesystem::remove_all(dir);
  }

  // Every stored byte of a table: its checksum and the HEX() of every column
  // (invisible ones too) of every row, sorted.
  std::vector<std::string> contents(const std::string& table) {
    std::string list;
    for (auto& r : side.rows("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = 'vtb_rt' AND "
                             "TABLE_NAME = '" +
                             db::escape(table, side.handle()) + "' ORDER BY ORDINAL_POSITION"))
      list += (list.empty() ? "" : ", '|', ") + std::string("IFNULL(HEX(") + quotedName(r[0]) + "), 'NULL')";
    std::vector<std::string> out;
    for (auto& r : side.rows("SELECT CONCAT(" + list + ") FROM vtb_rt." + quotedName(table))) out.push_back(r[0]);
    std::sort(out.begin(), out.end());
    out.push_back("checksum " + side.rows("CHECKSUM TABLE vtb_rt." + quotedName(table)).at(0).at(1));
    return out;
  }

  // Loads a dump with the stock client into the test database.
  void stockLoad(const std::string& file) {
    const std::string load = "mariadb --no-defaults -uroot -S '" + serverEnv().socket + "' vtb_rt < '" + file +
                             "' 2>'" + dir + "/stock.err'";
    ASSERT_EQ(std::system(load.c_str()), 0) << readAll(dir + "/stock.err");
  }

  // Backs the tables up, drops them, restores, and expects every byte back;
  // then drops them again and expects the same from the stock client. given:
  // the names as Backup takes them (by default each table's quoted name).
  void roundTrip(const std::vector<std::string>& tables, long batch = 0, bool drop = true,
                 const std::vector<std::string>& given = {}) {
    std::vector<std::vector<std::string>> before;
    for (const std::string& t : tables) before.push_back(contents(t));
    const std::string file = dir + "/rt.sql";
    Array names;
    for (const std::string& t : given.empty() ? tables : given) names.emplace_back(given.empty() ? quotedName(t) : t);
    EXPECT_FALSE(server->Backup(Value::arrayOf(names), file, drop, true, batch > 0 ? Value(batch) : Value()));
    ASSERT_EQ(rec.numbers(), std::vector<long long>{});
    for (int client = 0; client < 2; ++client) {
      SCOPED_TRACE(client == 0 ? "Restore" : "the stock client");
      for (const std::string& t : tables) side.exec("DROP TABLE vtb_rt." + quotedName(t));
      if (client == 0)
        EXPECT_TRUE(server->Restore(file));
      else
        stockLoad(file);
      EXPECT_EQ(rec.numbers(), std::vector<long long>{});
      rec.calls->clear();
      for (std::size_t i = 0; i < tables.size(); ++i) EXPECT_EQ(contents(tables[i]), before[i]) << tables[i];
    }
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_rt.canary"), "1");
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
  std::string dir;
};

}  // namespace veltro::testing
