// The measured part of the benchmark: select rows of clientes and update each
// of them by the chosen method.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "veltro/console.h"
#include "veltro/query.h"
#include "veltro/server.h"

namespace veltro {

// The four methods, in menu order.
const std::vector<std::string>& updateMethods();

// The statement that selects the rows: the count right-aligned in 10 columns.
std::string selectionStatement(long records);

// What finds the current row: its notes text, that text escaped for the
// connection, and the condition notes='...'.
struct RowKey {
  Value notes;
  std::string escaped;
  Value filter = Value(std::string());  // notes='...', handed to Update as it is
};
// Reads the current row's key into key; its buffers serve row after row.
void rowKey(TQuillonSrv& server, TQuillonQry& query, RowKey& key);

// One row's update by each method, as UPDATES runs them (the benchmark under
// bench/ calls the same functions, so it measures what the program does).
void methodUpdate(TQuillonSrv& server, const RowKey& key);
void buildSentence(TQuillonSrv& server, const RowKey& key);
void methodSave(TQuillonQry& query);
void sentenceUpdate(TQuillonSrv& server, const RowKey& key);
// The current row's update by method option (1 to 4; any other: none).
void updateRow(TQuillonSrv& server, TQuillonQry& query, int option, const RowKey& key);

// What a run did: rows updated and the time they took.
struct RunSummary {
  std::string method;  // the menu item of the method
  long rows = 0;
  double ms = 0;
};
// "Rows: 100  Time: 52.3 ms  Rows/s: 1912"
std::string summaryText(const RunSummary& run);

// Called before each row's update: its key, the rows done so far, the rows
// selected, and the milliseconds since the run began.
using Progress = std::function<void(const RowKey& key, long done, long selected, double ms)>;

// Selects records rows and updates each by method option (1 to 4); progress may be empty.
RunSummary runUpdates(const ServerPtr& server, int option, long records, const Progress& progress);

// Runs method option (1 to 4) over records rows and shows the elapsed time on screen.
void UPDATES(const ServerPtr& server, int option, long records, const std::vector<std::string>& menu,
             Screen& screen);

}  // namespace veltro
