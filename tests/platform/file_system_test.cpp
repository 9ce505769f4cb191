#include "platform/file_system.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

using std::filesystem::path;
using test::FaultyFileSystem;
using test::Says;
using test::ScratchDir;

std::span<const std::byte> Bytes(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  return bytes;
}

// A folder on the disk or in memory, with verbs for its files.
class FolderTest : public testing::Test {
 protected:
  explicit FolderTest(bool disk)
      : fs_(disk ? NewPosixFileSystem() : test::NewMemoryFileSystem()),
        root_(disk ? scratch_.path() : path("/scratch")) {
    EXPECT_OK(fs_->CreateFolders(root_));
  }

  path At(std::string_view name) const { return root_ / name; }
  void Put(std::string_view name, std::string_view bytes) {
    ASSERT_OK(fs_->WriteWhole(At(name), Bytes(bytes)));
  }
  std::string Get(std::string_view name) {
    Result<std::string> read = fs_->ReadWhole(At(name));
    EXPECT_OK(read);
    return read.IsOk() ? read.value() : "<unreadable>";
  }
  std::vector<std::string> Names(std::string_view folder = "") {
    Result<std::vector<path>> names = fs_->ListFolder(folder.empty() ? root_ : At(folder));
    EXPECT_OK(names);
    std::vector<std::string> out;
    if (names.IsOk()) {
      for (const path& name : names.value()) out.push_back(name.string());
    }
    return out;
  }

  ScratchDir scratch_;
  std::unique_ptr<FileSystem> fs_;
  path root_;
};

// The same contract, checked against the disk and against memory.
class FileSystemTest : public FolderTest, public testing::WithParamInterface<bool> {
 protected:
  FileSystemTest() : FolderTest(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Both, FileSystemTest, testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Posix" : "Memory"; });

TEST_P(FileSystemTest, FilesRoundTripAndFoldersList) {
  Put("a.txt", "alpha");
  Put("empty", "");
  // Small pieces and pieces larger than any buffer, in one file.
  const std::string big = Pattern(3 << 20);
  {
    auto out = fs_->ReplaceFile(At("big"));
    ASSERT_OK(out);
    for (size_t at = 0; at < (1 << 20); at += 1000) {
      ASSERT_OK(out.value()->Append(big.data() + at, std::min<size_t>(1000, (1 << 20) - at)));
    }
    ASSERT_OK(out.value()->Append(big.data() + (1 << 20), big.size() - (1 << 20)));
    ASSERT_OK(out.value()->Commit());
  }
  EXPECT_EQ(Get("a.txt"), "alpha");
  EXPECT_EQ(Get("empty"), "");
  EXPECT_EQ(Get("big"), big);

  Result<PathInfo> info = fs_->Query(At("a.txt"));
  ASSERT_OK(info);
  EXPECT_EQ(info->kind, PathKind::kRegular);
  EXPECT_EQ(info->size, 5u);
  EXPECT_TRUE(info->writable);
  EXPECT_EQ(fs_->Query(At("nothing"))->kind, PathKind::kMissing);

  ASSERT_OK(fs_->CreateFolders(At("sub/deeper")));
  ASSERT_OK(fs_->CreateFolders(At("sub/deeper")));
  EXPECT_EQ(fs_->Query(At("sub"))->kind, PathKind::kFolder);
  ASSERT_OK(fs_->CopyFile(At("a.txt"), At("sub/deeper/c.txt")));
  EXPECT_EQ(Get("sub/deeper/c.txt"), "alpha");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "big", "empty", "sub"}));
  EXPECT_EQ(Names("sub"), std::vector<std::string>{"deeper"});

  // A replacement dropped before it is committed changes nothing, leaves nothing.
  {
    auto out = fs_->ReplaceFile(At("a.txt"));
    ASSERT_OK(out);
    ASSERT_OK(out.value()->Append("new", 3));
    ASSERT_OK(out.value()->Sync());
  }
  EXPECT_EQ(Get("a.txt"), "alpha");
  EXPECT_EQ(Names().size(), 4u);

  // Reading twice from the start.
  auto in = fs_->OpenInput(At("a.txt"));
  ASSERT_OK(in);
  EXPECT_FALSE(in.value()->IsStream());
  EXPECT_EQ(in.value()->SizeHint(), 5u);
  std::byte first[3];
  ASSERT_OK(in.value()->Read(first));
  ASSERT_OK(in.value()->Rewind());
  std::byte again[5];
  ASSERT_EQ(in.value()->Read(again).value(), 5u);
  EXPECT_EQ(std::memcmp(again, "alpha", 5), 0);

  ASSERT_OK(fs_->Remove(At("a.txt")));
  ASSERT_OK(fs_->Remove(At("a.txt")));
  EXPECT_EQ(fs_->Query(At("a.txt"))->kind, PathKind::kMissing);
}

