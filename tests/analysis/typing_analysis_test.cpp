#include "analysis/typing_analysis.h"

#include <deque>
#include <filesystem>

#include "convert/linux_formats.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel::analysis {
namespace {

using test::DiskFs;
using test::ScratchDir;
using test::WriteBytes;

struct Table {
  std::vector<std::pair<std::u16string, std::u16string>> text;  // entry, code
  mutable std::deque<std::u16string> lines;  // grows only: earlier rows stay valid
  std::vector<TableRow> Rows() const {
    std::vector<TableRow> rows;
    for (const auto& [entry, code] : text)
      rows.push_back(TableRow::Of(lines.emplace_back(entry + u'\t' + code)));
    return rows;
  }
};

WeightList List(std::vector<WeightEntry> entries) {
  WeightList list;
  list.source = "test";
  list.entries = std::move(entries);
  return list;
}

// Ties, a later row with fewer keys, paging past 10, an entry on two codes
// and one the table lacks; the longest code has 2 keys.
Table Sample() {
  Table t;
  t.text = {{u"工", u"a"},  {u"式", u"a"},  {u"人", u"w"}, {u"人", u"ww"},
            {u"白", u"rr"}, {u"的", u"rr"}, {u"的", u"r"}, {u"工人", u"aw"}};
  for (char16_t k = 0; k < 11; ++k) t.text.push_back({std::u16string(1, u'丁' + k), u"x"});
  t.text.push_back({u"乙", u"x"});  // the 12th row of x: page 2, second candidate
  return t;
}

// A list's source and (entry, weight) pairs, to compare two lists whole.
std::pair<std::string, std::vector<std::pair<std::u16string, double>>> Contents(
    const WeightList& list) {
  std::vector<std::pair<std::u16string, double>> entries;
  for (const WeightEntry& e : list.entries) entries.emplace_back(e.entry, e.weight);
  return {list.source, entries};
}

WeightList SampleList() {
  return List({{u"工", 50},
               {u"式", 20},
               {u"人", 10},
               {u"的", 10},
               {u"乙", 5},
               {u"无", 5},
               {u"工人", 30},
               {u"零", 0}});
}

TEST(TypingAnalysisTest, HandComputedSampleGivesEveryFigure) {
  const Table table = Sample();
  const Analysis a = AnalyzeRows(table.Rows(), SampleList(), {});
  // S: 工 式 人 的 乙 无 (零 weighs nothing, 工人 is a word); C lacks 无.
  EXPECT_EQ(a.maxLength, 2u);
  EXPECT_EQ(a.rates.evaluated, 6u);
  EXPECT_EQ(a.rates.covered, 5u);
  EXPECT_DOUBLE_EQ(a.rates.coverage, 95.0 / 100);
  EXPECT_DOUBLE_EQ(a.sourceShareCovered, 125.0 / 130);
  // Not first: 式 (a, 2nd) and 乙 (x, 12th). Sorted by weight, 乙 leads x.
  EXPECT_DOUBLE_EQ(a.rates.selectionRate, 25.0 / 95);
  EXPECT_DOUBLE_EQ(a.rates.selectionRateSorted, 20.0 / 95);
  // Keys: 工 a+space, 式 a+2, 人 w+space (ties ww's 2 keys, earlier row),
  // 的 r+space (beats rr's 3), 乙 x + page + 2.
  EXPECT_DOUBLE_EQ(a.rates.keysPerChar, (50 * 2 + 20 * 2 + 10 * 2 + 10 * 2 + 5 * 3) / 95.0);
  EXPECT_DOUBLE_EQ(a.rates.codeLengthPerChar, 1.0);
  EXPECT_DOUBLE_EQ(a.keyUse['a'], 70.0 / 95);
  EXPECT_DOUBLE_EQ(a.keyUse['x'], 5.0 / 95);
  EXPECT_DOUBLE_EQ(a.keyUse[' '], 0);
  EXPECT_DOUBLE_EQ(a.fingerLoad[0], 70.0 / 95);  // a: left little
  // Pairs "a " 1.3, "a2" 2.2, "w " 1.1, "r " 1.4, "x2" 2.2.
  EXPECT_DOUBLE_EQ(a.rates.pairTime, (50 * 1.3 + 20 * 2.2 + 10 * 1.1 + 10 * 1.4 + 5 * 2.2) / 95);
  EXPECT_DOUBLE_EQ(a.rates.pairTimeCoverage, 1.0);
  // Without space only a2 (little, ring) and x2 (ring, ring) count.
  EXPECT_DOUBLE_EQ(a.rates.handAlternation, 0);
  EXPECT_DOUBLE_EQ(a.rates.sameFinger, 5.0 / 25);
  EXPECT_DOUBLE_EQ(a.rates.sameKey, 0);
  ASSERT_EQ(a.bands.size(), 6u);
  EXPECT_EQ(a.bands[0].rates.evaluated, 6u);
  EXPECT_EQ(a.bands[1].rates.evaluated, 0u);
  EXPECT_EQ(a.bands[5].lastRank, 0u);

  ASSERT_EQ(a.costlyCodes.size(), 2u);
  EXPECT_EQ(a.costlyCodes[0].code, u"a");
  EXPECT_DOUBLE_EQ(a.costlyCodes[0].cost, 20.0 / 95);
  ASSERT_EQ(a.costlyCodes[0].rows.size(), 2u);
  EXPECT_EQ(a.costlyCodes[0].rows[1].entry, u"式");
  EXPECT_EQ(a.costlyCodes[1].code, u"x");
  EXPECT_DOUBLE_EQ(a.costlyCodes[1].cost, 2 * 5.0 / 95);
  EXPECT_EQ(a.costlyCodes[1].rows.size(), 12u);
  ASSERT_EQ(a.missing.size(), 1u);
  EXPECT_EQ(a.missing[0].entry, u"无");
}

TEST(TypingAnalysisTest, SetsTopAndMaxLengthChangeWhatIsCounted) {
  const Table table = Sample();
  const Analysis w = AnalyzeRows(table.Rows(), SampleList(), {.set = EvaluatedSet::kWords});
  // 工人 aw: first on a code of the longest length, so it commits: 2 keys, 2 characters.
  EXPECT_EQ(w.rates.evaluated, 1u);
  EXPECT_DOUBLE_EQ(w.rates.keysPerChar, 1.0);
  EXPECT_EQ(w.rates.pairTimeCoverage, 1.0);

  // The top 3: 工 式 and, of the tie at 10, 人 (listed first).
  const Analysis t = AnalyzeRows(table.Rows(), SampleList(), {.top = 3});
  EXPECT_EQ(t.rates.evaluated, 3u);
  EXPECT_DOUBLE_EQ(t.rates.selectionRate, 20.0 / 80);

  // With L = 1 every single-key first candidate commits; ww, rr and aw pay a key.
  const Analysis o = AnalyzeRows(table.Rows(), SampleList(), {.maxLength = 1});
  EXPECT_DOUBLE_EQ(o.rates.keysPerChar, (50 * 1 + 20 * 2 + 10 * 1 + 10 * 1 + 5 * 3) / 95.0);

  const Analysis everything = AnalyzeRows(table.Rows(), SampleList(), {.set = EvaluatedSet::kAll});
  EXPECT_EQ(everything.rates.evaluated, 7u);
  EXPECT_EQ(everything.rates.covered, 6u);
}

TEST(TypingAnalysisTest, KeyboardAndPairTimesFromFiles) {
  const Table table = Sample();
  Result<Keyboard> keyboard = Keyboard::Read("# my fingers\na\t0\nx\t1\n2\t5\nw\t3\nr\t3\n");
  ASSERT_OK(keyboard);
  Result<PairTimes> times = PairTimes::Read("a \t1\nx2\t3\n");
  ASSERT_OK(times);
  const Analysis a = AnalyzeRows(table.Rows(), SampleList(),
                                 {.keyboard = keyboard.value(), .pairTimes = &times.value()});
  EXPECT_DOUBLE_EQ(a.rates.handAlternation, 1.0);  // 2 is now on the right hand
  EXPECT_DOUBLE_EQ(a.rates.sameFinger, 0);
  EXPECT_DOUBLE_EQ(a.rates.pairTime, (50 * 1 + 20 * 1.5 + 10 * 1.5 + 10 * 1.5 + 5 * 3) / 95.0);
  EXPECT_DOUBLE_EQ(a.rates.pairTimeCoverage, 55.0 / 95);

  for (std::string_view hostile :
       {"a\t9\n", "ab\t1\n", "a 1\n", " \t2\n", "a\t1\na\t2\n", "\xE5\xB7\xA5\t1\n", "# only\n"}) {
    EXPECT_FALSE(Keyboard::Read(hostile).IsOk()) << hostile;
  }
  for (std::string_view hostile :
       {"ab\t-1\n", "ab\tnan\n", "abc\t1\n", "ab\t1e400\n", "ab\t1\nab\t2\n"}) {
    EXPECT_FALSE(PairTimes::Read(hostile).IsOk()) << hostile;
  }
  const Result<Keyboard> bad = Keyboard::Read("a\t0\nb\t8\n");
  EXPECT_NE(bad.status().message().find("line 2"), std::string::npos) << bad.status().message();
}

TEST(TypingAnalysisTest, FreeCodesAreUnusedAndCheapestFirst) {
  Table t;
  t.text = {{u"甲", u"ab"}, {u"乙", u"ab"}, {u"丙", u"a"}, {u"丁", u"b"}, {u"戊", u"ba"}};
  Result<PairTimes> times = PairTimes::Read("aa\t2\nab\t1\nba\t1\nbb\t1.2\n");
  ASSERT_OK(times);
  const Analysis a =
      AnalyzeRows(t.Rows(), List({{u"甲", 1}, {u"乙", 1}}), {.pairTimes = &times.value()});
  ASSERT_EQ(a.costlyCodes.size(), 1u);
  EXPECT_EQ(a.costlyCodes[0].freeCodes, (std::vector<std::u16string>{u"bb", u"aa"}));
}

TEST(TypingAnalysisTest, ComparisonNamesWhoPays) {
  const Table before = Sample();
  Table after = Sample();
  std::swap(after.text[0], after.text[1]);  // 式 now leads a, 工 pays a select key
  const WeightList list = SampleList();
  const Compared compared = CompareRows(before.Rows(), after.Rows(), list, {});
  const Comparison& c = compared.against;
  EXPECT_DOUBLE_EQ(c.old.rates.selectionRate, 25.0 / 95);
  EXPECT_DOUBLE_EQ(compared.now.rates.selectionRate, 55.0 / 95);
  // Both keep 2 keys (a+space, a+2): no change of keys.
  EXPECT_TRUE(c.changes.empty());

  after.text[1].second = u"aa";  // 工 on aa: first of a 2-key code commits
  after.text.push_back({u"工", u"aaa"});
  const Compared movedCompared = CompareRows(before.Rows(), after.Rows(), list, {});
  EXPECT_EQ(movedCompared.now.maxLength, 3u);
  const Comparison& m = movedCompared.against;
  ASSERT_FALSE(m.changes.empty());
  // L grows to 3, so every entry's first candidate pays space again: 工 a+space
  // becomes aa+space (3 keys), the heaviest change.
  EXPECT_EQ(m.changes[0].entry, u"工");
  EXPECT_EQ(m.changes[0].oldKeys, 2);
  EXPECT_EQ(m.changes[0].newKeys, 3);
  const std::string json = AnalysisJson(movedCompared.now, &m);
  EXPECT_NE(json.find("\"against\":{\"source\":\"test\""), std::string::npos);
  EXPECT_NE(json.find("\"change\":{\"coverage\":0,"), std::string::npos);
}

TEST(TypingAnalysisTest, WeightListsSumRepeatsAndNameBadLines) {
  ScratchDir dir;
  WriteBytes(dir / "w.txt",
             "\xEF\xBB\xBF工\t5\n式\t2.5\r\n工\t3\n无重\n坏\t-1\n坏\tabc\n坏\t1e99\n坏\t"
             "99999999999999999999\n\t4\n的 7 n\n了 8\n# comment\n\n人\t0\n");
  Result<WeightList> list = ReadWeightList(DiskFs(), dir / "w.txt");
  ASSERT_OK(list);
  ASSERT_EQ(list->entries.size(), 5u);
  EXPECT_EQ(list->entries[0].entry, u"工");
  EXPECT_DOUBLE_EQ(list->entries[0].weight, 8);
  EXPECT_DOUBLE_EQ(list->entries[1].weight, 2.5);
  EXPECT_EQ(list->entries[2].entry, u"的");
  EXPECT_EQ(list->badLines, 6u);
  EXPECT_EQ(list->firstBadLines, (std::vector<uint32_t>{4, 5, 6, 7, 8, 9}));

  // UTF-16 and GBK lists read as tables do; a list of nothing but bad lines is refused.
  WriteBytes(dir / "u16.txt", test::Utf16Le(u"工\t5\r\n"));
  WriteBytes(dir / "gbk.txt", test::Gbk(u"工\t5\n"));
  for (const char* name : {"u16.txt", "gbk.txt"}) {
    Result<WeightList> read = ReadWeightList(DiskFs(), dir / name);
    ASSERT_OK(read);
    EXPECT_EQ(read->entries[0].entry, u"工");
  }
  WriteBytes(dir / "bad.txt", "a\nb\t\n");
  EXPECT_FALSE(ReadWeightList(DiskFs(), dir / "bad.txt").IsOk());
  EXPECT_FALSE(LoadBuiltInSource(DiskFs(), "nonsense", Script::kAuto, {}).IsOk());
}

// The real tables of Debian with each built-in source.
TEST(TypingAnalysisTest, RealTablesWithBuiltInSources) {
  for (const char* path :
       {"/usr/share/rime-data/wubi86.dict.yaml", "/usr/share/rime-data/cangjie5.dict.yaml"}) {
    if (!std::filesystem::exists(path)) {
      GTEST_SKIP() << path << " is missing (Debian rime-data-wubi, rime-data-cangjie5)";
    }
    Result<std::string> bytes = ReadFileBytes(DiskFs(), path);
    ASSERT_OK(bytes);
    Result<linux_table::ReadResult> read = linux_table::ReadRime(bytes.value());
    ASSERT_OK(read);
    const std::u16string text = linux_table::ToMirelText(read->table);
    std::vector<TableRow> rows;
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
      end = std::min(text.find(u"\r\n", at), text.size());
      const std::u16string_view line(text.data() + at, end - at);
      if (line.find(u'\t') != line.npos) rows.push_back(TableRow::Of(line));
    }
    ASSERT_GT(rows.size(), 50000u) << path;
    for (const char* source : {"essay", "jieba", "pinlu"}) {
      SCOPED_TRACE(std::string(path) + " " + source);
      Result<WeightList> list = LoadBuiltInSource(DiskFs(), source, Script::kAuto, rows);
      ASSERT_OK(list);
      EXPECT_GT(list->entries.size(), 3000u);
      const Analysis a = AnalyzeRows(rows, list.value(), {});
      EXPECT_GT(a.rates.coverage, 0.99);
      EXPECT_GT(a.rates.keysPerChar, 2.5);
      EXPECT_LT(a.rates.keysPerChar, 5);
      EXPECT_GT(a.rates.selectionRate, 0);
      EXPECT_LE(a.rates.selectionRateSorted, a.rates.selectionRate);
      EXPECT_GT(a.rates.pairTimeCoverage, 0.99);
      double use = 0;
      for (double share : a.keyUse) use += share;
      EXPECT_NEAR(use, 1.0, 1e-9);
    }
  }
}

