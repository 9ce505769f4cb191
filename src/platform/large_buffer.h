// LargeBuffer and LargeArray: memory of its own for the few buffers of a
// table that grow with its rows (sort keys, row offsets, decoded text).
//
// Each fresh page of a buffer of tens of megabytes costs a page fault, and
// under a hypervisor faults alone took a third of a sort's time. A buffer of
// 2 MiB or more is therefore mapped 2 MiB aligned and the kernel is asked for
// huge pages (MADV_HUGEPAGE), which cuts the faults by up to 512; smaller
// buffers are mapped plainly. The memory is committed when mapped (no
// MAP_NORESERVE), so a buffer larger than the machine can back is refused
// there and then, instead of the process being killed when it touches the
// pages. The contents start zeroed.
//
// A buffer owns its mapping and releases it when destroyed; it moves but
// does not copy. Distinct buffers may be used from distinct threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/status.h"

namespace mirel {

class LargeBuffer {
 public:
  LargeBuffer() = default;
  // Throws std::bad_alloc when the memory cannot be had.
  explicit LargeBuffer(size_t bytes);
  // The same, with the failure as a Status naming `where`.
  static Result<LargeBuffer> Make(size_t bytes, const std::string& where);
  ~LargeBuffer() { Release(); }

  LargeBuffer(LargeBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        mapped_(std::exchange(other.mapped_, 0)) {}
  LargeBuffer& operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
  }
  LargeBuffer(const LargeBuffer&) = delete;
  LargeBuffer& operator=(const LargeBuffer&) = delete;

  std::byte* data() { return data_; }
  const std::byte* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  void Release() noexcept;

  std::byte* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;
};

// `count` values of a trivial type in a LargeBuffer, all starting as zero
// bytes. Fixed in size: what grows is sized first and filled after.
template <class T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  LargeArray() = default;
  // Throws std::bad_alloc when the memory cannot be had, or the size overflows.
  explicit LargeArray(size_t count) : buffer_(Bytes(count)), count_(count) {}
  LargeArray(LargeArray&& other) noexcept
      : buffer_(std::move(other.buffer_)), count_(std::exchange(other.count_, 0)) {}
  LargeArray& operator=(LargeArray&& other) noexcept {
    if (this != &other) {
      buffer_ = std::move(other.buffer_);
      count_ = std::exchange(other.count_, 0);
    }
    return *this;
  }

  T* data() { return reinterpret_cast<T*>(buffer_.data()); }
  const T* data() const { return reinterpret_cast<const T*>(buffer_.data()); }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  T& operator[](size_t k) { return data()[k]; }
  const T& operator[](size_t k) const { return data()[k]; }
  T* begin() { return data(); }
  T* end() { return data() + count_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + count_; }

 private:
  static size_t Bytes(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return count * sizeof(T);
  }

  LargeBuffer buffer_;
  size_t count_ = 0;
};

// For a large buffer the standard library allocated (a string's reserved
// room): asks for huge pages on the whole 2 MiB pages inside
// [at, at + bytes), which must not have been written yet to gain. Only
// advice; ranges under 4 MiB are left alone.
void AdviseHugePages(void* at, size_t bytes);

}  // namespace mirel
