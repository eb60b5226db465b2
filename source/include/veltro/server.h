// TQuillonSrv: one connection to a MySQL/MariaDB server (or to an embedded
// server in the process) and every server-level command.
//
//   auto srv = veltro::TQuillonSrv::create();
//   srv->New("127.0.0.1", "user", "secret", 3306, 0, "shop");
//   srv->SqlQuery("UPDATE t SET a = 1");
//   srv->End();
//
// Errors end in CheckError: with a callable in bOnError it receives
// (server, number, internal, extra); without one an error object goes to the
// process's current error handler (a guarded block, or the default handling
// that reports and ends the program). Members are public Values, as are most
// arguments (nil = omitted). Every operation and member also answers by name:
// srv->send("ROLLBACK"), srv->send("_lReConnect", false).
//
// Threads: a server object, with its queries and row objects, is used by one
// thread at a time; objects in different threads run in parallel. Error
// handlers and guarded blocks belong to the thread that installs them.
//
// Safety: every value the library writes into a statement is escaped for
// this object's connection (its character set and backslash mode); an
// argument that is a name (table, column, database, index) must be an
// identifier (name, db.name or `quoted`) and is refused with 9027 otherwise,
// before anything is sent. Arguments that are SQL by contract (a statement,
// a WHERE, ORDER BY or table-options text) are sent as given.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "veltro/export.h"
#include "veltro/object.h"
#include "veltro/value.h"

namespace veltro {

class TQuillonQry;
using QueryPtr = std::shared_ptr<TQuillonQry>;
class Session;
namespace detail {
struct SessionCore;
}
class TQuillonSrv;
using ServerPtr = std::shared_ptr<TQuillonSrv>;

// Internal error codes reported with SubSystem "TQUILLON" ("Internal Error").
enum InternalError : int {
  kErrNoDatabaseName = 9000,   // SelectDB with an empty name
  kErrStructureCount = 9001,   // a column definition with fewer than six elements
  kErrStructureNotNull = 9002, // a NOT NULL switch that is not logical
  kErrNoPrimaryColumn = 9003,
  kErrNoUniqueColumn = 9004,
  kErrNoAutoIncColumn = 9005,
  kErrEmptyStatement = 9006,
  kErrMissingLists = 9007,
  kErrNoTableName = 9008,
  kErrListLengths = 9009,
  kErrFieldNumber = 9011,
  kErrFieldName = 9012,
  kErrFieldValue = 9013,
  kErrNotLoaded = 9014,
  kErrBlankRowTables = 9015,
  kErrSaveTables = 9016,
  kErrNoCurrentDatabase = 9018,
  kErrNotAQuery = 9019,
  // One code for two refusals, as the system numbers them: Backup's target
  // exists (and overwrite is off), Restore's dump file is missing.
  kErrFileExists = 9020,
  kErrNoTables = 9021,
  kErrDeleteTables = 9022,
  kErrDumpWrite = 9023,        // Backup: the dump file could not be created or written
  kErrEmptyList = 9024,
  kErrMultiQuery = 9025,
  kErrFieldKind = 9026,
  kErrNotAName = 9027,         // an argument that must be a name is not an identifier
  kErrNoConnection = 9028,     // a statement on a server object with no connection (refused or ended)
  kErrBadSetting = 9029,       // a connection setting with a value the library does not know
  kErrDumpStatement = 9030,    // Restore: a line that is not a statement Backup writes (skipped)
  kErrUnknownOutcome = 9031,   // MultiQuery: the connection was lost during COMMIT; the list may have committed
  kErrNoReadyNode = 9032,      // no host of a host list accepted the connection and was ready
  kErrDumpIncomplete = 9033,   // Restore: the dump was cut short or altered (its closing line missing or not matching)
  kErrRestoreStopped = 9034,   // Restore: the connection was lost; the rest of the dump was not loaded
  kErrTransactionOpen = 9035,  // Backup: a transaction is open on the connection (its dump reads a moment of its own)
  kErrSessionLost = 9036,      // a reconnect could not bring back the session's settings; the statement was not sent
};

class VELTRO_API TQuillonSrv : public Object {
  struct Key {};

