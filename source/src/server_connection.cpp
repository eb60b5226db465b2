// Making, keeping and ending the connection of a server object.
#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/table.h"
#include "server_flag_scope.h"
#include "server_codes.h"
#include "server_host_list.h"
#include "server_session.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

Value TQuillonSrv::nQueryId;

namespace {
// Attempts of one reconnect while the server stays away, and the pause before each retry.
constexpr int kReconnectAttempts = 3;
constexpr int kReconnectPauseMs = 200;

using Setting = TQuillonSrv::ConnectionSetting;
constexpr Setting kSettings[] = {
    {"cCharset", "charset", &TQuillonSrv::cCharset, false},
    {"cTls", "tls", &TQuillonSrv::cTls, false},
    {"cSslCa", "ssl-ca", &TQuillonSrv::cSslCa, false},
    {"cSslCert", "ssl-cert", &TQuillonSrv::cSslCert, false},
    {"cSslKey", "ssl-key", &TQuillonSrv::cSslKey, false},
    {"nConnectTimeout", "connect-timeout", &TQuillonSrv::nConnectTimeout, true},
    {"nReadTimeout", "read-timeout", &TQuillonSrv::nReadTimeout, true},
    {"nWriteTimeout", "write-timeout", &TQuillonSrv::nWriteTimeout, true},
    {"cSocket", "socket", &TQuillonSrv::cSocket, false},
};

// What is wrong with the first bad setting ("" when all are good): a text
// setting that is not a text, a TLS mode the library does not know, a timeout
// that is not a number of seconds. nil, and an empty text, keep the default.
std::string badSetting(const TQuillonSrv& srv) {
  for (const Setting& s : kSettings) {
    const Value& v = srv.*s.value;
    if (v.isNil() || (v.isString() && v.str().empty())) continue;
    if (v.isString() && v.str().find('\0') != std::string::npos) return std::string(s.member) + ": a zero byte in the text";
    const std::string named = std::string(s.member) + " = " + (v.isString() ? "\"" + v.str() + "\"" : v.toString());
    if (s.seconds) {
      if (!v.isNumber() || v.asNumber().isNegative()) return named + ": not a number of seconds";
    } else if (!v.isString()) {
      return named + ": not a text";
    } else if (s.value == &TQuillonSrv::cTls) {
      db::TlsMode mode;
      if (!db::tlsModeOf(v.str(), mode)) return named + ": not off, preferred, required or verify-identity";
    }
  }
  return {};
}

// What is wrong with the first bad login setting of a connect ("" when all are
// good): a text holding a zero byte (the client library would cut it there), a
// port that is not a whole number from 0 to 65535 (it would wrap into 16
// bits), a host text with a malformed entry. nil keeps the default.
std::string badLogin(const Value& host, const Value& user, const Value& password, const Value& port,
                     const Value& database) {
  static_assert(kErrBadSetting == static_cast<int>(db::kBadSettingError));
  for (const auto& [member, v] : {std::pair<const char*, const Value*>{"cHost", &host},
                                  {"cUser", &user},
                                  {"cPassword", &password},
                                  {"cDBName", &database}}) {
    if (v->isString() && v->str().find('\0') != std::string::npos) return std::string(member) + ": a zero byte in the text";
  }
  unsigned number = 0;
  if (!port.isNil() && !db::portOf(port, number))
    return "nPort = " + (port.isString() ? "\"" + port.str() + "\"" : port.toString()) +
           ": not a port from 1 to 65535 (0 or nil: the default)";
  std::vector<detail::HostEntry> hosts;
  std::string why;
  if (host.isString() && !detail::parseHostList(host.str(), hosts, why)) return "cHost = \"" + host.str() + "\": " + why;
  return {};
}

// Reports a bad setting (kErrBadSetting); false when there is one.
bool reportedGood(TQuillonSrv& srv, const std::string& bad) {
  if (bad.empty()) return true;
  return detail::refuse(srv, kErrBadSetting, Value(bad));
}

bool settingsGood(TQuillonSrv& srv) { return reportedGood(srv, badSetting(srv)); }

// The first bad setting of the stored ones, login included ("" when all are good).
std::string badStored(const TQuillonSrv& srv) {
  std::string bad = badSetting(srv);
  return bad.empty() ? badLogin(srv.cHost, srv.cUser, srv.cPassword, srv.nPort, srv.cDBName) : bad;
}

// A host list never waits on one host without bound: a connect gives up after
// kListConnectTimeout seconds, and a call that waits kListWatchMs has its node
// probed (cut when the node does not answer within the connect timeout).
// Fixed read and write timeouts would cut a long statement on a healthy node
// as well; the probe tells the two apart.
constexpr unsigned kListConnectTimeout = 5;
constexpr unsigned kListWatchMs = 1000;

// The connection settings; list: the connection is to a host of a host list.
// badSetting has checked them: texts are texts, timeouts numbers of seconds.
db::ConnectOptions connectOptions(const TQuillonSrv& srv, bool list) {
  const auto text = [](const Value& v) { return v.isString() ? v.str() : std::string(); };
  const auto seconds = [](const Value& v) {
    return v.isNumber() ? static_cast<unsigned>(std::clamp<long long>(v.asInt(), 0, UINT_MAX)) : 0u;
  };
  db::ConnectOptions o;
  o.charset = text(srv.cCharset);
  if (srv.cTls.isString() && !srv.cTls.str().empty()) db::tlsModeOf(srv.cTls.str(), o.tls);
  o.sslCa = text(srv.cSslCa);
  o.sslCert = text(srv.cSslCert);
  o.sslKey = text(srv.cSslKey);
  o.connectTimeout = seconds(srv.nConnectTimeout);
  o.readTimeout = seconds(srv.nReadTimeout);
  o.writeTimeout = seconds(srv.nWriteTimeout);
  o.socket = text(srv.cSocket);
  if (!list) return o;
  if (srv.nConnectTimeout.isNil()) o.connectTimeout = kListConnectTimeout;
  // A timeout of 0 set by the caller: no bound at all, no probe either.
  const auto zero = [](const Value& v) { return v.isNumber() && v.asNumber().isZero(); };
  if (!zero(srv.nReadTimeout) && !zero(srv.nWriteTimeout)) o.nodeWatchMs = kListWatchMs;
  return o;
}

}  // namespace

