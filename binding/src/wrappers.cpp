// The MYSQL* functions: Values in, Values out, over the typed binding.
//
// Argument rules shared by every function here: a text argument that is not a
// character string reads as a null text; a number that is not a number reads as
// 0, with decimals truncated toward zero and the result taken as a signed
// 32-bit integer; a logical that is not logical reads as false. None of them fails.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db_detail.h"
#include "veltro/binding.h"
#include "veltro/table.h"

namespace veltro {

namespace {

const char* textArg(const Value& v) { return v.isString() ? v.str().c_str() : nullptr; }

std::string_view textView(const Value& v) { return v.isString() ? std::string_view(v.str()) : std::string_view(); }

std::int32_t numArg(const Value& v) {
  if (!v.isNumber()) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v.number().toInt())));
}

bool logicalArg(const Value& v) { return v.isLogical() && v.asBool(); }

db::Handle handleArg(const Value& v) { return numArg(v); }

Value arrayValue(Array items) { return Value(std::make_shared<Array>(std::move(items))); }

// A row of n values: nils past the end, "" for SQL NULL, other values whole.
Value fetchRowValue(db::Handle res, std::int64_t n) {
  Array items(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  db::RowView row;
  if (!items.empty() && db::fetchRow(res, row)) {
    const unsigned count = std::min<unsigned>(row.count, static_cast<unsigned>(items.size()));
    for (unsigned i = 0; i < count; ++i) items[i] = Value(std::string(row.at(i)));
  }
  return arrayValue(std::move(items));
}

}  // namespace

// --- Connection-level wrappers -------------------------------------------------

namespace {

// The connection settings of MYSQLCONNECT's keyed table, by the argument rules.
db::ConnectOptions connectOptions(const Value& options) {
  db::ConnectOptions o;
  const Table* table = options.tableOrNull();
  if (!table) return o;
  auto text = [table](std::string_view key) {
    const Value* v = table->find(key);
    return v && v->isString() ? v->str() : std::string();
  };
  auto seconds = [table](std::string_view key) {
    const Value* v = table->find(key);
    return v ? static_cast<unsigned>(std::max<std::int32_t>(numArg(*v), 0)) : 0u;
  };
  o.charset = text("charset");
  const Value* tls = table->find("tls");
  if (tls && tls->isString() && !tls->str().empty() && !db::tlsModeOf(tls->str(), o.tls))
    o.tls = db::TlsMode::VerifyIdentity;
  o.sslCa = text("ssl-ca");
  o.sslCert = text("ssl-cert");
  o.sslKey = text("ssl-key");
  o.connectTimeout = seconds("connect-timeout");
  o.readTimeout = seconds("read-timeout");
  o.writeTimeout = seconds("write-timeout");
  o.socket = text("socket");
  if (const Value* watch = table->find("node-watch-ms"); watch && watch->isNumber())
    o.nodeWatchMs = static_cast<unsigned>(std::max<std::int32_t>(numArg(*watch), 0));
  return o;
}

// Why a login setting cannot be passed on as the caller named it ("" when all
// can): a text that the client library would cut at a zero byte, a port that
// it would wrap into 16 bits.
std::string refusedLogin(const Value& host, const Value& user, const Value& password, const Value& port,
                         const Value& database) {
  for (const auto& [name, v] : {std::pair<const char*, const Value*>{"host", &host},
                                {"user", &user},
                                {"password", &password},
                                {"database", &database}}) {
    if (textView(*v).find('\0') != std::string_view::npos) return std::string(name) + ": a zero byte in the text";
  }
  unsigned number = 0;
  if (port.isNumber() && !db::portOf(port, number))
    return "port " + port.toString() + ": not a port from 1 to 65535 (0: the default)";
  return {};
}

}  // namespace

Value namesArray(const std::vector<std::string>& names) {
  Array items;
  items.reserve(names.size());
  for (const std::string& n : names) items.emplace_back(n);
  return arrayValue(std::move(items));
}

std::vector<std::string> textList(const Value& v) {
  std::vector<std::string> out;
  if (!v.isArray()) return out;
  for (const Value& item : v.items()) out.push_back(item.isString() ? item.str() : std::string());
  return out;
}

Value connectByRules(const Value& host, const Value& user, const Value& password, const Value& port,
                     const Value& flags, const Value& database, const db::ConnectOptions& options) {
  unsigned portNumber = 3306;
  db::portOf(port, portNumber);
  const unsigned long flagBits = flags.isNumber() ? static_cast<std::uint32_t>(numArg(flags)) : 0ul;
  return Value(
      db::connect(textArg(host), textArg(user), textArg(password), portNumber, flagBits, textArg(database), options));
}

Value MYSQLCONNECT(const Value& host, const Value& user, const Value& password, const Value& port,
                   const Value& flags, const Value& database, const Value& options) {
  const std::string refused = refusedLogin(host, user, password, port, database);
  if (!refused.empty()) {
    db::detail::setLastFailure(db::kBadSettingError, refused);
    return Value(0);
  }
  return connectByRules(host, user, password, port, flags, database, connectOptions(options));
}

Value MYSQLEMBEDDED(const Value& database, const Value& options, const Value& groups) {
  return Value(db::embedded(textArg(database), textList(options), textList(groups)));
}

