// One table of a dump: its column list, its rows streamed and written as
// INSERT statements between LOCK and UNLOCK.
#include "dump_table.h"

#include "sql_names.h"

namespace veltro::detail {

std::string backquoted(std::string_view name) {
  std::string out;
  sql::appendBackquoted(out, name, sql::Charset::Single);
  return out;
}

std::vector<std::vector<std::string>> rowsOf(TQuillonSrv& server, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  const db::Handle conn = server.handle();
  if (db::query(conn, sql.data(), sql.size()) != 0) {
    server.CheckError();
    return rows;
  }
  Result res(db::storeResult(conn));
  if (res.handle == 0) {
    server.CheckError();
    return rows;
  }
  db::RowView row;
  while (db::fetchRow(res.handle, row)) {
    std::vector<std::string> r;
    for (unsigned i = 0; i < row.count; ++i) r.emplace_back(row.at(i));
    rows.push_back(std::move(r));
  }
  return rows;
}

bool TableWriter::run() {
  // Stored columns only, invisible ones too: generated columns are computed again on load.
  std::vector<std::string> columns;
  std::vector<bool> floats;
  for (const auto& r : rowsOf(server_, "SHOW COLUMNS FROM " + backquoted(table_))) {
    if (r.size() < 6) continue;
    const std::string& extra = r[5];
    if (extra.find("VIRTUAL") != std::string::npos || extra.find("STORED GENERATED") != std::string::npos ||
        extra.find("PERSISTENT") != std::string::npos)
      continue;
    if (holdsLineBreak(r[0])) {
      server_.RaiseInternal(kErrNotAName, Value("a column of " + table_ + " has a line break in its name"));
      return false;
    }
    columns.push_back(r[0]);
    // FLOAT's text has six digits; as a double it has every digit of the value.
    floats.push_back(r[1].rfind("float", 0) == 0);
  }
  if (server_.lError.asBool()) return false;  // reported by the listing
  if (columns.empty()) return failed();

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

  const db::Handle conn = server_.handle();
  if (db::query(conn, select.data(), select.size()) != 0) return failed();
  Result res(db::useResult(conn));
  if (res.handle == 0) return failed();
  for (const db::FieldInfo& f : db::fields(res.handle)) forms_.push_back(formOf(f));

  db::RowView row;
  long long inStatement = 0;
  std::size_t statementStart = 0;
  bool any = false;
  while (db::fetchRow(res.handle, row)) {
    if (cancelled()) {
      // The rest of the rows must be read before the connection takes another statement.
      while (db::fetchRow(res.handle, row)) {
      }
      break;
    }
    if (!any) {
      out_ += "\r\n\r\n--\r\n-- Dumping data for table " + table_ + "\r\n--\r\n\r\n\r\nLOCK TABLES " +
              backquoted(table_) + " WRITE;\r\n";
      any = true;
    }
    if (inStatement == 0) {
      statementStart = out_.size();
      out_ += prefix_;
    } else {
      out_ += ',';
    }
    out_ += '(';
    for (unsigned i = 0; i < row.count; ++i) {
      if (i > 0) out_ += ',';
      appendValue(out_, row, i, forms_[i]);
    }
    out_ += ')';
    if (++inStatement == batch_ || out_.size() - statementStart >= statementBytes_) {
      out_ += ";\r\n";
      inStatement = 0;
      file_.flush(out_);
    }
  }
  // A stream that ended early (a lost connection) reports its error here.
  if (db::errnum(conn) != 0) return failed();
  if (inStatement > 0) out_ += ";\r\n";
  out_ += "\r\nUNLOCK TABLES;\r\n";
  return true;
}


}  // namespace veltro::detail
