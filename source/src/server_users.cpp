// User accounts and privileges: grant, drop, rename, list and revoke.
#include <string>

#include "server_name_arg.h"
#include "veltro/binding.h"
#include "veltro/query.h"
#include "veltro/server.h"
#include "veltro/sqltext.h"
#include "server_refuse.h"

namespace veltro {

namespace {

// A privilege list: a text as given, an array of names normalised and joined.
std::string privilegeText(const Value& privileges) {
  if (privileges.isEmpty()) return "ALL PRIVILEGES";
  if (privileges.isArray()) return SQLSTRINGFROMARRAY(privileges);
  return privileges.asString();
}

// Privilege lists and WITH options are words: letters, digits, "_", blanks,
// commas, and column lists in parentheses. No quote, dot, "@", "*", comment or
// operator, so such a text cannot name another scope or account.
bool privilegeWords(std::string_view text) {
  for (char c : text) {
    const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!word && c != ' ' && c != ',' && c != '(' && c != ')' && c != '`') return false;
  }
  // A backquote only around a column name inside parentheses, closed there:
  // an open one would carry the statement's next words into a name.
  sql::Lexer lex(text);
  int depth = 0;
  for (sql::Token t = lex.next(); t.kind != sql::Tok::End; t = lex.next()) {
    if (t.kind == sql::Tok::Punct) depth += text[t.begin] == '(' ? 1 : text[t.begin] == ')' ? -1 : 0;
    if (depth < 0 || (t.kind == sql::Tok::Name && (depth == 0 || !t.closed))) return false;
  }
  return depth == 0;
}

// The database scope of a grant: "*" or a database name, reported when neither.
bool databaseScope(TQuillonSrv& srv, const std::string& db) {
  return db == "*" || detail::isNameArg(srv, Value(db), "database", 1);
}

bool checkWords(TQuillonSrv& srv, const std::string& text, const char* what) {
  if (privilegeWords(text)) return true;
  return detail::refuse(srv, kErrNotAName, Value(std::string(what) + " is not a list of words: " + text.substr(0, 80)));
}

// Length of one account part at the start of text: a quoted text (quotes
// inside doubled, no backslash, whose meaning depends on the server's mode)
// or a plain run of name and host characters; 0 when none.
// Characters of the connection's set are walked whole, so that no byte of a
// multi-byte character is read as a quote.
std::size_t accountPart(std::string_view text, sql::Charset cs) {
  if (text.empty()) return 0;
  const char q = text[0];
  if (q == '\'' || q == '"' || q == '`') {
    for (std::size_t i = 1; i < text.size();) {
      const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
      if (*p >= 0x80) {
        const std::size_t n = sql::charLength(cs, p, text.size() - i);
        if (n == 0) return 0;
        i += n;
        continue;
      }
      if (text[i] == '\\' || text[i] == '\0') return 0;
      if (text[i] != q) {
        ++i;
        continue;
      }
      if (i + 1 < text.size() && text[i + 1] == q) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    return 0;
  }
  std::size_t n = 0;
  auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '.' || c == '%' || c == '-';
  };
  while (n < text.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + n;
    const std::size_t step = *p >= 0x80 ? sql::charLength(cs, p, text.size() - n) : plain(text[n]) ? 1 : 0;
    if (step == 0) break;
    n += step;
  }
  return n < text.size() && static_cast<unsigned char>(text[n]) >= 0x80 ? 0 : n;
}

// Whether text is a list of accounts: user or user@host, separated by commas.
bool accountList(std::string_view text, sql::Charset cs) {
  auto skipBlanks = [&] {
    while (!text.empty() && text[0] == ' ') text.remove_prefix(1);
  };
  for (;;) {
    skipBlanks();
    std::size_t n = accountPart(text, cs);
    if (n == 0) return false;
    text.remove_prefix(n);
    if (!text.empty() && text[0] == '@') {
      text.remove_prefix(1);
      n = accountPart(text, cs);
      if (n == 0) return false;
      text.remove_prefix(n);
    }
    skipBlanks();
    if (text.empty()) return true;
    if (text[0] != ',') return false;
    text.remove_prefix(1);
  }
}

}  // namespace

