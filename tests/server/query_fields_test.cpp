// The query object's fields against a real server: padding, NULLs by column
// type, typed puts, values read back and column messages by name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query_fixture.h"
#include "veltro/error.h"
#include "veltro/query.h"
#include "veltro/row.h"
#include "veltro/sqltext.h"
#include "veltro/table.h"

namespace veltro::testing {

// Texts are padded to the column's characters, counted as characters: over
// utf8mb4 a CHAR(30) comes back 30 characters wide whatever bytes they take;
// binary columns keep their bytes; over latin1 a byte is a character.
TEST_F(Query, PaddingCountsCharacters) {
  table("qt_width", "id INT PRIMARY KEY, c CHAR(30), v VARCHAR(40), b VARBINARY(10), m TEXT",
        "CHARACTER SET utf8mb4");
  exec("INSERT INTO qt_width VALUES (1, 'Ñandú', 'año 2026 ✓', 'ab', 'memo')");
  PadSetting pad(true);
  auto chars = [](const std::string& s) {
    std::size_t n = 0;
    for (unsigned char b : s) n += (b & 0xC0) != 0x80;
    return n;
  };
  struct Case {
    const char* charset;
    std::size_t c, v, b;  // widths in characters
  };
  for (const Case& k : {Case{"utf8mb4", 30, 40, 10}, Case{"latin1", 30, 40, 10}}) {
    SCOPED_TRACE(k.charset);
    const auto& env = testing::serverEnv();
    ServerPtr s = TQuillonSrv::create();
    s->cCharset = k.charset;
    s->New(env.host, env.user, env.password, static_cast<int>(env.port), 0, env.database);
    auto q = s->Query("SELECT * FROM qt_width");
    ASSERT_EQ(q->LastRec(), 1);
    const std::string c = q->FieldGet("c").asString(), v = q->FieldGet("v").asString();
    if (std::string(k.charset) == "latin1") {
      EXPECT_EQ(c.size(), k.c);  // latin1 bytes
      EXPECT_EQ(v.size(), k.v);
    } else {
      EXPECT_EQ(chars(c), k.c) << "[" << c << "]";
      EXPECT_EQ(chars(v), k.v) << "[" << v << "]";
      EXPECT_EQ(c.substr(0, 7), "Ñandú");
      EXPECT_EQ(v.substr(0, 13), "año 2026 ✓");
    }
    EXPECT_EQ(q->FieldGet("b").asString(), std::string("ab") + std::string(8, ' '));
    EXPECT_EQ(q->FieldGet("m").asString(), "memo");
    // A value put in is padded the same way, and saved without its padding.
    const bool latin1 = std::string(k.charset) == "latin1";
    q->FieldPut("c", latin1 ? "\xFC" : "ü");
    const std::string put = q->FieldGet("c").asString();
    EXPECT_EQ(latin1 ? put.size() : chars(put), k.c);
    ASSERT_TRUE(q->Save().asBool());
    EXPECT_EQ(srv->Query("SELECT HEX(c) FROM qt_width")->FieldGet(1).asString().substr(0, 4), "C3BC");
    exec("UPDATE qt_width SET c = 'Ñandú'");
    s->End();
  }
}

TEST_F(Query, NullsByColumnTypeAndPadding) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  exec("UPDATE qt_people SET name = NULL, age = NULL WHERE id = 2");
  {
    PadSetting pad(true);
    auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
    EXPECT_EQ(q->FieldLen("name"), 10 * 4);  // bytes of the connection's utf8mb4
    EXPECT_EQ(q->FieldType("name"), "C");
    EXPECT_EQ(q->FieldGet("name").asString(), padded("Ann", q, "name"));
    EXPECT_TRUE(q->FieldGet("married").asBool());
    EXPECT_EQ(q->FieldGet("born").asDate(), Date::fromYMD(2010, 5, 17));
    EXPECT_EQ(q->FieldGet("notes").asString(), "first");  // memo: never padded
    EXPECT_EQ(q->FieldGet("MARRIED"), q->FieldGet(4));
    EXPECT_EQ(q->FieldGet("Married"), q->FieldGet("married"));

    q->GoTo(2);
    EXPECT_EQ(q->FieldGet("name").asString(), padded("", q, "name"));
    EXPECT_TRUE(q->FieldGet("age").isNumber());
    EXPECT_EQ(q->FieldGet("age").asInt(), 0);
    EXPECT_FALSE(q->FieldGet("married").asBool());  // 0
    EXPECT_TRUE(q->FieldGet("born").isDate());
    EXPECT_TRUE(q->FieldGet("born").asDate().empty());
    EXPECT_EQ(q->FieldGet("notes").asString(), "");
    q->Refresh();  // a reload keeps the row
    q->GoTo(3);
    EXPECT_TRUE(q->FieldGet("married").asBool());  // TINYINT 5
  }
  {
    PadSetting pad(false);
    auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
    EXPECT_EQ(q->FieldGet("name").asString(), "Ann");
    q->GoTo(2);
    EXPECT_EQ(q->FieldGet("name").asString(), "");
  }
  EXPECT_TRUE(padRight());

