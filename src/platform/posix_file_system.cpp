// The file system of this machine, through POSIX calls on the path's bytes.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/messages.h"
#include "platform/signal_cleanup.h"

namespace mirel {
namespace {

using std::filesystem::path;

// ---- What a termination signal cleans up --------------------------------
//
// A handler may only touch memory that needs no allocation or lock, so live
// temporary paths and child groups sit in fixed slots. A slot is claimed (1),
// filled, then published (2); the handler reads published slots only. A path
// or child that finds no free slot is still used, just not cleaned up by a
// signal.

constexpr int kTempSlots = 32;
constexpr int kChildSlots = 16;
constexpr size_t kTempPathBytes = PATH_MAX;

struct TempSlot {
  std::atomic<int> state{0};
  pid_t owner = 0;  // a forked child must not remove its parent's files
  char path[kTempPathBytes] = {};
};
struct ChildSlot {
  std::atomic<int> state{0};
  pid_t owner = 0;
  pid_t group = 0;
};
static_assert(std::atomic<int>::is_always_lock_free);

TempSlot gTempSlots[kTempSlots];
ChildSlot gChildSlots[kChildSlots];
// Each ends the process by default. SIGPIPE too: a reader that went away
// must not leave a half-written temporary file behind.
constexpr int kCleanupSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,
                                   SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE};

extern "C" void RemoveTempsAndDie(int sig) {
  const int savedErrno = errno;
  pid_t self = ::getpid();
  for (ChildSlot& slot : gChildSlots) {
    if (slot.state.load() == 2 && slot.owner == self) ::kill(-slot.group, SIGKILL);
  }
  for (TempSlot& slot : gTempSlots) {
    if (slot.state.load() == 2 && slot.owner == self) ::unlink(slot.path);
  }
  ::signal(sig, SIG_DFL);
  errno = savedErrno;
  ::raise(sig);  // delivered with the default action once the handler returns
}

// Looked at on every registration, since a forked child may have reset them.
void InstallHandlers() {
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) continue;
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTempsAndDie;
    sigemptyset(&action.sa_mask);
    // One cleanup at a time: a second signal waits for the first to finish.
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(sig, &action, nullptr);
  }
}

template <class Slot, size_t N, class Fill>
int Claim(Slot (&slots)[N], Fill fill) {
  InstallHandlers();
  for (size_t i = 0; i < N; ++i) {
    int expected = 0;
    if (!slots[i].state.compare_exchange_strong(expected, 1)) continue;
    fill(slots[i]);
    slots[i].owner = ::getpid();
    slots[i].state.store(2);
    return static_cast<int>(i);
  }
  return -1;
}

int RegisterTemp(const path& temp) { return TrackTempFile(temp); }
void UnregisterTemp(int slot) { ForgetTempFile(slot); }

using SignalBlock = CleanupSignalBlock;

// ---- Small helpers ---------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  // Closes now and returns close's errno (0 when it succeeded).
  int Close() {
    int err = 0;
    if (fd_ >= 0 && ::close(fd_) != 0 && errno != EINTR) err = errno;
    fd_ = -1;
    return err;
  }

 private:
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_;
};

std::string Where(const path& p) { return p.string(); }

Status NotRegular(const path& p, mode_t mode) {
  if (S_ISDIR(mode)) return Status::IoError(Where(p), Tr("is a folder"));
  const std::string what = S_ISFIFO(mode)   ? Tr("a FIFO")
                           : S_ISCHR(mode)  ? Tr("a character device")
                           : S_ISBLK(mode)  ? Tr("a block device")
                           : S_ISSOCK(mode) ? Tr("a socket")
                                            : Tr("not a file");
  return Status::IoError(Where(p), Tr("is not a regular file ({1})", what));
}

