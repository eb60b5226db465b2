// The client-server backend: Connector/C, linked into the binding.
#include <mysql.h>

#include <cstring>

#include "backend.h"
#include "client_backend.h"

#define VELTRO_BACKEND_NS veltro_client_ops
#include "backend_ops.inc"

namespace veltro_client_ops {
namespace {

// Whether the client library escapes the connection's character set byte by
// byte: single-byte sets, and UTF-8, whose multi-byte characters hold no ASCII
// byte. (It escapes a stray lead byte of the EUC family, so those take its path.)
bool plainCharset(const MARIADB_CHARSET_INFO* cs) {
  if (!cs) return false;
  if (cs->char_maxlen <= 1) return true;
  static const char* const kSafe[] = {"utf8", "utf8mb3", "utf8mb4"};
  for (const char* name : kSafe)
    if (cs->csname && std::strcmp(cs->csname, name) == 0) return true;
  return false;
}

int opPlainEscaping(void* conn) {
  const MYSQL* m = asConn(conn);
  if (m->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) return 0;
  // The character set objects are the library's static tables: one answer each.
  thread_local const MARIADB_CHARSET_INFO* known = nullptr;
  thread_local int answer = 0;
  if (m->charset != known) {
    answer = plainCharset(m->charset) ? 1 : 0;
    known = m->charset;
  }
  return answer;
}

// As the client library itself does when the server's session tracking
// reports a new character_set_client: the connection object escapes with the
// named set from now on.
int opAdoptCharset(void* conn, const char* name) {
  const MARIADB_CHARSET_INFO* cs = name ? mariadb_get_charset_by_name(name) : nullptr;
  if (!cs) return 0;
  asConn(conn)->charset = cs;
  return 1;
}

int setText(MYSQL* m, enum mysql_option option, const char* text) {
  return text ? mysql_optionsv(m, option, text) : 0;
}

int setSeconds(MYSQL* m, enum mysql_option option, unsigned seconds) {
  return seconds ? mysql_optionsv(m, option, &seconds) : 0;
}

// Connector/C asks for TLS when MYSQL_OPT_SSL_ENFORCE is on or any certificate
// file is given, and goes on unencrypted when the server does not offer it
// unless the server certificate is to be verified. So "off" passes no
// certificate file, "preferred" only asks, and "required" is made sure of
// after the connect (db::connect checks the cipher).
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
  failed |= setSeconds(m, MYSQL_OPT_CONNECT_TIMEOUT, o->connectTimeout);
  failed |= setSeconds(m, MYSQL_OPT_READ_TIMEOUT, o->readTimeout);
  failed |= setSeconds(m, MYSQL_OPT_WRITE_TIMEOUT, o->writeTimeout);
  return failed;
}

const char* opSslCipher(void* conn) { return mysql_get_ssl_cipher(asConn(conn)); }

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
    VeltroBackendOps o = veltro_client_ops::commonOps();
    o.plainEscaping = veltro_client_ops::opPlainEscaping;
    o.adoptCharset = veltro_client_ops::opAdoptCharset;
    o.applyOptions = veltro_client_ops::opApplyOptions;
    o.sslCipher = veltro_client_ops::opSslCipher;
    return o;
  }();
  thread_local ClientThread clientThread;
  return &ops;
}

}  // namespace veltro::db::detail
