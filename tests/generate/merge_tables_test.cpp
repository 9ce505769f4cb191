#include "generate/merge_tables.h"

#include <span>

#include "platform/paths.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::TableBytes;
using test::Utf16Le;

// The merged text; its line count must be the one returned and the last
// progress caption's.
std::u16string Merge(std::u16string_view first, std::vector<std::u16string_view> further = {}) {
  std::u16string out, caption;
  const Result<uint64_t> lines =
      MergeTableTexts(first, further, out, [&](std::u16string_view c) { caption = c; });
  EXPECT_OK(lines);
  const auto count = std::count(out.begin(), out.end(), u'\n');
  EXPECT_EQ(lines.value(), static_cast<uint64_t>(count));
  EXPECT_EQ(caption, u"码表合并 - 合并的定义个数：" + Utf8ToUtf16(std::to_string(count)));
  return out;
}

TEST(MergeTablesTest, FirstTableAloneIsCopiedUpToItsFirstEmptyLine) {
  EXPECT_EQ(Merge(u"甲\ta\r\n无TAB行\r\n乙\tb c\td\r\n\r\n丙\tc\r\n"), u"甲\ta\r\n乙\tb c\td\r\n");
  EXPECT_EQ(Merge(u"甲\ta\n乙\tb\n\n丙\tc\n"), u"甲\ta\r\n乙\tb\r\n");
  // Lone CRs end lines too and no unit after them is lost; a last line
  // without a line end is read.
  EXPECT_EQ(Merge(u"甲\ta\r乙\tb\r\r丙\tc"), u"甲\ta\r\n乙\tb\r\n");
  EXPECT_EQ(Merge(u"甲\ta\n乙\tb"), u"甲\ta\r\n乙\tb\r\n");
  EXPECT_EQ(Merge(u"\r\n甲\ta\r\n"), u"");
  // An empty entry or code is still a line with a TAB.
  EXPECT_EQ(Merge(u"\tx\r\n甲\t\r\n"), u"\tx\r\n甲\t\r\n");
}

TEST(MergeTablesTest, FurtherTablesJoinOnTheEntryAndKeepTheirCodeOrder) {
  EXPECT_EQ(Merge(u"中\tab\r\n", {u"中\tx\r\n中\ty\r\n"}), u"中\tabx\r\n中\taby\r\n");
  // Absent entries give nothing; a code repeated in a further table counts
  // once, while a repeated line of the first table is written again.
  EXPECT_EQ(Merge(u"中\tab\r\n国\tcd\r\n中\tab\r\n人\tef\r\n",
                  {u"中\tx\r\n人\tz\r\n中\tx\r\n人\tw\r\n中\tx\r\n"}),
            u"中\tabx\r\n中\tabx\r\n人\tefz\r\n人\tefw\r\n");
  // A key is the whole entry: a prefix or a longer entry does not match.
  EXPECT_EQ(Merge(u"中\ta\r\n中国\tb\r\n", {u"中国人\tx\r\n中国\ty\r\n"}), u"中国\tby\r\n");
  // Entries past a blank line of a further table are not indexed.
  EXPECT_EQ(Merge(u"中\ta\r\n国\tb\r\n", {u"中\tx\r\n\r\n国\ty\r\n"}), u"中\tax\r\n");
  EXPECT_EQ(Merge(u"中\ta\n国\tb\n", {u"中\tx\n\n国\ty\n"}), u"中\tax\r\n");
  EXPECT_EQ(Merge(u"中\ta\n", {u""}), u"");
}

TEST(MergeTablesTest, EveryCombinationIsWrittenInNestedLoopOrder) {
  EXPECT_EQ(Merge(u"字\t0\r\n", {u"字\ta\r\n字\tb\r\n", u"字\t1\r\n字\t2\r\n字\t3\r\n"}),
            u"字\t0a1\r\n字\t0a2\r\n字\t0a3\r\n字\t0b1\r\n字\t0b2\r\n字\t0b3\r\n");
  // Six tables, each contributing in its position.
  EXPECT_EQ(Merge(u"字\t1\r\n词\tx\r\n", {u"字\t2\r\n", u"字\t3\r\n", u"词\ty\r\n字\t4\r\n",
                                          u"字\t5\r\n", u"字\t6\r\n字\t7\r\n"}),
            u"字\t123456\r\n字\t123457\r\n");
  // An entry with many codes, each given twice, keeps each code once and in
  // order (past the point where repeats are found by hashing).
  std::u16string many;
  std::u16string expected;
  for (int round = 0; round < 2; ++round) {
    for (int k = 0; k < 40; ++k) {
      std::u16string code = u"c";
      code.push_back(static_cast<char16_t>(u'0' + k));
      many.append(u"词\t").append(code).append(u"\r\n");
      if (round == 0) expected.append(u"词\tq").append(code).append(u"\r\n");
    }
  }
  EXPECT_EQ(Merge(u"词\tq\r\n", {many}), expected);
}