// Returns 0 or the errno of the failed write.
int WriteAll(int fd, const std::byte* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Extends the file to from + length with blocks reserved, so that a full
// disk fails here and not as SIGBUS on a later write through a mapping.
int Reserve(int fd, off_t from, off_t length) {
  int err;
  do {
    err = ::posix_fallocate(fd, from, length);
  } while (err == EINTR);
  if (err == EOPNOTSUPP) err = ::ftruncate(fd, from + length) == 0 ? 0 : errno;
  return err;
}

// The path a link chain ends in; the path itself when it is no link.
Result<path> ResolveLinks(const path& requested) {
  path p = requested;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT) return p;
      return OsError(requested, Tr("cannot query"), errno);
    }
    if (!S_ISLNK(st.st_mode)) return p;
    std::string text(std::max<size_t>(static_cast<size_t>(st.st_size) + 1, PATH_MAX), '\0');
    ssize_t n = ::readlink(p.c_str(), text.data(), text.size());
    if (n < 0) return OsError(requested, Tr("cannot read the link"), errno);
    if (static_cast<size_t>(n) >= text.size())
      return OsError(requested, Tr("cannot read the link"), ENAMETOOLONG);
    text.resize(static_cast<size_t>(n));
    path next(text);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return OsError(requested, Tr("cannot follow the link"), ELOOP);
}

// The descriptor of this process that `requested` names (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N, or a link to one of them), or -1. Such a path
// leads to "pipe:[N]" once resolved, where no file can be made.
int OwnDescriptor(const path& requested) {
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
  path p = requested;
  for (int hops = 0; hops < 40; ++hops) {
    const std::string text = p.lexically_normal().string();
    if (text == "/dev/stdout") return STDOUT_FILENO;
    if (text == "/dev/stderr") return STDERR_FILENO;
    for (const std::string& folder :
         {std::string("/dev/fd/"), std::string("/proc/self/fd/"), own}) {
      if (!text.starts_with(folder)) continue;
      const std::string number = text.substr(folder.size());
      if (number.empty() || number.size() > 9 ||
          number.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
      }
      return std::stoi(number);
    }
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return -1;
    target.resize(static_cast<size_t>(n));
    const path next(target);
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return -1;
}

// Resolve's walk: each existing component is taken as it is on disk (a link
// replaced by what it names, then walked again), so ".." after a link goes
// up from the link's target, as the kernel does; once a component is
// missing, the rest cannot hold links and is normalised as text.
Result<path> ResolveAll(const path& requested) {
  std::error_code ec;
  path pending = std::filesystem::absolute(requested, ec);
  if (ec) return OsError(requested, Tr("cannot resolve"), ec.value());
  std::vector<path> rest(pending.begin(), pending.end());
  std::reverse(rest.begin(), rest.end());  // a stack: the next component last
  path done = "/";
  int hops = 0;
  while (!rest.empty()) {
    const path part = std::move(rest.back());
    rest.pop_back();
    if (part.empty() || part == "/" || part == ".") continue;
    if (part == "..") {
      done = done.parent_path();
      continue;
    }
    const path next = done / part;
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR)
        return OsError(requested, Tr("cannot resolve"), errno);
      path tail = part;
      while (!rest.empty()) {
        tail /= rest.back();
        rest.pop_back();
      }
      path normal = (done / tail).lexically_normal();
      while (normal.has_relative_path() && !normal.has_filename()) normal = normal.parent_path();
      return normal;
    }
    if (!S_ISLNK(st.st_mode)) {
      done = next;
      continue;
    }
    if (++hops > 40) return OsError(requested, Tr("cannot resolve"), ELOOP);
    std::string text(std::max<size_t>(static_cast<size_t>(st.st_size) + 1, PATH_MAX), '\0');
    ssize_t n = ::readlink(next.c_str(), text.data(), text.size());
    if (n < 0) return OsError(requested, Tr("cannot read the link"), errno);
    if (static_cast<size_t>(n) >= text.size()) {
      return OsError(requested, Tr("cannot read the link"), ENAMETOOLONG);
    }
    text.resize(static_cast<size_t>(n));
    const path target(text);
    std::vector<path> parts(target.begin(), target.end());
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) rest.push_back(*it);
    if (target.is_absolute()) done = "/";
  }
  return done;
}

std::string TempPrefix(const std::string& name) { return "." + name + ".mirel-"; }

