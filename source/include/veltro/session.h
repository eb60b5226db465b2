// Session: the typed face of the library, for C++ programs.
//
//   auto s = veltro::Session::open({.host = "127.0.0.1", .user = "app", .password = "secret", .database = "shop"});
//   s.execute("UPDATE clientes SET age = ? WHERE id = ?", 31, 7);
//   for (const veltro::Row& r : s.stream("SELECT id, name FROM clientes WHERE age > ?", 30))
//     std::printf("%lld %s\n", r.get<long long>(0), r.get<std::string>("name").c_str());
//
// Values are written and read as themselves: 0 is 0, "" is '', texts keep
// their blanks, NULL is std::nullopt (or nullptr) and only NULL. A `?` of a
// statement (not one inside a quoted text, a backquoted name or a comment)
// takes the next argument, written by the library's one literal writer and
// escaped for the connection; prepare() binds them on the server instead.
//
// Errors are exceptions: SqlError (the server's number, SQLSTATE and
// message), UnknownOutcome for a statement whose connection was lost while it
// ran, ConversionError for a value that does not fit the type asked. Nothing
// here ends the process or calls a handler.
//
// A session, its rows, streams and statements are used by one thread at a
// time; sessions in different threads run in parallel. It shares the server
// object's engine: connection settings, host lists and failover, the
// character set followed after statements that may change it.
//
// Also here: executeMany (many rows, a batch a round trip), Transaction and
// Session::transact (rolled back unless committed, rerun after a deadlock),
// and Pool (connections shared between threads, lent as a Lease).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <ranges>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "veltro/export.h"
#include "veltro/value.h"

namespace veltro {

class TQuillonSrv;

// The typed face's own error numbers (the server's and the client library's
// keep theirs; the object model's checks are in veltro/server.h).
enum SessionError : unsigned {
  kErrPlaceholders = 9101,  // the arguments do not match the statement's ? placeholders; nothing was sent
  kErrStreamOpen = 9102,    // a statement on a session whose stream is not finished; nothing was sent
  kErrConversion = 9103,    // a value that does not fit the C++ type asked for (ConversionError)
  kErrNullValue = 9104,     // NULL read into a type without a NULL (ConversionError)
  kErrNoColumn = 9105,      // a column index or name that the row does not have
  kErrArgument = 9106,      // an argument that cannot be written (a text the connection's set cannot carry)
  kErrNoRow = 9107,         // value<T> of a statement that returned no row
  kErrPoolTimeout = 9108,   // Pool::acquire waited its whole timeout and no connection came free
  kErrNestedTransaction = 9109,  // a Transaction (or transact) on a session with a transaction open; nothing was sent
  kErrTransactionEnded = 9110,   // commit() or rollback() of a Transaction already committed or rolled back
};

// An error of a statement or of the session; what() is the message.
class VELTRO_API SqlError : public std::runtime_error {
 public:
  SqlError(unsigned number, std::string sqlstate, const std::string& message);
  unsigned number() const noexcept { return number_; }
  const std::string& sqlstate() const noexcept { return sqlstate_; }

 private:
  unsigned number_;
  std::string sqlstate_;
};

// The connection was lost while the statement ran: it may or may not have
// been applied. It is never sent again unless Settings::repeatable says so.
class VELTRO_API UnknownOutcome : public SqlError {
 public:
  using SqlError::SqlError;
};

// A row of executeMany failed. row() is its index in the rows given;
// applied() the rows that stay applied: those of the batches sent before
// its own (a batch is one statement, applied whole or not at all), and 0
// inside a transaction, where none of the call's rows stays. number() and
// sqlstate() are the server's (1062 for a duplicate key, ...).
class VELTRO_API BulkError : public SqlError {
 public:
  BulkError(unsigned number, std::string sqlstate, const std::string& message, std::size_t row, std::size_t applied);
  std::size_t row() const noexcept { return row_; }
  std::size_t applied() const noexcept { return applied_; }

