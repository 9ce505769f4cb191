#include "generate/single_characters.h"

#include "generate/error_log.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::TableBytes;
using test::Utf16Le;
using test::Utf8;
using test::WriteBytes;
using namespace std::string_view_literals;

struct Generated {
  std::u16string out;
  std::vector<std::u16string> errors;
  SingleResult counts;
};

Generated Generate(std::u16string_view splitTable, std::u16string_view keyMap) {
  Generated g;
  g.counts = GenerateSingleText(splitTable, ParseKeyMap(keyMap), g.out,
                                [&](std::u16string_view m) { g.errors.emplace_back(m); });
  EXPECT_EQ(g.counts.errors, g.errors.size());
  return g;
}

// A high surrogate without its low half.
const std::u16string kLone(1, char16_t{0xD840});

std::u16string Undefined(std::u16string_view component, std::u16string_view character) {
  std::u16string m = u"[ ";
  m.append(component).append(u" ] 未定义按键映射，在汉字[ ").append(character);
  return m.append(u" ]的拆分中出现");
}

TEST(KeyMapTest, KeyIsTheFirstUnitAndOneSeparatorIsSkipped) {
  const KeyMap keys = ParseKeyMap(
      u"a=木林\r\nb木火\nc:人\rd\t大\r\n\r\ne 口\nf::土\ng  x\nh==\ni\nj𠀀\nk" + kLone + u"y\n");
  // The first definition wins; only one separator is skipped, the rest,
  // spaces included, are components; a key alone defines nothing; a pair is
  // one component, its first unit alone another.
  const std::pair<std::u16string, char16_t> found[] = {
      {u"木", u'a'}, {u"林", u'a'}, {u"火", u'b'}, {u"人", u'c'}, {u"大", u'd'},
      {u"口", u'e'}, {u":", u'f'},  {u"土", u'f'}, {u" ", u'g'},  {u"x", u'g'},
      {u"=", u'h'},  {u"i", 0},     {u"𠀀", u'j'}, {kLone, u'k'}, {u"y", u'k'}};
  for (const auto& [component, key] : found)
    EXPECT_EQ(keys.Find(component), key) << Utf8(component);
  EXPECT_EQ(keys.size(), 14u);

  KeyMap direct;
  EXPECT_TRUE(direct.Add(u"𠀀", u'z'));
  EXPECT_FALSE(direct.Add(u"𠀀", u'q'));
  EXPECT_FALSE(direct.Add(u"木", 0));
  EXPECT_FALSE(direct.Add(u"ab", u'q'));
  EXPECT_FALSE(direct.Add(u"", u'q'));
  EXPECT_EQ(direct.Find(u"𠀀"), u'z');
  EXPECT_EQ(direct.Find(u"ab"), 0);
  EXPECT_EQ(direct.size(), 1u);
}

TEST(KeyMapTest, LongLinesGoOnAsTheNextLine) {
  // 255 units make a line; the rest is a line of its own with its own key.
  const KeyMap keys = ParseKeyMap(u"a" + std::u16string(253, u'x') + u"m" + u"by");
  EXPECT_EQ(keys.Find(u"m"), u'a');
  EXPECT_EQ(keys.Find(u"y"), u'b');
  EXPECT_EQ(keys.Find(u"b"), 0);
}

TEST(SingleCharactersTest, EveryDecompositionBecomesALine) {
  const std::u16string keys = u"a木\nb林\nc人\nd𠀀\n";
  Generated g = Generate(u"好\t木人\t林\r\n\r\n\t\t\r\n字\r\n从\t\t人人\t\r\n\t林\t木\n", keys);
  // Blank and TAB-only lines and a lone field give nothing; a run of TABs is
  // one separator, also at the start of a line.
  EXPECT_EQ(g.out, u"好\tac\r\n好\tb\r\n从\tcc\r\n林\ta\r\n");
  EXPECT_TRUE(g.errors.empty());
  EXPECT_EQ(g.counts.codes, 4u);

  // Unknown components are reported one by one and left out of the code; a
  // decomposition with none known still gives the character and TAB.
  g = Generate(u"好\t木女子\t女\r\n𤭢\t𠀀𤭢\r\n", keys);
  EXPECT_EQ(g.out, u"好\ta\r\n好\t\r\n𤭢\td\r\n");
  EXPECT_EQ(g.errors,
            (std::vector<std::u16string>{Undefined(u"女", u"好"), Undefined(u"子", u"好"),
                                         Undefined(u"女", u"好"), Undefined(u"𤭢", u"𤭢")}));
  // A lone surrogate is looked up and reported as one unit.
  g = Generate(u"字\t" + kLone + u"木\r\n", keys);
  EXPECT_EQ(g.out, u"字\ta\r\n");
  EXPECT_EQ(g.errors, std::vector<std::u16string>{Undefined(kLone, u"字")});
  // The character is taken as text; a NUL breaks a line rather than ending
  // the table.
  g = Generate(u"字字\t木\0好\t林"sv, keys);
  EXPECT_EQ(g.out, u"字字\ta\r\n好\tb\r\n");
}

