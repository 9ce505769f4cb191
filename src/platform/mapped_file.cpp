#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mirel {
namespace {

constexpr uint64_t kSizeLimit = 0xFFFFFFFFull;
constexpr uint32_t kCopySlack = 10;

bool ReadAll(int fd, std::byte* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

MappedFile::~MappedFile() { Close(false); }

bool MappedFile::Map() {
  void* p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) {
    view_ = nullptr;
    return false;
  }
  view_ = static_cast<std::byte*>(p);
  return true;
}

std::unique_ptr<MappedFile> MappedFile::MapExisting(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  if (static_cast<uint64_t>(st.st_size) >= kSizeLimit - kCopySlack) return nullptr;

  std::unique_ptr<MappedFile> file(new MappedFile);
  file->path_ = path;
  if (st.st_size > 0) {
    file->fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (file->fd_ >= 0) {
      file->size_ = static_cast<uint32_t>(st.st_size);
      if (file->Map()) return file;
      ::close(file->fd_);
      file->fd_ = -1;
    }
  }
  // In-memory copy: read-only files, empty files, files that cannot be mapped.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  uint32_t blockSize = static_cast<uint32_t>(st.st_size) + kCopySlack;
  std::unique_ptr<std::byte[]> block(new (std::nothrow) std::byte[blockSize]());
  bool ok = block && ReadAll(fd, block.get(), static_cast<size_t>(st.st_size));
  ::close(fd);
  if (!ok) return nullptr;
  file->size_ = blockSize;
  file->copy_ = std::move(block);
  file->view_ = file->copy_.get();
  return file;
}

std::unique_ptr<MappedFile> MappedFile::Create(const std::filesystem::path& path, uint32_t size) {
  if (size == 0) return nullptr;
  std::unique_ptr<MappedFile> file(new MappedFile);
  file->path_ = path;
  file->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (file->fd_ < 0) return nullptr;
  file->size_ = size;
  // Reserve the blocks now, so a full disk fails here rather than as SIGBUS
  // on a later write through the mapping.
  if (::posix_fallocate(file->fd_, 0, size) != 0 && ::ftruncate(file->fd_, size) != 0) {
    return nullptr;
  }
  if (!file->Map()) return nullptr;
  return file;
}

// Truncating a large file to nothing costs as much as writing it again, so a
// rewritten file keeps its blocks: new contents go over the old ones and
// only what lies beyond them is cut off.
std::unique_ptr<MappedFile> MappedFile::OpenForRewrite(const std::filesystem::path& path) {
  std::unique_ptr<MappedFile> file(new MappedFile);
  file->path_ = path;
  file->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (file->fd_ < 0) return nullptr;
  return file;
}

bool MappedFile::FinishRewrite(uint64_t written, uint32_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(written)) != 0) return false;
  if (written < size &&
      ::posix_fallocate(fd_, static_cast<off_t>(written), static_cast<off_t>(size - written)) !=
          0 &&
      ::ftruncate(fd_, size) != 0) {
    return false;
  }
  size_ = size;
  return Map();
}

std::unique_ptr<MappedFile> MappedFile::CreateFilled(
    const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
    uint32_t size) {
  uint64_t filled = 0;
  for (const auto& piece : pieces) filled += piece.size();
  if (size == 0 || filled > size) return nullptr;
  std::unique_ptr<MappedFile> file = OpenForRewrite(path);
  if (!file) return nullptr;
  for (const auto& piece : pieces) {
    size_t done = 0;
    while (done < piece.size()) {
      ssize_t n = ::write(file->fd_, piece.data() + done, piece.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return nullptr;
      done += static_cast<size_t>(n);
    }
  }
  if (!file->FinishRewrite(filled, size)) return nullptr;
  return file;
}

std::unique_ptr<MappedFile> MappedFile::CreateCopy(const std::filesystem::path& path,
                                                   const MappedFile& source, uint32_t copySize,
                                                   uint32_t size) {
  if (copySize > size || copySize > source.size_ || source.view_ == nullptr) return nullptr;
  if (source.fd_ < 0) {
    return CreateFilled(path, {std::span<const std::byte>(source.view_, copySize)}, size);
  }
  std::unique_ptr<MappedFile> file = OpenForRewrite(path);
  if (!file || size == 0) return nullptr;
  // The source's page cache is what its mapping shows, so an in-kernel copy
  // sees every change made through the mapping.
  loff_t in = 0, out = 0;
  while (static_cast<uint64_t>(in) < copySize) {
    ssize_t n = ::copy_file_range(source.fd_, &in, file->fd_, &out, copySize - in, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
  }
  // Where the kernel cannot copy (or stopped early), write the rest ourselves.
  while (static_cast<uint64_t>(out) < copySize) {
    ssize_t n = ::pwrite(file->fd_, source.view_ + out, copySize - out, out);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;
    out += n;
  }
  if (!file->FinishRewrite(copySize, size)) return nullptr;
  return file;
}

bool MappedFile::Resize(uint32_t newSize) {
  if (fd_ < 0 || view_ == nullptr || newSize == 0) return false;
  // The page cache is shared, so the old view needs no sync before remapping.
  ::munmap(view_, size_);
  view_ = nullptr;
  if (newSize > size_ && ::posix_fallocate(fd_, 0, newSize) != 0 && ::ftruncate(fd_, newSize) != 0)
    return false;
  if (newSize < size_ && ::ftruncate(fd_, newSize) != 0) return false;

  size_ = newSize;
  return Map();
}

void MappedFile::Close(bool flush) {
  if (fd_ >= 0) {
    if (view_ != nullptr) {
      if (flush) ::msync(view_, size_, MS_SYNC);
      ::munmap(view_, size_);
    }
    ::close(fd_);
  }
  fd_ = -1;
  view_ = nullptr;
  copy_.reset();
  size_ = 0;
}

}  // namespace mirel
