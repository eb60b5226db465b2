// The table of client-library operations that each backend fills.
//
// Two backends exist: Connector/C for client-server connections (linked into
// the binding) and the embedded server (a module loaded on demand). Their
// headers declare the same names with different types, so this interface uses
// only neutral C types and never includes <mysql.h>: connection and result
// objects travel as opaque pointers, column descriptions as VeltroField.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// One column description, pointing into the result it came from.
typedef struct VeltroField {
  const char* name;
  unsigned nameLength;
  const char* table;
  unsigned tableLength;
  const char* def;  // null when the server sent no default
  unsigned defLength;
  int type;
  uint64_t length;
  uint64_t maxLength;
  unsigned flags;
  unsigned decimals;
} VeltroField;

// TLS modes of VeltroConnectOptions (the values of db::TlsMode).
enum {
  VELTRO_TLS_DEFAULT = 0,          // the client library's own default
  VELTRO_TLS_OFF = 1,              // never encrypted; certificate files are not passed
  VELTRO_TLS_PREFERRED = 2,        // encrypted when the server offers it, plain otherwise
  VELTRO_TLS_REQUIRED = 3,         // encrypted or no connection; the certificate checked only against a given CA
  VELTRO_TLS_VERIFY_IDENTITY = 4,  // encrypted, the certificate checked against the CA and the host name
};

// Settings applied to a connection object before it connects; null texts and
// zero numbers keep the client library's default.
typedef struct VeltroConnectOptions {
  const char* charset;
  int tls;  // one of VELTRO_TLS_*
  const char* sslCa;
  const char* sslCert;
  const char* sslKey;
  unsigned connectTimeout;  // seconds
  unsigned readTimeout;
  unsigned writeTimeout;
} VeltroConnectOptions;

// Kinds of VeltroParam.
enum {
  VELTRO_PARAM_NULL = 0,
  VELTRO_PARAM_INT = 1,       // i
  VELTRO_PARAM_UINT = 2,      // u
  VELTRO_PARAM_FLOAT = 3,     // d, sent as a float
  VELTRO_PARAM_DOUBLE = 4,    // d
  VELTRO_PARAM_TEXT = 5,      // text, length
  VELTRO_PARAM_DECIMAL = 6,   // text, length: a numeral
  VELTRO_PARAM_DATE = 7,      // year, month, day
  VELTRO_PARAM_DATETIME = 8,  // and hour, minute, second, microsecond
  VELTRO_PARAM_TIME = 9,      // negative, hour (any number of them), minute, second, microsecond
};

// One argument of a prepared statement.
typedef struct VeltroParam {
  int kind;  // one of VELTRO_PARAM_*
  int64_t i;
  uint64_t u;
  double d;
  const char* text;
  unsigned long length;
  int negative;
  unsigned year, month, day, hour, minute, second;
  unsigned long microsecond;
} VeltroParam;

