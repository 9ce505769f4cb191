#include "support/fake_prefix.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/paths.h"
#include "platform/utf16.h"
#include "support/test_support.h"

namespace mirel::test {
namespace {

namespace fs = std::filesystem;

void PutU32(std::string& out, size_t at, uint32_t value) {
  std::memcpy(out.data() + at, &value, 4);
}

void AppendU32(std::string& out, uint32_t value) {
  out.append(4, '\0');
  PutU32(out, out.size() - 4, value);
}

// Escapes the units of `special` with a backslash and, for Wine, every unit
// outside printable ASCII as \xNNNN.
std::u16string Escaped(std::u16string_view text, std::u16string_view special, bool wine) {
  std::u16string out;
  for (char16_t u : text) {
    if (special.find(u) != std::u16string_view::npos) {
      out.push_back(u'\\');
      out.push_back(u);
    } else if (wine && (u < 0x20 || u >= 0x7F)) {
      AppendFormatted(out, u"\\x%04x", {static_cast<unsigned long long>(u)});
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::u16string Quoted(std::u16string_view text, bool wine) {
  return u"\"" + Escaped(text, u"\\\"", wine) + u"\"";
}

}  // namespace

std::string UserLibraryBytes(const std::vector<std::u16string>& words) {
  const auto n = static_cast<uint32_t>(words.size());
  const uint32_t first = kCompiledHeaderSize + 4 * n + 4;
  std::string out(kCompiledHeaderSize, '\0');
  PutU32(out, 4, first);
  PutU32(out, 8, n);
  PutU32(out, 12, 1);
  std::memcpy(out.data() + 16, kCompiledTableName.data(), 2 * kCompiledTableName.size());
  PutU32(out, 100, 1000);
  out[136] = '\xF0';
  std::string records;
  for (const std::u16string& word : words) {
    if (word.size() > kMaxEntryUnits) ADD_FAILURE() << "a user word longer than 255 units";
    AppendU32(out, first + static_cast<uint32_t>(records.size()));
    AppendU32(records, 0);
    records.push_back(1);
    records.push_back(static_cast<char>(CodeByte(u'a')));
    records.push_back(static_cast<char>(word.size()));
    records.append(Utf16Le(word, false));
  }
  AppendU32(out, 0);
  out.append(records);
  PutU32(out, 0, static_cast<uint32_t>(out.size()));
  return out;
}

FakePrefix::FakePrefix(const fs::path& root) : root_(root) {
  fs::create_directories(SystemDir());
  fs::create_directories(CommonAppData());
}

InstalledEnvironment FakePrefix::Environment() const {
  return InstalledEnvironment{SystemReg(), SystemDir(), CommonAppData()};
}

fs::path FakePrefix::SystemDir() const { return root_ / "drive_c" / "windows" / "system32"; }

fs::path FakePrefix::CommonAppData() const { return root_ / "drive_c" / "ProgramData"; }

fs::path FakePrefix::ModuleFile(std::u16string_view imeName) const {
  std::u16string file(imeName);
  file.append(u".ime");
  return SystemDir() / PathFromUtf16(file);
}

fs::path FakePrefix::DataFolder(std::u16string_view imeName) const {
  return CommonAppData() / "MirelIME3" / PathFromUtf16(imeName);
}

FakePrefix::Key& FakePrefix::KeyAt(std::u16string_view path) {
  for (Key& key : keys_) {
    if (key.path == path) return key;
  }
  return keys_.emplace_back(Key{std::u16string(path), {}});
}

void FakePrefix::SetValue(std::u16string_view keyPath, std::u16string_view name,
                          std::u16string_view text) {
  KeyAt(keyPath).values.emplace_back(name, text);
}

void FakePrefix::AddCopy(std::u16string key, std::u16string imeName, std::u16string displayName,
                         bool withModule) {
  std::u16string copyKey = u"Software\\MirelIME3\\";
  copyKey.append(key);
  Key& copy = KeyAt(copyKey);
  if (!imeName.empty()) copy.values.emplace_back(u"IMEName", imeName);
  if (!displayName.empty()) {
    std::u16string uninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    uninstall.append(key);
    SetValue(uninstall, u"DisplayName", displayName);
  }
  if (withModule) WriteBytes(ModuleFile(imeName), "MZ");
}

void FakePrefix::SetMainTable(std::u16string imeName, std::u16string text) {
  OpaqueHeader opaque;
  for (size_t k = 0; k < opaque.bytes.size(); ++k) opaque.bytes[k] = std::byte(k + 1);
  fs::create_directories(DataFolder(imeName));
  WriteBytes(DataFolder(imeName) / "main.ktb", CompiledBytes(std::move(text), opaque));
}

void FakePrefix::SetUserLibrary(std::u16string imeName, std::vector<std::u16string> words) {
  fs::create_directories(DataFolder(imeName));
  WriteBytes(DataFolder(imeName) / "usr.ktb", UserLibraryBytes(words));
}

void FakePrefix::WriteRegistry(Style style) const {
  const bool wine = style == Style::kWine;
  const std::u16string_view end = wine ? u"\n" : u"\r\n";
  std::u16string text;
  if (wine) {
    text = u"WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n";
  } else if (style == Style::kRegedit5Utf16) {
    text = u"Windows Registry Editor Version 5.00\r\n";
  } else {
    text = u"REGEDIT4\r\n";
  }
  for (const Key& key : keys_) {
    text.append(end);
    if (wine) {
      text.append(u"[").append(Escaped(key.path, u"\\[]", true)).append(u"] 1733212345\n");
      text.append(u"#time=1db44d6a2c3e9f0\n");
    } else {
      text.append(u"[HKEY_LOCAL_MACHINE\\").append(key.path).append(u"]\r\n");
    }
    for (const auto& [name, value] : key.values) {
      text.append(name.empty() ? std::u16string(u"@") : Quoted(name, wine));
      text.append(u"=").append(Quoted(value, wine)).append(end);
    }
  }
  text.append(end);
  WriteBytes(SystemReg(), style == Style::kRegedit5Utf16 ? Utf16Le(text)
                          : style == Style::kRegedit4    ? Gbk(text)
                                                         : Utf8(text));
}

}  // namespace mirel::test