 private:
  std::size_t row_, applied_;
};

// A value read into a type that cannot hold it (out of range, not a number,
// NULL into a non-optional): number kErrConversion or kErrNullValue.
class VELTRO_API ConversionError : public SqlError {
 public:
  using SqlError::SqlError;
};

enum class Tls {
  Default,         // as the client library does by itself
  Off,             // never
  Preferred,       // encrypted when the server offers it
  Required,        // encrypted or no connection (refused before the login)
  VerifyIdentity,  // encrypted, the certificate signed by sslCa and naming the host
};

// Connection settings, with the meanings of the server object's (and of
// connect.ini's keys). Empty texts and zero numbers keep the default.
struct Settings {
  std::string host = "localhost";  // a host, host:port, or a list "h1[:port],h2[:port],..." (failover)
  unsigned port = 0;               // 0: 3306
  std::string user{}, password{}, database{};
  std::string charset = "utf8mb4";
  Tls tls = Tls::Default;
  std::string sslCa{}, sslCert{}, sslKey{};                        // certificate files (PEM)
  unsigned connectTimeout = 0, readTimeout = 0, writeTimeout = 0;  // seconds
  std::string socket{};                                            // used when host is "localhost"
  bool repeatable = false;      // a statement lost while it ran is sent again (it may run twice)
  bool readYourWrites = false;  // on a Galera node, reads wait for what the cluster committed
};

// What a statement did: the rows it changed (0 for a statement that returned
// rows) and the AUTO_INCREMENT value its INSERT gave (0 for none).
struct Outcome {
  std::uint64_t affected = 0;
  std::uint64_t insertId = 0;
};

namespace detail {

struct Columns;    // names and types of a result's columns
struct SessionCore;
struct ResultData;
struct StreamState;
struct PreparedCore;
struct PoolCore;

// One argument as the library writes it.
struct Param {
  enum class Kind : unsigned char { Null, Int, UInt, Float, Double, Text, Decimal, Date, DateTime, Time };
  Kind kind = Kind::Null;
  std::int64_t i = 0;  // Int; Date: days since 1970-01-01; DateTime and Time: microseconds
  std::uint64_t u = 0;
  double d = 0;  // Float and Double
  std::string_view text;
  const Number* number = nullptr;
};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// A field of a row: its bytes (null data for NULL) and where it stands.
struct Cell {
  const char* data;
  std::size_t size;
  const Columns* columns;
  std::size_t index;
  std::string_view text() const { return {data, size}; }
};

// How arguments are written: at the end of this header.
template <class T>
Param toParam(const T& v);

// executeMany's rows: fills out with the arguments of row i of rows.
using RowFill = void (*)(const void* rows, std::size_t i, Param* out);
template <class R>
void fillRow(const void* rows, std::size_t i, Param* out) {
  const R& range = *static_cast<const R*>(rows);
  const auto& row = std::ranges::begin(range)[static_cast<std::ranges::range_difference_t<const R>>(i)];
  std::apply([out](const auto&... v) {
    std::size_t k = 0;
    ((out[k++] = toParam(v)), ...);
  }, row);
}
// transact's work, called through a plain function.
template <class B>
void callBody(void* body) {
  (*static_cast<B*>(body))();
}

}  // namespace detail

// One row of a result: valid while its Rows lives, or, in a stream, until
// the stream moves to the next row.
class VELTRO_API Row {
 public:
  // Fields in the row.
  std::size_t size() const noexcept { return width_; }
  // Whether field i is NULL; SqlError kErrNoColumn when there is no field i.
  bool isNull(std::size_t i) const { return cell(i).data == nullptr; }
  // Field i (from 0), or the field of a column name (without regard to
  // letter case), as T or std::optional<T>: a NULL is std::nullopt, and
  // ConversionError when T is not optional. T: bool, any integer type
  // (ConversionError when the value does not fit), float, double,
  // std::string, std::string_view (valid as the row is), Number (DECIMAL,
  // exact), std::chrono::year_month_day (DATE), sys_time<microseconds>
  // (DATETIME, TIMESTAMP), microseconds (TIME). Texts are as stored.
  template <class T>
  T get(std::size_t i) const {
    return convert<T>(cell(i));
  }
  template <class T>
  T get(std::string_view column) const {
    return convert<T>(cell(indexOf(column)));
  }
  // The name of column i, and the index of a column's name.
  std::string_view name(std::size_t i) const;
  std::size_t indexOf(std::string_view column) const;

