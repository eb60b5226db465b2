// The SQL lexer: token kinds and boundaries in each character set and
// backslash mode, the character walks of the multi-byte sets, names by
// character, password masking and the trailing line comment check.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "sql_lexer.h"
#include "sql_names.h"
#include "veltro/sqltext.h"

namespace veltro::sql {
namespace {

constexpr Dialect kUtf8{Charset::Utf8, true};
constexpr Dialect kUtf8NoEsc{Charset::Utf8, false};
constexpr Dialect kGbk{Charset::Gbk, true};
constexpr Dialect kGbkNoEsc{Charset::Gbk, false};
constexpr Dialect kBig5{Charset::Big5, true};
constexpr Dialect kSjis{Charset::Sjis, true};

// Every token as a kind letter, "!" when not closed, and its bytes in brackets.
std::string shape(std::string_view sql, Dialect d) {
  static constexpr char kLetters[] = "_WSNCVvP";  // in the order of Tok
  std::string out;
  Lexer lex(sql, d);
  std::size_t at = 0;
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next()) {
    EXPECT_EQ(t.begin, at) << "tokens leave a gap";
    at = t.end;
    out += kLetters[static_cast<int>(t.kind)];
    if (!t.closed) out += '!';
    out += '[' + std::string(t.text(sql)) + ']';
  }
  EXPECT_EQ(at, sql.size()) << "tokens stop short";
  EXPECT_EQ(lex.next().kind, Tok::End);
  return out;
}

// The code words of a text, blank-separated.
std::string codeWords(std::string_view sql, Dialect d) {
  std::string out;
  Lexer lex(sql, d);
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next())
    if (t.kind == Tok::Word) out += (out.empty() ? "" : " ") + std::string(t.text(sql));
  return out;
}

TEST(SqlLexer, TokenKindsAndBoundaries) {
  struct Case {
    std::string_view sql;
    Dialect d;
    std::string_view tokens;
  };
  const Case cases[] = {
      {"SELECT a,b", kUtf8, "W[SELECT]_[ ]W[a]P[,]W[b]"},
      {"'it''s'\"x\"", kUtf8, "S['it''s']S[\"x\"]"},
      {"'a\\'b'", kUtf8, "S['a\\'b']"},
      {"'a\\'b'", kUtf8NoEsc, "S['a\\']W[b]S![']"},
      {"`a``b`.`c\\`", kUtf8, "N[`a``b`]P[.]N[`c\\`]"},  // no escapes in names
      {"1--x", kUtf8, "W[1]P[-]P[-]W[x]"},
      {"1-- x\n2", kUtf8, "W[1]C[-- x]_[\n]W[2]"},
      {"1--\tx", kUtf8, "W[1]C[--\tx]"},
      {"1--", kUtf8, "W[1]C[--]"},
      {"#a,'b\nc", kUtf8, "C[#a,'b]_[\n]W[c]"},
      {"/* a, */b/*/", kUtf8, "C[/* a, */]W[b]C![/*/]"},
      {"a/*!40101 b,c*/d", kUtf8, "W[a]V[/*!40101]_[ ]W[b]P[,]W[c]v[*/]W[d]"},
      {"/*M!100100'*/'*/", kUtf8, "V[/*M!100100]S['*/']v[*/]"},
      {"/*!a*/", kUtf8, "V[/*!]W[a]v[*/]"},
      {"a*/b", kUtf8, "W[a]P[*]P[/]W[b]"},
      {"'ab\\", kUtf8, "S!['ab\\]"},
      {"x `ab", kUtf8, "W[x]_[ ]N![`ab]"},
      // A gbk character whose trail byte is a backslash ends nothing.
      {"'\x95\\' OR 1=1 #'", kGbk, "S['\x95\\']_[ ]W[OR]_[ ]W[1]P[=]W[1]_[ ]C[#']"},
      {"'\x95\\' OR 1=1 #'", kGbkNoEsc, "S['\x95\\']_[ ]W[OR]_[ ]W[1]P[=]W[1]_[ ]C[#']"},
      {"'\x95\\' OR 1=1 #'", kUtf8, "S['\x95\\' OR 1=1 #']"},
      {"'\x95'", kGbk, "S['\x95']"},  // a quote is never a trail byte
      {"`\xa4\x60`,1", kBig5, "N[`\xa4\x60`]P[,]W[1]"},
      {"`\xa4\x60`,1", kUtf8, "N![`\xa4``,1]"},
      {"'\x95\\',1", kSjis, "S['\x95\\']P[,]W[1]"},
      {"'\x95\\',1", kUtf8, "S!['\x95\\',1]"},
      {"'\xb1\\'x'", kSjis, "S['\xb1\\'x']"},  // half-width katakana: one byte
      {"'\xb1\\'x'", kGbk, "S['\xb1\\']W[x]S![']"},
      {"a\x95\x60" "b,c", kGbk, "W[a\x95\x60" "b]P[,]W[c]"},
      {"a\x95\x60" "b,c", kUtf8, "W[a\x95]N![`b,c]"},
      {"`\x81\x30\x81\x30\x81\x60`", {Charset::Gb18030, true}, "N[`\x81\x30\x81\x30\x81\x60`]"},
      {"'\xb0\\'", {Charset::EucKr, true}, "S!['\xb0\\']"},  // no euckr trail byte is a backslash
  };
  for (const Case& c : cases) EXPECT_EQ(shape(c.sql, c.d), c.tokens) << c.sql;
}

