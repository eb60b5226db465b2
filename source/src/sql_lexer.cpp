// The SQL lexer and the character walks of the multi-byte sets. The byte
// ranges are those the server's character set tables give each set's lead and
// trail bytes.
#include "sql_lexer.h"

#include <iterator>
#include <vector>

namespace veltro::sql {

namespace {

constexpr bool in(unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; }

std::size_t utf8Length(const unsigned char* p, std::size_t n, std::size_t most) {
  const unsigned c = p[0];
  std::size_t len = 0;
  if (in(c, 0xC2, 0xDF))
    len = 2;
  else if (in(c, 0xE0, 0xEF))
    len = 3;
  else if (most == 4 && in(c, 0xF0, 0xF4))
    len = 4;
  else
    return 0;
  if (n < len) return 0;
  for (std::size_t i = 1; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0) || (c == 0xF0 && p[1] < 0x90) ||
      (c == 0xF4 && p[1] >= 0x90))
    return 0;
  return len;
}

bool wordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c >= 0x80;
}

bool spaceByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

namespace {

// The high bytes each single-byte set reads as blanks or control characters,
// as the server's lexer takes them (measured on the server, byte by byte).
struct HighBlanks {
  std::string_view names[8];
  std::uint8_t bytes[40];
};
constexpr HighBlanks kHighBlanks[] = {
    {{}, {}},
    {{"latin1", "latin2", "latin5", "dec8", "greek", "armscii8", "geostd8"}, {0xA0}},
    {{"cp850", "cp852", "cp866", "keybcs2"}, {0xFF}},
    {{"cp1250"}, {0x80, 0x81, 0x83, 0x88, 0x90, 0x98, 0xA0}},
    {{"latin7"}, {0x81, 0x83, 0x88, 0x8A, 0x8C, 0x90, 0x98, 0x9A, 0x9C, 0x9F, 0xA0, 0xA1, 0xA5}},
    {{"hebrew"}, {0xA0, 0xFD, 0xFE}},
    {{"hp8"}, {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90,
               0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0, 0xB1,
               0xB2, 0xF2, 0xF3, 0xF4, 0xF5, 0xFF}},
    {{"macroman"}, {0x80, 0xCB, 0xE5}},
};

}  // namespace

std::uint8_t highBlanksNamed(std::string_view name) {
  for (std::uint8_t i = 1; i < std::size(kHighBlanks); ++i)
    for (std::string_view n : kHighBlanks[i].names)
      if (!n.empty() && n == name) return i;
  return 0;
}

bool Lexer::blank(unsigned char c) const {
  if (c < 0x80) return spaceByte(static_cast<char>(c));
  if (d_.highBlanks == 0 || d_.highBlanks >= std::size(kHighBlanks) || d_.charset != Charset::Single) return false;
  for (std::uint8_t b : kHighBlanks[d_.highBlanks].bytes)
    if (b == c) return true;
  return false;
}

Charset charsetNamed(std::string_view name) {
  struct Entry {
    std::string_view name;
    Charset walk;
  };
  static constexpr Entry kSets[] = {
      {"utf8mb4", Charset::Utf8}, {"utf8", Charset::Utf8mb3},  {"utf8mb3", Charset::Utf8mb3},
      {"gbk", Charset::Gbk},      {"big5", Charset::Big5},     {"sjis", Charset::Sjis},
      {"cp932", Charset::Sjis},   {"euckr", Charset::EucKr},   {"gb2312", Charset::Gb2312},
      {"ujis", Charset::Ujis},    {"eucjpms", Charset::Ujis},  {"gb18030", Charset::Gb18030},
  };
  for (const Entry& e : kSets)
    if (e.name.size() == name.size()) {
      bool same = true;
      for (std::size_t i = 0; i < name.size() && same; ++i)
        same = (name[i] | 0x20) == (e.name[i] | 0x20) || name[i] == e.name[i];
      if (same) return e.walk;
    }
  return Charset::Single;
}

