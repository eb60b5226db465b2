// Restore: reads a dump line by line and sends the statements that Backup
// writes, and nothing else.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dump_format.h"
#include "server_flag_scope.h"
#include "dump_restore_line.h"
#include "sql_lexer.h"
#include "veltro/binding.h"
#include "veltro/server.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool digit(char c) { return c >= '0' && c <= '9'; }

// A dump is read in the session Restore sets before its first statement:
// bytes as they are (binary) and backslash escapes on, unless a trigger's
// sql_mode turns them off.
constexpr sql::Dialect dumpDialect(bool backslashEscapes) { return {sql::Charset::Single, backslashEscapes}; }

// The code tokens of one statement, as the server reads them. Comments end
// the statement for every form but a table's definition, where the server's
// own SHOW CREATE TABLE may write one.
class Scanner {
 public:
  explicit Scanner(std::string_view text, bool backslashEscapes = true)
      : s_(text), lex_(text, dumpDialect(backslashEscapes)) {
    advance();
  }

  bool atEnd() const { return t_.kind == sql::Tok::End && !comment_; }
  // The exact upper-case keywords, one after another with one space between
  // them, as Backup writes them.
  // On a mismatch nothing is taken, so that another form may be tried.
  bool eat(std::string_view words) {
    const Scanner before = *this;
    for (std::size_t start = 0; start < words.size();) {
      std::size_t space = words.find(' ', start);
      if (space == std::string_view::npos) space = words.size();
      if (t_.kind != sql::Tok::Word || t_.text(s_) != words.substr(start, space - start) || comment_ ||
          (start > 0 && (t_.begin != last_ + 1 || s_[last_] != ' '))) {
        *this = before;
        return false;
      }
      last_ = t_.end;
      advance();
      start = space + 1;
    }
    return true;
  }
  bool eatChar(char c) {
    if (t_.kind != sql::Tok::Punct || s_[t_.begin] != c || comment_) return false;
    advance();
    return true;
  }