 private:
  friend class Rows;
  friend struct detail::StreamState;
  template <class T>
  static T convert(const detail::Cell& c) {
    if constexpr (detail::IsOptional<T>::value) {
      if (!c.data) return std::nullopt;
      return read<typename T::value_type>(c);
    } else {
      if (!c.data) throwNull(c);
      return read<T>(c);
    }
  }
  // The conversions of a field that is not NULL (read<T> picks one, at the
  // end of this header); each throws ConversionError for a value that does
  // not fit. Members, so that the caller's instantiations reach them in the library.
  template <class T>
  static T read(const detail::Cell& c);
  [[noreturn]] static void throwNull(const detail::Cell& c);
  static bool readBool(const detail::Cell& c);
  static std::int64_t readInt(const detail::Cell& c, std::int64_t min, std::int64_t max);
  static std::uint64_t readUInt(const detail::Cell& c, std::uint64_t max);
  static float readFloat(const detail::Cell& c);
  static double readDouble(const detail::Cell& c);
  static Number readNumber(const detail::Cell& c);
  static std::chrono::year_month_day readDate(const detail::Cell& c);
  static std::chrono::sys_time<std::chrono::microseconds> readDateTime(const detail::Cell& c);
  static std::chrono::microseconds readTime(const detail::Cell& c);
  // Read once per field: inline, its failure out of line.
  detail::Cell cell(std::size_t i) const {
    if (!values_ || i >= width_) noField(i);
    return detail::Cell{values_[i], values_[i] ? static_cast<std::size_t>(lengths_[i]) : 0, columns_, i};
  }
  [[noreturn]] void noField(std::size_t i) const;

  const detail::Columns* columns_ = nullptr;
  const char* const* values_ = nullptr;
  const unsigned long* lengths_ = nullptr;
  std::size_t width_ = 0;  // fields in a row of columns_
};

// A whole result, held in memory. Copies share it.
class VELTRO_API Rows {
 public:
  Rows();
  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  Row operator[](std::size_t i) const;  // i < size()
  std::size_t columns() const noexcept;
  std::string_view name(std::size_t i) const;

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Row;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Row;
    iterator() = default;
    Row operator*() const { return (*rows_)[i_]; }
    iterator& operator++() {
      ++i_;
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++i_;
      return before;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.i_ == b.i_; }

   private:
    friend class Rows;
    iterator(const Rows* rows, std::size_t i) : rows_(rows), i_(i) {}
    const Rows* rows_ = nullptr;
    std::size_t i_ = 0;
  };
  iterator begin() const { return {this, 0}; }
  iterator end() const { return {this, size()}; }

 private:
  friend struct detail::SessionCore;
  friend struct detail::PreparedCore;
  explicit Rows(std::shared_ptr<const detail::ResultData> data) : data_(std::move(data)) {}
  std::shared_ptr<const detail::ResultData> data_;
};

// Rows read one at a time from the server: memory stays flat whatever the
// result's size. An input range, walked once. Until it is finished (walked
// to its end) or destroyed, its session refuses other statements
// (kErrStreamOpen); destroying it early reads and drops the rest.
class VELTRO_API Stream {
 public:
  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;
  ~Stream();
  std::size_t columns() const noexcept;
  std::string_view name(std::size_t i) const;

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = Row;
    using difference_type = std::ptrdiff_t;
    using pointer = const Row*;
    using reference = const Row&;
    iterator() = default;
    const Row& operator*() const;
    const Row* operator->() const { return &**this; }
    // Reads the next row; SqlError when the server fails part way.
    iterator& operator++();
    void operator++(int) { ++*this; }
    friend bool operator==(const iterator& it, std::default_sentinel_t) { return it.atEnd(); }