std::size_t charLength(Charset cs, const unsigned char* p, std::size_t n) {
  const unsigned c = p[0];
  if (c < 0x80) return 1;
  const unsigned t = n >= 2 ? p[1] : 0;
  switch (cs) {
    case Charset::Single:
      return 1;
    case Charset::Lenient: {
      const std::size_t len = utf8Length(p, n, 4);
      return len ? len : 1;
    }
    case Charset::Utf8:
      return utf8Length(p, n, 4);
    case Charset::Utf8mb3:
      return utf8Length(p, n, 3);
    case Charset::Gbk:
      return n >= 2 && in(c, 0x81, 0xFE) && (in(t, 0x40, 0x7E) || in(t, 0x80, 0xFE)) ? 2 : 0;
    case Charset::Big5:
      return n >= 2 && in(c, 0xA1, 0xF9) && (in(t, 0x40, 0x7E) || in(t, 0xA1, 0xFE)) ? 2 : 0;
    case Charset::Sjis:
      if (in(c, 0xA1, 0xDF)) return 1;  // half-width katakana
      return n >= 2 && (in(c, 0x81, 0x9F) || in(c, 0xE0, 0xFC)) && (in(t, 0x40, 0x7E) || in(t, 0x80, 0xFC)) ? 2 : 0;
    case Charset::EucKr:
      return n >= 2 && in(c, 0x81, 0xFE) && (in(t, 0x41, 0x5A) || in(t, 0x61, 0x7A) || in(t, 0x81, 0xFE)) ? 2 : 0;
    case Charset::Gb2312:
      return n >= 2 && in(c, 0xA1, 0xF7) && in(t, 0xA1, 0xFE) ? 2 : 0;
    case Charset::Ujis:
      if (c == 0x8E) return n >= 2 && in(t, 0xA1, 0xDF) ? 2 : 0;
      if (c == 0x8F) return n >= 3 && in(t, 0xA1, 0xFE) && in(p[2], 0xA1, 0xFE) ? 3 : 0;
      return n >= 2 && in(c, 0xA1, 0xFE) && in(t, 0xA1, 0xFE) ? 2 : 0;
    case Charset::Gb18030:
      if (!in(c, 0x81, 0xFE) || n < 2) return 0;
      if (in(t, 0x30, 0x39)) return n >= 4 && in(p[2], 0x81, 0xFE) && in(p[3], 0x30, 0x39) ? 4 : 0;
      return in(t, 0x40, 0x7E) || in(t, 0x80, 0xFE) ? 2 : 0;
  }
  return 0;
}

// From the opening quote at i_: the end of a quoted text or name. A doubled
// quote stands for itself; with escapes a backslash takes the next byte along,
// as the server's lexer skips it; a multi-byte character is passed over whole,
// so that none of its bytes is read as a quote or a backslash.
std::size_t Lexer::quoted(char quote, bool escapes, bool& closed) const {
  std::size_t j = i_ + 1;
  while (j < s_.size()) {
    const char c = s_[j];
    if (static_cast<unsigned char>(c) >= 0x80) {
      j += stepLength(d_.charset, s_, j);
    } else if (escapes && c == '\\') {
      j += 2;
    } else if (c == quote) {
      if (j + 1 < s_.size() && s_[j + 1] == quote) {
        j += 2;
        continue;
      }
      closed = true;
      return j + 1;
    } else {
      ++j;
    }
  }
  closed = false;
  return s_.size();
}

// From the "/*" at i_: the opening of a versioned comment whose inside is code
// to the server, or else a whole comment. Sets t's kind (and closed) and
// returns where the token ends.
std::size_t Lexer::blockComment(Token& t) {
  const std::size_t n = s_.size();
  auto at = [&](std::size_t k) { return i_ + k < n ? s_[i_ + k] : '\0'; };
  const bool mariadb = at(2) == 'M' && at(3) == '!';
  std::size_t j = i_ + 2;
  if ((at(2) == '!' || mariadb) && !inVersion_) {
    // As the server reads them: five digits, or six, are a version; fewer
    // are code. A version later than the server's, or MySQL's 5.7 and later
    // without M, makes the whole comment one the server skips.
    j = i_ + (mariadb ? 4 : 3);
    std::size_t digits = 0;
    while (j + digits < n && digits < 6 && s_[j + digits] >= '0' && s_[j + digits] <= '9') ++digits;
    unsigned long version = 0;
    if (digits >= 5) {
      for (std::size_t k = 0; k < digits; ++k) version = version * 10 + static_cast<unsigned long>(s_[j + k] - '0');
      j += digits;
    }
    const bool code = d_.serverVersion == 0 || version == 0 ||
                      (version <= d_.serverVersion && (mariadb || version < 50700 || version > 99999));
    if (code) {
      t.kind = Tok::VersionOpen;
      inVersion_ = true;
      return j;
    }
  }
  t.kind = Tok::Comment;
  const std::size_t close = s_.find("*/", j);
  t.closed = close != std::string_view::npos;
  return t.closed ? close + 2 : n;
}

