// A file system held in a map from normalised absolute paths to nodes.
// Relative paths count from "/". Reading a file takes a snapshot; a working
// file shares its bytes with the node, so reading its path shows them. Only
// a working file's growth, which a test may push past memory, catches bad_alloc.
#include "support/memory_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>

#include "platform/messages.h"

namespace mirel {
namespace {

using std::filesystem::path;

struct Node {
  bool folder = false;
  std::shared_ptr<std::string> data;  // regular files only
  uint32_t mode = 0644;
};

class MemoryInput final : public InputFile {
 public:
  MemoryInput(std::filesystem::path p, std::shared_ptr<const std::string> data, bool stream)
      : InputFile(std::move(p)), data_(std::move(data)), stream_(stream) {}

  Result<size_t> Read(std::span<std::byte> out) override {
    size_t left = data_->size() > offset_ ? data_->size() - offset_ : 0;
    size_t n = std::min(left, out.size());
    std::memcpy(out.data(), data_->data() + offset_, n);
    offset_ += n;
    return n;
  }
  Status Rewind() override {
    if (stream_) return Status::Unsupported(path().string(), Tr("cannot read a stream twice"));
    offset_ = 0;
    return Status::Ok();
  }
  uint64_t SizeHint() const override { return stream_ ? 0 : data_->size(); }
  bool IsStream() const override { return stream_; }

 private:
  std::shared_ptr<const std::string> data_;
  bool stream_;
  size_t offset_ = 0;
};

class MemoryWorkingFile final : public WorkingFile {
 public:
  MemoryWorkingFile(std::filesystem::path p, std::shared_ptr<std::string> data)
      : WorkingFile(std::move(p)), data_(std::move(data)) {
    Show();
  }

  // The new buffer is made before the old one goes, so a failure changes nothing.
  Status Resize(uint32_t newSize) override {
    if (newSize == 0)
      return Status::InvalidArgument(path().string(), Tr("a working file cannot be empty"));
    try {
      std::string resized(newSize, '\0');
      std::memcpy(resized.data(), data_->data(), std::min<size_t>(newSize, data_->size()));
      data_->swap(resized);
    } catch (const std::bad_alloc&) {
      return Status::NoMemory(path().string());
    }
    Show();
    return Status::Ok();
  }
  Status Sync() override { return Status::Ok(); }

 private:
  void Show() {
    view_ = reinterpret_cast<std::byte*>(data_->data());
    size_ = static_cast<uint32_t>(data_->size());
  }
  std::shared_ptr<std::string> data_;
};

class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem(const std::string* standardInput, std::string* standardOutput)
      : stdin_(standardInput), stdout_(standardOutput) {
    nodes_["/"].folder = true;
  }

  Result<PathInfo> Query(const path& p) override {
    PathInfo info;
    if (p == "-") {
      info.kind = PathKind::kStream;
      return info;
    }
    const Node* node = Find(Key(p));
    if (node == nullptr) return info;
    info.kind = node->folder ? PathKind::kFolder : PathKind::kRegular;
    info.size = node->folder ? 0 : node->data->size();
    info.mode = node->mode;
    info.writable = (node->mode & 0200) != 0;
    return info;
  }

  Result<std::unique_ptr<InputFile>> OpenInput(const path& p) override {
    if (p == "-") {
      if (stdin_ == nullptr) return Status::Unsupported("-", Tr("no standard input here"));
      return std::unique_ptr<InputFile>(
          std::make_unique<MemoryInput>(p, std::make_shared<std::string>(*stdin_), true));
    }
    const Node* node = Find(Key(p));
    if (node == nullptr) return OsError(p, Tr("cannot open"), ENOENT);
    if (node->folder) return Status::IoError(p.string(), Tr("is a folder"));
    // A snapshot: a replacement published meanwhile does not show.
    return std::unique_ptr<InputFile>(
        std::make_unique<MemoryInput>(p, std::make_shared<const std::string>(*node->data), false));
  }

  Result<std::unique_ptr<OutputFile>> ReplaceFile(const path& target) override;

  Result<std::unique_ptr<WorkingFile>> CreateWorkingFile(
      const path& p, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) override {
    if (Result<uint64_t> filled = WorkingPiecesSize(p, pieces, size); !filled.IsOk()) {
      return filled.status();
    }
    std::string key = Key(p);
    if (Status room = CheckRoomFor(p, key); !room.IsOk()) return room;
    auto data = std::make_shared<std::string>(size, '\0');
    size_t at = 0;
    for (const auto& piece : pieces) {
      std::memcpy(data->data() + at, piece.data(), piece.size());
      at += piece.size();
    }
    nodes_[key] = Node{false, data, 0600};
    return std::unique_ptr<WorkingFile>(std::make_unique<MemoryWorkingFile>(p, data));
  }

  Status Remove(const path& p) override {
    auto it = nodes_.find(Key(p));
    if (it == nodes_.end()) return Status::Ok();
    if (it->second.folder) return Status::IoError(p.string(), Tr("is a folder"));
    nodes_.erase(it);
    return Status::Ok();
  }

