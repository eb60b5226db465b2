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
  kErrFileExists = 9020,       // Backup: target exists; Restore: dump missing
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
};

class TQuillonSrv : public Object {
  struct Key {};

 public:
  static ServerPtr create();
  explicit TQuillonSrv(Key);
  ~TQuillonSrv() override;  // closes a connection that End did not
  TQuillonSrv(const TQuillonSrv&) = delete;
  TQuillonSrv& operator=(const TQuillonSrv&) = delete;

  std::string_view className() const override { return "TQUILLONSRV"; }

  // --- Members ---------------------------------------------------------------
  static Value nQueryId;  // last query number handed out, shared by all servers
  Value bOnError, bOnBackUp, bOnRestore, bOnMultiQry;
  Value cDBName, cPassword, cHost, cUser;
  Value cBuild = "20-Jul-10 3:30:59 PM";
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
  static std::span<const ConnectionSetting> ConnectionSettings();

  // Clusters and lost connections.
  //   cHost may be a host list "h1[:port],h2[:port],...": the first host that
  //   answers and is ready is used (a Galera node that is not Synced, or
  //   refuses statements with 1047, is skipped), and a reconnect moves on to
  //   the next ready host. A single host is used as given.
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
  // Stores the settings, connects and checks; returns the object.
  TQuillonSrv& New(const Value& host = {}, const Value& user = {}, const Value& password = {},
                   const Value& port = {}, const Value& flags = {}, const Value& database = {},
                   const Value& onError = {});
  // Opens a new connection (nil arguments: the stored settings); not stored.
  Value Connect(const Value& host = {}, const Value& user = {}, const Value& password = {},
                const Value& port = {}, const Value& flags = {}, const Value& database = {});
  // Connects again and reloads every registered query.
  void ReConnect();
  // Closes the connection and ends the registered queries; nothing when already ended.
  void End();
  // Starts the embedded server (options: server arguments, first the program
  // name; see db::embeddedOptions) and connects to it; returns the object.
  TQuillonSrv& Embedded(const Value& database = {}, const Value& options = {}, const Value& groups = {},
                        const Value& onError = {});
  bool Ping();

  // --- Errors ------------------------------------------------------------------
  // Checks the last call (nError nil: ask the client library) and reports an error.
  void CheckError(const Value& nError = {}, const Value& cExtra = {});
  // Sets nInternalError to code and reports it.
  void RaiseInternal(int code, const Value& cExtra = {});
  // Sets nInternalError; the next CheckError that finds no client error reports it.
  void SetInternalError(const Value& code);
  Value ErrorNo();
  std::string ErrorTxt();

  // --- Statements and registry -----------------------------------------------------
  bool SqlQuery(const Value& cQuery);
  bool Execute(const Value& cQuery) { return SqlQuery(cQuery); }
  bool MultiQuery(const Value& aQuery, const Value& lTransaction = {}, const Value& bOnMultiQry = {});
  bool BeginTransaction();
  int CommitTransaction();
  int RollBack();
  QueryPtr Query(const Value& cQuery);
  QueryPtr AddQuery(const QueryPtr& query);
  Value GetQueryId();
  void CloseQuery(const Value& nId);
  void CloseAllQuery();
  bool SelectDB(const Value& cDBName);
  // Rows the last statement changed (an UPDATE that matched no row, or set
  // every column to the value it had: 0); -1 after a failed statement.
  long long AffectedRows();
  // The AUTO_INCREMENT value the last INSERT of this connection gave; 0 for none.
  long long InsertId();
  Value ListDBs(const Value& cWild = {});
  Value ListTables(const Value& cWild = {});

  // --- Rows ----------------------------------------------------------------------
  bool Insert(const Value& table, const Value& columns, const Value& values);
  bool Update(const Value& table, const Value& columns, const Value& values, const Value& where = {});
  Value GetAutoIncrement(const Value& table);
  bool IsAutoIncrement(const Value& column, const Value& table);
  Value GetRowsFromTable(const Value& table);
  Value GetRowsFromQry(const Value& query);
  Value LastDownData(const Value& table, const Value& column, const Value& defaultValue = {});
  QueryPtr SelectTable(const Value& columns = {}, const Value& tables = {}, const Value& where = {},
                       const Value& group = {}, const Value& having = {}, const Value& order = {},
                       const Value& limit = {}, const Value& withRollup = {});

