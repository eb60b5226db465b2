// The typed face: statements with ? arguments, results whole and streamed, rows.
#include <string>
#include <utility>

#include "server_codes.h"
#include "session_impl.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "sql_typed_literal.h"
#include "veltro/binding.h"
#include "veltro/session.h"

namespace veltro {

namespace detail {

std::size_t Columns::indexOf(std::string_view name) const {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (equalsNoCase(names[i], name)) return i;
  fail(kErrNoColumn, "42S22", "no column named \"" + std::string(name) + "\" in the result");
}

bool leavesNoState(std::string_view sql, long long conn) {
  static constexpr std::string_view kClean[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "REPLACE", "WITH", "VALUES",
                                                "TABLE",  "BEGIN",  "START",  "COMMIT", "ROLLBACK", "SAVEPOINT", "RELEASE"};
  sql::Lexer lex(sql, sql::dialectOf(conn));
  bool first = true;
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (!sql::isCode(t)) continue;
    if (first) {
      bool clean = false;
      for (std::string_view kw : kClean) clean = clean || sql::isKeyword(sql, t, kw);
      if (!clean) return false;
      first = false;
    }
    if (t.kind == sql::Tok::Punct && sql[t.begin] == '@') return false;
    if (sql::isKeyword(sql, t, "GET_LOCK") || sql::isKeyword(sql, t, "LAST_INSERT_ID")) return false;
  }
  return true;
}

std::string_view SessionCore::expand(std::string_view sql, const Param* params, std::size_t count) {
  const db::Handle h = handle();
  if (!touched && !leavesNoState(sql, h)) touched = true;
  // Placeholders are code: a ? in a quoted text, a backquoted name or a
  // comment is the text's, as the server reads it in this session.
  sql::Lexer lex(sql, sql::dialectOf(h));
  std::size_t n = 0, from = 0;
  text.clear();
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (t.kind != sql::Tok::Punct || sql[t.begin] != '?') continue;
    if (n < count) {
      text.append(sql.substr(from, t.begin - from));
      if (!appendParamLiteral(text, params[n], h))
        fail(kErrArgument, "22018",
             "argument " + std::to_string(n + 1) + " has no SQL literal (a text the connection's character set "
             "cannot carry, a number that is not finite, a date beyond year 9999)");
    }
    ++n;
    from = t.end;
  }
  if (n != count)
    fail(kErrPlaceholders, "07001",
         "the statement has " + std::to_string(n) + " placeholders and " + std::to_string(count) + " arguments");
  if (count == 0) return sql;
  text.append(sql.substr(from));
  return text;
}

Outcome SessionCore::execute(std::string_view sql, const Param* params, std::size_t count) {
  ready();
  Scope scope(*this);
  send(expand(sql, params, count));
  const db::Handle h = handle();
  const bool rows = db::fieldCount(h) != 0;
  Outcome out;
  if (!rows) {
    out.affected = static_cast<std::uint64_t>(db::affectedRows(h));
    out.insertId = db::insertId(h);
  }
  // A result set nobody asked for (a SELECT, a CALL's) is dropped.
  if (rows) settle();
  return out;
}

Rows SessionCore::query(std::string_view sql, const Param* params, std::size_t count) {
  ready();
  Scope scope(*this);
  send(expand(sql, params, count));
  const db::Handle h = handle();
  auto data = std::make_shared<ResultData>();
  data->res = db::storeResult(h);
  if (data->res == 0) {
    if (db::fieldCount(h) != 0) {
      srv->CheckError();
      throwReported();
    }
    return Rows(std::move(data));
  }
  for (const db::FieldInfo& f : db::fields(data->res)) data->columns.add(f);
  const std::size_t width = data->columns.size();
  const std::size_t n = static_cast<std::size_t>(db::numRows(data->res));
  data->cells.reserve(n * width);
  data->lengths.reserve(n * width);
  // A stored result's rows stay where they are until it is freed: the cells point into them.
  db::RowView row;
  while (db::fetchRow(data->res, row)) {
    for (unsigned i = 0; i < width; ++i) {
      data->cells.push_back(row.values[i]);
      data->lengths.push_back(row.lengths[i]);
    }
    ++data->rows;
  }
  settle();
  return Rows(std::move(data));
}

