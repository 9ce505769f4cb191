#include "convert/common_conversion.h"

#include "platform/utf16.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using namespace common_format;
using test::ReadBytes;
using test::Utf16Le;
using F = TableFormat;
using Lines = std::vector<std::u16string_view>;

std::optional<F> Detect(std::u16string_view text) { return DetectFormat(text).format; }

// Records of one line as "code|entry|position" strings, or "rejected".
std::vector<std::u16string> Parse(F format, std::u16string_view line) {
  std::vector<SourceRecord> records;
  if (!ParseSourceLine(format, line, records)) return {u"rejected"};
  std::vector<std::u16string> out;
  for (const SourceRecord& r : records) {
    std::u16string s(r.code);
    s.append(u"|").append(r.entry).append(u"|").append(r.position);
    out.push_back(s);
  }
  return out;
}

TEST(CommonFormatTest, SplitterSkipsBlankLinesAndCutsLongOnes) {
  EXPECT_EQ(SplitSourceLines(u""), Lines{});
  EXPECT_EQ(SplitSourceLines(u"a\r\n\r\nb\rc\n\n"), (Lines{u"a", u"b", u"c"}));
  EXPECT_EQ(SplitSourceLines(u"\r\n\nb"), (Lines{u"", u"b"}));
  EXPECT_EQ(SplitSourceLines(u"a\nb\nc", 2), (Lines{u"a", u"b"}));
  std::u16string exact(kCommonLineLimit, u'x');
  EXPECT_EQ(SplitSourceLines(exact + u"\r\ny").size(), 2u);
  std::u16string longer(kCommonLineLimit + 3, u'x');
  const std::u16string text = longer + u"\r\ny";  // the lines are views into it
  Lines cut = SplitSourceLines(text);
  ASSERT_EQ(cut.size(), 3u);
  EXPECT_EQ(cut[0].size(), kCommonLineLimit);
  EXPECT_EQ(cut[1], u"xxx");
  EXPECT_EQ(SplitSourceLines(std::u16string(kCommonLineLimit + 1, u'x')).size(), 2u);
}

TEST(DetectFormatTest, RecognisesEachFormatButNotAmbiguousStarts) {
  EXPECT_EQ(Detect(u"啊a\r\n阿a aa\r\n吖aaa\r\n爱ai\r\n"), F::kWindows);
  EXPECT_EQ(Detect(u"a 啊 阿 吖\r\naa 啊\r\nai 爱 艾\r\n"), F::kKuji);
  EXPECT_EQ(Detect(u"a,1=啊\r\na,2=阿\r\nai,1=爱\r\n"), F::kSogou);
  EXPECT_EQ(Detect(u"a=1,啊\r\na=2,阿\r\nai=1,爱\r\n"), F::kQq);
  EXPECT_EQ(Detect(u"a=啊\r\na=阿\r\nai=爱\r\n"), F::kJiajia);
  EXPECT_EQ(Detect(u"啊\ta\n阿\ta\n爱\tai\n"), F::kMirel);
  // Only the first ten lines are looked at.
  std::u16string eleven;
  for (int k = 0; k < 10; ++k) eleven += u"啊\ta\r\n";
  EXPECT_EQ(Detect(eleven + u"a=啊\r\n"), F::kMirel);
  EXPECT_EQ(DetectFormat(eleven).sampleLines, 10u);
  // Ambiguous, mixed or blank starts are not recognised.
  EXPECT_EQ(Detect(u""), std::nullopt);
  EXPECT_EQ(Detect(u"\r\n啊\ta\r\n阿\ta\r\n"), std::nullopt);
  EXPECT_EQ(Detect(u"啊\ta\r\na=啊\r\n"), std::nullopt);
  // Mirel lines whose code holds a space and a Han character fit 酷极 too.
  Detection both = DetectFormat(u"啊\ta 啊\r\n阿\tb 阿\r\n");
  EXPECT_EQ(both.format, std::nullopt);
  EXPECT_TRUE(both.flags[1] && both.flags[5]);
  // U+0080 is neither below nor above.
  EXPECT_EQ(Detect(u"\u0080a\r\n"), std::nullopt);
  EXPECT_EQ(Detect(u"a=\u0080\r\n"), std::nullopt);
  EXPECT_EQ(Detect(u"啊\t\u0080\r\n"), std::nullopt);
  EXPECT_EQ(Detect(u"啊\t\r\n"), F::kMirel);     // the end of the line counts for Mirel
  EXPECT_EQ(Detect(u"啊啊\r\n"), std::nullopt);  // but not for the Windows table
  EXPECT_EQ(Detect(u"啊 a\r\n"), std::nullopt);
  // A Windows-table line that another test also fits belongs to the other.
  EXPECT_EQ(Detect(u"啊a 啊\r\n"), F::kKuji);
  EXPECT_EQ(Detect(u"啊a,1=啊\r\n"), F::kSogou);
  EXPECT_EQ(Detect(u"啊a=1,啊\r\n"), F::kQq);
  EXPECT_EQ(Detect(u"啊a=啊\r\n"), F::kJiajia);
  EXPECT_EQ(Detect(u"啊a\t\r\n"), F::kMirel);
}

