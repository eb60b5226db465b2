// Opens a query, walks its rows, edits one and saves it. Errors go to a
// guarded block: the first one ends the block and comes back as an object.
//
//   VELTRO_TEST_HOST, VELTRO_TEST_PORT, VELTRO_TEST_USER, VELTRO_TEST_PASSWORD
//   and VELTRO_TEST_DB name the server and database. Exits 1 on failure.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <veltro/error.h>
#include <veltro/query.h>
#include <veltro/server.h>

using namespace veltro;

static std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

int main() {
  ServerPtr srv = TQuillonSrv::create();
  long long agedAnn = 0;
  ErrorPtr failure = guarded([&] {
    srv->New(env("VELTRO_TEST_HOST"), env("VELTRO_TEST_USER"), env("VELTRO_TEST_PASSWORD"),
             std::atoi(env("VELTRO_TEST_PORT").c_str()), 0, env("VELTRO_TEST_DB"));
    srv->SqlQuery("DROP TABLE IF EXISTS example_people");
    srv->SqlQuery("CREATE TABLE example_people (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(30), age INT)");
    srv->SqlQuery("INSERT INTO example_people (name, age) VALUES ('Ann', 39), ('Bob', 25), ('Cid', 61)");

    // The whole result is in memory; the cursor starts on row 1.
    QueryPtr q = srv->Query("SELECT id, name, age FROM example_people ORDER BY id");
    for (; !q->Eof(); q->Skip()) {
      // Texts come padded to the column's width; trimRight takes the blanks off.
      std::string name(trimRight(q->FieldGet("name").asString()));
      std::printf("%lld %s %lld\n", static_cast<long long>(q->FieldGet("id").asInt()), name.c_str(),
                  static_cast<long long>(q->FieldGet("age").asInt()));
    }

    // Edit the first row by column name; Save sends UPDATE ... WHERE id = 1.
    q->GoTop();
    q->FieldPut("age", q->FieldGet("age").asInt() + 1);
    q->Save();
    q->End();

    QueryPtr check = srv->Query("SELECT age FROM example_people WHERE name = 'Ann'");
    agedAnn = check->FieldGet(1).asInt();
    check->End();
    srv->SqlQuery("DROP TABLE example_people");
  });
  srv->End();

  if (failure) {
    std::fprintf(stderr, "%s\n", errorMessage(*failure).c_str());
    return 1;
  }
  std::printf("Ann is now %lld\n", agedAnn);
  return agedAnn == 40 ? 0 : 1;
}