   private:
    friend class Stream;
    explicit iterator(detail::StreamState* state) : state_(state) {}
    bool atEnd() const;
    detail::StreamState* state_ = nullptr;
  };
  // The first row is read here; begin() is called once.
  iterator begin();
  std::default_sentinel_t end() const noexcept { return {}; }

 private:
  friend struct detail::SessionCore;
  explicit Stream(std::unique_ptr<detail::StreamState> state);
  std::unique_ptr<detail::StreamState> state_;
};

// A statement prepared on the server: arguments bound in the binary protocol,
// never pasted into SQL. Closed on the server when destroyed. Holds its
// session's connection.
class VELTRO_API Statement {
 public:
  Statement(Statement&&) noexcept;
  Statement& operator=(Statement&&) noexcept;
  ~Statement();
  // Its ? placeholders.
  std::size_t parameters() const noexcept;
  // Runs it with one argument per placeholder (kErrPlaceholders otherwise);
  // a result it returns is dropped.
  template <class... A>
  Outcome execute(const A&... args) {
    const detail::Param params[] = {detail::toParam(args)..., detail::Param{}};
    return executeParams(params, sizeof...(A));
  }
  // Runs it and returns its (first) result whole.
  template <class... A>
  Rows query(const A&... args) {
    const detail::Param params[] = {detail::toParam(args)..., detail::Param{}};
    return queryParams(params, sizeof...(A));
  }
  // Runs it once per element of rows: a range of tuples (std::tuple,
  // std::pair, std::array) holding one argument per placeholder
  // (kErrPlaceholders otherwise; std::nullopt or an empty optional is
  // NULL), or, with map, of anything map turns into one (std::tie of a
  // struct's members copies nothing). On a MariaDB server the rows go by
  // array binding, a batch of them a round trip; elsewhere (the embedded
  // server, MySQL) an INSERT ... VALUES (?, ...) goes as multi-row INSERTs
  // written by the literal writer, and any other statement a row at a time.
  // Batches stay under the server's max_allowed_packet. Returns the rows
  // changed and the first AUTO_INCREMENT value given. A failing row is a
  // BulkError naming it and what stays applied; a lost connection is
  // UnknownOutcome (the batch under way may or may not be applied).
  template <std::ranges::input_range R>
  Outcome executeMany(const R& rows) {
    using Tuple = std::remove_cvref_t<std::ranges::range_reference_t<const R>>;
    if constexpr (std::ranges::random_access_range<const R> && std::ranges::sized_range<const R>) {
      return executeRows(static_cast<std::size_t>(std::ranges::size(rows)), std::tuple_size_v<Tuple>,
                         &detail::fillRow<R>, &rows);
    } else {
      std::vector<Tuple> copy;
      for (const auto& r : rows) copy.push_back(r);
      return executeMany(copy);
    }
  }
  template <std::ranges::input_range R, class Map>
  Outcome executeMany(const R& rows, Map map) {
    using Tuple = std::remove_cvref_t<std::invoke_result_t<Map&, std::ranges::range_reference_t<const R>>>;
    std::vector<Tuple> mapped;
    if constexpr (std::ranges::sized_range<const R>) mapped.reserve(static_cast<std::size_t>(std::ranges::size(rows)));
    for (const auto& r : rows) mapped.push_back(map(r));
    return executeMany(mapped);
  }

 private:
  friend class Session;
  explicit Statement(std::unique_ptr<detail::PreparedCore> core);
  Outcome executeRows(std::size_t rows, std::size_t width, detail::RowFill fill, const void* range);
  Outcome executeParams(const detail::Param* params, std::size_t count);
  Rows queryParams(const detail::Param* params, std::size_t count);
  std::unique_ptr<detail::PreparedCore> core_;
};

