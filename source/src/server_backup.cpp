// Backup: a dump file of SQL statements and markers for a list of tables.
//
// The dump is streamed batch by batch into a temporary file beside the target
// and renamed into place only when complete and flushed, so a failed or
// cancelled run never touches an existing dump.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "name_arg.h"
#include "veltro/binding.h"
#include "veltro/clock.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"

namespace veltro {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kFlushBytes = 1 << 20;

// MySQL protocol type numbers whose text the server sends as a plain numeral.
bool isNumeral(int type) {
  switch (type) {
    case 0:    // DECIMAL
    case 1:    // TINY
    case 2:    // SHORT
    case 3:    // LONG
    case 4:    // FLOAT
    case 5:    // DOUBLE
    case 8:    // LONGLONG
    case 9:    // INT24
    case 13:   // YEAR
    case 246:  // NEWDECIMAL
      return true;
    default:
      return false;
  }
}
constexpr int kTypeBit = 16;

// How one column's values are written into SQL.
enum class Form { Numeral, Hex, Quoted };

Form formOf(const db::FieldInfo& field) {
  if (isNumeral(field.type)) return Form::Numeral;
  // A BIT value arrives as raw bytes; as a hex literal it goes back bit for bit.
  if (field.type == kTypeBit) return Form::Hex;
  return Form::Quoted;
}

// Appends the literal that gives the value back exactly: NULL, the numeral as
// the server sent it, a hex literal, or the bytes escaped between quotes.
void appendLiteral(std::string& out, const db::RowView& row, unsigned i, Form form, db::Handle conn) {
  if (row.isNull(i)) {
    out += "NULL";
    return;
  }
  std::string_view text = row.at(i);
  switch (form) {
    case Form::Numeral:
      out += text;
      return;
    case Form::Hex: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += "0x";
      if (text.empty()) out += '0';
      for (unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
      }
      return;
    }
    case Form::Quoted:
      out += '\'';
      db::escapeAppend(out, text, conn);
      out += '\'';
      return;
  }
}

// An identifier between backquotes, for the key columns the batches order by.
std::string quotedName(std::string_view name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`') out += '`';
    out += c;
  }
  return out + "`";
}

