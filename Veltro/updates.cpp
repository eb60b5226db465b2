#include "updates.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "veltro/binding.h"
#include "veltro/clock.h"
#include "veltro/query.h"
#include "veltro/sqltext.h"

namespace veltro {

const std::vector<std::string>& updateMethods() {
  static const std::vector<std::string> items = {"Method Update", "Build Sentence", "Method Save",
                                                 "Sentence UPDATE"};
  return items;
}

std::string selectionStatement(long records) {
  char count[32];
  std::snprintf(count, sizeof count, "%10ld", records);
  return std::string("SELECT * FROM clientes LIMIT ") + count;
}

std::string notesFilter(const Value& notes, long long conn) {
  return "notes='" + db::escape(notes.asString(), conn) + "'";
}

void UPDATES(const ServerPtr& server, int option, long records, const std::vector<std::string>& menu,
             Screen& screen) {
  const std::string start = timeOfDay();
  const auto started = std::chrono::steady_clock::now();
  QueryPtr query = server->Query(selectionStatement(records));
  const Value columns = Value::array({"Married", "Age", "salary", "Notes"});
  long processed = 0;

  while (query && !query->Eof()) {
    Value notes = query->send("Notes");
    // The notes text is escaped, so a quote in it cannot change the statement.
    std::string escaped = db::escape(notes.asString(), server->handle());
    std::string filter = notesFilter(notes, server->handle());
    screen.writeAt(2, 1, filter);
    screen.writeAt(3, 1, "Process Time: " + elapsedTime(start, timeOfDay()));

    switch (option) {
      case 1:
        server->Update("clientes", columns, Value::array({false, 40, 10, notes}), filter);
        break;
      case 2: {
        const Value values = Value::array({false, 40, 10, Value(escaped)});
        std::string sql = "UPDATE clientes SET ";
        for (std::size_t i = 1; i <= columns.len(); ++i) {
          sql += columns.at(i).asString();
          sql += " = ";
          sql += CLIPVALUE2SQL(values.at(i));
          sql += ',';
        }
        sql.pop_back();
        sql += " WHERE ";
        sql += filter;
        server->SqlQuery(sql);
        break;
      }
      case 3:
        query->send("_married", true);
        query->send("_age", 30);
        query->send("_salary", 20);
        query->Save();
        break;
      case 4:
        server->SqlQuery(std::string("update clientes set ") + "married = 0," + "age = 40," + "salary = 10" +
                         " where " + filter);
        break;
      default:
        break;
    }
    ++processed;
    query->Skip();
  }

  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  std::string chosen = option >= 1 && option <= static_cast<int>(menu.size()) ? menu[option - 1] : std::string();
  screen.writeAt(4, 1, "Opcion: " + chosen);
  screen.newLine();
  // Finer than the second: rows visited, exact time and rate.
  char summary[128];
  std::snprintf(summary, sizeof summary, "Rows: %ld  Time: %.1f ms  Rows/s: %.0f", processed, ms,
                ms > 0 ? processed * 1000.0 / ms : 0.0);
  Position at = screen.cursor();
  screen.writeAt(at.row, 1, summary);
  screen.newLine();
}

}  // namespace veltro