 public:
  // A new object with no connection; make it ready with New or Embedded.
  static ServerPtr create();
  // For create() only (Key is private): the object lives in a shared_ptr.
  explicit TQuillonSrv(Key);
  ~TQuillonSrv() override;  // closes a connection that End did not
  TQuillonSrv(const TQuillonSrv&) = delete;
  TQuillonSrv& operator=(const TQuillonSrv&) = delete;

  // The system's class name, as messages and reports give it.
  std::string_view className() const override { return "TQUILLONSRV"; }

  // --- Members ---------------------------------------------------------------
  static Value nQueryId;  // last query number handed out, shared by all servers
  // Callbacks, nil for none: bOnError(server, number, internal, extra) takes
  // every report; Backup's and Restore's progress (a step number first);
  // MultiQuery's, with the position of the statement that ran.
  Value bOnError, bOnBackUp, bOnRestore, bOnMultiQry;
  // The login New stored. cDBName follows SelectDB ("" after a failed one);
  // a reconnect opens the database selected last.
  Value cDBName, cPassword, cHost, cUser;
  // The system's build stamp, kept as it always was; nothing reads it.
  Value cBuild = "20-Jul-10 3:30:59 PM";
  // hMysql: the connection handle (0: none). lReConnect: replace a connection
  // lost with 2006 (New sets it). Cargo: the caller's, never read. lError: the
  // last check found an error. nFlags, nPort: client flags and port of every
  // connect. nInternalError: the last 9000 code set.
  Value hMysql, lReConnect, Cargo, lError, nFlags, nInternalError, nPort;

  // Connection settings, applied through the client library's own options
  // before each connect (New, Connect, ReConnect). nil keeps the client
  // library's default. Set them before New.
  //   cCharset   character set of the connection ("utf8mb4", "gbk", ...)
  //   cTls       "off", "preferred", "required" or "verify-identity"
  //   cSslCa, cSslCert, cSslKey   certificate files for TLS
  //   nConnectTimeout, nReadTimeout, nWriteTimeout   seconds
  //   cSocket    the Unix socket path (used when the host is "localhost")
  Value cCharset, cTls, cSslCa, cSslCert, cSslKey, nConnectTimeout, nReadTimeout, nWriteTimeout, cSocket;
  // Those nine members, each with the key it goes under in MYSQLCONNECT's
  // options table ("charset", "tls", "ssl-ca", ...); seconds: a timeout.
  struct ConnectionSetting {
    const char* member;
    const char* key;
    Value TQuillonSrv::*value;
    bool seconds;
  };
  // The nine settings, in the order the members are declared.
  static std::span<const ConnectionSetting> ConnectionSettings();

  // Clusters and lost connections.
  //   cHost may be a host list "h1[:port],h2[:port],...": the first host that
  //   answers and is ready is used (a Galera node that is not Synced, or
  //   refuses statements with 1047, is skipped), and a reconnect moves on to
  //   the next ready host. A single host is used as given. A host list never
  //   waits on a host without bound: nConnectTimeout defaults to 5 s, and a
  //   call that waits 1 s has its node probed (a new connection that must
  //   bring the server's greeting within the connect timeout); a node that
  //   does not answer has the call cut (2013: unknown outcome), one that
  //   answers lets a long statement run on. nReadTimeout or nWriteTimeout 0
  //   turns the probe off. After a reconnect the session statements sent
  //   (session SETs, USE) are sent again; a session that cannot be brought
  //   back is reported (kErrSessionLost). A lost connection that no
  //   reconnect replaced is tried again by the next statement.
  //   lRepeatable   the caller's statements may run twice: a statement whose
  //                 connection was lost while it ran (2013, outcome unknown)
  //                 is sent again on a new connection instead of reported.
  //                 Off (nil) by default.
  //   nMultiRetries times a MultiQuery transaction list that certainly did
  //                 not commit (a conflict, 1213, or its connection lost
  //                 before COMMIT) is run again from the start; nil means 3.
  //   lReadYourWrites  on a Galera node, reads wait for the writes the
  //                 cluster has committed (wsrep_sync_wait = 1); applied at
  //                 each connect, nothing is sent to other servers.
  Value lRepeatable, nMultiRetries, lReadYourWrites;

  // Registry of open queries, in order of creation. The registry does not keep
  // a query alive: a query that its owner drops frees its result and leaves.
  Value aQueries() const;
  std::vector<QueryPtr> queries() const;