std::span<const TQuillonSrv::ConnectionSetting> TQuillonSrv::ConnectionSettings() { return kSettings; }

ServerPtr TQuillonSrv::create() { return std::make_shared<TQuillonSrv>(Key{}); }

TQuillonSrv::TQuillonSrv(Key) : impl_(std::make_unique<Impl>(*this)) {}

Value TQuillonSrv::Impl::openEmbedded(const Value& database) {
  return Value(db::embedded(database.isString() ? database.str().c_str() : nullptr, embeddedOptions_, embeddedGroups_));
}

TQuillonSrv::~TQuillonSrv() {
  // Last resort for an object dropped without End: the registry holds no
  // query alive, so only the connection is left to release.
  if (hMysql.asInt() > 0) db::close(hMysql.asInt());
}

TQuillonSrv& TQuillonSrv::New(const Value& host, const Value& user, const Value& password, const Value& port,
                              const Value& flags, const Value& database, const Value& onError) {
  cHost = host;
  cUser = user;
  cPassword = password;
  nPort = port;
  nFlags = flags;
  lError = false;
  bOnError = onError;
  nInternalError = 0;
  impl_->internalPending_ = false;
  impl_->inTransaction_ = false;
  cDBName = database;
  impl_->queries_.clear();
  lReConnect = true;
  impl_->embedded_ = false;
  impl_->lost_ = false;
  impl_->session_.clear();
  // A bad setting is reported before anything is sent; the object stays
  // unconnected, as after a refused connect.
  hMysql = 0;
  impl_->nextNode_ = 0;
  if (!settingsGood(*this)) return *this;
  const unsigned long errorsBefore = impl_->errors_;
  hMysql = Connect();
  // A refused setting, or a host list that gave no connection, has been reported.
  if (impl_->errors_ == errorsBefore) CheckError();
  if (!impl_->connected()) End();
  return *this;
}

Value TQuillonSrv::Connect(const Value& host, const Value& user, const Value& password, const Value& port,
                           const Value& flags, const Value& database) {
  if (!settingsGood(*this)) return Value(0);
  const Value& target = host.isNil() ? cHost : host;
  const Value& login = user.isNil() ? cUser : user;
  const Value& secret = password.isNil() ? cPassword : password;
  const Value& portNumber = port.isNil() ? nPort : port;
  const Value& flagBits = flags.isNil() ? nFlags : flags;
  const Value& schema = database.isNil() ? cDBName : database;
  if (!reportedGood(*this, badLogin(target, login, secret, portNumber, schema))) return Value(0);
  // One host without cluster options is connected as given, with no question asked of it.
  const bool list = target.isString() && detail::isHostList(target.str());
  if (list || lReadYourWrites.asBool())
    return impl_->connectFirstReady(target, login, secret, portNumber, flagBits, schema, connectOptions(*this, list));
  std::vector<detail::HostEntry> hosts;
  std::string why;
  const bool split = target.isString() && detail::parseHostList(target.str(), hosts, why) && hosts.front().port != 0;
  return connectByRules(split ? Value(hosts.front().host) : target, login, secret,
                              split ? Value(static_cast<long long>(hosts.front().port)) : portNumber, flagBits,
                              schema, connectOptions(*this, false));
}

