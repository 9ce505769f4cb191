#include "convert/rule_conversion.h"

#include <string>
#include <vector>

#include "platform/utf16.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::Utf16Le;
using test::WriteBytes;

std::u16string Repeat(char16_t u, size_t n) { return std::u16string(n, u); }

std::u16string Cat(std::initializer_list<std::u16string_view> parts) {
  std::u16string s;
  for (std::u16string_view p : parts) s.append(p);
  return s;
}

std::u16string Apply(std::u16string_view ruleText, std::u16string_view text) {
  std::u16string out;
  ApplyRules(ParseRules(ruleText), text, out);
  return out;
}

// The text of a layout conversion and the number of lines it took.
using Laid = std::pair<std::u16string, uint64_t>;
constexpr Layout kOne = Layout::kOneEntryLeftCode;
constexpr Layout kEntries = Layout::kManyEntriesLeftCode;
constexpr Layout kCodes = Layout::kManyCodesLeftEntry;

Laid Lay(std::u16string_view source, std::u16string_view separators, Layout layout = kOne) {
  std::u16string out;
  const uint64_t n = ConvertLayoutText(source, separators, layout, out);
  return {out, n};
}

RuleElement Element(ElementKind kind, uint32_t count, char16_t c = 0, std::u16string text = {}) {
  return RuleElement{kind, count, c, std::move(text)};
}

std::vector<RuleElement> Pattern(std::u16string_view line) {
  std::optional<Rule> rule = ParseRule(line);
  return rule ? rule->pattern : std::vector<RuleElement>{};
}

constexpr uint32_t L(char16_t u) { return kTemplateLiteral | u; }

TEST(SeparatorSetTest, NamedWordsAndPlainCharacters) {
  EXPECT_EQ(BuildSeparatorSet(u"TAB,空格"), u" \t");
  EXPECT_EQ(BuildSeparatorSet(u";,|"), u";|");
  EXPECT_EQ(BuildSeparatorSet(u"\\,,TAB"), u"\t,");
  EXPECT_EQ(BuildSeparatorSet(u""), u"");
  EXPECT_EQ(BuildSeparatorSet(u"Tab,tab,TAB"), u"\t");
  EXPECT_EQ(BuildSeparatorSet(u"TaB"), u"TaB");
  EXPECT_EQ(BuildSeparatorSet(u"a,a,空格,空"), u" a空");
  EXPECT_EQ(BuildSeparatorSet(u"\\"), u"\\");
  EXPECT_EQ(BuildSeparatorSet(u"abcdefghijklmnopqrstuvwxyz"), u"abcdefghijklmnopqrs");
  EXPECT_EQ(BuildSeparatorSet(u"abcdefghijklmnopqrs空格"), u" abcdefghijklmnopqr");
}

TEST(LayoutTest, OptionTextsSelectLayouts) {
  EXPECT_EQ(LayoutFromOption(u"单行单义(左编码)"), kOne);
  EXPECT_EQ(LayoutFromOption(u"单行多义(左词条)"), kCodes);
  EXPECT_EQ(LayoutFromOption(u"单行多义(左编码)"), kEntries);
  EXPECT_EQ(LayoutFromOption(u"x单行单义(左编码)(&A)"), kOne);
  EXPECT_EQ(LayoutFromOption(u""), kEntries);
  for (Layout layout : {kOne, kEntries, kCodes}) {
    EXPECT_EQ(LayoutFromOption(LayoutOptionText(layout)), layout);
  }
}

