// The four update methods, the timed run over the selected rows and its summary line.
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

void rowKey(TQuillonSrv& server, TQuillonQry& query, RowKey& key) {
  key.notes = query.send("Notes");
  // The notes text is escaped, so a quote in it cannot change the statement.
  key.escaped.clear();
  db::escapeAppend(key.escaped, key.notes.asString(), server.handle());
  std::string& filter = key.filter.str();
  filter.assign("notes='");
  filter += key.escaped;
  filter += '\'';
}

namespace {

// The columns that Method Update and Build Sentence write, in their order.
const Value& updatedColumns() {
  static const Value columns = Value::array({"Married", "Age", "salary", "Notes"});
  return columns;
}

}  // namespace

void methodUpdate(TQuillonSrv& server, const RowKey& key) {
  static const Value table = "clientes";
  // One list of values for all rows of this thread: only the notes change.
  thread_local Value values = Value::array({false, 40, 10, ""});
  values.items()[3].assign(key.notes);
  server.Update(table, updatedColumns(), values, key.filter);
}

void buildSentence(TQuillonSrv& server, const RowKey& key) {
  // One list of values for all rows of this thread: only the notes change,
  // already escaped for the connection and written as they are.
  thread_local Value values = Value::array({false, 40, 10, ""});
  values.items()[3].str().assign(key.escaped);
  // The statement is written into the same text row after row.
  thread_local Value statement = Value(std::string());
  std::string& sql = statement.str();
  sql.clear();
  sql += "UPDATE clientes SET ";
  const Array& names = updatedColumns().items();
  const Array& literals = values.items();
  for (std::size_t i = 0; i < names.size(); ++i) {
    sql += names[i].asString();
    sql += " = ";
    // What CLIPVALUE2SQL gives for the value, written straight into the statement.
    appendSqlLiteral(sql, literals[i], literals[i].kindLetter(), true, false);
    sql += ',';
  }
  sql.pop_back();
  sql += " WHERE ";
  sql += key.filter.str();
  server.SqlQuery(statement);
}

void methodSave(TQuillonQry& query) {
  query.send("_married", true);
  query.send("_age", 30);
  query.send("_salary", 20);
  query.Save();
}

void sentenceUpdate(TQuillonSrv& server, const RowKey& key) {
  thread_local Value statement = Value(std::string());
  std::string& sql = statement.str();
  sql.assign("update clientes set married = 0,age = 40,salary = 10 where ");
  sql += key.filter.str();
  server.SqlQuery(statement);
}

void updateRow(TQuillonSrv& server, TQuillonQry& query, int option, const RowKey& key) {
  switch (option) {
    case 1:
      methodUpdate(server, key);
      break;
    case 2:
      buildSentence(server, key);
      break;
    case 3:
      methodSave(query);
      break;
    case 4:
      sentenceUpdate(server, key);
      break;
    default:
      break;
  }
}

std::string summaryText(const RunSummary& run) {
  char text[128];
  std::snprintf(text, sizeof text, "Rows: %ld  Time: %.1f ms  Rows/s: %.0f", run.rows, run.ms,
                run.ms > 0 ? run.rows * 1000.0 / run.ms : 0.0);
  return text;
}

RunSummary runUpdates(const ServerPtr& server, int option, long records, const Progress& progress) {
  const auto started = std::chrono::steady_clock::now();
  auto since = [&started] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  };
  QueryPtr query = server->Query(selectionStatement(records));
  const long selected = query ? static_cast<long>(query->LastRec()) : 0;
  RunSummary run;
  RowKey key;
  while (query && !query->Eof()) {
    rowKey(*server, *query, key);
    if (progress) progress(key, run.rows, selected, since());
    updateRow(*server, *query, option, key);
    ++run.rows;
    query->Skip();
  }
  run.ms = since();
  const std::vector<std::string>& menu = updateMethods();
  if (option >= 1 && option <= static_cast<int>(menu.size())) run.method = menu[option - 1];
  if (query) query->End();
  return run;
}

void UPDATES(const ServerPtr& server, int option, long records, const std::vector<std::string>& menu,
             Screen& screen) {
  const std::string start = timeOfDay();
  RunSummary run = runUpdates(server, option, records, [&](const RowKey& key, long done, long selected, double ms) {
    screen.writeAt(2, 1, key.filter.str());
    // The time, then how far the run is: rows done of rows selected, and the rate so far.
    char progressText[96];
    std::snprintf(progressText, sizeof progressText, "   Row %ld of %ld  %.0f rows/s", done + 1, selected,
                  ms > 0 ? done * 1000.0 / ms : 0.0);
    screen.writeAt(3, 1, "Process Time: " + elapsedTime(start, timeOfDay()) + progressText);
  });
  std::string chosen = option >= 1 && option <= static_cast<int>(menu.size()) ? menu[option - 1] : std::string();
  screen.writeAt(4, 1, "Opcion: " + chosen);
  screen.newLine();
  // Finer than the second: rows visited, exact time and rate.
  Position at = screen.cursor();
  screen.writeAt(at.row, 1, summaryText(run));
  screen.newLine();
}

}  // namespace veltro