// GRANT privileges ON db.* TO 'user'@'host' [IDENTIFIED BY 'pw'] [WITH option].
// Creates the database first when asked and it does not exist. The account
// and the password are escaped with the connection, so quotes in them are data.
bool TQuillonSrv::AddUser(const Value& host, const Value& user, const Value& password, const Value& database,
                          const Value& createDatabase, const Value& privileges, const Value& withOption) {
  const Value hostValue = host.isNil() ? cHost : host;
  const Value databaseValue = database.isNil() ? Value("*") : database;
  if (hostValue.isEmpty() || user.isEmpty() || databaseValue.isEmpty()) return false;

  const std::string hostName(trimBlanks(hostValue.asString()));
  const std::string userName(trimBlanks(user.asString()));
  const std::string pw(trimBlanks(password.asString()));
  const std::string db(trimBlanks(databaseValue.asString()));

  const std::string privilegeList = privilegeText(privileges);
  if (!databaseScope(*this, db) || !checkWords(*this, privilegeList, "privilege list")) return false;
  if (!withOption.isEmpty() && !checkWords(*this, withOption.asString(), "WITH option")) return false;

  if (!DBExist(db) && createDatabase.asBool()) DBCreate(db);

  std::string sql = "GRANT " + privilegeList + " ON " + db + ".* TO " + sqlLiteral(Value(userName), handle()) + "@" +
                    sqlLiteral(Value(hostName), handle());
  if (!pw.empty()) sql += " IDENTIFIED BY " + sqlLiteral(Value(pw), handle());
  if (!withOption.isEmpty()) sql += " WITH " + withOption.asString();
  return SqlQuery(sql);
}

bool TQuillonSrv::DropUser(const Value& account) {
  if (!account.isString() || !accountList(account.str(), sql::dialectOf(handle()).charset))
    return detail::refuse(*this, kErrNotAName, Value("account is not user@host: " + account.asString().substr(0, 80)));
  return SqlQuery("DROP USER " + account.str());
}

// RENAME USER 'old'@'host' TO 'new'@'host', names escaped and normalised.
bool TQuillonSrv::RenameUser(const Value& oldUser, const Value& host, const Value& newUser) {
  // Normalised first, then written: lower-casing an escaped text would change its escapes.
  const sql::Charset cs = sql::dialectOf(handle()).charset;
  auto literal = [this, cs](const Value& name) { return sqlLiteral(Value(sql::lowerCaseText(name.asString(), cs)), handle()); };
  const std::string hostLiteral = literal(host);
  return SqlQuery("RENAME USER " + literal(oldUser) + "@" + hostLiteral + " TO " + literal(newUser) + "@" +
                  hostLiteral);
}

// Privilege names of SHOW PRIVILEGES in upper case, kept by kind: 1 admin,
// 2 (default) all but server-wide, 3 table-level, 4 all, other numbers none.
Value TQuillonSrv::GetPrivileges(const Value& kind) {
  const long long which = kind.isNil() ? 2 : kind.asInt();
  Array names;
  QueryPtr q = Query("SHOW PRIVILEGES");
  if (!q) return Value::arrayOf(std::move(names));
  for (long row = 1; row <= q->LastRec(); ++row) {
    q->GetRow(row);
    const std::string context = upper(q->FieldGet("Context").asString());
    bool keep = false;
    switch (which) {
      case 1: keep = context.find("ADMIN") != std::string::npos; break;
      case 2: keep = context.find("SERVER") == std::string::npos; break;
      case 3: keep = context.find("TABLE") != std::string::npos; break;
      case 4: keep = true; break;
      default: break;
    }
    // The query pads texts to the column width; a name is given without the padding.
    if (keep) names.emplace_back(upper(trimRight(q->FieldGet(1).asString())));
  }
  q->End();
  return Value::arrayOf(std::move(names));
}

// REVOKE privileges ON db.* FROM 'user'@'host', the account escaped.
bool TQuillonSrv::RevokePrivileges(const Value& host, const Value& user, const Value& database,
                                   const Value& privileges) {
  const Value hostValue = host.isNil() ? cHost : host;
  if (hostValue.isEmpty() || user.isEmpty()) return false;
  const std::string hostName(trimBlanks(hostValue.asString()));
  const std::string userName(trimBlanks(user.asString()));
  const std::string db = database.isNil() ? std::string("*") : database.asString();
  const std::string privilegeList = privilegeText(privileges);
  if (!databaseScope(*this, db) || !checkWords(*this, privilegeList, "privilege list")) return false;
  return SqlQuery("REVOKE " + privilegeList + " ON " + db + ".* FROM " + sqlLiteral(Value(userName), handle()) + "@" +
                  sqlLiteral(Value(hostName), handle()));
}

}  // namespace veltro