TEST(CommonFormatTest, ParsersAcceptAndSplitAsDesigned) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(Parse(F::kWindows, u"啊a aa"), (V{u"a|啊|", u"aa|啊|"}));
  EXPECT_EQ(Parse(F::kWindows, u"啊啊"), (V{u"啊|啊|"}));
  EXPECT_EQ(Parse(F::kWindows, u"一二ab"), (V{u"ab|一二|"}));
  EXPECT_EQ(Parse(F::kWindows, u"\u0080a"), (V{u"a|\u0080|"}));
  EXPECT_EQ(Parse(F::kWindows, u"abc"), (V{u"rejected"}));
  EXPECT_EQ(Parse(F::kWindows, u"啊"), (V{u"rejected"}));
  EXPECT_EQ(Parse(F::kWindows, u"啊   "), V{});
  std::u16string longCode = u"啊";
  longCode.append(130, u'a');
  EXPECT_EQ(Parse(F::kWindows, longCode), (V{std::u16string(127, u'a') + u"|啊|"}));

  EXPECT_EQ(Parse(F::kKuji, u"  a  啊 阿"), (V{u"  a|啊|", u"  a|阿|"}));
  EXPECT_EQ(Parse(F::kKuji, u"a"), V{});
  EXPECT_EQ(Parse(F::kKuji, u"啊 a"), (V{u"rejected"}));
  EXPECT_EQ(Parse(F::kKuji, u"   "), (V{u"rejected"}));

  EXPECT_EQ(Parse(F::kSogou, u"a,12=啊"), (V{u"a|啊|12"}));
  EXPECT_EQ(Parse(F::kSogou, u"a,1=b=c"), (V{u"a|b=c|1"}));
  for (std::u16string_view bad : {u"a,0=啊", u"a,1=", u",1=啊", u"啊,1=x", u"a=1,啊"}) {
    EXPECT_EQ(Parse(F::kSogou, bad), (V{u"rejected"})) << Utf16ToUtf8(bad);
  }
  EXPECT_EQ(Parse(F::kQq, u"a=12,啊"), (V{u"a|啊|12"}));
  EXPECT_EQ(Parse(F::kQq, u"a=0,啊"), (V{u"rejected"}));

  EXPECT_EQ(Parse(F::kJiajia, u"a="), (V{u"a||"}));
  EXPECT_EQ(Parse(F::kJiajia, u"=a"), (V{u"rejected"}));
  EXPECT_EQ(Parse(F::kMirel, u"啊\ta\t100"), (V{u"a\t100|啊|"}));
  EXPECT_EQ(Parse(F::kMirel, u"\ta"), (V{u"rejected"}));
}

TEST(CommonFormatTest, ReadBackAndNumbering) {
  // A third Mirel column shifts the fields on read-back.
  std::vector<CommonRecord> shifted = ReadBackRecords(u"a\t100\t啊\t0000\r\n");
  ASSERT_EQ(shifted.size(), 1u);
  EXPECT_EQ(shifted[0].code, u"a");
  EXPECT_EQ(shifted[0].entry, u"100");
  EXPECT_EQ(shifted[0].weight, u"啊\t0000");

  std::vector<CommonRecord> r = ReadBackRecords(
      u"a\t啊\t0000\r\nno tab\r\na\t阿\t005\r\nb\t吧\t0000\r\na\t吖\t0000\r\nb\t\r\n");
  ASSERT_EQ(r.size(), 5u);
  NumberRecords(r);
  std::vector<uint32_t> positions;
  for (const CommonRecord& x : r) positions.push_back(x.position);
  EXPECT_EQ(positions, (std::vector<uint32_t>{1, 5, 1, 3, 2}));

  // Codes past 127 units are never matched with their predecessor.
  const std::u16string c127(127, u'k'), c128(128, u'k');
  std::vector<CommonRecord> longCodes = {
      {c127, u"1", u"0000"}, {c127, u"2", u"0000"}, {c128, u"3", u"0000"}, {c128, u"4", u"0000"}};
  NumberRecords(longCodes);
  EXPECT_EQ(longCodes[1].position, 2u);
  EXPECT_EQ(longCodes[3].position, 1u);
  uint64_t lines = 0;
  EXPECT_EQ(TargetText(F::kKuji, longCodes, &lines),
            c127 + u" 1 2\r\n" + c128 + u" 3\r\n" + c128 + u" 4\r\n");
  EXPECT_EQ(lines, 3u);
  // Lines follow the first appearance of each code, not code order.
  EXPECT_EQ(TargetText(F::kKuji, ReadBackRecords(u"b\t吧\r\na\t啊\r\nb\t阿\r\n")),
            u"b 吧 阿\r\na 啊\r\n");
}

