// Databases and sources built to make the readers hang, fill the disk or
// pass damage on to the input method.
#include <sqlite3.h>

#include <chrono>

#include "convert/linux_formats.h"
#include "support/test_support.h"

namespace mirel::linux_table {
namespace {

namespace fs = std::filesystem;

// Builds a database file from SQL and gives its bytes.
std::string BuildDatabase(const fs::path& path, const std::string& sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
  return test::ReadBytes(path);
}

std::string Message(const Result<ReadResult>& read) {
  return read.IsOk() ? "read" : read.status().message();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(LinuxHostileTest, OnlyStoredTablesAreRead) {
  test::ScratchDir dir;
  const std::string view =
      "CREATE TABLE ime(attr, val);"
      "CREATE VIEW phrases AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) "
      "SELECT x id, 'a' tabkeys, 'b' phrase, 1 freq FROM c";
  // Without a bound on x the view never ends, and its ORDER BY id once
  // filled the disk with a sorter file; with one it computes nothing.
  for (const std::string& sql : {view, view + " WHERE x < 0", view + " ORDER BY id"}) {
    SCOPED_TRACE(sql);
    const fs::path path = dir / "view.db";
    fs::remove(path);
    BuildDatabase(path, sql);
    const auto start = std::chrono::steady_clock::now();
    Result<ReadResult> read = ReadLinuxTable(test::DiskFs(), path);
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(Message(read),
              path.string() + ": damaged ibus-table database: phrases is a view, not a table");
  }
  const std::string phrases = "CREATE TABLE phrases(id, tabkeys, phrase, freq);";
  for (const auto& [sql, message] : std::vector<std::pair<std::string, std::string>>{
           {phrases, "no ime table"},
           {phrases + "CREATE VIEW IME AS SELECT 'name' attr, 'x' val",
            "ime is a view, not a table"},
           {"CREATE TABLE ime(attr, val);"
            "CREATE VIRTUAL TABLE phrases USING fts4(id, tabkeys, phrase, freq)",
            "phrases is a virtual table, not a stored one"}}) {
    fs::remove(dir / "odd.db");
    EXPECT_EQ(Message(ReadIbusDatabase(BuildDatabase(dir / "odd.db", sql))),
              "damaged ibus-table database: " + message);
  }
}

TEST(LinuxHostileTest, WorkAndTextAreBoundedByTheFileSize) {
  test::ScratchDir dir;
  // 5000 small rows; every row computes a 3600-term expression stored once
  // in the schema.
  std::string inner = "max(id";
  for (int i = 1; i < 60; ++i) inner += ",id";
  inner += ")";
  std::string outer = "max(" + inner;
  for (int i = 1; i < 60; ++i) outer += "," + inner;
  outer += ")";
  const std::string rows =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 5000) ";
  const std::string slow = BuildDatabase(dir / "slow.db",
                                         "CREATE TABLE ime(attr, val);"
                                         "CREATE TABLE phrases(id, tabkeys, phrase, freq AS (" +
                                             outer + "));" + "INSERT INTO phrases " + rows +
                                             "SELECT x, 'a', '工' FROM c");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Message(ReadIbusDatabase(slow)),
            "damaged ibus-table database: reading it takes far too long for its size");
  EXPECT_LT(SecondsSince(start), 2.0);

