#include "store/text_file.h"

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

TextBuffer Decode(std::string_view bytes) { return DecodeText(bytes); }

TEST(TextFileTest, RecognisesEveryEncodingFromItsFirstBytes) {
  EXPECT_EQ(Decode("").text, u"");
  EXPECT_EQ(Decode("\xFF\xFE").text, u"");
  EXPECT_EQ(Decode("\xEF\xBB\xBF"
                   "a\tb")
                .text,
            u"a\tb");
  EXPECT_EQ(Decode("\xEF\xBB\xBF"
                   "a\tb")
                .encoding,
            TextEncoding::kUtf8Bom);
  EXPECT_EQ(Decode(test::Utf16Le(u"中\tzh\U00020000")).text, u"中\tzh\U00020000");
  // A trailing odd byte is not text.
  EXPECT_EQ(Decode(test::Utf16Le(u"ab") + "x").text, u"ab");
  EXPECT_EQ(Decode(test::Utf16Be(u"中\tz")).text, u"中\tz");
  EXPECT_EQ(Decode(test::Utf16Be(u"中\tz")).encoding, TextEncoding::kUtf16Be);
  TextBuffer utf8 = Decode(
      "\xE4\xB8\xAD\t"
      "zh");
  EXPECT_EQ(utf8.encoding, TextEncoding::kUtf8);
  EXPECT_EQ(utf8.text, u"中\tzh");
  TextBuffer gbk = Decode("\xD6\xD0\xCE\xC4");
  EXPECT_EQ(gbk.encoding, TextEncoding::kLegacy);
  EXPECT_EQ(gbk.text, u"中文");
  EXPECT_EQ(Decode("plain ascii").encoding, TextEncoding::kLegacy);
  EXPECT_EQ(Decode("plain ascii").text, u"plain ascii");
}

TEST(TextFileTest, BrokenBytesBecomeReplacementCharactersAndDecodingGoesOn) {
  // Invalid UTF-8 after a mark.
  EXPECT_EQ(Decode("\xEF\xBB\xBF"
                   "a\xFF"
                   "b")
                .text,
            u"a\uFFFDb");
  // Bytes that are not GBK, and a lead byte cut off at the end.
  EXPECT_EQ(Decode("\xD6\xD0\x80\x80z\xFF").text.substr(0, 1), u"中");
  TextBuffer cut = Decode("\xD6\xD0z\xD6");
  EXPECT_EQ(cut.text, u"中z\uFFFD");
  // A lone surrogate in UTF-16 is kept as it is: it is the file's content.
  const char lone[] = {'\xFF', '\xFE', '\x3D', '\xD8', 'a', '\0'};
  EXPECT_EQ(Decode(std::string_view(lone, sizeof lone)).text, std::u16string({0xD83D, u'a'}));
}

TEST(TextFileTest, TheWholeFileDecidesBetweenUtf8AndTheCodePage) {
  const std::string utf8Start = test::Utf8(std::u16string(3000, u'中'));  // 9000 bytes
  // A code-page byte far into the file still makes the whole file code page.
  TextBuffer mixed = Decode(utf8Start + "\xD6\xD0");
  EXPECT_EQ(mixed.encoding, TextEncoding::kLegacy);
  EXPECT_GT(mixed.text.size(), 4500u);  // nothing is cut off
  // Bytes that only the loose test accepts keep the file UTF-8, as U+FFFD.
  TextBuffer loose = Decode(utf8Start + "\xC0\xAF");
  EXPECT_EQ(loose.encoding, TextEncoding::kUtf8);
  EXPECT_EQ(loose.text, std::u16string(3000, u'中') + u"\uFFFD\uFFFD");
  TextBuffer cut = Decode(utf8Start + "\xE4\xB8");
  EXPECT_EQ(cut.encoding, TextEncoding::kLegacy);
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
  for (size_t k = 0; k < files.size(); ++k) {
    WriteBytes(dir / "t.txt", files[k].first);
    std::u16string joined;
    uint64_t lastDone = 0;
    ASSERT_OK(ReadTextFileInPieces(
        test::DiskFs(), dir / "t.txt",
        [&](std::u16string& piece, uint64_t done) {
          EXPECT_TRUE(done == files[k].first.size() || piece.back() == u'\r' ||
                      piece.back() == u'\n')
              << k;
          EXPECT_GT(done, lastDone);
          lastDone = done;
          joined += piece;
        },
        7));
    const std::u16string whole = Decode(files[k].first).text;
    EXPECT_EQ(joined, whole) << k;
    if (!files[k].second.empty()) {
      EXPECT_EQ(joined, files[k].second) << k;
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

TEST(TextFileTest, ReadReportsWhatWentWrong) {
  ScratchDir dir;
  auto missing = ReadTextFile(test::DiskFs(), dir / "none.txt");
  ASSERT_FALSE(missing.IsOk());
  EXPECT_NE(missing.status().message().find("none.txt"), std::string::npos);
  auto folder = ReadTextFile(test::DiskFs(), dir.path());
  ASSERT_FALSE(folder.IsOk());
  EXPECT_NE(folder.status().message().find("folder"), std::string::npos);
  WriteBytes(dir / "t.txt",
             "\xEF\xBB\xBF"
             "x\ty");
  auto read = ReadTextFile(test::DiskFs(), dir / "t.txt");
  ASSERT_OK(read);
  EXPECT_EQ(read->text, u"x\ty");
}

TEST(TextFileTest, WriterProducesUtf16LeWithMarkOnlyOnCommit) {
  ScratchDir dir;
  WriteBytes(dir / "out.txt", "previous");
  auto writer = TextWriter::Create(test::DiskFs(), dir / "out.txt");
  ASSERT_OK(writer);
  writer.value()->WriteBom();
  writer.value()->WriteFormatted(u"%s\t%d\r\n", {std::u16string_view(u"词"), 3LL});
  EXPECT_EQ(ReadBytes(dir / "out.txt"), "previous");
  ASSERT_OK(writer.value()->Commit());
  EXPECT_EQ(ReadBytes(dir / "out.txt"), test::Utf16Le(u"词\t3\r\n"));
}

}  // namespace
}  // namespace mirel
