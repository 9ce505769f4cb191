// libime's reader behind the child process: Debian's own dictionaries with
// bits flipped must fail as damaged tables, never crash or hang the caller;
// and an ibus-table build that is interrupted leaves the user's folder alone.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

#include "convert/linux_fixtures.h"
#include "ime/linux_tables.h"
#include "support/test_support.h"

namespace mirel {
namespace {

namespace fs = std::filesystem;
using linux_table::ReadFcitxBinary;
using linux_table::ReadResult;

std::string Flipped(std::string bytes, size_t at, int bit) {
  bytes.at(at) = static_cast<char>(bytes.at(at) ^ (1 << bit));
  return bytes;
}

// The real runner with the clock cut short, so that a spinning mutant costs
// a fraction of a second instead of the seconds a real table is given.
class ShortClockRunner : public ProcessRunner {
 public:
  explicit ShortClockRunner(double seconds) : seconds_(seconds) {}
  Result<ChildOutcome> RunFunction(const std::function<Result<std::string>()>& work,
                                   const ChildLimits& limits) override {
    ChildLimits shorter = limits;
    shorter.cpuSeconds = std::min(limits.cpuSeconds, std::max(seconds_, 1.0));
    shorter.wallSeconds = std::min(limits.wallSeconds, seconds_);
    return real_->RunFunction(work, shorter);
  }
  Result<ChildOutcome> RunProgram(const std::vector<std::string>& argv,
                                  const ChildLimits& limits) override {
    return real_->RunProgram(argv, limits);
  }

 private:
  double seconds_;
  std::unique_ptr<ProcessRunner> real_ = NewPosixProcessRunner();
};

const fs::path kCj = "/usr/share/libime/cj.main.dict";

// A bit flip that made libime spin is a damaged table within the limit
// (a few seconds of CPU for a table this size); one that made it crash, in
// the user's copy, shows in the list as damaged with the reason, and the
// other tables are still counted.
TEST(FcitxChildTest, FlippedBitsThatCrashedOrHungAreDamagedTables) {
  if (!fs::exists(kCj)) GTEST_SKIP() << kCj << " is not installed (libime-data)";
  const std::string cj = test::ReadBytes(kCj);
  const auto start = std::chrono::steady_clock::now();
  Result<ReadResult> spun = ReadFcitxBinary(Flipped(cj, 74341, 1));
  ASSERT_FALSE(spun.IsOk());
  EXPECT_TRUE(spun.status().message().starts_with("damaged fcitx5 table: took longer than"))
      << spun.status().message();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30);

