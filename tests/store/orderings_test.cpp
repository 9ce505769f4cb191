#include <algorithm>
#include <functional>
#include <set>

#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;
using test::ReadBytes;
using test::TableBytes;

class OrderingsTest : public test::StoreTest {
 protected:
  Lines Entries() const {
    Lines entries;
    for (const auto& row : Rows()) entries.push_back(row.substr(0, row.find(u'\t')));
    return entries;
  }
};

TEST_F(OrderingsTest, FrequencyFileOrdersByNumberAndKeepsTiesInPlace) {
  ASSERT_OK(Load(u"甲\ta\r\n乙\tb\r\n丙\tc\r\n丁\td\r\n"));
  test::WriteBytes(dir_ / "freq.txt", test::Utf8(u"乙\t1\r\n甲\t2\n甲\t0\r\n丁\t-1\r\n"));
  ASSERT_OK(store_->SortByFrequency(dir_ / "freq.txt"));
  // 丙 is missing (0); 甲 keeps its first number; -1 compares as the largest.
  EXPECT_EQ(Entries(), (Lines{u"丙", u"乙", u"甲", u"丁"}));

  store_->ClearDirty();
  EXPECT_FALSE(store_->SortByFrequency(dir_ / "missing.txt").IsOk());
  // A compiled table is no frequency file, whatever its name.
  test::WriteBytes(
      dir_ / "compiled.txt",
      std::string("\x90\0\0\0\x90\0\0\0\0\0\0\0\x01\0\0\0", 16) + std::string(128, '\0'));
  EXPECT_TRUE(test::Says(store_->SortByFrequency(dir_ / "compiled.txt"), "compiled"));
  EXPECT_FALSE(store_->dirty());
  EXPECT_EQ(Entries(), (Lines{u"丙", u"乙", u"甲", u"丁"}));

  // A heading or a note without a TAB must not swallow the next word; "5 extra" keeps 5.
  test::WriteBytes(dir_ / "freq.txt",
                   test::Utf8(u"词频\r\n丙\t-1\r\n\r\n说明\n甲\t5 extra\n乙\t9\n"));
  Result<LinesWithoutTab> leftOut = store_->SortByFrequency(dir_ / "freq.txt");
  ASSERT_OK(leftOut);
  EXPECT_EQ(Entries(), (Lines{u"丁", u"甲", u"乙", u"丙"}));
  EXPECT_EQ(leftOut->Describe(), "2 lines without a TAB were left out (lines 1, 4)");
}

TEST_F(OrderingsTest, InstantFrequencyRoundTripsThePresentOrder) {
  ASSERT_OK(Load(u"p\t1\r\nq\t2\r\np\t3\r\nr\t4\r\n"));
  store_->SortByCode(1);
  store_->MoveRowLater(0, 3);
  ASSERT_OK(store_->ExportInstantFrequency(dir_ / "f.txt"));
  EXPECT_EQ(ReadBytes(dir_ / "f.txt"), TableBytes({u"q\t1", u"p\t2", u"r\t3", u"p\t4"}));
  store_->SortByCode(2);
  ASSERT_OK(store_->SortByFrequency(dir_ / "f.txt"));
  // Both p rows take the first number of p, so they end up together.
  EXPECT_EQ(Entries(), (Lines{u"q", u"p", u"p", u"r"}));
}

TEST_F(OrderingsTest, SingleCharacterExportWritesWholeRowsWithOneCharacterEntries) {
  const std::u16string longCode(400, u'k');
  ASSERT_OK(Load(u"中\tzh\r\n中国\tzg\r\n\U00020000\tq\r\n字\t" + longCode + u"\r\n"));
  auto written = store_->ExportSingleCharacters(dir_ / "single.txt");
  ASSERT_OK(written);
  EXPECT_EQ(written.value(), 3u);
  EXPECT_EQ(ReadBytes(dir_ / "single.txt"),
            TableBytes({u"中\tzh", u"\U00020000\tq", u"字\t" + longCode}));
  test::WriteBytes(dir_ / "blocker", "");
  EXPECT_FALSE(store_->ExportSingleCharacters(dir_ / "blocker" / "x.txt").IsOk());
}

// Rows shaped like real tables: stroke codes of 1 to 64 keys over five letters
// grown from shared stems, a few with a space or upper case, many rows on one
// code; entries of 1 to 10 characters, many outside the BMP, some with a
// broken surrogate; exact copies of earlier rows.
std::u16string RealShapedRows(uint32_t seed, int rows) {
  auto next = [&seed](uint32_t n) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed % n;
  };
  const std::u16string strokes = u"hspnz";
  std::vector<std::u16string> stems(40);
  for (auto& stem : stems) {
    for (uint32_t n = 5 + next(40); n-- > 0;) stem += strokes[next(5)];
  }
  std::vector<std::u16string> lines;
  while (static_cast<int>(lines.size()) < rows) {
    if (!lines.empty() && next(100) < 3) {
      lines.push_back(lines[next(static_cast<uint32_t>(lines.size()))]);
      continue;
    }
    const uint32_t length = next(3) == 0 ? 1 + next(64) : 1 + next(6);
    std::u16string code = stems[next(40)].substr(0, length);
    while (code.size() < length) code += strokes[next(5)];
    if (next(50) == 0) code[next(length)] = next(2) ? u' ' : u'H';
    for (uint32_t copies = next(4) == 0 ? 1 + next(30) : 1; copies-- > 0;) {
      std::u16string entry;
      for (uint32_t c = next(10) < 8 ? 1 : 2 + next(9); c-- > 0;) {
        if (next(100) < 45) {
          const char32_t ch = 0x20000 + next(0x100);
          entry += static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10));
          entry += static_cast<char16_t>(0xDC00 + (ch & 0x3FF));
        } else {
          entry += static_cast<char16_t>(0x4E00 + next(0x200));
        }
      }
      if (next(200) == 0) entry.insert(next(static_cast<uint32_t>(entry.size()) + 1), 1, u'\xD800');
      lines.push_back(entry + u"\t" + code);
    }
  }
  std::u16string text;
  for (const auto& line : lines) text += line + u"\r\n";
  return text;
}

