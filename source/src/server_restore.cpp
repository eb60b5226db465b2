// Restore: reads a dump line by line and sends the statements that Backup
// writes, and nothing else.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dump_format.h"
#include "restore_line.h"
#include "veltro/server.h"

namespace veltro {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNameByte(char c) {
  return isLetter(c) || isDigit(c) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// A cursor over one statement, reading the few token forms of a dump.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  void blanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool atEnd() {
    blanks();
    return i_ == s_.size();
  }
  // The exact words (after blanks).
  bool eat(std::string_view words) {
    blanks();
    if (s_.substr(i_, words.size()) != words) return false;
    i_ += words.size();
    return true;
  }
  bool eatChar(char c) {
    blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  // A name, backquoted (backquotes inside doubled) or plain; unquoted.
  std::optional<std::string> name() {
    blanks();
    std::string out;
    if (i_ < s_.size() && s_[i_] == '`') {
      for (++i_; i_ < s_.size(); ++i_) {
        if (s_[i_] != '`') {
          out += s_[i_];
        } else if (i_ + 1 < s_.size() && s_[i_ + 1] == '`') {
          out += '`';
          ++i_;
        } else {
          ++i_;
          return out;
        }
      }
      return std::nullopt;
    }
    while (i_ < s_.size() && isNameByte(s_[i_])) out += s_[i_++];
    if (out.empty()) return std::nullopt;
    return out;
  }

  // A quoted text from its opening quote: backslash escapes and doubled quotes.
  bool quoted() {
    const char q = s_[i_++];
    for (; i_ < s_.size(); ++i_) {
      if (s_[i_] == '\\') {
        ++i_;
      } else if (s_[i_] == q) {
        if (i_ + 1 < s_.size() && s_[i_ + 1] == q) {
          ++i_;
          continue;
        }
        ++i_;
        return true;
      }
    }
    return false;
  }

  // One literal value: NULL, TRUE, FALSE, a number, a quoted text, a hex or
  // bit literal, optionally after a character set introducer.
  bool literal() {
    blanks();
    if (i_ >= s_.size()) return false;
    const char c = s_[i_];
    if (c == '\'' || c == '"') return quoted();
    if (c == '_') {  // _binary 'x', _utf8mb4 0x41
      ++i_;
      while (i_ < s_.size() && isNameByte(s_[i_])) ++i_;
      blanks();
      return i_ < s_.size() && (s_[i_] == '\'' || s_[i_] == '0' || s_[i_] == 'X' || s_[i_] == 'x') && literal();
    }
    if ((c == 'X' || c == 'x' || c == 'B' || c == 'b') && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
      ++i_;
      return quoted();
    }
    if (isLetter(c)) {
      std::size_t start = i_;
      while (i_ < s_.size() && isLetter(s_[i_])) ++i_;
      std::string word(s_.substr(start, i_ - start));
      for (char& w : word) w = static_cast<char>(w & ~0x20);
      return word == "NULL" || word == "TRUE" || word == "FALSE";
    }
    if (c == '-' || c == '+') ++i_;
    if (i_ >= s_.size() || !(isDigit(s_[i_]) || s_[i_] == '.')) return false;
    if (s_.substr(i_, 2) == "0x") {
      i_ += 2;
      const std::size_t start = i_;
      while (i_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
      return i_ > start;
    }
    while (i_ < s_.size() && (isDigit(s_[i_]) || s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E' ||
                              ((s_[i_] == '-' || s_[i_] == '+') && (s_[i_ - 1] == 'e' || s_[i_ - 1] == 'E'))))
      ++i_;
    return true;
  }

  // The rest of a CREATE TABLE: no statement end, no line comment and no
  // SELECT outside quotes (CREATE ... SELECT copies another table's rows).
  bool tableBody() {
    blanks();
    if (i_ >= s_.size() || s_[i_] != '(') return false;
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '\'' || c == '"' || c == '`') {
        if (!quoted()) return false;
      } else if (c == ';' || c == '#' || (c == '-' && i_ + 1 < s_.size() && s_[i_ + 1] == '-')) {
        return false;
      } else if (isLetter(c) || c == '_') {
        std::size_t start = i_;
        while (i_ < s_.size() && isNameByte(s_[i_])) ++i_;
        std::string word(s_.substr(start, i_ - start));
        for (char& w : word) w = static_cast<char>(w & ~0x20);
        if (word == "SELECT") return false;
      } else {
        ++i_;
      }
    }
    return true;
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
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
bool accepted(std::string_view text, std::string_view table) {
  for (std::string_view line : dump::kSessionSetup)
    if (text == line.substr(0, line.size() - 1)) return true;
  for (std::string_view line : dump::kSessionRestore)
    if (text == line.substr(0, line.size() - 1)) return true;
  Scanner sc(text);
  if (sc.eat("INSERT INTO ")) return namesTable(sc, table) && insertOf(sc);
  if (sc.eat("DROP TABLE IF EXISTS ")) return namesTable(sc, table) && sc.atEnd();
  if (sc.eat("CREATE TABLE ")) return namesTable(sc, table) && sc.tableBody();
  if (sc.eat("LOCK TABLES ")) return namesTable(sc, table) && sc.eat("WRITE") && sc.atEnd();
  if (sc.eat("UNLOCK TABLES")) return sc.atEnd();
  return false;
}

}  // namespace

namespace restore {

LineAction classifyLine(std::string_view line, std::string_view table) {
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
  if (startsWith(text, "--") || startsWith(text, "**") || text[0] == '#') return action;
  if (text.back() == ';') text.remove_suffix(1);
  action.text = text;
  Scanner sc(text);
  if (sc.eat("CREATE DATABASE IF NOT EXISTS ")) {
    auto name = sc.name();
    if (name && sc.atEnd()) {
      action.kind = LineKind::CreateDatabase;
      action.name = *name;
      return action;
    }
  } else if (accepted(text, table)) {
    action.kind = LineKind::Statement;
    return action;
  }
  action.kind = LineKind::Refused;
  return action;
}

}  // namespace restore

// Sends the statements of a dump file in order, each once, in a session set
// as Backup's dumps expect (backslash escapes on), put back afterwards.
// Returns true when every line was processed; false when the file is missing
// or the run was cancelled. A line that is not a statement Backup writes is
// reported (9030) and skipped.
bool TQuillonSrv::Restore(const Value& fileName, const bool* cancel) {
  auto cancelled = [cancel] { return cancel && *cancel; };
  const std::string path = fileName.asString();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    RaiseInternal(kErrFileExists);
    return false;
  }
  if (!bOnRestore.isNil()) bOnRestore(1);

