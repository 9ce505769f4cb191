#include "generate/command_tips.h"

#include "platform/paths.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::TableBytes;
using test::Utf16Le;
using test::WriteBytes;

std::u16string Tips(std::u16string_view codes, std::u16string_view contents,
                    std::u16string_view prefix = u"z", std::u16string_view suffix = u"") {
  std::u16string out;
  const Result<uint64_t> lines = BuildCommandTipTexts(codes, contents, prefix, suffix, out);
  EXPECT_OK(lines);
  if (lines.IsOk()) {
    EXPECT_EQ(lines.value(), static_cast<uint64_t>(std::count(out.begin(), out.end(), u'\n')));
  }
  return out;
}

TEST(CommandTipsTest, JoinsCodeLinesWithTheirContent) {
  EXPECT_EQ(Tips(u"k\tab\r\n", u"k\thello\r\n"), u"$mlcmd(k,k[hello])\tzab\r\n");
  EXPECT_EQ(Tips(u"k\tab\r\n", u"k\thello\r\n", u"<", u">"), u"$mlcmd(k,k[hello])\t<ab>\r\n");
  // Code lines keep order and repeats; the first content of a key wins; keys
  // without content, lines without TAB and blank lines drop out.
  EXPECT_EQ(Tips(u"b\t1\r\nnone\t2\r\n无TAB\r\n\r\n\r\na\t3\r\nb\t4\r\n",
                 u"a\tA\r\nb\tB1\r\n\r\nb\tB2\r\n"),
            u"$mlcmd(b,b[B1])\tz1\r\n$mlcmd(a,a[A])\tz3\r\n$mlcmd(b,b[B1])\tz4\r\n");
  // Later TABs belong to the content and the code.
  EXPECT_EQ(Tips(u"k\ta\tb\r\n", u"k\tx\ty\r\n"), u"$mlcmd(k,k[x\ty])\tza\tb\r\n");
}

TEST(CommandTipsTest, AnyLineEndCountsAndLongCodeLinesGoOn) {
  // A last line without a line end, bare LF and lone CR line ends.
  EXPECT_EQ(Tips(u"a\t1\nb\t2\rc\t3", u"c\tC\na\tA\rb\tB"),
            u"$mlcmd(a,a[A])\tz1\r\n$mlcmd(b,b[B])\tz2\r\n$mlcmd(c,c[C])\tz3\r\n");
  // 4096 units make one code line; the rest is the next line.
  const std::u16string longLine = std::u16string(kTipCodeLineLimit, u'x') + u"k\tq\r\n";
  EXPECT_EQ(Tips(longLine, u"k\tK\r\n"), u"$mlcmd(k,k[K])\tzq\r\n");
  EXPECT_EQ(Tips(u"k\tq", u"无TAB\r\n"), u"");
}

TEST(CommandTipsTest, OutputStaysLinearInTheInput) {
  // A 2 MB line of TABs as both tables: every 4096-unit piece of the code
  // line would repeat the whole content, about 500 MB of output.
  const std::u16string tabs(size_t{1} << 20, u'\t');
  std::u16string out;
  Result<uint64_t> built = BuildCommandTipTexts(tabs, tabs, u"", u"", out);
  ASSERT_FALSE(built.IsOk());
  EXPECT_NE(built.status().message().find("4096"), std::string::npos) << built.status().message();
  EXPECT_LE(out.size(), 16 * 2 * tabs.size() + (size_t{1} << 22) + tabs.size());

  // Many code lines sharing one content are an ordinary table.
  std::u16string codes;
  for (int k = 0; k < 2000; ++k) codes += u"k\tab\r\n";
  out.clear();
  built = BuildCommandTipTexts(codes, u"k\t" + std::u16string(1000, u'x'), u"", u"", out);
  ASSERT_OK(built);
  EXPECT_EQ(built.value(), 2000u);
}

class CommandTipsFilesTest : public ::testing::Test {
 protected:
  std::u16string Put(std::string_view name, std::string_view bytes) {
    WriteBytes(dir_ / name, bytes);
    return PathToUtf16(dir_ / name);
  }

  ScratchDir dir_;
  std::filesystem::path output_ = dir_ / "cmdtipMBMake_result.txt";
};

