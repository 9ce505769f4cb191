#include "ime/installed_copies.h"

#include <stdlib.h>

#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>

#include "store/compiled_table.h"
#include "support/fake_prefix.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using test::FakePrefix;
using test::WriteBytes;
using Names = std::vector<std::u16string>;

class InstalledCopiesTest : public ::testing::Test {
 protected:
  InstalledCopiesTest() : prefix_(dir_.path()) {}

  InstalledCopies Load() {
    Result<InstalledCopies> copies = InstalledCopies::Load(test::DiskFs(), prefix_.Environment());
    EXPECT_OK(copies);
    if (!copies.IsOk()) throw std::runtime_error(copies.status().message());
    return std::move(copies).value();
  }

  test::ScratchDir dir_;
  FakePrefix prefix_;
};

TEST_F(InstalledCopiesTest, NoRegistryOrNoCopiesKeyMeansNoCopies) {
  EXPECT_TRUE(Load().List().empty());

  prefix_.SetValue(u"Software\\Other\\abc", u"IMEName", u"abc");
  prefix_.WriteRegistry();
  const InstalledCopies copies = Load();
  EXPECT_TRUE(copies.List().empty());
  EXPECT_FALSE(copies.ModuleName(u"abc").has_value());
  EXPECT_EQ(copies.DisplayName(u"abc"), u"");
}

TEST_F(InstalledCopiesTest, ListsTheCopiesWhoseModuleIsPresentInEveryRegistryStyle) {
  prefix_.AddCopy(u"五笔", u"mirel_wb", u"Mirel五笔");
  prefix_.AddCopy(u"noname", u"", u"No module name", /*withModule=*/false);
  prefix_.AddCopy(u"nomodule", u"gone", u"Module removed", /*withModule=*/false);
  prefix_.AddCopy(u"plain", u"mirel_py", u"");
  prefix_.AddCopy(u"a/b", u"slash_key", u"Slash in key");
  for (auto style : {FakePrefix::Style::kWine, FakePrefix::Style::kRegedit5Utf16,
                     FakePrefix::Style::kRegedit4}) {
    SCOPED_TRACE(static_cast<int>(style));
    prefix_.WriteRegistry(style);
    const InstalledCopies copies = Load();
    EXPECT_EQ(copies.List(), (Names{u"五笔", u"plain", u"a/b"}));
    EXPECT_EQ(copies.List(), copies.List());
    EXPECT_EQ(copies.ModuleName(u"五笔"), u"mirel_wb");
    EXPECT_EQ(copies.DisplayName(u"五笔"), u"Mirel五笔");
    // Present module, no uninstall key: listed, but without a display name.
    EXPECT_EQ(copies.DisplayName(u"plain"), u"");
    // A key without IMEName opens: an empty name, not a missing key.
    EXPECT_EQ(copies.ModuleName(u"noname"), u"");
    EXPECT_EQ(copies.DisplayName(u"noname"), u"No module name");
    EXPECT_EQ(copies.ModuleName(u"missing"), std::nullopt);
    EXPECT_EQ(copies.DisplayName(u"a/b"), u"Slash in key");
  }
}

TEST_F(InstalledCopiesTest, NamesAreCutToTheirBuffer) {
  const std::u16string longName(45, u'n');
  std::u16string pairAtTheCut(38, u'd');
  pairAtTheCut.append(u"😀tail");
  prefix_.AddCopy(u"long", longName, pairAtTheCut, /*withModule=*/false);
  WriteBytes(prefix_.ModuleFile(longName.substr(0, 39)), "MZ");
  prefix_.WriteRegistry();
  const InstalledCopies copies = Load();
  EXPECT_EQ(copies.ModuleName(u"long"), longName.substr(0, 39));
  EXPECT_EQ(copies.List(), (Names{u"long"}));
  EXPECT_EQ(copies.DisplayName(u"long"), std::u16string(38, u'd'));
}

TEST_F(InstalledCopiesTest, ResolvesNamesWithoutRegardToCase) {
  prefix_.AddCopy(u"abc", u"Abc", u"ABC", /*withModule=*/false);
  prefix_.WriteRegistry();
  WriteBytes(prefix_.SystemDir() / "ABC.IME", "MZ");
  fs::create_directories(prefix_.CommonAppData() / "mirelime3" / "aBC");
  fs::create_directories(prefix_.CommonAppData() / "mirelime3" / "Other");
  const InstalledCopies copies = Load();
  EXPECT_EQ(copies.List(), (Names{u"abc"}));
  EXPECT_EQ(copies.ModulePath(u"Abc"), prefix_.SystemDir() / "ABC.IME");
  EXPECT_EQ(copies.DataFolder(u"Abc"), prefix_.CommonAppData() / "mirelime3" / "aBC");
  // Nothing matching: the spelled path, in the folder that was found.
  EXPECT_EQ(copies.DataFolder(u"new"), prefix_.CommonAppData() / "mirelime3" / "new");
  EXPECT_EQ(copies.ModulePath(u"new"), prefix_.SystemDir() / "new.ime");
  // An exact spelling wins over another case.
  WriteBytes(prefix_.SystemDir() / "Abc.ime", "MZ");
  EXPECT_EQ(copies.ModulePath(u"Abc"), prefix_.SystemDir() / "Abc.ime");
}

