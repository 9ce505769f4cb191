#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace mirel {
namespace {

TEST(Utf16Test, Utf8DecodingReplacesEachIllFormedPiece) {
  EXPECT_EQ(Utf8ToUtf16("a\tb"), u"a\tb");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8\xAD\xF0\xA0\x80\x80"), u"中\U00020000");
  // Lone continuation, truncated sequence, overlong, surrogate, beyond U+10FFFF.
  EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  // The ASCII fast path hands over to the slow path mid-chunk.
  EXPECT_EQ(Utf8ToUtf16("abcdefg\xE4\xB8\xADhijklmnopq"), u"abcdefg中hijklmnopq");
  EXPECT_EQ(Utf16ToUtf8(u"中\U00020000x"), "\xE4\xB8\xAD\xF0\xA0\x80\x80x");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Utf16Test, FormatterRendersTheProgramsFormats) {
  EXPECT_EQ(FormatText(u"%s\t%d\r\n", {std::u16string_view(u"词"), 42LL}), u"词\t42\r\n");
  EXPECT_EQ(FormatText(u"%f", {0.5}), u"0.500000");
  EXPECT_EQ(FormatText(u"%f", {1.0 / 3}), u"0.333333");
  EXPECT_EQ(FormatText(u"%.2f%%", {12.345}), u"12.35%");  // C rounding of the binary value
  EXPECT_EQ(FormatText(u"%c%c", {char16_t(u'码'), char16_t(u'a')}), u"码a");
  EXPECT_EQ(FormatText(u"[%5d|%-3s|%03d]", {7LL, std::u16string_view(u"x"), -5LL}),
            u"[    7|x  |-05]");
  EXPECT_EQ(FormatText(u"%u", {4294967295ULL}), u"4294967295");
  EXPECT_EQ(FormatText(u"no args %d.", {}), u"no args .");
}

TEST(Utf16Test, NextTokenReadsLinesAndNeverYieldsAnEmptyOne) {
  const std::u16string text = u"\r\n\r\nabc\r\ndef";
  std::u16string token;
  EXPECT_EQ(NextToken(text, u"\r\n", token, 256), 7u);
  EXPECT_EQ(token, u"abc");
  EXPECT_EQ(NextToken(std::u16string_view(text).substr(7), u"\r\n", token, 256), 5u);
  EXPECT_EQ(token, u"def");
  EXPECT_EQ(NextToken(std::u16string_view(text).substr(12), u"\r\n", token, 256), 0u);
  EXPECT_EQ(token, u"");
  // A line longer than the limit comes out in pieces.
  EXPECT_EQ(NextToken(u"abcdef", u"\r\n", token, 4), 3u);
  EXPECT_EQ(token, u"abc");
}

TEST(Utf16Test, CharacterCountsKnowSurrogatePairs) {
  EXPECT_EQ(CountCharacters(u"\U00020000"), 1u);
  EXPECT_EQ(CountCharacters(u"中国人"), 3u);
  const char16_t broken[] = {0xD83D, u'a', 0};
  EXPECT_EQ(CountCharacters(broken), kMalformedCount);
  const char16_t late[] = {u'x', 0xDC00, 0};
  EXPECT_EQ(CountCharacters(late), kMalformedCount | 1u);
}

}  // namespace
}  // namespace mirel
