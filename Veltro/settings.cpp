// The settings reader: INI text into a map of sections, with includes and
// continued lines.
#include "settings.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

namespace veltro {

namespace {

constexpr std::string_view kMain = "MAIN";

// The first occurrence of a pattern at or after the reader's position, kept
// between lines so that cutting a long text into lines stays linear.
struct Finder {
  std::string_view pattern;
  std::size_t at = 0;
  bool searched = false;

  std::size_t next(std::string_view text, std::size_t from) {
    if (!searched || (at != std::string_view::npos && at < from)) {
      at = text.find(pattern, from);
      searched = true;
    }
    return at;
  }
};

class Reader {
 public:
  explicit Reader(Table& map) : map_(map) {}

  // Reads the first name of a ";" list that is not empty and opens, into the map.
  void readList(std::string_view names);
  // Reads the settings of a text into the map, starting in "MAIN".
  void parse(std::string_view text);

 private:
  // Handles one complete logical line under the current section.
  void handleLine(std::string& logical, std::string& current);
  Table& section(const std::string& name);

  Table& map_;
  // Canonical paths of the files being read, so that a file including itself
  // (directly or through others) is skipped instead of read without end.
  std::set<std::string> inProgress_;
};

// Reads a whole file as bytes; false when it does not open.
bool readFile(const std::string& name, std::string& text) {
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return false;
  std::ifstream in(name, std::ios::binary);
  if (!in.is_open()) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  text.assign(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (!text.empty()) in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(in.gcount() > 0 ? static_cast<std::size_t>(in.gcount()) : 0);
  return true;
}

void Reader::readList(std::string_view names) {
  std::string text;
  std::string path;
  bool found = false;
  while (!found) {
    const std::size_t semi = names.find(';');
    const std::string name(names.substr(0, semi));
    if (!name.empty() && readFile(name, text)) {
      found = true;
      path = name;
    }
    if (semi == std::string_view::npos) break;
    names.remove_prefix(semi + 1);
  }
  if (!found) return;

  std::error_code ec;
  std::string key = std::filesystem::weakly_canonical(path, ec).string();
  if (ec) key = path;
  if (!inProgress_.insert(key).second) return;
  parse(text);
  inProgress_.erase(key);
}

Table& Reader::section(const std::string& name) {
  Value* found = map_.find(name);
  if (!found || !found->isTable()) {
    map_.set(name, Value::table());
    found = map_.find(name);
  }
  return *found->asTable();
}

// Cuts the text into physical lines (the first CR LF of the remaining text,
// else LF CR, else LF, else CR, ends a line) and joins them into logical lines.
void Reader::parse(std::string_view text) {
  Finder crlf{"\r\n"}, lfcr{"\n\r"}, lf{"\n"}, cr{"\r"};
  std::string logical;
  std::string current(kMain);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = crlf.next(text, pos);
    std::size_t width = 2;
    if (end == std::string_view::npos) end = lfcr.next(text, pos);
    if (end == std::string_view::npos) {
      width = 1;
      end = lf.next(text, pos);
      if (end == std::string_view::npos) end = cr.next(text, pos);
    }
    std::string_view line;
    if (end == std::string_view::npos) {
      line = text.substr(pos);
      pos = text.size();
    } else {
      line = text.substr(pos, end - pos);
      pos = end + width;
    }

    logical += trimValueText(line);
    if (logical.empty()) continue;
    if (logical.size() > 3 && logical.ends_with(" ||")) {
      logical.resize(logical.size() - 2);
      if (pos < text.size()) continue;
    }
    handleLine(logical, current);
  }
}

void Reader::handleLine(std::string& logical, std::string& current) {
  const std::size_t hash = logical.find('#');
  if (hash != std::string::npos) logical.resize(hash);
  std::string_view rest = trimValueText(logical);
  if (!rest.empty() && rest.front() == ';') {
    logical.clear();
    return;
  }
  logical = std::string(rest);
  if (logical.empty()) return;

  const std::size_t include = logical.find("include ");
  if (include != std::string::npos) {
    const std::string name(trimValueText(std::string_view(logical).substr(include + 8)));
    // Without a name the line stays, and the next physical line is appended to it.
    if (name.empty()) return;
    logical.clear();
    // The included file starts in "MAIN"; this file goes on in its own
    // section, looked up again by name since the include may have replaced it.
    readList(name);
    return;
  }

  const std::size_t open = logical.find('[');
  const std::size_t close = logical.rfind(']');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    const std::string name(trimValueText(std::string_view(logical).substr(open + 1, close - open - 1)));
    if (!name.empty()) {
      map_.set(name, Value::table());
      current = name;
    }
    logical.clear();
    return;
  }

  const std::size_t eq = logical.find('=');
  if (eq != std::string::npos) {
    const std::string_view line(logical);
    const std::string_view after = line.substr(eq + 1);
    const std::string_view key = trimValueText(line.substr(0, eq));
    const std::string_view value = trimValueText(after.substr(0, after.find('=')));
    section(current).set(key, Value(value));
  }
  logical.clear();
}

TablePtr newSettingsMap() {
  auto map = std::make_shared<Table>(false);
  map->set(kMain, Value::table());
  return map;
}

}  // namespace

TablePtr INIREAD(const std::string& fileNames) {
  TablePtr map = newSettingsMap();
  Reader(*map).readList(fileNames);
  return map;
}

TablePtr INIREADTEXT(std::string_view text) {
  TablePtr map = newSettingsMap();
  Reader(*map).parse(text);
  return map;
}

Number settingNumber(std::string_view text) { return Number::leading(text); }

bool settingPort(std::string_view text, Number& port, std::string& why) {
  unsigned value = 0;
  bool digits = text.size() <= 5;
  for (char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (!digits || value > 65535) {
    why = "port = \"" + std::string(text) + "\" is not a port number from 1 to 65535 (empty or 0: the default)";
    return false;
  }
  port = Number::fromInt(value);
  return true;
}

void applyConnectionSettings(const TablePtr& settings, TQuillonSrv& server) {
  const Value* found = settings ? settings->find("mysql") : nullptr;
  const Table* section = found ? found->tableOrNull() : nullptr;
  if (!section) return;
  for (const TQuillonSrv::ConnectionSetting& s : TQuillonSrv::ConnectionSettings()) {
    const Value* v = section->find(s.key);
    if (!v || v->asString().empty()) continue;
    Number n;
    server.*s.value = s.seconds && Number::parse(v->asString(), n) ? Value(n) : Value(v->asString());
  }
}

}  // namespace veltro
