// The tool never writes outside the user's folders for the Linux input
// methods, never over its own input by default, never reads an endless input
// whole, and never lets a name forge a line of its output.
#include <sstream>

#include "app/linux_commands.h"
#include "app/linux_tool_fixture.h"
#include "ime/linux_tables.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using test::Put;
using test::ReadBytes;
using test::Snapshot;
using test::WriteBytes;

class SmallMachine : public ForwardingFileSystem {
 public:
  SmallMachine() : ForwardingFileSystem(test::DiskFs()) {}
  uint64_t MemoryLimit() override { return 64 << 20; }
};

constexpr const char* kRime = "---\nname: rr\nversion: \"1\"\n...\n工\ta\t10\n戈\ta\t20\n";

class PathSafetyTest : public test::LinuxToolTest {
 protected:
  PathSafetyTest() {
    Put(sys() / "rime-data/rr.dict.yaml", kRime);
    Put(sys() / "fcitx5/inputmethod/tt.conf", "[Table]\nFile=table/tt.txt\n");
    Put(sys() / "fcitx5/table/tt.txt", "KeyCode=abc\nLength=3\n[Data]\na 工\n");
    WriteBytes(dir_ / "mine.txt", "式\tab\n");
  }
};

TEST_F(PathSafetyTest, InstallNeverWritesASystemFolder) {
  const auto system = Snapshot(sys());
  // A user configuration whose table climbs out into the system folder.
  Put(env_.dataHome / "fcitx5/inputmethod/tt.conf",
      "[Table]\nFile=../../../../sys/fcitx5/table/tt.txt\n");
  Expect(0, {"linux", "install", At("mine.txt"), "fcitx5:tt"});
  EXPECT_EQ(Snapshot(sys()), system);
  EXPECT_TRUE(test::Holds(ReadBytes(env_.dataHome / "fcitx5/table/tt.txt"), "ab 式"));

  // ibus-rime's user folder is a link to the system's data: nothing is
  // written, not even fcitx5-rime's copy.
  fs::create_directories(env_.dataHome / "fcitx5/rime");
  fs::create_directories(env_.configHome / "ibus");
  fs::create_directory_symlink(sys() / "rime-data", env_.configHome / "ibus/rime");
  ExpectSays(1, {"linux", "install", At("mine.txt"), "rime:rr"},
             "lies in the system folder " + sys().string());
  EXPECT_EQ(Snapshot(sys()), system);
  EXPECT_FALSE(fs::exists(env_.dataHome / "fcitx5/rime/rr.dict.yaml"));

  // Paths checked directly: outside both user folders, or into a system
  // folder nested inside the user's, is refused; the user's own is not.
  FileSystem& disk = test::DiskFs();
  EXPECT_TRUE(CheckUserPath(disk, env_, env_.dataHome / "fcitx5/table/x.txt").IsOk());
  EXPECT_FALSE(CheckUserPath(disk, env_, env_.dataHome / "../x.txt").IsOk());
  EXPECT_FALSE(CheckUserPath(disk, env_, env_.dataHome).IsOk());
  LinuxEnvironment nested = env_;
  nested.dataDirs.push_back(env_.dataHome / "flatpak/exports/share");
  EXPECT_FALSE(
      CheckUserPath(disk, nested, env_.dataHome / "flatpak/exports/share/rime-data/x").IsOk());
  nested.dataDirs.push_back(env_.dataHome);  // the user's folder listed again is still the user's
  EXPECT_TRUE(CheckUserPath(disk, nested, env_.dataHome / "fcitx5/table/x.txt").IsOk());
}

TEST_F(PathSafetyTest, ADefaultOutputNeverReplacesItsInput) {
  const fs::path source = dir_ / "x.dict.yaml";
  WriteBytes(source, kRime);
  fs::create_symlink(source, dir_ / "y.dict.yaml");
  for (const std::string& given : {source.string(), At("./x.dict.yaml"), At("y.dict.yaml")}) {
    ExpectSays(1, {"convert", given, "--to", "rime"}, "the default output is the input");
  }
  EXPECT_EQ(ReadBytes(source), kRime);
  Expect(0, {"convert", source.string(), "--to", "rime", "-o", At("o.yaml")});

  // A table named like its tool's default result.
  const fs::path named = dir_ / "[ 去重结果 ].txt";
  WriteBytes(named, "工\ta\n工\ta\n");
  Expect(1, {"dedup", named.string()});
  EXPECT_EQ(ReadBytes(named), "工\ta\n工\ta\n");
  // The batch tools always write that name, so the same source is refused.
  ExpectSays(1, {"batch", "/do=删除重复", "/源码表文件=" + named.string()}, "rename the source");
  EXPECT_EQ(ReadBytes(named), "工\ta\n工\ta\n");
}

TEST_F(PathSafetyTest, AnEndlessInputIsRefusedAtTheMemoryBound) {
  fs::create_symlink("/dev/zero", dir_ / "zero.txt");
  SmallMachine small;
  EXPECT_EQ(Run({"dedup", At("zero.txt")}, small), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "zero.txt: too large: more than 32 MiB"));
  // A table under a Rime name that is a device is no table to list.
  fs::create_symlink("/dev/zero", sys() / "rime-data/zz.dict.yaml");
  EXPECT_EQ(Run({"linux", "list"}, small), 0) << err_.str();
  EXPECT_EQ(out_.str().find("rime:zz"), std::string::npos);
}

TEST_F(PathSafetyTest, NamesWithLineFeedsAndTabsStayOnTheirLine) {
  WriteBytes(sys() / "rime-data/a\nrime:forged\trime\t9\tsystem\t.dict.yaml", kRime);
  ASSERT_TRUE(Expect(0, {"linux", "list"}));
  const std::string listing = out_.str();
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;  // header + 3
  EXPECT_EQ(listing.find('\t'), std::string::npos);
  EXPECT_TRUE(test::Holds(listing, "rime:a\\x0arime:forged\\x09rime"));

  // In a message too.
  Expect(1, {"dedup", At("no\nmirel-tool: ok")});
  const std::string message = err_.str();
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
}

}  // namespace
}  // namespace mirel