  // A name, backquoted (backquotes inside doubled, a backslash a character
  // of its own) or plain; unquoted.
  std::optional<std::string> name() {
    if (comment_) return std::nullopt;
    std::string out;
    if (t_.kind == sql::Tok::Name && t_.closed) {
      const std::string_view inner = s_.substr(t_.begin + 1, t_.end - t_.begin - 2);
      for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == '`') ++i;
      }
    } else if (t_.kind == sql::Tok::Word && !digit(s_[t_.begin])) {
      out = t_.text(s_);
    } else {
      return std::nullopt;
    }
    advance();
    return out;
  }

  // One literal value: NULL, TRUE, FALSE, a number, a quoted text, a hex or
  // bit literal, optionally after a character set introducer.
  bool literal() {
    if (comment_) return false;
    if (t_.kind == sql::Tok::String) return string();
    if (t_.kind == sql::Tok::Word) {
      const std::string_view w = t_.text(s_);
      if (w == "NULL" || w == "TRUE" || w == "FALSE") {
        advance();
        return true;
      }
      if (w[0] == '_' && w.size() > 1) {  // _binary 'x', _utf8mb4 0x41
        advance();
        return (t_.kind == sql::Tok::String || (t_.kind == sql::Tok::Word && digit(s_[t_.begin]))) && literal();
      }
      if ((w == "X" || w == "x" || w == "B" || w == "b") && follows(sql::Tok::String)) {
        advance();
        return string();
      }
    }
    if (t_.kind == sql::Tok::Punct && (s_[t_.begin] == '-' || s_[t_.begin] == '+')) advance();
    return number();
  }

  // The rest of a CREATE VIEW after AS: its query, one statement with no
  // comment, every quote closed.
  bool viewBody() {
    if (t_.kind == sql::Tok::End) return false;
    for (; t_.kind != sql::Tok::End && !comment_; advance()) {
      if ((t_.kind == sql::Tok::String || t_.kind == sql::Tok::Name) && !t_.closed) return false;
      if (t_.kind == sql::Tok::Punct && s_[t_.begin] == ';') return false;
    }
    return !comment_;
  }

  // A quoted list of sql_mode words (upper-case letters, digits, "_", ","),
  // into modes.
  bool modeList(std::string& modes) {
    if (t_.kind != sql::Tok::String || !t_.closed || comment_ || s_[t_.begin] != '\'') return false;
    modes = std::string(s_.substr(t_.begin + 1, t_.end - t_.begin - 2));
    for (char c : modes)
      if (!(c >= 'A' && c <= 'Z') && !digit(c) && c != '_' && c != ',') return false;
    advance();
    return true;
  }

  // From here on comments are part of the statement (a trigger's body).
  void takeComments() { bodyComments_ = true; }

  // A trigger's body: the rest of the text, every quote and comment closed.
  // Comments and ";" belong to it; the server reads the whole as one
  // statement (a client without multi-statements).
  bool triggerBody() {
    if (t_.kind == sql::Tok::End || comment_) return false;
    for (; t_.kind != sql::Tok::End; advance())
      if ((t_.kind == sql::Tok::String || t_.kind == sql::Tok::Name) && !t_.closed) return false;
    return !openComment_ && versions_ == 0;
  }

  // A word of any letters (an option's value: UNDEFINED, DEFINER, ...).
  bool word() {
    if (t_.kind != sql::Tok::Word || comment_) return false;
    advance();
    return true;
  }

  // The rest of a CREATE TABLE: a column list in parentheses and table
  // options; no statement end, no line or versioned comment, and no SELECT
  // (CREATE ... SELECT copies another table's rows).
  bool tableBody() {
    blockComments_ = true;
    if (!eatChar('(')) return false;
    int depth = 1;
    for (; t_.kind != sql::Tok::End && !comment_; advance()) {
      if (t_.kind == sql::Tok::String && !t_.closed) return false;
      if (t_.kind == sql::Tok::Name && !t_.closed) return false;
      if (sql::isKeyword(s_, t_, "SELECT")) return false;
      if (t_.kind != sql::Tok::Punct) continue;
      const char c = s_[t_.begin];
      if (c == ';') return false;
      if (c == '(') ++depth;
      if (c == ')' && --depth < 0) return false;
    }
    return !comment_ && depth == 0;
  }

 private:
  // To the next code token; a comment is let through only as a closed /* */
  // in a table's definition, and remembered otherwise: it ends the statement.
  void advance() {
    for (t_ = lex_.next(); t_.kind != sql::Tok::End && !sql::isCode(t_); t_ = lex_.next()) {
      if (t_.kind == sql::Tok::Space) continue;
      if (bodyComments_) {
        openComment_ = openComment_ || (t_.kind == sql::Tok::Comment && !t_.closed);
        versions_ += t_.kind == sql::Tok::VersionOpen ? 1 : t_.kind == sql::Tok::VersionClose ? -1 : 0;
        continue;
      }
      const bool block = t_.kind == sql::Tok::Comment && s_[t_.begin] == '/' && t_.closed;
      if (!block || !blockComments_) comment_ = true;
    }
  }
  bool follows(sql::Tok kind) {
    sql::Lexer peek = lex_;
    const sql::Token next = peek.next();
    return next.kind == kind && next.begin == t_.end;
  }
  // One quoted text, or several one after another, which the server joins
  // (Backup splits a long escaped text where a client might misread it).
  bool string() {
    do {
      if (!t_.closed) return false;
      advance();
    } while (t_.kind == sql::Tok::String && !comment_);
    return true;
  }
  // Digits, a decimal point, an exponent with its sign, or 0x and hex digits.
  bool number() {
    bool any = false;
    for (;;) {
      if (comment_) return false;
      if (t_.kind == sql::Tok::Word && (digit(s_[t_.begin]) || any)) {
        const std::string_view w = t_.text(s_);
        for (char c : w)
          if (!std::isxdigit(static_cast<unsigned char>(c)) && c != 'x' && c != 'X') return false;
        any = true;
        const char last = w.back();
        advance();
        if ((last == 'e' || last == 'E') && t_.kind == sql::Tok::Punct && (s_[t_.begin] == '-' || s_[t_.begin] == '+'))
          advance();
        continue;
      }
      if (t_.kind == sql::Tok::Punct && s_[t_.begin] == '.') {
        advance();
        continue;
      }
      return any;
    }
  }

  std::string_view s_;
  sql::Lexer lex_;
  sql::Token t_;
  std::size_t last_ = 0;  // where the keyword eat() took last ends
  bool comment_ = false;
  bool blockComments_ = false;
  bool bodyComments_ = false, openComment_ = false;
  int versions_ = 0;  // versioned comments open
};

