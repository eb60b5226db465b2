// The typed face: a small CRUD program with ? arguments, a prepared
// statement, NULL as std::optional, rows streamed, errors as exceptions.
//
//   VELTRO_TEST_HOST, VELTRO_TEST_PORT, VELTRO_TEST_USER, VELTRO_TEST_PASSWORD
//   and VELTRO_TEST_DB name the server and database. Exits 1 on failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <veltro/session.h>

using namespace std::chrono;

static std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int main() try {
  veltro::Settings settings;
  settings.host = env("VELTRO_TEST_HOST");
  settings.port = static_cast<unsigned>(std::atoi(env("VELTRO_TEST_PORT").c_str()));
  settings.user = env("VELTRO_TEST_USER");
  settings.password = env("VELTRO_TEST_PASSWORD");
  settings.database = env("VELTRO_TEST_DB");
  veltro::Session db = veltro::Session::open(settings);

  db.execute("CREATE OR REPLACE TABLE example_clients (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(40), "
             "born DATE NULL, balance DECIMAL(12,2), seen DATETIME(6) NULL)");

  // Create: values go in as themselves, no string building.
  const auto added = db.execute("INSERT INTO example_clients (name, born, balance) VALUES (?, ?, ?)",
                                "Ann O'Neil", year_month_day(1987y / 5 / 17), veltro::Number::fromInt(250));
  veltro::Statement add = db.prepare("INSERT INTO example_clients (name, born, balance, seen) VALUES (?, ?, ?, ?)");
  add.execute("  Bob  ", std::nullopt, veltro::Number::fromInt(0), time_point_cast<microseconds>(system_clock::now()));

  // Update and read one value back.
  db.execute("UPDATE example_clients SET balance = balance + ? WHERE id = ?", 0.5, added.insertId);
  std::printf("Ann's balance: %s\n", db.value<veltro::Number>("SELECT balance FROM example_clients WHERE id = ?",
                                                              added.insertId).text().c_str());

  // Read: NULL is std::nullopt, texts keep their blanks.
  for (const veltro::Row& r : db.stream("SELECT id, name, born FROM example_clients ORDER BY id")) {
    const auto born = r.get<std::optional<year_month_day>>("born");
    std::printf("%d [%s] %s\n", r.get<int>("id"), r.get<std::string>("name").c_str(),
                born ? (std::to_string(static_cast<int>(born->year())) + "-" +
                        std::to_string(static_cast<unsigned>(born->month()))).c_str()
                     : "born: unknown");
  }

  // Delete, and an error the server reports: an exception, and the session goes on.
  std::printf("deleted: %llu\n",
              static_cast<unsigned long long>(db.execute("DELETE FROM example_clients WHERE name = ?", "  Bob  ").affected));
  try {
    db.execute("SELECT * FROM example_no_such_table");
  } catch (const veltro::SqlError& e) {
    std::printf("error %u (%s): %s\n", e.number(), e.sqlstate().c_str(), e.what());
  }
  db.execute("DROP TABLE example_clients");
  return 0;
} catch (const veltro::SqlError& e) {
  std::fprintf(stderr, "statements: error %u: %s\n", e.number(), e.what());
  return 1;
}