class CommonConversionTest : public ::testing::Test {
 protected:
  CommonConversionTest() : temp_(TempFolder::OpenIn(dir_.path()).value()) {}

  Result<uint64_t> Run(std::u16string_view text, F from, F to) {
    return ConvertCommonFormat(test::DiskFs(), text, from, to, out_, *temp_, dir_ / "source.txt");
  }
  // The output's text after its mark, and the count.
  std::pair<std::u16string, uint64_t> Converted(std::u16string_view text, F from, F to) {
    Result<uint64_t> count = Run(text, from, to);
    if (!count.IsOk()) return {u"<failed>", 0};
    return {Output(), count.value()};
  }
  std::u16string Output() {
    std::string bytes = ReadBytes(out_);
    if (bytes.substr(0, 2) != "\xFF\xFE") return u"<no mark>";
    return ReadTextFile(test::DiskFs(), out_).value().text;
  }

  test::ScratchDir dir_;
  std::unique_ptr<TempFolder> temp_;
  std::filesystem::path out_ = dir_ / "out.txt";
};

TEST_F(CommonConversionTest, EachWriterOnTheExampleTable) {
  using P = std::pair<std::u16string, uint64_t>;
  const std::u16string_view example = u"啊\ta\r\n啊\taa\r\n阿\ta\r\n";
  EXPECT_EQ(Converted(example, F::kMirel, F::kWindows), (P{u"啊a\r\n啊aa\r\n阿a\r\n", 3}));
  EXPECT_EQ(Converted(example, F::kMirel, F::kKuji), (P{u"a 啊 阿\r\naa 啊\r\n", 2}));
  EXPECT_EQ(Converted(example, F::kMirel, F::kSogou), (P{u"a,1=啊\r\naa,1=啊\r\na,2=阿\r\n", 3}));
  EXPECT_EQ(Converted(example, F::kMirel, F::kQq), (P{u"a=1,啊\r\naa=1,啊\r\na=2,阿\r\n", 3}));
  EXPECT_EQ(Converted(example, F::kMirel, F::kJiajia), (P{u"a=啊\r\naa=啊\r\na=阿\r\n", 3}));
  EXPECT_EQ(Converted(example, F::kMirel, F::kMirel), (P{u"啊\ta\r\n啊\taa\r\n阿\ta\r\n", 3}));
  EXPECT_EQ(ReadBytes(out_).substr(0, 4), Utf16Le(u"啊"));

  // Between the other formats too.
  EXPECT_EQ(Converted(u"a 啊 阿\r\n", F::kKuji, F::kSogou).first, u"a,1=啊\r\na,2=阿\r\n");
  EXPECT_EQ(Converted(u"a 啊 阿\r\n", F::kKuji, F::kMirel).first, u"啊\ta\r\n阿\ta\r\n");
  EXPECT_EQ(Converted(u"啊\ta\r\n吧\tb\r\n阿\ta\r\n", F::kMirel, F::kKuji),
            (P{u"a 啊 阿\r\nb 吧\r\n", 2}));
  EXPECT_EQ(Converted(u"a,12=啊\r\na,1=阿\r\na,0=吖\r\n", F::kSogou, F::kQq).first,
            u"a=12,啊\r\na=1,阿\r\n");
  EXPECT_EQ(Converted(u"a,12=啊\r\n", F::kSogou, F::kSogou).first, u"a,12=啊\r\n");
  EXPECT_EQ(Converted(u"啊\ta\t100\r\n", F::kMirel, F::kJiajia).first, u"a=100\r\n");
}

