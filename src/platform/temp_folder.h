// The private folder of working and scratch files: $TMPDIR/mirel-<uid>/
// (TMPDIR defaults to /tmp). It is created with mode 0700 and used only when
// it is a real directory owned by this user and closed to others, so nobody
// else can read or replace the working copy of a table. The folder is locked
// with flock for the lifetime of the object; a second running copy finds it
// locked and takes a numbered sub-folder of its own. Not thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/status.h"

namespace mirel {

class TempFolder {
 public:
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Opens the folder under $TMPDIR (or /tmp).
  static Result<std::unique_ptr<TempFolder>> Open();
  // Opens the folder under `base` (tests use their own base).
  static Result<std::unique_ptr<TempFolder>> OpenIn(const std::filesystem::path& base);

  // The path of `name` in the folder, or an empty path when the whole path
  // would exceed 259 UTF-16 units.
  std::filesystem::path TempPath(std::u16string_view name) const;

  const std::filesystem::path& folder() const { return folder_; }

 private:
  TempFolder(std::filesystem::path folder, int lockFd)
      : folder_(std::move(folder)), lockFd_(lockFd) {}

  std::filesystem::path folder_;
  int lockFd_ = -1;
};

// Checks that `folder` is a directory (not a link) owned by the current user
// and not accessible to group or others.
Status CheckPrivateFolder(const std::filesystem::path& folder);

}  // namespace mirel
