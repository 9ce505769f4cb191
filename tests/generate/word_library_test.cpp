#include "generate/word_library.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;
using Lines = std::vector<std::u16string>;

constexpr std::u16string_view kTable =
    u"中\tabcd\r\n国\tefgh\r\n人\tijkl\r\n民\tmnop\r\n好\tqrst\r\n\r\n𠀀\tuvwx\r\n";

struct Outcome {
  Lines lines;   // output lines without CR LF
  Lines errors;  // messages as logged
  WordResult result;
};

Lines SplitLines(std::u16string_view text) {
  Lines lines;
  for (size_t end; (end = text.find(u"\r\n")) != text.npos; text.remove_prefix(end + 2))
    lines.emplace_back(text.substr(0, end));
  EXPECT_TRUE(text.empty()) << "unterminated output line";
  return lines;
}

Outcome Generate(std::u16string_view words, std::u16string_view table = kTable,
                 std::u16string_view rules = kDefaultConstructionRules, bool predefined = true,
                 bool tolerant = false, const CharCodeIndex* aux = nullptr) {
  const CharCodeIndex chars(table);
  Outcome run;
  std::u16string out;
  run.result =
      GenerateWordText(words, chars, aux, ParseConstructionRules(rules), predefined, tolerant, out,
                       [&](std::u16string_view m) { run.errors.emplace_back(m); });
  run.lines = SplitLines(out);
  EXPECT_EQ(run.result.written, run.lines.size());
  EXPECT_EQ(run.result.errors, run.errors.size());
  return run;
}

std::u16string NoCode(std::u16string_view character, std::u16string_view word) {
  return FormatText(u"未能找到汉字[ %s ]的编码定义。\t词条：%s\r\n", {character, word});
}

std::u16string NoRule(long long length, std::u16string_view word) {
  return FormatText(u"无法取得词长 = %d 的构词规则定义。\t词条：%s\r\n", {length, word});
}

TEST(WordLibraryTest, DefaultRulesByWordLengthAndPassThroughLines) {
  Outcome run = Generate(u"中国\n中国人\r\n中国人民好\n中国人民好中国人民好中\n中\n𠀀国\n");
  EXPECT_EQ(run.lines, (Lines{u"中国\tabef", u"中国人\taeij", u"中国人民好\taeiq", u"𠀀国\tuvef"}));
  EXPECT_EQ(run.errors, (Lines{NoRule(11, u"中国人民好中国人民好中"), NoRule(1, u"中")}));
  EXPECT_EQ(run.result.words, 6u);

  // Lines that already hold a TAB are copied; blank lines are not words.
  run = Generate(u"\r\n中国\t自定\tx\r\n\r\n\r\n国中\n只有一\t\n");
  EXPECT_EQ(run.lines, (Lines{u"中国\t自定\tx", u"国中\tefab", u"只有一\t"}));
  EXPECT_EQ(run.result.words, 3u);
}

TEST(WordLibraryTest, RuleGrammarEndsLinesAndSkipsItems) {
  RuleSet rules = ParseConstructionRules(
      u"P2=l1b1\r\np1=l1b1\np129=l1b1\r"
      u"p3=l1b1+l0b1+l2b1\r\n"
      u"p4=l1b1+r2b3+l1c1+l2b1\n"
      u"p5==+l1b0++abc+l2B128+r1F2+l1b129+l3b1\n"
      u"p5=l4b1\n"
      u"p6=x1b1+l1b1\n"
      u"p2=r9b1+l1b1\n");
  EXPECT_FALSE(rules.HasRule(1));
  EXPECT_FALSE(rules.HasRule(2));  // capital P ignored; r9b1 ends the p2 line
  EXPECT_FALSE(rules.HasRule(6));  // first item ends the line
  EXPECT_FALSE(rules.HasRule(129));
  const auto items = [&](size_t n) {
    auto span = rules.Items(n);
    return std::vector<RuleItem>(span.begin(), span.end());
  };
  EXPECT_EQ(items(3), (std::vector<RuleItem>{{1, 1, false}}));
  EXPECT_EQ(items(4), (std::vector<RuleItem>{{1, 1, false}, {3, 3, false}}));
  EXPECT_EQ(items(5),
            (std::vector<RuleItem>{{1, 0, false}, {2, 0, false}, {5, 2, true}, {4, 1, false}}));

  // Key index 0 takes the whole code; a code shorter than the key index gives
  // nothing for that item while the others still make the line.
  const Outcome run =
      Generate(u"中国\n人民\n", u"中\tab\n国\tefgh\n人\tx\n民\ty\n", u"p2=l1b0+l2b3+l1b5");
  EXPECT_EQ(run.lines, (Lines{u"中国\tabg", u"人民\tx"}));
  EXPECT_TRUE(run.errors.empty());
}

