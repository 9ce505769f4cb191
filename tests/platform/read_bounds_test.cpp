// Resolving paths, and reads bounded by the memory there is: an endless
// device, a growing file and an oversized file are refused without being
// held whole.
#include <algorithm>
#include <chrono>

#include "platform/file_system.h"
#include "store/text_file.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using test::Says;

// The real file system on a machine with `memory` bytes to spare.
class SmallMachine : public ForwardingFileSystem {
 public:
  explicit SmallMachine(uint64_t memory) : ForwardingFileSystem(test::DiskFs()), memory_(memory) {}
  uint64_t MemoryLimit() override { return memory_; }

 private:
  uint64_t memory_;
};

// Regular files that were 4 bytes when opened and never end, as if another
// program kept appending faster than they are read.
class GrowingFiles : public SmallMachine {
 public:
  using SmallMachine::SmallMachine;
  Result<std::unique_ptr<InputFile>> OpenInput(const fs::path& path) override {
    return std::unique_ptr<InputFile>(std::make_unique<Growing>(path, served));
  }
  uint64_t served = 0;

 private:
  class Growing : public InputFile {
   public:
    Growing(fs::path path, uint64_t& served) : InputFile(std::move(path)), served_(served) {}
    Result<size_t> Read(std::span<std::byte> out) override {
      std::fill(out.begin(), out.end(), std::byte{'g'});
      served_ += out.size();
      return out.size();
    }
    Status Rewind() override { return Status::Ok(); }
    uint64_t SizeHint() const override { return 4; }
    bool IsStream() const override { return false; }

   private:
    uint64_t& served_;
  };
};

TEST(ResolveTest, FollowsLinksAndDotsAlsoBelowMissingFolders) {
  test::ScratchDir dir;
  const fs::path root = fs::canonical(dir.path());
  fs::create_directories(root / "real/sub");
  fs::create_directory_symlink(root / "real", root / "link");
  fs::create_symlink("../real/sub", root / "real/up");  // relative, climbing
  fs::create_symlink(root / "nowhere/file", root / "dangling");
  FileSystem& disk = test::DiskFs();
  auto resolved = [&](const fs::path& p) { return disk.Resolve(p).value(); };
  EXPECT_EQ(resolved(root / "link/sub/x.txt"), root / "real/sub/x.txt");
  EXPECT_EQ(resolved(root / "link/up/../x"), root / "real/x");  // ".." after a link: its target's
  EXPECT_EQ(resolved(root / "link/new/a/../b"), root / "real/new/b");
  EXPECT_EQ(resolved(root / "dangling"), root / "nowhere/file");
  EXPECT_EQ(resolved(root / "real/sub/../../link/."), root / "real");
  fs::create_symlink("loop", root / "loop");
  EXPECT_FALSE(disk.Resolve(root / "loop/x").IsOk());

  // "./x" and "x", a link and its target: one file; "-" is none.
  test::WriteBytes(root / "real/t.txt", "t");
  EXPECT_TRUE(SamePath(disk, root / "link/t.txt", root / "real/./t.txt").value());
  EXPECT_FALSE(SamePath(disk, root / "real/t.txt", root / "real/u.txt").value());
  EXPECT_FALSE(SamePath(disk, "-", "-").value());

  std::unique_ptr<FileSystem> memory = test::NewMemoryFileSystem();
  EXPECT_EQ(memory->Resolve("a/b/../c/").value(), "/a/c");
}

TEST(ReadBoundTest, EndlessAndGrowingInputsStopAtTheMemoryBound) {
  test::ScratchDir dir;
  SmallMachine small(64 << 20);  // 32 MiB may be read
  fs::create_symlink("/dev/zero", dir / "zero.txt");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(Says(small.ReadWhole(dir / "zero.txt"),
                   "zero.txt: too large: more than 32 MiB, half the memory"));
  // The text reader too: /dev/zero is one endless line.
  EXPECT_TRUE(Says(ReadTextFileInPieces(small, dir / "zero.txt", [](std::u16string&, uint64_t) {}),
                   "more than 32 MiB"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // A regular file over the bound is refused from its size, unread.
  SmallMachine tiny(2 << 20);
  test::WriteBytes(dir / "big.txt", std::string((1 << 20) + 1, 'x'));
  EXPECT_TRUE(Says(tiny.ReadWhole(dir / "big.txt"), "more than 1 MiB"));
  test::WriteBytes(dir / "fits.txt", std::string(1 << 20, 'x'));
  EXPECT_EQ(tiny.ReadWhole(dir / "fits.txt").value().size(), size_t{1} << 20);
  // A caller's own smaller limit keeps its wording.
  EXPECT_TRUE(Says(tiny.ReadWhole(dir / "fits.txt", 10), "too large (more than 10 bytes)"));

  // A file someone keeps appending to is cut off at the bound, not read to
  // its 4 GiB.
  GrowingFiles growing(2 << 20);
  EXPECT_TRUE(Says(growing.ReadWhole("grows.txt"), "grows.txt: too large: more than 1 MiB"));
  EXPECT_LE(growing.served, uint64_t{2} << 20);
  growing.served = 0;
  EXPECT_TRUE(Says(ReadTextFileInPieces(
                       growing, "grows.txt", [](std::u16string&, uint64_t) {}, 1 << 16),
                   "more than 1 MiB"));
  EXPECT_LE(growing.served, uint64_t{2} << 20);
}

}  // namespace
}  // namespace mirel
