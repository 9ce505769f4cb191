// Writes a file so that it replaces its target entirely or not at all: the
// bytes go to a temporary file beside the target, which is synced and renamed
// over the target on Commit. Until then the old file stays intact; an
// AtomicFile destroyed without a successful Commit removes its temporary
// file. A replaced file keeps the permissions of the old one. Not
// thread-safe.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/status.h"

namespace mirel {

class AtomicFile {
 public:
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Fails when the target is a folder or a read-only file, or its folder is
  // not writable.
  static Result<std::unique_ptr<AtomicFile>> Create(const std::filesystem::path& target);

  // Buffered; the first failure is kept and reported by Commit.
  void Write(const void* data, size_t size);
  Status Commit();

  const std::filesystem::path& target() const { return target_; }

 private:
  AtomicFile(std::filesystem::path target, std::filesystem::path temp, int fd);
  void Flush();

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
  std::string buffer_;
  int error_ = 0;
  bool committed_ = false;
};

// Replaces `target` with a copy of `source`, atomically.
Status CopyFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace mirel
