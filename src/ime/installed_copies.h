// The installed copies of the input method, looked up in a registry file and
// a Wine prefix: the copies whose module is present in the system directory,
// each copy's module name, display name and data folder. Pure lookup: nothing
// is written to the registry file or the disk. Names from the registry are
// resolved against the case-sensitive file system without regard to case, as
// Wine opens them. A loaded InstalledCopies owns its registry; const members
// are thread-safe as long as the folders do not change meanwhile.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ime/registry_file.h"
#include "platform/status.h"

namespace mirel {

// Room of the registry reads of IMEName and DisplayName: 80 bytes, that is 39
// units and the NUL.
inline constexpr size_t kInstalledNameUnits = 39;

struct InstalledEnvironment {
  std::filesystem::path registryFile;   // $MIREL_REGISTRY, else <prefix>/system.reg
  std::filesystem::path systemDir;      // $MIREL_SYSTEM_DIR, else <prefix>/drive_c/windows/system32
  std::filesystem::path commonAppData;  // $MIREL_COMMON_APPDATA, else <prefix>/drive_c/ProgramData

  // From the process environment; the prefix is $WINEPREFIX, else
  // $HOME/.wine. A variable set to the empty string counts as unset.
  static InstalledEnvironment FromProcess();
};

class InstalledCopies {
 public:
  // A missing registry file means no copies; an unreadable or malformed one
  // is an error.
  // The copies read their files through `fs`, which must outlive them.
  static Result<InstalledCopies> Load(FileSystem& fs, const InstalledEnvironment& env);

  // Key names of the subkeys of "SOFTWARE\MirelIME3" whose module exists, in
  // the registry's order.
  std::vector<std::u16string> List() const;

  // "IMEName" of the copy, empty when the value is missing, cut to 39 units;
  // nullopt when the copy's key does not exist.
  std::optional<std::u16string> ModuleName(std::u16string_view key) const;

  // The module file "<imeName>.ime" in the system directory. Empty when the
  // name holds a path separator, a NUL or "..", so that it cannot point
  // outside the folder.
  std::filesystem::path ModulePath(std::u16string_view imeName) const;

  // "DisplayName" of the copy's uninstall key, cut to 39 units; empty when
  // the key or the value is missing.
  std::u16string DisplayName(std::u16string_view key) const;

  // The folder of the copy's compiled tables: <commonAppData>/MirelIME3/
  // <imeName>, or the MirelIME3 folder itself for an empty name. Empty for a
  // name that ModulePath refuses.
  std::filesystem::path DataFolder(std::u16string_view imeName) const;

  const InstalledEnvironment& environment() const { return env_; }
  FileSystem& fs() const { return *fs_; }

 private:
  InstalledCopies(FileSystem& fs, InstalledEnvironment env, RegistryFile registry)
      : fs_(&fs), env_(std::move(env)), registry_(std::move(registry)) {}

  FileSystem* fs_;
  InstalledEnvironment env_;
  RegistryFile registry_;
};

}  // namespace mirel
