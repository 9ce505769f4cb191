// FileSystem: the one way the program reaches files. Engines and the store
// receive a FileSystem& and never call the OS themselves, so tests run every
// reader and writer against an in-memory file system, or against a faulty
// one that fails a chosen read, write, sync, rename or growth.
//
// Every call returns a Status whose message names the path and the OS's
// reason ("No space left on device"), never a guess. Paths are bytes: a
// name that is not UTF-8 reaches the OS exactly as given.
//
// The path "-" names standard input for OpenInput and standard output for
// ReplaceFile (a stream: nothing is replaced, Commit flushes). ReplaceFile
// writes /dev/stdout, /dev/fd/N and the like the same way when the
// descriptor they name is a pipe, terminal or socket.
//
// Objects handed out own their descriptors and mappings and must not outlive
// the FileSystem. Not thread-safe: one thread uses a FileSystem and its
// files at a time.
//
// Process-wide state, the only one: the POSIX file system keeps the paths of
// its live temporary files (and the process runner its children) in fixed
// tables that a handler for the catchable termination signals (INT, TERM,
// HUP, QUIT, ALRM, USR1, USR2, PIPE) reads to remove them, and end the
// children, before the process dies. The handler is installed on first use,
// and only for signals still at their default action. Temporary files that a crash or kill -9 left
// behind are removed by the next replacement of the same target once their process is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"

namespace mirel {

enum class PathKind {
  kMissing,  // nothing there (a dangling link counts as missing, isLink set)
  kRegular,
  kFolder,
  kStream,  // a FIFO, socket or character device: read to its end, never replaced
  kOther,   // a block device or anything else
};

// How much of one input may be read, and what sets that bound.
struct ReadLimit {
  enum class By { kCaller, kFormat, kMemory };
  uint64_t bytes = 0;
  By by = By::kCaller;
};

struct PathInfo {
  PathKind kind = PathKind::kMissing;
  uint64_t size = 0;      // regular files only
  uint32_t mode = 0;      // permission bits
  bool isLink = false;    // the path itself is a symbolic link
  bool writable = false;  // the running user may write it (effective access); false if missing
};

// A file read front to back. A regular file is read through its descriptor
// (never a shared mapping another process could shrink); a stream is read to
// its end.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to out.size() bytes; 0 means the end. May return fewer bytes
  // than asked for before the end. A regular file that another writer cut
  // short since it was opened fails ("shrank while it was read") rather
  // than end early.
  virtual Result<size_t> Read(std::span<std::byte> out) = 0;
  // Starts again from the first byte; fails for streams.
  virtual Status Rewind() = 0;
  // The size when the file was opened (0 for a stream; a hint only).
  virtual uint64_t SizeHint() const = 0;
  virtual bool IsStream() const = 0;
  const std::filesystem::path& path() const { return path_; }

 protected:
  explicit InputFile(std::filesystem::path path) : path_(std::move(path)) {}

 private:
  std::filesystem::path path_;
};

// A file that replaces its target entirely or not at all: bytes go to a
// temporary file beside the target, Sync makes them durable, Publish renames
// it over the target. Dropped before Publish succeeds, it removes its
// temporary file and the target keeps its bytes. After any failure further
// calls fail with the same status.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual Status Append(std::span<const std::byte> bytes) = 0;
  virtual Status Sync() = 0;
  virtual Status Publish() = 0;
  Status Append(const void* data, size_t size) {
    return Append(std::span<const std::byte>(static_cast<const std::byte*>(data), size));
  }
  // Sync, then Publish.
  Status Commit();
  // The file the bytes will end up in (a link is resolved to what it names).
  const std::filesystem::path& target() const { return target_; }

 protected:
  explicit OutputFile(std::filesystem::path target) : target_(std::move(target)) {}

 private:
  std::filesystem::path target_;
};

// A working file of the program's own, in its private temporary folder,
// mapped read/write; files of 4 GiB and more are refused. Resize keeps the
// old view and contents when it fails: nothing changes.
class WorkingFile {
 public:
  virtual ~WorkingFile() = default;
  std::byte* view() { return view_; }
  const std::byte* view() const { return view_; }
  uint32_t size() const { return size_; }
  // Grows or shrinks the file; new bytes read as zero; the view moves.
  virtual Status Resize(uint32_t newSize) = 0;
  // Makes the contents durable.
  virtual Status Sync() = 0;
  const std::filesystem::path& path() const { return path_; }

 protected:
  explicit WorkingFile(std::filesystem::path path) : path_(std::move(path)) {}
  std::byte* view_ = nullptr;
  uint32_t size_ = 0;

 private:
  std::filesystem::path path_;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // What is at `path`, following a link (isLink tells it was one). A
  // missing path is not an error.
  virtual Result<PathInfo> Query(const std::filesystem::path& path) = 0;

  // Opens a regular file or a stream for reading; a folder is refused.
  virtual Result<std::unique_ptr<InputFile>> OpenInput(const std::filesystem::path& path) = 0;

  // Starts replacing `target`. Refused before anything is written when the
  // target is a folder, a stream or device, or a file the running user may
  // not write, or its folder cannot take a new file. A link, dangling or
  // not, is written through to the path it names. The replacement keeps the
  // old file's mode, and its owner and group where the process may set them.
  virtual Result<std::unique_ptr<OutputFile>> ReplaceFile(const std::filesystem::path& target) = 0;