// Removes `.NAME.mirel-<pid>-XXXXXX` files whose process has ended: what a
// kill -9 or a power cut left behind. Only our own regular files are touched.
void RemoveStaleTemps(const path& folder, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return;
  const std::string prefix = TempPrefix(name);
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view file(entry->d_name);
    if (!file.starts_with(prefix)) continue;
    std::string_view rest = file.substr(prefix.size());
    size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string_view::npos || rest.size() - dash - 1 != 6) continue;
    long pid = 0;
    bool digits = dash <= 9;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9') digits = false;
      pid = pid * 10 + (c - '0');
    }
    if (!digits || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st;
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
  }
}

// Creates `.NAME.mirel-<pid>-XXXXXX` exclusively with `mode`, less the umask.
Result<Fd> CreateTemp(const path& requested, const path& folder, const std::string& name,
                      mode_t mode, path& temp, int& slot) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::string stem = TempPrefix(name) + std::to_string(::getpid()) + "-";
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
      for (size_t i = 0; i < sizeof random; ++i) {
        random[i] = static_cast<unsigned char>(attempt * 31 + i * 7 + ::getpid());
      }
    }
    std::string suffix;
    for (unsigned char r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
    temp = folder / (stem + suffix);
    SignalBlock block;
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      slot = RegisterTemp(temp);
      return Fd(fd);
    }
    err = errno;
  }
  return OsError(requested,
                 Tr("cannot create a file in {1}", folder.empty() ? "." : folder.string()), err);
}

// ---- Files -----------------------------------------------------------------

class PosixInput final : public InputFile {
 public:
  PosixInput(std::filesystem::path p, Fd fd, bool stream, uint64_t size)
      : InputFile(std::move(p)),
        fd_(std::move(fd)),
        rawFd_(fd_.get()),
        stream_(stream),
        size_(size) {}
  // Standard input: borrowed, never closed.
  PosixInput() : InputFile("-"), rawFd_(STDIN_FILENO), stream_(true) {}

  Result<size_t> Read(std::span<std::byte> out) override {
    while (true) {
      ssize_t n = ::read(rawFd_, out.data(), out.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return OsError(path(), Tr("cannot read"), errno);
      // Another writer cut the file short: what was read no longer belongs together.
      if (n == 0 && !out.empty() && !stream_ && offset_ < size_) {
        return Status::IoError(
            Where(path()),
            Tr("shrank while it was read (ended after {1} of {2} bytes)", offset_, size_));
      }
      offset_ += static_cast<uint64_t>(n);
      return static_cast<size_t>(n);
    }
  }

  Status Rewind() override {
    if (stream_) return Status::Unsupported(Where(path()), Tr("cannot read a stream twice"));
    if (::lseek(rawFd_, 0, SEEK_SET) != 0) return OsError(path(), Tr("cannot rewind"), errno);
    offset_ = 0;
    return Status::Ok();
  }

  uint64_t SizeHint() const override { return size_; }
  bool IsStream() const override { return stream_; }

 private:
  Fd fd_;
  int rawFd_;
  bool stream_;
  uint64_t size_ = 0;
  uint64_t offset_ = 0;
};

class PosixOutput final : public OutputFile {
 public:
  // A replacement written to `temp` beside `target`.
  PosixOutput(path target, path temp, Fd fd, int slot)
      : OutputFile(std::move(target)),
        temp_(std::move(temp)),
        fd_(std::move(fd)),
        rawFd_(fd_.get()),
        slot_(slot) {
    ReserveBuffer();
  }
  // Standard output: borrowed, never closed, nothing to rename.
  PosixOutput() : OutputFile("-"), rawFd_(STDOUT_FILENO) { ReserveBuffer(); }
  // Another descriptor of the process's own, a pipe or terminal, borrowed alike.
  PosixOutput(path name, int fd) : OutputFile(std::move(name)), rawFd_(fd) { ReserveBuffer(); }

  ~PosixOutput() override {
    if (!temp_.empty() && !published_) {
      fd_.Close();
      ::unlink(temp_.c_str());
    }
    UnregisterTemp(slot_);
  }