  auto q = srv->Query("SELECT * FROM qt_people");
  EXPECT_EQ(q->FieldType(0), "U");
  EXPECT_EQ(q->FieldType(q->FCount() + 1), "U");
  // FieldKind agrees with FieldType's letter on every column, and on none.
  for (long n = 0; n <= q->FCount() + 1; ++n)
    EXPECT_EQ(std::string(1, static_cast<char>(q->FieldKind(n))), q->FieldType(n)) << "column " << n;
  EXPECT_EQ(q->FieldKind("notes"), Kind::Memo);
  EXPECT_EQ(q->FieldLen(0), 0);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(q->FieldName(0), "");
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldNumber});
  EXPECT_EQ(q->FieldPos("nosuch"), 0);
  EXPECT_EQ(q->FieldPos(" name"), 0);  // blanks around a name are not ignored
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldName, kErrFieldName}));
  EXPECT_TRUE(q->FieldGet("nosuch").isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldName, kErrFieldValue}));
  EXPECT_TRUE(q->FieldGet(99).isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldNumber, kErrFieldValue}));
}

// A query whose server object is gone refuses as it would with one, with
// nobody to report to: nothing is read past the columns, nothing of another
// kind is stored.
TEST_F(Query, RefusalsHoldWithoutAServer) {
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  q->oServer = Value();
  EXPECT_EQ(q->FieldName(0), "");
  EXPECT_EQ(q->FieldName(99), "");
  EXPECT_TRUE(q->FieldPut("age", "40").isNil());
  EXPECT_EQ(q->FieldGet("age").asInt(), 39);
  EXPECT_TRUE(q->IsEqual("age"));
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, FieldPutKindsAndEscaping) {
  VELTRO_SKIP_ON_CLUSTER("ids 1, 2, 3 expected from AUTO_INCREMENT, which steps by the cluster size");
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_TRUE(q->FieldPut("age", "40").isNil());
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldKind});
  EXPECT_EQ(q->FieldGet("age").asInt(), 39);
  EXPECT_TRUE(q->IsEqual("age"));
  EXPECT_TRUE(q->FieldPut("married", 1).isNil());
  EXPECT_TRUE(q->FieldPut("born", "2011-01-01").isNil());
  EXPECT_EQ(takeErrors(), (std::vector<int>{kErrFieldKind, kErrFieldKind}));

  EXPECT_EQ(q->FieldPut("age", 40).asInt(), 40);
  EXPECT_FALSE(q->IsEqual("age"));
  EXPECT_TRUE(q->IsEqual("name"));
  EXPECT_TRUE(q->FieldPut(99, 1).isNil());
  EXPECT_TRUE(errors.empty());

  // Held trimmed but as given: the text is escaped once, by Save, for its connection.
  EXPECT_EQ(q->FieldPut("name", "  O'Bri\\n  ").asString(), "O'Bri\\n");
  EXPECT_EQ(q->FieldGet("name").asString(), padded("O'Bri\\n", q, "name"));
  EXPECT_EQ(q->FieldPut("notes", " it's ").asString(), "it's");
  EXPECT_EQ(q->FieldGet("notes").asString(), "it's");
  EXPECT_EQ(q->FieldPut("name", "a'b").asString(), "a'b");
  EXPECT_EQ(q->FieldGet("name").asString(), padded("a'b", q, "name"));
  EXPECT_EQ(q->Save(), Value(true));
  EXPECT_EQ(text("SELECT name FROM qt_people WHERE id = 1"), "a'b");
  EXPECT_EQ(text("SELECT notes FROM qt_people WHERE id = 1"), "it's");
  EXPECT_EQ(scalar("SELECT age FROM qt_people WHERE id = 1").asInt(), 40);
  EXPECT_TRUE(errors.empty());
}

