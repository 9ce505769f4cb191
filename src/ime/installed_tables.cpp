#include "ime/installed_tables.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

uint32_t LoadU32(const std::byte* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// The bytes of a file copied to the temporary folder first.
class LocalCopy {
 public:
  Status Open(FileSystem& fs, const std::filesystem::path& source, const TempFolder& temp) {
    path_ = temp.TempPath(kInstalledCopyName);
    if (path_.empty())
      return Status::IoError(temp.folder().string(), Tr("temporary folder path is too long"));
    Status copied = fs.CopyFile(source, path_);
    if (!copied.IsOk()) return copied;
    Result<std::string> bytes = fs.ReadWhole(path_);
    if (!bytes.IsOk()) return bytes.status();
    bytes_ = std::move(bytes).value();
    return Status::Ok();
  }
  std::span<const std::byte> bytes() const { return std::as_bytes(std::span(bytes_)); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string bytes_;
};

Result<std::filesystem::path> DataFolderOf(const InstalledCopies& copies, std::u16string_view key) {
  std::optional<std::u16string> module = copies.ModuleName(key);
  if (!module) {
    return Status::InvalidArgument(Utf16ToUtf8(key),
                                   Tr("no installed copy is registered under this key"));
  }
  return copies.DataFolder(*module);
}

}  // namespace

Result<InstalledTable> ReadInstalledTable(const InstalledCopies& copies, std::u16string_view key,
                                          const TempFolder& temp) try {
  Result<std::filesystem::path> folder = DataFolderOf(copies, key);
  if (!folder.IsOk()) return folder.status();
  const std::filesystem::path main = folder.value() / "main.ktb";
  LocalCopy copy;
  Status opened = copy.Open(copies.fs(), main, temp);
  if (!opened.IsOk()) return opened;
  Status valid = ValidateCompiledTable(copy.bytes());
  if (!valid.IsOk())
    return Status::Corrupt(main.string(),
                           Tr("not a readable compiled table: {1}", valid.message()));
  return InstalledTable{std::u16string(key), main, copy.path(), ReadOpaqueHeader(copy.bytes())};
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Status ReadUserLibrary(std::span<const std::byte> library,
                       const std::function<void(std::u16string_view word)>& word) {
  const uint64_t size = library.size();
  const std::byte* base = library.data();
  if (size < kCompiledHeaderSize) {
    return Status::Corrupt("", "too short for a user library (" + std::to_string(size) + " bytes)");
  }
  const uint64_t n = LoadU32(base + 8);
  if (kCompiledHeaderSize + 4 * n > size) {
    return Status::Corrupt("", "word count " + std::to_string(n) + " does not fit in the file");
  }
  for (uint64_t k = 0; k < n; ++k) {
    const uint64_t at = LoadU32(base + kCompiledHeaderSize + 4 * k);
    const bool fits = at + 6 <= size && at + 6 + static_cast<uint8_t>(base[at + 4]) <= size;
    const uint64_t l = fits ? static_cast<uint8_t>(base[at + 4]) : 0;
    const uint64_t e = fits ? static_cast<uint8_t>(base[at + 5 + l]) : 0;
    if (!fits || at + 6 + l + 2 * e > size) {
      return Status::Corrupt("", "word " + std::to_string(k + 1) + " at offset " +
                                     std::to_string(at) + " runs past the end of the file");
    }
  }
  std::u16string text;
  for (uint64_t k = 0; k < n; ++k) {
    const std::byte* r = base + LoadU32(base + kCompiledHeaderSize + 4 * k);
    const size_t l = static_cast<uint8_t>(r[4]);
    text.resize(static_cast<uint8_t>(r[5 + l]));
    std::memcpy(text.data(), r + 6 + l, 2 * text.size());
    word(text);
  }
  return Status::Ok();
}

Status ExportInstalledTable(const InstalledCopies& copies, std::u16string_view key,
                            bool userLibrary, const std::filesystem::path& target,
                            const TempFolder& temp) try {
  Result<InstalledTable> table = ReadInstalledTable(copies, key, temp);
  if (!table.IsOk()) return table.status();
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(copies.fs(), target);
  if (!writer.IsOk()) return writer.status();
  TextWriter& out = *writer.value();
  out.WriteBom();
  {
    LocalCopy main;
    Status opened = main.Open(copies.fs(), table->mainTable, temp);
    if (!opened.IsOk()) return opened;
    Status written =
        WriteCompiledTableText(main.bytes(), [&](std::u16string_view piece) { out.Write(piece); });
    if (!written.IsOk()) return Status::Corrupt(table->mainTable.string(), written.message());
  }
  const std::filesystem::path library = table->mainTable.parent_path() / "usr.ktb";
  Result<PathInfo> libraryInfo = copies.fs().Query(library);
  if (userLibrary && libraryInfo.IsOk() && libraryInfo->kind != PathKind::kMissing) {
    LocalCopy words;
    Status opened = words.Open(copies.fs(), library, temp);
    if (!opened.IsOk()) return opened;
    out.Write(kUserLibraryComment);
    Status read = ReadUserLibrary(words.bytes(), [&](std::u16string_view word) {
      out.Write(word);
      out.Write(u"\t\r\n");
    });
    if (!read.IsOk())
      return Status::Corrupt(library.string(), Tr("damaged user library: {1}", read.message()));
  }
  return out.Commit();
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

std::optional<std::u16string> FindInstalledCopy(const InstalledCopies& copies,
                                                std::u16string_view keyOrName) {
  const std::vector<std::u16string> keys = copies.List();
  for (const std::u16string& key : keys) {
    if (FoldAscii(key) == FoldAscii(keyOrName)) return key;
  }
  for (const std::u16string& key : keys) {
    const std::u16string name = copies.DisplayName(key);
    if (!name.empty() && name == keyOrName) return key;
  }
  return std::nullopt;
}

}  // namespace mirel
