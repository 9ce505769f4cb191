#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdint>

namespace mirel {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

LargeBuffer::LargeBuffer(size_t bytes) {
  if (bytes == 0) return;
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  // Whole pages, not whole huge pages: the part past the last full huge page
  // stays in small pages, so no buffer costs more than its size.
  const size_t length = RoundUp(bytes, kPage);
  const bool huge = length >= kHugePage;
  // Mapped with room to spare, then cut to a 2 MiB aligned start so that all
  // but the tail can be huge pages. Without MAP_NORESERVE the kernel's
  // overcommit check sees the whole request here.
  const size_t spare = huge ? kHugePage : 0;
  void* raw =
      ::mmap(nullptr, length + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<uintptr_t>(raw);
  if (huge) {
    const uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t end = start + length + spare;
    if (end > aligned + length) {
      ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
    }
    start = aligned;
    // Only advice: without transparent huge pages the buffer works as well.
    ::madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
  }
  data_ = reinterpret_cast<std::byte*>(start);
  size_ = bytes;
  mapped_ = length;
}

Result<LargeBuffer> LargeBuffer::Make(size_t bytes, const std::string& where) {
  try {
    return LargeBuffer(bytes);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(where);
  }
}

void AdviseHugePages(void* at, size_t bytes) {
  if (bytes < 2 * kHugePage) return;
  const auto start = reinterpret_cast<uintptr_t>(at);
  const uintptr_t first = RoundUp(start, kHugePage);
  const uintptr_t last = (start + bytes) / kHugePage * kHugePage;
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void LargeBuffer::Release() noexcept {
  if (data_ != nullptr) ::munmap(data_, mapped_);
  data_ = nullptr;
  size_ = 0;
  mapped_ = 0;
}

}  // namespace mirel
