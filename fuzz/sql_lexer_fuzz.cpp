// The SQL lexer on any text in several dialects (the first byte picks one of
// them): tokens are contiguous, non-empty and cover the text, closed quotes
// and comments end as they opened, masking never adds code, lower-casing keeps
// the length, and a name read back after quoting is the same name.
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "sql_lexer.h"
#include "sql_names.h"
#include "veltro/value.h"

using veltro::fuzz::check;
namespace sql = veltro::sql;

namespace {

constexpr sql::Charset kSets[] = {
    sql::Charset::Lenient, sql::Charset::Single, sql::Charset::Utf8, sql::Charset::Utf8mb3,
    sql::Charset::Gbk,     sql::Charset::Big5,   sql::Charset::Sjis, sql::Charset::EucKr,
    sql::Charset::Gb2312,  sql::Charset::Ujis,   sql::Charset::Gb18030,
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::vector<sql::Token> tokens(std::string_view text, sql::Dialect d) {
  std::vector<sql::Token> out;
  sql::Lexer lex(text, d);
  std::size_t at = 0;
  for (sql::Token t = lex.next();; t = lex.next()) {
    check(t.begin == at, "tokens are contiguous", text);
    if (t.kind == sql::Tok::End) {
      check(t.end == text.size() && at == text.size(), "the tokens cover the text", text);
      break;
    }
    check(t.end > t.begin && t.end <= text.size(), "a token is not empty", text);
    check(out.size() <= text.size(), "no more tokens than bytes", text);
    at = t.end;
    out.push_back(t);
  }
  const sql::Token after = lex.next();
  check(after.kind == sql::Tok::End && after.begin == text.size(), "the end stays the end", text);
  return out;
}

void checkToken(std::string_view text, const sql::Token& t) {
  const std::string_view s = t.text(text);
  check(t.closed || t.end == text.size(), "only the last token is left open", s);
  switch (t.kind) {
    case sql::Tok::String:
    case sql::Tok::Name: {
      const bool opens = t.kind == sql::Tok::Name ? s.front() == '`' : s.front() == '\'' || s.front() == '"';
      check(opens, "a quoted token opens with its quote", s);
      if (t.closed) check(s.size() >= 2 && s.back() == s.front(), "a closed quote ends with its quote", s);
      break;
    }
    case sql::Tok::Comment:
      if (s.substr(0, 2) == "/*") {
        if (t.closed) check(s.size() >= 4 && s.substr(s.size() - 2) == "*/", "a closed comment ends with */", s);
      } else {
        check(s.front() == '#' || s.substr(0, 2) == "--", "a line comment opens with # or --", s);
        check(s.find('\n') == std::string_view::npos, "a line comment stops at the line end", s);
        check(t.end == text.size() || text[t.end] == '\n', "a line comment runs to the line end", s);
      }
      break;
    case sql::Tok::Space:
      for (char c : s) check(blank(c), "blanks only", s);
      break;
    case sql::Tok::Punct:
      check(s.size() == 1, "one byte a punctuation", s);
      break;
    case sql::Tok::VersionOpen:
      check(s.substr(0, 3) == "/*!" || s.substr(0, 4) == "/*M!", "a versioned comment opens with /*!", s);
      break;
    case sql::Tok::VersionClose:
      check(s == "*/", "a versioned comment closes with */", s);
      break;
    default:
      break;
  }
}

// The quoted texts that follow the first word naming a credential, as this
// reading sees them: what masking must leave nothing of.
std::vector<std::string_view> secrets(std::string_view text, const std::vector<sql::Token>& ts) {
  std::vector<std::string_view> out;
  bool secret = false;
  for (const sql::Token& t : ts) {
    if (t.kind == sql::Tok::Word) {
      std::string upper(t.text(text));
      for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      secret = secret || upper.find("IDENTIFIED") != std::string::npos || upper.find("PASSWORD") != std::string::npos;
    }
    if (secret && t.kind == sql::Tok::String && t.closed && t.end - t.begin >= 8)
      out.push_back(text.substr(t.begin + 1, t.end - t.begin - 2));
  }
  return out;
}

// Whether any text of the statement may hold a credential word: masking
// reads it in several sessions and looks inside words as well.
bool credentialWord(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper.find("IDENTIFIED") != std::string::npos || upper.find("PASSWORD") != std::string::npos;
}

void checkDialect(std::string_view text, sql::Dialect d) {
  const std::vector<sql::Token> ts = tokens(text, d);
  for (const sql::Token& t : ts) checkToken(text, t);

  const std::string masked = sql::maskPasswords(text, d);
  // (A secret that also stands elsewhere in the text may show there.)
  for (std::string_view secret : secrets(text, ts))
    if (text.find(secret) == text.rfind(secret))
      check(masked.find(secret) == std::string::npos, "nothing of a password shows", text);
  if (!credentialWord(text)) check(masked == text, "nothing masked without a credential word", text);

  const std::size_t trimmed = veltro::trimValueText(text).size();
  std::string lower;
  sql::appendLowerCase(lower, text, d);
  check(lower.size() == trimmed, "lower-casing keeps the length", text);
  check(sql::lowerCaseText(text, d.charset).size() == trimmed, "lower-casing a text keeps the length", text);

  if (!sql::isName(text, 2, d.charset)) return;
  const std::vector<std::string> parts = sql::nameParts(text, 2, d.charset);
  check(!parts.empty(), "a name has parts", text);
  for (const std::string& part : parts) {
    std::string quoted, backquoted;
    sql::appendQuoted(quoted, part, d.charset);
    sql::appendBackquoted(backquoted, part, d.charset);
    check(sql::nameParts(quoted, 1, d.charset) == std::vector<std::string>{part}, "a quoted name reads back",
          quoted);
    check(sql::nameParts(backquoted, 1, d.charset) == std::vector<std::string>{part},
          "a backquoted name reads back", backquoted);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const sql::Dialect chosen{kSets[data[0] % std::size(kSets)], (data[0] & 0x80) == 0};
  checkDialect(text, chosen);
  checkDialect(text, sql::Dialect{});
  checkDialect(text, sql::Dialect{sql::Charset::Gbk, false});
  checkDialect(text, sql::Dialect{sql::Charset::Sjis, true});
  return 0;
}
