// The hostile-input fixture shared by the suites that feed hostile texts and
// names through the library: the texts, the session modes (backslash escapes
// off; multi-byte character sets set with the server's session tracking on
// and off) and a database with a canary table and a bystander row.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "server_support.h"
#include "veltro/query.h"
#include "veltro/server.h"

namespace veltro::hostile {

using testing::Recorder;
using testing::serverEnv;
using testing::SideConnection;

inline std::string bytes(const char* text, std::size_t n) { return std::string(text, n); }

// Texts meant to end their literal early or to confuse the escaping. None has
// blanks at its ends, since texts are trimmed on their way into SQL.
// bigSize: the size of the one long text (every statement of it lands in the
// server's general log, so only one mode uses the full megabyte).
inline std::vector<std::string> hostileTexts(std::size_t bigSize) {
  std::vector<std::string> texts = {
      "x'; DROP TABLE canary; --",
      "x\\'; DROP TABLE canary; --",
      "\\",
      "a\\",
      "\\'",
      "''",
      "' OR '1'='1",
      "\" OR \"1\"=\"1",
      "x`; DROP TABLE canary; --",
      bytes("a\0b'\0", 5),
      bytes("\0", 1),
      "\x1a'\r\n\\n",
      "\xc0' OR 1=1 -- x",    // an overlong lead byte before a quote
      "\xbf' OR 1=1 -- x",    // a lone continuation byte (the GBK-style trick)
      "\xe4\xb8' OR 1=1 -- x",  // a three-byte sequence cut by the quote
      "\xff\xfe\\'x",
      "\xa1' OR 1=1 -- x",   // a big5 lead byte before a quote
      "\x81' OR 1=1 -- x",   // an sjis lead byte before a quote
      "\x95\\' OR 1=1 -- x",  // a lead byte before a backslash and a quote
      "\xbf\\",             // a lead byte before a final backslash
      "x', 1) ON DUPLICATE KEY UPDATE s=0x50574E4544 #",
  };
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  texts.push_back("<" + all + ">");
  std::string big;
  big.reserve(bigSize);
  for (std::size_t i = 0; big.size() < bigSize; ++i) big += "'\\\"" + std::string(1, static_cast<char>(i % 251 + 1));
  texts.push_back("<" + big + ">");
  return texts;
}

// A readable name of a text for failure messages.
inline std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text.substr(0, 40)) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return text.size() > 40 ? out + "... (" + std::to_string(text.size()) + " bytes)" : out;
}

// A session mode of the server object under test: statements that set it up.
struct Mode {
  const char* name;
  std::vector<std::string> setup;
  const char* charset;  // what the session's character_set_client must then be
  // A lead byte of the set whose characters take 0x5C (backslash), 0x60
  // (backquote) and ASCII letters as their second byte; 0 for UTF-8, where
  // such a byte is no character at all.
  char lead;
};

inline const std::vector<Mode>& modes() {
  static const std::vector<Mode> all = {
      {"plain", {}, "utf8mb4", 0},
      {"no_backslash_escapes", {"SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"}, "utf8mb4", 0},
      {"gbk", {"SET NAMES gbk"}, "gbk", '\x95'},
      {"big5", {"SET NAMES big5"}, "big5", '\xa4'},
      {"sjis", {"SET NAMES sjis"}, "sjis", '\x95'},
      {"cp932", {"SET NAMES cp932"}, "cp932", '\x95'},
      // Without session tracking the client library is not told of the change.
      {"gbk_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES gbk"}, "gbk", '\x95'},
      {"big5_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES big5"}, "big5", '\xa4'},
      {"sjis_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES sjis"}, "sjis", '\x95'},
      {"cp932_untracked", {"SET SESSION session_track_system_variables = ''", "SET NAMES cp932"}, "cp932", '\x95'},
      {"gbk_no_backslash_escapes",
       {"SET SESSION session_track_system_variables = ''", "SET NAMES gbk",
        "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"},
       "gbk", '\x95'},
  };
  return all;
}

class Hostile : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    side.exec("DROP DATABASE IF EXISTS vtb_hostile");
    side.exec("CREATE DATABASE vtb_hostile");
    side.exec("CREATE TABLE vtb_hostile.canary (id int)");
    side.exec("INSERT INTO vtb_hostile.canary VALUES (1)");
    // Binary columns keep any byte; s is a memo, v a text column.
    side.exec("CREATE TABLE vtb_hostile.t (id int PRIMARY KEY, s longblob, v varbinary(255), n int)");
    side.exec("INSERT INTO vtb_hostile.t VALUES (99, 'keep', 'keep', 0)");
    server = testing::connectServer(rec.block(), "vtb_hostile");
    ASSERT_FALSE(server->lError.asBool());
    // Megabytes of hostile texts stay out of the general log that other tests scan.
    ASSERT_TRUE(server->SqlQuery("SET SESSION sql_log_off = 1"));
    for (const std::string& sql : GetParam().setup) ASSERT_TRUE(server->SqlQuery(sql)) << sql;
    QueryPtr q = server->Query("SELECT @@character_set_client");
    ASSERT_EQ(q->FieldGet(1).asString().substr(0, std::string(GetParam().charset).size()), GetParam().charset);
    q->End();
  }
  void TearDown() override {
    if (server) server->End();
    side.exec("DROP DATABASE IF EXISTS vtb_hostile");
  }

  // Statements this connection sent: Questions counts the asking statement too.
  long long questions() {
    QueryPtr q = server->Query("SHOW SESSION STATUS LIKE 'Questions'");
    const long long n = std::stoll(std::string(trimBlanks(q->FieldGet(2).asString())));
    q->End();
    return n;
  }

  using Call = std::function<void(const Value&)>;
  // Each call with each name is refused with 9027 and sends nothing, but for
  // the listing that looks for a table or database of exactly that name.
  void expectNamesRefused(const std::vector<std::pair<const char*, Call>>& calls,
                          const std::vector<std::string>& names) {
    for (const auto& [what, call] : calls) {
      for (const std::string& name : names) {
        SCOPED_TRACE(std::string(what) + ": " + shown(name));
        const long long before = questions();
        rec.calls->clear();
        call(Value(name));
        EXPECT_EQ(rec.numbers(), std::vector<long long>{kErrNotAName});
        EXPECT_LE(questions() - before, 2) << "something was sent";
      }
    }
    rec.calls->clear();
  }

  // The canary table and the bystander row are as they were.
  void expectUntouched() {
    EXPECT_EQ(side.scalar("SELECT COUNT(*) FROM vtb_hostile.canary"), "1");
    EXPECT_EQ(side.rows("SELECT s, v, n FROM vtb_hostile.t WHERE id = 99"),
              (std::vector<std::vector<std::string>>{{"keep", "keep", "0"}}));
    EXPECT_EQ(rec.numbers(), std::vector<long long>{});
  }
  std::vector<std::string> texts() const {
    return hostileTexts(std::string(GetParam().name) == "plain" ? (1u << 20) : (16u << 10));
  }
  std::string stored(const std::string& column, int id) {
    return side.scalar("SELECT " + column + " FROM vtb_hostile.t WHERE id = " + std::to_string(id));
  }

  Recorder rec;
  SideConnection side;
  ServerPtr server;
};

}  // namespace veltro::hostile
