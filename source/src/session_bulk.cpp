// The typed face's executeMany: a statement's rows in batches under the
// server's max_allowed_packet, by array binding on a MariaDB server, else as
// multi-row INSERTs written by the literal writer, else a row at a time.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server_codes.h"
#include "session_impl.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "sql_typed_literal.h"
#include "veltro/binding.h"
#include "veltro/prepared.h"
#include "veltro/session.h"

namespace veltro {

BulkError::BulkError(unsigned number, std::string sqlstate, const std::string& message, std::size_t row,
                     std::size_t applied)
    : SqlError(number, std::move(sqlstate), message), row_(row), applied_(applied) {}

namespace detail {

BulkHooks bulkHooks;

namespace {

constexpr std::size_t kPacketSlack = 64 * 1024;  // the packet's head and the statement's own text
constexpr unsigned kLockWaitTimeout = 1205;

// An INSERT ... VALUES (...) cut where its rows repeat: the text before the
// row, the row's pieces around its width placeholders, the text after it.
struct RowTemplate {
  std::string_view head, tail;
  std::vector<std::string_view> pieces;
  bool ok = false;
};

// The template of sql, read by the lexer; not ok when sql is no INSERT or
// REPLACE whose placeholders all stand in its one VALUES row.
RowTemplate splitValues(std::string_view sql, const sql::Dialect& d, std::size_t width) {
  RowTemplate t;
  const sql::Token first = sql::firstCode(sql, d);
  if (!sql::isKeyword(sql, first, "INSERT") && !sql::isKeyword(sql, first, "REPLACE")) return t;
  sql::Lexer lex(sql, d);
  std::size_t open = 0, close = 0, outside = 0, depth = 0, from = 0;
  bool values = false;
  for (sql::Token k = lex.next(); k.kind != sql::Tok::End; k = lex.next()) {
    if (!sql::isCode(k)) continue;
    const char c = k.kind == sql::Tok::Punct ? sql[k.begin] : '\0';
    if (open == 0) {
      if (values && c == '(') {
        open = k.begin;
        from = k.begin;
        depth = 1;
      } else {
        values = depth == 0 && (sql::isKeyword(sql, k, "VALUES") || sql::isKeyword(sql, k, "VALUE"));
        if (c == '(') ++depth;
        if (c == ')' && depth > 0) --depth;
        if (c == '?') ++outside;
      }
      continue;
    }
    if (close != 0) {
      if (c == '?') ++outside;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) close = k.end;
    if (c == '?') {
      t.pieces.push_back(sql.substr(from, k.begin - from));
      from = k.end;
    }
  }
  if (open == 0 || close == 0 || outside != 0 || t.pieces.size() != width) return t;
  t.pieces.push_back(sql.substr(from, close - from));
  t.head = sql.substr(0, open);
  t.tail = sql.substr(close);
  t.ok = true;
  return t;
}

// Bytes a row takes at most in a batch of the binary protocol.
std::size_t binaryBytes(const Param* cells, std::size_t width) {
  std::size_t n = 0;
  for (std::size_t k = 0; k < width; ++k) {
    switch (cells[k].kind) {
      case Param::Kind::Null: n += 1; break;
      case Param::Kind::Text: n += 10 + cells[k].text.size(); break;
      case Param::Kind::Decimal: n += 80; break;
      default: n += 16; break;
    }
  }
  return n;
}

// A failure that says nothing of one row: a loss, a conflict, a refusal of
// the whole session, or the library's own.
bool aboutTheSession(unsigned number) {
  return number >= kClientErrorsFrom || number == kDeadlock || number == kLockWaitTimeout ||
         number == kNodeNotReady;
}

// One executeMany: its rows, cut into batches and sent.
class Batches {
 public:
  Batches(PreparedCore& p, std::size_t rows, std::size_t width, RowFill fill, const void* range)
      : p_(p), s_(*p.session), rows_(rows), width_(width), fill_(fill), range_(range), cells_(width) {}
  Outcome run();

