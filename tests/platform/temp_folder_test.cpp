#include "platform/temp_folder.h"

#include <sys/stat.h>

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ScratchDir;

TEST(TempFolderTest, FolderIsPrivateAndSecondCopyGetsItsOwn) {
  ScratchDir dir;
  auto first = TempFolder::OpenIn(dir.path());
  ASSERT_OK(first);
  struct stat st;
  ASSERT_EQ(::lstat(first.value()->folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(first.value()->folder().filename(), "mirel-" + std::to_string(::getuid()));

  auto second = TempFolder::OpenIn(dir.path());
  ASSERT_OK(second);
  EXPECT_NE(second.value()->folder(), first.value()->folder());
  EXPECT_EQ(second.value()->folder().parent_path(), first.value()->folder());

  // Once the first copy ends, its folder is free again.
  std::filesystem::path firstFolder = first.value()->folder();
  first.value().reset();
  auto third = TempFolder::OpenIn(dir.path());
  ASSERT_OK(third);
  EXPECT_EQ(third.value()->folder(), firstFolder);
}

TEST(TempFolderTest, RefusesFoldersOthersCouldTouch) {
  ScratchDir dir;
  std::filesystem::path folder = dir / ("mirel-" + std::to_string(::getuid()));
  std::filesystem::create_directory(folder);
  ::chmod(folder.c_str(), 0777);
  EXPECT_FALSE(TempFolder::OpenIn(dir.path()).IsOk());
  std::filesystem::remove(folder);

  std::filesystem::create_directory(dir / "elsewhere");
  ::chmod((dir / "elsewhere").c_str(), 0700);
  std::filesystem::create_directory_symlink(dir / "elsewhere", folder);
  auto linked = TempFolder::OpenIn(dir.path());
  ASSERT_FALSE(linked.IsOk());
  EXPECT_NE(linked.status().message().find("symbolic link"), std::string::npos);
}

TEST(TempFolderTest, TempPathRefusesPathsBeyond259Units) {
  ScratchDir dir;
  auto temp = TempFolder::OpenIn(dir.path());
  ASSERT_OK(temp);
  const size_t base = temp.value()->folder().native().size() + 1;
  EXPECT_EQ(temp.value()->TempPath(std::u16string(259 - base, u'a')).native().size(), 259u);
  EXPECT_TRUE(temp.value()->TempPath(std::u16string(260 - base, u'a')).empty());
}

}  // namespace
}  // namespace mirel