TEST_P(FileSystemTest, RefusalsNameThePathAndTheReason) {
  Put("file", "keep");
  ASSERT_OK(fs_->CreateFolders(At("folder")));
  EXPECT_TRUE(Says(fs_->ReadWhole(At("missing")),
                   At("missing").string() + ": cannot open: No such file or directory"));
  EXPECT_TRUE(Says(fs_->OpenInput(At("folder")), "folder: is a folder"));
  EXPECT_TRUE(Says(fs_->ReplaceFile(At("folder")), "folder: is a folder"));
  EXPECT_TRUE(Says(fs_->CreateWorkingFile(At("folder"), {}, 8), "is a folder"));
  EXPECT_TRUE(Says(fs_->Remove(At("folder")), "is a folder"));
  EXPECT_TRUE(Says(fs_->ReplaceFile(At("no/such.txt")), "No such file or directory"));
  EXPECT_TRUE(Says(fs_->WriteWhole(At("file/x"), Bytes("x")), "Not a directory"));
  EXPECT_TRUE(Says(fs_->CreateFolders(At("file/sub")), "Not a directory"));
  EXPECT_TRUE(Says(fs_->ListFolder(At("missing")), "No such file or directory"));
  EXPECT_TRUE(Says(fs_->ReplaceFile(root_ / "sub/"), "no file name"));
  EXPECT_EQ(Get("file"), "keep");
  EXPECT_EQ(Names(), (std::vector<std::string>{"file", "folder"}));
}

TEST_P(FileSystemTest, EveryInjectedFailureKeepsTheOldFile) {
  FaultyFileSystem faulty(*fs_);
  const std::string fresh = Pattern(2 << 20);
  Put("source", fresh);
  const std::vector<std::function<Status()>> writers = {
      [&] { return faulty.WriteWhole(At("t.txt"), Bytes(fresh)); },
      [&] { return faulty.CopyFile(At("source"), At("t.txt")); },
  };
  for (const auto& write : writers) {
    Put("t.txt", "old bytes");
    faulty.Reset();
    ASSERT_OK(write());
    ASSERT_EQ(Get("t.txt"), fresh);
    int injected = test::ForEachInjectedFault(
        faulty, [&] { Put("t.txt", "old bytes"); },
        [&](test::IoStep step, int) {
          Status status = write();
          EXPECT_TRUE(Says(status, std::strerror(test::InjectedError(step))));
          EXPECT_TRUE(Says(status, "t.txt") || Says(status, "source"));
          EXPECT_EQ(Get("t.txt"), "old bytes");
          EXPECT_EQ(Names(), (std::vector<std::string>{"source", "t.txt"}));
        });
    EXPECT_GE(injected, 4);
  }

  // Reads that return less than asked still read everything.
  faulty.ShortReads(7);
  EXPECT_EQ(faulty.ReadWhole(At("source")).value(), fresh);
  ASSERT_OK(faulty.CopyFile(At("source"), At("copy")));
  EXPECT_EQ(Get("copy"), fresh);
}

TEST_P(FileSystemTest, WorkingFilesHoldTheirPiecesAndResizeKeepsBytes) {
  Put("w", std::string(10000, 'x'));  // rewritten, nothing of it may stay
  const std::string head = "head", body = "body";
  auto made = fs_->CreateWorkingFile(At("w"), {Bytes(head), Bytes(body)}, 12);
  ASSERT_OK(made);
  WorkingFile& file = *made.value();
  auto view = [&] { return std::string(reinterpret_cast<const char*>(file.view()), file.size()); };
  EXPECT_EQ(view(), std::string("headbody\0\0\0\0", 12));
  EXPECT_EQ(fs_->Query(At("w"))->size, 12u);

  std::memcpy(file.view() + 8, "tail", 4);
  ASSERT_OK(file.Resize(3 * 4096));
  EXPECT_EQ(view(), "headbodytail" + std::string(3 * 4096 - 12, '\0'));
  ASSERT_OK(file.Sync());
  EXPECT_EQ(Get("w"), view());
  ASSERT_OK(file.Resize(6));
  EXPECT_EQ(view(), "headbo");
  EXPECT_EQ(Get("w"), "headbo");

  const std::byte* before = file.view();
  EXPECT_FALSE(file.Resize(0).IsOk());
  EXPECT_EQ(file.view(), before);
  EXPECT_EQ(view(), "headbo");

  EXPECT_FALSE(fs_->CreateWorkingFile(At("zero"), {}, 0).IsOk());
  EXPECT_FALSE(fs_->CreateWorkingFile(At("small"), {Bytes(head)}, 2).IsOk());
  EXPECT_TRUE(Says(fs_->CreateWorkingFile(At("no/w"), {}, 8), "No such file or directory"));
}

