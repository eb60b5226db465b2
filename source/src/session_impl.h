// What the typed face's files share: the session's core over a server
// object, results held whole or streamed, and the errors they throw.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/binding.h"
#include "veltro/prepared.h"
#include "veltro/server.h"
#include "veltro/session.h"

namespace veltro::detail {

// Names and types of the columns of one result.
struct Columns {
  std::vector<std::string> names;
  std::vector<int> types;  // db::FieldType numbers
  std::vector<unsigned> flags;
  std::size_t size() const { return names.size(); }
  // The column of a name, without regard to letter case; SqlError kErrNoColumn when none.
  std::size_t indexOf(std::string_view name) const;
  void add(const db::FieldInfo& f) {
    names.push_back(f.name);
    types.push_back(f.type);
    flags.push_back(f.flags);
  }
};

[[noreturn]] void fail(unsigned number, const char* sqlstate, const std::string& message);

// A result held whole: the cells of each row, pointing into a stored result
// of the client library (text protocol) or into the arena (prepared).
struct ResultData {
  ResultData() = default;
  ResultData(const ResultData&) = delete;
  ResultData& operator=(const ResultData&) = delete;
  ~ResultData() {
    if (res != 0) db::freeResult(res);
  }
  Columns columns;
  db::Handle res = 0;
  std::string arena;
  std::vector<const char*> cells;  // row after row, columns.size() each; null for NULL
  std::vector<unsigned long> lengths;
  std::size_t rows = 0;
};

// The session's state: a server object (its own, or lent by its owner) and
// what reports reach while the session works on it.
struct SessionCore : std::enable_shared_from_this<SessionCore> {
  struct Report {
    bool any = false;
    unsigned number = 0;
    bool internal = false;
    std::string message;
    std::string sqlstate;
  };

  SessionCore(ServerPtr server, bool owns);
  ~SessionCore();
  SessionCore(const SessionCore&) = delete;
  SessionCore& operator=(const SessionCore&) = delete;

  // While one lives, the server object reports to this session (its own
  // error callback, if any, is put back afterwards).
  class Scope {
   public:
    explicit Scope(SessionCore& core);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    SessionCore& core_;
    Value saved_;
  };

  db::Handle handle() const { return srv->handle(); }
  // Refuses a statement while a stream is open.
  void ready() const;
  // The statement with each ? replaced by its argument's literal; sql itself
  // when it has no placeholder. Refuses a count that does not match.
  std::string_view expand(std::string_view sql, const Param* params, std::size_t count);
  // Sends a statement through the server object (failover, character set
  // following); throws what it reported. Inside a Scope.
  void send(std::string_view sql);
  // Drops further results of the last statement; throws a failure among them. Inside a Scope.
  void settle();
  // The same when nothing may be thrown (a stream dropped early).
  void settleQuietly() { srv->settleResults(); }
  // Throws the error the server object reported (or the connection holds).
  [[noreturn]] void throwReported();

  Outcome execute(std::string_view sql, const Param* params, std::size_t count);
  Rows query(std::string_view sql, const Param* params, std::size_t count);
  Stream stream(std::string_view sql, const Param* params, std::size_t count);
  static Rows rowsOf(std::shared_ptr<const ResultData> data) { return Rows(std::move(data)); }

  ServerPtr srv;
  bool owner;
  bool streaming = false;
  // Statements dropped while a stream was open: closing one then would read
  // into the stream's rows, so they are closed when it ends.
  std::vector<std::unique_ptr<db::PreparedStatement>> closeLater;
  std::shared_ptr<Report> last = std::make_shared<Report>();
  Value capture;     // the error callback that fills last
  std::string text;  // the statement being built, reused
};

// A stream's state: its result, read row by row, and the current row.
struct StreamState {
  ~StreamState();
  // Reads the next row into row; false past the end (the session is then free again).
  bool fetch();
  // Drops what is left and frees the session; quiet: nothing is thrown.
  void finish(bool quiet);

  std::shared_ptr<SessionCore> core;
  Columns columns;
  db::Handle res = 0;
  Row row;
  bool done = false;
  bool started = false;
  bool hasRow = false;  // row holds a row
};

}  // namespace veltro::detail
