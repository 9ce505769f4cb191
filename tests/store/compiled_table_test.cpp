#include "store/compiled_table.h"

#include <cstring>
#include <random>

#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel {
namespace {

using Lines = std::vector<std::u16string>;

class CompiledTableTest : public ::testing::Test {
 protected:
  // Compiles `text`, collecting the report's messages.
  std::string Compile(std::u16string text, const OpaqueHeader& opaque = {}) {
    messages_.clear();
    std::string bytes;
    auto result = CompileTableText(
        text, test::BuiltInClasses(), opaque,
        [&](std::u16string_view message, int, int total) {
          if (total == 0) messages_.emplace_back(message);
        },
        [&](std::span<const std::byte> piece) {
          bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
        });
    EXPECT_OK(result);
    return bytes;
  }
  static std::span<const std::byte> Span(const std::string& bytes) {
    return std::as_bytes(std::span(bytes.data(), bytes.size()));
  }
  std::u16string Read(const std::string& bytes) {
    auto text = CompiledTableToText(Span(bytes));
    EXPECT_OK(text);
    return text.IsOk() ? text.value() : u"";
  }

  Lines messages_;
};

std::string Hex(std::string_view hex) {
  std::string out;
  for (size_t k = 0; k < hex.size(); ++k) {
    if (hex[k] != ' ') {
      out += static_cast<char>(std::stoi(std::string(hex.substr(k++, 2)), nullptr, 16));
    }
  }
  return out;
}

TEST_F(CompiledTableTest, SmallTableHasExactlyTheBytesOfTheFormat) {
  const std::string bytes = Compile(u"啊\tb\r\n亍\ta#1\r\nx\\ty\tab\r\n啊\tb\r\n");
  std::string expected =
      Hex("BC000000 9C000000 03000000 01000000"  // size 188, first record 156, A 3, kind 1
          "FB7C DF7E 0178 6888 0000 0000 0000 0000 0000 0000");  // 系统码表, zero-padded
  expected += std::string(34 + 30, '\0');                        // opaque values (none), zeros
  expected += Hex("E8030000") + std::string(32, '\0') + Hex("F0000000");
  expected += Hex("9C000000 A5000000 B3000000 00000000");  // offsets 156, 165, 179, then zero
  expected += Hex("8603001E 01 61 01 8D4E");               // 亍 a #1: weight 902, classes 0x0E
  expected += Hex("85030000 02 6162 03 78000900 7900");    // x TAB y ab: weight 901
  expected += Hex("8703000D 01 62 01 4A55");               // 啊 b: weight 903, classes 0x0D
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(messages_,
            (Lines{u"　　忽略第[ 4行 ]重复词条：啊 ",
                   u"　　码表信息：\r\n　　  码表大小：32字节\r\n　　  原始码表行数：4\r\n　　  "
                   u"有效编码行数：3"}));
  // Marked groups first, then by weight: the order of the source lines.
  EXPECT_EQ(Read(bytes), u"亍\ta#1\r\n啊\tb\r\nx\ty\tab\r\n");
}

TEST_F(CompiledTableTest, KeysOrderCodesThenEntriesAsBytes) {
  auto offsetsOrder = [&](std::u16string text) {
    const std::string bytes = Compile(std::move(text));
    uint32_t a;
    std::memcpy(&a, bytes.data() + 8, 4);
    Lines codes;
    for (uint32_t k = 0; k < a; ++k) {
      uint32_t at;
      std::memcpy(&at, bytes.data() + 140 + 4 * k, 4);
      const uint8_t l = static_cast<uint8_t>(bytes[at + 4]);
      std::u16string code;
      for (uint8_t j = 0; j < l; ++j) code += CodeUnit(static_cast<uint8_t>(bytes[at + 5 + j]));
      const uint8_t e = static_cast<uint8_t>(bytes[at + 5 + l]);
      std::u16string entry(e, u'\0');
      std::memcpy(entry.data(), bytes.data() + at + 6 + l, 2 * e);
      codes.push_back(code + u":" + entry);
    }
    return codes;
  };
  EXPECT_EQ(offsetsOrder(u"1\tb\r\n2\ta\r\n3\tab\r\n"), (Lines{u"a:2", u"ab:3", u"b:1"}));
  // Entries compare by their little-endian bytes: 中 (2D 4E) before 国 (FD 56).
  EXPECT_EQ(offsetsOrder(u"国\ta\r\n中\ta\r\n中\ta\r\n"), (Lines{u"a:中", u"a:国"}));
  // Long codes share their first bytes; the rest decides, a prefix first.
  EXPECT_EQ(offsetsOrder(u"1\tabcdz\r\n2\tabcdef\r\n3\tabcde\r\n4\tabcd\r\n"),
            (Lines{u"abcd:4", u"abcde:3", u"abcdef:2", u"abcdz:1"}));
  EXPECT_EQ(Read(Compile(u"国\ta\r\n中\ta\r\n中\ta\r\n")), u"国\ta\r\n中\ta\r\n");
}

TEST_F(CompiledTableTest, LinesParseWithCommentsMarksEscapesAndTheCodeAlphabet) {
  std::u16string text =
      u"// comment\tx\r\n///x\ty\r\n好\thao#1\r\n甲\ta#2#a\r\n乙\tc##d#\r\n丙\t#x\r\n"
      u"丁\tａ\r\n戊\t１＋\r\n己\t\r\nno tab\r\n庚\\r\\\\\\t\tq\r\n辛\t#1\n";
  std::vector<ParsedLine> lines = ParseTableText(text);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0].entry, u"//x");
  EXPECT_EQ(lines[1].code, u"hao");
  EXPECT_EQ(lines[1].marks, 0x10000000u);
  EXPECT_EQ(lines[2].marks, 0x60000000u);
  EXPECT_EQ(lines[3].code, u"c#d#");
  EXPECT_EQ(lines[4].code, u"#x");
  EXPECT_EQ(lines[5].code, u"１＋");
  EXPECT_EQ(lines[6].entry, u"庚\r\n\\\t");
  EXPECT_EQ(lines[7].code, u"");
  EXPECT_EQ(lines[7].index, 7u);

  const std::string bytes =
      Compile(u"好\thao#1\r\n戊\t１\r\n3\t#3\r\n零\t#3#2\r\n𠀀\tq\r\n", OpaqueHeader{});
  EXPECT_EQ(messages_[0], u"第[ 3行 ]无法支持的编码定义：3 ");
  EXPECT_EQ(messages_[1], u"第[ 4行 ]无法支持的编码定义：零 ");
  EXPECT_EQ(Read(bytes), u"3\t#3\r\n零\t#3\r\n好\thao#1\r\n戊\t１\r\n𠀀\tq\r\n");
}

