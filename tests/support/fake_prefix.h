// A fake Wine prefix in a test folder: registry values kept in memory and
// written as a registry file in any of the styles read, input-method modules
// in drive_c/windows/system32, and compiled tables under
// drive_c/ProgramData/MirelIME3. Not thread-safe.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ime/installed_copies.h"

namespace mirel::test {

class FakePrefix {
 public:
  enum class Style {
    kWine,           // system.reg, 8-bit, other characters as \x escapes
    kRegedit5Utf16,  // "Windows Registry Editor Version 5.00", UTF-16LE with mark
    kRegedit4,       // "REGEDIT4", GBK
  };

  // Creates the system and application-data folders below `root`.
  explicit FakePrefix(const std::filesystem::path& root);

  InstalledEnvironment Environment() const;
  std::filesystem::path SystemReg() const { return root_ / "system.reg"; }
  std::filesystem::path SystemDir() const;
  std::filesystem::path CommonAppData() const;
  // Where AddCopy and SetMainTable put a copy's files, spelled as given.
  std::filesystem::path ModuleFile(std::u16string_view imeName) const;
  std::filesystem::path DataFolder(std::u16string_view imeName) const;

  // A string value under HKEY_LOCAL_MACHINE; keys are written in the order
  // they are first given.
  void SetValue(std::u16string_view keyPath, std::u16string_view name, std::u16string_view text);
  // "Software\MirelIME3\<key>" with IMEName (left out when empty), the
  // uninstall key with DisplayName (left out when empty), and the module file.
  void AddCopy(std::u16string key, std::u16string imeName, std::u16string displayName,
               bool withModule = true);
  // Compiles `text` into <data folder>/main.ktb, header bytes 36-69 set to
  // 1..34.
  void SetMainTable(std::u16string imeName, std::u16string text);
  // A compiled table with the records (code "a", word), in the given order,
  // as <data folder>/usr.ktb.
  void SetUserLibrary(std::u16string imeName, std::vector<std::u16string> words);

  void WriteRegistry(Style style = Style::kWine) const;

 private:
  struct Key {
    std::u16string path;
    std::vector<std::pair<std::u16string, std::u16string>> values;
  };

  Key& KeyAt(std::u16string_view path);

  std::filesystem::path root_;
  std::vector<Key> keys_;
};

// The bytes of a compiled table whose records are (code "a", word) in the
// given order, with zero record words.
std::string UserLibraryBytes(const std::vector<std::u16string>& words);

}  // namespace mirel::test