Value MYSQLCLOSE(const Value& conn) {
  db::close(handleArg(conn));
  return {};
}

Value MYSQLQUERY(const Value& conn, const Value& sql, const Value& length) {
  // The stated length never reaches past the text, whatever the caller passed.
  const std::string_view text = textView(sql);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int32_t>(numArg(length), 0)),
                                              text.size());
  return Value(db::query(handleArg(conn), textArg(sql), n));
}

Value MYSQLSELECTDB(const Value& conn, const Value& database) {
  return Value(db::selectDb(handleArg(conn), textArg(database)));
}

Value MYSQLPING(const Value& conn) { return Value(db::ping(handleArg(conn))); }
Value MYSQLCOMMIT(const Value& conn) { return Value(db::commit(handleArg(conn))); }
Value MYSQLROLLBACK(const Value& conn) { return Value(db::rollback(handleArg(conn))); }
Value MYSQLERROR(const Value& conn) { return Value(db::error(handleArg(conn))); }
Value MYSQLGETERRNO(const Value& conn) { return Value(db::errnum(handleArg(conn))); }

Value MYSQLESCAPE(const Value& text, const Value& conn) {
  const db::Handle h = conn.isNumber() ? handleArg(conn) : 0;
  return Value(db::escape(textView(text), h));
}

Value VAL2ESCAPE(const Value& text) { return Value(db::escape(textView(text), 0)); }

Value MYAND(const Value& a, const Value& b) { return Value(numArg(a) & numArg(b)); }

Value Q_READFILE(const Value& fileName) {
  const char* name = textArg(fileName);
  if (!name || !*name) return Value(std::string());
  std::FILE* file = std::fopen(name, "rb");
  if (!file) return Value(std::string());
  struct stat st;
  if (::stat(name, &st) != 0 || st.st_size <= 0) {
    std::fclose(file);
    return Value(std::string());
  }
  std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  bytes.resize(got);
  return Value(std::move(bytes));
}

// --- Result-set wrappers -----------------------------------------------------

Value MYSQLSTORERESULT(const Value& conn) { return Value(db::storeResult(handleArg(conn))); }
Value MYSQLFIELDCOUNT(const Value& conn) { return Value(db::fieldCount(handleArg(conn))); }
Value MYSQLNUMROWS(const Value& res) { return Value(db::numRows(handleArg(res))); }

Value MYSQLDATASEEK(const Value& res, const Value& row) {
  db::dataSeek(handleArg(res), static_cast<std::uint32_t>(numArg(row)));
  return {};
}

Value MYSQLFETCHROW(const Value& res) {
  const db::Handle h = handleArg(res);
  return fetchRowValue(h, db::numFields(h));
}

Value MYSQLFETCHROW(const Value& res, const Value& count) {
  const db::Handle h = handleArg(res);
  std::int64_t n = numArg(count);
  if (db::isResult(h)) n = std::min<std::int64_t>(n, db::numFields(h));
  return fetchRowValue(h, n);
}

Value MYSQLFREERESULT(const Value& res) {
  db::freeResult(handleArg(res));
  return {};
}

Value columnDescription(const db::FieldInfo& field, bool keepTableCase) {
  Array items;
  items.reserve(9);
  items.emplace_back(lower(field.name));
  items.emplace_back(keepTableCase ? field.table : lower(field.table));
  items.emplace_back(field.def);
  items.emplace_back(field.type);
  items.emplace_back(static_cast<unsigned long>(field.length));
  items.emplace_back(static_cast<unsigned long>(field.maxLength));
  items.emplace_back(field.flags);
  items.emplace_back(field.decimals);
  items.emplace_back(std::string(1, db::typeLetter(field.type, field.length)));
  return arrayValue(std::move(items));
}

Value resultStructure(db::Handle res, bool keepTableCase) {
  Array items;
  for (const db::FieldInfo& f : db::fields(res)) items.push_back(columnDescription(f, keepTableCase));
  return arrayValue(std::move(items));
}

Value MYSQLRESULTSTRUCTURE(const Value& res, const Value& keepTableCase) {
  return resultStructure(handleArg(res), logicalArg(keepTableCase));
}

Value MYSQLLISTFIELDS(const Value& conn, const Value& table, const Value& wild) {
  return Value(db::listFields(handleArg(conn), textArg(table), textArg(wild)));
}

Value MYSQLLISTDBS(const Value& conn, const Value& wild) {
  return namesArray(db::listDbs(handleArg(conn), textArg(wild)));
}

Value MYSQLLISTTBLS(const Value& conn, const Value& wild) {
  return namesArray(db::listTables(handleArg(conn), textArg(wild)));
}

Value MYSEEK(const Value& res, const Value& col, const Value& text, const Value& first, const Value& last,
             const Value& soft) {
  const db::Handle h = handleArg(res);
  const std::int32_t column = numArg(col);
  if (column < 1) return Value(0);
  const long from = first.isNumber() ? numArg(first) : 1;
  const long to = last.isNumber() ? static_cast<long>(numArg(last)) : static_cast<long>(db::numRows(h));
  return Value(db::seek(h, static_cast<unsigned>(column), textView(text), from, to, logicalArg(soft)));
}

}  // namespace veltro