TEST(SingleCharactersTest, LinesAreCutAt127UnitsAndInputLinesAt255) {
  const std::u16string keys = u"a木\n";
  // Keys past 127 units are dropped, but their unknown neighbours still count.
  Generated g = Generate(u"字\t" + std::u16string(200, u'木') + u"女", keys);
  EXPECT_EQ(g.out, u"字\t" + std::u16string(125, u'a') + u"\r\n");
  EXPECT_EQ(g.errors.size(), 1u);
  g = Generate(std::u16string(126, u'c') + u"\t木", keys);
  EXPECT_EQ(g.out, std::u16string(126, u'c') + u"\t\r\n");

  // An input line of more than 255 units goes on as the next line, and a
  // pair at the cut moves whole to the next line.
  g = Generate(u"字\t" + std::u16string(253, u'木') + u"好\t木", keys);
  EXPECT_EQ(g.out, u"字\t" + std::u16string(125, u'a') + u"\r\n好\ta\r\n");
  g = Generate(u"字\t" + std::u16string(252, u'木') + u"𠀀\t木", keys);
  EXPECT_EQ(g.out, u"字\t" + std::u16string(125, u'a') + u"\r\n𠀀\ta\r\n");
  EXPECT_TRUE(g.errors.empty());
}

TEST(SingleCharactersTest, ProgressCountsTheRestAfterAFinalLineEnd) {
  std::u16string caption, out;
  const SingleResult counts =
      GenerateSingleText(u"一\ta\r\n二\tb\tc\r\n三\tq\r\n", ParseKeyMap(u"Aa\nBb\nCc"), out, {},
                         [&](std::u16string_view c) { caption = c; });
  EXPECT_EQ(counts.lines, 4u);
  EXPECT_EQ(counts.codes, 4u);
  EXPECT_EQ(counts.errors, 1u);
  EXPECT_EQ(caption, u"单字编码生成 - 读取行数：4，生成编码数：4,错误数=1");
  EXPECT_EQ(GenerateSingleText(u"一\ta\n二\tb", KeyMap(), out, {}).lines, 2u);
  EXPECT_EQ(GenerateSingleText(u"", KeyMap(), out, {}).lines, 0u);
}

TEST(SingleCharactersTest, SettingsTextRoundTripsAndKeepsAbsentPaths) {
  SingleCharacterSettings settings;
  EXPECT_EQ(FormatSingleSettings(settings), u"拆分表=拆分表.txt\r\n键盘映射表=键盘映射表.txt\r\n");
  settings.splitTable = u"/表/拆 分.txt";
  settings.keyMap = std::u16string(kSinglePathLimit, u'k');
  const SingleCharacterSettings back = ParseSingleSettings(FormatSingleSettings(settings), {});
  EXPECT_EQ(back.splitTable, settings.splitTable);
  EXPECT_EQ(back.keyMap, settings.keyMap);

  SingleCharacterSettings current;
  current.splitTable = u"/old/split.txt";
  current.keyMap = u"/old/keys.txt";
  SingleCharacterSettings parsed = ParseSingleSettings(u"键盘映射表=/new/keys.txt\n", current);
  EXPECT_EQ(parsed.splitTable, u"/old/split.txt");
  EXPECT_EQ(parsed.keyMap, u"/new/keys.txt");
  parsed = ParseSingleSettings(u"拆分表=/a.txt\r键盘映射表=" + std::u16string(300, u'x'), current);
  EXPECT_EQ(parsed.splitTable, u"/a.txt");
  EXPECT_EQ(parsed.keyMap, std::u16string(kSinglePathLimit, u'x'));
  // Only the first 4095 units are read.
  parsed = ParseSingleSettings(std::u16string(4092, u' ') + u"拆分表=/b.txt", current);
  EXPECT_EQ(parsed.splitTable, u"/old/split.txt");
}

