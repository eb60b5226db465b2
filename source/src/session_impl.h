// What the typed face's files share: the session's core over a server
// object, results held whole or streamed, and the errors they throw.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/binding.h"
#include "veltro/prepared.h"
#include "veltro/server.h"
#include "veltro/session.h"
#include "server_impl.h"

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

// Whether a statement leaves nothing in its session beyond its transaction:
// a SELECT, INSERT, UPDATE, DELETE, REPLACE, WITH, VALUES or TABLE, or a
// transaction's own statement, naming no @ variable and calling no GET_LOCK
// or LAST_INSERT_ID(n). A SET, a USE, a CREATE TEMPORARY TABLE and anything
// else may: a pool resets the session before lending it again.
bool leavesNoState(std::string_view sql, long long conn);

// Test hooks of executeMany, set before sessions run and never while they
// do: multi-row statements even where the server takes array binding, and
// batches of at most batchBytes bytes (0: as the server's packet allows).
struct BulkHooks {
  bool textOnly = false;
  std::size_t batchBytes = 0;
};
extern BulkHooks bulkHooks;

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
  // Whether a transaction is open: BEGIN sent, and no COMMIT or ROLLBACK since.
  bool inTransaction() const { return srv->impl_->inTransaction_; }
  // Drops a stream not finished and rolls back an open transaction; never
  // throws. false when the connection is broken.
  bool rollbackQuietly() noexcept;
  // After a run of transact that certainly did not commit (cause: its
  // error): a new connection when the old one is gone or its node refused
  // (1047), else a pause that grows with attempt after a conflict.
  void recover(unsigned cause, unsigned attempt);
  // Makes the session as a new connection with settings would be (session
  // reset, character set and database); false when it cannot be used again.
  bool resetForReuse(const Settings& settings) noexcept;
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
  void settleQuietly() { srv->impl_->settleResults(); }
  // Throws the error the server object reported (or the connection holds).
  [[noreturn]] void throwReported();

  Outcome execute(std::string_view sql, const Param* params, std::size_t count);
  Rows query(std::string_view sql, const Param* params, std::size_t count);
  Stream stream(std::string_view sql, const Param* params, std::size_t count);
  static Rows rowsOf(std::shared_ptr<const ResultData> data) { return Rows(std::move(data)); }

  ServerPtr srv;
  bool owner;
  bool streaming = false;
  bool touched = false;  // a statement ran that may have left state in the session (leavesNoState)
  StreamState* openStream = nullptr;  // the stream not finished, while streaming
  // Statements dropped while a stream was open: closing one then would read
  // into the stream's rows, so they are closed when it ends.
  std::vector<std::unique_ptr<db::PreparedStatement>> closeLater;
  std::shared_ptr<Report> last = std::make_shared<Report>();
  Value capture;     // the error callback that fills last
  std::string text;  // the statement being built, reused
};

// A statement prepared on the server, with what its runs reuse.
struct PreparedCore {
  ~PreparedCore() {
    if (session && session->streaming && stmt) session->closeLater.push_back(std::move(stmt));
  }
  std::shared_ptr<SessionCore> session;
  std::string sql;
  std::unique_ptr<db::PreparedStatement> stmt;
  std::vector<db::StmtParam> bound;  // reused from run to run; a batch's rows one after another
  std::deque<std::string> numerals;  // Decimal arguments' texts, for one run (bound points into them)
  std::size_t params = 0;            // its placeholders, as first prepared
  bool lost = false;                 // its connection was lost: replaced before the next run
  std::size_t maxPacket = 0;         // the server's max_allowed_packet, asked by the first batch

  // Prepares sql on the session's connection (a lost one replaced first, as
  // statements do); throws why not.
  void prepare();
  // Runs with count arguments; throws on an error. A statement that never
  // reached the server (its connection gone) runs again on a new one.
  void run(const Param* args, std::size_t count, bool store);
  [[noreturn]] void throwError() const;
  void bind(const Param* params, std::size_t count);
  // Writes one row's count arguments into out (Decimal texts kept in numerals).
  void bindRow(const Param* params, std::size_t count, db::StmtParam* out);
  // executeMany: rows rows of width arguments each, filled by fill.
  Outcome runMany(std::size_t rows, std::size_t width, RowFill fill, const void* range);
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