  // --- Schema --------------------------------------------------------------------
  bool DBCreate(const Value& name, const Value& ifNotExists = {}, const Value& charset = {},
                const Value& collation = {});
  bool DBExist(const Value& name);
  bool TableExist(const Value& name);
  bool DeleteDB(const Value& name, const Value& ifExists = {});
  bool CreateTable(const Value& table, const Value& definition, const Value& primaryKey = {},
                   const Value& uniqueKey = {}, const Value& autoIncrement = {}, const Value& options = {},
                   const Value& ifNotExists = {}, const Value& verify = {});
  std::string CreateInfo(const Value& table);
  bool CreateIndex(const Value& index, const Value& table, const Value& columns, const Value& constraint = {},
                   const Value& type = {});
  bool DeleteIndex(const Value& index, const Value& table, const Value& primary = {});
  bool DeleteTables(const Value& tables, const Value& ifExists = {});
  bool ChangeEngine(const Value& table, const Value& engine);
  void ChangeEngineAll(const Value& engine);
  void Compact(const Value& table = {});
  Value TableStructure(const Value& table);

  // --- Users -------------------------------------------------------------------
  bool AddUser(const Value& host = {}, const Value& user = {}, const Value& password = {},
               const Value& database = {}, const Value& createDatabase = {}, const Value& privileges = {},
               const Value& withOption = {});
  bool DropUser(const Value& account);
  bool RenameUser(const Value& oldUser, const Value& host, const Value& newUser);
  Value GetPrivileges(const Value& kind = {});
  bool RevokePrivileges(const Value& host = {}, const Value& user = {}, const Value& database = {},
                        const Value& privileges = {});

  // --- Backup and restore ----------------------------------------------------------
  // cancel: a flag the caller may set (from a progress callback) to stop the run.
  bool Backup(const Value& tables, const Value& fileName, const Value& withDrop = {}, const Value& overwrite = {},
              const Value& batchRows = {}, const Value& header = {}, const Value& footer = {},
              const bool* cancel = nullptr);
  bool Restore(const Value& fileName, const bool* cancel = nullptr);

  // The typed face on this object's connection (veltro/session.h). The
  // object stays the owner: the session never closes the connection.
  Session session();

  // The connection handle as the binding's number (0 for none).
  long long handle() const { return hMysql.asInt(); }
  ServerPtr self() { return std::static_pointer_cast<TQuillonSrv>(shared_from_this()); }

 protected:
  const MessageTable& messages() const override;

 private:
  friend class TQuillonQry;
  friend struct detail::SessionCore;
  void report(const Value& nError, bool internal, const Value& cExtra);
  void forgetQuery(const TQuillonQry* query);
  bool connected() const;
  bool hostList() const;  // cHost names more than one host
  // SqlQuery's work on a statement built by the library (no copy into a Value).
  bool sendStatement(std::string_view sql);
  // Makes the connection escape with the character set the server now reads.
  bool followCharset(bool quiet);
  // Drops what the last statement left unread (the further results of a
  // CALL, a result set nobody took), reporting a failure among them, and
  // follows the character set when that waited for them; false on a failure.
  bool settleResults();
  // The outcome of one run of a MultiQuery transaction list.
  enum class ListRun { Committed, Retry, Failed, Unknown };
  ListRun runList(const Array& statements, bool transaction, Value& last);
  // Connects to the host of the list at or after nextNode_ that is ready.
  Value connectFirstReady(const Value& host, const Value& user, const Value& password, const Value& port,
                          const Value& flags, const Value& database, const Value& options);

  std::vector<std::weak_ptr<TQuillonQry>> queries_;
  bool internalPending_ = false;  // nInternalError was set by the operation now checking
  bool inTransaction_ = false;    // a 2006 inside a transaction loses the transaction
  bool reconnecting_ = false;     // errors met while reconnecting do not reconnect again
  bool retrying_ = false;         // a statement resent after a reconnect failed once more
  bool embedded_ = false;         // made ready by Embedded: reconnect to the embedded server
  bool followPending_ = false;    // the character set is asked after the caller's result set is taken
  // Connections lost so far (2006, 2013, or replaced by a reconnect): work that
  // spans statements (a transaction list, a backup's snapshot) compares it to
  // learn that what it did before the loss is gone.
  unsigned long lostConnections_ = 0;
  std::size_t node_ = 0;       // the host of the host list now connected
  std::size_t nextNode_ = 0;   // where the next connect starts looking
  bool listRun_ = false;       // a MultiQuery list runs: losses and conflicts go to listLoss_
  long long listLoss_ = 0;     // what ended the list's run early (0: nothing)
  Value embeddedOptions_, embeddedGroups_;
};

// The library's default reporting: builds the error object and hands it to the
// process's current error handler.
void QUILLON_DEFERROR(const ServerPtr& server, const Value& nError, const Value& lInternal, const Value& cExtra);

}  // namespace veltro