class SingleFilesTest : public ::testing::Test {
 protected:
  std::filesystem::path Put(std::string_view name, std::string_view bytes) {
    WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  std::filesystem::path Output() const { return dir_ / "[ 生成的单字码表 ].txt"; }
  std::filesystem::path Log() const { return dir_ / "[ error_码表生成 ].txt"; }

  ScratchDir dir_;
};

TEST_F(SingleFilesTest, RegeneratesAKnownTableBesideTheSplitTable) {
  const std::vector<std::u16string> table = {u"一\tg",  u"丁\tgs", u"七\tag", u"七\tga",
                                             u"𠀀\tgz", u"林\tss", u"好\tvb"};
  const auto split = Put("拆分表.txt", Utf8(u"\uFEFF一\t一\n丁\t一亅\n七\t乚一\t一乚\n"
                                            u"𠀀\t一𠂇\n林\t木木\n好\t女子\n"));
  const auto keys =
      Put("键盘映射表.txt", Utf16Le(u"g=一\r\ns 亅木\r\na:乚\r\nz\t𠂇\r\nv女\r\nb子\r\n"));
  WriteBytes(Log(), "stale messages");
  std::u16string caption;
  Result<SingleResult> result = GenerateSingleCharacters(
      test::DiskFs(), split, keys, {}, {}, [&](std::u16string_view c) { caption = c; });
  ASSERT_OK(result);
  EXPECT_EQ(result->codes, table.size());
  EXPECT_EQ(result->lines, 7u);
  EXPECT_EQ(ReadBytes(Output()), TableBytes(table));
  // A clean run leaves a log with only the mark, never the old messages.
  EXPECT_EQ(ReadBytes(Log()), "\xFF\xFE");
  EXPECT_EQ(caption, u"单字编码生成 - 读取行数：7，生成编码数：7,错误数=0");
}

TEST_F(SingleFilesTest, LogsEveryComponentWithoutAKey) {
  const auto split = Put("s.txt", Utf16Le(u"好\t女子\t女\r\n"));
  const auto keys = Put("k.txt", Utf8(u"b子\n"));
  Result<SingleResult> result =
      GenerateSingleCharacters(test::DiskFs(), split, keys, dir_ / "out.txt", dir_ / "err.txt");
  ASSERT_OK(result);
  EXPECT_EQ(result->errors, 2u);
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), TableBytes({u"好\tb", u"好\t"}));
  EXPECT_EQ(ReadBytes(dir_ / "err.txt"),
            TableBytes({Undefined(u"女", u"好"), Undefined(u"女", u"好")}));
  EXPECT_FALSE(std::filesystem::exists(Output()));
}

TEST_F(SingleFilesTest, FailuresWriteNothing) {
  const auto split = Put("s.txt", Utf8(u"好\t子\n"));
  const auto keys = Put("k.txt", Utf8(u"b子\n"));
  WriteBytes(Output(), "old");
  WriteBytes(Log(), "old log");
  // Each failure starts with its fixed message, then names the file and the
  // reason; nothing is written.
  auto fails = [&](const std::filesystem::path& s, const std::filesystem::path& k,
                   const std::filesystem::path& out, const std::string& start,
                   const std::atomic<bool>* cancel = nullptr) {
    const Result<SingleResult> result =
        GenerateSingleCharacters(test::DiskFs(), s, k, out, {}, {}, cancel);
    const std::string message = result.IsOk() ? "ok" : result.status().message();
    EXPECT_EQ(message.rfind(start, 0), 0u) << message;
    EXPECT_EQ(ReadBytes(Output()), "old");
    EXPECT_EQ(ReadBytes(Log()), "old log");
  };
  const std::string missing = (dir_ / "missing.txt").string() + ": cannot open: No such file";
  fails(split, dir_ / "missing.txt", {}, "无法打开键盘映射表定义文件。 (" + missing);
  fails(dir_ / "missing.txt", keys, {}, "无法打开单字拆分序列文件。 (" + missing);
  fails(split, keys, dir_ / "none" / "out.txt", "无法创建指定的保存文件路径。 (");
  fails(split, keys, dir_.path(), "无法创建指定的保存文件路径。 (");
  const std::atomic<bool> cancel{true};
  fails(split, keys, {}, std::string(kSingleCancelledMessage), &cancel);
}

TEST(ErrorLogTest, WritesOneLinePerMessageOnClose) {
  ScratchDir dir;
  const std::filesystem::path path = dir / "err.txt";
  WriteBytes(path, "old");
  ErrorLog log = ErrorLog::Open(test::DiskFs(), path);
  ASSERT_TRUE(log.Available());
  log.Add(u"第一");
  log.Add(u"第二\r\n");  // a message's own line end is not doubled
  log.Add(u"---\r\n横幅\r\n---\r\n");
  log.Add(std::u16string(1100, u'x'));
  log.Add(std::u16string(1020, u'y') + u"𠀀");  // the pair would straddle the limit
  EXPECT_EQ(log.count(), 5u);
  EXPECT_EQ(ReadBytes(path), "old");  // in place only on Close
  EXPECT_OK(log.Close());
  EXPECT_OK(log.Close());
  const std::string written = TableBytes({u"第一", u"第二", u"---\r\n横幅\r\n---",
                                          std::u16string(1021, u'x'), std::u16string(1020, u'y')});
  EXPECT_EQ(ReadBytes(path), written);

  // Dropped without Close: the old file stays.
  {
    ErrorLog dropped = ErrorLog::Open(test::DiskFs(), path);
    dropped.Add(u"lost");
  }
  EXPECT_EQ(ReadBytes(path), written);

  ErrorLog missing = ErrorLog::Open(test::DiskFs(), dir / "none" / "err.txt");
  EXPECT_FALSE(missing.Available());
  missing.Add(u"m");
  EXPECT_EQ(missing.count(), 1u);
  const Status closed = missing.Close();
  EXPECT_FALSE(closed.IsOk());
  EXPECT_NE(closed.message().find("none"), std::string::npos) << closed.message();
  EXPECT_FALSE(std::filesystem::exists(dir / "none"));
}

}  // namespace
}  // namespace mirel