TEST(SqlLexer, KeywordsOnlyInCode) {
  struct Case {
    std::string_view sql;
    Dialect d;
    std::string_view words;
  };
  const Case cases[] = {
      {"SELECT 'FROM' `WHERE` /* LIMIT */ # ORDER\nx -- UNION", kUtf8, "SELECT x"},
      {"/*!40101 SET */ x", kUtf8, "SET x"},
      {"'a\\' FROM b'", kUtf8, ""},
      {"'a\\' FROM b'", kUtf8NoEsc, "FROM b"},
      {"'\x95\\' FROM t", kGbk, "FROM t"},
      {"'\x95\\' FROM t", kUtf8, ""},
      {"--DROP TABLE t", kUtf8, "DROP TABLE t"},
  };
  for (const Case& c : cases) EXPECT_EQ(codeWords(c.sql, c.d), c.words) << c.sql;

  const std::string_view sql = "  /* c */ -- x\n select 'SELECT'";
  const Token first = firstCode(sql);
  EXPECT_TRUE(isKeyword(sql, first, "SELECT"));
  EXPECT_FALSE(isKeyword(sql, first, "SEL"));
  EXPECT_EQ(firstCode("# only a comment").kind, Tok::End);
}

TEST(SqlLexer, CharacterLengths) {
  struct Case {
    Charset cs;
    std::string_view bytes;
    std::size_t length;
  };
  const Case cases[] = {
      {Charset::Utf8, "\xc3\xa9", 2},     {Charset::Utf8, "\xe2\x82\xac", 3}, {Charset::Utf8, "\xf0\x9f\x98\x80", 4},
      {Charset::Utf8, "\xc0\x80", 0},     {Charset::Utf8, "\xe0\x80\x80", 0}, {Charset::Utf8, "\xed\xa0\x80", 0},
      {Charset::Utf8, "\xf4\x90\x80\x80", 0}, {Charset::Utf8, "\xe2\x82", 0}, {Charset::Utf8, "\x80", 0},
      {Charset::Utf8, "\xc3(", 0},        {Charset::Utf8mb3, "\xf0\x9f\x98\x80", 0},
      {Charset::Utf8mb3, "\xe2\x82\xac", 3}, {Charset::Lenient, "\x80", 1}, {Charset::Lenient, "\xc3\xa9", 2},
      {Charset::Single, "\xff", 1},       {Charset::Gbk, "\x95\x5c", 2},     {Charset::Gbk, "\x95\x60", 2},
      {Charset::Gbk, "\x95\x27", 0},      {Charset::Gbk, "\x80\x40", 0},     {Charset::Gbk, "\x95\x7f", 0},
      {Charset::Gbk, "\x95\xff", 0},      {Charset::Gbk, "\x95", 0},         {Charset::Gbk, "\xfe\xfe", 2},
      {Charset::Big5, "\xa4\x5c", 2},     {Charset::Big5, "\xa0\x5c", 0},    {Charset::Big5, "\xa4\x80", 0},
      {Charset::Big5, "\xf9\xfe", 2},     {Charset::Big5, "\xfa\x40", 0},    {Charset::Sjis, "\x95\x5c", 2},
      {Charset::Sjis, "\xb1", 1},         {Charset::Sjis, "\xa0\x40", 0},    {Charset::Sjis, "\x81\x7f", 0},
      {Charset::Sjis, "\xe0\xfc", 2},     {Charset::Sjis, "\xfd\x40", 0},    {Charset::Sjis, "\x81", 0},
      {Charset::EucKr, "\xb0\x41", 2},    {Charset::EucKr, "\xb0\x61", 2},   {Charset::EucKr, "\xb0\x5c", 0},
      {Charset::EucKr, "\xb0\x60", 0},    {Charset::Gb2312, "\xb0\xa1", 2},  {Charset::Gb2312, "\xb0\x5c", 0},
      {Charset::Gb2312, "\xf8\xa1", 0},   {Charset::Ujis, "\x8e\xb1", 2},    {Charset::Ujis, "\x8e\xe0", 0},
      {Charset::Ujis, "\x8f\xa1\xa1", 3}, {Charset::Ujis, "\x8f\xa1", 0},    {Charset::Ujis, "\xa4\xa2", 2},
      {Charset::Ujis, "\xa4\x5c", 0},     {Charset::Gb18030, "\x81\x30\x81\x30", 4},
      {Charset::Gb18030, "\x81\x30\x81", 0}, {Charset::Gb18030, "\x81\x30\x20\x30", 0},
      {Charset::Gb18030, "\x81\x5c", 2},  {Charset::Gb18030, "\x81\x7f", 0}, {Charset::Gb18030, "\x80\x40", 0},
  };
  for (const Case& c : cases) {
    const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
    EXPECT_EQ(charLength(c.cs, p, c.bytes.size()), c.length)
        << "set " << static_cast<int>(c.cs) << " bytes " << ::testing::PrintToString(std::string(c.bytes));
  }

  const std::pair<std::string_view, Charset> names[] = {
      {"utf8mb4", Charset::Utf8}, {"UTF8MB4", Charset::Utf8},   {"utf8", Charset::Utf8mb3},
      {"utf8mb3", Charset::Utf8mb3}, {"gbk", Charset::Gbk},     {"big5", Charset::Big5},
      {"sjis", Charset::Sjis},    {"cp932", Charset::Sjis},     {"euckr", Charset::EucKr},
      {"gb2312", Charset::Gb2312}, {"ujis", Charset::Ujis},     {"eucjpms", Charset::Ujis},
      {"gb18030", Charset::Gb18030}, {"latin1", Charset::Single}, {"binary", Charset::Single},
      {"", Charset::Single},      {"gbkx", Charset::Single},    {"utf8mb", Charset::Single},
  };
  for (const auto& [name, cs] : names) EXPECT_EQ(charsetNamed(name), cs) << name;
}