TEST(TypingAnalysisTest, EssayScriptPicksTheFormTheTableHolds) {
  if (!std::filesystem::exists("/usr/share/rime-data/essay.txt"))
    GTEST_SKIP() << "essay.txt is not installed (rime-data-essay)";
  const std::vector<TableRow> simplified = {TableRow::Of(u"这\ta"), TableRow::Of(u"个\tb"),
                                            TableRow::Of(u"们\tc"), TableRow::Of(u"来\td")};
  const std::vector<TableRow> traditional = {TableRow::Of(u"這\ta"), TableRow::Of(u"個\tb"),
                                             TableRow::Of(u"們\tc"), TableRow::Of(u"來\td")};
  Result<WeightList> s = LoadBuiltInSource(DiskFs(), "essay", Script::kAuto, simplified);
  Result<WeightList> t = LoadBuiltInSource(DiskFs(), "essay", Script::kAuto, traditional);
  ASSERT_OK(s);
  ASSERT_OK(t);
  EXPECT_EQ(s->source, "essay (simplified)");
  EXPECT_EQ(t->source, "essay (traditional)");
  // Forms that become one add up: fewer entries, the same total weight.
  double sw = 0, tw = 0;
  for (const WeightEntry& e : s->entries) sw += e.weight;
  for (const WeightEntry& e : t->entries) tw += e.weight;
  EXPECT_LT(s->entries.size(), t->entries.size());
  EXPECT_DOUBLE_EQ(sw, tw);

  // Converted in pieces, the list is the one a single conversion gives.
  Result<WeightList> essay = LoadBuiltInSource(DiskFs(), "essay", Script::kTraditional, {});
  ASSERT_OK(essay);
  Result<WeightList> whole = SimplifyList(essay.value(), 1);
  Result<WeightList> pieces = SimplifyList(essay.value(), 7);
  ASSERT_OK(whole);
  ASSERT_OK(pieces);
  EXPECT_TRUE(Contents(whole.value()) == Contents(pieces.value()));
}