Stream SessionCore::stream(std::string_view sql, const Param* params, std::size_t count) {
  ready();
  auto state = std::make_unique<StreamState>();
  {
    Scope scope(*this);
    send(expand(sql, params, count));
    const db::Handle h = handle();
    state->res = db::useResult(h);
    if (state->res == 0) {
      if (db::fieldCount(h) != 0) {
        srv->CheckError();
        throwReported();
      }
      state->done = true;
      return Stream(std::move(state));
    }
    for (const db::FieldInfo& f : db::fields(state->res)) state->columns.add(f);
  }
  // Shared: the stream may outlive the Session object that made it.
  state->core = shared_from_this();
  streaming = true;
  openStream = state.get();
  return Stream(std::move(state));
}

StreamState::~StreamState() { finish(true); }

bool StreamState::fetch() {
  if (done) {
    hasRow = false;
    return false;
  }
  db::RowView view;
  if (db::fetchRow(res, view)) {
    row.columns_ = &columns;
    row.width_ = columns.size();
    row.values_ = view.values;
    row.lengths_ = view.lengths;
    hasRow = true;
    return true;
  }
  row.values_ = nullptr;
  hasRow = false;
  // A fetch that ends early leaves its error on the connection.
  const db::Handle h = core->handle();
  const unsigned number = db::errnum(h);
  if (number != 0) {
    const std::string message = db::error(h), state = db::sqlstate(h);
    finish(true);
    if (detail::lostInFlight(number)) throw UnknownOutcome(number, state, message);
    throw SqlError(number, state, message);
  }
  finish(false);
  return false;
}

void StreamState::finish(bool quiet) {
  if (done) return;
  done = true;
  db::freeResult(res);  // reads and drops the rows left
  res = 0;
  if (!core) return;
  core->streaming = false;
  core->openStream = nullptr;
  core->closeLater.clear();
  // A CALL's further results, and the character set it may have changed.
  SessionCore::Scope scope(*core);
  if (quiet) {
    core->settleQuietly();
    return;
  }
  core->settle();
}

}  // namespace detail

// --- Session --------------------------------------------------------------------

Outcome Session::executeParams(std::string_view sql, const detail::Param* params, std::size_t count) {
  return core_->execute(sql, params, count);
}

Rows Session::queryParams(std::string_view sql, const detail::Param* params, std::size_t count) {
  return core_->query(sql, params, count);
}

Stream Session::streamParams(std::string_view sql, const detail::Param* params, std::size_t count) {
  return core_->stream(sql, params, count);
}

// --- Rows and rows --------------------------------------------------------------

void Row::noField(std::size_t i) const {
  detail::fail(kErrNoColumn, "42S22", "no field " + std::to_string(i) + " in a row of " + std::to_string(size()));
}

std::string_view Row::name(std::size_t i) const {
  if (i >= size()) detail::fail(kErrNoColumn, "42S22", "no column " + std::to_string(i));
  return columns_->names[i];
}

std::size_t Row::indexOf(std::string_view column) const {
  if (!columns_) detail::fail(kErrNoColumn, "42S22", "no column named \"" + std::string(column) + "\"");
  return columns_->indexOf(column);
}

Rows::Rows() : data_(std::make_shared<detail::ResultData>()) {}

std::size_t Rows::size() const noexcept { return data_->rows; }

std::size_t Rows::columns() const noexcept { return data_->columns.size(); }

std::string_view Rows::name(std::size_t i) const {
  if (i >= columns()) detail::fail(kErrNoColumn, "42S22", "no column " + std::to_string(i));
  return data_->columns.names[i];
}

Row Rows::operator[](std::size_t i) const {
  const std::size_t width = data_->columns.size();
  Row r;
  r.columns_ = &data_->columns;
  r.width_ = width;
  r.values_ = data_->cells.data() + i * width;
  r.lengths_ = data_->lengths.data() + i * width;
  return r;
}

// --- Stream ------------------------------------------------------------------------

Stream::Stream(std::unique_ptr<detail::StreamState> state) : state_(std::move(state)) {}
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;
Stream::~Stream() = default;

std::size_t Stream::columns() const noexcept { return state_ ? state_->columns.size() : 0; }

std::string_view Stream::name(std::size_t i) const {
  if (i >= columns()) detail::fail(kErrNoColumn, "42S22", "no column " + std::to_string(i));
  return state_->columns.names[i];
}

Stream::iterator Stream::begin() {
  if (state_ && !state_->started) {
    state_->started = true;
    state_->fetch();
  }
  return iterator(state_.get());
}

const Row& Stream::iterator::operator*() const { return state_->row; }

Stream::iterator& Stream::iterator::operator++() {
  state_->fetch();
  return *this;
}

bool Stream::iterator::atEnd() const { return !state_ || !state_->hasRow; }

}  // namespace veltro