  Status Append(std::span<const std::byte> bytes) override {
    if (!status_.IsOk()) return status_;
    if (published_) return Status::InvalidArgument(Where(target()), Tr("already written"));
    if (buffer_.size() + bytes.size() <= buffer_.capacity() && buffer_.capacity() > 0) {
      buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      return Status::Ok();
    }
    Status flushed = Flush();
    if (!flushed.IsOk()) return flushed;
    if (bytes.size() < buffer_.capacity()) {
      buffer_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      return Status::Ok();
    }
    int err = WriteAll(rawFd_, bytes.data(), bytes.size());
    return err == 0 ? Status::Ok() : Fail(OsError(target(), Tr("cannot write"), err));
  }

  Status Sync() override {
    Status flushed = Flush();
    if (!flushed.IsOk()) return flushed;
    if (temp_.empty()) return Status::Ok();  // a pipe or terminal cannot be synced
    if (::fsync(rawFd_) != 0) return Fail(OsError(target(), Tr("cannot write"), errno));
    return Status::Ok();
  }

  Status Publish() override {
    if (published_) return Status::Ok();
    Status flushed = Flush();
    if (!flushed.IsOk()) return flushed;
    if (!temp_.empty()) {
      // Some file systems (NFS) report a failed write only at close.
      int err = fd_.Close();
      if (err != 0) return Fail(OsError(target(), Tr("cannot write"), err));
      if (::rename(temp_.c_str(), target().c_str()) != 0) {
        return Fail(OsError(target(), Tr("cannot replace"), errno));
      }
      UnregisterTemp(std::exchange(slot_, -1));
      SyncFolder();
    }
    published_ = true;
    return Status::Ok();
  }

 private:
  static constexpr size_t kBufferSize = size_t{1} << 20;

  // Without memory for a buffer, bytes are written as they come.
  void ReserveBuffer() {
    try {
      buffer_.reserve(kBufferSize);
    } catch (const std::bad_alloc&) {
    }
  }

  Status Flush() {
    if (!status_.IsOk()) return status_;
    int err = WriteAll(rawFd_, reinterpret_cast<const std::byte*>(buffer_.data()), buffer_.size());
    buffer_.clear();
    return err == 0 ? Status::Ok() : Fail(OsError(target(), Tr("cannot write"), err));
  }

  Status Fail(Status status) {
    status_ = std::move(status);
    return status_;
  }

  // Makes the rename durable; the new contents already are.
  void SyncFolder() {
    path folder = target().parent_path();
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
  }

  path temp_;
  Fd fd_;
  int rawFd_;
  int slot_ = -1;
  std::string buffer_;
  Status status_;
  bool published_ = false;
};

class PosixWorkingFile final : public WorkingFile {
 public:
  PosixWorkingFile(std::filesystem::path p, Fd fd)
      : WorkingFile(std::move(p)), fd_(std::move(fd)) {}
  ~PosixWorkingFile() override {
    if (view_ != nullptr) ::munmap(view_, mapped_);
  }

  Status Map(uint32_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
    if (p == MAP_FAILED) return OsError(path(), Tr("cannot map"), errno);
    view_ = static_cast<std::byte*>(p);
    size_ = mapped_ = size;
    return Status::Ok();
  }

  // The old mapping stays in place until the new one exists.
  Status Resize(uint32_t newSize) override {
    if (newSize == 0)
      return Status::InvalidArgument(Where(path()), Tr("a working file cannot be empty"));
    if (newSize == size_) return Status::Ok();
    if (newSize < size_) {
      if (::ftruncate(fd_.get(), newSize) != 0) return OsError(path(), Tr("cannot shrink"), errno);
      // Shrinking a mapping in place cannot fail in practice; if it does, the
      // larger mapping is still valid for the bytes that remain.
      void* p = ::mremap(view_, mapped_, newSize, 0);
      if (p != MAP_FAILED) mapped_ = newSize;
      size_ = newSize;
      return Status::Ok();
    }
    int err = Reserve(fd_.get(), size_, newSize - size_);
    if (err != 0) {
      (void)!::ftruncate(fd_.get(), size_);
      return OsError(path(), Tr("cannot grow to {1} bytes", newSize), err);
    }
    void* p = ::mremap(view_, mapped_, newSize, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) {
      err = errno;
      (void)!::ftruncate(fd_.get(), size_);
      return OsError(path(), Tr("cannot map {1} bytes", newSize), err);
    }
    view_ = static_cast<std::byte*>(p);
    size_ = mapped_ = newSize;
    return Status::Ok();
  }