TEST(WordLibraryTest, PredefinedCodesAndEscapes) {
  const std::u16string_view table = u"中\tabcd\n国\tefgh\n(\tP\n)\tQ\n\\\tB\n";
  // The code in parentheses is taken as written; an unclosed '(' is a
  // character of the word.
  Outcome run = Generate(u"中(xy)国\n中(\\t)国\n中(国\n", table);
  EXPECT_EQ(run.lines, (Lines{u"中国\txyef", u"中国\t\\tef", u"中(国\taPef"}));
  EXPECT_TRUE(run.errors.empty());

  // "\\" is one backslash, "\t" a TAB, "\x" a backslash and an x.
  run = Generate(u"\\\\国\n\\t国\n\\x国\n");
  EXPECT_EQ(run.errors,
            (Lines{NoCode(u"\\", u"\\国"), NoCode(u"\t", u"\t国"), NoCode(u"\\", u"\\x国")}));
  run = Generate(u"\\\\国\n", table);
  EXPECT_EQ(run.lines, (Lines{u"\\国\tBef"}));

  // Without predefined codes the parentheses are characters of the word.
  run = Generate(u"中(x)国\n", table, u"p5=l1b1+l2b1+l4b1+r1b1", false);
  EXPECT_EQ(run.lines, (Lines{u"中(x)国\taPQe"}));
  // A '(' at the start has no character to attach to.
  run = Generate(u"(x)国\n", table, u"p4=l1b1+l4b1", true);
  EXPECT_EQ(run.lines, (Lines{u"(x)国\tPe"}));
}

TEST(WordLibraryTest, SeveralCodesMultiplyResults) {
  // 中 and 人 have two codes each; later items follow the choice made for
  // their character, the first character varying slowest.
  const std::u16string_view table = u"中\tabcd\n国\tefgh\n人\tijkl\n中\tABCD\n人\tIJKL\n中\tabcd\n";
  Outcome run = Generate(u"中国人\n", table);
  EXPECT_EQ(run.lines, (Lines{u"中国人\taeij", u"中国人\taeIJ", u"中国人\tAeij", u"中国人\tAeIJ"}));
  // Items in any order still loop over the characters, first outermost.
  run = Generate(u"中国人\n", table, u"p3=l3b1+l1b1+l3b2");
  EXPECT_EQ(run.lines, (Lines{u"中国人\tiaj", u"中国人\tIaJ", u"中国人\tiAj", u"中国人\tIAJ"}));
  // The same character at two positions chooses independently.
  run = Generate(u"中中\n", table, u"p2=l1b1+l2b1");
  EXPECT_EQ(run.lines, (Lines{u"中中\taa", u"中中\taA", u"中中\tAa", u"中中\tAA"}));

  // Identical results of one word are written once, in first order.
  run = Generate(u"中国\n", u"中\tab\n中\tac\n中\tad\n国\te\n", u"p2=l1b1+l2b1");
  EXPECT_EQ(run.lines, (Lines{u"中国\tae"}));
}

TEST(WordLibraryTest, CombinationsAreBounded) {
  std::u16string table;
  std::u16string rules = u"p17=";
  std::u16string word;
  for (int i = 0; i < 17; ++i) {
    const char16_t c = static_cast<char16_t>(u'一' + i);
    word.push_back(c);
    (table += c) += u"\ta\n";
    (table += c) += u"\tb\n";
    for (char r : "+l" + std::to_string(i + 1) + "b1") rules.push_back(static_cast<char16_t>(r));
  }
  const Outcome run = Generate(word, table, rules);
  EXPECT_EQ(run.lines.size(), kWordMaxCombinations);
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_NE(run.errors[0].find(word), std::u16string::npos);
}

TEST(WordLibraryTest, MissingCodesAndTolerantMode) {
  // Only the first missing character is reported and the word is left out.
  Outcome run = Generate(u"中甲乙国\n国中\n");
  EXPECT_EQ(run.lines, (Lines{u"国中\tefab"}));
  EXPECT_EQ(run.errors, (Lines{NoCode(u"甲", u"中甲乙国")}));

  // Tolerant: written from the characters that have codes, each gap logged;
  // a word none of whose characters has a code still gives no line.
  run = Generate(u"中甲乙国\n甲乙\n", kTable, kDefaultConstructionRules, true, true);
  EXPECT_EQ(run.lines, (Lines{u"中甲乙国\tae"}));
  EXPECT_EQ(run.errors, (Lines{NoCode(u"甲", u"中甲乙国"), NoCode(u"乙", u"中甲乙国"),
                               NoCode(u"甲", u"甲乙"), NoCode(u"乙", u"甲乙")}));

  // Items with f read the auxiliary table, which predefined codes do not
  // replace; without one they find nothing.
  const CharCodeIndex aux(std::u16string(u"国\tXY\n"));
  run = Generate(u"中(q)国\n", kTable, u"p2=l1b1+l2f2+l2b1", true, false, &aux);
  EXPECT_EQ(run.lines, (Lines{u"中国\tqYe"}));
  run = Generate(u"中国\n", kTable, u"p2=l1b1+l2f2");
  EXPECT_EQ(run.errors, (Lines{NoCode(u"国", u"中国")}));
}

