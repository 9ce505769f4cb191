#include "platform/mapped_file.h"

#include <sys/stat.h>

#include <cstring>
#include <span>

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

TEST(MappedFileTest, FilledAndCopiedFilesHoldExactlyTheirNewContents) {
  ScratchDir dir;
  // Rewriting a longer file leaves nothing of it behind the new contents.
  WriteBytes(dir / "f", std::string(10000, 'x'));
  const std::string head = "head", body = "body";
  auto filled = MappedFile::CreateFilled(
      dir / "f", {std::as_bytes(std::span(head)), std::as_bytes(std::span(body))}, 12);
  ASSERT_NE(filled, nullptr);
  EXPECT_EQ(ReadBytes(dir / "f"), std::string("headbody\0\0\0\0", 12));
  EXPECT_EQ(MappedFile::CreateFilled(dir / "g", {std::as_bytes(std::span(head))}, 2), nullptr);

  // A copy sees what was written through the source's mapping.
  std::memcpy(filled->view() + 8, "tail", 4);
  auto copy = MappedFile::CreateCopy(dir / "c", *filled, 12, 16);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy->view()), 16),
            std::string("headbodytail\0\0\0\0", 16));
  // So does a copy of an in-memory copy.
  auto memory = MappedFile::MapExisting(dir / "empty-source");
  WriteBytes(dir / "empty-source", "");
  memory = MappedFile::MapExisting(dir / "empty-source");
  ASSERT_NE(memory, nullptr);
  std::memcpy(memory->view(), "mem", 3);
  auto fromMemory = MappedFile::CreateCopy(dir / "m", *memory, 3, 5);
  ASSERT_NE(fromMemory, nullptr);
  EXPECT_EQ(ReadBytes(dir / "m"), std::string("mem\0\0", 5));
}

}  // namespace
}  // namespace mirel