// The cached list is the list a fresh conversion makes; a cache from another
// list, a damaged one or one that cannot be written is not trusted or needed.
TEST(TypingAnalysisTest, CachedSimplifiedListIsTheFreshOne) {
  if (!std::filesystem::exists("/usr/share/opencc/t2s.json")) GTEST_SKIP() << "no OpenCC data";
  WeightList traditional = List({{u"這", 5}, {u"个", 2}, {u"個", 3}, {u"們", 0.1}, {u"頭髮", 7}});
  traditional.source = "essay";
  const Result<WeightList> fresh = SimplifyList(traditional);
  ASSERT_OK(fresh);
  ScratchDir dir;
  const std::filesystem::path folder = dir.path() / "cache";
  const std::filesystem::path file = folder / "essay-simplified.txt";
  Result<WeightList> first = SimplifyListCached(DiskFs(), traditional, folder);
  ASSERT_OK(first);
  EXPECT_EQ(Contents(first.value()), Contents(fresh.value()));
  const std::string written = test::ReadBytes(file);
  ASSERT_FALSE(written.empty());

  // Read back; then each damage or edit is noticed and the cache made again.
  const size_t firstLine = written.find('\n') + 1;
  std::string otherWeight = written;
  otherWeight.replace(otherWeight.find('\t', firstLine) + 1, 1, "9");
  const std::vector<std::string> caches = {
      written,
      written.substr(0, written.size() - 3),
      std::string(written).replace(firstLine - 4, 1, "x"),
      otherWeight,
      written + "這\t1\n",
      written + "這\tnan\n",
      written + "這\t1e300\n",
      written + "\xFF\xFE\t1\n",
      written + "\t1\n",
      written + "這",
  };
  for (const std::string& cache : caches) {
    test::WriteBytes(file, cache);
    Result<WeightList> again = SimplifyListCached(DiskFs(), traditional, folder);
    ASSERT_OK(again);
    EXPECT_EQ(Contents(again.value()), Contents(fresh.value()));
    EXPECT_EQ(test::ReadBytes(file), written);
  }
  // A cache of another list is not taken for this one's.
  traditional.entries[0].weight = 6;
  Result<WeightList> changed = SimplifyListCached(DiskFs(), traditional, folder);
  ASSERT_OK(changed);
  EXPECT_EQ(changed->entries[0].weight, 6);
  EXPECT_NE(test::ReadBytes(file), written);

  // A folder that cannot be made costs the cache only.
  test::WriteBytes(dir.path() / "file", "x");
  Result<WeightList> uncached = SimplifyListCached(DiskFs(), traditional, dir.path() / "file");
  ASSERT_OK(uncached);
  EXPECT_EQ(uncached->entries.size(), changed->entries.size());
}

}  // namespace
}  // namespace mirel::analysis