TEST(SqlLexer, NamesByCharacter) {
  const bool before = Q_SETCASESENSITIVE(Value(false));
  std::string gbk64, utf64;
  for (int i = 0; i < 64; ++i) {
    gbk64 += "\x95\x41";
    utf64 += "\xc3\xa9";
  }
  EXPECT_TRUE(isName(std::string(64, 'a'), 1, Charset::Utf8));
  EXPECT_FALSE(isName(std::string(65, 'a'), 1, Charset::Utf8));
  EXPECT_TRUE(isName(gbk64, 1, Charset::Gbk));  // 128 bytes, 64 characters
  EXPECT_FALSE(isName(gbk64 + "a", 1, Charset::Gbk));
  EXPECT_FALSE(isName(gbk64, 1, Charset::Single));
  EXPECT_TRUE(isName("`" + utf64 + "`", 1, Charset::Utf8));
  EXPECT_FALSE(isName("`" + utf64 + "a`", 1, Charset::Utf8));
  EXPECT_FALSE(isName("t\x95", 1, Charset::Gbk));  // a lead byte without its trail
  EXPECT_FALSE(isName("a\xc3", 1, Charset::Utf8));
  EXPECT_TRUE(isName("a\xc3", 1, Charset::Single));
  EXPECT_FALSE(isName(std::string("`a\0b`", 5), 1, Charset::Utf8));
  EXPECT_FALSE(isName(std::string("a\0b", 3), 1, Charset::Utf8));
  EXPECT_TRUE(isName("db.t", 2, Charset::Utf8));
  EXPECT_FALSE(isName("db.t", 1, Charset::Utf8));
  EXPECT_FALSE(isName("a.b.c", 2, Charset::Utf8));
  EXPECT_FALSE(isName("db.", 2, Charset::Utf8));
  EXPECT_FALSE(isName("``", 1, Charset::Utf8));
  EXPECT_EQ(nameParts("`a``b`.c", 2, Charset::Utf8), (std::vector<std::string>{"a`b", "c"}));
  // The gbk character 0x95 0x60 holds the closing backquote's byte.
  EXPECT_EQ(nameParts("`t\x95``", 1, Charset::Gbk), std::vector<std::string>{"t\x95`"});
  EXPECT_EQ(nameParts("`t\x95``", 1, Charset::Utf8), std::vector<std::string>{});

  struct Quoted {
    std::string_view name;
    Charset cs;
    std::string_view quoted;
  };
  const Quoted quoted[] = {
      {"abc", Charset::Utf8, "abc"},         {"select", Charset::Utf8, "`select`"},
      {"1e5", Charset::Utf8, "`1e5`"},       {"a b", Charset::Utf8, "`a b`"},
      {"a`b", Charset::Utf8, "`a``b`"},      {"t\x95\x60", Charset::Gbk, "t\x95\x60"},
      {"t\x95\x60", Charset::Utf8, "`t\x95```"},
  };
  for (const Quoted& q : quoted) {
    std::string out;
    appendQuoted(out, q.name, q.cs);
    EXPECT_EQ(out, q.quoted) << q.name;
  }
  std::string bq;
  appendBackquoted(bq, "t\x95\x60", Charset::Gbk);
  EXPECT_EQ(bq, "`t\x95\x60`");

  // 0x41 after a gbk lead byte is a trail byte, not the letter A.
  EXPECT_EQ(lowerCaseText("  T\x95\x41  ", Charset::Gbk), "t\x95\x41");
  EXPECT_EQ(lowerCaseText("T\x95\x41", Charset::Single), "t\x95" "a");
  std::string lower;
  appendLowerCase(lower, " SELECT `A\x95\x41` FROM T WHERE x='ABC' /*ABC*/ ", kGbk);
  EXPECT_EQ(lower, "select `a\x95\x41` from t where x='ABC' /*ABC*/");
  Q_SETCASESENSITIVE(Value(before));
}