// "INSERT INTO <table> (names) VALUES (literals),(literals)..." and nothing more.
bool insertOf(Scanner& sc) {
  if (!sc.eatChar('(')) return false;
  do {
    if (!sc.name()) return false;
  } while (sc.eatChar(','));
  if (!sc.eatChar(')') || !sc.eat("VALUES")) return false;
  do {
    if (!sc.eatChar('(')) return false;
    do {
      if (!sc.literal()) return false;
    } while (sc.eatChar(','));
    if (!sc.eatChar(')')) return false;
  } while (sc.eatChar(','));
  return sc.atEnd();
}

bool namesTable(Scanner& sc, std::string_view table) {
  auto name = sc.name();
  return name && !table.empty() && *name == table;
}

// Whether a statement is one that Backup writes for the table of its block.
bool accepted(std::string_view text, std::string_view table, bool backslashEscapes) {
  for (std::string_view line : dump::kSessionSetup)
    if (text == line.substr(0, line.size() - 1)) return true;
  for (std::string_view line : dump::kSessionRestore)
    if (text == line.substr(0, line.size() - 1)) return true;
  for (std::string_view line : {dump::kDefinitionSession, dump::kDataSession})
    if (text == line.substr(0, line.size() - 1)) return true;
  Scanner sc(text, backslashEscapes);
  if (sc.eat("INSERT INTO")) return namesTable(sc, table) && insertOf(sc);
  if (sc.eat("DROP TABLE IF EXISTS")) return namesTable(sc, table) && sc.atEnd();
  if (sc.eat("CREATE TABLE")) return namesTable(sc, table) && sc.tableBody();
  if (sc.eat("DROP VIEW IF EXISTS")) return namesTable(sc, table) && sc.atEnd();
  if (sc.eat("CREATE")) {
    // A view as SHOW CREATE VIEW writes it, without its DEFINER.
    if (sc.eat("ALGORITHM") && !(sc.eatChar('=') && sc.word())) return false;
    if (sc.eat("SQL SECURITY") && !sc.word()) return false;
    return sc.eat("VIEW") && namesTable(sc, table) && sc.eat("AS") && sc.viewBody();
  }
  if (sc.eat("LOCK TABLES")) return namesTable(sc, table) && sc.eat("WRITE") && sc.atEnd();
  if (sc.eat("ALTER TABLE"))
    return namesTable(sc, table) && (sc.eat("DISABLE KEYS") || sc.eat("ENABLE KEYS")) && sc.atEnd();
  if (sc.eat("UNLOCK TABLES")) return sc.atEnd();
  return false;
}

}  // namespace

