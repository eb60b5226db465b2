// A dump's statements against the server's packet: every INSERT line within
// the bound, measured in the file; long binary values written at about their
// own size and loaded by Restore and the stock client on a 16 MB server; a row
// that no statement the server takes can hold fails the backup and keeps the
// old file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "server_support.h"
#include "veltro/sqltext.h"

namespace veltro {
namespace {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;
namespace fs = std::filesystem;

constexpr const char* kDb = "vtb_lim";
constexpr std::size_t kMiB = 1 << 20;

// Sets the server's max_allowed_packet for new connections and puts the old
// value back when it goes out of scope, whether the test passed or not.
class GlobalPacket {
 public:
  explicit GlobalPacket(std::size_t bytes) : saved_(side_.scalar("SELECT @@GLOBAL.max_allowed_packet")) {
    side_.exec("SET GLOBAL max_allowed_packet = " + std::to_string(bytes));
  }
  ~GlobalPacket() { side_.exec("SET GLOBAL max_allowed_packet = " + saved_); }
  GlobalPacket(const GlobalPacket&) = delete;
  GlobalPacket& operator=(const GlobalPacket&) = delete;

 private:
  SideConnection side_;
  std::string saved_;
};

// Random bytes that hold every byte a quoted literal must escape or that
// would break a line.
std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  const char special[] = {'\0', '\n', '\r', '\'', '\\', '\x1A'};
  for (std::size_t i = 0; i < sizeof special && i < size; ++i) out[i * size / sizeof special] = special[i];
  return out;
}

std::string hexOf(const std::string& bytes) {
  if (bytes.empty()) return "''";
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The INSERT lines of a dump file, without their CR LF.
std::vector<std::string> insertLines(const std::string& file) {
  const std::string text = testing::readAll(file);
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, 12, "INSERT INTO ") == 0) out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  return out;
}

// The text a row (id, v) of plain characters takes in an INSERT statement.
std::size_t rowBytes(int id, std::size_t valueSize) { return std::to_string(id).size() + valueSize + 5; }

class DumpLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    side.exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    side.exec(std::string("CREATE DATABASE ") + kDb);
    connect();
    dir = testing::makeTempDir("limits");
  }
  void TearDown() override {
    if (server) server->End();
    side.exec(std::string("DROP DATABASE IF EXISTS ") + kDb);
    fs::remove_all(dir);
  }

  // A new server object, which takes the server's global packet size as it is now.
  void connect() {
    if (server) server->End();
    rec.calls->clear();
    server = testing::connectServer(rec.block(), kDb);
    ASSERT_FALSE(server->lError.asBool());
    // Megabytes of values stay out of the general log that other tests scan.
    ASSERT_TRUE(server->SqlQuery("SET SESSION sql_log_off = 1"));
  }

  // A table t (id, v) of the given column type holding values, ids from 1.
  void makeTable(const std::string& type, const std::vector<std::string>& values) {
    side.exec("DROP TABLE IF EXISTS vtb_lim.t");
    side.exec("CREATE TABLE vtb_lim.t (id int PRIMARY KEY, v " + type + ")");
    // In pieces, so that no statement of the set-up is near the packet.
    constexpr std::size_t kPiece = 4 * kMiB;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string id = std::to_string(i + 1);
      side.exec("INSERT INTO vtb_lim.t VALUES (" + id + ", " + hexOf(values[i].substr(0, kPiece)) + ")");
      for (std::size_t at = kPiece; at < values[i].size(); at += kPiece)
        side.exec("UPDATE vtb_lim.t SET v = CONCAT(v, " + hexOf(values[i].substr(at, kPiece)) + ") WHERE id = " + id);
    }
  }

  // Every stored byte of t: its checksum and, per row, the HEX() of each
  // column (a digest and the length for values too long for HEX()).
  std::vector<std::string> contents() {
    std::vector<std::string> out;
    for (auto& r : side.rows("SELECT CONCAT(id, '|', IFNULL(IF(LENGTH(v) > 65536, CONCAT('sha2 ', SHA2(v, 256), ' ', "
                             "LENGTH(v)), HEX(v)), 'NULL')) FROM vtb_lim.t ORDER BY id"))
      out.push_back(r[0]);
    out.push_back("checksum " + side.rows("CHECKSUM TABLE vtb_lim.t").at(0).at(1));
    return out;
  }

  // The server's packet for this test's server object.
  std::size_t packet() {
    std::string text;
    if (server->SqlQuery("SELECT @@max_allowed_packet")) {
      db::Handle res = db::storeResult(server->handle());
      db::RowView row;
      if (db::fetchRow(res, row)) text = std::string(row.at(0));
      db::freeResult(res);
    }
    EXPECT_FALSE(text.empty());
    return std::stoull("0" + text);
  }

  // Drops t, loads the dump with Restore, and expects every byte back.
  void restoreRoundTrip(const std::string& file, const std::vector<std::string>& before) {
    side.exec("DROP TABLE vtb_lim.t");
    EXPECT_TRUE(server->Restore(file));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
    EXPECT_EQ(contents(), before);
  }

  // Drops t, loads the dump with the stock client, and expects every byte back.
  // charset: the client's own character set, which it scans the file in.
  void stockRoundTrip(const std::string& file, const std::vector<std::string>& before,
                      const std::string& charset = "") {
    side.exec("DROP TABLE vtb_lim.t");
    const std::string load = "mariadb --no-defaults -uroot -S '" + serverEnv().socket + "' " +
                             (charset.empty() ? std::string() : "--default-character-set=" + charset + " ") + kDb +
                             " < '" + file + "' 2>'" + dir + "/stock.err'";
    EXPECT_EQ(std::system(load.c_str()), 0) << testing::readAll(dir + "/stock.err").substr(0, 300);
    EXPECT_EQ(contents(), before);
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
  std::string dir;
};

