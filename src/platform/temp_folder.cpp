#include "platform/temp_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/messages.h"
#include "platform/paths.h"

namespace mirel {
namespace {

constexpr size_t kPathLimit = 259;
constexpr int kMaxCopies = 64;

Status MakePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return Status::IoError(folder.string(),
                           std::string("cannot create folder: ") + std::strerror(errno));
  }
  return CheckPrivateFolder(folder);
}

// Returns the locked descriptor, -1 when another copy holds the lock.
Result<int> LockFolder(const std::filesystem::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return Status::IoError(folder.string(),
                           std::string("cannot open folder: ") + std::strerror(errno));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  ::close(fd);
  return -1;
}

}  // namespace

Status CheckPrivateFolder(const std::filesystem::path& folder) {
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) {
    return Status::IoError(folder.string(), std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode))
    return Status::IoError(folder.string(), Tr("is a symbolic link; refusing to use it"));
  if (!S_ISDIR(st.st_mode)) return Status::IoError(folder.string(), Tr("is not a folder"));
  if (st.st_uid != ::getuid())
    return Status::IoError(folder.string(), Tr("is owned by another user; refusing to use it"));
  if ((st.st_mode & 077) != 0) {
    return Status::IoError(folder.string(),
                           Tr("is accessible to other users; refusing to use it (chmod 700 it)"));
  }
  return Status::Ok();
}

Result<std::unique_ptr<TempFolder>> TempFolder::Open() {
  const char* tmp = std::getenv("TMPDIR");
  return OpenIn(tmp && *tmp ? std::filesystem::path(tmp) : std::filesystem::path("/tmp"));
}

Result<std::unique_ptr<TempFolder>> TempFolder::OpenIn(const std::filesystem::path& base) {
  std::filesystem::path folder = base / ("mirel-" + std::to_string(::getuid()));
  Status made = MakePrivateFolder(folder);
  if (!made.IsOk()) return made;
  for (int copy = 0; copy < kMaxCopies; ++copy) {
    std::filesystem::path candidate = copy == 0 ? folder : folder / std::to_string(copy);
    if (copy > 0) {
      Status sub = MakePrivateFolder(candidate);
      if (!sub.IsOk()) return sub;
    }
    Result<int> fd = LockFolder(candidate);
    if (!fd.IsOk()) return fd.status();
    if (fd.value() >= 0) return std::unique_ptr<TempFolder>(new TempFolder(candidate, fd.value()));
  }
  return Status::IoError(folder.string(), Tr("too many running copies hold working folders"));
}

TempFolder::~TempFolder() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::filesystem::path TempFolder::TempPath(std::u16string_view name) const {
  std::filesystem::path p = folder_ / PathFromUtf16(name);
  if (PathToUtf16(p).size() > kPathLimit) return {};
  return p;
}

}  // namespace mirel