typedef struct VeltroBackendOps {
  // Embedded backend only (null in the client backend).
  int (*serverInit)(int argc, char** argv, char** groups);
  void (*serverEnd)(void);
  int (*useEmbeddedConnection)(void* conn);

  void* (*init)(void);
  // The connection object on success, null on failure (the error stays readable on conn).
  void* (*realConnect)(void* conn, const char* host, const char* user, const char* password,
                       const char* database, unsigned port, const char* socket, unsigned long flags);
  void (*close)(void* conn);
  int (*realQuery)(void* conn, const char* sql, unsigned long length);
  int (*selectDb)(void* conn, const char* database);
  int (*ping)(void* conn);
  int (*commit)(void* conn);    // the one-byte result widened with its sign
  int (*rollback)(void* conn);  // likewise
  unsigned (*errnum)(void* conn);
  const char* (*error)(void* conn);
  unsigned long (*realEscape)(void* conn, char* to, const char* from, unsigned long length);
  // Non-zero when escaping byte by byte (backslash before \0 \n \r \\ ' " and
  // ^Z) gives what realEscape gives on conn; null in a backend that cannot tell.
  int (*plainEscaping)(void* conn);
  // Makes the connection escape with the named character set, as the server
  // now reads it; 0 when the client library does not know the name.
  int (*adoptCharset)(void* conn, const char* name);

  // Client backend only (null in the embedded backend).
  // Applies options to a connection not yet connected; 0 on success.
  int (*applyOptions)(void* conn, const VeltroConnectOptions* options);
  // The cipher of an encrypted connection; null for a plain one.
  const char* (*sslCipher)(void* conn);
  // After a failed connect with VELTRO_TLS_REQUIRED: puts the refusal of a
  // server that could not be made to encrypt before the login in those words
  // (error 2026); any other error stays as it is.
  void (*explainTlsRefusal)(void* conn);
  // The connection's socket (-1 when it has none).
  int (*socketOf)(void* conn);

  void* (*storeResult)(void* conn);
  // A result read row by row from the server (nothing held in memory); the
  // connection takes no other statement until its last row is fetched.
  void* (*useResult)(void* conn);
  unsigned (*fieldCount)(void* conn);
  uint64_t (*numRows)(void* res);
  unsigned (*numFields)(void* res);
  void (*dataSeek)(void* res, uint64_t row);
  // The next row and its value lengths; null past the end.
  char** (*fetchRow)(void* res, unsigned long** lengths);
  void (*freeResult)(void* res);
  // Fills out with the next column of res; 0 when no column is left.
  int (*fetchField)(void* res, VeltroField* out);
  void* (*listFields)(void* conn, const char* table, const char* wild);
  void* (*listDbs)(void* conn, const char* wild);
  void* (*listTables)(void* conn, const char* wild);
  // Rows the last statement changed ((uint64_t)-1 after an error), and the
  // value the last statement gave an AUTO_INCREMENT column (0 for none).
  uint64_t (*affectedRows)(void* conn);
  uint64_t (*insertId)(void* conn);
  // The most bytes one character of the connection's character set takes,
  // and the set's name in *name.
  unsigned (*charsetInfo)(void* conn, const char** name);
  // The character set number of column index (from 0) of a result; 63 (db::kBinaryCharset) is binary.
  unsigned (*fieldCharset)(void* res, unsigned index);
  // Non-zero when the session's sql_mode holds NO_BACKSLASH_ESCAPES.
  int (*noBackslashEscapes)(void* conn);
  // The server's version as a number (10.11.19: 101119).
  unsigned long (*serverVersion)(void* conn);
  // The SQLSTATE of the connection's last error ("00000" for none).
  const char* (*sqlstate)(void* conn);
  // Results beyond a statement's first (a CALL of a procedure that returns
  // rows sends one per SELECT, then its own status). resultWaiting: non-zero
  // while the last statement's result set is not yet taken (stored or used).
  // nextResult: 0 when the next result is ready, -1 when none is left, > 0 on
  // an error (readable on conn).
  int (*resultWaiting)(void* conn);
  int (*moreResults)(void* conn);
  int (*nextResult)(void* conn);

  // Prepared statements (binary protocol). A statement object belongs to one
  // connection and may outlive it (then every call fails).
  // stmtPrepare: the object, prepared or holding its error (stmtErrnum);
  // null when no object could be made.
  void* (*stmtPrepare)(void* conn, const char* sql, unsigned long length);
  unsigned long (*stmtParamCount)(void* stmt);
  // Binds stmtParamCount params and runs the statement; 0 or non-zero on an
  // error. A result set it returns is read whole first when store is set.
  int (*stmtExecute)(void* stmt, const VeltroParam* params, int store);
  // Columns of the current result set (0: none), each described into out.
  unsigned (*stmtFieldCount)(void* stmt);
  int (*stmtField)(void* stmt, unsigned index, VeltroField* out);
  // The next row, each field as the text the server shows for it (null for
  // NULL), valid until the next fetch: 1 for a row, 0 past the end, -1 on an error.
  int (*stmtFetch)(void* stmt, char*** values, unsigned long** lengths);
  uint64_t (*stmtAffectedRows)(void* stmt);
  uint64_t (*stmtInsertId)(void* stmt);
  unsigned (*stmtErrnum)(void* stmt);
  const char* (*stmtError)(void* stmt);
  const char* (*stmtSqlstate)(void* stmt);
  // Drops the rows left and every further result (a CALL's); 0 or non-zero on an error.
  int (*stmtDiscard)(void* stmt);
  // Closes it on the server (when its connection is still there) and frees it.
  void (*stmtClose)(void* stmt);

  // Array binding (MariaDB's bulk execution), client backend only (null in
  // the embedded one). stmtBulkSupported: non-zero when the server takes it.
  // stmtExecuteBulk: runs the statement once per row of params (rows rows of
  // stmtParamCount each, row after row) in one round trip; the kind of a
  // column is that of its first row that is not NULL. 0, or non-zero on an
  // error (stmtErrnum 0: a column whose rows are of different kinds).
  int (*stmtBulkSupported)(void* stmt);
  int (*stmtExecuteBulk)(void* stmt, const VeltroParam* params, unsigned long rows);
  // Resets the session (mysql_reset_connection): its transaction rolled
  // back, variables, temporary tables, locks and prepared statements gone;
  // the current database stays. 0, or non-zero on an error. Client backend only.
  int (*resetConnection)(void* conn);
  // The current database as the client library last learnt it; null for none.
  const char* (*currentDatabase)(void* conn);
} VeltroBackendOps;

// The name the embedded module exports its table under.
#define VELTRO_EMBEDDED_OPS_SYMBOL "veltro_embedded_backend_ops"
typedef const VeltroBackendOps* (*VeltroBackendOpsFn)(void);

#ifdef __cplusplus
}
#endif
