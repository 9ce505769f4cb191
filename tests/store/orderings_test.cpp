#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;
using test::ReadBytes;
using test::TableBytes;

class OrderingsTest : public test::StoreTest {
 protected:
  Lines Codes() const {
    Lines codes;
    for (const auto& row : Rows()) codes.push_back(row.substr(row.find(u'\t') + 1));
    return codes;
  }
  Lines Entries() const {
    Lines entries;
    for (const auto& row : Rows()) entries.push_back(row.substr(0, row.find(u'\t')));
    return entries;
  }
};

TEST_F(OrderingsTest, CodeOrdersAndTiesByPosition) {
  ASSERT_OK(
      Load(u"1\ta\r\n2\tab\r\n3\tb\r\n4\taa\r\n5\ta\r\n6\tabcdefg\r\n7\tabcdeff\r\n8\tabcd\r\n"));
  store_->SortByCode(1);
  EXPECT_EQ(Entries(), (Lines{u"1", u"5", u"4", u"2", u"8", u"7", u"6", u"3"}));
  store_->SortByCode(2);
  EXPECT_EQ(Entries(), (Lines{u"1", u"5", u"3", u"4", u"2", u"8", u"7", u"6"}));
  store_->SortBySource();
  EXPECT_EQ(Entries(), (Lines{u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8"}));
  EXPECT_TRUE(store_->dirty());
  // Units compare as unsigned numbers: upper case before lower, Han after both.
  ASSERT_OK(Load(u"1\tb\r\n2\t中\r\n3\tB\r\n4\t\U00020000\r\n"));
  store_->SortByCode(1);
  EXPECT_EQ(Entries(), (Lines{u"3", u"1", u"2", u"4"}));
}

TEST_F(OrderingsTest, EntryOrdersCountCharactersNotUnits) {
  ASSERT_OK(Load(u"中国人\t1\r\n中\t2\r\n中国\t3\r\n\U00020000\t4\r\n甲乙\t5\r\n"));
  store_->SortByEntry(2);
  EXPECT_EQ(Entries(), (Lines{u"中", u"\U00020000", u"中国", u"甲乙", u"中国人"}));
  store_->SortByEntry(1);
  EXPECT_EQ(Entries(), (Lines{u"中", u"中国", u"中国人", u"甲乙", u"\U00020000"}));
}

TEST_F(OrderingsTest, FrequencyFileOrdersByNumberAndKeepsTiesInPlace) {
  ASSERT_OK(Load(u"甲\ta\r\n乙\tb\r\n丙\tc\r\n丁\td\r\n"));
  test::WriteBytes(dir_ / "freq.txt", test::Utf8(u"乙\t1\r\n甲\t2\n甲\t0\r\n丁\t-1\r\n"));
  ASSERT_OK(store_->SortByFrequency(dir_ / "freq.txt"));
  // 丙 is missing (0); 甲 keeps its first number; -1 compares as the largest.
  EXPECT_EQ(Entries(), (Lines{u"丙", u"乙", u"甲", u"丁"}));

  store_->ClearDirty();
  EXPECT_FALSE(store_->SortByFrequency(dir_ / "missing.txt").IsOk());
  EXPECT_FALSE(store_->dirty());
  EXPECT_EQ(Entries(), (Lines{u"丙", u"乙", u"甲", u"丁"}));
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

TEST_F(OrderingsTest, RemoveDuplicatesKeepsTheFirstOfEachRowInSourceOrder) {
  ASSERT_OK(Load(u"x\ta\r\ny\tb\r\nx\ta\r\nx\ta#1\r\ny\tb\r\nz\ta\r\n"));
  store_->SortByCode(1);
  EXPECT_EQ(store_->RemoveDuplicates(), 4u);
  EXPECT_EQ(Rows(), (Lines{u"x\ta", u"y\tb", u"x\ta#1", u"z\ta"}));
  ASSERT_OK(Load(u"only\tone\r\n"));
  EXPECT_EQ(store_->RemoveDuplicates(), 1u);
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

TEST_F(OrderingsTest, OrderingsAgreeWithAPlainSortOnALargerTable) {
  // Codes share long prefixes, so the packed keys tie and the tails decide.
  std::u16string text;
  std::vector<std::pair<std::u16string, int>> expected;
  uint32_t seed = 12345;
  for (int k = 0; k < 3000; ++k) {
    seed = seed * 1103515245 + 12345;
    std::u16string code = u"abcd";
    for (int len = (seed >> 16) % 4; len-- > 0;) code += char16_t(u'a' + (seed >> (len * 3)) % 3);
    text.append(u"e").append(1, char16_t(0x4E00 + k)).append(u"\t").append(code).append(u"\r\n");
    expected.emplace_back(code, k);
  }
  ASSERT_OK(Load(text));
  store_->SortByCode(1);
  std::stable_sort(expected.begin(), expected.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  const Lines codes = Codes();
  const Lines entries = Entries();
  ASSERT_EQ(codes.size(), expected.size());
  for (size_t k = 0; k < codes.size(); ++k) {
    ASSERT_EQ(codes[k], expected[k].first) << k;
    ASSERT_EQ(entries[k][1], char16_t(0x4E00 + expected[k].second)) << k;
  }
}

}  // namespace
}  // namespace mirel
