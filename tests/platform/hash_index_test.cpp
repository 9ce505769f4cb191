#include "platform/hash_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirel {
namespace {

// Short keys live in the slot alone and long ones by their number in a
// list, and the hash is not kept: growing has to unpack the short keys and
// hash them again, so a wrong unpacking loses them.
struct Entry {
  uint64_t packed = 0;
  uint32_t length = 0;  // 0: empty
  uint32_t keyPlusOne = 0;
  int value = 0;
};

struct ListPolicy {
  using Slot = Entry;
  const std::vector<std::u16string>* keys;
  static bool IsEmpty(const Slot& slot) { return slot.length == 0; }
  std::u16string_view KeyOf(const Slot& slot, char16_t (&buffer)[kPackedUnits]) const {
    if (slot.length <= kPackedUnits) return UnpackUnits(slot.packed, buffer);
    return (*keys)[slot.keyPlusOne - 1];
  }
  bool Matches(const Slot& slot, const HashProbe& p) const {
    char16_t buffer[kPackedUnits];
    return slot.length == p.key.size() && slot.packed == p.packed &&
           (slot.length <= kPackedUnits || KeyOf(slot, buffer) == p.key);
  }
  uint32_t HashOf(const Slot& slot) const {
    char16_t buffer[kPackedUnits];
    return MakeProbe(KeyOf(slot, buffer)).hash;
  }
  static bool IsFull(size_t used, size_t size) { return used * 4 > size * 3; }
  static size_t GrownSize(size_t size) { return size + size / 2; }
};

template <int kBits>
bool Add(HashIndex<ListPolicy, kBits>& index, const HashProbe& p, uint32_t keyPlusOne, int value) {
  return index
      .Insert(p,
              [&](Entry& e) {
                e = Entry{p.packed, static_cast<uint32_t>(p.key.size()), keyPlusOne, value};
              })
      .second;
}

template <int kBits>
int ValueOf(const HashIndex<ListPolicy, kBits>& index, std::u16string_view key) {
  const Entry* e = index.Find(MakeProbe(key));
  return e ? e->value : -1;
}

TEST(HashIndexTest, GrowsFromOneSlotAndKeepsEveryKeyWithItsFirstValue) {
  // Keys of 1 to 40 units: many long ones share their first four units and
  // differ only in their last unit, past what a slot packs.
  std::vector<std::u16string> keys;
  for (int k = 0; k < 20000; ++k) {
    std::u16string key(1 + k % 4, u'字');
    key[0] = static_cast<char16_t>(0x4E00 + k);
    if (k % 3 != 0) key = u"前缀码表" + std::u16string(k % 37, u'a') + static_cast<char16_t>(k);
    keys.push_back(key);
  }
  HashIndex<ListPolicy, 2> index(ListPolicy{&keys}, 1);
  std::vector<size_t> visited;
  PrefetchedPass(
      keys.size(), [&](size_t k) { return index.Prepare(keys[k]); },
      [&](size_t k, const HashProbe& p) {
        visited.push_back(k);
        EXPECT_TRUE(Add(index, p, static_cast<uint32_t>(k + 1), static_cast<int>(k))) << k;
      });
  ASSERT_EQ(visited.size(), keys.size());
  for (size_t k = 0; k < visited.size(); ++k) ASSERT_EQ(visited[k], k);

  // Listed again, a key keeps the value it came with.
  for (size_t k = 0; k < keys.size(); k += 7) {
    EXPECT_FALSE(Add(index, MakeProbe(keys[k]), static_cast<uint32_t>(k + 1), -5));
  }
  size_t held = 0;
  index.ForEachSlot([&](const Entry&) { ++held; });
  EXPECT_EQ(held, keys.size());
  for (size_t k = 0; k < keys.size(); ++k) ASSERT_EQ(ValueOf(index, keys[k]), static_cast<int>(k));

  // Prefixes, extensions and a changed last unit are other keys.
  EXPECT_EQ(ValueOf(index, u"前缀码表"), -1);
  EXPECT_EQ(ValueOf(index, u"前缀码表a"), -1);
  EXPECT_EQ(ValueOf(index, keys[1] + u'x'), -1);
  std::u16string changed = keys[2];
  changed.back() = u'?';
  EXPECT_EQ(ValueOf(index, changed), -1);
  EXPECT_EQ(ValueOf(index, u""), -1);
  // Units past the packed ones reach the hash, or such keys would all share a home.
  EXPECT_NE(MakeProbe(keys[1]).hash, MakeProbe(keys[38]).hash);
  EXPECT_NE(MakeProbe(u"abcdefgh1").hash, MakeProbe(u"abcdefgh2").hash);
}

TEST(HashIndexTest, KeysWithOneHashProbeOnToTheirOwnSlotFromAnyHome) {
  // Seven keys under one hash in sixteen slots: they take a run of slots,
  // which wraps past the end for homes near it. Two share their first four
  // units and length and differ only after them.
  const std::vector<std::u16string> keys = {u"a",         u"ab",        u"abcd", u"abcde",
                                            u"abcdefgh1", u"abcdefgh2", u"b"};
  for (uint32_t hash = 0; hash < 64; ++hash) {
    HashIndex<ListPolicy> index(ListPolicy{&keys}, 16);
    auto probe = [&](std::u16string_view key) { return HashProbe{key, PackUnits(key), hash}; };
    for (size_t k = 0; k < keys.size(); ++k) {
      ASSERT_TRUE(Add(index, probe(keys[k]), static_cast<uint32_t>(k + 1), static_cast<int>(k)));
    }
    EXPECT_FALSE(Add(index, probe(u"abcdefgh2"), 6, 99));
    for (size_t k = 0; k < keys.size(); ++k) {
      const Entry* e = index.Find(probe(keys[k]));
      ASSERT_NE(e, nullptr) << "hash " << hash << ", key " << k;
      EXPECT_EQ(e->value, static_cast<int>(k));
    }
    EXPECT_EQ(index.Find(probe(u"abcdefgh3")), nullptr);
    EXPECT_EQ(index.Find(probe(u"abc")), nullptr);
  }
}

}  // namespace
}  // namespace mirel