TEST(LayoutTest, ThreeLayoutsPutTheEntryFirst) {
  EXPECT_EQ(Lay(u"a 啊 阿", u" "), (Laid{u"啊\ta\r\n", 1}));
  EXPECT_EQ(Lay(u"a 啊 阿", u" ", kEntries), (Laid{u"啊\ta\r\n阿\ta\r\n", 1}));
  EXPECT_EQ(Lay(u"啊 a aa", u" ", kCodes), (Laid{u"啊\ta\r\n啊\taa\r\n", 1}));
  // Runs of separators, leading and trailing ones give no empty fields.
  EXPECT_EQ(Lay(u" \ta \t 啊  \t", u" \t"), (Laid{u"啊\ta\r\n", 1}));
  // Lines with one field are skipped and not counted; any run of CR and LF
  // ends a line.
  EXPECT_EQ(Lay(u"a 啊\r\n\r\nsolo\rb 吧\nc 从\n\r", u" "),
            (Laid{u"啊\ta\r\n吧\tb\r\n从\tc\r\n", 3}));
  EXPECT_EQ(Lay(u"a 啊", u""), (Laid{u"", 0}));
  EXPECT_EQ(Lay(u"", u" "), (Laid{u"", 0}));
  // A line holds 255 units; the rest is the next line.
  const std::u16string bs = Repeat(u'b', 253);
  EXPECT_EQ(Lay(Cat({u"k ", bs, u"z y"}), u" "), (Laid{Cat({bs, u"\tk\r\ny\tz\r\n"}), 2}));
  // Lone surrogates are units like any other.
  EXPECT_EQ(Lay(u"a \xD800 \xDC00", u" ", kEntries), (Laid{u"\xD800\ta\r\n\xDC00\ta\r\n", 1}));
}

TEST(RuleParseTest, PatternElements) {
  using K = ElementKind;
  EXPECT_EQ(Pattern(u"，==>,"), std::vector{Element(K::kCharacter, 1, u'，')});
  EXPECT_EQ(Pattern(u"<...3>==>x"), std::vector{Element(K::kString, 1, 0, u"...3")});
  EXPECT_EQ(Pattern(u"<abc.x>==>x"), std::vector{Element(K::kString, 1, 0, u"abc.x")});
  EXPECT_EQ(Pattern(u"<number.12x>==>x"), std::vector{Element(K::kNumber, 12)});
  EXPECT_EQ(Pattern(u"<all.99999999999>==>x"), std::vector{Element(K::kAll, 0xFFFFFFFFu)});
  EXPECT_EQ(Pattern(u"<.3>==>x"), std::vector{Element(K::kCharacter, 3, u'\0')});
  EXPECT_EQ(Pattern(u"<Chinese.2>==>x"), std::vector{Element(K::kChinese, 2)});
  const std::vector<RuleElement> classes = Pattern(
      u"<all.0><A.1><Number.1><n.1><lower.1><l.1><UPPER.1><u.1><letter.1><E.1><symbol.1><m.1>"
      u"<tab.1><T.1><space.1><s.1><row.1><R.1><chinese.1><c.1>==>x");
  const K kinds[] = {K::kAll,    K::kNumber, K::kLower, K::kUpper, K::kLetter,
                     K::kSymbol, K::kTab,    K::kSpace, K::kRow,   K::kChinese};
  ASSERT_EQ(classes.size(), 20u);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(classes[i].kind, kinds[i / 2]) << i;
  EXPECT_EQ(classes[0].count, 0u);
  EXPECT_EQ(Pattern(u"<tabs.1>==>x"), std::vector{Element(K::kCharacter, 1, u't')});

  // Plain text runs up to the next "<", which may itself be plain text.
  EXPECT_EQ(Pattern(u"ab<c.1>x==>y"),
            (std::vector{Element(K::kString, 1, 0, u"ab"), Element(K::kChinese, 1),
                         Element(K::kCharacter, 1, u'x')}));
  EXPECT_EQ(Pattern(u"a<b==>y"),
            (std::vector{Element(K::kCharacter, 1, u'a'), Element(K::kString, 1, 0, u"<b")}));
  EXPECT_EQ(Pattern(u"<>x==>y"), std::vector{Element(K::kString, 1, 0, u"<>x")});
  EXPECT_EQ(Pattern(u"<a<b.1>==>y"), std::vector{Element(K::kCharacter, 1, u'a')});

  // Constructs of 127 units and plain runs of 126 stay apart; one more and
  // the whole rest is text.
  const std::u16string inner = Repeat(u'x', 125);
  EXPECT_EQ(Pattern(Cat({u"<", inner, u">==>y"})), std::vector{Element(K::kString, 1, 0, inner)});
  const std::u16string long128 = Cat({u"<", inner, u"x>"});
  EXPECT_EQ(Pattern(Cat({long128, u"==>y"})), std::vector{Element(K::kString, 1, 0, long128)});
  const std::u16string run126 = Repeat(u'x', 126);
  EXPECT_EQ(Pattern(Cat({run126, u"<t.1>==>y"})),
            (std::vector{Element(K::kString, 1, 0, run126), Element(K::kTab, 1)}));
  const std::u16string run127 = Cat({run126, u"x<t.1>"});
  EXPECT_EQ(Pattern(Cat({run127, u"==>y"})), std::vector{Element(K::kString, 1, 0, run127)});
}

