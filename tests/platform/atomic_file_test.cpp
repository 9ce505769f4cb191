#include "platform/atomic_file.h"

#include <sys/stat.h>

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

TEST(AtomicFileTest, ReplacesOnlyOnCommitAndKeepsPermissions) {
  ScratchDir dir;
  WriteBytes(dir / "t.txt", "old");
  ::chmod((dir / "t.txt").c_str(), 0640);
  {
    auto file = AtomicFile::Create(dir / "t.txt");
    ASSERT_OK(file);
    file.value()->Write("new", 3);
    EXPECT_EQ(ReadBytes(dir / "t.txt"), "old");
    // Dropped without commit: the old file stays, no temporary is left.
  }
  EXPECT_EQ(ReadBytes(dir / "t.txt"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  auto file = AtomicFile::Create(dir / "t.txt");
  ASSERT_OK(file);
  std::string big(3 << 20, 'z');  // more than one buffer
  file.value()->Write(big.data(), big.size());
  ASSERT_OK(file.value()->Commit());
  EXPECT_EQ(ReadBytes(dir / "t.txt"), big);
  struct stat st;
  ::stat((dir / "t.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // Saving through a link updates the file it names and keeps the link.
  std::filesystem::create_symlink(dir / "t.txt", dir / "link.txt");
  auto linked = AtomicFile::Create(dir / "link.txt");
  ASSERT_OK(linked);
  linked.value()->Write("via link", 8);
  ASSERT_OK(linked.value()->Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(ReadBytes(dir / "t.txt"), "via link");
}

TEST(AtomicFileTest, ReportsFoldersAndUnwritablePlaces) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "sub");
  auto folder = AtomicFile::Create(dir / "sub");
  ASSERT_FALSE(folder.IsOk());
  EXPECT_NE(folder.status().message().find("is a folder"), std::string::npos);
  EXPECT_FALSE(AtomicFile::Create(dir / "missing" / "t.txt").IsOk());
  WriteBytes(dir / "locked.txt", "keep");
  ::chmod((dir / "locked.txt").c_str(), 0444);
  auto locked = AtomicFile::Create(dir / "locked.txt");
  ASSERT_FALSE(locked.IsOk());
  EXPECT_NE(locked.status().message().find("read-only"), std::string::npos);
  EXPECT_EQ(ReadBytes(dir / "locked.txt"), "keep");
  if (::geteuid() != 0) {
    ::chmod((dir / "sub").c_str(), 0500);
    EXPECT_FALSE(AtomicFile::Create(dir / "sub" / "t.txt").IsOk());
  }
}

}  // namespace
}  // namespace mirel