class VELTRO_API Session {
 public:
  // Connects (the first ready host of a host list); SqlError when it cannot.
  static Session open(const Settings& settings);
  // Starts the embedded server on datadir (once per process; an empty
  // directory will do) and connects to it, to database when one is named.
  static Session embedded(const std::string& datadir, const std::string& database = {});

  Session(Session&&) noexcept;
  Session& operator=(Session&&) noexcept;
  // Closes a connection of its own; a lent one stays with its server object.
  ~Session();

  // Runs a statement, each ? filled with the next argument: bool, integers,
  // float, double, texts (std::string, std::string_view, const char*: a null one is NULL),
  // Number, year_month_day, sys_time, durations (TIME), std::optional of
  // those, and std::nullopt or nullptr for NULL. Result sets it returns are
  // dropped (a CALL's too).
  template <class... A>
  Outcome execute(std::string_view sql, const A&... args) {
    const detail::Param params[] = {detail::toParam(args)..., detail::Param{}};
    return executeParams(sql, params, sizeof...(A));
  }
  // Runs a statement and returns its (first) result set whole.
  template <class... A>
  Rows query(std::string_view sql, const A&... args) {
    const detail::Param params[] = {detail::toParam(args)..., detail::Param{}};
    return queryParams(sql, params, sizeof...(A));
  }
  // Runs a statement and reads its rows as they come.
  template <class... A>
  Stream stream(std::string_view sql, const A&... args) {
    const detail::Param params[] = {detail::toParam(args)..., detail::Param{}};
    return streamParams(sql, params, sizeof...(A));
  }
  // The first field of the first row as T (see Row::get); with no row,
  // std::nullopt for an optional T, else SqlError kErrNoRow.
  template <class T, class... A>
  T value(std::string_view sql, const A&... args) {
    Rows rows = query(sql, args...);
    if (rows.empty()) {
      if constexpr (detail::IsOptional<T>::value)
        return std::nullopt;
      else
        noRow();
    }
    return rows[0].template get<T>(0);
  }
  // Prepares a statement on the server; SqlError when the server refuses it.
  Statement prepare(std::string_view sql);

  // Whether the connection answers (a lost one is replaced, as statements
  // do); false when it cannot be, SqlError when a stream is open.
  bool ping();

  // Runs fn(*this) inside a transaction, commits, and returns what fn
  // returns. A run that certainly did not commit (a deadlock 1213, a lock
  // wait timeout 1205, the connection lost before COMMIT, 1047 from a
  // cluster node) is rolled back and run again from the start, up to reruns
  // more times, after a short pause or on a new connection (a host list's
  // next ready host): fn may run more than once, and must not commit by
  // itself. Anything else fn throws rolls back and is thrown on; a COMMIT
  // whose answer was lost is UnknownOutcome and never run again. Refused
  // (kErrNestedTransaction) inside a transaction.
  template <class F>
  std::invoke_result_t<F&, Session&> transact(F&& fn, unsigned reruns = 3) {
    using R = std::invoke_result_t<F&, Session&>;
    static_assert(!std::is_reference_v<R>, "transact returns a value, not a reference");
    if constexpr (std::is_void_v<R>) {
      auto body = [&] { fn(*this); };
      runTransaction(reruns, &detail::callBody<decltype(body)>, &body);
    } else {
      std::optional<R> out;
      auto body = [&] { out.emplace(fn(*this)); };
      runTransaction(reruns, &detail::callBody<decltype(body)>, &body);
      return std::move(*out);
    }
  }

 private:
  friend class TQuillonSrv;
  friend class Transaction;
  friend class Lease;
  friend struct detail::PoolCore;
  explicit Session(std::shared_ptr<detail::SessionCore> core);
  void runTransaction(unsigned reruns, void (*body)(void*), void* context);
  Outcome executeParams(std::string_view sql, const detail::Param* params, std::size_t count);
  Rows queryParams(std::string_view sql, const detail::Param* params, std::size_t count);
  Stream streamParams(std::string_view sql, const detail::Param* params, std::size_t count);
  [[noreturn]] static void noRow();
  std::shared_ptr<detail::SessionCore> core_;
};

