// One table of a dump: its column list, its rows streamed and written as
// INSERT statements between LOCK and UNLOCK.
#include "dump_table.h"

#include <algorithm>
#include <string>

#include "server_refuse.h"
#include "sql_names.h"

namespace veltro::detail {

std::string backquoted(std::string_view name) {
  std::string out;
  sql::appendBackquoted(out, name, sql::Charset::Single);
  return out;
}

bool readRows(TQuillonSrv& server, const std::string& sql, std::vector<std::vector<std::string>>& rows) {
  const db::Handle conn = server.handle();
  if (db::query(conn, sql.data(), sql.size()) != 0) {
    server.CheckError();
    return false;
  }
  Result res(db::storeResult(conn));
  if (res.handle == 0) {
    server.CheckError();
    return false;
  }
  db::RowView row;
  while (db::fetchRow(res.handle, row)) {
    std::vector<std::string> r;
    for (unsigned i = 0; i < row.count; ++i) r.emplace_back(row.at(i));
    rows.push_back(std::move(r));
  }
  return true;
}

std::vector<std::vector<std::string>> rowsOf(TQuillonSrv& server, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  readRows(server, sql, rows);
  return rows;
}

namespace {

// A table's stored columns, invisible ones too (generated columns are
// computed again on load), with what their values need.
struct Columns {
  std::vector<std::string> names;
  std::vector<bool> floats;  // FLOAT's text has six digits; as a double it has every digit of the value
  std::vector<bool> typed;   // INET6, INET4, UUID: written as text the server parses
};

}  // namespace

bool TableWriter::run() {
  std::vector<std::vector<std::string>> listing;
  if (!readRows(server_, "SHOW COLUMNS FROM " + backquoted(table_), listing)) return false;
  Columns columns;
  for (const auto& r : listing) {
    if (r.size() < 6) continue;
    const std::string& extra = r[5];
    if (extra.find("VIRTUAL") != std::string::npos || extra.find("STORED GENERATED") != std::string::npos ||
        extra.find("PERSISTENT") != std::string::npos)
      continue;
    if (holdsLineBreak(r[0]))
      return refuse(server_, kErrNotAName, Value("a column of " + table_ + " has a line break in its name"));
    columns.names.push_back(r[0]);
    columns.floats.push_back(r[1].rfind("float", 0) == 0);
    columns.typed.push_back(r[1] == "inet6" || r[1] == "inet4" || r[1] == "uuid");
  }
  if (columns.names.empty()) return failed();
  return stream(columns.names, columns.floats, columns.typed);
}

bool TableWriter::stream(const std::vector<std::string>& columns, const std::vector<bool>& floats,
                         const std::vector<bool>& typed) {
  const std::string select = selectFor(columns, floats);
  // Statements of several rows stay within half the server's packet; one row alone may take up to the packet.
  std::vector<std::vector<std::string>> packetRows;
  if (!readRows(server_, "SELECT @@max_allowed_packet", packetRows)) return false;
  const std::size_t packet = packetRows.empty() || packetRows[0].empty() ? 0 : std::stoull("0" + packetRows[0][0]);
  if (packet == 0) return failed();
  const std::size_t bound = std::min(statementBytes_, packet / 2);

  const db::Handle conn = server_.handle();
  if (db::query(conn, select.data(), select.size()) != 0) return failed();
  Result res(db::useResult(conn));
  if (res.handle == 0) return failed();
  for (const db::FieldInfo& f : db::fields(res.handle))
    forms_.push_back(forms_.size() < typed.size() && typed[forms_.size()] ? Form::Typed : formOf(f));
  return writeRows(res.handle, bound, packet);
}

bool TableWriter::writeRows(db::Handle res, std::size_t bound, std::size_t packet) {
  db::RowView row;
  long long inStatement = 0;
  // Bytes of the open statement so far, without its ";" (some may be in the file already).
  std::size_t statementBytes = 0;
  bool any = false;
  while (db::fetchRow(res, row)) {
    if (cancelled()) {
      // The rest of the rows must be read before the connection takes another statement.
      while (db::fetchRow(res, row)) {
      }
      break;
    }
    if (!any) {
      beginRows();
      any = true;
    }
    const std::size_t rowStart = out_.size();
    if (inStatement == 0)
      out_ += prefix_;
    else
      out_ += ',';
    out_ += '(';
    for (unsigned i = 0; i < row.count; ++i) {
      if (i > 0) out_ += ',';
      appendValue(out_, row, i, forms_[i]);
    }
    out_ += ')';
    std::size_t rowBytes = out_.size() - rowStart;
    if (inStatement > 0 && statementBytes + rowBytes + 1 > bound) {
      // The row would take the statement past the bound: it starts the next one.
      out_.replace(rowStart, 1, ";\r\n" + prefix_);
      rowBytes += prefix_.size() - 1;
      statementBytes = 0;
      inStatement = 0;
    }
    if (inStatement == 0 && tooLarge(rowBytes + 1, packet)) return false;
    statementBytes += rowBytes;
    if (++inStatement == batch_) {
      out_ += ";\r\n";
      inStatement = 0;
      statementBytes = 0;
    }
    file_.flush(out_);
  }
  // A stream that ended early (a lost connection) reports its error here.
  if (db::errnum(server_.handle()) != 0) return failed();
  if (inStatement > 0) out_ += ";\r\n";
  if (load_.keysAfter && any) out_ += "ALTER TABLE " + backquoted(table_) + " ENABLE KEYS;\r\n";
  if (load_.lock) out_ += "\r\nUNLOCK TABLES;\r\n";
  return true;
}

void TableWriter::beginRows() {
  out_ += "\r\n\r\n--\r\n-- Dumping data for table " + table_ + "\r\n--\r\n\r\n\r\n";
  if (load_.lock) out_ += "LOCK TABLES " + backquoted(table_) + " WRITE;\r\n";
  if (load_.keysAfter) out_ += "ALTER TABLE " + backquoted(table_) + " DISABLE KEYS;\r\n";
}

std::string TableWriter::selectFor(const std::vector<std::string>& columns, const std::vector<bool>& floats) {
  std::string select = "SELECT ";
  prefix_ = "INSERT INTO " + backquoted(table_) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    select += backquoted(columns[i]) + (floats[i] ? " + 0e0," : ",");
    prefix_ += backquoted(columns[i]) + ",";
  }
  select.back() = ' ';
  select += "FROM " + backquoted(table_);
  prefix_.back() = ')';
  prefix_ += " VALUES ";
  return select;
}

bool TableWriter::tooLarge(std::size_t statementBytes, std::size_t packet) {
  // The server reads the statement without its ";" after one byte of command.
  if (statementBytes < packet) return false;
  server_.RaiseInternal(kErrDumpWrite, Value("table " + table_ + ": a row's INSERT statement of " +
                                             std::to_string(statementBytes) +
                                             " bytes does not fit the server's max_allowed_packet of " +
                                             std::to_string(packet)));
  return true;
}

}  // namespace veltro::detail