TEST_F(Query, FieldMessagesByName) {
  people();
  auto q = srv->Query("SELECT * FROM qt_people ORDER BY id");
  EXPECT_EQ(q->send("NAME").asString(), padded("Ann", q, "name"));
  EXPECT_EQ(q->send("Name"), q->send("name"));
  EXPECT_EQ(q->send("_age", 31).asInt(), 31);
  EXPECT_EQ(q->FieldGet("age").asInt(), 31);
  EXPECT_EQ(q->send("_AGE", Value()).asInt(), 31);  // assigning nil reads
  EXPECT_EQ(q->send("RecCount").asInt(), 3);        // methods win over columns
  EXPECT_EQ(q->send("_Cargo", "mine").asString(), "mine");
  EXPECT_EQ(q->Cargo.asString(), "mine");
  q->send("_age", "text");  // checked as FieldPut does
  EXPECT_EQ(takeErrors(), std::vector<int>{kErrFieldKind});

  ErrorPtr err = guarded([&] { q->send("_nosuch", "x"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubSystem.asString(), "BASE");
  EXPECT_EQ(err->SubCode.asInt(), 1005);
  EXPECT_EQ(err->Severity.asInt(), 2);
  EXPECT_EQ(err->Description.asString(), "Message not found");
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: nosuch");

  err = guarded([&] { q->send("NoSuch"); });
  ASSERT_TRUE(err);
  EXPECT_EQ(err->SubCode.asInt(), 1004);
  EXPECT_EQ(err->Operation.asString(), "TQUILLYNQRY: nosuch");
  EXPECT_TRUE(errors.empty());
}

// Values read back as the caller wrote them, wider BIT columns as numbers, and
// relative changes of text columns by CONCAT on a strict server.
TEST_F(Query, ValuesKeepTheirTextBitsAndRelativeTexts) {
  table("qt_mend", "id int PRIMARY KEY, name varchar(20), flags bit(12), one bit(1), memo text");
  exec("INSERT INTO qt_mend VALUES (1, 'D''Arcy', b'101000000101', b'1', 'm'), (2, 'x', b'0', b'0', NULL)");
  QueryPtr a = srv->Query("SELECT * FROM qt_mend ORDER BY id");
  EXPECT_EQ(a->FieldGet("flags").asInt(), 0xA05);
  EXPECT_TRUE(a->FieldGet("one").asBool());  // BIT(1): a flag
  EXPECT_EQ(a->FieldType("flags"), "N");
  EXPECT_EQ(a->FieldType("one"), "L");
  // A value copied from one query to another is stored once, unescaped.
  QueryPtr b = srv->Query("SELECT * FROM qt_mend WHERE id = 2");
  b->FieldPut("name", a->FieldGet("name"));
  EXPECT_EQ(std::string(trimRight(b->FieldGet("name").asString())), "D'Arcy");
  b->FieldPut("flags", a->FieldGet("flags"));
  EXPECT_EQ(b->Save(), Value(true));
  EXPECT_EQ(text("SELECT name FROM qt_mend WHERE id = 2"), "D'Arcy");
  EXPECT_EQ(scalar("SELECT flags + 0 FROM qt_mend WHERE id = 2").asInt(), 0xA05);
  // A BIT value in the whole-row condition of a table without a key finds its row.
  table("qt_bits", "b bit(8), n int");
  exec("INSERT INTO qt_bits VALUES (b'10000001', 1), (b'00000010', 2)");
  QueryPtr c = srv->Query("SELECT * FROM qt_bits ORDER BY n");
  c->FieldPut("n", 10);
  EXPECT_EQ(c->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT n FROM qt_bits WHERE b = 129").asInt(), 10);
  a->End();
  b->End();
  c->End();

  // A key of 0 finds its row (0 is an empty number, but a key column cannot be NULL).
  table("qt_zero", "id int PRIMARY KEY, n int");
  exec("SET SESSION sql_mode = 'NO_AUTO_VALUE_ON_ZERO'");
  exec("INSERT INTO qt_zero VALUES (0, 1), (1, 1)");
  QueryPtr z = srv->Query("SELECT * FROM qt_zero ORDER BY id");
  EXPECT_EQ(z->MakePrimaryKeyWhere(), "id=0");
  z->FieldPut("n", 5);
  EXPECT_EQ(z->Save(), Value(true));
  EXPECT_EQ(scalar("SELECT n FROM qt_zero WHERE id = 0").asInt(), 5);
  EXPECT_EQ(scalar("SELECT n FROM qt_zero WHERE id = 1").asInt(), 1);
  z->End();

  exec("SET SESSION sql_mode = 'STRICT_ALL_TABLES'");
  struct Case {
    const char* column;
    Value change;
    const char* expected;
  };
  const Case cases[] = {{"name", Value("+x"), "D'Arcy+x"}, {"memo", Value::memo("'+y"), "m'+y"}, {"id", Value(10), "11"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    EXPECT_TRUE(srv->Update("qt_mend", Value::array({c.column}), Value::array({Value::array({c.change})}), "id = 1"));
    EXPECT_EQ(text(std::string("SELECT CONCAT(") + c.column + ") FROM qt_mend WHERE id = " +
                   (c.column[0] == 'i' ? "11" : "1")),
              c.expected);
  }
  EXPECT_TRUE(takeErrors().empty());
}

}  // namespace veltro::testing
