// The private part of a server object: the queries it serves, what its
// connection went through, the session a reconnect brings back, and the steps
// of sending a statement that the query objects and the typed face share.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server_session.h"
#include "veltro/binding.h"
#include "veltro/server.h"

namespace veltro {

struct TQuillonSrv::Impl {
  explicit Impl(TQuillonSrv& owner) : srv(owner) {}

  TQuillonSrv& srv;  // the object this is the private part of

  // --- Reports -----------------------------------------------------------------
  // Hands a report to bOnError, or to the default reporting without one.
  void report(const Value& nError, bool internal, const Value& cExtra);
  // Reports why a statement lost with its connection was not sent again: no
  // host could be reached (cause: the statement's own error).
  void reportUnreachable(const std::string& cause);

  // --- The connection ------------------------------------------------------------
  // Connected, and the connection carries no error.
  bool connected() const;
  // Connected, and the connection not lost (it may carry a statement's error).
  bool linkUp() const;
  bool hostList() const;  // cHost names more than one host
  // Reconnects an object whose connection was lost and not brought back, as
  // its next statement comes; false, reported, when it stays without one.
  bool revive();
  // Sends the session statements of the old connection on the new one; false,
  // with why, when the session cannot be brought back.
  bool replaySession(std::string& why);
  // A connection to the embedded server, started with embeddedOptions_.
  Value openEmbedded(const Value& database);
  // Connects to the host of the list at or after nextNode_ that is ready.
  Value connectFirstReady(const Value& host, const Value& user, const Value& password, const Value& port,
                          const Value& flags, const Value& database, const db::ConnectOptions& options);

  // The column descriptions of a table's listing: one column, or all for
  // none; nil, reported, when the listing fails.
  Value listedColumns(const std::string& table, const char* column);

  // --- Statements ----------------------------------------------------------------
  // SqlQuery's work on a statement built by the library (no copy into a Value).
  bool sendStatement(std::string_view sql);
  // Sends a failed statement once more when it certainly did not run.
  int sendAgainIfUnrun(std::string_view sql, bool& reported);
  // Makes the connection escape with the character set the server now reads.
  bool followCharset(bool quiet);
  // Drops what the last statement left unread (the further results of a
  // CALL, a result set nobody took), reporting a failure among them, and
  // follows the character set when that waited for them; false on a failure.
  bool settleResults();
  // The outcome of one run of a MultiQuery transaction list.
  enum class ListRun { Committed, Retry, Failed, Unknown };
  ListRun runList(const Array& statements, bool transaction, Value& last);
  // Before a MultiQuery list runs again: false, reported, when it may not
  // (out of reruns, no connection, the session not brought back).
  bool readyToRerun(int attempt, int retries, const Value& last);
  // After the last run of a MultiQuery list: true when it committed; false,
  // reported, when it failed or may have committed.
  bool endList(ListRun outcome, const Value& last);

  // --- Queries -------------------------------------------------------------------
  void forgetQuery(const TQuillonQry* query);

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
  std::size_t node_ = 0;      // the host of the host list now connected
  std::size_t nextNode_ = 0;  // where the next connect starts looking
  bool listRun_ = false;      // a MultiQuery list runs: losses and conflicts go to listLoss_
  long long listLoss_ = 0;    // what ended the list's run early (0: nothing)
  std::vector<std::string> embeddedOptions_, embeddedGroups_;
  detail::SessionLog session_;   // what a reconnect brings back
  bool lost_ = false;            // the connection was lost and no reconnect found one: the next statement tries
  bool sessionDropped_ = false;  // the last reconnect could not bring the session back (reported)
  std::string reconnectWhy_;     // why the last reconnect found no connection
  // Errors found so far (each sets lError): an operation learns whether a step
  // it called met one; lError is the caller's, which an error callback may change.
  unsigned long errors_ = 0;
};

}  // namespace veltro