TEST(SqlLexer, MaskPasswords) {
  struct Case {
    std::string_view sql;
    Dialect d;
    std::string_view masked;
  };
  const Case cases[] = {
      {"CREATE USER 'u'@'%' IDENTIFIED BY 'secret'", kUtf8, "CREATE USER 'u'@'%' IDENTIFIED BY '***'"},
      {"create user u identified by \"x\"", kUtf8, "create user u identified by \"***\""},
      {"ALTER USER u IDENTIFIED VIA ed25519 USING PASSWORD('pw')", kUtf8,
       "ALTER USER u IDENTIFIED VIA ed25519 USING PASSWORD('***')"},
      {"CREATE USER u IDENTIFIED VIA mysql_native_password USING '*A1'", kUtf8,
       "CREATE USER u IDENTIFIED VIA mysql_native_password USING '***'"},
      {"SET PASSWORD = '*A1'", kUtf8, "SET PASSWORD = '***'"},
      {"SET PASSWORD FOR 'u'@'h' = PASSWORD('pw')", kUtf8, "SET PASSWORD FOR '***'@'***' = PASSWORD('***')"},
      {"SELECT OLD_PASSWORD('x')", kUtf8, "SELECT OLD_PASSWORD('***')"},
      {"CREATE USER u IDENTIFIED BY 'sec", kUtf8, "CREATE USER u IDENTIFIED BY '***"},
      {"GRANT ALL ON *.* TO u IDENTIFIED BY 'a\\'b'", kUtf8, "GRANT ALL ON *.* TO u IDENTIFIED BY '***'"},
      // Read under either backslash mode: the text is masked whole.
      {"IDENTIFIED BY 'a\\'b'", kUtf8NoEsc, "IDENTIFIED BY '***'"},
      {"IDENTIFIED BY '\x95\\', 'x'", kGbk, "IDENTIFIED BY '***', '***'"},
      {"SELECT 'IDENTIFIED BY', 'x'", kUtf8, "SELECT 'IDENTIFIED BY', 'x'"},
      {"SELECT 1 -- PASSWORD\n, 'x'", kUtf8, "SELECT 1 -- PASSWORD\n, 'x'"},
      {"SELECT `password`, 'x'", kUtf8, "SELECT `password`, 'x'"},
      // A versioned comment newer than the server is a comment to it, so
      // 'secret' is the password; read either way, nothing of it shows.
      {"CREATE USER u IDENTIFIED BY /*!99999 ' */ 'secret' /*!99999 ' */", kUtf8,
       "CREATE USER u IDENTIFIED BY /*!99999 '***'***'***' */"},
  };
  for (const Case& c : cases) EXPECT_EQ(maskPasswords(c.sql, c.d), c.masked) << c.sql;
}

TEST(SqlLexer, EndsInLineComment) {
  struct Case {
    std::string_view sql;
    Dialect d;
    bool comment;
  };
  const Case cases[] = {
      {"SELECT 1 -- x", kUtf8, true},      {"SELECT 1 #", kUtf8, true},
      {"SELECT 1 --", kUtf8, true},        {"SELECT 1 --x", kUtf8, false},
      {"SELECT 1 -- x\n", kUtf8, false},   {"SELECT 1 /* x", kUtf8, false},
      {"SELECT '# x'", kUtf8, false},      {"SELECT `#`", kUtf8, false},
      {"", kUtf8, false},                  {"SELECT '\x95\\' #", kGbk, true},
      {"SELECT '\x95\\' #", kUtf8, false}, {"SELECT '\\' #'", kUtf8NoEsc, true},
  };
  for (const Case& c : cases) EXPECT_EQ(endsInLineComment(c.sql, c.d), c.comment) << c.sql;
}

}  // namespace
}  // namespace veltro::sql