namespace restore {

LineAction classifyLine(std::string_view line, std::string_view table, bool backslashEscapes) {
  LineAction action;
  std::string_view text = line;
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return action;

  for (std::string_view marker : {dump::kBeginMarker, dump::kOldBeginMarker}) {
    if (startsWith(text, marker)) {
      action.kind = LineKind::TableBegin;
      action.name = std::string(text.substr(marker.size()));
      return action;
    }
  }
  if (text == dump::kFormatMarker) {
    action.kind = LineKind::Format;
    return action;
  }
  if (text == dump::kTriggerOpen || text == dump::kTriggerClose) {
    action.kind = text == dump::kTriggerOpen ? LineKind::TriggerOpen : LineKind::TriggerClose;
    return action;
  }
  if (startsWith(text, dump::kClosingMarker)) {
    action.kind = LineKind::Closing;
    action.name = std::string(text.substr(dump::kClosingMarker.size()));
    return action;
  }
  if (startsWith(text, "--") || startsWith(text, "**") || text[0] == '#') return action;
  if (text.back() == ';') text.remove_suffix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  action.text = text;
  // Backup's lines hold no control character outside their quoted texts:
  // one at an end (a line break, a form feed) is no form of its.
  if (text.empty() || static_cast<unsigned char>(text.front()) < 0x20 ||
      static_cast<unsigned char>(text.back()) < 0x20) {
    action.kind = LineKind::Refused;
    return action;
  }
  Scanner sc(text, backslashEscapes);
  if (sc.eat("SET sql_mode")) {
    if (sc.eatChar('=') && sc.modeList(action.name) && sc.atEnd()) {
      action.kind = LineKind::Mode;
      return action;
    }
  } else if (sc.eat("CREATE DATABASE IF NOT EXISTS")) {
    auto name = sc.name();
    // The database's defaults, as Backup writes them: two words.
    if (name && sc.eat("CHARACTER SET") && (!sc.name() || !sc.eat("COLLATE") || !sc.name())) name.reset();
    if (name && sc.atEnd()) {
      action.kind = LineKind::CreateDatabase;
      action.name = *name;
      return action;
    }
  } else if (accepted(text, table, backslashEscapes)) {
    action.kind = LineKind::Statement;
    return action;
  }
  action.kind = LineKind::Refused;
  return action;
}

LineAction classifyTrigger(std::string_view text, std::string_view table, bool backslashEscapes) {
  LineAction action;
  action.kind = LineKind::Refused;
  action.text = text;
  if (text.size() < dump::kTriggerEnd.size() || text.substr(text.size() - dump::kTriggerEnd.size()) != dump::kTriggerEnd)
    return action;
  text.remove_suffix(dump::kTriggerEnd.size());
  Scanner sc(text, backslashEscapes);
  if (sc.eat("CREATE TRIGGER") && sc.name() && (sc.eat("BEFORE") || sc.eat("AFTER")) &&
      (sc.eat("INSERT") || sc.eat("UPDATE") || sc.eat("DELETE")) && sc.eat("ON") && namesTable(sc, table) &&
      sc.eat("FOR EACH") && (sc.takeComments(), sc.eat("ROW")) && sc.triggerBody()) {
    action.kind = LineKind::Statement;
    action.text = text;
  }
  return action;
}

}  // namespace restore


namespace {

// One run of Restore over a dump's lines: the table of the current block,
// what the dump says of itself, a trigger's lines, the lock a LOCK TABLES of
// the dump holds.
class RestoreRun {
 public:
  RestoreRun(TQuillonSrv& srv, std::function<bool()> lost) : srv_(srv), lost_(std::move(lost)) {}

  const std::string& table() const { return table_; }

  // Reads line i of the dump, sending what it holds; false once the
  // connection is lost.
  bool take(const std::string& line, long i) {
    const restore::LineAction action = restore::classifyLine(line, table_, backslashEscapes_);
    if (trigger_ && action.kind != restore::LineKind::TriggerClose) {
      // Inside a trigger every line is its text, markers and all.
      digest(line);
      if (!trigger_->empty() || triggerLine_ != i - 1) *trigger_ += "\r\n";
      *trigger_ += line;
      return true;
    }
    if (action.kind == restore::LineKind::Closing && !closed_) {
      checkClosing(action.name, i);
      return true;
    }
    digest(line);
    switch (action.kind) {
      case restore::LineKind::CreateDatabase:
        srv_.SqlQuery(std::string(action.text));
        if (!lost_()) srv_.SelectDB(action.name);
        break;
      case restore::LineKind::TableBegin:
        unlock();
        table_ = action.name;
        ++tables_;
        break;
      case restore::LineKind::TriggerOpen:
        trigger_.emplace();
        triggerLine_ = i;
        break;
      case restore::LineKind::TriggerClose:
        createTrigger();
        break;
      case restore::LineKind::Mode:
        if (srv_.SqlQuery(std::string(action.text)))
          backslashEscapes_ = !dump::modeHas(action.name, "NO_BACKSLASH_ESCAPES");
        break;
      case restore::LineKind::Statement:
        statement(action.text);
        break;
      case restore::LineKind::Refused:
        srv_.RaiseInternal(kErrDumpStatement, Value("line " + std::to_string(i) + ": " + line.substr(0, 80)));
        break;
      case restore::LineKind::Format:
        hasFormat_ = true;
        break;
      case restore::LineKind::Closing:
      case restore::LineKind::Ignore:
        break;
    }
    return !lost_();
  }

