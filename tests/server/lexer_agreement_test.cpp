// The lexer against the server's own: generated SELECT lists whose items hide
// commas in literals, backquoted aliases, comments and parentheses, with
// multi-byte characters whose second byte is a backslash or a backquote. For
// every statement the server runs, the columns it returns are one more than the
// commas the lexer finds outside literals, names, comments and parentheses.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hostile_fixture.h"
#include "sql_dialect.h"
#include "sql_lexer.h"

namespace veltro {
namespace {

using hostile::Mode;
using hostile::modes;
using hostile::shown;

// Columns of a SELECT list as the lexer reads it.
unsigned lexerColumns(const std::string& sql, sql::Dialect d) {
  unsigned commas = 0;
  int depth = 0;
  sql::Lexer lex(sql, d);
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (t.kind != sql::Tok::Punct) continue;
    const char c = sql[t.begin];
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth == 0) ++commas;
  }
  return commas + 1;
}

// Statements of one mode, from a fixed seed so that a failure repeats.
class Generator {
 public:
  explicit Generator(const Mode& mode) : lead_(mode.lead), rng_(0x5eed) {}

  std::string statement() {
    std::string sql = "SELECT " + item(0);
    const int more = static_cast<int>(pick(6));
    for (int i = 0; i < more; ++i) {
      sql += separator();
      sql += item(0);
    }
    if (pick(5) == 0) sql += pick(2) ? " -- end, 'x" : " # end, `x";
    return sql;
  }

 private:
  std::size_t pick(std::size_t n) { return rng_() % n; }

  // A character with a backslash or a backquote as its second byte; under
  // UTF-8 the same bytes are no character, or a real two- or three-byte one.
  std::string wide(bool inName) {
    if (lead_ == 0) {
      if (!inName && pick(4) == 0) return "\x95\\";
      return pick(2) ? "\xc3\xa9" : "\xe2\x82\xac";
    }
    static constexpr char kTrails[] = {'\\', '`', 'A'};
    return std::string{lead_, kTrails[pick(3)]};
  }

  std::string literal() {
    const char q = pick(4) ? '\'' : '"';
    std::string s(1, q);
    const int pieces = static_cast<int>(pick(5));
    for (int i = 0; i < pieces; ++i) {
      switch (pick(16)) {
        case 0: s += ","; break;
        case 1: s += ", "; break;
        case 2: s += std::string(2, q); break;
        case 3: s += q == '\'' ? "\"" : "'"; break;
        case 4: s += "\\\\"; break;
        case 5: s += "\\n"; break;
        case 6: s += pick(3) ? "(" : ")"; break;
        case 7: s += "-- "; break;
        case 8: s += "#"; break;
        case 9: s += pick(2) ? "/*" : "*/"; break;
        case 10: s += "`"; break;
        case 11: case 12: s += wide(false); break;
        case 13: if (pick(3) == 0) s += std::string("\\") + q; break;  // ends it early without escapes
        default: s += "ab"; break;
      }
    }
    return s + q;
  }

  std::string alias() {
    if (lead_ != 0 && pick(3) == 0) return " AS a" + wide(true);
    std::string s = pick(2) ? " AS `a" : " `a";
    const int pieces = static_cast<int>(pick(4));
    for (int i = 0; i < pieces; ++i) {
      switch (pick(10)) {
        case 0: s += ","; break;
        case 1: s += "``"; break;
        case 2: s += "\\"; break;  // no escape inside a name
        case 3: s += pick(2) ? "'" : "\""; break;
        case 4: s += "("; break;
        case 5: s += "#"; break;
        case 6: s += "-- x"; break;
        case 7: s += "/*"; break;
        default: s += wide(true); break;
      }
    }
    return s + "`";
  }

  std::string comment() {
    switch (pick(5)) {
      case 0: return " /* a, 'b */ ";
      case 1: return " /* `c, \"d ( */";
      case 2: return " # e, 'f\n";
      case 3: return " -- g, (h\n";
      default: return "/*!40101 /* i, */ */";
    }
  }

  std::string separator() {
    switch (pick(5)) {
      case 0: return ",";
      case 1: return comment() + ",";
      case 2: return "," + comment();
      default: return ", ";
    }
  }