  // A column added with a default lends its 64 KiB to each of 2000 rows
  // that never stored it.
  const std::string wide = BuildDatabase(
      dir / "wide.db",
      "CREATE TABLE ime(attr, val);"
      "CREATE TABLE phrases(id INTEGER PRIMARY KEY, tabkeys, freq);"
      "INSERT INTO phrases " +
          rows + "SELECT x, 'a', 1 FROM c WHERE x <= 2000;" +
          "ALTER TABLE phrases ADD COLUMN phrase DEFAULT '" + std::string(1 << 16, 'x') + "'");
  Result<ReadResult> read = ReadIbusDatabase(wide);
  EXPECT_EQ(Message(read).find("damaged ibus-table database: its rows hold far more text"), 0u)
      << Message(read);
}

TEST(LinuxHostileTest, DatabaseValuesASourceCannotHoldAreReported) {
  test::ScratchDir dir;
  // No index on id and rows stored out of order: they still come in id
  // order. WAL mode changes the header SQLite checks.
  const std::string bytes =
      BuildDatabase(dir / "odd.db",
                    "PRAGMA journal_mode=WAL;"
                    "CREATE TABLE ime(attr, val);"
                    "INSERT INTO ime VALUES ('name', 'ok'), ('layout', 'us' || char(13) || "
                    "'BEGIN_TABLE'), ('x' || char(10) || 'y', 'z'), ('icon', x'00ff'),"
                    "('a=b', 'c');"
                    "CREATE TABLE phrases(id, tabkeys, phrase, freq);"
                    "INSERT INTO phrases VALUES (6, 'f', '六', 'often'), (5, 'e', '五', 3.0),"
                    "(4, 'd', '四', x'3132'), (3, 'c', '三' || char(0) || '个', 1),"
                    "(2, 'b', '二', '12'), (1, 'a', '一', 7), (7, 'g', '七', NULL)");
  Result<ReadResult> read = ReadIbusDatabase(bytes);
  ASSERT_TRUE(read.IsOk()) << Message(read);
  EXPECT_EQ(read->table.header, "BEGIN_DEFINITION\nNAME = ok\nEND_DEFINITION\nBEGIN_TABLE\n");
  std::vector<std::string> rows;
  for (const LinuxRow& row : read->table.rows) {
    rows.push_back(row.code + " " + row.entry + " " + row.weight);
  }
  EXPECT_EQ(rows,
            (std::vector<std::string>{"a 一 7", "b 二 12", "d 四 ", "e 五 3", "f 六 ", "g 七 "}));
  const std::vector<std::pair<uint32_t, std::string>> expected = {
      {0, "setting \"LAYOUT\" is not"},      {0, "setting \"X?Y\" is not"},
      {0, "setting \"ICON\" is not"},        {0, "setting \"A=B\" is not"},
      {3, "phrase 3 holds a control"},       {4, "phrase 4 (d 四) has a frequency"},
      {6, "phrase 6 (f 六) has a frequency"}};
  ASSERT_EQ(read->diagnostics.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(read->diagnostics[i].line, expected[i].first);
    EXPECT_TRUE(read->diagnostics[i].message.starts_with(expected[i].second))
        << read->diagnostics[i].message;
  }
  Result<std::string> source =
      LinuxTableBytes(ConvertTable(read->table, LinuxFormat::kIbusSource, read->diagnostics));
  ASSERT_TRUE(source.IsOk());
  EXPECT_NE(source->find("d\t四\t0\n"), std::string::npos) << source.value();
}

TEST(LinuxHostileTest, TextReadersKeepRowsAndHeadersWhole) {
  Result<ReadResult> ibus = ReadIbusSource(
      "BEGIN_DEFINITION\nNAME = t\nEND_DEFINITION\nBEGIN_TABLE\n"
      "a\t工\t5\textra\tmore\nb\t了\t3\nEND_TABLE\n");
  ASSERT_TRUE(ibus.IsOk());
  ASSERT_EQ(ibus->table.rows.size(), 2u);
  EXPECT_EQ(ibus->table.rows[0].weight, "5");
  ASSERT_EQ(ibus->diagnostics.size(), 1u);
  EXPECT_EQ(ibus->diagnostics[0].line, 5u);

  // "..." inside a block scalar is text; only one at the start of a line
  // ends the document.
  const std::string header =
      "---\nname: t\ndescription: |\n  first\n  ...\n  last\ncolumns: [text, code]\n"
      "... # end\n";
  Result<ReadResult> rime = ReadRime(header + "工\ta\n");
  ASSERT_TRUE(rime.IsOk()) << test::Describe(rime);
  EXPECT_EQ(rime->table.header, header);
  ASSERT_EQ(rime->table.rows.size(), 1u);
  EXPECT_EQ(rime->table.rows[0].code, "a");
  EXPECT_EQ(WriteRime(rime->table), header + "工\ta\n");
  EXPECT_EQ(DetectLinuxFormat(header), LinuxFormat::kRime);
  EXPECT_FALSE(ReadRime("---\nname: t\n  ...\n工\ta\n").IsOk());
}

}  // namespace
}  // namespace mirel::linux_table