  // --- Connection --------------------------------------------------------------
  // Stores the settings, connects and checks; returns the object. A bad
  // setting (kErrBadSetting, nothing sent) or a refused connect is reported;
  // when the report returns, hMysql is 0. Clears lError, nInternalError and
  // the registry.
  TQuillonSrv& New(const Value& host = {}, const Value& user = {}, const Value& password = {},
                   const Value& port = {}, const Value& flags = {}, const Value& database = {},
                   const Value& onError = {});
  // Opens a new connection (nil arguments: the stored settings) and returns
  // its handle, not stored; a failed connect's handle carries the error. 0
  // after kErrBadSetting. A host list: the first ready host.
  Value Connect(const Value& host = {}, const Value& user = {}, const Value& password = {},
                const Value& port = {}, const Value& flags = {}, const Value& database = {});
  // Connects again (three attempts; a host list's next ready host) and
  // reloads every registered query that holds a result. A connect that fails
  // is not reported here: the next statement meets it.
  void ReConnect();
  // Closes the connection and ends the registered queries; nothing when already ended.
  void End();
  // Starts the embedded server (options: server arguments, first the program
  // name; see db::embeddedOptions) and connects to it; returns the object.
  // A failed start is reported (its reason in ErrorTxt); hMysql is then 0.
  TQuillonSrv& Embedded(const Value& database = {}, const Value& options = {}, const Value& groups = {},
                        const Value& onError = {});
  // Whether the connection answers; false after checking (and reporting) why.
  bool Ping();

  // --- Errors ------------------------------------------------------------------
  // Checks the last call (nError nil: ask the client library) and reports an
  // error; a number given is reported as the client's. 2006 with lReConnect
  // reconnects instead, reported only when a transaction or the server is lost.
  void CheckError(const Value& nError = {}, const Value& cExtra = {});
  // Sets nInternalError to code and reports it.
  void RaiseInternal(int code, const Value& cExtra = {});
  // Sets nInternalError; the next CheckError that finds no client error reports it.
  void SetInternalError(const Value& code);
  // The client library's last error number on the connection. It clears
  // lError first: CheckError asks it, so each check starts from no error.
  Value ErrorNo();
  // The client library's last error text, password literals masked; with no
  // connection, the binding's last failure in this thread (a failed embedded
  // start, a refused setting), "" when there was none.
  std::string ErrorTxt();

  // --- Statements and registry -----------------------------------------------------
  // Runs one statement; true when the server took it. Refused: a blank or
  // non-text statement (kErrEmptyStatement), no connection (kErrNoConnection),
  // else the server's number. Outside a transaction one that surely did not
  // run (2006, 1047 on a host list, 1213) is sent once more.
  bool SqlQuery(const Value& cQuery);
  // SqlQuery under its other name.
  bool Execute(const Value& cQuery) { return SqlQuery(cQuery); }
  // Runs a list of statements, by default between BEGIN and COMMIT, run again
  // whole (nMultiRetries) after a conflict or a loss; true when it committed.
  // Refused: kErrEmptyList, kErrNoConnection; failed: kErrMultiQuery with the
  // failing statement, kErrUnknownOutcome. A callback given stays stored.
  // A failed list is rolled back twice (the client's, then RollBack), as the
  // system always did; the second finds nothing open and does no harm.
  bool MultiQuery(const Value& aQuery, const Value& lTransaction = {}, const Value& bOnMultiQry = {});
  // SqlQuery("BEGIN").
  bool BeginTransaction();
  // The client library's commit and rollback: 0 on success, else non-zero.
  // Nothing is reported: callers read the status.
  int CommitTransaction();
  int RollBack();
  // A new query object of this connection, loaded with cQuery (TQuillonQry::New).
  QueryPtr Query(const Value& cQuery);
  // Appends a query to the registry (a query registers itself); returns it.
  QueryPtr AddQuery(const QueryPtr& query);
  // The next query number; numbers are shared by every server of the process.
  Value GetQueryId();
  // Frees the result of the registered query numbered nId and drops it from
  // the registry; an unknown number does nothing.
  void CloseQuery(const Value& nId);
  // CloseQuery for every registered query.
  void CloseAllQuery();
  // Makes a database the default and keeps it in cDBName. Refused: an empty
  // name (kErrNoDatabaseName), a zero byte (kErrNotAName). A server refusal
  // sets cDBName to "" and is reported under the client's status, as the
  // system does, not the server's number.
  bool SelectDB(const Value& cDBName);
  // Rows the last statement changed (an UPDATE that matched no row, or set
  // every column to the value it had: 0); -1 after a failed statement.
  long long AffectedRows();
  // The AUTO_INCREMENT value the last INSERT of this connection gave; 0 for none.
  long long InsertId();
  // Names of the databases, and of the current database's tables; cWild a
  // LIKE pattern (nil: all). An error is reported, an empty array returned.
  Value ListDBs(const Value& cWild = {});
  Value ListTables(const Value& cWild = {});

