// Server-side prepared statements over the binary protocol, for the library's
// typed face. Internal to the library: the package does not install it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "veltro/binding.h"

struct VeltroBackendOps;

namespace veltro::db {

namespace detail {
class NodeWatch;
}

// One argument as the binding sends it.
struct StmtParam {
  enum class Kind : int { Null, Int, UInt, Float, Double, Text, Decimal, Date, DateTime, Time };
  Kind kind = Kind::Null;
  std::int64_t i = 0;   // Int
  std::uint64_t u = 0;  // UInt
  double d = 0;         // Float, Double
  std::string_view text;  // Text, and Decimal's numeral
  // Date, DateTime, Time (whose hours may be any number).
  bool negative = false;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  unsigned long microsecond = 0;
};

// A statement prepared on one connection, and the one owner of the client
// library's statement: closed on the server when destroyed. It may outlive
// its connection; every call then fails.
class PreparedStatement {
 public:
  PreparedStatement(Handle conn, std::string_view sql);
  ~PreparedStatement();
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;

  // Whether the server prepared it; errnum(), error() and sqlstate() say why not.
  bool ok() const { return prepared_; }
  Handle connection() const { return conn_; }
  std::size_t paramCount() const;
  // Runs it with paramCount() params; false on an error. store: a result
  // set it returns is read whole first (else row by row as fetched).
  bool execute(const StmtParam* params, bool store);
  // Whether the server takes array binding (MariaDB's bulk execution); false
  // in a backend without it (the embedded server).
  bool bulkSupported() const;
  // Runs it once per row of params (rows rows of paramCount() each, row after
  // row) in one round trip, the whole batch one statement; false on an error.
  // A column's values must be of one kind (or NULL). Only when bulkSupported().
  bool executeBulk(const StmtParam* params, std::size_t rows);
  // The columns of its current result set (none after a statement without one).
  std::vector<FieldInfo> fields() const;
  // The next row, each field as the text the server would show (binary
  // values written so), valid until the next fetch; false past the end or
  // on an error (errnum() then non-zero).
  bool fetch(RowView& row);
  // Drops the rows left and the further results (a CALL's); false on an error.
  bool discard();
  std::uint64_t affectedRows() const;
  std::uint64_t insertId() const;
  unsigned errnum() const;
  std::string error() const;
  std::string sqlstate() const;

 private:
  const VeltroBackendOps* ops_ = nullptr;
  void* stmt_ = nullptr;
  Handle conn_ = 0;
  // The connection's node watch (host lists), taken once: its calls and every row's fetch are watched.
  std::shared_ptr<detail::NodeWatch> watch_;
  bool prepared_ = false;
  std::vector<char> params_;  // the backend's form of the arguments, reused
};

// Resets the session of conn (mysql_reset_connection): its transaction rolled
// back, variables, temporary tables, locks and prepared statements gone, the
// current database kept. false on an error (readable on conn), and in a
// backend without it (the embedded server).
bool resetConnection(Handle conn);
// The current database as the client library last learnt it ("" for none).
std::string currentDatabase(Handle conn);

}  // namespace veltro::db