TEST_F(InstalledCopiesTest, ModuleNamesThatLeaveTheirFolderAreAbsent) {
  prefix_.AddCopy(u"up", u"../escape", u"Up", /*withModule=*/false);
  prefix_.AddCopy(u"down", u"sub/inner", u"Down", /*withModule=*/false);
  prefix_.AddCopy(u"back", u"..\\..\\x", u"Back", /*withModule=*/false);
  WriteBytes(prefix_.SystemDir().parent_path() / "escape.ime", "MZ");
  fs::create_directories(prefix_.SystemDir() / "sub");
  WriteBytes(prefix_.SystemDir() / "sub" / "inner.ime", "MZ");
  WriteBytes(prefix_.SystemDir() / "..\\..\\x.ime", "MZ");
  prefix_.WriteRegistry();
  const InstalledCopies copies = Load();
  EXPECT_TRUE(copies.List().empty());
  for (const char16_t* name : {u"../escape", u"sub/inner", u"..\\..\\x", u".."}) {
    EXPECT_EQ(copies.ModulePath(name), fs::path()) << test::Utf8(name);
    EXPECT_EQ(copies.DataFolder(name), fs::path()) << test::Utf8(name);
  }
}

TEST_F(InstalledCopiesTest, AnUnreadableOrForeignRegistryIsAnError) {
  WriteBytes(prefix_.SystemReg(), "not a registry\n");
  Result<InstalledCopies> foreign = InstalledCopies::Load(test::DiskFs(), prefix_.Environment());
  ASSERT_FALSE(foreign.IsOk());
  EXPECT_NE(foreign.status().message().find("system.reg"), std::string::npos);

  fs::remove(prefix_.SystemReg());
  fs::create_directory(prefix_.SystemReg());
  EXPECT_FALSE(InstalledCopies::Load(test::DiskFs(), prefix_.Environment()).IsOk());
}

TEST_F(InstalledCopiesTest, FakePrefixTablesKeepTheirHeaderAndOrder) {
  prefix_.SetMainTable(u"abc", u"你\tni\r\n好\thao\r\n");
  prefix_.SetUserLibrary(u"abc", {u"世界", u"你好", u"a"});
  const std::string main = test::ReadBytes(prefix_.DataFolder(u"abc") / "main.ktb");
  const auto mainBytes = std::as_bytes(std::span(main));
  EXPECT_OK(ValidateCompiledTable(mainBytes));
  const OpaqueHeader header = ReadOpaqueHeader(mainBytes);
  for (size_t k = 0; k < header.bytes.size(); ++k) EXPECT_EQ(header.bytes[k], std::byte(k + 1));

  const std::string user = test::ReadBytes(prefix_.DataFolder(u"abc") / "usr.ktb");
  ASSERT_OK(ValidateCompiledTable(std::as_bytes(std::span(user))));
  std::u16string words;
  uint32_t n = 0;
  std::memcpy(&n, user.data() + 8, 4);
  ASSERT_EQ(n, 3u);
  for (uint32_t k = 0; k < n; ++k) {
    uint32_t at = 0;
    std::memcpy(&at, user.data() + kCompiledHeaderSize + 4 * k, 4);
    const auto l = static_cast<uint8_t>(user[at + 4]);
    const auto e = static_cast<uint8_t>(user[at + 5 + l]);
    std::u16string word(e, u'\0');
    std::memcpy(word.data(), user.data() + at + 6 + l, 2 * e);
    words.append(word).push_back(u' ');
  }
  EXPECT_EQ(words, u"世界 你好 a ");
}

// Sets or unsets environment variables for one scope and restores them.
class ScopedEnvironment {
 public:
  void Set(const char* name, const char* value) {
    if (saved_.find(name) == saved_.end()) {
      const char* old = ::getenv(name);
      saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) Set(name.c_str(), value ? value->c_str() : nullptr);
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(InstalledEnvironmentTest, FromProcessFollowsTheVariables) {
  ScopedEnvironment scope;
  for (const char* name : {"MIREL_REGISTRY", "MIREL_SYSTEM_DIR", "MIREL_COMMON_APPDATA"}) {
    scope.Set(name, nullptr);
  }
  scope.Set("WINEPREFIX", nullptr);
  scope.Set("HOME", "/home/someone");
  InstalledEnvironment env = InstalledEnvironment::FromProcess();
  EXPECT_EQ(env.registryFile, fs::path("/home/someone/.wine/system.reg"));
  EXPECT_EQ(env.systemDir, fs::path("/home/someone/.wine/drive_c/windows/system32"));
  EXPECT_EQ(env.commonAppData, fs::path("/home/someone/.wine/drive_c/ProgramData"));

  scope.Set("WINEPREFIX", "/opt/prefix");
  env = InstalledEnvironment::FromProcess();
  EXPECT_EQ(env.registryFile, fs::path("/opt/prefix/system.reg"));
  EXPECT_EQ(env.systemDir, fs::path("/opt/prefix/drive_c/windows/system32"));
  EXPECT_EQ(env.commonAppData, fs::path("/opt/prefix/drive_c/ProgramData"));

  scope.Set("MIREL_REGISTRY", "/r/export.reg");
  scope.Set("MIREL_SYSTEM_DIR", "/r/sys");
  scope.Set("MIREL_COMMON_APPDATA", "/r/data");
  env = InstalledEnvironment::FromProcess();
  EXPECT_EQ(env.registryFile, fs::path("/r/export.reg"));
  EXPECT_EQ(env.systemDir, fs::path("/r/sys"));
  EXPECT_EQ(env.commonAppData, fs::path("/r/data"));

  // Set but empty counts as unset.
  scope.Set("MIREL_REGISTRY", "");
  scope.Set("WINEPREFIX", "");
  env = InstalledEnvironment::FromProcess();
  EXPECT_EQ(env.registryFile, fs::path("/home/someone/.wine/system.reg"));
  EXPECT_EQ(env.systemDir, fs::path("/r/sys"));
}

}  // namespace
}  // namespace mirel
