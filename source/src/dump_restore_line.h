// How Restore reads the lines of a dump, apart from the server so that it can
// be tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace veltro::restore {

// Reads a file as lines separated by CR LF pairs, as the dump writes them. A
// lone LF stays inside its line; the piece after the last pair is the last
// line (empty when the file ends with CR LF). bufferSize: bytes read at a
// time (tests use small ones to cut lines across reads).
class CrLfReader {
 public:
  explicit CrLfReader(const std::string& path, std::size_t bufferSize = 1 << 20)
      : file_(std::fopen(path.c_str(), "rb")), buffer_(bufferSize > 0 ? bufferSize : 1) {}
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


enum class LineKind {
  Ignore,          // empty lines, comments and markers of no meaning
  CreateDatabase,  // text: the statement; name: the database to select afterwards
  TableBegin,      // name: the table whose statements follow ("-- ** BEGIN name")
  Statement,       // text: the statement to send, without its closing ";"
  Refused,         // a statement of a form Backup never writes
  Format,          // the line that says the dump ends with a closing line
  Closing,         // the closing line; name: what follows its marker ("3 tables, digest ...")
  Mode,            // SET sql_mode = '...': a statement; name: the modes it sets
  TriggerOpen,     // "DELIMITER ;;": the lines up to "DELIMITER ;" are one trigger's definition
  TriggerClose,    // "DELIMITER ;"
};

struct LineAction {
  LineKind kind = LineKind::Ignore;
  std::string_view text;  // views into the line
  std::string name;       // a name without its quotes
};

// Classifies one line of a dump (without its CR LF); table: the table of the
// current BEGIN block; backslashEscapes: whether the session reads them (a
// trigger's sql_mode may turn them off). Only the statements Backup writes
// are accepted: its session lines, CREATE DATABASE IF NOT EXISTS, and, naming
// that table, DROP TABLE IF EXISTS, a CREATE TABLE without SELECT, a view's
// DROP and CREATE, LOCK/UNLOCK TABLES, ALTER TABLE ... DISABLE/ENABLE KEYS
// and an INSERT of literal values. Dumps of the older form (markers not
// comments, no closing ";", names unquoted) read the same way.
LineAction classifyLine(std::string_view line, std::string_view table = {}, bool backslashEscapes = true);

// Classifies the lines between "DELIMITER ;;" and "DELIMITER ;", joined by
// CR LF: one CREATE TRIGGER on the block's table, ending in ";;", with every
// quote and comment of its body closed. Statement (text without the ";;")
// or Refused.
LineAction classifyTrigger(std::string_view text, std::string_view table, bool backslashEscapes = true);

}  // namespace veltro::restore
