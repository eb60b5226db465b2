// The restore's line handling on any dump text: the reader cuts exactly at
// CR LF pairs whatever its buffer size, and every line is classified into
// views of itself, statements only from lines that begin with a dump keyword.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "dump_restore_line.h"

using veltro::fuzz::check;
namespace restore = veltro::restore;

namespace {

std::string gPath;

bool within(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/veltro-fuzz-restoreXXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) std::abort();
  gPath = std::string(dir) + "/dump.sql";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the reader's buffer size, the rest is the dump.
  const std::size_t bufferSize = 1 + data[0] % 16;
  const std::string_view dump(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    std::ofstream out(gPath, std::ios::binary | std::ios::trunc);
    out.write(dump.data(), static_cast<std::streamsize>(dump.size()));
  }

  std::vector<std::string> expected;
  for (std::size_t from = 0;;) {
    const std::size_t pair = dump.find("\r\n", from);
    expected.emplace_back(dump.substr(from, pair == std::string_view::npos ? std::string_view::npos : pair - from));
    if (pair == std::string_view::npos) break;
    from = pair + 2;
  }

  restore::CrLfReader reader(gPath, bufferSize);
  std::string line;
  std::size_t count = 0;
  while (reader.next(line)) {
    check(count < expected.size() && line == expected[count], "line cut at CR LF", line);
    ++count;

    // Classified as inside the block of table "t": whatever the line holds, a
    // statement that is sent is one of the dump's own forms, naming "t".
    const restore::LineAction action = restore::classifyLine(line, "t");
    check(within(action.text, line), "views into the line", line);
    switch (action.kind) {
      case restore::LineKind::Statement:
        check(!action.text.empty() && action.text.find_first_of(" \t") != 0, "statement starts at its keyword", line);
        check(action.text.starts_with("DROP TABLE IF EXISTS ") || action.text.starts_with("CREATE ") ||
                  action.text.starts_with("LOCK TABLES ") || action.text.starts_with("INSERT INTO ") ||
                  action.text == "UNLOCK TABLES" || action.text.starts_with("SET ") ||
                  action.text.starts_with("DROP VIEW IF EXISTS ") || action.text.starts_with("ALTER TABLE "),
              "statement keyword", line);
        check(action.text.find(';') == std::string_view::npos || action.text.starts_with("INSERT INTO ") ||
                  action.text.starts_with("CREATE TABLE "),
              "one statement", line);
        break;
      case restore::LineKind::CreateDatabase:
        check(action.text.starts_with("CREATE DATABASE IF NOT EXISTS"), "create database", line);
        break;
      case restore::LineKind::TableBegin:
        check(action.text.empty(), "table line sends nothing", line);
        break;
      case restore::LineKind::Mode:
        check(action.text.starts_with("SET sql_mode") && action.text.find(';') == std::string_view::npos, "sql_mode",
              line);
        break;
      case restore::LineKind::TriggerOpen:
      case restore::LineKind::TriggerClose:
      case restore::LineKind::Format:
      case restore::LineKind::Closing:
        check(action.text.empty(), "marker line sends nothing", line);
        break;
      case restore::LineKind::Ignore:
      case restore::LineKind::Refused:
        break;
    }
  }
  // The whole text as a trigger's lines: sent only as one CREATE TRIGGER, without the ";;" that ends it.
  for (bool escapes : {true, false}) {
    const restore::LineAction trigger = restore::classifyTrigger(dump, "t", escapes);
    check(within(trigger.text, dump), "trigger views into the text", dump);
    if (trigger.kind == restore::LineKind::Statement)
      check(trigger.text.starts_with("CREATE TRIGGER ") && trigger.text.size() + 2 == dump.size() &&
                dump.ends_with(";;"),
            "trigger statement", dump);
  }
  check(count == expected.size(), "every line read", dump);
  return 0;
}