TEST(RuleParseTest, TemplatesAndInvalidLines) {
  std::optional<Rule> rule = ParseRule(u"<a.1><b.1>==><n><t><r><s><T><R><S><N><tab><2abc><1>>");
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->tmpl,
            (std::vector<uint32_t>{kTemplateStrict, kTemplateTab, kTemplateLineBreak,
                                   kTemplateSpace, kTemplateTab, kTemplateLineBreak, kTemplateSpace,
                                   kTemplateStrict, kTemplateTab, 2, 1, L(u'>')}));
  EXPECT_TRUE(rule->strict());
  rule = ParseRule(u"a==>b<n>");
  ASSERT_TRUE(rule);
  EXPECT_FALSE(rule->strict());

  // The first "==>" splits the line.
  rule = ParseRule(u"a==>b==>c");
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->tmpl, (std::vector<uint32_t>{L(u'b'), L(u'='), L(u'='), L(u'>'), L(u'c')}));

  const std::u16string inner = Repeat(u'1', 125);
  EXPECT_TRUE(ParseRule(Cat({u"a==><", inner, u">"})) == std::nullopt);  // capture too large
  EXPECT_TRUE(ParseRule(Cat({u"a==><t", inner.substr(1), u">"})));
  EXPECT_FALSE(ParseRule(Cat({u"a==><t", inner, u">"})));  // 128 units

  for (std::u16string_view bad : {u"a=>b", u"a==>", u"==>b", u"a==><>", u"a==><0>", u"a==><2>",
                                  u"a==><x>", u"a==>b<", u"a==>b<1", u"", u"==>"}) {
    EXPECT_FALSE(ParseRule(bad)) << test::Utf8(bad);
  }
}

TEST(RuleParseTest, RuleTextLines) {
  EXPECT_EQ(ParseRules(u"a==>b\r\n\r\nbad\nc==>d\re==>f\n\n").size(), 3u);
  EXPECT_TRUE(ParseRules(u"bad\r\n<x>==>\r\n==><1>\r\na==><>").empty());
  EXPECT_TRUE(ParseRules(u"").empty());
  // A line holds 256 units; the rest is read as the next line.
  const std::u16string ys = Repeat(u'y', 252);
  std::vector<Rule> rules = ParseRules(Cat({u"x==>", ys, u"q==>r"}));
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0].tmpl.size(), 252u);
  EXPECT_EQ(rules[1].tmpl, std::vector<uint32_t>{L(u'r')});
  EXPECT_EQ(Apply(u"a==>b\nb==>c", u"ab"), u"bc");
}

TEST(RuleApplyTest, WorkedExamples) {
  EXPECT_EQ(Apply(u"，==>,", u"a，b，，c"), u"a,b,,c");
  const std::u16string_view swap = u"<lower.0><space.1><all.0><row.2>==><n><3><t><1><r>";
  EXPECT_EQ(Apply(swap, u"abc 中文\r\n"), u"中文\tabc\r\n");
  EXPECT_EQ(Apply(swap, u"abc 中文\r\nde 的"), u"中文\tabc\r\n的\tde\r\n");
  EXPECT_EQ(Apply(swap, u"Xbc 中文"), u"X中文\tbc\r\n");
  EXPECT_EQ(Apply(u"x<number.2>==><2>", u"x12y"), u"12y");
  EXPECT_EQ(Apply(u"x<number.2>==><2>", u"xy"), u"y");
  EXPECT_EQ(Apply(u"x<number.2>==><n><2>", u"xy"), u"xy");
  EXPECT_EQ(Apply(u"<..3>==>D", u"a....b"), u"aDDb");
  EXPECT_EQ(Apply(u"<abc>==>X", u"abcab"), u"Xab");
  EXPECT_EQ(Apply(u"<b.2>==>X", u"bbbbb"), u"XXX");
}

