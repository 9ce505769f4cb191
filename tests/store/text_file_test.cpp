#include "store/text_file.h"

#include <optional>

#include "support/faulty_file_system.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;
using test::WriteBytes;

TEST(TextFileTest, TheFirstBytesAndTheWholeFileDecideTheEncoding) {
  using E = TextEncoding;
  const std::string mark = "\xEF\xBB\xBF", utf8Start = test::Utf8(std::u16string(3000, u'中'));
  const struct {
    std::string bytes;
    E encoding;
    std::optional<std::u16string> text;
  } cases[] = {
      {"\xFF\xFE", E::kUtf16Le, u""},
      {mark + "a\tb", E::kUtf8Bom, u"a\tb"},
      {test::Utf16Le(u"中\tzh\U00020000"), E::kUtf16Le, u"中\tzh\U00020000"},
      {test::Utf16Le(u"ab") + "x", E::kUtf16Le, u"ab"},  // a trailing odd byte is not text
      {test::Utf16Be(u"中\tz"), E::kUtf16Be, u"中\tz"},
      {"\xE4\xB8\xAD\tzh", E::kUtf8, u"中\tzh"},
      {"\xD6\xD0\xCE\xC4", E::kLegacy, u"中文"},
      {"plain ascii", E::kLegacy, u"plain ascii"},
      // Broken bytes become U+FFFD and decoding goes on; a lone surrogate in
      // UTF-16 is the file's content and stays.
      {mark + "a\xFF" + "b", E::kUtf8Bom, u"a\uFFFDb"},
      {"\xD6\xD0z\xD6", E::kLegacy, u"中z\uFFFD"},
      {std::string("\xFF\xFE\x3D\xD8\x61\0", 6), E::kUtf16Le, std::u16string{0xD83D, u'a'}},
      // A code-page pair far into the file makes the whole file code page;
      // what only the loose test accepts keeps it UTF-8.
      {utf8Start + "\xD6\xD0", E::kLegacy, std::nullopt},
      {utf8Start + "\xE4\xB8", E::kLegacy, std::nullopt},
      {utf8Start + "\xC0\xAF", E::kUtf8, std::u16string(3000, u'中') + u"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    const TextBuffer decoded = DecodeText(c.bytes);
    EXPECT_EQ(decoded.encoding, c.encoding) << c.bytes.substr(0, 12);
    EXPECT_EQ(decoded.text, c.text.value_or(decoded.text)) << c.bytes.substr(0, 12);
  }
  EXPECT_EQ(DecodeText("").text, u"");
  EXPECT_EQ(DecodeText("\xD6\xD0\x80\x80z\xFF").text.substr(0, 1), u"中");
  EXPECT_GT(DecodeText(utf8Start + "\xD6\xD0").text.size(), 4500u);  // nothing is cut off
}

TEST(TextFileTest, PiecesEndAtLineEndsAndDecodeLikeTheWholeFile) {
  ScratchDir dir;
  // Long lines cut between the two bytes of a code-page pair (丂 is 81 40),
  // within UTF-8 sequences and within surrogate pairs.
  const std::u16string mixed =
      u"丂 丂1长 𠀀丂2 " + std::u16string(9, u'丂') + u"\t" + u"𠀀𠀀𠀀𠀀𠀀3丂\tm\r\n";
  std::u16string text =
      u"中\tzh\r\n" + std::u16string(40, u'长') + u"\tlong\r\n" + mixed + u"𠀀\tq\rx\ty\nlast\tz";
  const std::u16string bmp = u"中\tzh\r\n" + std::u16string(40, u'长') + u"\tlong\n丂 丂1长 丂2 " +
                             std::u16string(9, u'丂') + u"3丂\tm\r\nx\ty\r\n";
  const std::vector<std::pair<std::string, std::u16string>> files = {
      {test::Utf8(text), text},
      {"\xEF\xBB\xBF" + test::Utf8(text), text},
      {test::Utf16Le(text), text},
      {test::Utf16Be(text), text},
      {test::Gbk(bmp), bmp},
      {test::Utf8(std::u16string(3000, u'中')) + "\xD6\xD0\r\n", u""},  // code page after all
      {"", u""}};
  // Reads that return a few bytes at a time read the same pieces.
  test::FaultyFileSystem shortReads(test::DiskFs());
  shortReads.ShortReads(7);
  // Reading ahead on a second core hands on the same pieces.
  for (const bool ahead : {false, true}) {
    for (const auto& [bytes, expected] : files) {
      SCOPED_TRACE(testing::Message() << bytes.size() << (ahead ? " ahead" : ""));
      WriteBytes(dir / "t.txt", bytes);
      std::u16string joined;
      uint64_t lastDone = 0;
      ASSERT_OK(ReadTextFileInPieces(
          shortReads, dir / "t.txt",
          [&](std::u16string& piece, uint64_t done) {
            EXPECT_TRUE(done == bytes.size() || piece.back() == u'\r' || piece.back() == u'\n');
            EXPECT_GT(done, lastDone);
            lastDone = done;
            joined += piece;
            piece.assign(u"changed by the visit");
          },
          7, ahead));
      EXPECT_EQ(joined, expected.empty() ? DecodeText(bytes).text : expected);
    }
  }
  EXPECT_FALSE(
      ReadTextFileInPieces(test::DiskFs(), dir / "missing.txt", [](std::u16string&, uint64_t) {
      }).IsOk());
}

TEST(TextFileTest, LooksLikeUtf8IsTheLooseTest) {
  EXPECT_FALSE(LooksLikeUtf8(""));
  EXPECT_FALSE(LooksLikeUtf8("ascii only"));
  EXPECT_TRUE(LooksLikeUtf8("\xE4\xB8\xAD"));
  EXPECT_FALSE(LooksLikeUtf8("\xE4\xB8"));
  EXPECT_FALSE(LooksLikeUtf8("\x80"));
  EXPECT_TRUE(LooksLikeUtf8("\xC0\xAF"));  // overlong forms pass the loose test
  EXPECT_FALSE(LooksLikeUtf8("\xD6\xD0\xCE\xC4"));
}

}  // namespace
}  // namespace mirel
