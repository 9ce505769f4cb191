#include "convert/table_formats.h"

#include <set>

#include "platform/temp_folder.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using linux_table::LinuxFormat;

class TableFormatsTest : public ::testing::Test {
 protected:
  TableFormatsTest() : temp_(TempFolder::OpenIn(dir_.path()).value()) {}

  Result<ConversionReport> Convert(const std::filesystem::path& source, const FileFormat& from,
                                   const FileFormat& to, const std::filesystem::path& output) {
    return ConvertFile(test::DiskFs(), source, from, to, output, *temp_);
  }

  test::ScratchDir dir_;
  std::unique_ptr<TempFolder> temp_;
};

// Every writable format, line or Linux, carries the rows there and back in
// their order, whichever family reads and whichever writes.
TEST_F(TableFormatsTest, EveryWritableFormatCarriesTheRowsThereAndBack) {
  const std::u16string rows = u"啊\ta\r\n阿\ta\r\n吧\tb\r\n";
  const std::filesystem::path source = dir_ / "rows.txt";
  test::WriteBytes(source, test::Utf16Le(rows));
  const FileFormat& mirel = FormatOf(TableFormat::kMirel);
  for (const FileFormat* format : FileFormats()) {
    if (!format->writable()) continue;
    SCOPED_TRACE(std::string(format->name()));
    const std::filesystem::path there = dir_ / ("there." + std::string(format->name()));
    const std::filesystem::path back = dir_ / ("back." + std::string(format->name()));
    Result<ConversionReport> out = Convert(source, mirel, *format, there);
    ASSERT_TRUE(out.IsOk()) << test::Describe(out);
    EXPECT_EQ(out->rows, format->lineFormat() == TableFormat::kKuji ? 2u : 3u);
    // What was written is told for what it is, and read as such.
    EXPECT_TRUE(!format->linuxFormat() || DetectFileFormat(test::ReadBytes(there)) == format);
    Result<ConversionReport> again = Convert(there, *format, mirel, back);
    ASSERT_TRUE(again.IsOk()) << test::Describe(again);
    Result<TextBuffer> text = ReadTextFile(test::DiskFs(), back);
    ASSERT_TRUE(text.IsOk());
    EXPECT_EQ(text->text, rows);
  }
}

TEST_F(TableFormatsTest, NamesAndOutputPathsAreTheRegistrys) {
  std::set<std::string_view> names;
  for (const FileFormat* format : FileFormats()) {
    EXPECT_TRUE(names.insert(format->name()).second) << format->name();
    EXPECT_EQ(FormatNamed(format->name()), format);
  }
  EXPECT_EQ(names.size(), 11u);
  EXPECT_EQ(FormatNamed("RIME"), &FormatOf(LinuxFormat::kRime));
  EXPECT_EQ(FormatNamed("Sogou"), &FormatOf(TableFormat::kSogou));
  EXPECT_EQ(FormatNamed("rime2"), nullptr);
  // Written formats are told by the round trip; a database is only read.
  EXPECT_EQ(DetectFileFormat("SQLite format 3"), &FormatOf(LinuxFormat::kIbusDatabase));
  EXPECT_EQ(DetectFileFormat("啊\ta\n"), &FormatOf(TableFormat::kMirel));
  EXPECT_EQ(AllFormatNames(),
            "win, kuji, sogou, qq, jiajia, mirel, fcitx5, fcitx5-dict, rime, "
            "ibus, ibus-db");

  // Rime's and fcitx5's two-part extensions count as one once a Linux
  // format is involved; between line formats only the last one goes.
  const FileFormat& win = FormatOf(TableFormat::kWindows);
  const FileFormat& rime = FormatOf(LinuxFormat::kRime);
  EXPECT_EQ(ConversionOutputPath("/t/x.dict.yaml", rime, win), "/t/x___win格式.txt");
  EXPECT_EQ(ConversionOutputPath("/t/x.dict.yaml", win, win), "/t/x.dict___win格式.txt");
  EXPECT_EQ(ConversionOutputPath("/t.v2/x", win, rime), "");
}

// A target that cannot be written is refused before any work: an unreadable
// source is not even opened, and nothing is left behind.
TEST_F(TableFormatsTest, AReadOnlyTargetIsRefusedBeforeTheSourceIsRead) {
  const std::filesystem::path output = dir_ / "out.db";
  Result<ConversionReport> out = Convert(dir_ / "missing.txt", FormatOf(TableFormat::kMirel),
                                         FormatOf(LinuxFormat::kIbusDatabase), output);
  ASSERT_FALSE(out.IsOk());
  EXPECT_EQ(out.status().code(), Status::Code::kUnsupported);
  EXPECT_FALSE(std::filesystem::exists(output));

  // Neither family takes a table that has no row: the output stays as it was.
  const std::filesystem::path empty = dir_ / "empty.txt";
  test::WriteBytes(empty, "KeyCode=ab\nLength=2\n[Data]\n");
  test::WriteBytes(output, "kept");
  for (const FileFormat* to : {&FormatOf(TableFormat::kSogou), &FormatOf(LinuxFormat::kRime)}) {
    EXPECT_FALSE(Convert(empty, FormatOf(LinuxFormat::kFcitxText), *to, output).IsOk());
    EXPECT_EQ(test::ReadBytes(output), "kept");
  }
}

}  // namespace
}  // namespace mirel
