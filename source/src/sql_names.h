// Names by character: checking, quoting and lower-casing walk the characters
// of the connection's set, so that no byte inside a multi-byte character is
// read as a backquote, a dot or a letter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sql_lexer.h"

namespace veltro::sql {

// The server's limit on a table, column, database or index name, in characters.
inline constexpr std::size_t kNameChars = 64;

// Whether text is up to `parts` names joined by "." (db.table,
// table.column), each plain (letters, digits, _ $ and valid non-ASCII
// characters) or between backquotes with backquotes inside doubled; each
// valid in cs, without NUL, and at most kNameChars characters.
bool isName(std::string_view text, int parts, Charset cs);
// The names of such a text, unquoted ("`a``b`.c" gives "a`b" and "c"); empty
// when it is not one.
std::vector<std::string> nameParts(std::string_view text, int parts, Charset cs);
// A name read from the server: as it is when plain and not a reserved word,
// else between backquotes (backquotes inside doubled, character by character).
void appendQuoted(std::string& out, std::string_view name, Charset cs);
void appendBackquoted(std::string& out, std::string_view name, Charset cs);
// Whether text could be a name the server holds, as it lists it (no quotes):
// not empty, no NUL, no trailing space, every character valid in cs, at most
// kNameChars characters.
bool couldBeListedName(std::string_view text, Charset cs);
// A name as isName takes it, with its parts written by appendQuoted when one
// of them is a reserved word ("order" would read as syntax); else as it is.
std::string reservedQuoted(std::string_view text, int parts, Charset cs);
// Trimmed (leading white space, trailing spaces), and unless case-sensitive
// names are on, the letters of its words and backquoted names lower-cased:
// never a byte of a multi-byte character, nor anything in a quoted text or a
// comment.
void appendLowerCase(std::string& out, std::string_view text, const Dialect& d);
// A text that is no SQL (an account name): trimmed as above, and every ASCII
// letter that is a character of its own lower-cased, unless case-sensitive
// names are on.
std::string lowerCaseText(std::string_view text, Charset cs);

}  // namespace veltro::sql
