#include "platform/large_buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace mirel {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// True while any page of [p, p + size) is mapped.
bool Mapped(const void* p, size_t size) {
  unsigned char residency[4];
  const auto start = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{4095};
  for (size_t at = 0; at < size; at += 4096) {
    if (::mincore(reinterpret_cast<void*>(start + at), 4096, residency) == 0) return true;
  }
  return false;
}

// RAM and swap together, in bytes; 0 when no amount can be refused: /proc
// unreadable, or overcommit mode 1, which promises any amount to everyone.
uint64_t MachineMemory() {
  std::ifstream mode("/proc/sys/vm/overcommit_memory"), meminfo("/proc/meminfo");
  std::string name;
  if (mode >> name && name == "1") return 0;
  uint64_t kib = 0, total = 0;
  while (meminfo >> name >> kib) {
    if (name == "MemTotal:" || name == "SwapTotal:") total += kib * 1024;
    std::getline(meminfo, name);  // the unit
  }
  return total;
}

TEST(LargeBufferTest, BuffersAreZeroedAlignedOwnedAndReleased) {
  std::optional<LargeArray<uint64_t>> source(std::in_place, 3 * kHugePage / 8 + 5);
  LargeArray<uint64_t>& keys = *source;
  ASSERT_EQ(keys.size(), 3 * kHugePage / 8 + 5);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(keys.data()) % kHugePage, 0u);
  for (uint64_t key : keys) ASSERT_EQ(key, 0u);
  for (size_t k = 0; k < keys.size(); ++k) keys[k] = k;
  EXPECT_EQ(keys[keys.size() - 1], keys.size() - 1);

  // A move hands the same memory on: the source, once gone, leaves it mapped.
  const uint64_t* at = keys.data();
  LargeArray<uint64_t> moved(std::move(keys));
  source.reset();
  EXPECT_EQ(moved.data(), at);
  const size_t bytes = moved.size() * sizeof(uint64_t);
  EXPECT_TRUE(Mapped(at, bytes));
  EXPECT_EQ(moved[moved.size() - 1], moved.size() - 1);
  moved = LargeArray<uint64_t>(10);
  EXPECT_FALSE(Mapped(at, bytes)) << "the replaced buffer stays mapped";

  LargeBuffer small(100);
  EXPECT_EQ(small.size(), 100u);
  std::memset(small.data(), 7, small.size());
  const void* smallAt = small.data();
  { LargeBuffer gone(std::move(small)); }
  EXPECT_FALSE(Mapped(smallAt, 100));

  LargeBuffer none(0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.data(), nullptr);
}

TEST(LargeBufferTest, MoreThanTheMachineHasIsRefusedNotPromised) {
  EXPECT_THROW(LargeArray<uint64_t>(SIZE_MAX / 4), std::bad_alloc);
  EXPECT_THROW(LargeBuffer(SIZE_MAX - 16), std::bad_alloc);
  const uint64_t machine = MachineMemory();
  if (machine == 0) GTEST_SKIP() << "/proc/meminfo unreadable or vm.overcommit_memory is 1";
  Result<LargeBuffer> buffer = LargeBuffer::Make(static_cast<size_t>(2 * machine), "keys");
  ASSERT_FALSE(buffer.IsOk());
  EXPECT_EQ(buffer.status().code(), Status::Code::kNoMemory);
  EXPECT_EQ(buffer.status().message(), "keys: out of memory");
}

TEST(LargeBufferTest, LargeBuffersAskForHugePages) {
  LargeBuffer buffer(2 * kHugePage);
  std::ifstream smaps("/proc/self/smaps");
  if (!smaps) GTEST_SKIP() << "no /proc/self/smaps";
  char start[32];
  std::snprintf(start, sizeof start, "%lx-",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(buffer.data())));
  std::string line;
  bool inBuffer = false;
  while (std::getline(smaps, line)) {
    if (line.rfind(start, 0) == 0) inBuffer = true;
    if (inBuffer && line.rfind("VmFlags:", 0) == 0) {
      EXPECT_NE(line.find(" hg"), std::string::npos) << line;
      EXPECT_EQ(line.find(" nr"), std::string::npos) << "mapped without reserve: " << line;
      return;
    }
  }
  ADD_FAILURE() << "the buffer is not in /proc/self/smaps";
}

// A machine whose free memory cannot be told, so nothing is refused up front.
class UnknownMemory : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  uint64_t MemoryLimit() override { return UINT64_MAX; }
};

TEST(LargeBufferTest, ReadingMoreThanTheMachineHasFailsAsOutOfMemory) {
  // Their allocators end the process on a refused mapping unless told not to.
  if (test::kSanitized) GTEST_SKIP() << "sanitizer allocators abort on a refused mapping";
  const uint64_t machine = MachineMemory();
  if (machine == 0) GTEST_SKIP() << "/proc/meminfo unreadable or vm.overcommit_memory is 1";
  test::ScratchDir dir;
  const std::filesystem::path big = dir / "big.txt";
  test::WriteBytes(big, "a\tb\n");
  std::filesystem::resize_file(big, 2 * machine);
  struct stat info {};
  if (::stat(big.c_str(), &info) != 0 || info.st_blocks > 2048) {
    std::filesystem::remove(big);
    GTEST_SKIP() << "no sparse files in " << dir.path();
  }
  std::unique_ptr<FileSystem> disk = NewPosixFileSystem();
  UnknownMemory fs(*disk);
  Result<std::string> bytes = fs.ReadWhole(big, UINT64_MAX);
  ASSERT_FALSE(bytes.IsOk());
  EXPECT_EQ(bytes.status().code(), Status::Code::kNoMemory) << bytes.status().message();
}

}  // namespace
}  // namespace mirel