Token Lexer::next() {
  Token t;
  t.begin = i_;
  const std::size_t n = s_.size();
  if (i_ >= n) {
    t.end = n;
    return t;
  }
  const char c = s_[i_];
  const auto uc = static_cast<unsigned char>(c);
  auto at = [&](std::size_t k) { return i_ + k < n ? s_[i_ + k] : '\0'; };
  std::size_t j = i_ + 1;
  if (blank(uc)) {
    t.kind = Tok::Space;
    while (j < n && blank(static_cast<unsigned char>(s_[j]))) ++j;
  } else if (wordByte(uc)) {
    t.kind = Tok::Word;
    j = i_;
    while (j < n && wordByte(static_cast<unsigned char>(s_[j])) && !blank(static_cast<unsigned char>(s_[j])))
      j += stepLength(d_.charset, s_, j);
  } else if (c == '\'' || c == '"') {
    t.kind = Tok::String;
    j = quoted(c, d_.backslashEscapes, t.closed);
  } else if (c == '`') {
    t.kind = Tok::Name;
    j = quoted(c, false, t.closed);
  } else if (c == '#' || (c == '-' && at(1) == '-' &&
                          (i_ + 2 >= n || static_cast<unsigned char>(at(2)) <= ' ' || at(2) == '\x7f' ||
                           blank(static_cast<unsigned char>(at(2)))))) {
    // "--" opens a comment only before a blank or a control character.
    t.kind = Tok::Comment;
    while (j < n && s_[j] != '\n') ++j;
  } else if (c == '/' && at(1) == '*') {
    j = blockComment(t);
  } else if (c == '*' && at(1) == '/' && inVersion_) {
    t.kind = Tok::VersionClose;
    j = i_ + 2;
    inVersion_ = false;
  } else {
    t.kind = Tok::Punct;
  }
  i_ = j < n ? j : n;
  t.end = i_;
  return t;
}

bool isKeyword(std::string_view sql, const Token& t, std::string_view kw) {
  if (t.kind != Tok::Word || t.end - t.begin != kw.size()) return false;
  for (std::size_t i = 0; i < kw.size(); ++i)
    if (upperAscii(sql[t.begin + i]) != kw[i]) return false;
  return true;
}

Token firstCode(std::string_view sql, Dialect dialect) {
  Lexer lex(sql, dialect);
  for (Token t = lex.next();; t = lex.next())
    if (t.kind == Tok::End || isCode(t)) return t;
}

bool endsInLineComment(std::string_view sql, Dialect dialect) {
  Lexer lex(sql, dialect);
  Token last;
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next()) last = t;
  return last.kind == Tok::Comment && last.end == sql.size() && sql[last.begin] != '/';
}

namespace {

bool containsNoCase(std::string_view text, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < word.size() && upperAscii(text[i + k]) == word[k]) ++k;
    if (k == word.size()) return true;
  }
  return false;
}

// Marks the insides of the quoted texts that follow the first word naming a
// credential, as one reading of the statement sees them.
void markSecrets(std::string_view sql, const Dialect& d, std::vector<bool>& masked) {
  Lexer lex(sql, d);
  bool secret = false;
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next()) {
    // A word that holds one (glued to another by a byte the reading takes for a letter) counts too.
    if (t.kind == Tok::Word &&
        (containsNoCase(t.text(sql), "IDENTIFIED") || containsNoCase(t.text(sql), "PASSWORD")))
      secret = true;
    if (!secret || t.kind != Tok::String) continue;
    const std::size_t end = t.closed ? t.end - 1 : t.end;
    for (std::size_t i = t.begin + 1; i < end; ++i) masked[i] = true;
  }
}

}  // namespace

std::string maskPasswords(std::string_view sql, Dialect dialect) {
  // The statement may be read in a session other than the one assumed: every
  // text that is a password under any reading of its backslashes and
  // versioned comments is masked. More than the password at times, never less.
  std::vector<bool> masked(sql.size(), false);
  for (const bool escapes : {true, false}) {
    for (const unsigned long version : {0ul, 1ul}) {
      Dialect d = dialect;
      d.backslashEscapes = escapes;
      if (version == 1) d.serverVersion = 1;  // every versioned comment skipped
      markSecrets(sql, d, masked);
    }
  }
  std::string out;
  out.reserve(sql.size());
  for (std::size_t i = 0; i < sql.size(); ++i) {
    if (!masked[i]) {
      out += sql[i];
    } else if (i == 0 || !masked[i - 1]) {
      out += "***";
    }
  }
  return out;
}

}  // namespace veltro::sql
