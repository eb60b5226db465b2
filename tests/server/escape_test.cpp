// The binding's escaping against the client library's own, byte for byte, in
// the character sets where it takes its own path and in those where it must not.
#include <gtest/gtest.h>
#include <mysql.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_env.h"
#include "veltro/binding.h"

namespace veltro {
namespace {

using testing::serverEnv;

// Texts that stress escaping: every byte value alone, every byte after a lead
// byte of each multi-byte family, and random mixes rich in quotes and backslashes.
std::vector<std::string> samples() {
  std::vector<std::string> out;
  for (int b = 0; b < 256; ++b) out.push_back(std::string(1, static_cast<char>(b)));
  for (int lead : {0x81, 0xA1, 0xC3, 0xE2, 0xF0, 0xFE}) {
    for (int b = 0; b < 256; ++b) {
      std::string s = "x";
      s += static_cast<char>(lead);
      s += static_cast<char>(b);
      s += "'y";
      out.push_back(s);
    }
  }
  std::mt19937 rng(20261207);
  const std::string special = std::string("'\"\\\n\r\032", 6) + std::string(1, '\0');
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      const unsigned pick = rng() % 4;
      s += pick == 0 ? special[rng() % special.size()] : static_cast<char>(pick == 1 ? 'a' + rng() % 26 : rng() % 256);
    }
    if (rng() % 3 == 0) s.append(rng() % 300, ' ');  // padded
    out.push_back(s);
  }
  return out;
}

std::string reference(MYSQL* m, const std::string& text) {
  std::string out(2 * text.size() + 1, '\0');
  const unsigned long n = mysql_real_escape_string(m, out.data(), text.data(), static_cast<unsigned long>(text.size()));
  if (n == static_cast<unsigned long>(-1)) return "<refused>";
  out.resize(n);
  return out;
}

class Escape : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& env = serverEnv();
    conn = MYSQLCONNECT(env.host, env.user, env.password, static_cast<int>(env.port), Value(), env.database);
    ASSERT_GT(conn.asInt(), 0) << MYSQLERROR(conn).asString();
    raw = mysql_init(nullptr);
    ASSERT_TRUE(mysql_real_connect(raw, env.host.c_str(), env.user.c_str(), env.password.c_str(), env.database.c_str(),
                                   env.port, nullptr, 0))
        << mysql_error(raw);
  }
  void TearDown() override {
    if (conn.asInt() > 0) MYSQLCLOSE(conn);
    if (raw) mysql_close(raw);
  }
  void setNames(const char* charset) {
    const std::string sql = std::string("SET NAMES ") + charset;
    ASSERT_EQ(MYSQLQUERY(conn, sql, static_cast<int>(sql.size())).asInt(), 0) << MYSQLERROR(conn).asString();
    ASSERT_EQ(mysql_set_character_set(raw, charset), 0) << mysql_error(raw);
  }
  Value conn;
  MYSQL* raw = nullptr;
};

class EscapeCharset : public Escape, public ::testing::WithParamInterface<const char*> {};

TEST_P(EscapeCharset, SameBytesAsTheClientLibrary) {
  setNames(GetParam());
  int checked = 0;
  for (const std::string& text : samples()) {
    const std::string want = reference(raw, text);
    if (want == "<refused>") continue;  // a text the character set cannot carry
    ASSERT_EQ(MYSQLESCAPE(text, conn).asString(), want) << GetParam() << " text of " << text.size() << " bytes";
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

INSTANTIATE_TEST_SUITE_P(CharacterSets, EscapeCharset,
                         ::testing::Values("utf8mb4", "utf8mb3", "latin1", "binary", "big5", "sjis", "gbk", "cp932",
                                           "euckr", "ujis", "gb2312", "koi8r"));

TEST_F(Escape, NoBackslashEscapesDoublesQuotes) {
  setNames("utf8mb4");
  const char* mode = "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'";
  ASSERT_EQ(MYSQLQUERY(conn, mode, static_cast<int>(std::strlen(mode))).asInt(), 0);
  ASSERT_EQ(mysql_query(raw, mode), 0);
  for (const std::string& text : samples()) ASSERT_EQ(MYSQLESCAPE(text, conn).asString(), reference(raw, text));
}

TEST(EscapeWithoutConnection, SameBytesAsTheClientLibrary) {
  mysql_library_init(0, nullptr, nullptr);  // the client library's character sets, before any connection
  for (const std::string& text : samples()) {
    std::string want(2 * text.size() + 1, '\0');
    want.resize(mysql_escape_string(want.data(), text.data(), static_cast<unsigned long>(text.size())));
    ASSERT_EQ(VAL2ESCAPE(text).asString(), want) << "text of " << text.size() << " bytes";
  }
}

}  // namespace
}  // namespace veltro
