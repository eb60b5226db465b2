// The measured part of the benchmark: select rows of clientes and update each
// of them by the chosen method.
#pragma once

#include <string>
#include <vector>

#include "veltro/console.h"
#include "veltro/server.h"

namespace veltro {

// The four methods, in menu order.
const std::vector<std::string>& updateMethods();

// The statement that selects the rows: the count right-aligned in 10 columns.
std::string selectionStatement(long records);

// The condition that finds a row by its notes, "notes='...'", with the text
// escaped by the connection so that quotes and backslashes in it stay data.
std::string notesFilter(const Value& notes, long long conn);

// Runs method option (1 to 4) over records rows and shows the elapsed time on screen.
void UPDATES(const ServerPtr& server, int option, long records, const std::vector<std::string>& menu,
             Screen& screen);

}  // namespace veltro