  std::string line;
  long total = 0;
  if (!cancelled()) {
    restore::CrLfReader counter(path);
    while (counter.next(line)) ++total;
  }

  // Dumps of the older form are read with backslash escapes on, as they were
  // written; the session is put back whatever the dump sets.
  bool sessionSaved = false;
  if (!cancelled()) {
    sessionSaved = SqlQuery(
        "SET @veltro_restore_mode = @@sql_mode, @veltro_restore_client = @@character_set_client, "
        "@veltro_restore_results = @@character_set_results, @veltro_restore_collation = @@collation_connection, "
        "@veltro_restore_time_zone = @@time_zone, @veltro_restore_unique = @@unique_checks, "
        "@veltro_restore_foreign = @@foreign_key_checks");
    if (sessionSaved)
      SqlQuery("SET sql_mode = TRIM(BOTH ',' FROM REPLACE(CONCAT(',', @@sql_mode, ','), ',NO_BACKSLASH_ESCAPES,', ','))");
  }

  std::string table;
  // Tables a LOCK TABLES of the dump holds until its UNLOCK TABLES. A damaged
  // dump may lack the UNLOCK; the lock would then make the next table's
  // statements fail and, left behind, stall every other connection.
  bool locked = false;
  auto unlock = [&] {
    if (locked) SqlQuery("UNLOCK TABLES");
    locked = false;
  };
  restore::CrLfReader reader(path);
  for (long i = 1; !cancelled() && reader.next(line); ++i) {
    if (!bOnRestore.isNil()) bOnRestore(3, table, total, i);
    const restore::LineAction action = restore::classifyLine(line, table);
    switch (action.kind) {
      case restore::LineKind::CreateDatabase:
        SqlQuery(std::string(action.text));
        SelectDB(action.name);
        break;
      case restore::LineKind::TableBegin:
        unlock();
        table = action.name;
        break;
      case restore::LineKind::Statement: {
        const bool sent = SqlQuery(std::string(action.text));
        if (startsWith(action.text, "UNLOCK TABLES"))
          locked = false;
        else if (startsWith(action.text, "LOCK TABLES") && sent)
          locked = true;
        break;
      }
      case restore::LineKind::Refused:
        RaiseInternal(kErrDumpStatement, Value("line " + std::to_string(i) + ": " + line.substr(0, 80)));
        break;
      case restore::LineKind::Ignore:
        break;
    }
  }
  unlock();
  if (sessionSaved) {
    SqlQuery(
        "SET sql_mode = @veltro_restore_mode, time_zone = @veltro_restore_time_zone, "
        "unique_checks = @veltro_restore_unique, foreign_key_checks = @veltro_restore_foreign");
    SqlQuery(
        "SET character_set_client = @veltro_restore_client, character_set_results = @veltro_restore_results, "
        "collation_connection = @veltro_restore_collation");
  }

  if (!bOnRestore.isNil()) bOnRestore(cancelled() ? 0 : 4);
  return !cancelled();
}

}  // namespace veltro
