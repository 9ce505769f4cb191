#include "analysis/statistics.h"

#include <array>
#include <map>

#include "platform/utf16.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

using Rows = std::vector<std::u16string_view>;

std::u16string Report(const Rows& rows) { return FormatStatisticsReport(MeasureRows(rows)); }

// One report line that starts with `start`.
std::u16string Line(const std::u16string& report, std::u16string_view start) {
  std::u16string needle = u"\n";
  needle.append(start);
  size_t at = report.find(needle);
  if (at == std::u16string::npos) return u"<missing>";
  ++at;
  return report.substr(at, report.find(u"\r\n", at) - at);
}

TEST(StatisticsTest, WorkedExampleGivesTheWholeReport) {
  const std::u16string expected =
      u"--------------------统计信息开始------------------\r\n\r\n"
      u"编码总数:4 个\r\n"
      u"重码总数：3个，占编码总数的75.000000%。\r\n"
      u"码元集总数:2 个，所有码元：ai\r\n"
      u"各码元占用率统计如下：\r\n"
      u"编码 a 出现次数 4 ，占码表编码字符总数的 80.000000%。\r\n"
      u"编码 i 出现次数 1 ，占码表编码字符总数的 20.000000%。\r\n"
      u"-----------------------------------\r\n"
      u"1键编码总数:3个，占编码总数的75.000000%，码元空间利用率：0.000000%\r\n"
      u"2键编码总数:1个，占编码总数的25.000000%，码元空间利用率：25.000000%\r\n"
      u"3键编码总数:0个，占编码总数的0.000000%，码元空间利用率：0.000000%\r\n"
      u"4键编码总数:0个，占编码总数的0.000000%，码元空间利用率：0.000000%\r\n"
      u"更多键编码总数:0个，占编码总数的0.000000%，码元空间利用率无法统计.\r\n"
      u"-----------------------------------\r\n"
      u"1键重码数:3个，占1键编码总数的100.000000%，占重码总数的100.000000%，占编码总数的75.000000%"
      u"\r\n"
      u"2键重码数:0个，占2键编码总数的0.000000%，占重码总数的0.000000%，占编码总数的0.000000%\r\n"
      u"3键重码数:0个，占3键编码总数的0.000000%，占重码总数的0.000000%，占编码总数的0.000000%\r\n"
      u"4键重码数:0个，占4键编码总数的0.000000%，占重码总数的0.000000%，占编码总数的0.000000%\r\n"
      u"多键重码数:0个，占多键编码总数的0.000000%，占重码总数的0.000000%，占编码总数的0.000000%\r\n"
      u"-----------------------------------\r\n"
      u"单字数:4个，占编码总数的100.000000%\r\n"
      u"二字词数:0个，占编码总数的0.000000%\r\n"
      u"三字词数:0个，占编码总数的0.000000%\r\n"
      u"四字词数:0个，占编码总数的0.000000%\r\n"
      u"多字词数:0个，占编码总数的0.000000%\r\n"
      u"-----------------------------------\r\n"
      u"相同词条编码重定义(容错码)总数：0个，占编码总数的0.000000%，其中：\r\n"
      u"单字编码重定义数:0个，占重定义总数的0.000000%，占编码总数的0.000000%\r\n"
      u"二字词编码重定义数:0个，占重定义总数的0.000000%，占编码总数的0.000000%\r\n"
      u"三字词编码重定义数:0个，占重定义总数的0.000000%，占编码总数的0.000000%\r\n"
      u"四字词编码重定义数:0个，占重定义总数的0.000000%，占编码总数的0.000000%\r\n"
      u"多字词编码重定义数:0个，占重定义总数的0.000000%，占编码总数的0.000000%\r\n"
      u"\r\n\r\n--------------------统计信息结束------------------\r\n\r\n";
  EXPECT_EQ(Report({u"啊\ta", u"阿\ta", u"吖\ta", u"爱\tai"}), expected);
}

TEST(StatisticsTest, DuplicatesAndRedefinitionsCountEveryRowOfARun) {
  const std::u16string report = Report({u"甲\tabcdef", u"乙\tabcdef", u"丙\tab", u"丁\tAB",
                                        u"词语\tcy", u"词语\tcyy", u"词语\tcyu", u"𠀀\tzz"});
  EXPECT_EQ(Line(report, u"多键重码数"),
            u"多键重码数:2个，占多键编码总数的100.000000%，占重码总数的100.000000%，占编码总数的25."
            u"000000%");
  EXPECT_EQ(Line(report, u"二字词编码重定义数"),
            u"二字词编码重定义数:3个，占重定义总数的100.000000%，占编码总数的37.500000%");
  // Upper and lower case are different elements; a supplementary character is one character.
  EXPECT_EQ(Line(report, u"码元集总数"), u"码元集总数:11 个，所有码元：ABabcdefuyz");
  EXPECT_EQ(Line(report, u"单字数"), u"单字数:5个，占编码总数的62.500000%");
  // No duplicate code among four distinct ones: every share of D is 0.
  const std::u16string distinct = Report({u"a\tq", u"b\tw", u"c\te", u"d\tr"});
  EXPECT_EQ(Line(distinct, u"重码总数"), u"重码总数：0个，占编码总数的0.000000%。");
  EXPECT_EQ(
      Line(distinct, u"1键重码数"),
      u"1键重码数:0个，占1键编码总数的0.000000%，占重码总数的0.000000%，占编码总数的0.000000%");

  // A space is a code element like any other, but printed it would be a gap.
  const std::u16string spaced = Report({u"啊\ta b", u"阿\tb "});
  EXPECT_EQ(Line(spaced, u"码元集总数"), u"码元集总数:3 个，所有码元：空格ab");
  EXPECT_EQ(Line(spaced, u"编码 空格 "),
            u"编码 空格 出现次数 2 ，占码表编码字符总数的 40.000000%。");
  EXPECT_EQ(Line(spaced, u"编码 b "), u"编码 b 出现次数 2 ，占码表编码字符总数的 40.000000%。");
}

