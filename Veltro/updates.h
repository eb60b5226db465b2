// The measured part of the benchmark: select rows of clientes and update each
// of them by the chosen method.
#pragma once

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

// Runs method option (1 to 4) over records rows and shows the elapsed time on screen.
void UPDATES(const ServerPtr& server, int option, long records, const std::vector<std::string>& menu,
             Screen& screen);

}  // namespace veltro