TEST(RuleApplyTest, ElementKindsAndCounts) {
  // The edges of each class.
  EXPECT_EQ(Apply(u"<letter.9>==>L", u"AZaz@[`{"), u"L@[`{");
  EXPECT_EQ(Apply(u"<upper.9>==>U", u"@AZ["), u"@U[");
  EXPECT_EQ(Apply(u"<lower.9>==>l", u"`az{"), u"`l{");
  EXPECT_EQ(Apply(u"<number.9>==>N", u"/09:"), u"/N:");
  EXPECT_EQ(Apply(u"<symbol.99>==>S", u"!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~0 a"), u"S0 a");
  EXPECT_EQ(Apply(u"<chinese.9>==>C", u"\u00FF\u0100中\xD800"), u"\u00FFC");
  EXPECT_EQ(Apply(u"<tab.9>==>T\n<space.9>==>S", u"\t\t  \u3000"), u"TS\u3000");
  EXPECT_EQ(Apply(u"<CHINESE.2>==>X", u"中文字a"), Apply(u"<c.2>==>X", u"中文字a"));
  // Counts bound runs; the end of the text cuts them short.
  EXPECT_EQ(Apply(u"<n.2>==>[<1>]", u"12345"), u"[12][34][5]");
  EXPECT_EQ(Apply(u"<all.5>==>[<1>]", u"abcdefgh"), u"[abcde][fgh]");
  // Rows take CR LF pairs only, a further pair while fewer than N are taken.
  EXPECT_EQ(Apply(u"<row.1>==>|", u"a\r\n\r\nb\rc\nd\n\r"), u"a||b\rc\nd\n\r");
  EXPECT_EQ(Apply(u"<r.2>==>|", u"\r\n\r\n"), u"||");
  EXPECT_EQ(Apply(u"<r.3>==>|", u"\r\n\r\n\r\n"), u"||");
  EXPECT_EQ(Apply(u"<r.4>==>|", u"\r\n\r\n\r\n\r\n\r\n"), u"|||");
  EXPECT_EQ(Apply(u"<r.200>==>|", u"\r\r\n\r\n\n"), u"\r|\n");
  // Rules work across lines and may consume line breaks.
  EXPECT_EQ(Apply(u"<row.1>==><s>", u"a\r\nb"), u"a b");
}

TEST(RuleApplyTest, LazyElements) {
  // A lazy element stops where the next element can take something.
  EXPECT_EQ(Apply(u"<all.0>,==>[<1>]", u"ab,cd"), u"[ab][cd]");
  EXPECT_EQ(Apply(u"<all.0><xy>==>[<1>]", u"axbxyc"), u"[axb][c]");
  EXPECT_EQ(Apply(u"<l.0><n.1>==>[<1>|<2>]", u"ab1c!"), u"[ab|1][c|]!");
  // The last one takes its whole run.
  EXPECT_EQ(Apply(u"<l.0>==>[<1>]", u"abc1"), u"[abc]1");
  // A lazy next element takes nothing while being looked at.
  EXPECT_EQ(Apply(u"<l.0><n.0>==>[<1>|<2>]", u"ab12"), u"[ab|12]");
  // A lazy row goes unit by unit: a CR, or a unit before an LF.
  EXPECT_EQ(Apply(u"<r.0>==>[<1>]", u"a\nb\r\n"), u"[a]\nb[\r]\n");
}

TEST(RuleApplyTest, StrictMarkerShortMatchesAndOddTexts) {
  EXPECT_EQ(Apply(u"x<number.2>==><2><n>", u"xy"), u"y");
  // Text ending inside the pattern stops matching without failing it, and a
  // capture that was not produced writes nothing.
  EXPECT_EQ(Apply(u"<l.3><n.3>==><n>[<2><1>]", u"ab12 cd"), u"[12ab] [cd]");
  EXPECT_EQ(Apply(u"<all.2><tab.1>==>[<2>]<1>", u"ab"), u"[]ab");
  // An empty first element does not stop a non-strict rule.
  EXPECT_EQ(Apply(u"<n.2>x==>[<1><2>]", u"x"), u"[x]");
  // A rule that takes nothing does not match; the next one gets its turn.
  EXPECT_EQ(Apply(u"<n.2>==>N\na==>A", u"ab"), u"Ab");
  EXPECT_EQ(Apply(u"ab==>1\na==>2", u"abac"), u"12c");
  EXPECT_EQ(Apply(u"，==>,", u"abc"), u"abc");
  // Empty and odd texts.
  EXPECT_EQ(Apply(u"a==>b", u""), u"");
  EXPECT_EQ(Apply(u"", u"abc"), u"abc");
  EXPECT_EQ(Apply(u"<c.1>==>[<1>]",
                  u"a\xD800"
                  u"b\xDC00"),
            u"a[\xD800]b[\xDC00]");
  EXPECT_EQ(Apply(u"x==>y", u"\xDC00x\xD800"), u"\xDC00y\xD800");
  EXPECT_EQ(Apply(u"<.1>==>0", std::u16string_view(u"a\0b", 3)), u"a0b");
}

