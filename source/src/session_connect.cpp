// The typed face: opening and lending sessions, and the errors they throw.
#include <string>
#include <utility>

#include "server_codes.h"
#include "session_impl.h"
#include "veltro/binding.h"
#include "veltro/object.h"
#include "veltro/server.h"
#include "veltro/session.h"
#include "server_impl.h"

namespace veltro {

SqlError::SqlError(unsigned number, std::string sqlstate, const std::string& message)
    : std::runtime_error(message), number_(number), sqlstate_(std::move(sqlstate)) {}

namespace detail {

void fail(unsigned number, const char* sqlstate, const std::string& message) {
  if (number == kErrConversion || number == kErrNullValue) throw ConversionError(number, sqlstate, message);
  throw SqlError(number, sqlstate, message);
}

namespace {

// The SQLSTATE of one of the object model's own codes.
const char* stateOfInternal(unsigned number) {
  switch (number) {
    case kErrNoConnection: return "08003";
    case kErrBadSetting: return "HY024";
    default: return "HY000";
  }
}

}  // namespace

SessionCore::SessionCore(ServerPtr server, bool owns) : srv(std::move(server)), owner(owns) {
  // Holds the report, not the server: no cycle through the server's callback.
  auto report = last;
  capture = Value(Callable([report](Args a) -> Value {
    if (report->any) return {};
    report->any = true;
    report->number = static_cast<unsigned>(argAt(a, 1).asInt());
    report->internal = argAt(a, 2).asBool();
    const Value extra = argAt(a, 3);
    auto server = argAt(a, 0).asObjectOf<TQuillonSrv>();
    if (report->internal) {
      report->message = "Veltro error " + std::to_string(report->number);
      if (extra.isString() && !extra.str().empty()) report->message += ": " + extra.str();
      report->sqlstate = stateOfInternal(report->number);
    } else {
      report->message = server ? server->ErrorTxt() : std::string();
      report->sqlstate = server ? db::sqlstate(server->handle()) : "HY000";
    }
    return {};
  }));
}

SessionCore::~SessionCore() {
  if (owner && srv) srv->End();
}

SessionCore::Scope::Scope(SessionCore& core) : core_(core), saved_(std::exchange(core.srv->bOnError, core.capture)) {
  *core_.last = Report{};
}

SessionCore::Scope::~Scope() { core_.srv->bOnError = std::move(saved_); }

void SessionCore::ready() const {
  if (streaming)
    fail(kErrStreamOpen, "HY010",
         "a stream of this session is not finished: read it to its end or destroy it before the next statement");
}

void SessionCore::throwReported() {
  Report r = *last;
  *last = Report{};
  if (!r.any) {
    // Nothing reported: the error is still on the connection.
    r.number = db::errnum(handle());
    r.message = db::error(handle());
    r.sqlstate = db::sqlstate(handle());
    if (r.number == 0) r.number = 2000;
  }
  if ((!r.internal && detail::lostInFlight(r.number)) || (r.internal && r.number == kErrUnknownOutcome))
    throw UnknownOutcome(r.number, r.sqlstate, r.message);
  throw SqlError(r.number, r.sqlstate, r.message);
}

void SessionCore::send(std::string_view sql) {
  if (!srv->impl_->sendStatement(sql) || last->any) throwReported();
}

void SessionCore::settle() {
  if (!srv->impl_->settleResults() || last->any) throwReported();
}

}  // namespace detail

namespace {

const char* tlsText(Tls tls) {
  switch (tls) {
    case Tls::Off: return "off";
    case Tls::Preferred: return "preferred";
    case Tls::Required: return "required";
    case Tls::VerifyIdentity: return "verify-identity";
    case Tls::Default: break;
  }
  return nullptr;
}

Value textOrNil(const std::string& s) { return s.empty() ? Value() : Value(s); }
Value secondsOrNil(unsigned n) { return n == 0 ? Value() : Value(n); }

}  // namespace

Session::Session(std::shared_ptr<detail::SessionCore> core) : core_(std::move(core)) {}
Session::Session(Session&&) noexcept = default;
Session& Session::operator=(Session&&) noexcept = default;
Session::~Session() = default;

Session Session::open(const Settings& s) {
  ServerPtr srv = TQuillonSrv::create();
  auto core = std::make_shared<detail::SessionCore>(srv, true);
  srv->cCharset = textOrNil(s.charset);
  if (const char* tls = tlsText(s.tls)) srv->cTls = tls;
  srv->cSslCa = textOrNil(s.sslCa);
  srv->cSslCert = textOrNil(s.sslCert);
  srv->cSslKey = textOrNil(s.sslKey);
  srv->nConnectTimeout = secondsOrNil(s.connectTimeout);
  srv->nReadTimeout = secondsOrNil(s.readTimeout);
  srv->nWriteTimeout = secondsOrNil(s.writeTimeout);
  srv->cSocket = textOrNil(s.socket);
  srv->lRepeatable = s.repeatable;
  srv->lReadYourWrites = s.readYourWrites;
  srv->New(s.host, s.user, s.password, s.port == 0 ? Value() : Value(s.port), 0, textOrNil(s.database),
           core->capture);
  // A failed connect has been reported to the capture, and ended.
  if (!db::isConnection(srv->handle())) core->throwReported();
  return Session(std::move(core));
}

Session Session::embedded(const std::string& datadir, const std::string& database) {
  ServerPtr srv = TQuillonSrv::create();
  auto core = std::make_shared<detail::SessionCore>(srv, true);
  Value options = Value::array();
  for (const std::string& o : db::embeddedOptions(datadir)) options.items().emplace_back(o);
  srv->Embedded(textOrNil(database), options, Value(), core->capture);
  if (!db::isConnection(srv->handle())) core->throwReported();
  // The same character set as a session that connects (the embedded server's own default holds no 4-byte characters).
  if (!srv->SqlQuery("SET NAMES utf8mb4")) core->throwReported();
  return Session(std::move(core));
}

Session TQuillonSrv::session() { return Session(std::make_shared<detail::SessionCore>(self(), false)); }

bool Session::ping() {
  core_->ready();
  detail::SessionCore::Scope scope(*core_);
  if (db::ping(core_->handle()) == 0) return true;
  // A lost connection is replaced as a statement's would be.
  core_->srv->CheckError();
  return db::isConnection(core_->handle()) && db::ping(core_->handle()) == 0;
}

void Session::noRow() { detail::fail(kErrNoRow, "02000", "the statement returned no row"); }

}  // namespace veltro
