#include "platform/lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirel {
namespace {

using namespace std::string_view_literals;

template <class Char>
std::vector<std::basic_string<Char>> Lines(std::basic_string_view<Char> text, LineRule rule) {
  std::vector<std::basic_string<Char>> lines;
  BasicLineReader<Char> reader(text, rule);
  std::basic_string_view<Char> line;
  while (reader.Next(line) && lines.size() < 100) lines.emplace_back(line);
  EXPECT_EQ(reader.offset(), text.size());
  EXPECT_EQ(reader.number(), lines.size());
  return lines;
}

using U = std::vector<std::u16string>;
using B = std::vector<std::string>;

TEST(LinesTest, EachRuleEndsTheLinesItNames) {
  const std::u16string_view mixed = u"\r\na\r\r\nb\n\nc\rd"sv;
  EXPECT_EQ(Lines(mixed, {.breaks = LineBreaks::kRuns}), (U{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(Lines(mixed, {.breaks = LineBreaks::kEach}),
            (U{u"", u"a", u"", u"b", u"", u"c", u"d"}));
  EXPECT_EQ(Lines(mixed, {.breaks = LineBreaks::kCrLf}), (U{u"", u"a\r", u"b\n\nc\rd"}));
  EXPECT_EQ(Lines(mixed, {.breaks = LineBreaks::kLf}), (U{u"\r", u"a\r\r", u"b", u"", u"c\rd"}));

  // A final break leaves no empty last line; a lone CR at the end is a break.
  EXPECT_EQ(Lines(u"a\n"sv, {.breaks = LineBreaks::kEach}), (U{u"a"}));
  EXPECT_EQ(Lines(u"a\r"sv, {.breaks = LineBreaks::kEach}), (U{u"a"}));
  EXPECT_EQ(Lines(u"\n"sv, {.breaks = LineBreaks::kEach}), (U{u""}));
  EXPECT_EQ(Lines(u"\r\n\n"sv, {.breaks = LineBreaks::kRuns}), U{});
  EXPECT_EQ(Lines(u"a\r"sv, {.breaks = LineBreaks::kCrLf}), (U{u"a\r"}));
  for (LineBreaks breaks : {LineBreaks::kRuns, LineBreaks::kEach, LineBreaks::kCrLf}) {
    EXPECT_EQ(Lines(u""sv, {.breaks = breaks}), U{});
  }

  // Bytes: UTF-8 bytes whose low bits are those of CR or LF are text.
  EXPECT_EQ(Lines("\x8D\x8A\n\xE4\xB8\xAD\r\n\nz"sv, {.breaks = LineBreaks::kLf}),
            (B{"\x8D\x8A", "\xE4\xB8\xAD\r", "", "z"}));
  EXPECT_EQ(Lines("a\r\rb\r\n"sv, {.breaks = LineBreaks::kEach}), (B{"a", "", "b"}));
}

TEST(LinesTest, NulEndsALineOnlyWhenAsked) {
  const std::u16string_view text = u"a\0b\r\n\0c\0"sv;
  EXPECT_EQ(Lines(text, {.breaks = LineBreaks::kEach, .nulEnds = true}),
            (U{u"a", u"b", u"", u"c"}));
  EXPECT_EQ(Lines(text, {.breaks = LineBreaks::kRuns, .nulEnds = true}), (U{u"a", u"b", u"c"}));
  EXPECT_EQ(Lines(text, {.breaks = LineBreaks::kEach}),
            (U{std::u16string(u"a\0b"sv), std::u16string(u"\0c\0"sv)}));
}

TEST(LinesTest, ALongLineGoesOnAsTheNextLine) {
  EXPECT_EQ(Lines(u"abcdefg\r\nhi"sv, {.breaks = LineBreaks::kRuns, .limit = 3}),
            (U{u"abc", u"def", u"g", u"hi"}));
  // The break right after a cut ends the cut line, not an empty one.
  EXPECT_EQ(Lines(u"abc\r\n\r\nd"sv, {.breaks = LineBreaks::kEach, .limit = 3}),
            (U{u"abc", u"", u"d"}));
  EXPECT_EQ(Lines(u"abc\r\nd"sv, {.breaks = LineBreaks::kCrLf, .limit = 3}), (U{u"abc", u"d"}));
  EXPECT_EQ(Lines("abcd\nef"sv, {.breaks = LineBreaks::kLf, .limit = 2}), (B{"ab", "cd", "ef"}));

  // A cut inside a surrogate pair moves before it when pairs are kept, unless
  // the pair alone is longer than the limit.
  const std::u16string_view pair = u"ab\U00020000c"sv;
  EXPECT_EQ(Lines(pair, {.breaks = LineBreaks::kRuns, .limit = 3, .keepPairs = true}),
            (U{u"ab", u"\U00020000c"}));
  EXPECT_EQ(Lines(pair, {.breaks = LineBreaks::kRuns, .limit = 3}),
            (U{std::u16string(pair.substr(0, 3)), std::u16string(pair.substr(3))}));
  EXPECT_EQ(
      Lines(u"\U00020000"sv, {.breaks = LineBreaks::kEach, .limit = 1, .keepPairs = true}).size(),
      2u);
}

TEST(LinesTest, PositionsAndLineEndHelpers) {
  size_t pos = 0;
  std::string_view line;
  const std::string_view text = "ab\r\ncd";
  ASSERT_TRUE(NextLine(text, pos, {.breaks = LineBreaks::kEach}, line));
  EXPECT_EQ(line, "ab");
  EXPECT_EQ(pos, 4u);
  ASSERT_TRUE(NextLine(text, pos, {.breaks = LineBreaks::kEach}, line));
  EXPECT_EQ(pos, 6u);
  EXPECT_FALSE(NextLine(text, pos, {.breaks = LineBreaks::kEach}, line));

  // The first TAB of each line comes from the same pass, never from beyond
  // the line's end.
  std::vector<size_t> tabs;
  size_t tab;
  std::u16string_view row;
  LineReader rows(u"ab\tc\td\r\nxy\r\n\tz\rw\tv"sv, {.breaks = LineBreaks::kCrLf, .limit = 5});
  while (rows.Next(row, tab)) tabs.push_back(tab);
  constexpr size_t kNo = std::u16string_view::npos;
  EXPECT_EQ(tabs, (std::vector<size_t>{2, kNo, kNo, 0, kNo}));

  EXPECT_EQ(SkipLineEnd(u"\r\nx"sv, 0), 2u);
  EXPECT_EQ(SkipLineEnd(u"\rx"sv, 0), 1u);
  EXPECT_EQ(SkipLineEnd(u"\n\r"sv, 0), 1u);
  EXPECT_EQ(SkipLineEnd(u"x\r"sv, 0), 0u);
  EXPECT_EQ(SkipLineEnd(u"x\r"sv, 2), 2u);
  EXPECT_TRUE(CrLfAt(u"x\r\n"sv, 1));
  EXPECT_FALSE(CrLfAt(u"x\r"sv, 1));
  EXPECT_FALSE(CrLfAt(u"\n\r"sv, 0));
}

}  // namespace
}  // namespace mirel