// A transaction on a session: BEGIN when made, COMMIT by commit(), and a
// ROLLBACK when it is destroyed without either (also while an exception
// unwinds). Used by one thread, as its session is.
//
//   veltro::Transaction tx(session);
//   session.execute("UPDATE accounts SET balance = balance - ? WHERE id = ?", 10, 1);
//   session.execute("UPDATE accounts SET balance = balance + ? WHERE id = ?", 10, 2);
//   tx.commit();
class VELTRO_API Transaction {
 public:
  // Begins; SqlError kErrNestedTransaction when the session has a
  // transaction open (nothing sent), or the server's refusal.
  explicit Transaction(Session& session);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // Rolls back when still open, dropping first a stream of the session that
  // is not finished; never throws (a failed rollback leaves the connection
  // to end the transaction: the server rolls back one whose connection goes).
  ~Transaction();
  // Commits. The server's refusal is SqlError (the transaction is then over,
  // rolled back); a connection lost with the COMMIT sent is UnknownOutcome
  // (it may have committed); kErrTransactionEnded when already ended.
  void commit();
  // Rolls back; kErrTransactionEnded when already ended.
  void rollback();
  // Whether it is open: neither committed nor rolled back.
  bool active() const noexcept { return active_; }

 private:
  std::shared_ptr<detail::SessionCore> core_;
  bool active_ = false;
};

// What a pool holds and has done so far.
struct PoolStats {
  std::size_t size = 0;        // the most connections it holds
  std::size_t open = 0;        // connections open now, lent or idle
  std::size_t inUse = 0;       // connections lent now
  std::uint64_t waits = 0;     // acquires that found no connection free and waited
  std::uint64_t timeouts = 0;  // waits that ended without one (kErrPoolTimeout)
  std::uint64_t replaced = 0;  // broken connections closed, to be replaced by new ones
};

class Lease;

// Connections with one set of settings, shared by threads: acquire() lends
// one as a Lease, which gives it back when destroyed. All members are safe
// to call from any thread; each lease is used by one thread at a time.
//
//   veltro::Pool pool(settings, 4);
//   veltro::Lease db = pool.acquire(std::chrono::seconds(2));
//   db->execute("UPDATE stock SET n = n - 1 WHERE id = ?", id);
class VELTRO_API Pool {
 public:
  // Up to size connections (at least one), opened when first needed with
  // settings (a host list fails over as a session's does). A connection
  // idle for longer than idleCheck is pinged before it is lent.
  Pool(const Settings& settings, std::size_t size,
       std::chrono::milliseconds idleCheck = std::chrono::seconds(30));
  // Closes the idle connections; those lent out close when their leases end.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  // A connection of the pool, waiting up to timeout for one to come free:
  // SqlError kErrPoolTimeout when none does, or the connect's error when a
  // new one cannot be opened.
  Lease acquire(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Its size and counts (a consistent snapshot).
  PoolStats stats() const;

 private:
  std::shared_ptr<detail::PoolCore> core_;
};

// A connection lent by a Pool, used as a Session: lease->execute(...),
// Transaction tx(*lease). When destroyed (or assigned over) it goes back
// clean: a stream not finished is dropped, an open transaction rolled back,
// and, once any statement ran that may leave state in the session (all but
// SELECT, INSERT, UPDATE, DELETE, REPLACE and a transaction's own, naming
// no @ variable; prepare() too), the session is reset (mysql_reset_connection:
// variables, temporary tables, locks, server-side statements) and the
// settings' character set and database set again. (A stored function that
// changes session variables from a SELECT is not seen.) Statements and
// streams made through it must not outlive it. A connection found broken is
// closed, and a new one opened when next needed.
class VELTRO_API Lease {
 public:
  Lease(Lease&& other) noexcept;
  Lease& operator=(Lease&& other) noexcept;
  ~Lease();
  Session& operator*() noexcept { return session_; }
  Session* operator->() noexcept { return &session_; }

