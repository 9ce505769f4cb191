// A read-only view of the HKEY_LOCAL_MACHINE keys in a registry text file:
// an export of the registry editor ("REGEDIT4" or "Windows Registry Editor
// Version 5.00", UTF-16LE with its mark or 8-bit) or Wine's own system.reg
// ("WINE REGISTRY Version 2"). Keys under other hives are left out; lines
// that cannot be read are skipped, so one damaged value never hides the rest.
// Key paths are relative to HKEY_LOCAL_MACHINE, separated by '\', and match
// key and value names without regard to the case of A-Z, as the registry
// does. A key path deeper than kMaxKeyDepth parts refuses the whole file (the
// registry itself allows no more), so memory stays linear in the file's size.
// A parsed file owns all its text; const members are thread-safe.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

class RegistryFile {
 public:
  static constexpr size_t kMaxKeyDepth = 512;

  // A registry holding only the (empty) root key.
  RegistryFile();

  // Parses a decoded file. Refused when its first non-empty line is none of
  // the three headers, or when a key path is deeper than kMaxKeyDepth (the
  // message names the line).
  static Result<RegistryFile> Parse(std::u16string_view text);
  // Reads, decodes and parses a file; a failure names the file.
  static Result<RegistryFile> Load(FileSystem& fs, const std::filesystem::path& path);

  // A key exists when the file names it or any key below it. The empty path
  // is HKEY_LOCAL_MACHINE itself.
  bool HasKey(std::u16string_view path) const;
  // Names of the direct subkeys in the order the file first names them,
  // spelled as there.
  std::vector<std::u16string> SubkeyNames(std::u16string_view path) const;
  // The text of a REG_SZ or REG_EXPAND_SZ value (unexpanded), up to its first
  // NUL; nullopt when the key or value is missing or has another type. The
  // name "@" or "" is the key's default value.
  std::optional<std::u16string> StringValue(std::u16string_view keyPath,
                                            std::u16string_view valueName) const;

 private:
  class Parser;

  struct Value {
    std::u16string foldedName;
    bool isString = false;
    std::u16string text;
  };
  struct Key {
    std::u16string name;
    std::vector<size_t> children;  // indexes into keys_, in order of first mention
    std::vector<Value> values;
  };

  // A key's folded name under its parent; each key is stored once, not
  // under every prefix of its path.
  struct ChildName {
    size_t parent;
    std::u16string folded;
    bool operator==(const ChildName&) const = default;
  };
  struct ChildNameHash {
    size_t operator()(const ChildName& name) const;
  };

  // Index of the key at `components` (folded by the callee), created with its
  // ancestors when missing.
  size_t AddKey(const std::vector<std::u16string>& components);
  const Key* Find(std::u16string_view path) const;

  std::vector<Key> keys_;  // keys_[0] is HKEY_LOCAL_MACHINE
  std::unordered_map<ChildName, size_t, ChildNameHash> byName_;
};

}  // namespace mirel