  // Tables a LOCK TABLES of the dump holds until its UNLOCK TABLES. A damaged
  // dump may lack the UNLOCK; the lock would then make the next table's
  // statements fail and, left behind, stall every other connection.
  void unlock() {
    if (locked_ && !lost_()) srv_.SqlQuery("UNLOCK TABLES");
    locked_ = false;
  }

  bool hasFormat() const { return hasFormat_; }
  bool closed() const { return closed_; }
  bool damaged() const { return damaged_; }

 private:
  // Every byte before the closing line goes into the digest it names.
  void digest(std::string_view line) {
    if (closed_) return;
    digest_.update(line);
    digest_.update("\r\n");
  }

  void checkClosing(const std::string& says, long i) {
    closed_ = true;
    const std::string expected = std::to_string(tables_) + " tables, digest " + digest_.hex();
    if (hasFormat_ && says == expected) return;
    damaged_ = true;
    srv_.RaiseInternal(kErrDumpIncomplete, Value("line " + std::to_string(i) + ": the dump holds other than its "
                                                 "closing line says (" + says + "; read " + expected + ")"));
  }

  void createTrigger() {
    if (!trigger_) return;
    const restore::LineAction create = restore::classifyTrigger(*trigger_, table_, backslashEscapes_);
    if (create.kind == restore::LineKind::Statement)
      srv_.SqlQuery(std::string(create.text));
    else
      srv_.RaiseInternal(kErrDumpStatement,
                         Value("line " + std::to_string(triggerLine_ + 1) + ": " + trigger_->substr(0, 80)));
    trigger_.reset();
  }

  void statement(std::string_view text) {
    const bool sent = srv_.SqlQuery(std::string(text));
    // The dump's last lines put back the mode Restore set: escapes on.
    if (text == dump::kSessionRestore[0].substr(0, dump::kSessionRestore[0].size() - 1)) backslashEscapes_ = true;
    if (startsWith(text, "UNLOCK TABLES"))
      locked_ = false;
    else if (startsWith(text, "LOCK TABLES") && sent)
      locked_ = true;
  }

