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
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

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
};

// An error of a statement or of the session; what() is the message.
class SqlError : public std::runtime_error {
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
class UnknownOutcome : public SqlError {
 public:
  using SqlError::SqlError;
};

// A value read into a type that cannot hold it (out of range, not a number,
// NULL into a non-optional): number kErrConversion or kErrNullValue.
class ConversionError : public SqlError {
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

// How arguments and fields are converted: at the end of this header.
template <class T>
Param toParam(const T& v);
template <class T>
T read(const Cell& c);
[[noreturn]] void throwNull(const Cell& c);

}  // namespace detail

// One row of a result: valid while its Rows lives, or, in a stream, until
// the stream moves to the next row.
class Row {
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
      return detail::read<typename T::value_type>(c);
    } else {
      if (!c.data) detail::throwNull(c);
      return detail::read<T>(c);
    }
  }
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
class Rows {
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
class Stream {
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
class Statement {
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

 private:
  friend class Session;
  explicit Statement(std::unique_ptr<detail::PreparedCore> core);
  Outcome executeParams(const detail::Param* params, std::size_t count);
  Rows queryParams(const detail::Param* params, std::size_t count);
  std::unique_ptr<detail::PreparedCore> core_;
};

class Session {
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

 private:
  friend class TQuillonSrv;
  explicit Session(std::shared_ptr<detail::SessionCore> core);
  Outcome executeParams(std::string_view sql, const detail::Param* params, std::size_t count);
  Rows queryParams(std::string_view sql, const detail::Param* params, std::size_t count);
  Stream streamParams(std::string_view sql, const detail::Param* params, std::size_t count);
  [[noreturn]] static void noRow();
  std::shared_ptr<detail::SessionCore> core_;
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

// Conversions of a field that is not NULL; each throws ConversionError for a
// value that does not fit.
bool readBool(const Cell& c);
std::int64_t readInt(const Cell& c, std::int64_t min, std::int64_t max);
std::uint64_t readUInt(const Cell& c, std::uint64_t max);
float readFloat(const Cell& c);
double readDouble(const Cell& c);
Number readNumber(const Cell& c);
std::chrono::year_month_day readDate(const Cell& c);
std::chrono::sys_time<std::chrono::microseconds> readDateTime(const Cell& c);
std::chrono::microseconds readTime(const Cell& c);

template <class T>
T read(const Cell& c) {
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

}  // namespace detail

}  // namespace veltro