TEST(WordLibraryTest, CharCodeIndexKeepsDistinctCodesInOrder) {
  const CharCodeIndex index(
      std::u16string(u"中\tb\r\n无制表符\n中\ta\n中\tb\n国\t\n\n人\tx\ty\n中国\tzz\n"));
  const auto codes = [&](std::u16string_view c) {
    auto span = index.Codes(c);
    return std::vector<std::u16string_view>(span.begin(), span.end());
  };
  EXPECT_EQ(codes(u"中"), (std::vector<std::u16string_view>{u"b", u"a"}));
  EXPECT_EQ(codes(u"国"), (std::vector<std::u16string_view>{u""}));
  EXPECT_EQ(codes(u"人"), (std::vector<std::u16string_view>{u"x\ty"}));
  EXPECT_EQ(codes(u"中国"), (std::vector<std::u16string_view>{u"zz"}));
  EXPECT_TRUE(codes(u"无制表符").empty());
  EXPECT_EQ(index.size(), 4u);

  // Past 16 results a word's repeats are hashed: they are still found, the
  // distinct ones keep their order, and what one word noted must not hide
  // the next word's results.
  std::u16string many;
  for (int k = 10; k < 40; ++k) many += u"中\tc" + Utf8ToUtf16(std::to_string(k)) + u"\n";
  many += u"国\tx\n";
  const Lines twice = Generate(u"中国\n中国\n", many, u"p2=l1b0+l2b0").lines;
  ASSERT_EQ(twice.size(), 60u);
  EXPECT_EQ(twice[59], u"中国\tc39x");
  EXPECT_EQ(Generate(u"中国\n", many, u"p2=l1b1+l2b0").lines, (Lines{u"中国\tcx"}));

  // A result is cut at 127 units.
  EXPECT_EQ(
      Generate(u"中国\n", u"中\t" + std::u16string(200, u'k') + u"\n国\tef\n", u"p2=l1b0+l2b1")
          .lines,
      (Lines{u"中国\t" + std::u16string(127, u'k')}));
}

TEST(WordLibraryTest, SettingsRoundTrip) {
  WordLibrarySettings settings;
  settings.charTable = u"/表/单字.txt";
  settings.auxTable = u"/表/辅助.txt";
  settings.wordList = u"/表/词.txt";
  settings.rulesText = u"p2=l1b1+l2b1\r\np3=l1b1+l2b1+l3b1\r\n";
  const std::u16string text = FormatWordSettings(settings);
  EXPECT_EQ(
      text,
      u"单字码表=/表/单字.txt\r\n辅助码表=/表/辅助.txt\r\n词库文件=/表/词.txt\r\n\r\n构词规则=\r\n"
      u"p2=l1b1+l2b1\r\np3=l1b1+l2b1+l3b1\r\n");
  EXPECT_EQ(FormatWordSettings(ParseWordSettings(text, WordLibrarySettings())), text);

  // LF line ends from an edit box; absent names keep their values.
  const WordLibrarySettings lf =
      ParseWordSettings(u"词库文件=w.txt\n构词规则=\np2=l1b1\n", settings);
  EXPECT_EQ(lf.wordList, u"w.txt");
  EXPECT_EQ(lf.charTable, settings.charTable);
  EXPECT_EQ(lf.rulesText, u"p2=l1b1\n");

  // An over-long rules text is cut with the settings text.
  settings.rulesText = std::u16string(2000, u'+');
  EXPECT_EQ(FormatWordSettings(settings).size(), kWordSettingsTextLimit);

  ApplyWordOptions(u"容错词条编码", settings);
  EXPECT_TRUE(settings.tolerant);
  EXPECT_FALSE(settings.predefined);
  EXPECT_TRUE(WordLibrarySettings().predefined);
}

std::u16string ReadText(const std::filesystem::path& path) {
  Result<TextBuffer> text = ReadTextFile(test::DiskFs(), path);
  EXPECT_TRUE(text.IsOk()) << test::Describe(text);
  return text.IsOk() ? text.value().text : std::u16string();
}