 private:
  enum class Mode { Binary, Text, Single };
  void choose();
  // Makes the batch of rows from from on (up to end, under the limit); returns where it ends.
  std::size_t make(std::size_t from, std::size_t end);
  std::size_t bind(std::size_t from, std::size_t end);
  std::size_t write(std::size_t from, std::size_t end);
  // Sends the batch made last, of rows rows; throws the server's error.
  void send(std::size_t rows);
  void plain(const char* sql) {
    SessionCore::Scope scope(s_);
    s_.send(sql);
  }
  [[noreturn]] void failed(const SqlError& e, std::size_t from, std::size_t to, bool inTransaction);
  std::size_t locate(std::size_t from, std::size_t to);

  PreparedCore& p_;
  SessionCore& s_;
  std::size_t rows_, width_;
  RowFill fill_;
  const void* range_;
  std::vector<Param> cells_;
  Mode mode_ = Mode::Single;
  RowTemplate template_;
  std::size_t limit_ = 0;
  std::size_t current_ = 0;  // the row being made
  std::string text_;
  Outcome out_;
};

void Batches::choose() {
  if (p_.maxPacket == 0) {
    const Rows r = s_.query("SELECT @@max_allowed_packet", nullptr, 0);
    p_.maxPacket = r.empty() ? std::size_t{1} << 20 : r[0].get<std::size_t>(0);
  }
  limit_ = p_.maxPacket > 2 * kPacketSlack ? p_.maxPacket - kPacketSlack : p_.maxPacket / 2;
  if (bulkHooks.batchBytes != 0) limit_ = bulkHooks.batchBytes;
  if (p_.lost || p_.stmt->connection() != s_.handle()) p_.prepare();
  if (!bulkHooks.textOnly && p_.stmt->bulkSupported()) {
    mode_ = Mode::Binary;
    return;
  }
  template_ = splitValues(p_.sql, sql::dialectOf(s_.handle()), width_);
  mode_ = template_.ok ? Mode::Text : Mode::Single;
}

std::size_t Batches::make(std::size_t from, std::size_t end) {
  switch (mode_) {
    case Mode::Binary: return bind(from, end);
    case Mode::Text: return write(from, end);
    case Mode::Single: break;
  }
  current_ = from;
  fill_(range_, from, cells_.data());
  text_.assign(s_.expand(p_.sql, cells_.data(), width_));
  return from + 1;
}

std::size_t Batches::bind(std::size_t from, std::size_t end) {
  p_.bound.clear();
  p_.numerals.clear();
  std::size_t bytes = 0, to = from;
  for (; to < end; ++to) {
    current_ = to;
    fill_(range_, to, cells_.data());
    const std::size_t size = binaryBytes(cells_.data(), width_);
    if (to > from && bytes + size > limit_) break;
    bytes += size;
    p_.bound.resize(p_.bound.size() + width_);
    p_.bindRow(cells_.data(), width_, p_.bound.data() + p_.bound.size() - width_);
  }
  return to;
}

std::size_t Batches::write(std::size_t from, std::size_t end) {
  const db::Handle h = s_.handle();
  text_.assign(template_.head);
  std::size_t to = from;
  for (; to < end; ++to) {
    current_ = to;
    const std::size_t mark = text_.size();
    if (to > from) text_ += ',';
    fill_(range_, to, cells_.data());
    for (std::size_t k = 0; k < width_; ++k) {
      text_ += template_.pieces[k];
      if (!appendParamLiteral(text_, cells_[k], h))
        fail(kErrArgument, "22018", "argument " + std::to_string(k + 1) + " has no SQL literal");
    }
    text_ += template_.pieces[width_];
    if (to > from && text_.size() + template_.tail.size() > limit_) {
      text_.resize(mark);
      break;
    }
  }
  text_ += template_.tail;
  return to;
}

void Batches::send(std::size_t rows) {
  std::uint64_t affected = 0, id = 0;
  if (mode_ == Mode::Binary) {
    if (p_.lost || p_.stmt->connection() != s_.handle()) p_.prepare();
    db::PreparedStatement& st = *p_.stmt;
    if (!st.executeBulk(p_.bound.data(), rows)) {
      if (st.errnum() == 0) fail(kErrArgument, "22018", "the rows' values of one column are of different types");
      p_.lost = connectionGone(st.errnum());
      p_.throwError();
    }
    affected = st.affectedRows();
    id = st.insertId();
  } else {
    SessionCore::Scope scope(s_);
    s_.send(text_);
    affected = static_cast<std::uint64_t>(db::affectedRows(s_.handle()));
    id = db::insertId(s_.handle());
    if (db::fieldCount(s_.handle()) != 0) s_.settle();
  }
  out_.affected += affected;
  if (out_.insertId == 0) out_.insertId = id;
}

Outcome Batches::run() {
  choose();
  const bool inTransaction = s_.inTransaction();
  // Inside a transaction a failure takes back every row of the call, and only those.
  if (inTransaction) plain("SAVEPOINT veltro_many");
  for (std::size_t from = 0; from < rows_;) {
    std::size_t to = from;
    try {
      to = make(from, rows_);
      send(to - from);
    } catch (const UnknownOutcome& e) {
      throw UnknownOutcome(e.number(), e.sqlstate(),
                           std::string(e.what()) + " (executeMany: rows " + std::to_string(from) + " to " +
                               std::to_string(to - 1) + " may or may not be applied; " +
                               (inTransaction ? std::string("the transaction is lost")
                                              : std::to_string(from) + " rows before them are") + ")");
    } catch (const SqlError& e) {
      failed(e, from, to, inTransaction);
    }
    from = to;
  }
  if (inTransaction) plain("RELEASE SAVEPOINT veltro_many");
  return out_;
}

void Batches::failed(const SqlError& e, std::size_t from, std::size_t to, bool inTransaction) {
  const unsigned number = e.number();
  if (aboutTheSession(number) && number != kErrArgument) throw;
  // A batch is one statement: it applied nothing, and the row is found by
  // probing (a row that could not be written was the one being made).
  const std::size_t row = to > from + 1 ? locate(from, to) : current_;
  if (inTransaction) plain("ROLLBACK TO SAVEPOINT veltro_many");
  const std::size_t applied = inTransaction ? 0 : from;
  throw BulkError(number, e.sqlstate(),
                  std::string(e.what()) + " (executeMany: row " + std::to_string(row) + " failed, " +
                      std::to_string(applied) + " rows applied)",
                  row, applied);
}

std::size_t Batches::locate(std::size_t from, std::size_t to) {
  // Each probe runs a head of the batch and is taken back: the first row
  // whose head fails is the failing one.
  const Outcome kept = out_;
  const bool own = !s_.inTransaction();
  if (own) plain("BEGIN");
  plain("SAVEPOINT veltro_probe");
  std::size_t good = from, bad = to;  // rows [from, good) run; [from, bad) fail
  while (bad - good > 1) {
    const std::size_t mid = good + (bad - good) / 2;
    bool ran = true;
    try {
      make(from, mid);
      send(mid - from);
    } catch (const SqlError& e) {
      if (aboutTheSession(e.number())) throw;
      ran = false;
    }
    plain("ROLLBACK TO SAVEPOINT veltro_probe");
    (ran ? good : bad) = mid;
  }
  plain(own ? "ROLLBACK" : "RELEASE SAVEPOINT veltro_probe");
  out_ = kept;
  return bad - 1;
}

}  // namespace

Outcome PreparedCore::runMany(std::size_t rows, std::size_t width, RowFill fill, const void* range) {
  session->ready();
  if (width != params)
    fail(kErrPlaceholders, "07001",
         "the statement has " + std::to_string(params) + " placeholders and its rows " + std::to_string(width) +
             " values");
  if (rows == 0) return {};
  return Batches(*this, rows, width, fill, range).run();
}

}  // namespace detail

Outcome Statement::executeRows(std::size_t rows, std::size_t width, detail::RowFill fill, const void* range) {
  return core_->runMany(rows, width, fill, range);
}

}  // namespace veltro
