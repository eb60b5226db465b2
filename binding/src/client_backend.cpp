// The client-server backend: Connector/C, linked into the binding.
#include <errmsg.h>
#include <mysql.h>
#include <mysql/plugin_auth.h>

#include <cstring>

#include "backend.h"
#include "client_backend.h"

#define VELTRO_BACKEND_NS veltro_client_ops
#include "backend_ops.inc"

namespace veltro_client_ops {
namespace {

// What a connection object knows, read through the client library's API
// rather than from its MYSQL struct, whose layout is the library's own. An
// escape asks for the status and the set: about 11 ns, against the tens of
// microseconds of a statement's round trip.
unsigned serverStatus(MYSQL* m) {
  unsigned status = 0;
  mariadb_get_infov(m, MARIADB_CONNECTION_SERVER_STATUS, &status);
  return status;
}
MY_CHARSET_INFO charsetOf(MYSQL* m) {
  MY_CHARSET_INFO info{};
  mariadb_get_infov(m, MARIADB_CONNECTION_MARIADB_CHARSET_INFO, &info);
  return info;
}
unsigned long serverCapabilities(MYSQL* m) {
  unsigned long capabilities = 0;
  mariadb_get_infov(m, MARIADB_CONNECTION_SERVER_CAPABILITIES, &capabilities);
  return capabilities;
}

// Whether the client library escapes the connection's character set byte by
// byte: single-byte sets, and UTF-8, whose multi-byte characters hold no ASCII
// byte. (It escapes a stray lead byte of the EUC family, so those take its path.)
bool plainCharset(const MY_CHARSET_INFO& cs) {
  if (!cs.csname) return false;
  if (cs.mbmaxlen <= 1) return true;
  static const char* const kSafe[] = {"utf8", "utf8mb3", "utf8mb4"};
  for (const char* name : kSafe)
    if (std::strcmp(cs.csname, name) == 0) return true;
  return false;
}

int opPlainEscaping(void* conn) {
  MYSQL* m = asConn(conn);
  if (serverStatus(m) & SERVER_STATUS_NO_BACKSLASH_ESCAPES) return 0;
  // One answer per character set: its name is compared once.
  const MY_CHARSET_INFO cs = charsetOf(m);
  thread_local unsigned known = ~0u;
  thread_local int answer = 0;
  if (cs.number != known) {
    answer = plainCharset(cs) ? 1 : 0;
    known = cs.number;
  }
  return answer;
}

// As the client library itself does when the server's session tracking
// reports a new character_set_client: the connection object escapes with the
// named set from now on.
int opAdoptCharset(void* conn, const char* name) {
  const MARIADB_CHARSET_INFO* cs = name ? mariadb_get_charset_by_name(name) : nullptr;
  if (!cs) return 0;
  // The one write into the connection object: the client library has no call
  // that changes the set it escapes with without sending SET NAMES.
  asConn(conn)->charset = cs;
  return 1;
}

int setText(MYSQL* m, enum mysql_option option, const char* text) {
  return text ? mysql_optionsv(m, option, text) : 0;
}

int setSeconds(MYSQL* m, enum mysql_option option, unsigned seconds) {
  return seconds ? mysql_optionsv(m, option, &seconds) : 0;
}

// Why a connection with tls = required is refused before the login.
constexpr const char kNoTls[] = "TLS is required, but the server does not offer it";
constexpr const char kNoPluginAuth[] =
    "TLS is required, but the server does not offer plugin authentication, under which it is made sure of before "
    "the login";

// The client authentication plugin that tls = required logs in with. Connector/C
// goes on unencrypted when the server offers no TLS (unless the certificate is
// to be verified), so this plugin stands first in the login: it refuses a
// server whose greeting offers no TLS before anything is written, and
// otherwise sends the first packet (Connector/C starts TLS for it), after which
// the server names the account's own plugin and the login goes on encrypted.
// Only this plugin is allowed until then, so a greeting without plugin
// authentication, which would make Connector/C send a password answer at once,
// is refused too (CR_PLUGIN_NOT_ALLOWED, read by opExplainTlsRefusal).
constexpr const char kGuardName[] = "veltro_tls_required";

int guardAuthenticate(MYSQL_PLUGIN_VIO* vio, MYSQL* m) {
  if (!(serverCapabilities(m) & CLIENT_SSL)) {
    SET_CLIENT_ERROR(m, CR_SSL_CONNECTION_ERROR, "HY000", kNoTls);
    return CR_ERROR;
  }
  if (vio->write_packet(vio, nullptr, 0) != 0) return CR_ERROR;
  // Over a Unix socket Connector/C may skip TLS although the server offers it.
  if (!mysql_get_ssl_cipher(m)) {
    SET_CLIENT_ERROR(m, CR_SSL_CONNECTION_ERROR, "HY000", kNoTls);
    return CR_ERROR;
  }
  // Encrypted from here on: the plugin the server names for the account may answer.
  return mysql_optionsv(m, MARIADB_OPT_RESTRICTED_AUTH, nullptr) == 0 ? CR_OK : CR_ERROR;
}

// The layout of Connector/C's authentication plugin (its client_plugin.h is
// not installed whole): the common header, then the one method.
struct AuthPlugin {
  st_mysql_client_plugin header;
  int (*authenticate_user)(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql);
};
constexpr int kAuthenticationPlugin = 2;              // MYSQL_CLIENT_AUTHENTICATION_PLUGIN
constexpr unsigned kAuthenticationInterface = 0x0100;  // its interface version

AuthPlugin guardPlugin = {{kAuthenticationPlugin, kAuthenticationInterface, kGuardName, "Veltro",
                           "Refuses a server that offers no TLS before the login", {1, 0, 0}, "LGPL", nullptr,
                           nullptr, nullptr, nullptr},
                          guardAuthenticate};

// Registered once, before any connection; when it cannot be, a connect with
// tls = required fails (its plugin is not found) rather than going on unchecked.
void registerGuard() {
  MYSQL* m = mysql_init(nullptr);
  if (!m) return;
  mysql_client_register_plugin(m, &guardPlugin.header);
  mysql_close(m);
}

// Connector/C asks for TLS when MYSQL_OPT_SSL_ENFORCE is on or any certificate
// file is given, and goes on unencrypted when the server does not offer it
// unless the server certificate is to be verified. So "off" passes no
// certificate file, "preferred" only asks, and "required" logs in through the
// guard plugin, which refuses before the login (db::connect also checks the
// cipher after the connect).
int opApplyOptions(void* conn, const VeltroConnectOptions* o) {
  MYSQL* m = asConn(conn);
  int failed = 0;
  failed |= setText(m, MYSQL_SET_CHARSET_NAME, o->charset);
  if (o->tls != VELTRO_TLS_OFF) {
    failed |= setText(m, MYSQL_OPT_SSL_CA, o->sslCa);
    failed |= setText(m, MYSQL_OPT_SSL_CERT, o->sslCert);
    failed |= setText(m, MYSQL_OPT_SSL_KEY, o->sslKey);
  }
  if (o->tls != VELTRO_TLS_DEFAULT) {
    my_bool enforce = o->tls != VELTRO_TLS_OFF;
    my_bool verify = o->tls == VELTRO_TLS_VERIFY_IDENTITY;
    failed |= mysql_optionsv(m, MYSQL_OPT_SSL_ENFORCE, &enforce);
    failed |= mysql_optionsv(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify);
  }
  if (o->tls == VELTRO_TLS_REQUIRED) {
    failed |= mysql_optionsv(m, MYSQL_DEFAULT_AUTH, kGuardName);
    failed |= mysql_optionsv(m, MARIADB_OPT_RESTRICTED_AUTH, kGuardName);
  }
  failed |= setSeconds(m, MYSQL_OPT_CONNECT_TIMEOUT, o->connectTimeout);
  failed |= setSeconds(m, MYSQL_OPT_READ_TIMEOUT, o->readTimeout);
  failed |= setSeconds(m, MYSQL_OPT_WRITE_TIMEOUT, o->writeTimeout);
  return failed;
}

// A connect with tls = required that the guard's allow-list stopped (the
// greeting offered no plugin authentication) is reported as the missing
// protection it stands for.
void opExplainTlsRefusal(void* conn) {
  MYSQL* m = asConn(conn);
  const unsigned long capabilities = serverCapabilities(m);
  if (mysql_errno(m) != CR_PLUGIN_NOT_ALLOWED || capabilities == 0) return;
  SET_CLIENT_ERROR(m, CR_SSL_CONNECTION_ERROR, "HY000", (capabilities & CLIENT_SSL) ? kNoPluginAuth : kNoTls);
}

const char* opSslCipher(void* conn) { return mysql_get_ssl_cipher(asConn(conn)); }

int opSocketOf(void* conn) { return static_cast<int>(mysql_get_socket(asConn(conn))); }

}  // namespace
}  // namespace veltro_client_ops