// The temporary file that becomes the dump. The first failure is kept and
// later writes are skipped; the file is removed unless committed.
class DumpFile {
 public:
  explicit DumpFile(std::string target) : target_(std::move(target)) {}
  ~DumpFile() { discard(); }
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  bool open() {
    path_ = target_ + ".tmpXXXXXX";
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) {
      fail(path_);
      path_.clear();
      return false;
    }
    return true;
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Writes the buffer (when it has grown enough, or always with force) and empties it.
  void flush(std::string& buffer, bool force = false) {
    if (!force && buffer.size() < kFlushBytes) return;
    if (ok()) {
      std::string_view rest = buffer;
      while (!rest.empty()) {
        ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0) {
          if (errno == EINTR) continue;
          fail(path_);
          break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    buffer.clear();
  }

  // Makes the file durable and puts it in place of the target.
  bool commit() {
    if (!ok()) return false;
    // mkstemp creates the file for its owner only; a dump gets the usual mode.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0 || ::fsync(fd_) != 0) return fail(path_);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(path_);
    if (::rename(path_.c_str(), target_.c_str()) != 0) return fail(target_);
    path_.clear();
    // The rename itself is made durable by flushing the directory.
    std::string dir = target_.substr(0, target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }

  void discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
  }

 private:
  bool fail(const std::string& name) {
    if (error_.empty()) error_ = name + ": " + std::strerror(errno);
    return false;
  }

  std::string target_;
  std::string path_;
  std::string error_;
  int fd_ = -1;
};

// One stored result set, freed when it goes out of scope.
struct Result {
  db::Handle handle = 0;
  explicit Result(db::Handle h) : handle(h) {}
  ~Result() {
    if (handle != 0) db::freeResult(handle);
  }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
};

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

// Reads the rows of one table inside the caller's snapshot and writes them as
// INSERT lines of at most batchRows row groups. With a primary key the table
// is read in key order one batch at a time (WHERE key > last ORDER BY key
// LIMIT n), so memory holds one batch; without one it is read by one SELECT.
class TableReader {
 public:
  TableReader(TQuillonSrv& server, const unsigned long* lostConnections, const std::string& table,
              long long batchRows, const bool* cancel, std::string& out, DumpFile& file)
      : server_(server), lostConnections_(lostConnections), table_(table), batch_(batchRows), cancel_(cancel),
        out_(out), file_(file) {}

  void run() {
    keys_ = primaryKey();
    std::string sql = "SELECT * FROM " + table_;
    if (keys_.empty()) {
      readBatch(sql);
      return;
    }
    std::string order = " ORDER BY ";
    for (const std::string& k : keys_) order += quotedName(k) + ",";
    order.back() = ' ';
    order += "LIMIT " + std::to_string(batch_);
    bool first = true;
    const unsigned long losses = *lostConnections_;
    // After a lost connection the next batch would start over on a new one.
    while (!cancelled() && file_.ok() && *lostConnections_ == losses) {
      std::string batchSql = first ? sql + order : sql + " WHERE " + afterLast() + order;
      first = false;
      if (readBatch(batchSql) < static_cast<unsigned long long>(batch_)) break;
    }
  }

 private:
  bool cancelled() const { return cancel_ && *cancel_; }

  // The columns of the primary key in key order; empty when there is none.
  std::vector<std::string> primaryKey() {
    std::vector<std::string> keys;
    db::Handle conn = server_.handle();
    std::string sql = "SHOW KEYS FROM " + table_ + " WHERE Key_name = 'PRIMARY'";
    if (db::query(conn, sql.data(), sql.size()) != 0) {
      server_.CheckError();
      return keys;
    }
    Result res(db::storeResult(conn));
    db::RowView row;
    while (db::fetchRow(res.handle, row))
      if (row.count > 4 && !row.isNull(4)) keys.emplace_back(row.at(4));
    return keys;
  }

  // (k1 > v1) OR (k1 = v1 AND k2 > v2) OR ...: the rows after the last one read,
  // in a form the range optimiser reads as a key range.
  std::string afterLast() const {
    std::string cond;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (i > 0) cond += " OR ";
      cond += "(";
      for (std::size_t j = 0; j < i; ++j) cond += quotedName(keys_[j]) + " = " + lastKey_[j] + " AND ";
      cond += quotedName(keys_[i]) + " > " + lastKey_[i] + ")";
    }
    return cond;
  }

  // Runs one SELECT and writes its rows, batch_ row groups to an INSERT line;
  // returns the number of rows read.
  unsigned long long readBatch(const std::string& sql) {
    db::Handle conn = server_.handle();
    if (db::query(conn, sql.data(), sql.size()) != 0) {
      server_.CheckError();
      return 0;
    }
    Result res(db::storeResult(conn));
    if (res.handle == 0) {
      server_.CheckError();
      return 0;
    }
    if (forms_.empty()) describe(res.handle);
    unsigned long long read = 0;
    long long inLine = 0;
    db::RowView row;
    while (!cancelled() && db::fetchRow(res.handle, row)) {
      if (inLine == 0) {
        out_ += prefix_;
      } else {
        out_ += ',';
      }
      out_ += '(';
      for (unsigned i = 0; i < row.count; ++i) {
        if (i > 0) out_ += ',';
        appendLiteral(out_, row, i, forms_[i], conn);
      }
      out_ += ')';
      ++read;
      if (++inLine == batch_) {
        out_ += kCrLf;
        inLine = 0;
        file_.flush(out_);
      }
      if (!keys_.empty()) rememberKey(row, conn);
    }
    if (inLine > 0) out_ += kCrLf;
    file_.flush(out_);
    return read;
  }

  // The column forms, the INSERT prefix and the positions of the key columns.
  void describe(db::Handle res) {
    std::vector<db::FieldInfo> fields = db::fields(res);
    prefix_ = "INSERT INTO " + table_ + " (";
    for (const db::FieldInfo& f : fields) {
      forms_.push_back(formOf(f));
      prefix_ += f.name + ",";
    }
    if (prefix_.back() == ',') prefix_.pop_back();
    prefix_ += ") VALUES ";
    for (const std::string& k : keys_) {
      unsigned pos = 0;
      while (pos < fields.size() && !equalsNoCase(fields[pos].name, k)) ++pos;
      keyPos_.push_back(pos);
    }
  }

  void rememberKey(const db::RowView& row, db::Handle conn) {
    lastKey_.resize(keys_.size());
    for (std::size_t k = 0; k < keys_.size(); ++k) {
      lastKey_[k].clear();
      unsigned pos = keyPos_[k];
      if (pos < row.count) appendLiteral(lastKey_[k], row, pos, forms_[pos], conn);
    }
  }

  TQuillonSrv& server_;
  const unsigned long* lostConnections_;
  const std::string& table_;
  long long batch_;
  const bool* cancel_;
  std::string& out_;
  DumpFile& file_;
  std::vector<std::string> keys_;
  std::vector<unsigned> keyPos_;
  std::vector<std::string> lastKey_;
  std::vector<Form> forms_;
  std::string prefix_;
};

}  // namespace

