// What a caller's statements leave in the session, and bringing it back on
// the new connection after a reconnect (a failover moves to a new session).
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>

#include "server_impl.h"
#include "server_session.h"
#include "sql_dialect.h"
#include "sql_lexer.h"
#include "veltro/binding.h"
#include "veltro/server.h"

namespace veltro {

namespace detail {

namespace {

// Session statements kept for a reconnect; beyond them the session is not
// brought back (and the reconnect is reported).
constexpr std::size_t kReplayLimit = 100;

// The assignments of a SET, read from after its SET: replayed as they were
// sent unless a value is computed (a parenthesis: a function or a subquery
// would give another value now). key: what a single assignment sets, so a
// later one replaces it ("" for a list of them).
SessionStep setStep(std::string_view sql, sql::Lexer& lex) {
  SessionStep step{SessionUse::Replay, {}};
  bool list = false, assigned = false;
  std::string target;
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (!sql::isCode(t)) continue;
    const std::string_view text = t.text(sql);
    if (t.kind == sql::Tok::Punct && text == "(") step.use = SessionUse::Lost;
    if (t.kind == sql::Tok::Punct && text == ",") list = true;
    if (t.kind == sql::Tok::Punct && (text == "=" || text == ":")) assigned = true;
    if (!assigned && !list) {
      if (!target.empty() && t.kind == sql::Tok::Word) target += ' ';
      for (char c : text) target += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  if (step.use == SessionUse::Lost)
    step.key = "a SET whose value is computed";
  else if (!list)
    step.key = target;
  return step;
}

}  // namespace

SessionStep sessionStep(std::string_view sql, const sql::Dialect& d) {
  sql::Lexer lex(sql, d);
  auto next = [&] {
    sql::Token t;
    do t = lex.next();
    while (t.kind != sql::Tok::End && !sql::isCode(t));
    return t;
  };
  const sql::Token first = next();
  if (sql::isKeyword(sql, first, "USE")) return {SessionUse::Replay, "use"};
  if (sql::isKeyword(sql, first, "CREATE")) {
    for (sql::Token t = next(); t.kind == sql::Tok::Word; t = next()) {
      if (sql::isKeyword(sql, t, "TEMPORARY")) return {SessionUse::Lost, "a temporary table"};
      if (!sql::isKeyword(sql, t, "OR") && !sql::isKeyword(sql, t, "REPLACE")) break;
    }
    return {};
  }
  if (!sql::isKeyword(sql, first, "SET")) return {};
  // Other servers' settings, the next statement or transaction only, and
  // what the server keeps beyond the session.
  const sql::Token second = next();
  for (std::string_view word : {"GLOBAL", "STATEMENT", "TRANSACTION", "PASSWORD", "DEFAULT"})
    if (sql::isKeyword(sql, second, word)) return {};
  if (second.kind == sql::Tok::Punct && second.text(sql) == "@") {
    const sql::Token at = next();
    if (at.kind == sql::Tok::Punct && at.text(sql) == "@" && sql::isKeyword(sql, next(), "GLOBAL")) return {};
  }
  const std::string_view rest = sql.substr(second.begin);
  sql::Lexer assignments(rest, d);
  SessionStep step = setStep(rest, assignments);
  // Each names the connection's character set, whatever it names.
  if (step.use == SessionUse::Replay &&
      (sql::isKeyword(sql, second, "NAMES") || sql::isKeyword(sql, second, "CHARACTER") ||
       sql::isKeyword(sql, second, "CHARSET")))
    step.key = "names";
  return step;
}

bool SessionLog::keep(std::string_view sql, const SessionStep& step) {
  if (step.use == SessionUse::None) return true;
  if (step.use == SessionUse::Lost) {
    lost = step.key;
    return false;
  }
  if (!step.key.empty()) std::erase_if(statements, [&](const Kept& k) { return k.key == step.key; });
  if (statements.size() >= kReplayLimit) {
    lost = "more than " + std::to_string(kReplayLimit) + " session statements";
    return false;
  }
  statements.push_back({step.key, std::string(sql)});
  return true;
}

void SessionLog::forgetDatabase() {
  std::erase_if(statements, [](const Kept& k) { return k.key == "use"; });
}

void SessionLog::clear() {
  statements.clear();
  lost.clear();
}

}  // namespace detail

bool TQuillonSrv::Impl::replaySession(std::string& why) {
  const db::Handle h = srv.hMysql.asInt();
  // The new session is what the statements bring back: the log keeps those
  // that ran, for the next reconnect, and forgets what none could bring back.
  const std::string lost = std::exchange(session_.lost, std::string());
  for (auto it = session_.statements.begin(); it != session_.statements.end();) {
    if (db::query(h, it->sql.data(), it->sql.size()) == 0 && db::discardResults(h) == 0) {
      ++it;
      continue;
    }
    if (why.empty())
      why = "\"" + sql::maskPasswords(it->sql, sql::dialectOf(h)) + "\" failed: " + std::to_string(db::errnum(h)) +
            " " + db::error(h);
    it = session_.statements.erase(it);
  }
  // A SET NAMES among them changes what the connection escapes with.
  if (!session_.statements.empty()) followCharset(true);
  if (why.empty() && !lost.empty()) why = "the session held " + lost;
  return why.empty();
}

}  // namespace veltro
