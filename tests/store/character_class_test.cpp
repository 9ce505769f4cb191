#include "store/character_class.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "store/character_lists.h"
#include "support/test_support.h"

namespace mirel {
namespace {

constexpr uint32_t kAllClasses =
    kClassGb2312Level1 | kClassGb2312Level2 | kClassCjkUnified | kClassBig5;

std::span<const unsigned char> Bytes(const std::string& bytes) {
  return {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
}

// The characters of a list, checking its layout on the way: the mark, then
// characters separated by single LFs, nothing after the last one. Which
// characters they may be the set checks below tell.
std::vector<char16_t> Characters(const CharacterListResource& list) {
  std::u16string units, rebuilt = u"\uFEFF";
  for (size_t i = 0; i + 1 < list.size; i += 2) {
    units += static_cast<char16_t>(list.bytes[i] | (list.bytes[i + 1] << 8));
  }
  std::vector<char16_t> chars;
  for (size_t i = 1; i < units.size(); i += 2) {
    chars.push_back(units[i]);
    rebuilt.append(i > 1 ? u"\n" : u"").push_back(units[i]);
  }
  EXPECT_TRUE(list.size % 2 == 0 && units == rebuilt)
      << list.number << " is not laid out as a list";
  return chars;
}

TEST(CharacterClassTest, EmbeddedListsHoldTheStandardSets) {
  const size_t counts[] = {3755, 3008, 5401, 7652, 20902};
  std::set<char16_t> sets[kCharacterListCount];
  for (size_t i = 0; i < kCharacterListCount; ++i) {
    const CharacterListResource& list = kCharacterLists[i];
    std::vector<char16_t> chars = Characters(list);
    sets[i].insert(chars.begin(), chars.end());
    EXPECT_EQ(chars.size(), counts[i]) << list.number;
    EXPECT_EQ(sets[i].size(), counts[i]) << list.number << " has duplicates";
  }
  const auto& [gb1, gb2, big5a, big5b, cjk] = sets;

  auto disjoint = [](const std::set<char16_t>& a, const std::set<char16_t>& b) {
    return std::none_of(a.begin(), a.end(), [&](char16_t c) { return b.count(c) != 0; });
  };
  EXPECT_TRUE(disjoint(gb1, gb2));
  EXPECT_TRUE(disjoint(big5a, big5b));

  EXPECT_EQ(*cjk.begin(), 0x4E00);
  EXPECT_EQ(*cjk.rbegin(), 0x9FA5);
  EXPECT_EQ(cjk.size(), size_t{0x9FA5 - 0x4E00 + 1});
  for (const std::set<char16_t>* set : {&gb1, &gb2, &big5a, &big5b}) {
    for (char16_t c : *set) {
      if (set == &big5b && (c == 0xFA0C || c == 0xFA0D)) continue;
      EXPECT_EQ(cjk.count(c), 1u) << "U+" << std::hex << int{c} << " outside the unified block";
    }
  }
  EXPECT_EQ(big5b.count(0xFA0C), 1u);
  EXPECT_EQ(big5b.count(0xFA0D), 1u);
}

TEST(CharacterClassTest, BuiltInMasksAndClassBitsThatPassOverSurrogatePairsOnly) {
  const CharacterClassTable& table = test::BuiltInClasses();
  EXPECT_EQ(table.Mask(u'啊'), kClassGb2312Level1 | kClassCjkUnified | kClassBig5);
  EXPECT_EQ(table.Mask(u'亍'), kClassGb2312Level2 | kClassCjkUnified | kClassBig5);
  EXPECT_EQ(table.Mask(u'龥'), kClassCjkUnified);
  EXPECT_EQ(table.Mask(u'\uFA0D'), kClassBig5);
  EXPECT_EQ(table.Mask(u'\uFA0C'), kClassBig5);
  EXPECT_EQ(table.Mask(u'A'), 0u);
  EXPECT_EQ(table.Mask(u'\r'), 0u);
  EXPECT_EQ(table.Mask(0), 0u);
  EXPECT_EQ(table.Mask(0x4DFF), 0u);
  EXPECT_EQ(table.Mask(0x9FA6), 0u);
  // Present in every list as separator and mark.
  EXPECT_EQ(table.Mask(u'\n'), kAllClasses);
  EXPECT_EQ(table.Mask(0xFEFF), kAllClasses);
  EXPECT_EQ(table.ClassBits(u"A"), 0u);
  EXPECT_EQ(table.ClassBits(u""), 0u);
  EXPECT_EQ(table.ClassBits(u"啊亍"), kAllClasses);
  EXPECT_EQ(table.ClassBits(u"\U00020000龥"), kClassCjkUnified);

  // Surrogates carry masks here, so a pair that was not passed over shows.
  CharacterClassTable marked;
  ASSERT_TRUE(marked.AddList(Bytes(test::Utf16Le(u"\xD840\n\xDC00", false)), kClassBig5));
  EXPECT_EQ(marked.ClassBits(u"\U00020000"), 0u);
  EXPECT_EQ(marked.ClassBits(u"x\U00020000y"), 0u);
  EXPECT_EQ(marked.ClassBits(std::u16string(1, 0xD840)), kClassBig5);
  EXPECT_EQ(marked.ClassBits(std::u16string(1, 0xDC00)), kClassBig5);
  // Reversed order is two lone surrogates, and a high one at the end has no partner.
  EXPECT_EQ(marked.ClassBits(std::u16string{char16_t{0xDC00}, char16_t{0xD840}}), kClassBig5);
  EXPECT_EQ(marked.ClassBits(std::u16string{u'a', char16_t{0xD840}}), kClassBig5);
}

TEST(CharacterClassTest, AddListWalksUnitsUpToNulOrEnd) {
  CharacterClassTable table;
  // Odd size: refused before anything is marked.
  EXPECT_FALSE(table.AddList(Bytes(test::Utf16Le(u"啊") + "x"), kClassGb2312Level1));
  EXPECT_EQ(table.Mask(0xFEFF), 0u);
  EXPECT_EQ(table.Mask(u'啊'), 0u);

  // Units are little-endian and the NUL unit ends the walk.
  ASSERT_TRUE(table.AddList(Bytes(test::Utf16Le(std::u16string(u"啊\n亍\0龥", 5))), kClassBig5));
  EXPECT_EQ(table.Mask(0xFEFF), kClassBig5);
  EXPECT_EQ(table.Mask(u'\n'), kClassBig5);
  EXPECT_EQ(table.Mask(u'啊'), kClassBig5);
  EXPECT_EQ(table.Mask(u'亍'), kClassBig5);
  EXPECT_EQ(table.Mask(0x4A55), 0u);  // 啊 read big-endian
  EXPECT_EQ(table.Mask(u'龥'), 0u);

  // Bits accumulate and an empty list is fine.
  EXPECT_TRUE(table.AddList(Bytes(test::Utf16Le(u"啊")), kClassGb2312Level1));
  EXPECT_TRUE(table.AddList({}, kClassCjkUnified));
  EXPECT_EQ(table.Mask(u'啊'), kClassBig5 | kClassGb2312Level1);
}

}  // namespace
}  // namespace mirel
