// What a caller's statements leave in the session of its connection: the
// statements that bring it back on a new connection, or why none can.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sql_dialect.h"

namespace veltro::detail {

enum class SessionUse {
  None,    // leaves nothing in the session (or nothing a new session could take)
  Replay,  // a session setting, a user variable, the current database: sent again after a reconnect
  Lost,    // state no statement brings back (a temporary table, a computed value)
};

struct SessionStep {
  SessionUse use = SessionUse::None;
  // Replay: what it sets, so that a later statement setting the same replaces
  // it ("" when it sets several things). Lost: what the session now holds.
  std::string key;
};

// What a statement that ran does to its session, read by the lexer: USE, SET
// of session settings and user variables (not GLOBAL, STATEMENT ... FOR,
// TRANSACTION, PASSWORD, DEFAULT ROLE), CREATE TEMPORARY TABLE.
SessionStep sessionStep(std::string_view sql, const sql::Dialect& d);

// The session statements of a connection, in the order they ran.
struct SessionLog {
  struct Kept {
    std::string key;
    std::string sql;
  };
  std::vector<Kept> statements;
  std::string lost;  // why the session cannot be brought back ("" when it can)

  // Takes a statement that ran; false once the session cannot be brought back.
  bool keep(std::string_view sql, const SessionStep& step);
  // SelectDB chose the database a reconnect connects to: a USE would undo it.
  void forgetDatabase();
  void clear();
};

}  // namespace veltro::detail
