// Tables large enough to be split over two cores must come out exactly as
// one core makes them.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

class TwoCoresTest : public test::StoreTest {};

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