namespace veltro::db::detail {

namespace {

// The client library's per-thread set-up, as its documentation asks of a
// thread that uses it: begun before the thread's first connection, ended when
// the thread ends. (Connector/C 3 keeps no per-thread state: both calls do
// nothing there, and this only keeps the documented contract.)
struct ClientThread {
  ClientThread() { mysql_thread_init(); }
  ~ClientThread() { mysql_thread_end(); }
  ClientThread(const ClientThread&) = delete;
  ClientThread& operator=(const ClientThread&) = delete;
};

}  // namespace

// Called by every thread before it makes a connection.
const VeltroBackendOps* clientBackend() {
  // The library's global state is set up once, before any connection, rather
  // than by whichever first mysql_init happens to come first; the
  // function-local static makes a second thread wait until it is done.
  static const VeltroBackendOps ops = [] {
    mysql_library_init(0, nullptr, nullptr);
    veltro_client_ops::registerGuard();
    VeltroBackendOps o = veltro_client_ops::commonOps();
    o.plainEscaping = veltro_client_ops::opPlainEscaping;
    o.adoptCharset = veltro_client_ops::opAdoptCharset;
    o.applyOptions = veltro_client_ops::opApplyOptions;
    o.sslCipher = veltro_client_ops::opSslCipher;
    o.explainTlsRefusal = veltro_client_ops::opExplainTlsRefusal;
    o.socketOf = veltro_client_ops::opSocketOf;
    return o;
  }();
  thread_local ClientThread clientThread;
  return &ops;
}

}  // namespace veltro::db::detail
