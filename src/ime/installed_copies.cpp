#include "ime/installed_copies.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <new>
#include <system_error>

#include "platform/paths.h"
#include "platform/utf16.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kCopiesKey = u"SOFTWARE\\MirelIME3";
constexpr std::u16string_view kCopyKeyPrefix = u"Software\\MirelIME3\\";
constexpr std::u16string_view kUninstallKeyPrefix =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr std::u16string_view kDataFolderName = u"MirelIME3";

std::u16string KeyPath(std::u16string_view prefix, std::u16string_view key) {
  std::u16string path(prefix);
  path.append(key);
  return path;
}

std::u16string CutName(std::u16string text) {
  if (text.size() > kInstalledNameUnits) {
    text.resize(kInstalledNameUnits);
    // Half a surrogate pair names no character.
    if (IsSurrogate(text.back()) && !IsLowSurrogate(text.back())) text.pop_back();
  }
  return text;
}

// A name from the registry that stays one entry of the folder it is put in.
bool IsPlainName(std::u16string_view name) {
  return name.find_first_of(std::u16string_view(u"/\\\0", 3)) == std::u16string_view::npos &&
         name.find(u"..") == std::u16string_view::npos;
}

// `dir`/`name`, or the entry of `dir` whose name equals `name` without regard
// to case when that spelling does not exist (the smallest such name when there
// are several, so that the choice does not depend on the listing order).
fs::path ResolveEntry(FileSystem& files, const fs::path& dir, std::u16string_view name) {
  fs::path spelled = dir / PathFromUtf16(name);
  Result<PathInfo> info = files.Query(spelled);
  if (info.IsOk() && (info->kind != PathKind::kMissing || info->isLink)) return spelled;
  const std::u16string wanted = FoldAscii(name);
  fs::path best;
  Result<std::vector<fs::path>> names = files.ListFolder(dir);
  if (!names.IsOk()) return spelled;
  for (fs::path& entry : names.value()) {
    if (FoldAscii(PathToUtf16(entry)) != wanted) continue;
    if (best.empty() || entry.native() < best.native()) best = std::move(entry);
  }
  return best.empty() ? spelled : dir / best;
}

const char* Variable(const char* name) {
  const char* value = ::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

InstalledEnvironment InstalledEnvironment::FromProcess() {
  fs::path prefix;
  if (const char* wine = Variable("WINEPREFIX")) {
    prefix = wine;
  } else {
    const char* home = Variable("HOME");
    if (home == nullptr) {
      const passwd* user = ::getpwuid(::getuid());
      home = user != nullptr ? user->pw_dir : "";
    }
    prefix = fs::path(home) / ".wine";
  }
  InstalledEnvironment env;
  const char* registry = Variable("MIREL_REGISTRY");
  env.registryFile = registry != nullptr ? fs::path(registry) : prefix / "system.reg";
  const char* system = Variable("MIREL_SYSTEM_DIR");
  env.systemDir =
      system != nullptr ? fs::path(system) : prefix / "drive_c" / "windows" / "system32";
  const char* data = Variable("MIREL_COMMON_APPDATA");
  env.commonAppData = data != nullptr ? fs::path(data) : prefix / "drive_c" / "ProgramData";
  return env;
}

Result<InstalledCopies> InstalledCopies::Load(FileSystem& files,
                                              const InstalledEnvironment& env) try {
  Result<PathInfo> info = files.Query(env.registryFile);
  if (info.IsOk() && info->kind == PathKind::kMissing) {
    return InstalledCopies(files, env, RegistryFile());
  }
  Result<RegistryFile> registry = RegistryFile::Load(files, env.registryFile);
  if (!registry.IsOk()) return registry.status();
  return InstalledCopies(files, env, std::move(registry).value());
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

std::vector<std::u16string> InstalledCopies::List() const {
  std::vector<std::u16string> keys;
  for (std::u16string& key : registry_.SubkeyNames(kCopiesKey)) {
    const fs::path module = ModulePath(ModuleName(key).value_or(std::u16string()));
    Result<PathInfo> info = module.empty() ? Result<PathInfo>(PathInfo{}) : fs_->Query(module);
    if (info.IsOk() && info->kind == PathKind::kRegular) keys.push_back(std::move(key));
  }
  return keys;
}

std::optional<std::u16string> InstalledCopies::ModuleName(std::u16string_view key) const {
  const std::u16string path = KeyPath(kCopyKeyPrefix, key);
  if (!registry_.HasKey(path)) return std::nullopt;
  return CutName(registry_.StringValue(path, u"IMEName").value_or(std::u16string()));
}

fs::path InstalledCopies::ModulePath(std::u16string_view imeName) const {
  if (!IsPlainName(imeName)) return {};
  std::u16string file(imeName);
  file.append(u".ime");
  return ResolveEntry(*fs_, env_.systemDir, file);
}

std::u16string InstalledCopies::DisplayName(std::u16string_view key) const {
  return CutName(registry_.StringValue(KeyPath(kUninstallKeyPrefix, key), u"DisplayName")
                     .value_or(std::u16string()));
}

fs::path InstalledCopies::DataFolder(std::u16string_view imeName) const {
  if (!IsPlainName(imeName)) return {};
  fs::path folder = ResolveEntry(*fs_, env_.commonAppData, kDataFolderName);
  return imeName.empty() ? folder : ResolveEntry(*fs_, folder, imeName);
}

}  // namespace mirel