TEST_P(FileSystemTest, NamesAreBytesNeverLookalikes) {
  const std::string invalid = "\xff.txt", replacement = "\xef\xbf\xbd.txt";
  Put(invalid, "invalid");
  Put(replacement, "replacement");
  EXPECT_EQ(Get(invalid), "invalid");
  EXPECT_EQ(Get(replacement), "replacement");
  ASSERT_OK(fs_->CreateFolders(At("\xfe")));
  Put("\xfe/in.txt", "inside");
  EXPECT_EQ(fs_->Query(At("\xef\xbf\xbd"))->kind, PathKind::kMissing);
  EXPECT_EQ(Names(), (std::vector<std::string>{replacement, "\xfe", invalid}));
  EXPECT_EQ(Names("\xfe"), std::vector<std::string>{"in.txt"});
}

TEST_P(FileSystemTest, ReadWholeStopsAtItsLimit) {
  Put("k", std::string(1000, 'k'));
  EXPECT_EQ(fs_->ReadWhole(At("k"), 1000).value().size(), 1000u);
  EXPECT_TRUE(Says(fs_->ReadWhole(At("k"), 999), "k: too large (more than 999 bytes)"));
}

// ---- What only a real file system has: links, devices, owners, signals ----

class PosixFileSystemTest : public FolderTest {
 protected:
  PosixFileSystemTest() : FolderTest(true) {}
};

TEST_F(PosixFileSystemTest, RealWriteAndGrowthFailuresChangeNothing) {
  auto made = fs_->CreateWorkingFile(At("w"), {Bytes("keep")}, 4096);
  ASSERT_OK(made);
  WorkingFile& file = *made.value();
  test::WriteBytes(At("t.txt"), "old");
  {
    test::FileSizeLimit limit(64 << 10);
    const std::byte* before = file.view();
    EXPECT_TRUE(Says(file.Resize(1 << 20), "w: cannot grow to 1048576 bytes: File too large"));
    EXPECT_EQ(file.view(), before);
    EXPECT_EQ(file.size(), 4096u);
    EXPECT_EQ(std::memcmp(file.view(), "keep", 4), 0);
    EXPECT_EQ(std::filesystem::file_size(At("w")), 4096u);
    EXPECT_TRUE(Says(fs_->CreateWorkingFile(At("w2"), {}, 1 << 20), "File too large"));

    auto out = fs_->ReplaceFile(At("t.txt"));
    ASSERT_OK(out);
    const std::string big = Pattern(3 << 20);
    Status failed = out.value()->Append(big.data(), big.size());
    EXPECT_TRUE(Says(failed, "t.txt: cannot write: File too large"));
    EXPECT_EQ(out.value()->Append("x", 1).message(), failed.message());
    EXPECT_EQ(out.value()->Commit().message(), failed.message());
  }
  EXPECT_EQ(test::ReadBytes(At("t.txt")), "old");
  EXPECT_EQ(Names(), (std::vector<std::string>{"t.txt", "w", "w2"}));
  ASSERT_OK(file.Resize(1 << 20));
  EXPECT_EQ(std::memcmp(file.view(), "keep", 4), 0);
}

TEST_F(PosixFileSystemTest, OnlyRegularFilesAreReplaced) {
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/null", At("null"));
  EXPECT_TRUE(Says(fs_->ReplaceFile(At("fifo")), "fifo: is not a regular file (a FIFO)"));
  EXPECT_TRUE(Says(fs_->WriteWhole(At("null"), Bytes("x")),
                   "null: is not a regular file (a character device)"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "null"}));
  EXPECT_TRUE(std::filesystem::is_fifo(At("fifo")));
  EXPECT_EQ(std::filesystem::read_symlink(At("null")), "/dev/null");

  Result<PathInfo> null = fs_->Query(At("null"));
  EXPECT_EQ(null->kind, PathKind::kStream);
  EXPECT_TRUE(null->isLink);
  EXPECT_EQ(fs_->Query(At("fifo"))->kind, PathKind::kStream);
}

