// Connects to a server, runs statements, and sees the server's errors in a
// callback instead of ending the program.
//
//   VELTRO_TEST_HOST, VELTRO_TEST_PORT, VELTRO_TEST_USER, VELTRO_TEST_PASSWORD
//   and VELTRO_TEST_DB name the server and database. Exits 1 on failure.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <veltro/server.h>

using namespace veltro;

static std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int main() {
  std::vector<long long> errors;
  // Every failure of the server object ends here: (server, number, internal, extra).
  Value onError = Callable([&](Args a) -> Value {
    auto server = a[0].asObjectOf<TQuillonSrv>();
    errors.push_back(a[1].asInt());
    std::printf("error %lld%s: %s\n", static_cast<long long>(a[1].asInt()), a[2].asBool() ? " (internal)" : "",
                server->ErrorTxt().c_str());
    return {};
  });

  ServerPtr srv = TQuillonSrv::create();
  srv->New(env("VELTRO_TEST_HOST"), env("VELTRO_TEST_USER"), env("VELTRO_TEST_PASSWORD"),
           std::atoi(env("VELTRO_TEST_PORT").c_str()), 0, env("VELTRO_TEST_DB"), onError);
  if (!errors.empty()) return 1;  // could not connect: the callback said why

  srv->SqlQuery("DROP TABLE IF EXISTS example_people");
  srv->SqlQuery("CREATE TABLE example_people (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(30), age INT)");
  // Insert escapes the values; the lists pair column names with values.
  srv->Insert("example_people", Value::array({"name", "age"}), Value::array({"Ann O'Neil", 39}));
  srv->Insert("example_people", Value::array({"name", "age"}), Value::array({"Bob", 25}));
  if (!errors.empty()) return 1;

  // A statement the server refuses: SqlQuery returns false and the callback
  // receives 1146 (no such table); the program goes on.
  bool ran = srv->SqlQuery("SELECT * FROM example_no_such_table");
  std::printf("rows in example_people: %lld\n",
              static_cast<long long>(srv->GetRowsFromTable("example_people").asInt()));

  srv->SqlQuery("DROP TABLE example_people");
  srv->End();
  return !ran && errors.size() == 1 && errors[0] == 1146 ? 0 : 1;
}