 private:
  friend struct detail::PoolCore;
  Lease(std::shared_ptr<detail::PoolCore> pool, Session session);
  void giveBack() noexcept;
  std::shared_ptr<detail::PoolCore> pool_;
  Session session_;
};

// --- How values are converted (details behind the classes above) --------------

namespace detail {

template <class T>
struct IsSysTime : std::false_type {};
template <class D>
struct IsSysTime<std::chrono::sys_time<D>> : std::true_type {};
template <class T>
struct IsDuration : std::false_type {};
template <class R, class P>
struct IsDuration<std::chrono::duration<R, P>> : std::true_type {};

template <class T>
Param toParam(const T& v) {
  using std::chrono::microseconds;
  Param p;
  if constexpr (std::is_same_v<T, std::nullopt_t> || std::is_same_v<T, std::nullptr_t>) {
  } else if constexpr (IsOptional<T>::value) {
    if (v) p = toParam(*v);
  } else if constexpr (std::is_same_v<T, bool>) {
    p.kind = Param::Kind::Int;
    p.i = v ? 1 : 0;
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    p.kind = Param::Kind::Int;
    p.i = v;
  } else if constexpr (std::is_integral_v<T>) {
    p.kind = Param::Kind::UInt;
    p.u = v;
  } else if constexpr (std::is_same_v<T, float>) {
    p.kind = Param::Kind::Float;
    p.d = v;
  } else if constexpr (std::is_same_v<T, double>) {
    p.kind = Param::Kind::Double;
    p.d = v;
  } else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
    if (v) {  // a null pointer is NULL
      p.kind = Param::Kind::Text;
      p.text = std::string_view(v);
    }
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    p.kind = Param::Kind::Text;
    p.text = std::string_view(v);
  } else if constexpr (std::is_same_v<T, Number>) {
    p.kind = Param::Kind::Decimal;
    p.number = &v;
  } else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) {
    p.kind = Param::Kind::Date;
    p.i = std::chrono::sys_days(v).time_since_epoch().count();
  } else if constexpr (IsSysTime<T>::value) {
    static_assert(std::is_convertible_v<typename T::duration, microseconds>, "a time point finer than microseconds");
    p.kind = Param::Kind::DateTime;
    p.i = microseconds(v.time_since_epoch()).count();
  } else if constexpr (IsDuration<T>::value) {
    static_assert(std::is_convertible_v<T, microseconds>, "a duration finer than microseconds");
    p.kind = Param::Kind::Time;
    p.i = microseconds(v).count();
  } else {
    static_assert(sizeof(T) == 0, "not a type the library writes");
  }
  return p;
}

}  // namespace detail

// The conversion that get<T> takes for each T.
template <class T>
T Row::read(const detail::Cell& c) {
  if constexpr (std::is_same_v<T, bool>) {
    return readBool(c);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return static_cast<T>(readInt(c, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(readUInt(c, std::numeric_limits<T>::max()));
  } else if constexpr (std::is_same_v<T, float>) {
    return readFloat(c);
  } else if constexpr (std::is_same_v<T, double>) {
    return readDouble(c);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return std::string(c.data, c.size);
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    return c.text();
  } else if constexpr (std::is_same_v<T, Number>) {
    return readNumber(c);
  } else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) {
    return readDate(c);
  } else if constexpr (std::is_same_v<T, std::chrono::sys_time<std::chrono::microseconds>>) {
    return readDateTime(c);
  } else if constexpr (std::is_same_v<T, std::chrono::microseconds>) {
    return readTime(c);
  } else {
    static_assert(sizeof(T) == 0, "not a type the library reads");
  }
}

}  // namespace veltro
