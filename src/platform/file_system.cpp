#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/large_buffer.h"
#include "platform/memory.h"
#include "platform/messages.h"

namespace mirel {
namespace {

constexpr size_t kChunk = size_t{1} << 20;

}  // namespace

uint64_t FileSystem::MemoryLimit() { return AvailableMemory(); }

ReadLimit FileSystem::InputLimit(uint64_t limit) {
  // Half: what is read is decoded and stored again before it is let go.
  const uint64_t memory = MemoryLimit() / 2;
  if (memory < limit) return {memory, ReadLimit::By::kMemory};
  return {limit, limit == kDefaultReadLimit ? ReadLimit::By::kFormat : ReadLimit::By::kCaller};
}

Status FileSystem::TooLarge(const std::filesystem::path& path, const ReadLimit& limit) {
  switch (limit.by) {
    case ReadLimit::By::kMemory:
      return Status::IoError(path.string(), Tr("too large: more than {1} MiB, half the memory this "
                                               "machine has free",
                                               limit.bytes >> 20));
    case ReadLimit::By::kFormat:
      return Status::IoError(path.string(),
                             Tr("too large: more than 4 GiB, the most a table holds"));
    case ReadLimit::By::kCaller:
      break;
  }
  return Status::IoError(path.string(), Tr("too large (more than {1} bytes)", limit.bytes));
}

Result<bool> SamePath(FileSystem& fs, const std::filesystem::path& a,
                      const std::filesystem::path& b) {
  if (a == "-" || b == "-" || a.empty() || b.empty()) return false;
  Result<std::filesystem::path> first = fs.Resolve(a);
  if (!first.IsOk()) return first.status();
  Result<std::filesystem::path> second = fs.Resolve(b);
  if (!second.IsOk()) return second.status();
  return first.value() == second.value();
}

Status RefuseOutputOverInput(FileSystem& fs, const std::filesystem::path& output,
                             std::initializer_list<std::filesystem::path> inputs,
                             std::string_view remedy) {
  for (const std::filesystem::path& input : inputs) {
    Result<bool> same = SamePath(fs, output, input);
    if (!same.IsOk()) return same.status();
    if (same.value()) {
      return Status::InvalidArgument(
          output.string(), Tr("the default output is the input {1}; {2}", input.string(), remedy));
    }
  }
  return Status::Ok();
}

namespace {

// The causes a user meets most, in glibc's words, so that they are translated
// with the rest even where the C library's own catalogue is not installed.
std::string CauseOf(int err) {
  switch (err) {
    case ENOENT:
      return Tr("No such file or directory");
    case EACCES:
      return Tr("Permission denied");
    case EPERM:
      return Tr("Operation not permitted");
    case ENOSPC:
      return Tr("No space left on device");
    case EDQUOT:
      return Tr("Disk quota exceeded");
    case EISDIR:
      return Tr("Is a directory");
    case ENOTDIR:
      return Tr("Not a directory");
    case EROFS:
      return Tr("Read-only file system");
    case EEXIST:
      return Tr("File exists");
    case EFBIG:
      return Tr("File too large");
    case ELOOP:
      return Tr("Too many levels of symbolic links");
    case ENAMETOOLONG:
      return Tr("File name too long");
    case EIO:
      return Tr("Input/output error");
    default:
      return std::strerror(err);
  }
}

}  // namespace

Status OsError(const std::filesystem::path& path, const std::string& what, int err) {
  if (err == ENOMEM) return Status::NoMemory(path.string() + ": " + what);
  return Status::IoError(path.string(), Tr("{1}: {2}", what, CauseOf(err)));
}

Result<uint64_t> WorkingPiecesSize(const std::filesystem::path& path,
                                   std::initializer_list<std::span<const std::byte>> pieces,
                                   uint32_t size) {
  uint64_t filled = 0;
  for (const auto& piece : pieces) filled += piece.size();
  if (size == 0)
    return Status::InvalidArgument(path.string(), Tr("a working file cannot be empty"));
  if (filled > size)
    return Status::InvalidArgument(path.string(), Tr("contents larger than the file"));
  return filled;
}

Status OutputFile::Commit() {
  Status synced = Sync();
  if (!synced.IsOk()) return synced;
  return Publish();
}

Result<std::string> FileSystem::ReadHead(const std::filesystem::path& path, size_t size) {
  Result<std::unique_ptr<InputFile>> in = OpenInput(path);
  if (!in.IsOk()) return in.status();
  std::string head(size, '\0');
  size_t filled = 0;
  while (filled < head.size()) {
    Result<size_t> got = in.value()->Read(
        std::as_writable_bytes(std::span(head.data() + filled, head.size() - filled)));
    if (!got.IsOk()) return got.status();
    if (got.value() == 0) break;
    filled += got.value();
  }
  head.resize(filled);
  return head;
}

Result<std::string> FileSystem::ReadWhole(const std::filesystem::path& path, uint64_t requested) {
  Result<std::unique_ptr<InputFile>> opened = OpenInput(path);
  if (!opened.IsOk()) return opened.status();
  InputFile& in = *opened.value();
  const ReadLimit bound = InputLimit(requested);
  const uint64_t limit = bound.bytes;
  if (in.SizeHint() > limit) return TooLarge(path, bound);
  // Reading one byte more than the limit tells an overlong source from one
  // that ends exactly there.
  const uint64_t cap = limit < (SIZE_MAX >> 1) ? limit + 1 : (SIZE_MAX >> 1);
  try {
    // What the size promised goes into one buffer; anything beyond it (a
    // stream, a file still growing) into blocks joined at the end, so that
    // growing never copies and a refusal never held more than the bound.
    const auto promised = static_cast<size_t>(std::min<uint64_t>(in.SizeHint() + 1, cap));
    std::string out;
    out.reserve(promised);
    AdviseHugePages(out.data(), out.capacity());
    out.resize(promised);
    size_t filled = 0;
    std::vector<std::string> blocks;
    uint64_t total = 0;
    while (true) {
      std::string* into = &out;
      if (filled == out.size()) {
        if (blocks.empty() || blocks.back().size() == blocks.back().capacity()) {
          if (total >= cap) return TooLarge(path, bound);
          const uint64_t room =
              std::min<uint64_t>(std::max<uint64_t>(total / 8, kChunk), cap - total);
          blocks.emplace_back().reserve(static_cast<size_t>(room));
        }
        into = &blocks.back();
      }
      const size_t at = into == &out ? filled : into->size();
      const size_t room = into == &out ? out.size() - filled : into->capacity() - at;
      if (into != &out) into->resize(at + room);
      Result<size_t> got = in.Read(std::as_writable_bytes(std::span(into->data() + at, room)));
      if (into != &out) into->resize(at + (got.IsOk() ? got.value() : 0));
      if (!got.IsOk()) return got.status();
      if (got.value() == 0) break;
      if (into == &out) filled += got.value();
      total += got.value();
    }
    if (total > limit) return TooLarge(path, bound);
    out.resize(filled);
    if (!blocks.empty()) {
      out.reserve(static_cast<size_t>(total));
      for (std::string& block : blocks) {
        out += block;
        std::string().swap(block);
      }
    }
    return out;
  } catch (const std::bad_alloc&) {
    return Status::NoMemory(path.string());
  } catch (const std::length_error&) {
    return Status::NoMemory(path.string());
  }
}

Status FileSystem::WriteWhole(const std::filesystem::path& target,
                              std::span<const std::byte> bytes) {
  Result<std::unique_ptr<OutputFile>> out = ReplaceFile(target);
  if (!out.IsOk()) return out.status();
  Status appended = out.value()->Append(bytes);
  if (!appended.IsOk()) return appended;
  return out.value()->Commit();
}

Status FileSystem::CopyFile(const std::filesystem::path& source,
                            const std::filesystem::path& target) {
  Result<std::unique_ptr<InputFile>> in = OpenInput(source);
  if (!in.IsOk()) return in.status();
  Result<std::unique_ptr<OutputFile>> out = ReplaceFile(target);
  if (!out.IsOk()) return out.status();
  std::unique_ptr<std::byte[]> buffer(new (std::nothrow) std::byte[kChunk]);
  if (!buffer) return Status::NoMemory(source.string());
  uint64_t copied = 0;
  while (true) {
    Result<size_t> got = in.value()->Read(std::span(buffer.get(), kChunk));
    if (!got.IsOk()) return got.status();
    if (got.value() == 0) break;
    copied += got.value();
    if (copied > kDefaultReadLimit) {
      return TooLarge(source, {kDefaultReadLimit, ReadLimit::By::kFormat});
    }
    Status appended = out.value()->Append(std::span(buffer.get(), got.value()));
    if (!appended.IsOk()) return appended;
  }
  return out.value()->Commit();
}

}  // namespace mirel
