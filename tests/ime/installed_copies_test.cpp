#include "ime/installed_copies.h"

#include <stdlib.h>

#include <map>
#include <stdexcept>

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

// No registry, or one without the copies' key, means no copies; one that
// cannot be read is an error.
TEST_F(InstalledCopiesTest, RegistriesWithoutCopiesOrUnreadable) {
  EXPECT_TRUE(Load().List().empty());
  prefix_.SetValue(u"Software\\Other\\abc", u"IMEName", u"abc");
  prefix_.WriteRegistry();
  const InstalledCopies copies = Load();
  EXPECT_TRUE(copies.List().empty());
  EXPECT_FALSE(copies.ModuleName(u"abc").has_value());
  EXPECT_EQ(copies.DisplayName(u"abc"), u"");

  WriteBytes(prefix_.SystemReg(), "not a registry\n");
  Result<InstalledCopies> foreign = InstalledCopies::Load(test::DiskFs(), prefix_.Environment());
  ASSERT_FALSE(foreign.IsOk());
  EXPECT_NE(foreign.status().message().find("system.reg"), std::string::npos);
  fs::remove(prefix_.SystemReg());
  fs::create_directory(prefix_.SystemReg());
  EXPECT_FALSE(InstalledCopies::Load(test::DiskFs(), prefix_.Environment()).IsOk());
}

// Restores the variables FromProcess reads when the test ends.
class SavedEnvironment {
 public:
  static constexpr const char* kNames[] = {"MIREL_REGISTRY", "MIREL_SYSTEM_DIR",
                                           "MIREL_COMMON_APPDATA", "WINEPREFIX", "HOME"};
  SavedEnvironment() {
    for (const char* name : kNames) {
      if (const char* value = ::getenv(name)) saved_[name] = value;
      ::unsetenv(name);
    }
  }
  ~SavedEnvironment() {
    for (const char* name : kNames) {
      if (saved_.count(name)) ::setenv(name, saved_[name].c_str(), 1);
    }
  }

 private:
  std::map<std::string, std::string> saved_;
};

using PathList = std::vector<fs::path>;

PathList Paths() {
  const InstalledEnvironment env = InstalledEnvironment::FromProcess();
  return {env.registryFile, env.systemDir, env.commonAppData};
}

TEST(InstalledEnvironmentTest, FromProcessFollowsTheVariables) {
  const SavedEnvironment saved;
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(Paths(), (PathList{"/home/someone/.wine/system.reg",
                               "/home/someone/.wine/drive_c/windows/system32",
                               "/home/someone/.wine/drive_c/ProgramData"}));
  ::setenv("WINEPREFIX", "/opt/prefix", 1);
  EXPECT_EQ(Paths(), (PathList{"/opt/prefix/system.reg", "/opt/prefix/drive_c/windows/system32",
                               "/opt/prefix/drive_c/ProgramData"}));
  ::setenv("MIREL_REGISTRY", "/r/export.reg", 1);
  ::setenv("MIREL_SYSTEM_DIR", "/r/sys", 1);
  ::setenv("MIREL_COMMON_APPDATA", "/r/data", 1);
  EXPECT_EQ(Paths(), (PathList{"/r/export.reg", "/r/sys", "/r/data"}));
  // Set but empty counts as unset.
  ::setenv("MIREL_REGISTRY", "", 1);
  ::setenv("WINEPREFIX", "", 1);
  EXPECT_EQ(Paths(), (PathList{"/home/someone/.wine/system.reg", "/r/sys", "/r/data"}));
}

}  // namespace
}  // namespace mirel