  // Creates (or truncates) a working file holding `pieces` one after the
  // other, zero bytes up to `size` (at least the pieces' total, not 0).
  virtual Result<std::unique_ptr<WorkingFile>> CreateWorkingFile(
      const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) = 0;

  // Removes a file (not a folder); a missing file is not an error.
  virtual Status Remove(const std::filesystem::path& path) = 0;
  // Creates a folder and its parents, as the running user's own.
  virtual Status CreateFolders(const std::filesystem::path& path) = 0;
  // The names in a folder, sorted; "." and ".." left out.
  virtual Result<std::vector<std::filesystem::path>> ListFolder(
      const std::filesystem::path& folder) = 0;

  // The path with every link followed and every "." and ".." resolved, made
  // absolute. Of a path that does not exist yet, the deepest existing folder
  // is resolved and the rest appended, so a file about to be written is
  // named by where it will land.
  virtual Result<std::filesystem::path> Resolve(const std::filesystem::path& path) = 0;

  // Bytes of memory the process may still take (AvailableMemory on the real
  // file system); tests lower it.
  virtual uint64_t MemoryLimit();
  // The bound on one input: `limit`, or the memory there is when that is
  // lower.
  ReadLimit InputLimit(uint64_t limit = kDefaultReadLimit);
  // "too large: more than N MiB, the memory this machine has" and the like.
  static Status TooLarge(const std::filesystem::path& path, const ReadLimit& limit);

  // Reads a whole file or stream into memory. A regular file larger than the
  // bound (InputLimit(limit)) is refused before it is read; a stream, or a
  // file that grows while it is read, is cut off as soon as it passes it.
  Result<std::string> ReadWhole(const std::filesystem::path& path,
                                uint64_t limit = kDefaultReadLimit);
  // The first `size` bytes of a file (all of a shorter one), for telling
  // what it holds. A pipe gives these bytes to this read alone.
  Result<std::string> ReadHead(const std::filesystem::path& path, size_t size);
  // Replaces `target` with `bytes`, atomically.
  Status WriteWhole(const std::filesystem::path& target, std::span<const std::byte> bytes);
  // Replaces `target` with a copy of `source`, atomically.
  Status CopyFile(const std::filesystem::path& source, const std::filesystem::path& target);

  // 4 GiB: the store's working files cannot hold more.
  static constexpr uint64_t kDefaultReadLimit = uint64_t{4} << 30;
};

// The real file system of this machine.
std::unique_ptr<FileSystem> NewPosixFileSystem();

// A working file in the process's own memory, never on disk: for a run that
// must leave nothing in the temporary folder. `label` only names it in
// messages. Memory that cannot be had is "out of memory", never a kill.
Result<std::unique_ptr<WorkingFile>> NewMemoryWorkingFile(
    const std::filesystem::path& label, std::initializer_list<std::span<const std::byte>> pieces,
    uint32_t size);

// Passes every call on to another file system, so that a test overrides only
// the calls it wants to disturb.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& base) : base_(base) {}
  Result<PathInfo> Query(const std::filesystem::path& path) override { return base_.Query(path); }
  Result<std::unique_ptr<InputFile>> OpenInput(const std::filesystem::path& path) override {
    return base_.OpenInput(path);
  }
  Result<std::unique_ptr<OutputFile>> ReplaceFile(const std::filesystem::path& target) override {
    return base_.ReplaceFile(target);
  }
  Result<std::unique_ptr<WorkingFile>> CreateWorkingFile(
      const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) override {
    return base_.CreateWorkingFile(path, pieces, size);
  }
  Status Remove(const std::filesystem::path& path) override { return base_.Remove(path); }
  Result<std::filesystem::path> Resolve(const std::filesystem::path& path) override {
    return base_.Resolve(path);
  }
  uint64_t MemoryLimit() override { return base_.MemoryLimit(); }
  Status CreateFolders(const std::filesystem::path& path) override {
    return base_.CreateFolders(path);
  }
  Result<std::vector<std::filesystem::path>> ListFolder(
      const std::filesystem::path& folder) override {
    return base_.ListFolder(folder);
  }

 protected:
  FileSystem& base_;
};

// Whether two paths name the same file once resolved (a link and what it
// names, "./x" and "x"); "-" is no file and matches nothing.
Result<bool> SamePath(FileSystem& fs, const std::filesystem::path& a,
                      const std::filesystem::path& b);

// Refuses an output chosen by default that is one of `inputs` (by SamePath),
// naming both: a result written over its own source loses the source.
// `remedy` tells the user how to choose another output.
Status RefuseOutputOverInput(FileSystem& fs, const std::filesystem::path& output,
                             std::initializer_list<std::filesystem::path> inputs,
                             std::string_view remedy = "give -o OUT to write elsewhere");

// "path: what: reason" for an errno value.
Status OsError(const std::filesystem::path& path, const std::string& what, int err);

// For implementations of CreateWorkingFile: the pieces' total size; refuses
// an empty file and contents larger than the file.
Result<uint64_t> WorkingPiecesSize(const std::filesystem::path& path,
                                   std::initializer_list<std::span<const std::byte>> pieces,
                                   uint32_t size);

}  // namespace mirel