  // Parts are drawn one statement at a time: the order of the operands of +
  // is the compiler's, and the statements must not depend on it.
  std::string item(int depth) {
    std::string s;
    switch (pick(depth < 2 ? 9 : 5)) {
      case 0: s = pick(2) ? "1--1" : "-2.5"; break;  // "--1" is no comment
      case 1: case 2: s = literal(); break;
      case 3: s = literal(); s += " "; s += literal(); break;  // adjacent literals are one
      case 4: s = "0x41"; break;
      case 5: s = "CONCAT(" + item(depth + 1); s += ", "; s += item(depth + 1); s += ")"; break;
      case 6: s = "(" + item(depth + 1) + ")"; break;
      case 7: s = "IF(1," + comment(); s += item(depth + 1); s += ", 2)"; break;
      default: s = "CONCAT(" + literal(); s += ", ("; s += item(depth + 1); s += "))"; break;
    }
    if (depth > 0) return s;
    if (pick(3) == 0) s += alias();
    // Versioned comments hold code: one column more.
    if (pick(8) == 0) s += pick(2) ? " /*!40101 , 7 */" : " /*M!100100 , 'v,w' */";
    return s;
  }

  char lead_;
  std::mt19937 rng_;
};

class LexerAgreement : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    server = testing::connectServer(rec.block());
    ASSERT_FALSE(server->lError.asBool());
    ASSERT_TRUE(server->SqlQuery("SET SESSION sql_log_off = 1"));
    for (const std::string& sql : GetParam().setup) ASSERT_TRUE(server->SqlQuery(sql)) << sql;
  }
  void TearDown() override {
    if (server) server->End();
  }

  testing::Recorder rec;
  ServerPtr server;
};

TEST_P(LexerAgreement, ColumnsCountedAlike) {
  const Mode& mode = GetParam();
  const db::Handle conn = server->handle();
  const sql::Dialect d = sql::dialectOf(conn);
  ASSERT_EQ(d.charset, sql::charsetNamed(mode.charset));
  ASSERT_EQ(d.backslashEscapes, std::string(mode.name).find("no_backslash") == std::string::npos);

  Generator gen(mode);
  const int total = 300;
  int accepted = 0;
  for (int i = 0; i < total; ++i) {
    const std::string sql = gen.statement();
    if (db::query(conn, sql.data(), sql.size()) != 0) continue;
    const unsigned columns = db::fieldCount(conn);
    db::freeResult(db::storeResult(conn));
    ++accepted;
    EXPECT_EQ(lexerColumns(sql, d), columns) << shown(sql) << "\n" << ::testing::PrintToString(sql);
  }
  // Most statements must run, or the agreement is checked on too few.
  EXPECT_GE(accepted * 100, total * 80) << accepted << " of " << total << " accepted";
}

INSTANTIATE_TEST_SUITE_P(Modes, LexerAgreement, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// The server skips a versioned comment newer than itself or numbered as MySQL
// 5.7 and later (50700-99999 without M), reads fewer than five digits after
// /*! as code, and latin1 (and its like) reads 0xA0 as a blank.
TEST(LexerAgreementKnown, CommentsTheServerSkips) {
  struct Case {
    const char* setup;
    std::string sql;
  };
  const Case cases[] = {
      {"SET NAMES utf8mb4", "SELECT 1 /*!99999 , 2 */"},
      {"SET NAMES utf8mb4", "SELECT 1 /*!50700 , 2 */"},
      {"SET NAMES utf8mb4", "SELECT 1 /*M!999999 , 2 */"},
      {"SET NAMES utf8mb4", "SELECT 1 /*!99999 ' */, 2 -- '"},
      {"SET NAMES latin1", "SELECT 1 --\xa0, 2"},
      {"SET NAMES latin1", "SELECT 1,\xa0" "2"},
      {"SET NAMES cp866", "SELECT 1 --\xff, 2"},
      {"SET NAMES utf8mb4", "SELECT 1, /*!1234 */"},
      {"SET NAMES utf8mb4", "SELECT 1 /*!100000 , 2 */"},
      {"SET NAMES utf8mb4", "SELECT 1 /*M!100000 , 2 */"},
  };
  testing::Recorder rec;
  ServerPtr server = testing::connectServer(rec.block());
  ASSERT_FALSE(server->lError.asBool());
  const db::Handle conn = server->handle();
  for (const Case& c : cases) {
    ASSERT_TRUE(server->SqlQuery(c.setup));
    ASSERT_EQ(db::query(conn, c.sql.data(), c.sql.size()), 0) << shown(c.sql) << ": " << db::error(conn);
    const unsigned columns = db::fieldCount(conn);
    db::freeResult(db::storeResult(conn));
    EXPECT_EQ(lexerColumns(c.sql, sql::dialectOf(conn)), columns) << shown(c.sql);
  }
  server->End();
}

}  // namespace
}  // namespace veltro