TEST_F(PosixFileSystemTest, LinksAreWrittenThrough) {
  std::filesystem::create_directory(At("sub"));
  std::filesystem::create_symlink("sub/real.txt", At("dangling"));
  EXPECT_EQ(fs_->Query(At("dangling"))->kind, PathKind::kMissing);
  EXPECT_TRUE(fs_->Query(At("dangling"))->isLink);
  auto out = fs_->ReplaceFile(At("dangling"));
  ASSERT_OK(out);
  EXPECT_EQ(out.value()->target(), At("sub/real.txt"));
  ASSERT_OK(out.value()->Append("through", 7));
  ASSERT_OK(out.value()->Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(At("dangling")));
  EXPECT_EQ(test::ReadBytes(At("sub/real.txt")), "through");

  // A chain, the last link absolute, ending in a file whose mode stays.
  ::chmod(At("sub/real.txt").c_str(), 0640);
  std::filesystem::create_symlink(At("sub/real.txt"), At("sub/abs"));
  std::filesystem::create_symlink("sub/abs", At("chain"));
  ASSERT_OK(fs_->WriteWhole(At("chain"), Bytes("chained")));
  EXPECT_EQ(test::ReadBytes(At("sub/real.txt")), "chained");
  EXPECT_EQ(std::filesystem::status(At("sub/real.txt")).permissions(),
            std::filesystem::perms(0640));
  EXPECT_TRUE(std::filesystem::is_symlink(At("chain")));

  std::filesystem::create_symlink("loop2", At("loop1"));
  std::filesystem::create_symlink("loop1", At("loop2"));
  EXPECT_TRUE(Says(fs_->WriteWhole(At("loop1"), Bytes("x")), "Too many levels of symbolic links"));
}

