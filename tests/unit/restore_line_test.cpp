// The restore's reading of a dump: lines cut at CR LF pairs whatever the read
// size, and which lines become statements.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dump_format.h"
#include "dump_restore_line.h"

namespace veltro {
namespace {

using restore::classifyLine;
using restore::LineKind;

std::vector<std::string> readLines(const std::string& path, std::size_t bufferSize) {
  restore::CrLfReader reader(path, bufferSize);
  std::vector<std::string> lines;
  std::string line;
  while (reader.next(line)) lines.push_back(line);
  return lines;
}

TEST(Restore, LinesCutAtCrLfAcrossReads) {
  const std::string path = (std::filesystem::temp_directory_path() / "veltro_restore_lines.sql").string();
  const std::string dump = std::string("a\r\nb\nc\r\r\n\r\n\nz\0x\r", 16) + "\n" + "last";
  { std::ofstream(path, std::ios::binary) << dump; }
  const std::vector<std::string> expected = {"a", "b\nc\r", "", std::string("\nz\0x", 4), "last"};
  for (std::size_t size : {1u, 2u, 3u, 7u, 1u << 20}) EXPECT_EQ(readLines(path, size), expected) << size;

  { std::ofstream(path, std::ios::binary | std::ios::trunc) << "x\r\n"; }
  EXPECT_EQ(readLines(path, 2), (std::vector<std::string>{"x", ""}));
  { std::ofstream(path, std::ios::binary | std::ios::trunc); }
  EXPECT_EQ(readLines(path, 4), std::vector<std::string>{""});
  std::filesystem::remove(path);
  EXPECT_EQ(readLines(path, 4), std::vector<std::string>{""});  // a missing file reads as empty
}

// Only the statements Backup writes are sent, each naming the table of its
// block; everything else that is not a comment or a marker is refused.
TEST(Restore, LineClassification) {
  struct Case {
    const char* line;
    LineKind kind;
    const char* text;  // the statement sent, for statements
  };
  const Case cases[] = {
      // The forms Backup writes, new and old.
      {"  \tINSERT INTO `t` (`a`,`b`) VALUES (1,'x;'),(NULL,0x41),(-2.5e-3,_binary 'y');", LineKind::Statement,
       "INSERT INTO `t` (`a`,`b`) VALUES (1,'x;'),(NULL,0x41),(-2.5e-3,_binary 'y')"},
      {"INSERT INTO t (id,born,note) VALUES (1,'20100720','a\\'b'),(2,'19991231','x')", LineKind::Statement, nullptr},
      {"LOCK TABLES `t` WRITE;", LineKind::Statement, "LOCK TABLES `t` WRITE"},
      {"LOCK TABLES t WRITE;", LineKind::Statement, "LOCK TABLES t WRITE"},
      {"UNLOCK TABLES;", LineKind::Statement, "UNLOCK TABLES"},
      {"UNLOCK TABLES", LineKind::Statement, "UNLOCK TABLES"},
      {"DROP TABLE IF EXISTS `t`;", LineKind::Statement, nullptr},
      {"CREATE TABLE `t` (`id` int(11) NOT NULL, `s` varchar(9) DEFAULT 'SELECT;') ENGINE=InnoDB;",
       LineKind::Statement, nullptr},
      {"SET NAMES binary;", LineKind::Statement, "SET NAMES binary"},
      {"SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO';", LineKind::Mode, "SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO'"},
      {"SET sql_mode = 'STRICT_TRANS_TABLES,NO_BACKSLASH_ESCAPES';", LineKind::Mode, nullptr},
      {"SET sql_mode = '';", LineKind::Mode, nullptr},
      {"ALTER TABLE `t` DISABLE KEYS;", LineKind::Statement, nullptr},
      {"ALTER TABLE `t` ENABLE KEYS;", LineKind::Statement, nullptr},
      {"DELIMITER ;;", LineKind::TriggerOpen, nullptr},
      {"DELIMITER ;", LineKind::TriggerClose, nullptr},
      // Comments, markers and blank lines.
      {"-- Dumping data for table t", LineKind::Ignore, nullptr},
      {"-- ** END t", LineKind::Ignore, nullptr},
      {"** END t", LineKind::Ignore, nullptr},
      {"", LineKind::Ignore, nullptr},
      {"   ", LineKind::Ignore, nullptr},
      // Statements of other forms, on other tables, or carrying more.
      {"DROP TABLE IF EXISTS canary", LineKind::Refused, nullptr},
      {"DROP TABLE `t`", LineKind::Refused, nullptr},
      {"INSERT INTO canary (a) VALUES (1)", LineKind::Refused, nullptr},
      {"INSERT INTO t (a) VALUES (1); DROP TABLE canary", LineKind::Refused, nullptr},
      {"INSERT INTO t (a) VALUES ((SELECT 1))", LineKind::Refused, nullptr},
      {"INSERT INTO t (a) SELECT User FROM mysql.user", LineKind::Refused, nullptr},
      {"INSERT INTO t (a) VALUES (1) ON DUPLICATE KEY UPDATE a = 2", LineKind::Refused, nullptr},
      {"INSERT INTO t (a) VALUES ('unclosed)", LineKind::Refused, nullptr},
      {"CREATE TABLE stolen SELECT User, Host, authentication_string FROM mysql.user", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (a int) SELECT user AS a FROM mysql.user", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (a int) -- x", LineKind::Refused, nullptr},
      {"LOCK TABLES t READ, canary WRITE", LineKind::Refused, nullptr},
      {"SET GLOBAL general_log = 0", LineKind::Refused, nullptr},
      {"x', 'DROP TABLE t')", LineKind::Refused, nullptr},
      {"insert into t values (1)", LineKind::Refused, nullptr},
      // Read as the server reads them: a backslash inside a backquoted name is a
      // character, a quote inside a comment is no quote, a versioned comment is code.
      {"CREATE TABLE `t` (`a\\` int) ENGINE=InnoDB;", LineKind::Statement, nullptr},
      {"CREATE TABLE `t` (`a\\` int) SELECT 1 AS `a\\`", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (a int /* ' */) SELECT User AS a FROM mysql.user /* ' */", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (a int) /*!50000 SELECT 1 AS a */", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (a int) /*M!100000 SELECT 1 AS a */", LineKind::Refused, nullptr},
      {"CREATE TABLE `t` (`d` datetime /* mariadb-5.3 */) ENGINE=Aria", LineKind::Statement, nullptr},
      {"CREATE TABLE `t` (a int))", LineKind::Refused, nullptr},
      {"INSERT\tINTO `t` (`a`) VALUES (1)", LineKind::Refused, nullptr},
      // A view, as Backup writes it.
      {"DROP VIEW IF EXISTS `t`;", LineKind::Statement, nullptr},
      {"CREATE ALGORITHM=UNDEFINED SQL SECURITY DEFINER VIEW `t` AS select `a` AS `a` from `b`;", LineKind::Statement,
       nullptr},
      {"CREATE VIEW `t` AS select 1; DROP TABLE canary", LineKind::Refused, nullptr},
      {"CREATE VIEW `t` AS select 1 /* x */", LineKind::Refused, nullptr},
      {"CREATE VIEW `canary` AS select 1", LineKind::Refused, nullptr},
      {"CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`%` VIEW `t` AS select 1", LineKind::Refused, nullptr},
      {"CREATE VIEW `t` AS", LineKind::Refused, nullptr},
      {"  UNLOCK TABLES\r", LineKind::Refused, nullptr},
      {"  UNLOCK TABLES\r;", LineKind::Refused, nullptr},
      {"LOCK \n  UNLOCK TABLES", LineKind::Refused, nullptr},
      {"UNLOCK TABLES\f", LineKind::Refused, nullptr},
      {"INSERT UNLOCK TABLES", LineKind::Refused, nullptr},
      {"\nLOCK TABLES `t` WRITE;", LineKind::Refused, nullptr},
      // A long text split where an escape follows a high byte: the server joins the pieces.
      {"INSERT INTO `t` (`a`) VALUES ('a\xbf' '\\0b'),('x' 'y' 'z')", LineKind::Statement, nullptr},
      {"INSERT INTO `t` (`a`) VALUES ('a' 'b)", LineKind::Refused, nullptr},
      {"DROP TABLE IF  EXISTS `t`", LineKind::Refused, nullptr},
      {"INSERT INTO `t` (`a`) VALUES ('x\\'') /* ') */", LineKind::Refused, nullptr},
      {"INSERT INTO `t` (`a`) VALUES (1) #", LineKind::Refused, nullptr},
      {"DROP TABLE IF EXISTS `t` /* ` */", LineKind::Refused, nullptr},
      {"INSERT INTO `t` (`a`) VALUES (1.5e+3),(-.5),(0xFF),(X'41'),(b'1'),(_utf8mb4'x')", LineKind::Statement,
       nullptr},
      {";", LineKind::Refused, nullptr},
      {"SET sql_mode = 'a''b'", LineKind::Refused, nullptr},
      {"SET sql_mode = 'ANSI', time_zone = 'x'", LineKind::Refused, nullptr},
      {"SET sql_mode = CONCAT('A', (SELECT 1))", LineKind::Refused, nullptr},
      {"SET sql_mode = 'ANSI'; DROP TABLE canary", LineKind::Refused, nullptr},
      {"ALTER TABLE `canary` DISABLE KEYS", LineKind::Refused, nullptr},
      {"ALTER TABLE `t` DISABLE KEYS, DROP COLUMN a", LineKind::Refused, nullptr},
      {"ALTER TABLE `t` DROP COLUMN a", LineKind::Refused, nullptr},
      {"DELIMITER $$", LineKind::Refused, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto action = classifyLine(c.line, "t");
    EXPECT_EQ(action.kind, c.kind);
    if (c.text) {
      EXPECT_EQ(action.text, c.text);
    }
  }
  // Before any BEGIN marker no table is named.
  EXPECT_EQ(classifyLine("INSERT INTO t (a) VALUES (1)").kind, LineKind::Refused);

  for (const char* marker : {"-- ** BEGIN my table", "** BEGIN my table"}) {
    auto begin = classifyLine(marker);
    EXPECT_EQ(begin.kind, LineKind::TableBegin);
    EXPECT_EQ(begin.name, "my table");
  }
  EXPECT_EQ(classifyLine("INSERT INTO `my table` (`a`) VALUES (1)", "my table").kind, LineKind::Statement);
  EXPECT_EQ(classifyLine("INSERT INTO `a``b` (`a`) VALUES (1)", "a`b").kind, LineKind::Statement);
  EXPECT_EQ(classifyLine("INSERT INTO `a\\` (`b\\`) VALUES (1)", "a\\").kind, LineKind::Statement);
  EXPECT_EQ(classifyLine("DROP TABLE IF EXISTS `a\\`;", "a\\").kind, LineKind::Statement);

  for (const char* line : {"CREATE DATABASE IF NOT EXISTS shop", "CREATE DATABASE IF NOT EXISTS `shop`;"}) {
    auto database = classifyLine(line);
    EXPECT_EQ(database.kind, LineKind::CreateDatabase);
    EXPECT_EQ(database.name, "shop");
  }
  EXPECT_EQ(classifyLine("CREATE DATABASE IF NOT EXISTS shop; DROP DATABASE x").kind, LineKind::Refused);
  EXPECT_EQ(classifyLine("CREATE DATABASE IF NOT\r\r EXISTS shop").kind, LineKind::Refused);
  EXPECT_EQ(classifyLine("CREATE DATABASE IF NOT EXISTS `shop` CHARACTER SET latin1 COLLATE latin1_swedish_ci;").kind,
            LineKind::CreateDatabase);
  EXPECT_EQ(classifyLine("CREATE DATABASE IF NOT EXISTS shop CHARACTER SET latin1").kind, LineKind::Refused);
  EXPECT_EQ(classifyLine("-- ** This dump ends with a closing line").kind, LineKind::Format);
  const auto closing = classifyLine("-- ** Dump complete: 2 tables, digest 0123456789abcdef");
  EXPECT_EQ(closing.kind, LineKind::Closing);
  EXPECT_EQ(closing.name, "2 tables, digest 0123456789abcdef");
}

// The closing line's digest is the same however the bytes arrive, and
// changes with any byte, its place or the length.
// A trigger's lines, joined: one CREATE TRIGGER on the block's table, its
// body whole; the server reads the rest (";" inside a body included) as one
// statement, since the client sends no multi-statements.
TEST(Restore, TriggerDefinitions) {
  struct Case {
    std::string text;
    bool accepted;
    bool backslashEscapes = true;
  };
  const std::string head = "CREATE TRIGGER `tr` BEFORE INSERT ON `t` FOR EACH ROW ";
  const Case cases[] = {
      {head + "SET NEW.a = 1;;", true},
      {head + "BEGIN\n  -- a comment; here\r\n  SET NEW.s = CONCAT('x;', NEW.s); # more\nEND;;", true},
      {head + "/* first */ SET NEW.a = 1 -- last\n;;", true},
      {"CREATE TRIGGER tr AFTER DELETE ON t FOR EACH ROW INSERT INTO log VALUES (OLD.a);;", true},
      {head + "SET @x = 'a\\';;", true, false},  // no backslash escapes: the quote closes
      {head + "SET @x = 'a\\';;", false, true},
      {head + "SET NEW.a = 1", false},  // no ";;" at its end
      {head + "SET NEW.a = 'open;;", false},
      {head + "SET NEW.a = 1 /* open;;", false},
      {head + "SET NEW.a = 1 /*!50000 ;;", false},
      {head + ";;", false},
      {"CREATE TRIGGER `tr` BEFORE INSERT ON `canary` FOR EACH ROW SET NEW.a = 1;;", false},
      {"CREATE DEFINER=`root`@`%` TRIGGER `tr` BEFORE INSERT ON `t` FOR EACH ROW SET NEW.a = 1;;", false},
      {"CREATE TRIGGER `tr` INSTEAD INSERT ON `t` FOR EACH ROW SET NEW.a = 1;;", false},
      {"CREATE TRIGGER `tr` BEFORE INSERT ON `t` /* x */ FOR EACH ROW SET NEW.a = 1;;", false},
      {"DROP TABLE canary;;", false},
      {"CREATE PROCEDURE p() SELECT 1;;", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto action = restore::classifyTrigger(c.text, "t", c.backslashEscapes);
    EXPECT_EQ(action.kind, c.accepted ? LineKind::Statement : LineKind::Refused);
    if (c.accepted) {
      EXPECT_EQ(action.text, c.text.substr(0, c.text.size() - 2));
    }
  }
}

TEST(Restore, DumpDigestOfPieces) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7 % 256);
  dump::DumpDigest whole;
  whole.update(text);
  for (std::size_t piece : {1u, 3u, 7u, 8u, 9u, 64u, 999u}) {
    dump::DumpDigest parts;
    for (std::size_t at = 0; at < text.size(); at += piece) parts.update(std::string_view(text).substr(at, piece));
    EXPECT_EQ(parts.hex(), whole.hex()) << piece;
  }
  for (const std::string& other : {text.substr(1), text + '\0', std::string(text).replace(500, 1, "x"),
                                   text.substr(0, 8), text.substr(0, 7)}) {
    dump::DumpDigest d;
    d.update(other);
    EXPECT_NE(d.hex(), whole.hex());
  }
  EXPECT_EQ(whole.hex().size(), 16u);
}

}  // namespace
}  // namespace veltro
