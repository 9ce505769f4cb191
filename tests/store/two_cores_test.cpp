// Tables large enough to be split over two cores must come out exactly as
// one core makes them.
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

class TwoCoresTest : public test::StoreTest {};

// Rows with many shared code prefixes, equal codes, entries past the BMP,
// equal rows and a code whose first units vary only in their high byte, so
// that the split falls in every kind of run.
std::vector<std::u16string> ManyRows(size_t n) {
  std::mt19937 rng(7);
  std::vector<std::u16string> rows;
  rows.reserve(n);
  for (size_t k = 0; k < n; ++k) {
    std::u16string row;
    const size_t entryUnits = 1 + rng() % 4;
    for (size_t u = 0; u < entryUnits; ++u) {
      if (rng() % 16 == 0) {
        row += u"\U00020000";
      } else {
        row += static_cast<char16_t>(0x4E00 + rng() % 64);
      }
    }
    row += u'\t';
    const size_t codeUnits = 1 + rng() % 6;
    for (size_t u = 0; u < codeUnits; ++u) row += static_cast<char16_t>(u'a' + rng() % 5);
    if (rng() % 50 == 0) row += static_cast<char16_t>(0x0100 + rng() % 3);
    rows.push_back(row);
  }
  return rows;
}

std::u16string EntryOf(const std::u16string& row) { return row.substr(0, row.find(u'\t')); }
std::u16string CodeOf(const std::u16string& row) { return row.substr(row.find(u'\t') + 1); }

TEST_F(TwoCoresTest, EveryOrderMatchesAStableSortOfTheRows) {
  const std::vector<std::u16string> rows = ManyRows(test::kSanitized ? 205000 : 250000);
  std::string bytes;
  for (const std::u16string& row : rows) bytes += test::Utf8(row + u"\r\n");
  ASSERT_OK(LoadBytes(bytes));
  using Less = bool (*)(const std::u16string&, const std::u16string&);
  const struct {
    int order;
    Less less;
  } orders[] = {
      {1, [](const std::u16string& a,
             const std::u16string& b) { return CompareUnits(CodeOf(a), CodeOf(b)) < 0; }},
      {2,
       [](const std::u16string& a, const std::u16string& b) {
         const auto ka = CodeOf(a), kb = CodeOf(b);
         return ka.size() != kb.size() ? ka.size() < kb.size() : CompareUnits(ka, kb) < 0;
       }},
      {3, [](const std::u16string& a,
             const std::u16string& b) { return CompareUnits(EntryOf(a), EntryOf(b)) < 0; }},
      {4,
       [](const std::u16string& a, const std::u16string& b) {
         const uint32_t ca = CountCharacters(EntryOf(a)), cb = CountCharacters(EntryOf(b));
         return ca != cb ? ca < cb : CompareUnits(EntryOf(a), EntryOf(b)) < 0;
       }},
  };
  for (const auto& order : orders) {
    // Sorting from source order each time: equal keys stay in text order.
    store_->SortBySource();
    if (order.order <= 2) {
      store_->SortByCode(order.order);
    } else {
      store_->SortByEntry(order.order - 2);
    }
    std::vector<std::u16string> expected = rows;
    std::stable_sort(expected.begin(), expected.end(), order.less);
    EXPECT_TRUE(Rows() == expected) << "order " << order.order;
  }

  // Written in two halves, the file is the rows in order, nothing lost at the seam.
  ASSERT_OK(store_->WriteTableText(dir_ / "out.txt"));
  std::vector<std::u16string> written = Rows();
  EXPECT_EQ(test::ReadBytes(dir_ / "out.txt"), test::TableBytes(written));

  // Duplicates go in source order, however the work is split.
  const uint32_t kept = store_->RemoveDuplicates();
  std::vector<std::u16string> unique;
  std::set<std::u16string> seen;
  for (const std::u16string& row : rows) {
    if (seen.insert(row).second) unique.push_back(row);
  }
  EXPECT_EQ(kept, unique.size());
  EXPECT_TRUE(Rows() == unique);
}

TEST_F(TwoCoresTest, EveryKindOfLineEndSplitsAsInSmallTables) {
  // CR LF, lone CR, lone LF, CR CR LF (an empty line) and a line without a
  // TAB, again and again past the size that uses both cores.
  constexpr size_t kBlocks = 250000;
  std::u16string text = u"\uFEFF";
  for (size_t k = 0; k < kBlocks; ++k) text += u"a\tb\r\nc\td\rnote\ne\tf\r\r\n";
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data() + 1), 2 * (text.size() - 1));
  ASSERT_OK(LoadBytes(bytes));
  ASSERT_EQ(store_->RowCount(), 3 * kBlocks);
  const std::u16string_view expected[] = {u"a\tb", u"c\td", u"e\tf"};
  for (const uint32_t i : {uint32_t{0}, uint32_t{1}, uint32_t{2}, uint32_t{3 * kBlocks - 1}}) {
    EXPECT_EQ(store_->DataRowText(i), expected[i % 3]) << i;
  }
  EXPECT_EQ(store_->linesWithoutTab().count(), kBlocks);
  EXPECT_EQ(store_->linesWithoutTab().numbers().front(), 3u);
  EXPECT_EQ(store_->linesWithoutTab().numbers()[1], 8u);
}

TEST(TwoCoresDecodeTest, LargeUtf8DecodesAsInOnePieceWithIllFormedBytesAtTheSeam) {
  std::string bytes;
  while (bytes.size() < (size_t{9} << 20)) bytes += "中文\tzw\n";
  const TextBuffer clean = DecodeText(bytes);
  EXPECT_EQ(clean.encoding, TextEncoding::kUtf8);
  EXPECT_TRUE(clean.text == Utf8ToUtf16(bytes));
  // Ill-formed pieces on both sides of the line end the decoder splits at:
  // with a mark the text stays UTF-8 and each piece becomes one U+FFFD.
  const size_t middle = bytes.find('\n', bytes.size() / 2);
  std::string seam = bytes.substr(0, middle);
  seam += "\xE4\n\xE4\xB8";
  seam.append(bytes, middle + 1);
  seam += "\xF0\x9F";
  bytes = seam;
  std::string withMark = "\xEF\xBB\xBF";
  withMark += bytes;
  const TextBuffer marked = DecodeText(withMark);
  EXPECT_EQ(marked.encoding, TextEncoding::kUtf8Bom);
  EXPECT_TRUE(marked.text == Utf8ToUtf16(bytes));
  EXPECT_EQ(std::count(marked.text.begin(), marked.text.end(), u'\uFFFD'), 3);
}

}  // namespace
}  // namespace mirel
