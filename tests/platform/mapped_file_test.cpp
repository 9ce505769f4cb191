#include "platform/mapped_file.h"

#include <sys/stat.h>

#include <cstring>

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

TEST(MappedFileTest, ExistingFilesMapOrFallBackToACopy) {
  ScratchDir dir;
  EXPECT_EQ(MappedFile::MapExisting(dir / "missing"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_EQ(MappedFile::MapExisting(dir.path()), nullptr);

  WriteBytes(dir / "empty", "");
  auto empty = MappedFile::MapExisting(dir / "empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->inMemory());
  EXPECT_EQ(empty->size(), 10u);
  EXPECT_EQ(std::memcmp(empty->view(), std::string(10, '\0').data(), 10), 0);

  WriteBytes(dir / "data", "hello");
  auto mapped = MappedFile::MapExisting(dir / "data");
  ASSERT_NE(mapped, nullptr);
  EXPECT_FALSE(mapped->inMemory());
  EXPECT_EQ(mapped->size(), 5u);
  std::memcpy(mapped->view(), "J", 1);
  mapped->Close(true);
  EXPECT_EQ(ReadBytes(dir / "data"), "Jello");

  // A file we may only read becomes a copy; changing the copy changes nothing.
  if (::geteuid() != 0) {
    ::chmod((dir / "data").c_str(), 0400);
    auto copy = MappedFile::MapExisting(dir / "data");
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->inMemory());
    EXPECT_EQ(copy->size(), 15u);
    std::memcpy(copy->view(), "X", 1);
    copy.reset();
    EXPECT_EQ(ReadBytes(dir / "data"), "Jello");
  }
}

TEST(MappedFileTest, CreateTruncatesAndResizeKeepsBytes) {
  ScratchDir dir;
  WriteBytes(dir / "f", std::string(100, 'x'));
  auto file = MappedFile::Create(dir / "f", 8);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::filesystem::file_size(dir / "f"), 8u);
  EXPECT_EQ(std::memcmp(file->view(), std::string(8, '\0').data(), 8), 0);
  std::memcpy(file->view(), "abcdefgh", 8);
  ASSERT_TRUE(file->Resize(4096 * 3));
  EXPECT_EQ(file->size(), 4096u * 3);
  EXPECT_EQ(std::memcmp(file->view(), "abcdefgh", 8), 0);
  EXPECT_EQ(std::memcmp(file->view() + 8, std::string(4096 * 3 - 8, '\0').data(), 4096 * 3 - 8), 0);
  file->Close(true);
  EXPECT_EQ(ReadBytes(dir / "f").substr(0, 8), "abcdefgh");

  EXPECT_EQ(MappedFile::Create(dir / "zero", 0), nullptr);
  EXPECT_EQ(MappedFile::Create(dir / "no" / "such" / "folder", 8), nullptr);
}

}  // namespace
}  // namespace mirel