// Long enough that a quadratic scan runs for hours and the per-test timeout
// stops it, while a linear one takes milliseconds.
TEST(RuleApplyTest, LongLinesStayLinear) {
  constexpr size_t kLong = 2000000;
  const std::u16string_view swap = u"<all.0><tab.1><all.0><row.2>==><3><t><1><r>";
  // One line without a TAB or a line break.
  const std::u16string plain = Repeat(u'a', kLong);
  EXPECT_EQ(Apply(swap, plain), Cat({u"\t", plain, u"\r\n"}));
  const std::u16string left = Repeat(u'a', kLong / 2), right = Repeat(u'b', kLong / 2 - 1);
  EXPECT_EQ(Apply(swap, Cat({left, u"\t", right})), Cat({right, u"\t", left, u"\r\n"}));
  // A strict rule that scans far and then fails, at every position.
  const std::u16string far = Cat({plain, u"\ty"});
  EXPECT_EQ(Apply(u"<all.0><tab.1><x.1>==><n><1>", far), far);
  EXPECT_EQ(Apply(u"<l.9000000><x.1>==><n><1>", far), far);
  std::u16string rows = u"\r";
  for (size_t i = 0; i < kLong / 2; ++i) rows.append(u"\r\n");
  rows.append(u"y");
  EXPECT_EQ(Apply(u"<r.9000000><x.1>==><n><1>", rows), rows);
}

TEST(RuleApplyTest, ProgressTitles) {
  std::vector<std::u16string> titles;
  ConversionProgress record = [&](std::u16string_view t) { titles.emplace_back(t); };
  std::u16string out;
  ApplyRules(ParseRules(u"a==>b"), u"abcab", out, record);
  ASSERT_FALSE(titles.empty());
  EXPECT_EQ(titles.back(), u"码表格式转换 - 转换文本 , 总数：5，完成：5");
  titles.clear();
  ConvertLayoutText(u"a b\r\nc d", u" ", kOne, out, record);
  ASSERT_FALSE(titles.empty());
  EXPECT_EQ(titles.back(), u"码表格式转换 - 转换行数：2");
  // Throttled: a large text gives a handful of titles, not one per unit.
  titles.clear();
  ApplyRules(ParseRules(u"a==>b"), Repeat(u'x', 1000000), out, record);
  EXPECT_LT(titles.size(), 200u);
}

class RuleFileTest : public ::testing::Test {
 protected:
  std::filesystem::path Source(std::string_view bytes) {
    WriteBytes(dir_ / "table.txt", bytes);
    return dir_ / "table.txt";
  }
  std::filesystem::path Output() const { return ConversionOutputPath(dir_ / "table.txt"); }
  Result<uint64_t> Rules(std::string_view bytes, std::u16string_view rules) {
    return RunRuleConversion(fs_, Source(bytes), rules, Output());
  }
  Result<uint64_t> Layouts(std::string_view bytes, std::u16string_view separators,
                           Layout layout = kOne) {
    return RunLayoutConversion(fs_, Source(bytes), separators, layout, Output());
  }

  test::ScratchDir dir_;
  FileSystem& fs_ = test::DiskFs();
};