  Status CreateFolders(const path& p) override {
    path partial("/");
    for (const path& part : path(Key(p)).relative_path()) {
      partial /= part;
      Node& node = nodes_[partial.string()];
      if (!node.folder && node.data) return OsError(partial, Tr("cannot create folder"), ENOTDIR);
      if (!node.folder) node = Node{true, nullptr, 0755};
    }
    return Status::Ok();
  }

  // No links here: resolving is normalising.
  Result<path> Resolve(const path& p) override { return path(Key(p)); }

  Result<std::vector<path>> ListFolder(const path& folder) override {
    std::string key = Key(folder);
    const Node* node = Find(key);
    if (node == nullptr) return OsError(folder, Tr("cannot list"), ENOENT);
    if (!node->folder) return OsError(folder, Tr("cannot list"), ENOTDIR);
    std::string prefix = key == "/" ? key : key + "/";
    std::vector<path> names;
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
      if (!it->first.starts_with(prefix)) break;
      std::string_view name = std::string_view(it->first).substr(prefix.size());
      if (!name.empty() && name.find('/') == std::string_view::npos) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Puts `bytes` in place of the file at `key`, keeping its mode.
  Status Install(const path& target, const std::string& key, std::string bytes) {
    if (Status room = CheckRoomFor(target, key); !room.IsOk()) return room;
    nodes_[key].data = std::make_shared<std::string>(std::move(bytes));
    return Status::Ok();
  }

  std::string* standardOutput() { return stdout_; }

 private:
  static std::string Key(const path& p) {
    std::string key = (path("/") / p).lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
  }

  const Node* Find(const std::string& key) const {
    auto it = nodes_.find(key);
    return it == nodes_.end() ? nullptr : &it->second;
  }

  // A file may go at `key`: its folder exists and it is not a folder itself.
  Status CheckRoomFor(const path& p, const std::string& key) const {
    std::string parent = path(key).parent_path().string();
    const Node* folder = Find(parent);
    if (folder == nullptr || !folder->folder) {
      return OsError(p, Tr("cannot create a file in {1}", parent), folder ? ENOTDIR : ENOENT);
    }
    const Node* node = Find(key);
    if (node != nullptr && node->folder) return Status::IoError(p.string(), Tr("is a folder"));
    return Status::Ok();
  }

  std::map<std::string, Node> nodes_;
  const std::string* stdin_;
  std::string* stdout_;
};

class MemoryOutput final : public OutputFile {
 public:
  MemoryOutput(MemoryFileSystem& fs, path target, std::string key)
      : OutputFile(std::move(target)), fs_(fs), key_(std::move(key)) {}

  Status Append(std::span<const std::byte> bytes) override {
    if (!status_.IsOk()) return status_;
    if (published_) return Status::InvalidArgument(target().string(), Tr("already written"));
    bytes_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return Status::Ok();
  }
  Status Sync() override {
    if (!status_.IsOk()) return status_;
    return key_.empty() ? FlushToStandardOutput() : Status::Ok();
  }
  Status Publish() override {
    if (!status_.IsOk() || published_) return status_;
    status_ =
        key_.empty() ? FlushToStandardOutput() : fs_.Install(target(), key_, std::move(bytes_));
    published_ = status_.IsOk();
    return status_;
  }

 private:
  Status FlushToStandardOutput() {
    fs_.standardOutput()->append(bytes_);
    bytes_.clear();
    return Status::Ok();
  }

  MemoryFileSystem& fs_;
  std::string key_;  // empty for standard output
  std::string bytes_;
  Status status_;
  bool published_ = false;
};

Result<std::unique_ptr<OutputFile>> MemoryFileSystem::ReplaceFile(const path& target) {
  if (target == "-") {
    if (stdout_ == nullptr) return Status::Unsupported("-", Tr("no standard output here"));
    return std::unique_ptr<OutputFile>(std::make_unique<MemoryOutput>(*this, target, ""));
  }
  if (!target.has_filename())
    return Status::InvalidArgument(target.string(), Tr("no file name given"));
  std::string key = Key(target);
  if (Status room = CheckRoomFor(target, key); !room.IsOk()) return room;
  const Node* node = Find(key);
  if (node != nullptr && (node->mode & 0222) == 0) {
    return Status::IoError(target.string(), Tr("is read-only"));
  }
  return std::unique_ptr<OutputFile>(std::make_unique<MemoryOutput>(*this, target, key));
}

}  // namespace

namespace test {

std::unique_ptr<FileSystem> NewMemoryFileSystem() {
  return std::make_unique<MemoryFileSystem>(nullptr, nullptr);
}

std::unique_ptr<FileSystem> NewMemoryFileSystem(const std::string& standardInput,
                                                std::string& standardOutput) {
  return std::make_unique<MemoryFileSystem>(&standardInput, &standardOutput);
}

}  // namespace test
}  // namespace mirel