  test::ScratchDir dir;
  LinuxEnvironment env;
  env.dataHome = dir / "home";
  env.configHome = dir / "config";
  env.dataDirs = {dir / "sys"};
  fs::create_directories(dir / "sys/fcitx5/inputmethod");
  fs::create_directories(dir / "sys/fcitx5/table");
  fs::create_directories(dir / "home/fcitx5/table");
  test::WriteBytes(dir / "sys/fcitx5/inputmethod/cj.conf",
                   "[InputMethod]\nName=CJ\n\n[Table]\nFile=table/cj.main.dict\n");
  test::WriteBytes(dir / "sys/fcitx5/table/cj.main.dict", cj);
  test::WriteBytes(dir / "home/fcitx5/table/cj.main.dict", Flipped(cj, 80811, 4));
  Result<std::vector<LinuxTableInfo>> listed = ListLinuxTables(test::DiskFs(), env, true);
  ASSERT_OK(listed);
  ASSERT_EQ(listed->size(), 1u);
  const LinuxTableInfo& table = listed->front();
  EXPECT_TRUE(table.overrides);
  EXPECT_EQ(table.rows, -1);
  EXPECT_EQ(table.readError.code(), Status::Code::kCorrupt);
  EXPECT_NE(table.readError.message().find("damaged fcitx5 table: crashed with signal"),
            std::string::npos)
      << table.readError.message();
}

TEST(FcitxChildTest, RandomMutantsOfDebiansDictionariesNeverCrashOrHangTheCaller) {
  std::vector<fs::path> dicts = test::DebianTables(
      {{"/usr/share/libime", ".main.dict"}, {"/usr/share/fcitx5/table", ".main.dict"}});
  if (dicts.empty()) GTEST_SKIP() << "no .main.dict of Debian is installed";
  dicts.resize(std::min<size_t>(dicts.size(), 2));  // the small ones keep it to seconds
  const unsigned seed = std::random_device{}();
  std::cout << "[ SEED     ] " << seed << "\n";
  std::mt19937 random(seed);
  const int mutants = test::kSanitized ? 40 : 300;
  ShortClockRunner runner(0.25);
  int read = 0, refused = 0, damaged = 0, crashed = 0, spun = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int m = 0; m < mutants; ++m) {
    std::string bytes = test::ReadBytes(dicts[m % dicts.size()]);
    const int changes = 1 + static_cast<int>(random() % 20);
    for (int c = 0; c < changes; ++c) {
      bytes[random() % bytes.size()] = static_cast<char>(random());
    }
    Result<ReadResult> got = ReadFcitxBinary(bytes, runner);
    if (got.IsOk()) {
      ++read;
    } else if (got.status().message().starts_with("damaged fcitx5 table")) {
      ++damaged;
      crashed += got.status().message().find("crashed") != std::string::npos;
      spun += got.status().message().find("took longer") != std::string::npos;
    } else {
      ++refused;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[ MUTANTS  ] tried " << mutants << ", read " << read << ", refused by libime "
            << refused << ", damaged " << damaged << " (crashed " << crashed << ", spun " << spun
            << ") in " << seconds << " s\n";
  EXPECT_EQ(read + refused + damaged, mutants);
  EXPECT_LT(seconds, mutants * 0.5 + 10);
}

// SIGTERM while ibus-table-createdb runs: the user's folder stays as it was,
// nothing is left in the private folder, and the tool is ended too.
TEST(FcitxChildTest, InterruptedIbusInstallLeavesTheUserFolderAndEndsTheTool) {
  test::ScratchDir dir;
  const fs::path bin = dir / "bin", tables = dir / "home/ibus-table/tables";
  const fs::path scratch = dir / "scratch";
  fs::create_directories(bin);
  fs::create_directories(tables);
  fs::create_directories(scratch);
  // Writes part of the database, says where it runs, then takes its time.
  test::WriteBytes(bin / "ibus-table-createdb",
                   "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -n ] && db=$2; shift; done\n"
                   "printf 'SQLite format 3' > \"$db\"\necho $$ > \"" +
                       (dir / "pid").string() + "\"\nexec sleep 60\n");
  fs::permissions(bin / "ibus-table-createdb", fs::perms::owner_all);
  test::WriteBytes(tables / "ii.db", "old database");

  Result<ReadResult> source = linux_table::ReadIbusSource(
      "BEGIN_DEFINITION\nNAME = ii\nVALID_INPUT_CHARS = abc\nMAX_KEY_LENGTH = 3\n"
      "END_DEFINITION\nBEGIN_TABLE\na\t工\t10\nab\t式\t5\nEND_TABLE\n");
  ASSERT_OK(source);
  LinuxTableInfo target;
  target.name = "ibus-table:ii";
  target.ime = LinuxIme::kIbusTable;
  target.format = linux_table::LinuxFormat::kIbusDatabase;
  target.path = target.userPath = tables / "ii.db";
  target.userPaths = {target.userPath};
  target.environment.dataHome = dir / "home";
  target.environment.configHome = dir / "config";

  pid_t mirel = ::fork();
  if (mirel == 0) {
    ::signal(SIGTERM, SIG_DFL);
    ::setenv("PATH", (bin.string() + ":/usr/bin:/bin").c_str(), 1);
    auto runner = NewPosixProcessRunner();
    const IbusBuild build{*runner, scratch};
    std::vector<linux_table::Diagnostic> diagnostics;
    (void)InstallLinuxTable(test::DiskFs(), target, source->table, diagnostics, &build);
    ::_exit(0);
  }
  const std::string tool = test::WaitForLine(dir / "pid", 10);
  ASSERT_FALSE(tool.empty());
  ::kill(mirel, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(mirel, &status, 0), mirel);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_TRUE(test::ProcessEnds(std::stol(tool), 5));
  std::vector<std::string> left;
  for (const fs::path& folder : {tables, scratch}) {
    for (const auto& e : fs::directory_iterator(folder)) left.push_back(e.path().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{(tables / "ii.db").string()});
  EXPECT_EQ(test::ReadBytes(tables / "ii.db"), "old database");
}

}  // namespace
}  // namespace mirel
