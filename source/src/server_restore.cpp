// Restore: reads a dump line by line and sends the statements it recognises.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "restore_line.h"
#include "veltro/server.h"

namespace veltro {

namespace {

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool isStatement(std::string_view line) {
  for (std::string_view keyword : {"DROP TABLE", "CREATE TABLE", "LOCK TABLES", "INSERT INTO", "UNLOCK TABLES"})
    if (startsWith(line, keyword)) return true;
  return false;
}

}  // namespace

namespace restore {

LineAction classifyLine(std::string_view line) {
  LineAction action;
  std::string_view text = line;
  text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
  if (startsWith(text, "CREATE DATABASE IF NOT EXISTS")) {
    action.kind = LineKind::CreateDatabase;
    action.text = text;
    action.name = text.substr(text.find_last_of(' ') + 1);
    return action;
  }
  if (startsWith(text, "** BEGIN ")) {
    action.kind = LineKind::TableBegin;
    action.name = text.substr(9);
    return action;
  }
  if (!text.empty() && text.back() == ';') text.remove_suffix(1);
  if (isStatement(text)) {
    action.kind = LineKind::Statement;
    action.text = text;
  }
  return action;
}

}  // namespace restore

// Sends the statements of a dump file in order, each once. Returns true when
// every line was processed; false when the file is missing or the run was cancelled.
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
    const restore::LineAction action = restore::classifyLine(line);
    switch (action.kind) {
      case restore::LineKind::CreateDatabase:
        SqlQuery(std::string(action.text));
        SelectDB(std::string(action.name));
        break;
      case restore::LineKind::TableBegin:
        unlock();
        table.assign(action.name);
        break;
      case restore::LineKind::Statement: {
        const bool sent = SqlQuery(std::string(action.text));
        if (startsWith(action.text, "UNLOCK TABLES"))
          locked = false;
        else if (startsWith(action.text, "LOCK TABLES") && sent)
          locked = true;
        break;
      }
      case restore::LineKind::Ignore:
        break;
    }
  }
  unlock();

  if (!bOnRestore.isNil()) bOnRestore(cancelled() ? 0 : 4);
  return !cancelled();
}

}  // namespace veltro