TEST(MergeTablesTest, LongLinesAreCutTo511UnitsWithoutSplittingAPair) {
  const std::u16string entry(300, u'e');
  const std::u16string fits = entry + u"\t" + std::u16string(208, u'c');  // 509 units
  EXPECT_EQ(Merge(fits + u"\r\n"), fits + u"\r\n");
  EXPECT_EQ(Merge(entry + u"\tab\r\n", {entry + u"\t" + std::u16string(300, u'x')}),
            entry + u"\tab" + std::u16string(206, u'x') + u"\r\n");
  // Units 508 and 509 are a pair: the whole pair goes.
  std::u16string pair = entry + u"\t" + std::u16string(207, u'c') + u"\U00020000" + u"z";
  EXPECT_EQ(Merge(pair + u"\r\n"), pair.substr(0, 508) + u"\r\n");
  // A pair that ends at unit 509 is kept whole.
  pair = entry + u"\t" + std::u16string(206, u'c') + u"\U00020000" + u"z";
  EXPECT_EQ(Merge(pair + u"\r\n"), pair.substr(0, 509) + u"\r\n");
}

TEST(MergeTablesTest, SettingsTextRoundTripsAndParsesAnyLineEnd) {
  MergeSettings settings;
  settings.tables[0] = u"/表/一.txt";
  settings.tables[2] = u"/表/三.txt";
  settings.tables[5] = std::u16string(kMergePathLimit, u'p');
  const std::u16string text = FormatMergeSettings(settings);
  EXPECT_EQ(text.substr(0, 40), u"码表1=/表/一.txt\r\n码表2=\r\n码表3=/表/三.txt\r\n码表4=\r\n");
  EXPECT_EQ(ParseMergeSettings(text).tables, settings.tables);

  const MergeSettings parsed =
      ParseMergeSettings(u"码表2=/b.txt\n码表1=/a.txt\r码表4=" + std::u16string(300, u'x'));
  EXPECT_EQ(parsed.tables[0], u"/a.txt");
  EXPECT_EQ(parsed.tables[1], u"/b.txt");
  EXPECT_EQ(parsed.tables[2], u"");
  EXPECT_EQ(parsed.tables[3], std::u16string(kMergePathLimit, u'x'));
  // Only the first 4095 units are read.
  const std::u16string padded = std::u16string(4092, u' ') + u"码表1=/a.txt";
  EXPECT_EQ(ParseMergeSettings(padded).tables[0], u"");
}

// The merge reads and writes only through the FileSystem, so these run in
// memory, with file helpers of their own.
class MergeFilesTest : public ::testing::Test {
 protected:
  MergeFilesTest() { EXPECT_OK(fs_->CreateFolders(dir_)); }

  void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    EXPECT_OK(fs_->WriteWhole(path, std::as_bytes(std::span(bytes))));
  }
  std::string ReadBytes(const std::filesystem::path& path) {
    Result<std::string> bytes = fs_->ReadWhole(path);
    return bytes.IsOk() ? bytes.value() : "(unreadable)";
  }
  std::u16string Put(std::string_view name, std::string_view bytes) {
    WriteBytes(dir_ / name, bytes);
    return PathToUtf16(dir_ / name);
  }
  std::filesystem::path Output() const { return MergeOutputPath(dir_ / "1.txt"); }

  std::unique_ptr<FileSystem> fs_ = test::NewMemoryFileSystem();
  const std::filesystem::path dir_ = "/tables";
  MergeSettings settings_;
};

TEST_F(MergeFilesTest, WritesBesideTheFirstTableAndSkipsGaps) {
  MergeSettings settings;
  settings.tables[0] = Put("1.txt", Utf16Le(u"中\ta\r\n国\tb\r\n人\tc\r\n"));
  settings.tables[2] = Put("3.txt", test::Utf8(u"中\tx\n国\ty\n"));
  settings.tables[5] = Put("6.txt", Utf16Le(u"国\tz\r\n中\tw\r\n"));
  Result<GenerationReport> merged = MergeTables(*fs_, settings, {});
  ASSERT_OK(merged);
  EXPECT_EQ(merged->lines, 2u);
  EXPECT_TRUE(merged->leftOut.empty());
  EXPECT_EQ(Output(), dir_ / "[ 码表合并结果 ].txt");
  EXPECT_EQ(ReadBytes(Output()), TableBytes({u"中\taxw", u"国\tbyz"}));

  // An explicit output; no further table at all copies the first.
  settings.tables[2].clear();
  settings.tables[5].clear();
  merged = MergeTables(*fs_, settings, dir_ / "out.txt");
  ASSERT_OK(merged);
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), TableBytes({u"中\ta", u"国\tb", u"人\tc"}));
}