TEST_F(OrderingsTest, EveryOrderMatchesAStableSortWithTheWholeComparison) {
  using Less = std::function<bool(const std::u16string&, const std::u16string&)>;
  auto code = [](const std::u16string& row) { return row.substr(row.find(u'\t') + 1); };
  auto entry = [](const std::u16string& row) { return row.substr(0, row.find(u'\t')); };
  auto longer = [](const std::u16string& a, const std::u16string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  auto characters = [](const std::u16string& a, const std::u16string& b) {
    const uint32_t ca = CountCharacters(a), cb = CountCharacters(b);
    return ca != cb ? ca < cb : a < b;
  };
  const std::pair<void (*)(TableStore&), Less> orders[] = {
      {[](TableStore& s) { s.SortByCode(1); }, [&](auto& a, auto& b) { return code(a) < code(b); }},
      {[](TableStore& s) { s.SortByCode(2); },
       [&](auto& a, auto& b) { return longer(code(a), code(b)); }},
      {[](TableStore& s) { s.SortByEntry(1); },
       [&](auto& a, auto& b) { return entry(a) < entry(b); }},
      {[](TableStore& s) { s.SortByEntry(2); },
       [&](auto& a, auto& b) { return characters(entry(a), entry(b)); }},
  };
  // From 200000 rows on, sorting, writing and removing duplicates are split
  // over two cores.
  const std::pair<uint32_t, int> runs[] = {{1, 6000}, {77, 6000}, {4242, 205000}};
  for (const auto& [seed, count] : runs) {
    std::u16string text = RealShapedRows(seed, count);
    // Codes that share their first four units, so the packed keys tie and
    // the tails decide.
    for (uint32_t k = 0, r = seed; k < 3000; ++k) {
      r = r * 1103515245 + 12345;
      std::u16string key = u"abcd";
      for (int len = (r >> 16) % 4; len-- > 0;) key += char16_t(u'a' + (r >> (len * 3)) % 3);
      text.append(u"e").append(1, char16_t(0x4E00 + k)).append(u"\t").append(key).append(u"\r\n");
    }
    // Codes past the length a key can hold, differing only in length or far in.
    const std::u16string huge(70000, u'h');
    text += u"甲\t" + huge + u"s\r\n乙\t" + huge + u"\r\n丙\t" + huge + u"p\r\n丁\t" + huge +
            u"\r\n戊\t" + huge + u"hh\r\n";
    ASSERT_OK(Load(text));
    // A modified row moves its text to the end of the working file, so text
    // position and source order part.
    std::u16string modified;
    ASSERT_TRUE(store_->RowText(5, RowTextKind::kEntry, modified));
    ASSERT_EQ(store_->ModifyRow(5, 5, u"hhhhhhhhhhhhhhhhhhhhhhhh", modified + u"長長長長長長"), 0);
    store_->ClearDirty();
    store_->SortBySource();
    EXPECT_TRUE(store_->dirty());
    const Lines byPosition = Rows();
    for (size_t k = 0; k < std::size(orders); ++k) {
      Lines expected = byPosition;
      std::stable_sort(expected.begin(), expected.end(), orders[k].second);
      // From another order than source order: ties still go by text position.
      orders[(k + 1) % std::size(orders)].first(*store_);
      orders[k].first(*store_);
      const Lines got = Rows();
      ASSERT_EQ(got.size(), expected.size());
      for (size_t row = 0; row < got.size(); ++row) {
        ASSERT_TRUE(got[row] == expected[row])
            << "seed " << seed << " order " << k << " row " << row;
      }
    }

    ASSERT_OK(store_->WriteTableText(dir_ / "out.txt"));
    EXPECT_TRUE(ReadBytes(dir_ / "out.txt") == TableBytes(Rows())) << "seed " << seed;
    // The first copy of each row stays, in source order.
    Lines unique;
    std::set<std::u16string> seen;
    for (const std::u16string& row : byPosition) {
      if (seen.insert(row).second) unique.push_back(row);
    }
    EXPECT_EQ(store_->RemoveDuplicates(), unique.size());
    EXPECT_TRUE(Rows() == unique) << "seed " << seed;
  }
}

}  // namespace
}  // namespace mirel