TEST_F(CommandTipsFilesTest, WritesUtf16WithTheMarkAndOverwrites) {
  TipSettings settings{Put("codes.txt", test::Utf8(u"键\tab\n")),
                       Put("contents.txt", Utf16Le(u"键\t你好")), u"z", u"9"};
  Result<GenerationReport> built = BuildCommandTips(test::DiskFs(), settings, output_);
  ASSERT_OK(built);
  EXPECT_EQ(built->lines, 1u);
  EXPECT_TRUE(built->leftOut.empty());
  EXPECT_EQ(ReadBytes(output_), TableBytes({u"$mlcmd(键,键[你好])\tzab9"}));
  settings.prefix = u"";
  ASSERT_OK(BuildCommandTips(test::DiskFs(), settings, output_));
  EXPECT_EQ(ReadBytes(output_), TableBytes({u"$mlcmd(键,键[你好])\tab9"}));
}

TEST_F(CommandTipsFilesTest, FailuresCarryTheMessageAndTheFieldToFocus) {
  const std::u16string codes = Put("codes.txt", Utf16Le(u"k\tab\r\n"));
  const std::u16string contents = Put("contents.txt", Utf16Le(u"k\thello\r\n"));
  const std::u16string gone = PathToUtf16(dir_ / "gone.txt");
  WriteBytes(output_, "old");
  // An unreadable table gives the OS's reason; a content table read but
  // without a usable line names what it lacks, not access rights; no key in
  // common blames the format.
  const struct {
    std::u16string codes, contents;
    std::string starts, holds;
    TipField focus;
  } cases[] = {
      {u"", contents, "必须定义提示编码表。", "", TipField::kCodeTable},
      {codes, u"", "无法读取提示内容表，请确认提示内容表路径的访问权限。", "",
       TipField::kContentTable},
      {codes, gone, "无法读取提示内容表，请确认提示内容表路径的访问权限。",
       "gone.txt: cannot open: No such file", TipField::kContentTable},
      {codes, Put("plain.txt", Utf16Le(u"k hello\r\n")), "提示内容表中没有“键 TAB 内容”的行",
       "line without a TAB", TipField::kContentTable},
      {codes, Put("empty.txt", ""), "提示内容表中没有“键 TAB 内容”的行",
       "empty.txt: it holds no line", TipField::kContentTable},
      {Put("other.txt", Utf16Le(u"q\tab\r\n")), contents,
       "无法创建提示码表，请检查提示编码表、提示内容表文件格式是否符合Mirel码表格式。", "",
       TipField::kNone},
      {gone, contents, "无法读取提示编码表", "gone.txt: cannot open: No such file",
       TipField::kCodeTable},
  };
  for (const auto& c : cases) {
    const Status failure =
        BuildCommandTips(test::DiskFs(), {c.codes, c.contents, u"", u""}, output_).status();
    EXPECT_EQ(failure.message().rfind(c.starts, 0), 0u) << failure.message();
    EXPECT_NE(failure.message().find(c.holds), std::string::npos) << failure.message();
    EXPECT_EQ(TipFieldToFocus(failure), c.focus) << failure.message();
  }
  EXPECT_EQ(ReadBytes(output_), "old");

  // The output cannot be created, or the temporary path was too long: the
  // message says so, not that the tables are malformed.
  for (const std::filesystem::path& out : {dir_ / "none" / "out.txt", std::filesystem::path()}) {
    const Status failure =
        BuildCommandTips(test::DiskFs(), {codes, contents, u"", u""}, out).status();
    EXPECT_EQ(failure.message().rfind("无法写入提示码表", 0), 0u) << failure.message();
  }
}

TEST_F(CommandTipsFilesTest, LinesWithoutATabInEitherTableAreNamed) {
  const TipSettings settings{Put("codes.txt", test::Utf8(u"标题\n键\tab\n\n说明\n")),
                             Put("contents.txt", test::Utf8(u"键\t你好\n注释\n")), u"", u""};
  Result<GenerationReport> built = BuildCommandTips(test::DiskFs(), settings, output_);
  ASSERT_OK(built);
  EXPECT_EQ(built->lines, 1u);
  ASSERT_EQ(built->leftOut.size(), 2u);
  EXPECT_EQ(built->leftOut[0].file, dir_ / "codes.txt");
  EXPECT_EQ(built->leftOut[0].what, "2 lines without a TAB were left out (lines 1, 4)");
  EXPECT_EQ(built->leftOut[1].file, dir_ / "contents.txt");
  EXPECT_EQ(built->leftOut[1].what, "1 line without a TAB was left out (line 2)");
}

}  // namespace
}  // namespace mirel