  // --- Rows ----------------------------------------------------------------------
  // INSERT of one row, values written for the connection. Refused: no lists
  // (kErrMissingLists), no table (kErrNoTableName), lists of unequal length
  // (kErrListLengths), a name that is not one (kErrNotAName).
  bool Insert(const Value& table, const Value& columns, const Value& values);
  // UPDATE table SET ... [WHERE where], with Insert's refusals. A value that
  // is an array {change} adds to the column (CONCAT for a text column).
  bool Update(const Value& table, const Value& columns, const Value& values, const Value& where = {});
  // The table's next AUTO_INCREMENT value from information_schema (0 for none,
  // or for no table name); kErrNoCurrentDatabase without a current database.
  // It selects information_schema meanwhile, then the database again.
  Value GetAutoIncrement(const Value& table);
  // Whether the column of the table is AUTO_INCREMENT; false on any failure
  // (a bad name or the listing's error reported).
  bool IsAutoIncrement(const Value& column, const Value& table);
  // SELECT COUNT(*) of a table; 0 on failure.
  Value GetRowsFromTable(const Value& table);
  // Rows a query's statement gives without its LIMIT; 0 and kErrNotAQuery
  // when query is no query object.
  Value GetRowsFromQry(const Value& query);
  // The column's value in the table's last row by that column (ORDER BY column
  // DESC LIMIT 1); defaultValue when there is none or an argument is wrong.
  Value LastDownData(const Value& table, const Value& column, const Value& defaultValue = {});
  // A query object loaded with BUILDQUERY's statement; withRollup true adds
  // WITH ROLLUP.
  QueryPtr SelectTable(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                       const Value& group = {}, const Value& having = {}, const Value& order = {},
                       const Value& limit = {}, const Value& withRollup = {});

  // --- Schema --------------------------------------------------------------------
  // Schema commands return SqlQuery's result; a name that is no identifier
  // is refused with kErrNotAName before anything is sent.
  // CREATE DATABASE, IF NOT EXISTS unless ifNotExists is false.
  bool DBCreate(const Value& name, const Value& ifNotExists = {}, const Value& charset = {},
                const Value& collation = {});
  // Whether a database, or a table of the current database, of that name
  // exists (by the listing); false for an empty name.
  bool DBExist(const Value& name);
  bool TableExist(const Value& name);
  // DROP DATABASE, IF EXISTS when ifExists is true.
  bool DeleteDB(const Value& name, const Value& ifExists = {});
  // CREATE TABLE from column definitions {name, type code, length, decimals,
  // not null, default} (IF NOT EXISTS by default). With verify (default on)
  // a bad definition (kErrStructureCount, kErrStructureNotNull) or a key
  // naming no column (kErrNoPrimaryColumn, ...) is reported and nothing sent.
  bool CreateTable(const Value& table, const Value& definition, const Value& primaryKey = {},
                   const Value& uniqueKey = {}, const Value& autoIncrement = {}, const Value& options = {},
                   const Value& ifNotExists = {}, const Value& verify = {});
  // SHOW CREATE TABLE's text on one line, without backquotes; "" on failure.
  std::string CreateInfo(const Value& table);
  // ALTER TABLE ADD an index of columns (names, or {name, 1 ASC | 2 DESC});
  // constraint 1 UNIQUE, 2 FULLTEXT, 3 SPATIAL, 4 PRIMARY KEY; type 1 BTREE,
  // 2 HASH, 3 RTREE.
  bool CreateIndex(const Value& index, const Value& table, const Value& columns, const Value& constraint = {},
                   const Value& type = {});
  // DROP INDEX; with primary true the primary key instead (index ignored).
  bool DeleteIndex(const Value& index, const Value& table, const Value& primary = {});
  // DROP TABLE of one name or an array of them, IF EXISTS when ifExists is true.
  bool DeleteTables(const Value& tables, const Value& ifExists = {});
  // ALTER TABLE ... ENGINE = engine.
  bool ChangeEngine(const Value& table, const Value& engine);
  // ChangeEngine for every table of the current database; a failure is
  // reported and the run goes on.
  void ChangeEngineAll(const Value& engine);
  // OPTIMIZE TABLE of one table, or of every table of the current database.
  void Compact(const Value& table = {});
  // The column descriptions of a table (MYSQLRESULTSTRUCTURE's); an empty
  // array on failure.
  Value TableStructure(const Value& table);

