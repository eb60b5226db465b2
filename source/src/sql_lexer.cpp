// The SQL lexer and the character walks of the multi-byte sets. The byte
// ranges are those the server's character set tables give each set's lead and
// trail bytes.
#include "sql_lexer.h"

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
  if (spaceByte(c)) {
    t.kind = Tok::Space;
    while (j < n && spaceByte(s_[j])) ++j;
  } else if (wordByte(uc)) {
    t.kind = Tok::Word;
    j = i_;
    while (j < n && wordByte(static_cast<unsigned char>(s_[j]))) j += stepLength(d_.charset, s_, j);
  } else if (c == '\'' || c == '"') {
    t.kind = Tok::String;
    j = quoted(c, d_.backslashEscapes, t.closed);
  } else if (c == '`') {
    t.kind = Tok::Name;
    j = quoted(c, false, t.closed);
  } else if (c == '#' || (c == '-' && at(1) == '-' &&
                          (i_ + 2 >= n || static_cast<unsigned char>(at(2)) <= ' ' || at(2) == '\x7f'))) {
    // "--" opens a comment only before a blank or a control character.
    t.kind = Tok::Comment;
    while (j < n && s_[j] != '\n') ++j;
  } else if (c == '/' && at(1) == '*') {
    const bool mariadb = at(2) == 'M' && at(3) == '!';
    if (at(2) == '!' || mariadb) {
      t.kind = Tok::VersionOpen;
      j = i_ + (mariadb ? 4 : 3);
      while (j < n && s_[j] >= '0' && s_[j] <= '9') ++j;
      inVersion_ = true;
    } else {
      t.kind = Tok::Comment;
      const std::size_t close = s_.find("*/", i_ + 2);
      t.closed = close != std::string_view::npos;
      j = t.closed ? close + 2 : n;
    }
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

std::string maskPasswords(std::string_view sql, Dialect dialect) {
  std::string out;
  out.reserve(sql.size());
  Lexer lex(sql, dialect);
  // From the first word that introduces a credential on, every quoted text is
  // masked: more than the password at times, never less.
  bool secret = false;
  for (Token t = lex.next(); t.kind != Tok::End; t = lex.next()) {
    if (t.kind == Tok::Word && (isKeyword(sql, t, "IDENTIFIED") || isKeyword(sql, t, "PASSWORD") ||
                                isKeyword(sql, t, "OLD_PASSWORD")))
      secret = true;
    if (secret && t.kind == Tok::String) {
      out += sql[t.begin];
      out += "***";
      if (t.closed) out += sql[t.begin];
      continue;
    }
    out.append(sql.substr(t.begin, t.end - t.begin));
  }
  return out;
}

}  // namespace veltro::sql
