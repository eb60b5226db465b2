// Backup: a dump file of SQL statements for a list of tables, read in one
// consistent snapshot, each table in one streamed pass.
//
// The dump is written batch by batch into a temporary file beside the target
// and renamed into place only when complete and flushed, so a failed or
// cancelled run never touches an existing dump. It fixes its own session
// (bytes as they are, UTC, no backslash-mode dependence) and quotes every
// name, so that it reads the same in any loading session; the stock client
// loads it as it is.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dump_file.h"
#include "dump_format.h"
#include "dump_table.h"
#include "dump_values.h"
#include "server_name_arg.h"
#include "sql_lexer.h"
#include "sql_names.h"
#include "veltro/binding.h"
#include "veltro/clock.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "server_impl.h"
#include "server_refuse.h"

namespace veltro {

using detail::appendValue;
using detail::DumpFile;
using detail::Form;
using detail::formOf;
using detail::backquoted;
using detail::holdsLineBreak;
using detail::kFlushBytes;
using detail::Result;
using detail::rowsOf;
using detail::TableWriter;

namespace {

constexpr std::string_view kCrLf = "\r\n";
// An INSERT statement of the dump stays under this size (and under half the
// server's max_allowed_packet, which the table writer reads), so that any
// server loads it.
constexpr std::size_t kStatementBytes = 1 << 20;

// "-- Dump completed on " with the date in the program's format and the time.
std::string defaultFooter() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  Date today = Date::fromYMD(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return "-- Dump completed on " + today.display() + " " + timeOfDay() + std::string(kCrLf);
}

}  // namespace

namespace {

// The session of the backup: fixed for the dump, and put back afterwards.
class DumpSession {
 public:
  explicit DumpSession(TQuillonSrv& server) : server_(server) {}
  ~DumpSession() { restore(); }
  DumpSession(const DumpSession&) = delete;
  DumpSession& operator=(const DumpSession&) = delete;

  // Bytes as stored, UTC, names quoted in SHOW CREATE TABLE, strings there
  // escaped by the backslash rules, whatever the session had.
  bool begin() {
    auto saved = rowsOf(server_,
                        "SELECT @@character_set_client, @@character_set_results, @@collation_connection, "
                        "@@time_zone, @@sql_mode, @@sql_quote_show_create, @@tx_isolation");
    if (saved.empty() || saved[0].size() != 7) return false;
    saved_ = saved[0];
    active_ = true;
    return send("SET NAMES binary") && send("SET time_zone = '+00:00', sql_mode = '', sql_quote_show_create = 1");
  }

  // One moment for every table: a snapshot at REPEATABLE READ; or, when a
  // table keeps no transactions (Aria, MyISAM, MEMORY), which no snapshot
  // holds still, a read lock on every table until the dump is read.
  bool freeze(const std::vector<std::string>& tables, bool lock) {
    if (lock) {
      std::string sql = "LOCK TABLES ";
      for (const std::string& t : tables) sql += backquoted(t) + " READ,";
      sql.pop_back();
      locked_ = send(sql);
      return locked_;
    }
    if (!send("SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ")) return false;
    if (!send("START TRANSACTION WITH CONSISTENT SNAPSHOT")) return false;
    snapshot_ = true;
    return true;
  }

  // Ends the snapshot and puts the caller's settings back; once.
  void restore() {
    if (snapshot_) server_.CommitTransaction();
    snapshot_ = false;
    if (locked_) send("UNLOCK TABLES");
    locked_ = false;
    if (!active_ || !server_.handle()) return;
    active_ = false;
    const long long conn = server_.handle();
    // An empty setting (sql_mode '') is written '', not NULL.
    auto lit = [&](std::size_t i) { return sqlLiteral(Value(saved_[i]), conn, 'C', true); };
    std::string isolation = saved_[6];
    for (char& c : isolation)
      if (c == '-') c = ' ';
    if (isolation == "READ UNCOMMITTED" || isolation == "READ COMMITTED" || isolation == "REPEATABLE READ" ||
        isolation == "SERIALIZABLE")
      send("SET SESSION TRANSACTION ISOLATION LEVEL " + isolation);
    send("SET time_zone = " + lit(3) + ", sql_mode = " + lit(4) + ", sql_quote_show_create = " + saved_[5]);
    // The client library follows the character set back (see sendStatement).
    send("SET character_set_client = " + lit(0) + ", character_set_results = " +
         (saved_[1].empty() ? std::string("NULL") : lit(1)) + ", collation_connection = " + lit(2));
  }

