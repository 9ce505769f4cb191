// The programs' operator new: large blocks are their own huge-page aligned
// mappings, everything else comes from malloc, and every block goes back to
// where it came from, from any thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kLarge = size_t{4} << 20;
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

bool OnHugePageBoundary(const void* p) { return reinterpret_cast<uintptr_t>(p) % kHugePage == 0; }

TEST(LargeBlocksTest, LargeBlocksAreAlignedMappingsAndSmallOnesAreNot) {
  std::vector<char> large(kLarge, 'x');
  EXPECT_TRUE(OnHugePageBoundary(large.data()));
  EXPECT_EQ(large.back(), 'x');
  std::vector<char> small(kLarge - 1, 'y');
  EXPECT_FALSE(OnHugePageBoundary(small.data()));
  // Growth moves the contents into ever larger blocks and frees the old.
  const std::u16string row = u"中文\tzwxy\r\n";
  std::u16string text;
  for (int k = 0; k < 300000; ++k) text += row;
  EXPECT_EQ(text.size(), 300000 * row.size());
  EXPECT_EQ(text.substr(text.size() - row.size()), row);
  // Arrays, nothrow and a size too large to map.
  std::unique_ptr<uint64_t[]> numbers(new uint64_t[kLarge]);
  numbers[kLarge - 1] = 7;
  EXPECT_EQ(numbers[kLarge - 1], 7u);
  void* p = ::operator new(kLarge * 2, std::nothrow);
  ASSERT_NE(p, nullptr);
  std::memset(p, 1, kLarge * 2);
  ::operator delete(p);
  volatile size_t impossible = SIZE_MAX - 16;  // hidden from the compiler's size checks
  EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
  EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
}

TEST(LargeBlocksTest, ThreadsAllocateAndFreeEachOthersBlocks) {
  constexpr int kRounds = 50;
  std::vector<std::unique_ptr<std::vector<char>>> handed(kRounds);
  std::thread maker([&] {
    for (int k = 0; k < kRounds; ++k) {
      handed[k] = std::make_unique<std::vector<char>>(kLarge + k, static_cast<char>(k));
    }
  });
  maker.join();
  std::thread freer([&] {
    for (int k = 0; k < kRounds; ++k) {
      EXPECT_EQ(handed[k]->at(kLarge + k - 1), static_cast<char>(k));
      handed[k].reset();
    }
  });
  // Small blocks in the meantime never meet the large ones' bookkeeping.
  for (int k = 0; k < 10000; ++k) std::make_unique<std::string>(100, 'a').reset();
  freer.join();
}

}  // namespace