TEST(WordLibraryTest, FilesAndFailures) {
  ScratchDir dir;
  test::WriteBytes(dir / "chars.txt", test::Utf16Le(kTable));
  test::WriteBytes(dir / "words.txt", test::Utf8(u"中国\n一二\n固定\tcode\n"));
  WordLibrarySettings settings;
  settings.charTable = PathToUtf16(dir / "chars.txt");
  settings.auxTable = PathToUtf16(dir / "missing-aux.txt");
  settings.wordList = PathToUtf16(dir / "words.txt");
  std::u16string caption;
  Result<WordResult> result = GenerateWordLibrary(test::DiskFs(), settings, {}, {},
                                                  [&](std::u16string_view c) { caption = c; });
  ASSERT_OK(result);
  EXPECT_TRUE(result->auxTableUnreadable);
  EXPECT_FALSE(result->charTableUnreadable);
  EXPECT_EQ(result->errors, 2u);
  EXPECT_EQ(test::ReadBytes(dir.path() / PathFromUtf16(kWordOutputName)),
            test::TableBytes({u"中国\tabef", u"固定\tcode"}));
  EXPECT_EQ(ReadText(dir.path() / PathFromUtf16(kWordErrorLogName)),
            u"-------------------------\r\n辅助码表" + settings.auxTable +
                u"不可使用\r\n-------------------------\r\n" + NoCode(u"一", u"一二"));
  EXPECT_EQ(caption, u"生成词库 - 读取行数：3，生成编码数：2,错误数=2");

  // An unreadable character table leaves every looked-up word without code.
  settings.charTable = PathToUtf16(dir / "missing.txt");
  settings.auxTable.clear();
  result = GenerateWordLibrary(test::DiskFs(), settings, dir / "out.txt", dir / "log.txt");
  ASSERT_OK(result);
  EXPECT_TRUE(result->charTableUnreadable);
  EXPECT_EQ(result->errors, 3u);
  const std::string kept = test::TableBytes({u"固定\tcode"});
  EXPECT_EQ(test::ReadBytes(dir / "out.txt"), kept);

  // An unreadable word list is logged and fails, naming the file and the
  // OS's reason; the output stays as it was.
  settings.wordList = PathToUtf16(dir / "no-words.txt");
  result = GenerateWordLibrary(test::DiskFs(), settings, dir / "out.txt", dir / "log.txt");
  EXPECT_TRUE(test::Says(result, "No such file or directory"));
  const std::string message = result.status().message();
  EXPECT_EQ(message.rfind("无法读取词库文件：" + Utf16ToUtf8(settings.wordList), 0), 0u) << message;
  EXPECT_EQ(test::ReadBytes(dir / "out.txt"), kept);
  EXPECT_NE(ReadText(dir / "log.txt").find(u"无法读取词库文件："), std::u16string::npos);

  // An output that cannot be created: the message names it and the reason.
  settings.wordList = PathToUtf16(dir / "words.txt");
  std::filesystem::create_directory(dir / "folder");
  result = GenerateWordLibrary(test::DiskFs(), settings, dir / "folder", dir / "log.txt");
  EXPECT_TRUE(test::Says(result, "无法创建保存结果文件：" + (dir / "folder").string() + "（"));

  // Cancelled: fails and leaves the output as it was.
  const std::atomic<bool> cancel{true};
  result =
      GenerateWordLibrary(test::DiskFs(), settings, dir / "out.txt", dir / "log.txt", {}, &cancel);
  ASSERT_FALSE(result.IsOk());
  EXPECT_EQ(result.status().message(), kWordCancelledMessage);
  EXPECT_EQ(test::ReadBytes(dir / "out.txt"), kept);
}

TEST(WordLibraryTest, WordsAtAndPastTheLongestRuleLength) {
  const std::u16string_view rules = u"p2=l1b1+l2b1\np128=l1b1+r1b1+r1b2\n";
  const std::u16string longest = std::u16string(127, u'中') + u"国", past = longest + u"𠀀";
  const std::u16string huge(100000, u'国');
  // Predefined codes on the last character still count at 128 and are
  // left out of the word's text beyond it; the next word starts afresh.
  const std::u16string words = longest + u"(zy)\n" + past + u"(q)\n" + huge + u"\n中国\n";
  const Outcome run = Generate(words, kTable, rules);
  EXPECT_EQ(run.lines, (Lines{longest + u"\tazy", u"中国\tae"}));
  EXPECT_EQ(run.errors, (Lines{NoRule(129, past), NoRule(100000, huge)}));
  EXPECT_EQ(run.result.words, 4u);
}

}  // namespace
}  // namespace mirel
