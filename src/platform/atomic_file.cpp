#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mirel {
namespace {

constexpr size_t kBufferSize = 1 << 20;

mode_t DefaultMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string Describe(int err) { return std::strerror(err); }

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target, std::filesystem::path temp, int fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {
  buffer_.reserve(kBufferSize);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temp_.c_str());
}

Result<std::unique_ptr<AtomicFile>> AtomicFile::Create(const std::filesystem::path& requested) {
  const std::string where = requested.string();
  if (requested.empty() || !requested.has_filename()) {
    return Status::InvalidArgument(where, "no file name given");
  }
  // Write through a link to the file it names, rather than replacing the link.
  std::error_code ec;
  std::filesystem::path target = requested;
  if (std::filesystem::is_symlink(requested, ec)) {
    std::filesystem::path resolved = std::filesystem::weakly_canonical(requested, ec);
    if (!ec) target = resolved;
  }
  struct stat st;
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return Status::IoError(where, "is a folder");
  // A read-only file is not replaced behind its owner's back.
  if (exists && (st.st_mode & 0222) == 0) return Status::IoError(where, "is read-only");
  std::filesystem::path folder = target.parent_path();
  std::string hidden(1, '.');
  hidden.append(target.filename().string()).append(".mirel-XXXXXX");
  std::string temp = (folder / hidden).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    int err = errno;
    return Status::IoError(where, "cannot create a file in " +
                                      (folder.empty() ? std::string(".") : folder.string()) + ": " +
                                      Describe(err));
  }
  ::fchmod(fd, exists ? (st.st_mode & 07777) : DefaultMode());
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return std::unique_ptr<AtomicFile>(new AtomicFile(target, temp, fd));
}

void AtomicFile::Flush() {
  size_t done = 0;
  while (error_ == 0 && done < buffer_.size()) {
    ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      error_ = errno;
    else
      done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void AtomicFile::Write(const void* data, size_t size) {
  if (error_ != 0 || committed_) return;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    size_t room = kBufferSize - buffer_.size();
    size_t n = size < room ? size : room;
    buffer_.append(p, n);
    p += n;
    size -= n;
    if (buffer_.size() == kBufferSize) Flush();
  }
}

Status AtomicFile::Commit() {
  const std::string where = target_.string();
  if (committed_) return Status::Ok();
  Flush();
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  if (error_ == 0 && ::close(fd_) != 0)
    error_ = errno;
  else if (error_ != 0)
    ::close(fd_);
  fd_ = -1;
  if (error_ != 0) return Status::IoError(where, "cannot write: " + Describe(error_));
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    return Status::IoError(where, "cannot replace: " + Describe(errno));
  }
  committed_ = true;
  // Make the rename itself durable.
  std::filesystem::path folder = target_.parent_path();
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return Status::Ok();
}

Status CopyFileAtomically(const std::filesystem::path& source,
                          const std::filesystem::path& target) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Status::IoError(source.string(), "cannot open: " + Describe(errno));
  Result<std::unique_ptr<AtomicFile>> out = AtomicFile::Create(target);
  if (!out.IsOk()) {
    ::close(in);
    return out.status();
  }
  std::string buffer(kBufferSize, '\0');
  while (true) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(in);
      return Status::IoError(source.string(), "cannot read: " + Describe(err));
    }
    if (n == 0) break;
    out.value()->Write(buffer.data(), static_cast<size_t>(n));
  }
  ::close(in);
  return out.value()->Commit();
}

}  // namespace mirel