TEST_F(RuleFileTest, RuleRunWritesUtf16WithMark) {
  const auto source = Source(test::Utf8(u"abc 中文\r\nxyz"));
  std::vector<std::u16string> titles;
  Result<uint64_t> length =
      RunRuleConversion(fs_, source, u"<l.0><s.1><all.0><r.2>==><n><3><t><1><r>", Output(),
                        [&](std::u16string_view t) { titles.emplace_back(t); });
  ASSERT_OK(length);
  EXPECT_EQ(length.value(), 11u);
  EXPECT_EQ(ReadBytes(Output()), Utf16Le(u"中文\tabc\r\n\txyz\r\n"));
  ASSERT_FALSE(titles.empty());
  EXPECT_EQ(titles.front(), u"码表格式转换 - 读取规则定义");

  // An empty source is converted to an empty result.
  ASSERT_OK(Rules("", u"a==>b"));
  EXPECT_EQ(ReadBytes(Output()), "\xFF\xFE");

  // Output larger than one written piece arrives whole.
  std::u16string big;
  for (int i = 0; i < 40000; ++i) big.append(u"a中\r\n");
  ASSERT_OK(Rules(Utf16Le(big), u"a==>bb\n<row.1>==><s>"));
  EXPECT_EQ(ReadBytes(Output()), Utf16Le(Apply(u"a==>bb\n<row.1>==><s>", big)));
}

TEST_F(RuleFileTest, FailuresWriteNothing) {
  WriteBytes(Output(), "old");
  std::vector<std::u16string> titles;
  ConversionProgress record = [&](std::u16string_view t) { titles.emplace_back(t); };
  // No valid rule.
  EXPECT_FALSE(RunRuleConversion(fs_, Source("abc"), u"bad\r\na==>", Output(), record).IsOk());
  EXPECT_EQ(titles.back(), u"码表格式转换 - 错误的规则定义");
  // A source that cannot be read.
  Result<uint64_t> missing = RunRuleConversion(fs_, dir_ / "missing.txt", u"a==>b", Output());
  EXPECT_FALSE(missing.IsOk());
  EXPECT_NE(missing.status().message().find("missing.txt"), std::string::npos);
  EXPECT_FALSE(RunRuleConversion(fs_, dir_.path(), u"a==>b", Output()).IsOk());
  // Layout mode: unreadable, or no line with two fields.
  EXPECT_FALSE(RunLayoutConversion(fs_, dir_ / "missing.txt", u"空格", kOne, Output()).IsOk());
  EXPECT_FALSE(Layouts("one\r\ntwo\r\n", u"空格").IsOk());
  EXPECT_FALSE(Layouts("a b", u"").IsOk());
  EXPECT_EQ(ReadBytes(Output()), "old");
  // An output that cannot be created.
  EXPECT_FALSE(RunRuleConversion(fs_, Source("a"), u"a==>b", dir_ / "no" / "out.txt").IsOk());
}

TEST_F(RuleFileTest, LayoutRunReadsAnyEncoding) {
  Result<uint64_t> lines = Layouts(test::Gbk(u"a 啊 阿\r\nb\r\n"), u"TAB,空格", kEntries);
  ASSERT_OK(lines);
  EXPECT_EQ(lines.value(), 1u);
  EXPECT_EQ(ReadBytes(Output()), Utf16Le(u"啊\ta\r\n阿\ta\r\n"));
  // Only the first 127 units of the separator text count.
  const std::u16string commas = Repeat(u',', 127);
  EXPECT_FALSE(Layouts("a b", Cat({commas, u"空格"})).IsOk());
  EXPECT_OK(Layouts("a b", Cat({commas.substr(1), u" "})));
}

TEST_F(RuleFileTest, RuleFilesDecodeAlike) {
  const std::u16string rules = u"，==>,\r\n<c.0><s.1><l.0>==><3><t><1>\r\n";
  for (const std::string& bytes :
       {test::Utf8(rules), Utf16Le(rules), test::Utf16Be(rules), test::Gbk(rules)}) {
    WriteBytes(dir_ / "rules.txt", bytes);
    Result<TextBuffer> decoded = ReadTextFile(fs_, dir_ / "rules.txt");
    ASSERT_OK(decoded);
    ASSERT_OK(Rules(test::Utf8(u"中文 zw，\r\n"), decoded->text));
    EXPECT_EQ(ReadBytes(Output()), Utf16Le(u"zw\t中文,\r\n"));
  }
  // Rules past the first 4095 units of the rule text do not count.
  std::u16string longText = u"a==>b";
  while (longText.size() < kRuleTextLimit) longText.append(u"\n");
  longText.append(u"c==>d");
  ASSERT_OK(Rules("ac", longText));
  EXPECT_EQ(ReadBytes(Output()), Utf16Le(u"bc"));
}

}  // namespace
}  // namespace mirel