  // --- Users -------------------------------------------------------------------
  // GRANT privileges (default ALL PRIVILEGES; a text or an array of names) ON
  // database.* (default *) TO user@host [IDENTIFIED BY password] [WITH
  // withOption], creating the database first when asked. A nil host means
  // cHost, the server's own host, as the system always did. False, with
  // nothing reported, for an empty host, user or database; kErrNotAName for
  // a scope or privilege list that is not one.
  bool AddUser(const Value& host = {}, const Value& user = {}, const Value& password = {},
               const Value& database = {}, const Value& createDatabase = {}, const Value& privileges = {},
               const Value& withOption = {});
  // DROP USER of an account list ("user", "'user'@'host'", ...); any other
  // text is refused with kErrNotAName.
  bool DropUser(const Value& account);
  // RENAME USER oldUser@host TO newUser@host, the names trimmed and lower-cased
  // (unless case-sensitive names are on).
  bool RenameUser(const Value& oldUser, const Value& host, const Value& newUser);
  // The privilege names SHOW PRIVILEGES lists, upper case: kind 1 admin, 2
  // (default) all but server-wide ones, 3 table-level, 4 all.
  Value GetPrivileges(const Value& kind = {});
  // REVOKE privileges ON database.* FROM user@host, with AddUser's defaults
  // and refusals.
  bool RevokePrivileges(const Value& host = {}, const Value& user = {}, const Value& database = {},
                        const Value& privileges = {});

  // --- Backup and restore ----------------------------------------------------------
  // Writes a dump of tables of the current database to fileName (withDrop:
  // DROP and CREATE before the rows). Returns true only when cancelled: a
  // written dump returns false too, as the system's Backup always has.
  // Refused: kErrNoCurrentDatabase, kErrFileExists (the file exists and
  // overwrite is off), kErrNoTables, kErrNotAName, kErrTransactionOpen;
  // failed: kErrDumpWrite, or the server's error (the old file stays).
  // cancel: a flag the caller may set (from a progress callback) to stop the run.
  bool Backup(const Value& tables, const Value& fileName, const Value& withDrop = {}, const Value& overwrite = {},
              const Value& batchRows = {}, const Value& header = {}, const Value& footer = {},
              const bool* cancel = nullptr);
  // Sends a dump's statements in order; true when the whole dump loaded.
  // Refused: kErrFileExists when the file is missing (the code's other
  // meaning). Failed: kErrDumpIncomplete, kErrRestoreStopped; a line Backup
  // does not write is reported (kErrDumpStatement) and skipped.
  bool Restore(const Value& fileName, const bool* cancel = nullptr);

  // The typed face on this object's connection (veltro/session.h). The
  // object stays the owner: the session never closes the connection.
  Session session();

  // The connection handle as the binding's number (0 for none).
  long long handle() const { return hMysql.asInt(); }
  // This object as its shared pointer.
  ServerPtr self() { return std::static_pointer_cast<TQuillonSrv>(shared_from_this()); }

 protected:
  const MessageTable& messages() const override;

 private:
  friend class TQuillonQry;
  friend struct detail::SessionCore;
  struct Impl;
  std::unique_ptr<Impl> impl_;  // the queries, the connection's history, the session log
};

// The library's default reporting: builds the error object and hands it to the
// process's current error handler.
VELTRO_API void QUILLON_DEFERROR(const ServerPtr& server, const Value& nError, const Value& lInternal,
                                 const Value& cExtra);

}  // namespace veltro
