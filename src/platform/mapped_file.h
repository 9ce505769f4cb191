// A whole file mapped read/write into memory, or an in-memory copy of it when
// the file cannot be opened for writing or mapped (an empty file, one that is
// read-only to us). Changes to an in-memory copy are never written anywhere.
// A MappedFile owns its descriptor and mapping; destroying it unmaps without
// flushing (the kernel still writes dirty pages back; Close(true) syncs).
// Files of 4 GiB and more are refused. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>

namespace mirel {

class MappedFile {
 public:
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Null when the path names no regular file, or neither a mapping nor an
  // in-memory copy could be made. The copy is file size + 10 bytes long.
  static std::unique_ptr<MappedFile> MapExisting(const std::filesystem::path& path);

  // Creates (or truncates) the file with `size` zero bytes and maps it.
  // Null on any failure, including size 0.
  static std::unique_ptr<MappedFile> Create(const std::filesystem::path& path, uint32_t size);

  // Creates (or truncates) the file with the bytes of `pieces` one after the
  // other, zero bytes up to `size`, and maps it. Writing through the file
  // rather than the mapping is faster for large contents, and a full disk
  // fails here instead of faulting later. Null on any failure.
  static std::unique_ptr<MappedFile> CreateFilled(
      const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size);

  // Creates (or truncates) the file with a copy of the first `copySize` bytes
  // of `source`, zero bytes up to `size`, and maps it. The copy is made by the
  // kernel where it can. Null on any failure.
  static std::unique_ptr<MappedFile> CreateCopy(const std::filesystem::path& path,
                                                const MappedFile& source, uint32_t copySize,
                                                uint32_t size);

  // Grows or shrinks the file and maps it again; new bytes read as zero. The
  // view moves. On failure the record keeps no view and may only be closed.
  bool Resize(uint32_t newSize);

  // Unmaps and closes; with `flush`, syncs the view to the file first.
  void Close(bool flush);

  uint32_t size() const { return size_; }
  std::byte* view() { return view_; }
  const std::byte* view() const { return view_; }
  bool inMemory() const { return fd_ < 0 && view_ != nullptr; }
  const std::filesystem::path& path() const { return path_; }

 private:
  MappedFile() = default;
  bool Map();
  static std::unique_ptr<MappedFile> OpenForRewrite(const std::filesystem::path& path);
  bool FinishRewrite(uint64_t written, uint32_t size);

  std::filesystem::path path_;
  int fd_ = -1;
  uint32_t size_ = 0;
  std::byte* view_ = nullptr;
  std::unique_ptr<std::byte[]> copy_;
};

}  // namespace mirel