TEST_F(CompiledTableTest, LongEntriesManyDuplicatesAndNoRowsKeepTheFormatSound) {
  const std::u16string medium(200, u'长'), huge(300, u'长');
  Compile(u"a\tb\r\n" + medium + u"\tm\r\n" + huge + u"\th\r\n");
  ASSERT_EQ(messages_.size(), 4u);
  EXPECT_EQ(messages_[0], u"第[ 2行 ]无法支持的编码定义：" + medium + u" m");
  EXPECT_TRUE(messages_[2].starts_with(u"第[ 3行 ]词条超过255个字，未编入码表：长长"))
      << Utf16ToUtf8(messages_[2]);
  EXPECT_NE(messages_[3].find(u"有效编码行数：2"), std::u16string::npos);

  // A thousand duplicates would push the last weight below zero.
  std::u16string text;
  for (int k = 0; k < 1000; ++k) text += u"啊\tb\r\n";
  text += u"亍\tz\r\n";
  const std::string bytes = Compile(text);
  uint32_t at, word;
  std::memcpy(&at, bytes.data() + 144, 4);
  std::memcpy(&word, bytes.data() + at, 4);
  EXPECT_EQ(word, 0x0E000000u);
  EXPECT_EQ(Read(bytes), u"啊\tb\r\n亍\tz\r\n");

  // Nothing to compile is a failure, and nothing is written.
  text = u"no rows here\r\n// only\ta comment\r\n";
  EXPECT_FALSE(
      CompileTableText(text, test::BuiltInClasses(), {}, {}, [](std::span<const std::byte>) {
        ADD_FAILURE() << "nothing may be written";
      }).IsOk());
}

TEST_F(CompiledTableTest, ReaderRefusesEveryDamagedFile) {
  const std::string good = Compile(u"啊\tb\r\n亍\ta#1\r\nx\\ty\tab\r\n");
  ASSERT_OK(ValidateCompiledTable(Span(good)));
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(CompiledTableToText(Span(good.substr(0, n))).IsOk()) << "cut to " << n;
  }
  auto patched = [&](size_t at, uint32_t value) {
    std::string bytes = good;
    std::memcpy(bytes.data() + at, &value, 4);
    return bytes;
  };
  // An unknown kind, a count beyond the file, an offset into the header or past the end.
  for (auto [at, value] :
       {std::pair<size_t, uint32_t>{12, 2}, {8, 0x40000000}, {140, 100}, {140, 0xFFFFFFF0}}) {
    EXPECT_FALSE(ValidateCompiledTable(Span(patched(at, value))).IsOk()) << at << " " << value;
  }
  std::string longCode = good;
  uint32_t last;
  std::memcpy(&last, good.data() + 148, 4);
  longCode[last + 4] = static_cast<char>(0xFF);  // code past the end
  EXPECT_FALSE(ValidateCompiledTable(Span(longCode)).IsOk());

  // Kind 5 records hold a text; an empty table reads as nothing; a skipped
  // record is left out.
  std::string kind5 = patched(12, 5);
  EXPECT_OK(ValidateCompiledTable(Span(kind5)));
  uint32_t middle;
  std::memcpy(&middle, good.data() + 144, 4);
  std::string skipped = good;
  skipped[middle + 3] = static_cast<char>(static_cast<uint8_t>(skipped[middle + 3]) | 0x80);
  EXPECT_EQ(Read(skipped).find(u"x\ty"), std::u16string::npos);
  std::string none = Compile(u"a\tb\r\n");
  none.resize(144);
  none[0] = static_cast<char>(144);
  none[4] = static_cast<char>(144);
  none[8] = 0;
  EXPECT_EQ(Read(none), u"");

  // Random damage never crashes or reads outside the file.
  std::mt19937 random(20261207);
  for (int k = 0; k < 3000; ++k) {
    std::string bytes = good;
    for (int flips = 1 + random() % 4; flips-- > 0;)
      bytes[random() % bytes.size()] = static_cast<char>(random());
    (void)CompiledTableToText(Span(bytes));
  }
}

}  // namespace
}  // namespace mirel
