// The programs' operator new and delete. Tables of millions of rows live in
// a few buffers of tens of megabytes (decoded text, row offsets, sort keys),
// and each fresh page of them costs a page fault; under a hypervisor a fault
// costs microseconds, so faults alone took a third of a sort's time. Blocks
// of kLargeBlock bytes or more are mapped on their own, 2 MiB aligned, and
// the kernel is asked to back them with huge pages, which cuts the faults by
// up to 512. Smaller blocks go to malloc as before.
//
// Linked into the programs and benchmarks only, and not into sanitized
// builds, whose checks of new and delete must see every block.
#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr size_t kLargeBlock = size_t{4} << 20;
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;
constexpr size_t kMaxBlocks = 4096;  // 16 GiB of large blocks at the least

// The large blocks alive: their addresses and mapped lengths, in a fixed
// array so that keeping the list never allocates.
struct Block {
  void* at;
  size_t length;
};
Block blocks[kMaxBlocks];
size_t blockCount = 0;
std::atomic<size_t> liveBlocks{0};  // read without the lock on every delete
std::mutex blockLock;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

void* MapLarge(size_t size) {
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  // Whole pages, not whole huge pages: a huge page is backed in full once
  // any byte of it is touched, and the part of a block past its last full
  // huge page stays in small pages, so no block costs more than its size.
  const size_t length = RoundUp(size, kPage);
  // Mapped with room to spare, then cut to a 2 MiB aligned start so that
  // all but the block's tail can be huge pages.
  void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) ::munmap(raw, aligned - start);
  const uintptr_t end = start + length + kHugePage;
  if (end > aligned + length)
    ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  void* block = reinterpret_cast<void*>(aligned);
  ::madvise(block, length, MADV_HUGEPAGE);
  std::lock_guard<std::mutex> hold(blockLock);
  if (blockCount == kMaxBlocks) {
    ::munmap(block, length);
    return nullptr;
  }
  blocks[blockCount++] = Block{block, length};
  liveBlocks.store(blockCount, std::memory_order_release);
  return block;
}

// Unmaps `p` when it is a large block; false for any other pointer.
bool UnmapLarge(void* p) {
  if (reinterpret_cast<uintptr_t>(p) % kHugePage != 0) return false;
  if (liveBlocks.load(std::memory_order_acquire) == 0) return false;
  size_t length = 0;
  {
    std::lock_guard<std::mutex> hold(blockLock);
    size_t k = 0;
    while (k < blockCount && blocks[k].at != p) ++k;
    if (k == blockCount) return false;
    length = blocks[k].length;
    blocks[k] = blocks[--blockCount];
    liveBlocks.store(blockCount, std::memory_order_release);
  }
  ::munmap(p, length);
  return true;
}

void* Allocate(size_t size) {
  if (size >= kLargeBlock) {
    if (void* p = MapLarge(size)) return p;
  }
  while (true) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void Release(void* p) noexcept {
  if (p == nullptr || UnmapLarge(p)) return;
  std::free(p);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
