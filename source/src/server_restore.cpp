// Restore: reads a dump line by line and sends the statements it recognises.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/server.h"

namespace veltro {

namespace {

// Reads a file as lines separated by CR LF pairs, as the dump writes them. A
// lone LF stays inside its line; the piece after the last pair is the last
// line (empty when the file ends with CR LF).
class CrLfReader {
 public:
  explicit CrLfReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")), buffer_(1 << 20) {}
  ~CrLfReader() {
    if (file_) std::fclose(file_);
  }
  CrLfReader(const CrLfReader&) = delete;
  CrLfReader& operator=(const CrLfReader&) = delete;

  // The next line into line; false when none is left.
  bool next(std::string& line) {
    if (done_) return false;
    line.clear();
    for (;;) {
      if (pos_ == end_ && !fill()) {
        done_ = true;
        return true;
      }
      const char* start = buffer_.data() + pos_;
      const void* lf = std::memchr(start, '\n', end_ - pos_);
      if (!lf) {
        line.append(start, end_ - pos_);
        pos_ = end_;
        continue;
      }
      std::size_t n = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
      line.append(start, n);
      pos_ += n + 1;
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
        return true;
      }
      line += '\n';
    }
  }

 private:
  bool fill() {
    if (!file_) return false;
    pos_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    return end_ > 0;
  }

  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, end_ = 0;
  bool done_ = false;
};

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The statements a dump holds, recognised by how their line begins, so that
// data inside an INSERT line can never make a line count as another statement.
bool isStatement(std::string_view line) {
  for (std::string_view keyword : {"DROP TABLE", "CREATE TABLE", "LOCK TABLES", "INSERT INTO", "UNLOCK TABLES"})
    if (startsWith(line, keyword)) return true;
  return false;
}

}  // namespace

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
    CrLfReader counter(path);
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
  CrLfReader reader(path);
  for (long i = 1; !cancelled() && reader.next(line); ++i) {
    if (!bOnRestore.isNil()) bOnRestore(3, table, total, i);
    std::string_view text = line;
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    if (startsWith(text, "CREATE DATABASE IF NOT EXISTS")) {
      std::string database(text.substr(text.find_last_of(' ') + 1));
      SqlQuery(std::string(text));
      SelectDB(database);
      continue;
    }
    if (startsWith(text, "** BEGIN ")) {
      unlock();
      table.assign(text.substr(9));
      continue;
    }
    if (!text.empty() && text.back() == ';') text.remove_suffix(1);
    if (!isStatement(text)) continue;
    const bool sent = SqlQuery(std::string(text));
    if (startsWith(text, "UNLOCK TABLES"))
      locked = false;
    else if (startsWith(text, "LOCK TABLES") && sent)
      locked = true;
  }
  unlock();

  if (!bOnRestore.isNil()) bOnRestore(cancelled() ? 0 : 4);
  return !cancelled();
}

}  // namespace veltro