// Writes a dump of the tables of the current database to fileName. Returns
// true only when stopped by the cancel flag; false after a written dump and
// after a refused or failed run (each failure reported through CheckError).
bool TQuillonSrv::Backup(const Value& tables, const Value& fileName, const Value& withDrop, const Value& overwrite,
                         const Value& batchRows, const Value& header, const Value& footer, const bool* cancel) {
  const bool drop = withDrop.asBool();
  const long long batch = batchRows.asInt() > 0 ? batchRows.asInt() : 500;
  const std::string target = fileName.asString();
  auto cancelled = [cancel] { return cancel && *cancel; };

  if (cDBName.isEmpty()) {
    RaiseInternal(kErrNoCurrentDatabase);
    return false;
  }
  struct stat st {};
  if (!overwrite.asBool() && ::stat(target.c_str(), &st) == 0) {
    RaiseInternal(kErrFileExists);
    return false;
  }
  if (tables.isEmpty() || !tables.isArray()) {
    RaiseInternal(kErrNoTables);
    return false;
  }
  // The names go into the dump's statements: each must be a name, checked before the file is touched.
  for (const Value& name : tables.items())
    if (!detail::nameArg(*this, name, "table")) return false;

  DumpFile file(target);
  if (!file.open()) {
    RaiseInternal(kErrDumpWrite, file.error());
    return false;
  }
  if (!bOnBackUp.isNil()) bOnBackUp(1);

  Array& names = tables.items();
  const long count = static_cast<long>(names.size());
  std::string out;
  out.reserve(kFlushBytes + (kFlushBytes >> 2));
  out += header.isNil() ? std::string("-- CLASS TQuillon, for [x]Pelagon\r\n") + std::string(33, '-') + "\r\n"
                        : header.asString();
  out += kCrLf;
  for (const Value& name : names) out += "** Table: " + name.asString() + "\r\n";
  out += "\r\n\r\n";
  if (drop) out += "** Create database **\r\nCREATE DATABASE IF NOT EXISTS " + cDBName.asString() + "\r\n\r\n";

  // One snapshot for every table: the dump shows the database at one moment,
  // and the counts agree with the rows read. A caller's own transaction is
  // left alone (START TRANSACTION would commit it).
  const bool ownSnapshot = !inTransaction_;
  if (ownSnapshot) SqlQuery("START TRANSACTION WITH CONSISTENT SNAPSHOT");
  // Rows read after a lost connection would come from another moment, and
  // rows of the failed batch are missing: such a dump must not replace a whole one.
  const unsigned long losses = lostConnections_;
  auto lost = [&] { return lostConnections_ != losses; };

  for (long i = 1; i <= count && file.ok() && !lost(); ++i) {
    if (cancelled()) break;
    const std::string name = Q_LOWERCASE(names[static_cast<std::size_t>(i - 1)]);
    names[static_cast<std::size_t>(i - 1)] = name;
    if (!bOnBackUp.isNil()) bOnBackUp(2, name, count, i);
    const long long rows = GetRowsFromTable(name).asInt();
    out += "** BEGIN " + name + "\r\n";
    if (drop) out += "DROP TABLE IF EXISTS " + name + "\r\n" + CreateInfo(name) + "\r\n";
    if (rows > 0) {
      out += "\r\n\r\n--\r\n-- Dumping data for table " + name + "\r\n--\r\n\r\n\r\nLOCK TABLES " + name + " WRITE;\r\n";
      TableReader(*this, &lostConnections_, name, batch, cancel, out, file).run();
    }
    out += "\r\nUNLOCK TABLES\r\n\r\n** END " + name + "\r\n\r\n\r\n";
    file.flush(out);
  }

  if (ownSnapshot) CommitTransaction();  // after a loss: only ends the snapshot's state
  if (lost()) {
    RaiseInternal(kErrDumpWrite, "the connection was lost during the backup");
    return false;
  }

  if (cancelled()) {
    if (!bOnBackUp.isNil()) bOnBackUp(0);
    return true;
  }
  if (file.ok()) {
    out += footer.isEmpty() ? defaultFooter() : footer.asString();
    if (!bOnBackUp.isNil()) bOnBackUp(3, fileName);
    file.flush(out, true);
    file.commit();
  }
  if (!file.ok()) RaiseInternal(kErrDumpWrite, file.error());
  return false;
}

}  // namespace veltro