TEST_F(MergeFilesTest, FailuresNameTheTableAndLeaveTheOutputAsItWas) {
  WriteBytes(Output(), "old");
  MergeSettings settings;
  settings.tables[1] = Put("2.txt", Utf16Le(u"中\tx\r\n"));
  EXPECT_EQ(MergeTables(*fs_, settings, {}).status().message(), "必须指定用于合并的第一码表。");

  // A first table that exists but cannot be read.
  ASSERT_OK(fs_->CreateFolders(dir_ / "folder.txt"));
  settings.tables[0] = PathToUtf16(dir_ / "folder.txt");
  Result<GenerationReport> merged = MergeTables(*fs_, settings, Output());
  ASSERT_FALSE(merged.IsOk());
  EXPECT_EQ(merged.status().message().rfind("码表1: ", 0), 0u) << merged.status().message();

  settings.tables[0] = Put("1.txt", Utf16Le(u"中\ta\r\n"));
  settings.tables[2] = PathToUtf16(dir_ / "gone.txt");
  merged = MergeTables(*fs_, settings, {});
  ASSERT_FALSE(merged.IsOk());
  EXPECT_EQ(merged.status().message().rfind("码表3: ", 0), 0u) << merged.status().message();
  EXPECT_EQ(ReadBytes(Output()), "old");

  settings.tables[2].clear();
  EXPECT_FALSE(MergeTables(*fs_, settings, dir_ / "no-such-folder" / "out.txt").IsOk());
  ASSERT_OK(MergeTables(*fs_, settings, {}));
  EXPECT_EQ(ReadBytes(Output()), TableBytes({u"中\tax"}));
}

TEST_F(MergeFilesTest, AnEntrySharedByEveryTableIsRefusedBeforeTheDiskFills) {
  // Three tables of 1,000 rows with one entry would make 10^9 lines.
  for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
    std::u16string text;
    for (int k = 0; k < 1000; ++k) text += u"词\tc" + Utf8ToUtf16(std::to_string(k)) + u"\r\n";
    WriteBytes(dir_ / name, Utf16Le(text));
  }
  WriteBytes(Output(), "old");
  MergeSettings settings;
  settings.tables = {PathToUtf16(dir_ / "1.txt"), PathToUtf16(dir_ / "2.txt"),
                     PathToUtf16(dir_ / "3.txt")};
  EXPECT_TRUE(test::Says(MergeTables(*fs_, settings, {}), "16倍"));
  EXPECT_EQ(ReadBytes(Output()), "old");
  // Nothing else is left in the folder, no temporary file either.
  EXPECT_EQ(fs_->ListFolder(dir_).value(),
            (std::vector<std::filesystem::path>{"1.txt", "2.txt", "3.txt", Output().filename()}));

  // Two tables of the same size multiply only to the square of a few codes:
  // well inside the bound.
  settings.tables[2].clear();
  WriteBytes(dir_ / "2.txt", Utf16Le(u"词\tx\r\n词\ty\r\n"));
  Result<GenerationReport> merged = MergeTables(*fs_, settings, {});
  ASSERT_OK(merged);
  EXPECT_EQ(merged->lines, 2000u);
}

TEST_F(MergeFilesTest, LinesLeftOutOfEitherTableAreNamed) {
  settings_.tables[0] = Put("1.txt", test::Utf8(u"# 注释\n中\ta\n\n国\tb\n人\tc\n"));
  settings_.tables[1] = Put("2.txt", test::Utf8(u"中\tx\n无TAB\n国\ty\n"));
  Result<GenerationReport> merged = MergeTables(*fs_, settings_, {});
  ASSERT_OK(merged);
  EXPECT_EQ(ReadBytes(Output()), TableBytes({u"中\tax"}));
  ASSERT_EQ(merged->leftOut.size(), 2u);
  EXPECT_EQ(merged->leftOut[0].file, dir_ / "1.txt");
  EXPECT_EQ(merged->leftOut[0].what,
            "1 line without a TAB was left out (line 1); the table ends at its empty line 3, so 2 "
            "lines after it were left out");
  EXPECT_EQ(merged->leftOut[1].file, dir_ / "2.txt");
  EXPECT_EQ(merged->leftOut[1].what, "1 line without a TAB was left out (line 2)");
}

TEST_F(MergeFilesTest, CompiledTablesAreKnownByTheirBytesNotTheirName) {
  // A compiled table under a text name is read as the table it is.
  WriteBytes(dir_ / "c.txt", test::CompiledBytes(u"中\tx\r\n国\ty\r\n"));
  settings_.tables[0] = Put("1.txt", test::Utf8(u"中\ta\n国\tb\n"));
  settings_.tables[1] = PathToUtf16(dir_ / "c.txt");
  ASSERT_OK(MergeTables(*fs_, settings_, {}));
  EXPECT_EQ(ReadBytes(Output()), TableBytes({u"中\tax", u"国\tby"}));
  // A .ktb that holds text is refused, not read as a damaged table.
  WriteBytes(Output(), "old");
  settings_.tables[1] = Put("t.ktb", test::Utf8(u"中\tx\n国\ty\n"));
  EXPECT_TRUE(test::Says(MergeTables(*fs_, settings_, {}), "not a compiled table"));
  EXPECT_EQ(ReadBytes(Output()), "old");
}

}  // namespace
}  // namespace mirel
