// The one reader of SQL text: tokens as the server's lexer sees them, walked by
// the characters of the connection's character set. Every place that reads a
// caller's SQL (the query's clause parser, the table a Save or Delete acts on,
// Restore's checker, the statement classifier, the masking of reported
// statements) goes through it, so that a keyword inside a literal, a
// backquoted name or a comment is never taken for code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltro::sql {

// How the bytes of a character set group into characters: the multi-byte sets
// a client connection can use, one walk each; every other set is a byte a
// character.
enum class Charset : std::uint8_t {
  Lenient,  // no connection: UTF-8 where valid, any other byte a character of its own
  Single,   // latin1, ascii, binary and the other byte-a-character sets
  Utf8,     // utf8mb4: up to 4 bytes
  Utf8mb3,  // utf8 / utf8mb3: up to 3 bytes
  Gbk,
  Big5,
  Sjis,     // sjis and cp932
  EucKr,
  Gb2312,
  Ujis,     // ujis and eucjpms
  Gb18030,
};

// The walk of a character set named as the server names it ("gbk", "cp932").
Charset charsetNamed(std::string_view name);

// Bytes of the character at p (n > 0 bytes left); 0 when the bytes there are
// not a valid character of the set.
std::size_t charLength(Charset cs, const unsigned char* p, std::size_t n);

// As the server's lexer steps: a valid multi-byte character whole, anything
// else one byte.
inline std::size_t stepLength(Charset cs, std::string_view s, std::size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
  if (*p < 0x80) return 1;
  const std::size_t n = charLength(cs, p, s.size() - i);
  return n ? n : 1;
}

// Bytes from 0x80 up that a single-byte set reads as blanks (latin1's
// no-break space, ...), as a set's number in a table of them; 0 for none.
std::uint8_t highBlanksNamed(std::string_view name);

// What the session reads SQL text with.
struct Dialect {
  Charset charset = Charset::Lenient;
  bool backslashEscapes = true;  // false under NO_BACKSLASH_ESCAPES
  // The server's version (10.11.19: 101119): a versioned comment of a later
  // version, or of MySQL 5.7 and later (50700-99999) without M, is a comment
  // to it. 0 when unknown: every versioned comment is code.
  unsigned long serverVersion = 0;
  std::uint8_t highBlanks = 0;  // of a Single set: see highBlanksNamed
};

enum class Tok : std::uint8_t {
  Space,         // blanks, tabs, line breaks
  Word,          // a keyword, a plain name or a number: letters, digits, _ $ and non-ASCII characters
  String,        // '...' or "..." with its quotes
  Name,          // `...` with its backquotes
  Comment,       // -- ..., # ... (to the line end, not included), /* ... */, or a versioned comment the server skips
  VersionOpen,   // /*! or /*M! and its version digits, when what follows is code to the server
  VersionClose,  // the */ that ends a versioned comment
  Punct,         // any other character, one a token
  End,
};

struct Token {
  Tok kind = Tok::End;
  std::size_t begin = 0, end = 0;  // bytes of the text
  bool closed = true;              // a quote, name or block comment that reached its end
  std::string_view text(std::string_view sql) const { return sql.substr(begin, end - begin); }
};

class Lexer {
 public:
  explicit Lexer(std::string_view sql, Dialect dialect = {}) : s_(sql), d_(dialect) {}
  // The next token; Tok::End (at the text's end) from then on.
  Token next();
  std::size_t position() const { return i_; }

 private:
  std::size_t quoted(char quote, bool escapes, bool& closed) const;
  std::size_t blockComment(Token& t);
  bool blank(unsigned char c) const;
  std::string_view s_;
  Dialect d_;
  std::size_t i_ = 0;
  bool inVersion_ = false;
};

// Whether a token is code: neither blank nor a comment.
inline bool isCode(const Token& t) {
  return t.kind != Tok::Space && t.kind != Tok::Comment && t.kind != Tok::VersionOpen &&
         t.kind != Tok::VersionClose && t.kind != Tok::End;
}

// Whether a Word token is the keyword kw (given in upper case), in any letter case.
bool isKeyword(std::string_view sql, const Token& t, std::string_view kw);

// The first code token of a statement (Tok::End when it has none).
Token firstCode(std::string_view sql, Dialect dialect = {});

// Whether a text ends inside a -- or # comment, so that text pasted after it
// would be commented out.
bool endsInLineComment(std::string_view sql, Dialect dialect = {});

// The statement with the text of every password literal replaced by stars:
// the quoted text after IDENTIFIED BY, IDENTIFIED ... USING / AS, and inside
// PASSWORD(...) or OLD_PASSWORD(...) and after SET PASSWORD ... =.
std::string maskPasswords(std::string_view sql, Dialect dialect = {});

}  // namespace veltro::sql