  Status Sync() override {
    if (::msync(view_, size_, MS_SYNC) != 0) return OsError(path(), Tr("cannot write"), errno);
    return Status::Ok();
  }

 private:
  Fd fd_;
  size_t mapped_ = 0;
};

// ---- The file system -------------------------------------------------------

class PosixFileSystem final : public FileSystem {
 public:
  Result<PathInfo> Query(const path& p) override {
    PathInfo info;
    if (p == "-") {
      info.kind = PathKind::kStream;
      return info;
    }
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return info;
      return OsError(p, Tr("cannot query"), errno);
    }
    if (S_ISLNK(st.st_mode)) {
      info.isLink = true;
      if (::stat(p.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return info;
        return OsError(p, Tr("cannot query"), errno);
      }
    }
    info.mode = st.st_mode & 07777;
    if (S_ISREG(st.st_mode)) {
      info.kind = PathKind::kRegular;
      info.size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
      info.kind = PathKind::kFolder;
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
      info.kind = PathKind::kStream;
    } else {
      info.kind = PathKind::kOther;
    }
    info.writable = ::faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) == 0;
    return info;
  }

  Result<std::unique_ptr<InputFile>> OpenInput(const path& p) override {
    try {
      if (p == "-") return std::unique_ptr<InputFile>(std::make_unique<PosixInput>());
      Fd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
      if (fd.get() < 0) return OsError(p, Tr("cannot open"), errno);
      struct stat st;
      if (::fstat(fd.get(), &st) != 0) return OsError(p, Tr("cannot open"), errno);
      bool stream = S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
      if (!stream && !S_ISREG(st.st_mode)) return NotRegular(p, st.st_mode);
      uint64_t size = stream ? 0 : static_cast<uint64_t>(st.st_size);
      return std::unique_ptr<InputFile>(
          std::make_unique<PosixInput>(p, std::move(fd), stream, size));
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(p));
    }
  }

  Result<std::unique_ptr<OutputFile>> ReplaceFile(const path& requested) override {
    try {
      if (requested == "-") return std::unique_ptr<OutputFile>(std::make_unique<PosixOutput>());
      // A pipe or terminal the process holds is written as standard output
      // is; a regular file behind the descriptor is replaced as any file.
      if (const int own = OwnDescriptor(requested); own >= 0) {
        struct stat st;
        if (::fstat(own, &st) != 0) {
          return OsError(requested,
                         "names descriptor " + std::to_string(own) + ", which is not open", errno);
        }
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
          return std::unique_ptr<OutputFile>(std::make_unique<PosixOutput>(requested, own));
        }
      }
      if (!requested.has_filename()) {
        return Status::InvalidArgument(Where(requested), Tr("no file name given"));
      }
      Result<path> resolved = ResolveLinks(requested);
      if (!resolved.IsOk()) return resolved.status();
      const path& target = resolved.value();
      struct stat st;
      bool exists = ::stat(target.c_str(), &st) == 0;
      if (!exists && errno != ENOENT) return OsError(requested, Tr("cannot query"), errno);
      if (exists) {
        if (!S_ISREG(st.st_mode)) return NotRegular(requested, st.st_mode);
        // No write bit at all is the owner's "keep this", which even root respects.
        if ((st.st_mode & 0222) == 0) return Status::IoError(Where(requested), Tr("is read-only"));
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
          return OsError(requested, Tr("cannot be written"), errno);
        }
      }
      const path folder = target.parent_path();
      const std::string name = target.filename().string();
      RemoveStaleTemps(folder.empty() ? path(".") : folder, name);
      path temp;
      int slot = -1;
      // A new file gets the mode any new file gets. A replacement starts
      // private and takes the old mode only once it is the old owner's, so
      // nobody the old mode kept out can open it in between.
      Result<Fd> fd = CreateTemp(requested, folder, name, exists ? 0600 : 0666, temp, slot);
      if (!fd.IsOk()) return fd.status();
      const int raw = fd.value().get();
      auto out = std::make_unique<PosixOutput>(target, temp, std::move(fd).value(), slot);
      if (exists) {
        // Where the process may not give the file away, the group alone may
        // still be kept (a member of it); otherwise it stays ours.
        if (::fchown(raw, st.st_uid, st.st_gid) != 0 && errno == EPERM) {
          (void)!::fchown(raw, static_cast<uid_t>(-1), st.st_gid);
        }
        if (::fchmod(raw, st.st_mode & 07777) != 0 && errno != EPERM) {
          return OsError(requested, Tr("cannot set the mode"), errno);
        }
      }
      return std::unique_ptr<OutputFile>(std::move(out));
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(requested));
    }
  }

  Result<std::unique_ptr<WorkingFile>> CreateWorkingFile(
      const path& p, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) override {
    Result<uint64_t> filling = WorkingPiecesSize(p, pieces, size);
    if (!filling.IsOk()) return filling.status();
    const uint64_t filled = filling.value();
    try {
      // Not truncated first: cutting a large file to nothing costs as much as
      // writing it again, so new contents go over the old blocks and only
      // what lies beyond them is cut off.
      Fd fd(::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (fd.get() < 0 && errno == EISDIR) return Status::IoError(Where(p), Tr("is a folder"));
      if (fd.get() < 0 && errno == ELOOP) {
        return Status::IoError(Where(p), Tr("is a symbolic link; refusing to use it"));
      }
      if (fd.get() < 0) return OsError(p, Tr("cannot create"), errno);
      struct stat st;
      if (::fstat(fd.get(), &st) != 0) return OsError(p, Tr("cannot create"), errno);
      if (!S_ISREG(st.st_mode)) return NotRegular(p, st.st_mode);
      for (const auto& piece : pieces) {
        int err = WriteAll(fd.get(), piece.data(), piece.size());
        if (err != 0) return OsError(p, Tr("cannot write"), err);
      }
      if (::ftruncate(fd.get(), static_cast<off_t>(filled)) != 0) {
        return OsError(p, Tr("cannot write"), errno);
      }
      if (filled < size) {
        int err = Reserve(fd.get(), static_cast<off_t>(filled), static_cast<off_t>(size - filled));
        if (err != 0) return OsError(p, Tr("cannot grow to {1} bytes", size), err);
      }
      auto file = std::make_unique<PosixWorkingFile>(p, std::move(fd));
      Status mapped = file->Map(size);
      if (!mapped.IsOk()) return mapped;
      return std::unique_ptr<WorkingFile>(std::move(file));
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(p));
    }
  }

  Result<path> Resolve(const path& p) override {
    try {
      return ResolveAll(p);
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(p));
    }
  }

  Status Remove(const path& p) override {
    if (::unlink(p.c_str()) == 0 || errno == ENOENT) return Status::Ok();
    if (errno == EISDIR) return Status::IoError(Where(p), Tr("is a folder"));
    return OsError(p, Tr("cannot remove"), errno);
  }

  Status CreateFolders(const path& p) override {
    try {
      path partial;
      for (const path& part : p) {
        if (part.empty()) continue;
        partial /= part;
        if (::mkdir(partial.c_str(), 0777) == 0) continue;
        int err = errno;
        struct stat st;
        if (err == EEXIST && ::stat(partial.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        return OsError(partial, Tr("cannot create folder"), err == EEXIST ? ENOTDIR : err);
      }
      return Status::Ok();
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(p));
    }
  }

  Result<std::vector<path>> ListFolder(const path& folder) override {
    try {
      std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
      if (!dir) return OsError(folder, Tr("cannot list"), errno);
      std::vector<path> names;
      while (true) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr) {
          if (errno != 0) return OsError(folder, Tr("cannot list"), errno);
          break;
        }
        std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
      }
      std::sort(names.begin(), names.end());
      return names;
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(Where(folder));
    }
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPosixFileSystem() { return std::make_unique<PosixFileSystem>(); }