TEST_F(PosixFileSystemTest, ReplacementRespectsAccessModeAndOwner) {
  test::WriteBytes(At("locked"), "keep");
  ::chmod(At("locked").c_str(), 0444);
  EXPECT_TRUE(Says(fs_->WriteWhole(At("locked"), Bytes("x")), "locked: is read-only"));
  EXPECT_EQ(test::ReadBytes(At("locked")), "keep");

  mode_t mask = ::umask(027);
  ASSERT_OK(fs_->WriteWhole(At("new"), Bytes("x")));
  ::umask(mask);
  EXPECT_EQ(std::filesystem::status(At("new")).permissions(), std::filesystem::perms(0640));

  if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
  constexpr uid_t kNobody = 65534;
  test::WriteBytes(At("theirs"), "theirs");
  ASSERT_EQ(::chown(At("theirs").c_str(), kNobody, kNobody), 0);
  ::chmod(At("theirs").c_str(), 0604);
  ASSERT_OK(fs_->WriteWhole(At("theirs"), Bytes("replaced")));
  struct stat st;
  ASSERT_EQ(::stat(At("theirs").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  // In a folder the user owns, root's 0644 file is still not the user's to replace.
  std::filesystem::create_directory(At("home"));
  ASSERT_EQ(::chown(At("home").c_str(), kNobody, kNobody), 0);
  ::chmod(root_.c_str(), 0711);
  test::WriteBytes(At("home/roots.txt"), "root's");
  ::chmod(At("home/roots.txt").c_str(), 0644);
  pid_t child = ::fork();
  if (child == 0) {
    if (::setegid(kNobody) != 0 || ::seteuid(kNobody) != 0) ::_exit(10);
    auto fs = NewPosixFileSystem();
    Status refused = fs->WriteWhole(At("home/roots.txt"), Bytes("mine"));
    if (refused.IsOk() || refused.message().find("Permission denied") == std::string::npos)
      ::_exit(11);
    if (!fs->WriteWhole(At("home/own.txt"), Bytes("mine")).IsOk()) ::_exit(12);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: setuid, 11: replaced root's file, 12: own file";
  EXPECT_EQ(test::ReadBytes(At("home/roots.txt")), "root's");
  ASSERT_EQ(::stat(At("home/roots.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
}

TEST_F(PosixFileSystemTest, StaleTempFilesOfEndedProcessesAreRemoved) {
  pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const std::string dead = std::to_string(ended), self = std::to_string(::getpid());
  const std::vector<std::string> kept = {
      ".t.txt.mirel-1-abcdef",             // its process still runs
      ".t.txt.mirel-" + self + "-abcdef",  // ours: perhaps another save in progress
      ".u.txt.mirel-" + dead + "-abcdef",  // another target's
  };
  for (const std::string& name : kept) test::WriteBytes(At(name), "");
  test::WriteBytes(At(".t.txt.mirel-" + dead + "-abcdef"), std::string(1000, 's'));
  ASSERT_OK(fs_->WriteWhole(At("t.txt"), Bytes("new")));
  std::vector<std::string> expected = kept;
  expected.push_back("t.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(), expected);
}

TEST_F(PosixFileSystemTest, SignalsRemoveTheTempFileOfAnUnfinishedSave) {
  test::WriteBytes(At("t.txt"), "old");
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE}) {
    SCOPED_TRACE(strsignal(sig));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
      ::signal(sig, SIG_DFL);  // as in a shell, not under nohup
      auto fs = NewPosixFileSystem();
      auto out = fs->ReplaceFile(At("t.txt"));
      if (!out.IsOk() || !out.value()->Append("partial", 7).IsOk() || !out.value()->Sync().IsOk()) {
        ::_exit(1);
      }
      (void)!::write(ready[1], "r", 1);
      while (true) ::pause();
    }
    ::close(ready[1]);
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(Names().size(), 2u);
    ::kill(child, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
    EXPECT_EQ(Names(), std::vector<std::string>{"t.txt"});
    EXPECT_EQ(test::ReadBytes(At("t.txt")), "old");
  }
}

TEST_F(PosixFileSystemTest, StreamsAreReadToTheirEndOrTheLimit) {
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0600), 0);
  const std::string sent = Pattern(300000);  // more than a pipe holds
  std::thread writer([&] { test::WriteBytes(At("fifo"), sent); });
  Result<std::string> received = fs_->ReadWhole(At("fifo"));
  writer.join();
  ASSERT_OK(received);
  EXPECT_EQ(received.value(), sent);

  auto zero = fs_->OpenInput("/dev/zero");
  ASSERT_OK(zero);
  EXPECT_TRUE(zero.value()->IsStream());
  EXPECT_FALSE(zero.value()->Rewind().IsOk());
  EXPECT_TRUE(
      Says(fs_->ReadWhole("/dev/zero", 1 << 20), "/dev/zero: too large (more than 1048576 bytes)"));
}

TEST_F(PosixFileSystemTest, DashIsStandardInputAndOutput) {
  int in[2], out[2];
  ASSERT_EQ(::pipe(in), 0);
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::write(in[1], "from a pipe", 11), 11);
  ::close(in[1]);
  int savedIn = ::dup(STDIN_FILENO), savedOut = ::dup(STDOUT_FILENO);
  ::dup2(in[0], STDIN_FILENO);
  ::dup2(out[1], STDOUT_FILENO);
  Result<std::string> read = fs_->ReadWhole("-");
  auto input = fs_->OpenInput("-");
  Status written = fs_->WriteWhole("-", Bytes("to a pipe"));
  ::dup2(savedIn, STDIN_FILENO);
  ::dup2(savedOut, STDOUT_FILENO);
  for (int fd : {savedIn, savedOut, in[0], out[1]}) ::close(fd);

  ASSERT_OK(read);
  EXPECT_EQ(read.value(), "from a pipe");
  ASSERT_OK(input);
  EXPECT_TRUE(input.value()->IsStream());
  ASSERT_OK(written);
  char buffer[32] = {};
  EXPECT_EQ(::read(out[0], buffer, sizeof buffer), 9);
  EXPECT_STREQ(buffer, "to a pipe");
  ::close(out[0]);
  EXPECT_FALSE(std::filesystem::exists("-"));
}

TEST_F(PosixFileSystemTest, AFileCutShortWhileReadIsReportedNotACrash) {
  const std::string bytes = Pattern(4 << 20);
  test::WriteBytes(At("big"), bytes);
  auto in = fs_->OpenInput(At("big"));
  ASSERT_OK(in);
  std::string chunk(1 << 20, '\0');
  ASSERT_EQ(in.value()->Read(std::as_writable_bytes(std::span(chunk))).value(), chunk.size());
  ASSERT_EQ(::truncate(At("big").c_str(), 200000), 0);  // as `cp new old` does
  Result<size_t> got = 0;
  while ((got = in.value()->Read(std::as_writable_bytes(std::span(chunk)))).IsOk() &&
         got.value() > 0) {
  }
  EXPECT_TRUE(Says(got, "big: shrank while it was read (ended after 1048576 of 4194304 bytes)"));
}

}  // namespace
}  // namespace mirel
