// The typed face: statements prepared on the server, arguments bound in the
// binary protocol.
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "server_codes.h"
#include "session_impl.h"
#include "sql_typed_literal.h"
#include "veltro/prepared.h"
#include "veltro/session.h"

namespace veltro {

namespace detail {

void PreparedCore::throwError() const {
  const unsigned number = stmt->errnum();
  if (lostInFlight(number)) throw UnknownOutcome(number, stmt->sqlstate(), stmt->error());
  throw SqlError(number, stmt->sqlstate(), stmt->error());
}

namespace {

// A lost connection (2006) is replaced through the server object, as its
// statements' are; false when it stays lost (the report is thrown).
bool reconnected(SessionCore& s) {
  SessionCore::Scope scope(s);
  s.srv->CheckError(Value(kServerGone));
  if (s.last->any) s.throwReported();
  return db::isConnection(s.handle());
}

}  // namespace

void PreparedCore::prepare() {
  for (int attempt = 0;; ++attempt) {
    stmt = std::make_unique<db::PreparedStatement>(session->handle(), sql);
    if (stmt->ok()) {
      params = stmt->paramCount();
      lost = false;
      return;
    }
    if (attempt == 0 && stmt->errnum() == kServerGone && reconnected(*session)) continue;
    if (!db::isConnection(session->handle()))
      fail(kErrNoConnection, "08003", "no connection for a prepared statement");
    throwError();
  }
}

void PreparedCore::bind(const Param* params, std::size_t count) {
  bound.assign(count, db::StmtParam{});
  numerals.clear();
  bindRow(params, count, bound.data());
}

void PreparedCore::bindRow(const Param* params, std::size_t count, db::StmtParam* out) {
  using Kind = Param::Kind;
  using SK = db::StmtParam::Kind;
  for (std::size_t n = 0; n < count; ++n) {
    const Param& p = params[n];
    db::StmtParam& b = out[n];
    auto refuse = [&] {
      fail(kErrArgument, "22018", "argument " + std::to_string(n + 1) + " has no SQL value");
    };
    auto setDay = [&](std::int64_t days) {
      const std::chrono::year_month_day ymd{std::chrono::sys_days(std::chrono::days(days))};
      const int y = static_cast<int>(ymd.year());
      if (y < 0 || y > 9999) refuse();
      b.year = static_cast<unsigned>(y);
      b.month = static_cast<unsigned>(ymd.month());
      b.day = static_cast<unsigned>(ymd.day());
    };
    auto setClock = [&](std::int64_t micro) {
      b.hour = static_cast<unsigned>(micro / 3600000000LL);
      b.minute = static_cast<unsigned>(micro / 60000000 % 60);
      b.second = static_cast<unsigned>(micro / 1000000 % 60);
      b.microsecond = static_cast<unsigned long>(micro % 1000000);
    };
    switch (p.kind) {
      case Kind::Null: b.kind = SK::Null; break;
      case Kind::Int: b.kind = SK::Int; b.i = p.i; break;
      case Kind::UInt: b.kind = SK::UInt; b.u = p.u; break;
      case Kind::Float:
      case Kind::Double:
        if (!std::isfinite(p.d)) refuse();
        b.kind = p.kind == Kind::Float ? SK::Float : SK::Double;
        b.d = p.d;
        break;
      case Kind::Text: b.kind = SK::Text; b.text = p.text; break;
      case Kind::Decimal:
        if (!p.number->isExact() && !std::isfinite(p.number->toDouble())) refuse();
        numerals.push_back(p.number->text());
        b.kind = SK::Decimal;
        b.text = numerals.back();
        break;
      case Kind::Date:
        b.kind = SK::Date;
        setDay(p.i);
        break;
      case Kind::DateTime: {
        const DayAndClock at = dayAndClock(p.i);
        b.kind = SK::DateTime;
        setDay(at.day);
        setClock(at.micro);
        break;
      }
      case Kind::Time:
        if (p.i == std::numeric_limits<std::int64_t>::min()) refuse();
        b.kind = SK::Time;
        b.negative = p.i < 0;
        setClock(p.i < 0 ? -p.i : p.i);
        break;
    }
  }
}

void PreparedCore::run(const Param* args, std::size_t count, bool store) {
  session->ready();
  if (count != params)
    fail(kErrPlaceholders, "07001",
         "the statement has " + std::to_string(params) + " placeholders and " + std::to_string(count) +
             " arguments");
  bind(args, count);
  // A statement dies with its connection: after a loss it is prepared again
  // on the new one (made here when nothing else has made it yet).
  if (lost && stmt->connection() == session->handle()) reconnected(*session);
  if (lost || stmt->connection() != session->handle()) prepare();
  if (stmt->execute(bound.data(), store)) return;
  const unsigned number = stmt->errnum();
  lost = connectionGone(number);
  // Gone before it was sent (2006): certainly not run, so it runs on a new connection.
  if (number == kServerGone && reconnected(*session)) {
    prepare();
    if (stmt->execute(bound.data(), store)) return;
  }
  throwError();
}

}  // namespace detail

Statement Session::prepare(std::string_view sql) {
  core_->ready();
  auto core = std::make_unique<detail::PreparedCore>();
  core->session = core_;
  core->sql = sql;
  // A statement prepared on the server is itself state of the session (until it is closed).
  core_->touched = true;
  core->prepare();
  return Statement(std::move(core));
}

Statement::Statement(std::unique_ptr<detail::PreparedCore> core) : core_(std::move(core)) {}
Statement::Statement(Statement&&) noexcept = default;
Statement& Statement::operator=(Statement&&) noexcept = default;
Statement::~Statement() = default;

std::size_t Statement::parameters() const noexcept { return core_ ? core_->params : 0; }

Outcome Statement::executeParams(const detail::Param* params, std::size_t count) {
  core_->run(params, count, false);
  db::PreparedStatement& s = *core_->stmt;
  const Outcome out{s.affectedRows(), s.insertId()};
  // A result set nobody asked for (a SELECT, a CALL's) is dropped.
  if (!s.discard()) core_->throwError();
  return out;
}

Rows Statement::queryParams(const detail::Param* params, std::size_t count) {
  core_->run(params, count, true);
  db::PreparedStatement& s = *core_->stmt;
  auto data = std::make_shared<detail::ResultData>();
  for (const db::FieldInfo& f : s.fields()) data->columns.add(f);
  const std::size_t width = data->columns.size();
  // Each row's texts go into the arena; the cells point into it once it is whole.
  constexpr std::size_t kNull = static_cast<std::size_t>(-1);
  std::vector<std::size_t> offsets;
  db::RowView row;
  while (width != 0 && s.fetch(row)) {
    for (unsigned i = 0; i < width; ++i) {
      offsets.push_back(row.isNull(i) ? kNull : data->arena.size());
      data->lengths.push_back(row.isNull(i) ? 0 : row.lengths[i]);
      if (!row.isNull(i)) data->arena.append(row.values[i], row.lengths[i]);
    }
    ++data->rows;
  }
  if (s.errnum() != 0) core_->throwError();
  data->cells.reserve(offsets.size());
  for (std::size_t at : offsets) data->cells.push_back(at == kNull ? nullptr : data->arena.data() + at);
  if (!s.discard()) core_->throwError();
  return detail::SessionCore::rowsOf(std::move(data));
}

}  // namespace veltro
