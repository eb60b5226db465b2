// The restore's reading of a dump: lines cut at CR LF pairs whatever the read
// size, and which lines become statements.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "restore_line.h"

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

TEST(Restore, LineClassification) {
  auto statement = classifyLine("  \tINSERT INTO t VALUES (1,'x;');");
  EXPECT_EQ(statement.kind, LineKind::Statement);
  EXPECT_EQ(statement.text, "INSERT INTO t VALUES (1,'x;')");
  EXPECT_EQ(classifyLine("LOCK TABLES t WRITE;").text, "LOCK TABLES t WRITE");
  EXPECT_EQ(classifyLine("UNLOCK TABLES").kind, LineKind::Statement);
  EXPECT_EQ(classifyLine("DROP TABLE IF EXISTS t").kind, LineKind::Statement);
  EXPECT_EQ(classifyLine("CREATE TABLE t (id INT)").kind, LineKind::Statement);

  // Data that holds a keyword never makes a line a statement of its own.
  EXPECT_EQ(classifyLine("x', 'DROP TABLE t')").kind, LineKind::Ignore);
  EXPECT_EQ(classifyLine("insert into t values (1)").kind, LineKind::Ignore);
  EXPECT_EQ(classifyLine("-- Dumping data for table t").kind, LineKind::Ignore);
  EXPECT_EQ(classifyLine("** END t").kind, LineKind::Ignore);
  EXPECT_EQ(classifyLine("").kind, LineKind::Ignore);
  EXPECT_EQ(classifyLine(";").kind, LineKind::Ignore);

  auto begin = classifyLine("** BEGIN clientes");
  EXPECT_EQ(begin.kind, LineKind::TableBegin);
  EXPECT_EQ(begin.name, "clientes");
  EXPECT_TRUE(begin.text.empty());

  auto database = classifyLine("CREATE DATABASE IF NOT EXISTS shop");
  EXPECT_EQ(database.kind, LineKind::CreateDatabase);
  EXPECT_EQ(database.text, "CREATE DATABASE IF NOT EXISTS shop");
  EXPECT_EQ(database.name, "shop");
}

}  // namespace
}  // namespace veltro
