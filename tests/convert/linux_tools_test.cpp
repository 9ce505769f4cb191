// Round trips through the input methods' own tools and over the tables
// Debian ships. `make test` installs both (see the Makefile's PACKAGES); where
// one is missing its test skips and names the package.
#include <set>

#include "convert/linux_fixtures.h"

namespace mirel::linux_table {
namespace {

using F = LinuxFormat;
namespace fs = std::filesystem;
using test::Offered;
using test::RunShell;

// A table with shared codes, duplicates, characters beyond the BMP and
// codes that are prefixes of others.
LinuxTable Sample(F format) {
  LinuxTable t;
  t.format = format;
  const char* entries[] = {"工", "戈", "式", "𠀀", "工人", "花花世界", "𪚥", "戈"};
  uint32_t line = 0;
  std::set<std::string> seen;  // fcitx5 keeps one row of a code and entry
  for (int i = 0; i < 400; ++i) {
    LinuxRow row;
    const std::string code = std::string(1, char('a' + i % 5)) +
                             (i % 3 ? std::string(1, char('a' + i % 7)) : std::string()) +
                             (i % 4 == 1 ? "y" : "");
    row.code = code;
    row.entry = entries[i % 8];
    if (!seen.insert(row.code + " " + row.entry).second) continue;
    row.weight = std::to_string(1000 - i);
    row.line = ++line;
    t.rows.push_back(row);
  }
  std::vector<Diagnostic> diagnostics;
  HeaderSettings s{"sample", "abcdefghy", 4, {"e2=p11+p12+p21+p22"}};
  t.header = BuildHeader(format, s, diagnostics);
  if (format == F::kIbusSource) t.footer = "END_TABLE\n";
  return t;
}

TEST(LinuxToolsTest, FcitxTextAndBinaryAgreeWithLibimeTabledict) {
  if (!test::HaveProgram("libime_tabledict"))
    GTEST_SKIP() << "libime_tabledict is not installed (libime-bin)";
  test::ScratchDir dir;
  const LinuxTable table = Sample(F::kFcitxText);
  const std::string text = WriteFcitxText(table);
  test::WriteBytes(dir / "ours.txt", text);
  // Ours as text, theirs as binary, ours reading it.
  ASSERT_EQ(RunShell("libime_tabledict " + (dir / "ours.txt").string() + " " +
                     (dir / "theirs.main.dict").string()),
            0);
  Result<ReadResult> theirs = ReadFcitxBinary(test::ReadBytes(dir / "theirs.main.dict"));
  ASSERT_TRUE(theirs.IsOk()) << test::Describe(theirs);
  EXPECT_EQ(Offered(theirs->table), Offered(table));
  // Ours as binary, theirs dumping it: the same text.
  Result<std::string> binary = WriteFcitxBinary(table);
  ASSERT_TRUE(binary.IsOk()) << test::Describe(binary);
  test::WriteBytes(dir / "ours.main.dict", binary.value());
  ASSERT_EQ(RunShell("libime_tabledict -d " + (dir / "ours.main.dict").string() + " " +
                     (dir / "dumped.txt").string()),
            0);
  EXPECT_EQ(test::ReadBytes(dir / "dumped.txt"), text);
}

TEST(LinuxToolsTest, IbusTableCreatedbBuildsOurSourceInOrder) {
  if (!test::HaveProgram("ibus-table-createdb"))
    GTEST_SKIP() << "ibus-table-createdb is not installed (ibus-table)";
  test::ScratchDir dir;
  const LinuxTable table = Sample(F::kIbusSource);
  test::WriteBytes(dir / "ours.txt", WriteIbusSource(table));
  ASSERT_EQ(RunShell("ibus-table-createdb -n " + (dir / "ours.db").string() + " -s " +
                     (dir / "ours.txt").string()),
            0);
  Result<ReadResult> db = ReadIbusDatabase(test::ReadBytes(dir / "ours.db"));
  ASSERT_TRUE(db.IsOk()) << test::Describe(db);
  EXPECT_TRUE(db->diagnostics.empty());
  EXPECT_EQ(Offered(db->table), Offered(table));
  Result<HeaderSettings> s = ParseHeader(F::kIbusDatabase, db->table.header);
  ASSERT_TRUE(s.IsOk());
  EXPECT_EQ(s->keys, "abcdefghy");
  EXPECT_EQ(s->maxCodeLength, 4u);
}

TEST(LinuxToolsTest, RimeDeployerCompilesOurDictionary) {
  if (!test::HaveProgram("rime_deployer"))
    GTEST_SKIP() << "rime_deployer is not installed (librime-bin)";
  test::ScratchDir dir;
  LinuxTable table = Sample(F::kRime);
  // A converted table carries its name into the header; the schema names it.
  std::vector<Diagnostic> diagnostics;
  LinuxTable rime = ConvertTable(Sample(F::kFcitxText), F::kRime, diagnostics);
  EXPECT_TRUE(diagnostics.empty());
  SetRimeName(rime, "sample");
  for (const LinuxTable* t : {&table, &rime}) {
    test::WriteBytes(dir / "sample.dict.yaml", WriteRime(*t));
    ASSERT_EQ(test::CompileRime(dir, "sample"), 0);
    EXPECT_TRUE(fs::exists(dir / "build/sample.table.bin") &&
                fs::exists(dir / "build/sample.prism.bin"));
  }
}

// Rime itself, through its library, offers the rows of our dictionary in
// the editor's order: weights as read, and after a save that moved rows.
TEST(LinuxToolsTest, RimeOffersOurRowsInOrder) {
  if (!test::HaveProgram("rime_deployer"))
    GTEST_SKIP() << "rime_deployer is not installed (librime-bin)";
  test::ScratchDir dir;
  Result<ReadResult> read = ReadRime(
      "---\nname: sample\nversion: \"1\"\n...\n"
      "工\ta\t10\n戈\ta\t30\n式\ta\t20\n𠀀\ta\t20\n甲\tb\n乙\tb\n丙\tb\t1\n");
  ASSERT_TRUE(read.IsOk());
  // Moved: 工 to the top of a, 丙 to the bottom of b.
  const test::EditorRows moved(
      {u"工\ta", u"戈\ta", u"式\ta", u"𠀀\ta", u"甲\tb", u"乙\tb", u"丙\tb"});
  test::WriteBytes(dir / "sample.dict.yaml", WriteRime(read->table));
  EXPECT_EQ(test::OfferedByRime(dir, "sample", {"a", "b"}),
            (std::map<std::string, std::vector<std::string>>{{"a", {"戈", "式", "𠀀", "工"}},
                                                             {"b", {"丙", "甲", "乙"}}}));
  test::WriteBytes(dir / "sample.dict.yaml", WriteRime(FromMirelRows(read->table, moved.rows)));
  EXPECT_EQ(test::OfferedByRime(dir, "sample", {"a", "b"}),
            (std::map<std::string, std::vector<std::string>>{{"a", {"工", "戈", "式", "𠀀"}},
                                                             {"b", {"甲", "乙", "丙"}}}));
}

// The dictionaries Debian ships: an unchanged table saves byte for byte
// where the format is text (and, through libime, for the binary form too),
// and converts into every other format with each row either written or
// reported. Under the sanitizers, whose slowdown would make the large ones
// take minutes, the two smallest walk the same code.
void CheckShipped(const std::vector<std::pair<const char*, const char*>>& places, F format,
                  const char* package) {
  std::vector<fs::path> found = test::DebianTables(places);
  if (found.empty()) GTEST_SKIP() << "no such table of Debian is installed (" << package << ")";
  if (test::kSanitized && found.size() > 2) found.resize(2);
  for (const fs::path& path : found) {
    SCOPED_TRACE(path.string());
    Result<ReadResult> read = ReadLinuxTable(test::DiskFs(), path, format);
    ASSERT_TRUE(read.IsOk()) << test::Describe(read);
    EXPECT_TRUE(read->diagnostics.empty()) << read->diagnostics.front().message;
    ASSERT_FALSE(read->table.rows.empty());
    if (format != F::kIbusDatabase) {
      Result<std::string> bytes = LinuxTableBytes(read->table);
      ASSERT_TRUE(bytes.IsOk()) << test::Describe(bytes);
      EXPECT_TRUE(bytes.value() == test::ReadBytes(path)) << "changed on an unchanged save";
    }
    for (F target : {F::kFcitxText, F::kRime, F::kIbusSource}) {
      std::vector<Diagnostic> diagnostics;
      LinuxTable converted = ConvertTable(read->table, target, diagnostics);
      EXPECT_EQ(converted.rows.size() + diagnostics.size(), read->table.rows.size());
      Result<std::string> bytes = LinuxTableBytes(converted);
      ASSERT_TRUE(bytes.IsOk()) << test::Describe(bytes);
      Result<ReadResult> back = test::ReadText(target, bytes.value());
      ASSERT_TRUE(back.IsOk()) << test::Describe(back);
      EXPECT_EQ(back->table.rows.size(), converted.rows.size());
    }
  }
}

TEST(LinuxToolsTest, DebianRimeDictionaries) {
  CheckShipped({{"/usr/share/rime-data", ".dict.yaml"}}, F::kRime, "rime-data-stroke");
}

TEST(LinuxToolsTest, DebianFcitxTables) {
  CheckShipped({{"/usr/share/fcitx5/table", ".main.dict"}, {"/usr/share/libime", ".main.dict"}},
               F::kFcitxBinary, "fcitx5-table-cns11643");
}

TEST(LinuxToolsTest, DebianIbusTables) {
  CheckShipped({{"/usr/share/ibus-table/tables", ".db"}}, F::kIbusDatabase, "ibus-table-quick5");
}

}  // namespace
}  // namespace mirel::linux_table