  TQuillonSrv& srv_;
  std::function<bool()> lost_;
  std::string table_;
  bool locked_ = false;
  dump::DumpDigest digest_;
  bool hasFormat_ = false, closed_ = false, damaged_ = false;
  long tables_ = 0;
  // A trigger's definition spans the lines between its DELIMITER lines.
  std::optional<std::string> trigger_;
  long triggerLine_ = 0;
  bool backslashEscapes_ = true;  // as the last sql_mode the dump set reads them
};

// The session a dump is read in: its lines are checked as read in binary with
// backslash escapes (dumps of the older form were written so), and sent in
// that session, whatever a dump sets or leaves out. The caller's settings are
// kept in user variables for callersSessionBack.
bool restoreSession(TQuillonSrv& srv) {
  return srv.SqlQuery(
             "SET @veltro_restore_mode = @@sql_mode, @veltro_restore_client = @@character_set_client, "
             "@veltro_restore_results = @@character_set_results, @veltro_restore_collation = @@collation_connection, "
             "@veltro_restore_time_zone = @@time_zone, @veltro_restore_unique = @@unique_checks, "
             "@veltro_restore_foreign = @@foreign_key_checks") &&
         srv.SqlQuery(
             "SET sql_mode = TRIM(BOTH ',' FROM REPLACE(CONCAT(',', @@sql_mode, ','), ',NO_BACKSLASH_ESCAPES,', ',')), "
             "NAMES binary");
}

void callersSessionBack(TQuillonSrv& srv) {
  srv.SqlQuery(
      "SET sql_mode = @veltro_restore_mode, time_zone = @veltro_restore_time_zone, "
      "unique_checks = @veltro_restore_unique, foreign_key_checks = @veltro_restore_foreign");
  srv.SqlQuery(
      "SET character_set_client = @veltro_restore_client, character_set_results = @veltro_restore_results, "
      "collation_connection = @veltro_restore_collation");
}

// Lines of a file (0 for a missing one).
long lineCount(const std::string& path) {
  std::string line;
  long total = 0;
  restore::CrLfReader counter(path);
  while (counter.next(line)) ++total;
  return total;
}

}  // namespace

// Sends the statements of a dump file in order, each once, in a session set
// as Backup's dumps expect (binary, backslash escapes on), put back afterwards.
// Returns true when every line was processed and the dump was whole; false
// when the file is missing, the run was cancelled, the connection was lost
// (9034, with the line reached: a restore never reconnects, since the rest of
// the dump would load in a session without its settings), or the dump was
// cut short or altered (9033: its closing line is missing or does not match).
// A line that is not a statement Backup writes is reported (9030) and skipped.
bool TQuillonSrv::Restore(const Value& fileName, const bool* cancel) {
  auto cancelled = [cancel] { return cancel && *cancel; };
  const std::string path = fileName.asString();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0)
    return detail::refuse(*this, kErrFileExists);
  if (!bOnRestore.isNil()) bOnRestore(1);
  const long total = cancelled() ? 0 : lineCount(path);

  detail::Scoped<Value> noReconnect(lReConnect, Value(false));
  const unsigned long lostBefore = impl_->lostConnections_;
  auto lost = [this, lostBefore] { return impl_->lostConnections_ != lostBefore || !db::isConnection(hMysql.asInt()); };

  // Without its session no line is read (the failure is reported).
  if (!cancelled() && !restoreSession(*this)) return false;
  const bool sessionSaved = !cancelled();

  RestoreRun run(*this, lost);
  bool stopped = false;
  long i = 1;
  std::string line;
  restore::CrLfReader reader(path);
  for (; !cancelled() && reader.next(line); ++i) {
    if (!bOnRestore.isNil()) bOnRestore(3, run.table(), total, i);
    if (!run.take(line, i)) {
      stopped = true;
      break;
    }
  }
  run.unlock();
  if (sessionSaved && !lost()) callersSessionBack(*this);

  // Reported once the session is put back: a report may unwind to a guarded block.
  bool damaged = run.damaged();
  if (stopped) {
    RaiseInternal(kErrRestoreStopped, Value("the connection was lost at line " + std::to_string(i) + " of " +
                                            std::to_string(total) + ": the restore did not finish"));
  } else if (!cancelled() && !run.closed()) {
    // Written by Backup since dumps end with a closing line: cut short. Older
    // dumps have none, and whether they are whole cannot be told.
    damaged = run.hasFormat();
    RaiseInternal(kErrDumpIncomplete,
                  Value(run.hasFormat() ? "the dump ends at line " + std::to_string(i - 1) + " before its closing "
                                          "line: it was cut short, and what it held after that point is missing"
                                        : std::string("the dump has no closing line (written before dumps had one): "
                                                      "whether it is whole cannot be checked")));
  }
  if (!bOnRestore.isNil()) bOnRestore(cancelled() ? 0 : 4);
  return !cancelled() && !stopped && !damaged;
}

}  // namespace veltro
