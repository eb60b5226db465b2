// One table of a dump: its rows read in one streamed pass and written as
// INSERT statements, with the helpers Backup shares (names quoted for the
// dump's binary session, a query's rows as texts).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dump_file.h"
#include "dump_values.h"
#include "veltro/binding.h"
#include "veltro/server.h"

namespace veltro::detail {

// The dump quotes every name, byte by byte as its binary session reads them.
std::string backquoted(std::string_view name);

inline bool holdsLineBreak(std::string_view name) { return name.find_first_of("\r\n") != std::string_view::npos; }

// One result set, freed when it goes out of scope.
struct Result {
  db::Handle handle = 0;
  explicit Result(db::Handle h) : handle(h) {}
  ~Result() {
    if (handle != 0) db::freeResult(handle);
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
};

// The rows of one query, as text, added to rows; false when the query failed
// or gave no result (reported through the server).
bool readRows(TQuillonSrv& server, const std::string& sql, std::vector<std::vector<std::string>>& rows);
// The rows of one query, as text; failures reported through the server.
std::vector<std::vector<std::string>> rowsOf(TQuillonSrv& server, const std::string& sql);

// Writes one table's rows, read in one streamed pass (memory stays flat in
// the table's size), as INSERT statements of at most batchRows rows and
// statementBytes bytes (and half the server's max_allowed_packet), counted as
// written with their ";", and the LOCK/UNLOCK pair around them. A row whose
// statement alone is larger goes alone; one that no statement the server
// takes can hold fails the table (kErrDumpWrite).
// How a table's rows are loaded.
struct LoadOptions {
  bool lock = true;        // LOCK TABLES around them
  bool keysAfter = false;  // keys disabled while they load and built once after them
};

class TableWriter {
 public:
  TableWriter(TQuillonSrv& server, const std::string& table, long long batchRows, std::size_t statementBytes,
              LoadOptions load, const bool* cancel, std::string& out, DumpFile& file)
      : server_(server), table_(table), batch_(batchRows), statementBytes_(statementBytes), load_(load),
        cancel_(cancel), out_(out), file_(file) {}

  // False when the table could not be read whole (the error is reported).
  bool run();

 private:
  // The rows of these columns, read in one streamed pass and written.
  bool stream(const std::vector<std::string>& columns, const std::vector<bool>& floats,
              const std::vector<bool>& typed);
  // The rows of the streamed result res written, in statements of at most
  // bound bytes; a row alone of up to packet bytes.
  bool writeRows(db::Handle res, std::size_t bound, std::size_t packet);
  // The table's heading, and the LOCK and DISABLE KEYS its rows load under.
  void beginRows();
  // The SELECT that reads the columns (FLOAT as a double), and prefix_, the
  // INSERT that writes them.
  std::string selectFor(const std::vector<std::string>& columns, const std::vector<bool>& floats);
  bool cancelled() const { return cancel_ && *cancel_; }
  // Reports why the table could not be read: the connection's error, or
  // kErrDumpWrite when it holds none.
  bool failed() {
    if (db::errnum(server_.handle()) != 0)
      server_.CheckError();
    else
      server_.RaiseInternal(kErrDumpWrite, Value("table " + table_ + " could not be read"));
    return false;
  }
  // Whether a statement of statementBytes (its ";" included) is more than a
  // server with this packet takes; reported when it is.
  bool tooLarge(std::size_t statementBytes, std::size_t packet);

  TQuillonSrv& server_;
  const std::string& table_;
  long long batch_;
  std::size_t statementBytes_;
  LoadOptions load_;
  const bool* cancel_;
  std::string& out_;
  DumpFile& file_;
  std::vector<Form> forms_;
  std::string prefix_;
};

}  // namespace veltro::detail