TEST_F(CommonConversionTest, IntermediateFileBytes) {
  ASSERT_OK(Run(u"a,12=啊\r\nb 吧\r\nc,1=从\r\n", F::kSogou, F::kJiajia));
  EXPECT_EQ(ReadBytes(temp_->TempPath(kIntermediateFileName)),
            Utf16Le(u"a\t啊\t0012\r\nc\t从\t001\r\n"));
  ASSERT_OK(Run(u"啊a aa\n", F::kWindows, F::kMirel));
  EXPECT_EQ(ReadBytes(temp_->TempPath(kIntermediateFileName)),
            Utf16Le(u"a\t啊\t0000\r\naa\t啊\t0000\r\n"));
}

// Larger than one piece of the buffered output, with enough codes to make
// the code table grow.
TEST_F(CommonConversionTest, LargeTablesArriveWhole) {
  std::u16string many;
  for (int k = 0; k < 20000; ++k) AppendFormatted(many, u"词%d\tc%d\r\n", {k, k % 3001});
  EXPECT_TRUE(Converted(many, F::kMirel, F::kMirel) == std::make_pair(many, uint64_t{20000}));
  EXPECT_TRUE(Converted(many, F::kMirel, F::kSogou).first.ends_with(u"\r\nc1993,7=词19999\r\n"));
  EXPECT_EQ(Converted(many, F::kMirel, F::kKuji).second, 3001u);
}

TEST_F(CommonConversionTest, FailuresLeaveTheOutputAlone) {
  test::WriteBytes(out_, "old");
  // Faults of the source name its file.
  const std::string source = (dir_ / "source.txt").string();
  for (const Result<uint64_t>& failed :
       {Run(u"", F::kMirel, F::kSogou), Run(u"no tabs here\r\n", F::kMirel, F::kSogou),
        // Accepted lines without entries give nothing to write.
        Run(u"a\r\nb\r\n", F::kKuji, F::kMirel)}) {
    ASSERT_FALSE(failed.IsOk());
    EXPECT_EQ(failed.status().message().rfind(source + ": ", 0), 0u) << failed.status().message();
  }
  EXPECT_EQ(ReadBytes(out_), "old");
  Result<uint64_t> noFolder =
      ConvertCommonFormat(test::DiskFs(), u"啊\ta\r\n", F::kMirel, F::kSogou,
                          dir_ / "none" / "x.txt", *temp_, dir_ / "source.txt");
  ASSERT_FALSE(noFolder.IsOk());
  EXPECT_NE(noFolder.status().message().find("搜狗"), std::string::npos);
  EXPECT_NE(noFolder.status().message().find((dir_ / "none" / "x.txt").string()), std::string::npos)
      << noFolder.status().message();
}

TEST_F(CommonConversionTest, HostileTextDoesNotCrash) {
  std::u16string text = u"\xD800\t\xDC00\r\n\xDFFF=\xD800\r\n";
  text += std::u16string(100000, u'啊');
  text += u"\ta\r\n";
  EXPECT_EQ(DetectFormat(text).format, std::nullopt);
  for (const FormatInfo& from : TableFormats()) {
    for (const FormatInfo& to : TableFormats()) (void)Run(text, from.format, to.format);
  }
  EXPECT_EQ(SplitSourceLines(text).size(), 2u + (100000 + 2 + kCommonLineLimit - 1) / 4095);
  ASSERT_OK(Run(text, F::kMirel, F::kMirel));
  EXPECT_EQ(Output().substr(0, 6), u"\xD800\t\xDC00\r\n啊");
}

TEST(CommonFormatTest, OutputPathReplacesTheFileNamesExtension) {
  using std::filesystem::path;
  EXPECT_EQ(CommonConversionOutputPath("/t/abc.txt", F::kSogou), path("/t/abc___搜狗格式.txt"));
  EXPECT_EQ(CommonConversionOutputPath("abc.d.txt", F::kWindows), path("abc.d___win格式.txt"));
  EXPECT_EQ(CommonConversionOutputPath("/t/abc.txt", F::kQq), path("/t/abc___qq格式.txt"));
  EXPECT_EQ(CommonConversionOutputPath("/home/me/tables.v2/abc", F::kMirel), path());
  EXPECT_EQ(CommonConversionOutputPath("/home/me/tables.v2/abc.txt", F::kKuji),
            path("/home/me/tables.v2/abc___酷极格式.txt"));
}

}  // namespace
}  // namespace mirel