void TQuillonSrv::ReConnect() {
  // A reload inside a reconnect that meets 2006 again must not start another one.
  if (impl_->reconnecting_) return;
  detail::FlagScope guard(impl_->reconnecting_);
  impl_->inTransaction_ = false;
  impl_->sessionDropped_ = false;
  ++impl_->lostConnections_;
  if (!impl_->embedded_ && !badStored(*this).empty()) {
    // Settings changed since the connect: reported once, not on each attempt.
    if (hMysql.asInt() > 0) db::close(hMysql.asInt());
    hMysql = 0;
    reportedGood(*this, badStored(*this));
    return;
  }
  // A node of a host list that lost its connection is tried last.
  impl_->nextNode_ = impl_->node_ + 1;
  for (int attempt = 1; attempt <= kReconnectAttempts; ++attempt) {
    if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(kReconnectPauseMs * (attempt - 1)));
    // The old handle is useless after 2006; release it instead of leaking it.
    if (hMysql.asInt() > 0) db::close(hMysql.asInt());
    hMysql = impl_->embedded_ ? impl_->openEmbedded(cDBName) : Connect();
    if (impl_->connected()) break;
  }
  // Without a connection the next statement tries again, and reports why it could not.
  impl_->lost_ = !impl_->connected();
  if (impl_->lost_) {
    if (!impl_->hostList()) impl_->reconnectWhy_ = std::to_string(db::errnum(hMysql.asInt())) + " " + db::error(hMysql.asInt());
    return;
  }
  std::string why;
  const bool restored = impl_->replaySession(why);
  {
    ServerPtr me = self();
    for (const QueryPtr& q : queries()) {
      q->oServer = me;
      // A query without a loaded result is left to its caller: it may be the
      // one whose own first statement met the loss (its clauses are not read
      // yet, so a rebuilt statement would be a bare "SELECT *"), or a command
      // that must not run twice.
      if (q->nFCount.asInt() == 0) continue;
      // A statement without SELECT parts (SHOW ...) is reloaded as written.
      if (q->aColumns.len() == 0 && q->aTables.len() == 0)
        q->LoadQuery(false);
      else
        q->Refresh();
    }
  }
  if (!restored) {
    impl_->sessionDropped_ = true;
    RaiseInternal(kErrSessionLost, Value("reconnected, but " + why));
  }
}

bool TQuillonSrv::Impl::linkUp() const {
  const long long h = srv.hMysql.asInt();
  return h > 0 && db::isConnection(h) && !detail::connectionGone(db::errnum(h));
}

bool TQuillonSrv::Impl::revive() {
  if (srv.lReConnect.asBool()) srv.ReConnect();
  if (connected()) return !sessionDropped_;
  reportUnreachable("the connection was lost earlier");
  return false;
}

void TQuillonSrv::Impl::reportUnreachable(const std::string& cause) {
  const long long h = srv.hMysql.asInt();
  if (h > 0 && db::errnum(h) != 0) {
    // The refused connect carries its own error (2002, 2003, 2026 ...): reported as the client's.
    detail::FlagScope retry(retrying_);
    srv.CheckError();
    return;
  }
  srv.RaiseInternal(hostList() ? kErrNoReadyNode : kErrNoConnection,
                Value(cause + "; no reconnect found a connection: " + reconnectWhy_));
}

bool TQuillonSrv::Impl::connected() const {
  long long h = srv.hMysql.asInt();
  return h > 0 && db::isConnection(h) && db::errnum(h) == 0;
}

void TQuillonSrv::End() {
  impl_->lost_ = false;  // ended by the caller: no statement reconnects it
  if (hMysql.asInt() <= 0) return;
  db::close(hMysql.asInt());
  hMysql = 0;
  impl_->inTransaction_ = false;
  impl_->session_.clear();
  // Each End leaves the registry, so walk a snapshot taken before the first.
  for (const QueryPtr& q : queries()) q->End();
  impl_->queries_.clear();
}

TQuillonSrv& TQuillonSrv::Embedded(const Value& database, const Value& options, const Value& groups,
                                   const Value& onError) {
  lError = false;
  bOnError = onError;
  if (!nInternalError.isNumber()) nInternalError = 0;
  impl_->internalPending_ = false;
  if (lReConnect.isNil()) lReConnect = true;
  cDBName = database;
  impl_->embedded_ = true;
  impl_->lost_ = false;
  impl_->session_.clear();
  impl_->embeddedOptions_ = textList(options);
  impl_->embeddedGroups_ = textList(groups);
  hMysql = impl_->openEmbedded(database);
  CheckError();
  if (!impl_->connected()) End();
  return *this;
}

bool TQuillonSrv::Ping() {
  if (db::ping(hMysql.asInt()) > 0) {
    CheckError();
    return false;
  }
  return true;
}

}  // namespace veltro