namespace {

// Anonymous pages without MAP_NORESERVE: the kernel accounts for them when
// they are mapped, so a request beyond memory fails here instead of killing
// the process when its pages are touched.
class MemoryWorkingFile final : public WorkingFile {
 public:
  explicit MemoryWorkingFile(std::filesystem::path label) : WorkingFile(std::move(label)) {}
  ~MemoryWorkingFile() override {
    if (view_ != nullptr) ::munmap(view_, size_);
  }

  // A large table is filled right away: huge pages spare it thousands of
  // page faults, and they need a 2 MiB-aligned start.
  Status Map(uint32_t size) {
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t extra = size >= kHuge ? kHuge : 0;
    void* p =
        ::mmap(nullptr, size + extra, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return Status::NoMemory(Where(path()));
    auto* start = static_cast<std::byte*>(p);
    if (extra != 0) {
      const size_t skip = (kHuge - reinterpret_cast<uintptr_t>(start) % kHuge) % kHuge;
      if (skip != 0) ::munmap(start, skip);
      if (extra - skip != 0) ::munmap(start + skip + size, extra - skip);
      start += skip;
      (void)::madvise(start, size, MADV_HUGEPAGE);
    }
    view_ = start;
    size_ = size;
    return Status::Ok();
  }

  Status Resize(uint32_t newSize) override {
    if (newSize == 0)
      return Status::InvalidArgument(Where(path()), Tr("a working file cannot be empty"));
    if (newSize == size_) return Status::Ok();
    void* p = ::mremap(view_, size_, newSize, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return Status::NoMemory(Where(path()));
    // Pages mremap keeps from an earlier, larger size must read as zero too.
    if (newSize > size_) {
      const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
      const size_t kept = std::min<size_t>(newSize, (size_ + page - 1) / page * page);
      std::memset(static_cast<std::byte*>(p) + size_, 0, kept - size_);
    }
    view_ = static_cast<std::byte*>(p);
    size_ = newSize;
    return Status::Ok();
  }

  Status Sync() override { return Status::Ok(); }
};

}  // namespace

Result<std::unique_ptr<WorkingFile>> NewMemoryWorkingFile(
    const std::filesystem::path& label, std::initializer_list<std::span<const std::byte>> pieces,
    uint32_t size) try {
  Result<uint64_t> filling = WorkingPiecesSize(label, pieces, size);
  if (!filling.IsOk()) return filling.status();
  auto file = std::make_unique<MemoryWorkingFile>(label);
  Status mapped = file->Map(size);
  if (!mapped.IsOk()) return mapped;
  std::byte* at = file->view();
  for (const auto& piece : pieces) {
    if (!piece.empty()) std::memcpy(at, piece.data(), piece.size());
    at += piece.size();
  }
  return std::unique_ptr<WorkingFile>(std::move(file));
} catch (const std::bad_alloc&) {
  return Status::NoMemory(label.string());
}

int TrackTempFile(const std::filesystem::path& file) {
  std::error_code ec;
  path absolute = std::filesystem::absolute(file, ec);
  if (ec || absolute.native().size() >= kTempPathBytes) return -1;
  return Claim(gTempSlots, [&](TempSlot& slot) {
    std::memcpy(slot.path, absolute.c_str(), absolute.native().size() + 1);
  });
}

void ForgetTempFile(int slot) {
  if (slot >= 0 && slot < kTempSlots) gTempSlots[slot].state.store(0);
}

int TrackChildGroup(pid_t group) {
  if (group <= 0) return -1;
  return Claim(gChildSlots, [&](ChildSlot& slot) { slot.group = group; });
}

void ForgetChildGroup(int slot) {
  if (slot >= 0 && slot < kChildSlots) gChildSlots[slot].state.store(0);
}

void CleanupSignals(sigset_t& set) {
  sigemptyset(&set);
  for (int sig : kCleanupSignals) sigaddset(&set, sig);
}

CleanupSignalBlock::CleanupSignalBlock() {
  sigset_t set;
  CleanupSignals(set);
  ::pthread_sigmask(SIG_BLOCK, &set, &old_);
}

CleanupSignalBlock::~CleanupSignalBlock() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace mirel