TEST(StatisticsTest, MoreThan127ElementsKeepThoseACodeOrderPassMeetsFirst) {
  std::vector<std::u16string> owned;
  // Codes "~" followed by 200 units from U+4E00, plus plain letters that sort first.
  for (int k = 0; k < 200; ++k) owned.push_back(u"e\t~" + std::u16string(1, char16_t(0x4E00 + k)));
  owned.push_back(u"x\tab");
  Rows rows(owned.begin(), owned.end());
  const TableStatistics s = MeasureRows(rows);
  ASSERT_EQ(s.elements.size(), 127u);
  // a, b, ~ and the first 124 ideographs in code order.
  EXPECT_EQ(s.elements.substr(0, 3), u"ab~");
  EXPECT_EQ(s.elements.back(), char16_t(0x4E00 + 123));
  // Units beyond the set still count, by their low seven bits.
  EXPECT_EQ(s.elementTotal, 2u * 200 + 2);
  EXPECT_EQ(Line(FormatStatisticsReport(s), u"码元集总数").substr(0, 11), u"码元集总数:127 个");
}

TEST(StatisticsTest, RunsMatchAPlainCountOnAManyRowTable) {
  // Enough distinct keys that the counting tables grow several times, keys
  // short enough to be kept in a slot and long ones read from the rows,
  // repeats both adjacent and far apart, and keys alike in their first 127
  // units only.
  uint32_t seed = 99;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  std::vector<std::u16string> owned;
  const std::u16string far(130, u'q');
  for (int k = 0; k < 60000; ++k) {
    if (k > 0 && next(4) == 0) {
      owned.push_back(owned[next(4) == 0 ? k - 1 : next(static_cast<uint32_t>(k))]);
      continue;
    }
    std::u16string entry, code;
    for (uint32_t n = 1 + next(next(2) ? 2 : 7); n-- > 0;)
      entry += next(3) == 0 ? u"\U00020001" : std::u16string(1, char16_t(0x4E00 + next(300)));
    for (uint32_t n = 1 + next(next(2) ? 4 : 9); n-- > 0;)
      code += static_cast<char16_t>(u'a' + next(5));
    if (next(500) == 0) code = far + code;
    if (next(500) == 0) entry = std::u16string(130, u'长') + entry;
    owned.push_back(entry + u"\t" + code);
  }
  auto lengthClass = [](size_t n) { return n >= 5 ? 5 : static_cast<int>(n); };
  std::array<uint32_t, 6> duplicates{}, redefinitions{};
  std::map<std::u16string, std::pair<uint32_t, int>> codes, entries;
  for (const auto& row : owned) {
    const size_t tab = row.find(u'\t');
    const std::u16string entry = row.substr(0, tab), code = row.substr(tab + 1);
    auto& c = codes[code.substr(0, 127)];
    c = {c.first + 1, lengthClass(code.size())};
    auto& e = entries[entry.substr(0, 127)];
    e = {e.first + 1, lengthClass(CountCharacters(entry))};
  }
  for (const auto& [key, run] : codes) duplicates[run.second] += run.first >= 2 ? run.first : 0;
  for (const auto& [key, run] : entries)
    redefinitions[run.second] += run.first >= 2 ? run.first : 0;
  const TableStatistics s = MeasureRows(Rows(owned.begin(), owned.end()));
  EXPECT_EQ(s.duplicates, duplicates);
  EXPECT_EQ(s.redefinitions, redefinitions);
  EXPECT_EQ(s.elements, u"abcdeq");
}

// A report that cannot be written leaves the old one and the changed table.
TEST(StatisticsTest, ReportFileIsUtf16WithMarkOrLeavesTheOldOne) {
  test::ScratchDir dir;
  test::FaultyFileSystem faulty(test::DiskFs());
  Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(dir.path());
  ASSERT_OK(temp);
  TableStore store(faulty, *temp.value());
  test::WriteBytes(dir / "t.txt", test::Utf8(u"啊\ta\r\n阿\ta\r\n吖\ta\r\n爱\tai\r\n"));
  const std::filesystem::path report = dir.path() / std::filesystem::path(u"码表信息统计文档.txt");
  test::WriteBytes(report, "old report");
  const test::KeptFiles kept({report, dir / "t.txt"});
  auto reset = [&] {
    ASSERT_OK(store.LoadTable(dir / "t.txt"));
    store.DeleteRow(3);
  };
  const int faults = test::FailEachStep(
      faulty, kept,
      [&] {
        Status written = WriteStatisticsReport(store, report);
        EXPECT_TRUE(store.IsOpen());
        EXPECT_TRUE(store.dirty());
        EXPECT_EQ(store.RowCount(), 3u);
        return written;
      },
      reset);
  test::TallyFaults("WriteStatisticsReport", faults);

  ASSERT_OK(WriteStatisticsReport(store, report));
  EXPECT_EQ(test::ReadBytes(report), test::Utf16Le(FormatStatisticsReport(MeasureTable(store))));
  store.CloseTable();
  EXPECT_FALSE(WriteStatisticsReport(store, dir / "r2.txt").IsOk());
}

}  // namespace
}  // namespace mirel