 private:
  bool send(const std::string& sql) { return server_.SqlQuery(sql); }

  TQuillonSrv& server_;
  std::vector<std::string> saved_;
  bool active_ = false;
  bool snapshot_ = false;
  bool locked_ = false;
};

// A view's definition as SHOW CREATE VIEW gives it, without its DEFINER
// clause (DEFINER=`user`@`host`, or CURRENT_USER), read with the lexer.
std::string withoutDefiner(const std::string& statement) {
  const sql::Dialect d{sql::Charset::Single, true};
  sql::Lexer lex(statement, d);
  auto next = [&] {
    sql::Token t;
    do t = lex.next(); while (t.kind == sql::Tok::Space);
    return t;
  };
  for (sql::Token t = next(); t.kind != sql::Tok::End; t = next()) {
    if (!sql::isKeyword(statement, t, "DEFINER")) continue;
    sql::Token eq = next();
    if (eq.kind != sql::Tok::Punct || statement[eq.begin] != '=') return statement;
    sql::Token end = next();  // the user, or CURRENT_USER
    sql::Token at = next();
    if (at.kind == sql::Tok::Punct && statement[at.begin] == '@') end = next();
    std::size_t stop = end.end;
    while (stop < statement.size() && statement[stop] == ' ') ++stop;
    return statement.substr(0, t.begin) + statement.substr(stop);
  }
  return statement;
}

// A table's triggers, after its rows (so that loading the rows fires none),
// each in its own sql_mode and without DEFINER (the restoring account
// becomes the definer), in the order the server fires them. A body holds
// ";" and line breaks: it is written as it is between DELIMITER lines,
// which the stock client reads and Restore takes as the statement's bounds.
bool appendTriggers(TQuillonSrv& server, const std::string& table, std::string& out) {
  const std::string sql =
      "SELECT TRIGGER_NAME, ACTION_TIMING, EVENT_MANIPULATION, SQL_MODE, ACTION_STATEMENT FROM "
      "information_schema.TRIGGERS WHERE EVENT_OBJECT_SCHEMA = DATABASE() AND EVENT_OBJECT_TABLE = " +
      sqlLiteral(Value(table), server.handle(), 'B', true) + " ORDER BY EVENT_MANIPULATION, ACTION_TIMING, ACTION_ORDER";
  std::vector<std::vector<std::string>> triggers;
  if (!detail::readRows(server, sql, triggers)) return false;
  for (const auto& t : triggers) {
    if (t.size() != 5 || (t[1] != "BEFORE" && t[1] != "AFTER") ||
        (t[2] != "INSERT" && t[2] != "UPDATE" && t[2] != "DELETE"))
      return detail::refuse(server, kErrDumpWrite, Value("table " + table + ": a trigger of a form the dump cannot write"));
    const sql::Dialect mode{sql::Charset::Single, !dump::modeHas(t[3], "NO_BACKSLASH_ESCAPES")};
    // A body ending in a line comment would take the delimiter into the comment.
    std::string end(sql::endsInLineComment(t[4], mode) ? "\n" : "");
    end += dump::kTriggerEnd;
    out += "SET sql_mode = " + sqlLiteral(Value(t[3]), server.handle(), 'C', true) + ";\r\n" +
           std::string(dump::kDefinitionSession) + "\r\n" + std::string(dump::kTriggerOpen) + "\r\nCREATE TRIGGER " +
           backquoted(t[0]) + " " + t[1] + " " + t[2] + " ON " + backquoted(table) + " FOR EACH ROW " + t[4] + end +
           "\r\n" + std::string(dump::kTriggerClose) + "\r\n" + std::string(dump::kDataSession) + "\r\n" +
           std::string(dump::kSessionSetup[3]) + "\r\n";
  }
  return true;
}

// Whether a column's DEFAULT reads a sequence (NEXTVAL, LASTVAL, SETVAL).
bool takesSequence(const std::string& expression) {
  sql::Lexer lex(expression, sql::Dialect{sql::Charset::Single, true});
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next())
    if (sql::isKeyword(expression, t, "NEXTVAL") || sql::isKeyword(expression, t, "LASTVAL") ||
        sql::isKeyword(expression, t, "SETVAL"))
      return true;
  return false;
}

// One line: the server's own line breaks in a definition are layout (breaks
// inside its strings are escaped).
std::string oneLine(std::string statement) {
  for (char& c : statement)
    if (c == '\n' || c == '\r') c = ' ';
  return statement;
}

// The table as the server lists it: the name given, else the one name that
// differs from it only in letter case.
std::optional<std::string> listedName(const std::vector<std::string>& listed, const std::string& name) {
  for (const std::string& t : listed)
    if (t == name) return t;
  std::optional<std::string> found;
  for (const std::string& t : listed) {
    if (!equalsNoCase(t, name)) continue;
    if (found) return std::nullopt;  // more than one: a case-sensitive server holds both
    found = t;
  }
  return found;
}

// The text of the caller's header or footer with each line a comment, so that
// the stock client loads the file.
std::string asComment(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line(text.data() + start, (end == std::string::npos ? text.size() : end) - start);
    std::string_view bare = line;
    if (!bare.empty() && bare.back() == '\r') bare.remove_suffix(1);
    if (!bare.empty() && bare.substr(0, 2) != "--") out += "-- ";
    out += line;
    if (end == std::string::npos) break;
    out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace

namespace {

// The caller's table names, checked (and lower-cased, by character) in the
// caller's session before the file is touched and before the dump's session
// reads bytes as binary: normal, as the caller's array gets them back; given,
// the name to find the table by, letter case kept (lower-cased, `Caps` would
// be dumped as `caps` where both exist). Nothing after a report.
struct BackupNames {
  std::vector<std::string> normal, given;
};

std::optional<BackupNames> backupNames(TQuillonSrv& srv, const Value& tables) {
  BackupNames out;
  const sql::Charset charset = sql::dialectOf(srv.handle()).charset;
  for (const Value& name : tables.items()) {
    auto normal = detail::nameArg(srv, name, "table");
    if (!normal) return std::nullopt;
    out.normal.push_back(std::move(*normal));
    std::vector<std::string> parts = sql::nameParts(trimValueText(name.str()), 2, charset);
    // A name that is no identifier was found as listed, and comes back backquoted.
    if (parts.empty()) parts = sql::nameParts(out.normal.back(), 1, charset);
    if (parts.size() == 2 && parts[0] != srv.cDBName.asString()) {
      srv.RaiseInternal(kErrNotAName,
                        Value("Backup dumps tables of the current database, not " + name.str().substr(0, 80)));
      return std::nullopt;
    }
    out.given.push_back(parts.empty() ? out.normal.back() : parts.back());
    // A line break would end a line of the dump inside the name.
    if (holdsLineBreak(name.asString())) {
      srv.RaiseInternal(kErrNotAName, Value("a table name holds a line break"));
      return std::nullopt;
    }
  }
  if (holdsLineBreak(srv.cDBName.asString())) {
    srv.RaiseInternal(kErrNotAName, Value("the database name has a line break"));
    return std::nullopt;
  }
  return out;
}

// What the server holds of the listed tables, read in the dump's session.
struct Catalog {
  std::vector<std::string> found;  // each given name as the server lists it
  std::vector<std::string> views, sequences;
  std::vector<std::string> keyed;      // Aria and MyISAM: keys built after the rows
  std::vector<std::string> sequenced;  // a DEFAULT takes a sequence's value
  bool lock = false;                   // a table keeps no transactions: no snapshot holds it

  static bool among(const std::vector<std::string>& list, const std::string& t) {
    return std::find(list.begin(), list.end(), t) != list.end();
  }
  // The positions of found in the order they are written: sequences first (a
  // table's DEFAULT may take NEXTVAL of one), then the tables, then the
  // views, which read them.
  std::vector<std::size_t> order() const {
    std::vector<std::size_t> out;
    for (int pass = 0; pass < 3; ++pass)
      for (std::size_t k = 0; k < found.size(); ++k)
        if ((among(sequences, found[k]) ? 0 : among(views, found[k]) ? 2 : 1) == pass) out.push_back(k);
    return out;
  }
};

// What the server holds of the given tables; false when it could not be read (reported).
bool catalogOf(TQuillonSrv& srv, const std::vector<std::string>& given, Catalog& c) {
  std::vector<std::vector<std::string>> tables, untracked, defaults;
  if (!detail::readRows(srv, "SHOW FULL TABLES", tables) ||
      !detail::readRows(srv,
                        "SELECT t.TABLE_NAME, t.ENGINE FROM information_schema.TABLES t JOIN "
                        "information_schema.ENGINES e ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = "
                        "DATABASE() AND e.TRANSACTIONS <> 'YES'",
                        untracked) ||
      !detail::readRows(srv,
                        "SELECT TABLE_NAME, COLUMN_DEFAULT FROM information_schema.COLUMNS WHERE "
                        "TABLE_SCHEMA = DATABASE() AND COLUMN_DEFAULT IS NOT NULL",
                        defaults))
    return false;
  std::vector<std::string> listed;
  for (const auto& r : tables) {
    listed.push_back(r.empty() ? std::string() : r[0]);
    if (r.size() >= 2 && r[1] == "VIEW") c.views.push_back(r[0]);
    if (r.size() >= 2 && r[1] == "SEQUENCE") c.sequences.push_back(r[0]);
  }
  for (const std::string& g : given) c.found.push_back(listedName(listed, g).value_or(g));
  for (const auto& r : untracked) {
    if (r.size() != 2 || !Catalog::among(c.found, r[0])) continue;
    c.lock = true;
    // Their keys are built once after the rows, as the stock dump tool does:
    // an Aria table filled under LOCK TABLES otherwise miscounts its rows.
    if (r[1] == "Aria" || r[1] == "MyISAM") c.keyed.push_back(r[0]);
  }
  for (const auto& r : defaults)
    if (r.size() == 2 && takesSequence(r[1])) c.sequenced.push_back(r[0]);
  return true;
}

// The dump's head: the caller's header (or the default one), the format
// line, the table list, the session it loads in, and with the drop switch
// the database with its own defaults (tables created later take them).
void appendHead(TQuillonSrv& srv, const Value& header, const Array& names, bool drop, std::string& out) {
  out += header.isNil() ? std::string("-- CLASS TQuillon, for [x]Pelagon\r\n") + std::string(33, '-') + "\r\n"
                        : asComment(header.asString());
  out += kCrLf;
  out += std::string(dump::kFormatMarker) + "\r\n";
  for (const Value& name : names) out += std::string(dump::kTableListMarker) + name.asString() + "\r\n";
  out += "\r\n\r\n";
  for (std::string_view line : dump::kSessionSetup) out += std::string(line) + "\r\n";
  out += kCrLf;
  if (!drop) return;
  std::string defaults;
  for (const auto& r : rowsOf(srv, "SELECT DEFAULT_CHARACTER_SET_NAME, DEFAULT_COLLATION_NAME FROM "
                                   "information_schema.SCHEMATA WHERE SCHEMA_NAME = DATABASE()"))
    if (r.size() == 2 && sql::isName(r[0], 1, sql::Charset::Single) && sql::isName(r[1], 1, sql::Charset::Single))
      defaults = " CHARACTER SET " + r[0] + " COLLATE " + r[1];
  out += std::string(dump::kCreateDatabaseMarker) + "\r\nCREATE DATABASE IF NOT EXISTS " +
         backquoted(srv.cDBName.asString()) + defaults + ";\r\n\r\n";
}

// A table's or a view's DROP and its definition as the server shows it, read
// in a UTF-8 session; false when the server gave none (reported).
bool appendDefinition(TQuillonSrv& srv, const std::string& name, bool view, std::string& out) {
  auto create = rowsOf(srv, (view ? "SHOW CREATE VIEW " : "SHOW CREATE TABLE ") + backquoted(name));
  if (create.empty() || create[0].size() < 2) return false;
  // A view's definition without DEFINER: the restoring account becomes the definer.
  out += (view ? "DROP VIEW IF EXISTS " : "DROP TABLE IF EXISTS ") + backquoted(name) + ";\r\n" +
         std::string(dump::kDefinitionSession) + "\r\n" +
         oneLine(view ? withoutDefiner(create[0][1]) : create[0][1]) + ";\r\n" + std::string(dump::kDataSession) +
         "\r\n";
  return true;
}

// What refuses a backup before anything is read: no current database, a
// target that exists without the overwrite switch, no list of tables.
bool backupRefused(TQuillonSrv& srv, const std::string& target, const Value& overwrite, const Value& tables) {
  struct stat st {};
  const int code = srv.cDBName.isEmpty()                                          ? kErrNoCurrentDatabase
                   : !overwrite.asBool() && ::stat(target.c_str(), &st) == 0     ? kErrFileExists
                   : tables.isEmpty() || !tables.isArray()                         ? kErrNoTables
                                                                                   : 0;
  if (code != 0) srv.RaiseInternal(code);
  return code != 0;
}

// The dump reads in a moment of its own, which would end a transaction of
// the caller's (committing its pending changes) or read its uncommitted rows:
// refused while one is open (tracked: the one the library knows of).
bool transactionOpen(TQuillonSrv& srv, bool tracked) {
  auto open = tracked ? std::vector<std::vector<std::string>>{} : rowsOf(srv, "SELECT @@in_transaction");
  if (!tracked && (open.empty() || open[0].empty() || open[0][0] != "1")) return false;
  srv.RaiseInternal(kErrTransactionOpen,
                    Value("Backup needs no transaction open on its connection: commit or roll back first"));
  return true;
}

// The end of a whole dump: the loading session put back, the closing line
// (what came before it, to the byte), the footer; then the file in place.
void finishDump(TQuillonSrv& srv, DumpFile& file, std::string& out, long blocks, const Value& footer,
                const Value& fileName) {
  for (std::string_view line : dump::kSessionRestore) out += std::string(line) + "\r\n";
  out += kCrLf;
  file.flush(out, true);
  out += std::string(dump::kClosingMarker) + std::to_string(blocks) + " tables, digest " + file.digest() + "\r\n";
  out += footer.isEmpty() ? defaultFooter() : asComment(footer.asString());
  if (!srv.bOnBackUp.isNil()) srv.bOnBackUp(3, fileName);
  file.flush(out, true);
  file.commit();
}

// How Backup writes each table.
struct TableDump {
  bool drop;           // with its definition (and triggers), dropped first on load
  long long batch;     // rows per INSERT statement
  const bool* cancel;  // the caller's switch that stops the dump
};

// One table's block: its definition, rows and triggers between its markers;
// false when it could not be written whole (reported).
bool appendTable(TQuillonSrv& srv, const Catalog& catalog, const std::string& table, const TableDump& how,
                 std::string& out, DumpFile& file) {
  const bool view = Catalog::among(catalog.views, table);
  out += std::string(dump::kBeginMarker) + table + "\r\n";
  // No lock around a sequence's row (a cluster node refuses to lock a
  // sequence) or a table whose DEFAULT reads one (the lock would have to name it).
  const detail::LoadOptions load{!Catalog::among(catalog.sequenced, table) && !Catalog::among(catalog.sequences, table),
                                 Catalog::among(catalog.keyed, table)};
  const bool whole =
      (!how.drop || appendDefinition(srv, table, view, out)) &&
      (view || (TableWriter(srv, table, how.batch, kStatementBytes, load, how.cancel, out, file).run() &&
                (!how.drop || appendTriggers(srv, table, out))));
  out += "\r\n" + std::string(dump::kEndMarker) + table + "\r\n\r\n\r\n";
  file.flush(out);
  return whole;
}

}  // namespace

// Writes a dump of the tables of the current database to fileName. Returns
// true only when stopped by the cancel flag; false after a written dump and
// after a refused or failed run (each failure reported through CheckError). A
// run that could not read every table keeps the old file.
bool TQuillonSrv::Backup(const Value& tables, const Value& fileName, const Value& withDrop, const Value& overwrite,
                         const Value& batchRows, const Value& header, const Value& footer, const bool* cancel) {
  const TableDump how{withDrop.asBool(), batchRows.asInt() > 0 ? batchRows.asInt() : 500, cancel};
  const std::string target = fileName.asString();
  auto cancelled = [cancel] { return cancel && *cancel; };

  if (backupRefused(*this, target, overwrite, tables)) return false;
  const std::optional<BackupNames> given = backupNames(*this, tables);
  if (!given) return false;

  if (transactionOpen(*this, impl_->inTransaction_)) return false;

  DumpFile file(target);
  if (!file.open()) return detail::refuse(*this, kErrDumpWrite, file.error());
  if (!bOnBackUp.isNil()) bOnBackUp(1);

  lError = false;
  const unsigned long errorsBefore = impl_->errors_;
  DumpSession session(*this);
  Catalog catalog;
  if (!session.begin() || !catalogOf(*this, given->given, catalog) || !session.freeze(catalog.found, catalog.lock)) {
    if (impl_->errors_ == errorsBefore) RaiseInternal(kErrDumpWrite, "the dump's session could not be set up");
    return false;
  }

  Array& names = tables.items();
  const long count = static_cast<long>(names.size());
  std::string out;
  out.reserve(kFlushBytes + (kFlushBytes >> 2));
  appendHead(*this, header, names, how.drop, out);

  bool whole = true;
  long blocks = 0;  // the BEGIN markers written, which the closing line counts
  const std::vector<std::size_t> order = catalog.order();
  for (long i = 1; i <= count && file.ok() && whole; ++i) {
    if (cancelled()) break;
    const std::size_t k = order[static_cast<std::size_t>(i - 1)];
    names[k] = given->normal[k];
    if (!bOnBackUp.isNil()) bOnBackUp(2, given->normal[k], count, i);
    const std::string& table = catalog.found[k];
    // A view holds no rows of its own: without the drop switch it has nothing to write.
    if (Catalog::among(catalog.views, table) && !how.drop) continue;
    ++blocks;
    whole = appendTable(*this, catalog, table, how, out, file);
  }
  session.restore();
  if (!whole) return false;  // reported where it failed; the old file stays

  if (cancelled()) {
    if (!bOnBackUp.isNil()) bOnBackUp(0);
    return true;
  }
  if (file.ok()) finishDump(*this, file, out, blocks, footer, fileName);
  if (!file.ok()) RaiseInternal(kErrDumpWrite, file.error());
  return false;
}

}  // namespace veltro
