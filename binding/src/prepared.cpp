// Prepared statements: the backend's statement object behind one owner.
#include "veltro/prepared.h"

#include <cstring>

#include "backend.h"
#include "db_detail.h"

namespace veltro::db {

static_assert(static_cast<int>(StmtParam::Kind::Time) == VELTRO_PARAM_TIME &&
              static_cast<int>(StmtParam::Kind::Text) == VELTRO_PARAM_TEXT);

PreparedStatement::PreparedStatement(Handle conn, std::string_view sql) : conn_(conn) {
  const detail::Entry* e = detail::connEntry(conn);
  if (!e) return;
  ops_ = e->ops;
  watch_ = e->watch;
  detail::WatchedCall call(watch_.get());
  stmt_ = ops_->stmtPrepare(e->object, sql.data(), static_cast<unsigned long>(sql.size()));
  prepared_ = stmt_ && ops_->stmtErrnum(stmt_) == 0;
}

PreparedStatement::~PreparedStatement() {
  // A statement whose connection is closed is only freed: the client library
  // detached it when the connection went.
  if (stmt_) ops_->stmtClose(stmt_);
}

std::size_t PreparedStatement::paramCount() const { return prepared_ ? ops_->stmtParamCount(stmt_) : 0; }

bool PreparedStatement::execute(const StmtParam* params, bool store) {
  if (!prepared_) return false;
  const std::size_t n = paramCount();
  params_.resize(n * sizeof(VeltroParam));
  auto* out = reinterpret_cast<VeltroParam*>(params_.data());
  for (std::size_t i = 0; i < n; ++i) {
    const StmtParam& p = params[i];
    out[i] = VeltroParam{static_cast<int>(p.kind), p.i, p.u, p.d, p.text.data(),
                         static_cast<unsigned long>(p.text.size()), p.negative ? 1 : 0, p.year, p.month, p.day,
                         p.hour, p.minute, p.second, p.microsecond};
  }
  detail::WatchedCall call(watch_.get());
  return ops_->stmtExecute(stmt_, out, store ? 1 : 0) == 0;
}

std::vector<FieldInfo> PreparedStatement::fields() const {
  std::vector<FieldInfo> out;
  if (!prepared_) return out;
  const unsigned n = ops_->stmtFieldCount(stmt_);
  out.reserve(n);
  VeltroField f{};
  for (unsigned i = 0; i < n && ops_->stmtField(stmt_, i, &f); ++i) out.push_back(detail::fieldInfoOf(f));
  return out;
}

bool PreparedStatement::fetch(RowView& row) {
  row = RowView{};
  if (!prepared_) return false;
  char** values = nullptr;
  unsigned long* lengths = nullptr;
  detail::WatchedCall call(watch_.get());
  if (ops_->stmtFetch(stmt_, &values, &lengths) != 1) return false;
  row.values = values;
  row.lengths = lengths;
  row.count = ops_->stmtFieldCount(stmt_);
  return true;
}

bool PreparedStatement::discard() {
  if (!prepared_) return true;
  detail::WatchedCall call(watch_.get());
  return ops_->stmtDiscard(stmt_) == 0;
}

std::uint64_t PreparedStatement::affectedRows() const { return prepared_ ? ops_->stmtAffectedRows(stmt_) : 0; }
std::uint64_t PreparedStatement::insertId() const { return prepared_ ? ops_->stmtInsertId(stmt_) : 0; }

unsigned PreparedStatement::errnum() const {
  if (stmt_) return ops_->stmtErrnum(stmt_);
  return conn_ && isConnection(conn_) ? db::errnum(conn_) : detail::kOutOfMemoryError;
}

std::string PreparedStatement::error() const {
  if (stmt_) {
    const char* text = ops_->stmtError(stmt_);
    return text ? text : "";
  }
  return isConnection(conn_) ? db::error(conn_) : "no connection";
}

std::string PreparedStatement::sqlstate() const {
  if (stmt_) {
    const char* state = ops_->stmtSqlstate(stmt_);
    return state && *state ? state : "00000";
  }
  return db::sqlstate(conn_);
}

// --- Array binding and the session's reset ------------------------------------------

bool PreparedStatement::bulkSupported() const {
  return prepared_ && ops_->stmtBulkSupported && ops_->stmtBulkSupported(stmt_) != 0;
}

bool PreparedStatement::executeBulk(const StmtParam* params, std::size_t rows) {
  if (!bulkSupported()) return false;
  const std::size_t n = paramCount();
  params_.resize(n * rows * sizeof(VeltroParam));
  auto* out = reinterpret_cast<VeltroParam*>(params_.data());
  for (std::size_t i = 0; i < n * rows; ++i) {
    const StmtParam& p = params[i];
    out[i] = VeltroParam{static_cast<int>(p.kind), p.i, p.u, p.d, p.text.data(),
                         static_cast<unsigned long>(p.text.size()), p.negative ? 1 : 0, p.year, p.month, p.day,
                         p.hour, p.minute, p.second, p.microsecond};
  }
  detail::WatchedCall call(watch_.get());
  return ops_->stmtExecuteBulk(stmt_, out, static_cast<unsigned long>(rows)) == 0;
}

bool resetConnection(Handle conn) {
  const detail::Entry* e = detail::connEntry(conn);
  if (!e || !e->ops->resetConnection) return false;
  detail::WatchedCall call(e->watch.get());
  return e->ops->resetConnection(e->object) == 0;
}

std::string currentDatabase(Handle conn) {
  const detail::Entry* e = detail::connEntry(conn);
  const char* name = e && e->ops->currentDatabase ? e->ops->currentDatabase(e->object) : nullptr;
  return name ? name : "";
}

}  // namespace veltro::db