// Rows that took a statement past the bound under a rule that closed it only
// once it had reached the bound: each INSERT line of the file is at most the
// bound, with its ";", and holds as many rows as fit.
TEST_F(DumpLimits, InsertLinesStayWithinTheBound) {
  const std::size_t bound = std::min(kMiB, packet() / 2);
  const std::string prefix = "INSERT INTO `t` (`id`,`v`) VALUES ";
  // A value of plain characters whose row makes the statement `bytes` long
  // after `before` bytes of earlier rows (and their commas).
  auto fill = [&](int id, std::size_t bytes, std::size_t before) {
    return std::string(bytes - prefix.size() - before - rowBytes(id, 0) - 1, 'a');
  };
  std::vector<std::string> random100k, text100k;
  for (unsigned i = 0; i < 25; ++i) {
    random100k.push_back(randomBytes(100000, i));
    text100k.push_back(std::string(100000, static_cast<char>('a' + i)));
  }
  const std::string first = std::string(300000, 'f');
  struct Case {
    const char* what;
    std::vector<std::string> values;
    std::vector<std::size_t> lines;  // each INSERT line's length, when given
  };
  const std::vector<Case> cases = {
      {"rows of 100 KB of random bytes", random100k, {}},
      {"rows of 100 KB of text", text100k, {}},
      {"two rows that make the bound",
       {first, fill(2, bound, rowBytes(1, first.size()) + 1)},
       {bound}},
      {"two rows one byte over the bound",
       {first, fill(2, bound + 1, rowBytes(1, first.size()) + 1)},
       {prefix.size() + rowBytes(1, first.size()) + 1, bound + 1 - rowBytes(1, first.size()) - 1}},
      {"a row of the bound, then a small one",
       {fill(1, bound, 0), "b"},
       {bound, prefix.size() + rowBytes(2, 1) + 1}},
      {"a row one byte over the bound goes alone",
       {"a", fill(2, bound + 1, 0), "c"},
       {prefix.size() + rowBytes(1, 1) + 1, bound + 1, prefix.size() + rowBytes(3, 1) + 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeTable("longblob", c.values);
    const auto before = contents();
    const std::string file = dir + "/lines.sql";
    EXPECT_FALSE(server->Backup(Value::array({"t"}), file, true, true));
    ASSERT_EQ(rec.numbers(), std::vector<long long>{});
    const auto lines = insertLines(file);
    std::vector<std::size_t> sizes;
    for (const std::string& line : lines) sizes.push_back(line.size());
    if (!c.lines.empty()) {
      EXPECT_EQ(sizes, c.lines);
    } else {
      ASSERT_GE(lines.size(), 2u);
      for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_LE(sizes[i], bound) << "line " << i;
        // Full: the next row did not fit (no row is longer than 110,000 bytes).
        if (i + 1 < sizes.size()) {
          EXPECT_GT(sizes[i] + 110000, bound) << "line " << i;
        }
      }
    }
    restoreRoundTrip(file, before);
  }
}

// Long values holding bytes a quoted literal escapes go between quotes with
// backslash escapes when that is smaller than hex; a 12 MB value is written
// in about 12 MB and loads on a server whose packet is 16 MB, through Restore
// and through the stock client.
TEST_F(DumpLimits, LongValuesTakeTheSmallerForm) {
  GlobalPacket limit(16 * kMiB);
  connect();
  ASSERT_EQ(packet(), 16 * kMiB);
  const std::string quote1024 = std::string(1023, 'q') + "'";
  std::string text;
  while (text.size() < 5000) text += "it's \xc3\xb1o\r\nback\\slash\t\"";
  struct Case {
    const char* what;
    const char* type;
    std::string value;
    const char* start;  // how its literal starts
    std::size_t most;   // the largest its literal may be
  };
  const std::vector<Case> cases = {
      {"12 MB of random bytes", "longblob", randomBytes(12 * kMiB, 7), "'", 12 * kMiB * 11 / 10},
      {"a long text of quotes, line breaks and backslashes", "longtext CHARACTER SET utf8mb4", text, "'",
       text.size() * 13 / 10},
      {"1024 bytes with a quote stay hex", "blob", quote1024, "0x", 2 + 2 * 1024},
      {"1025 bytes with a quote", "blob", quote1024 + "q", "'", 1025 + 3},
      {"2 KB of NUL bytes, as long in either form, stay hex", "blob", std::string(2048, '\0'), "0x", 2 + 2 * 2048},
      {"a long value without such bytes", "blob", std::string(5000, 'z'), "'", 5002},
      // A high byte before an escape: a client scanning in gbk, big5 or sjis
      // must not take the two for one character and the quote for the end.
      {"escapes after high bytes", "blob", [] {
         std::string v;
         while (v.size() < 4000) v += std::string("\xbf\\'); DROP TABLE t; -- \x95\\\x00\xa4\r\n", 26);
         return v;
       }(), "'", 8000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeTable(c.type, {c.value});
    const auto before = contents();
    const std::string file = dir + "/long.sql";
    EXPECT_FALSE(server->Backup(Value::array({"t"}), file, true, true));
    ASSERT_EQ(rec.numbers(), std::vector<long long>{});
    const auto lines = insertLines(file);
    ASSERT_EQ(lines.size(), 1u);
    const std::string head = "INSERT INTO `t` (`id`,`v`) VALUES (1,";
    ASSERT_EQ(lines[0].compare(0, head.size(), head), 0);
    const std::string literal = lines[0].substr(head.size(), lines[0].size() - head.size() - 2);
    EXPECT_EQ(literal.substr(0, std::string(c.start).size()), c.start);
    EXPECT_LE(literal.size(), c.most);
    EXPECT_EQ(literal.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    restoreRoundTrip(file, before);
    stockRoundTrip(file, before);
    if (c.value.size() < 100000)
      for (const char* charset : {"gbk", "big5", "sjis", "cp932"}) {
        SCOPED_TRACE(charset);
        stockRoundTrip(file, before, charset);
      }
  }
}

// With the server's packet at 1 MB (bound 512 KB): a row between the bound
// and the packet goes alone and loads; one whose statement alone reaches the
// packet fails the backup (9023, naming the table), the old file stays and
// the connection goes on.
TEST_F(DumpLimits, RowsAgainstTheServersPacket) {
  GlobalPacket limit(kMiB);
  connect();
  ASSERT_EQ(packet(), kMiB);
  const std::string prefix = "INSERT INTO `t` (`id`,`v`) VALUES ";
  auto sized = [&](std::size_t statement) { return std::string(statement - prefix.size() - rowBytes(1, 0) - 1, 'p'); };
  struct Case {
    const char* what;
    std::vector<std::string> values;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"700 KB of random bytes between small rows", {"a", randomBytes(700000, 3), "b"}, true},
      {"a statement one byte under the packet", {sized(kMiB - 1)}, true},
      {"a statement of the packet's size", {sized(kMiB)}, false},
      {"600 KB of NUL bytes, 1.2 MB written", {std::string(600000, '\0')}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeTable("longblob", c.values);
    const auto before = contents();
    const std::string file = dir + "/low.sql";
    testing::writeAll(file, "a good dump");
    rec.calls->clear();
    EXPECT_FALSE(server->Backup(Value::array({"t"}), file, true, true));
    if (c.fits) {
      ASSERT_EQ(rec.numbers(), std::vector<long long>{});
      const auto lines = insertLines(file);
      EXPECT_EQ(lines.size(), c.values.size());
      for (const std::string& line : lines) EXPECT_LT(line.size(), kMiB);
      restoreRoundTrip(file, before);
    } else {
      ASSERT_EQ(rec.numbers(), std::vector<long long>{kErrDumpWrite});
      EXPECT_NE(rec.calls->at(0).extra.asString().find("table t:"), std::string::npos)
          << rec.calls->at(0).extra.asString();
      EXPECT_EQ(testing::readAll(file), "a good dump");
      EXPECT_EQ(filesIn(dir), std::vector<std::string>{"low.sql"});
      // The rest of the rows were read: the connection takes the next statement.
      EXPECT_EQ(packet(), kMiB);
      EXPECT_EQ(contents(), before);
    }
  }
}

}  // namespace
}  // namespace veltro
