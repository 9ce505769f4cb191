#include "support/writer_faults.h"

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <set>

#include "support/test_support.h"

namespace mirel::test {

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit {};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  old_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit limit {};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = old_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldHandler_);
}

KeptFiles::KeptFiles(std::vector<std::filesystem::path> files) : files_(std::move(files)) {
  for (const auto& file : files_) {
    bytes_.push_back(std::filesystem::exists(file) ? std::optional(ReadBytes(file)) : std::nullopt);
  }
}

void KeptFiles::Restore() const {
  for (size_t k = 0; k < files_.size(); ++k) {
    if (bytes_[k]) {
      WriteBytes(files_[k], *bytes_[k]);
    } else {
      std::filesystem::remove(files_[k]);
    }
  }
}

::testing::AssertionResult KeptFiles::Intact() const {
  std::set<std::filesystem::path> folders;
  for (size_t k = 0; k < files_.size(); ++k) {
    const bool exists = std::filesystem::exists(files_[k]);
    if (bytes_[k].has_value() != exists) {
      return ::testing::AssertionFailure()
             << files_[k] << (exists ? " was created" : " was removed");
    }
    if (exists && ReadBytes(files_[k]) != *bytes_[k]) {
      return ::testing::AssertionFailure() << files_[k] << " lost its old bytes";
    }
    folders.insert(files_[k].parent_path());
  }
  for (const auto& folder : folders) {
    std::vector<std::string> strays = StrayTemps(folder);
    if (!strays.empty()) {
      return ::testing::AssertionFailure() << "a temporary file was left: " << folder / strays[0];
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> StrayTemps(const std::filesystem::path& folder) {
  std::vector<std::string> strays;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".") && name.find(".mirel-") != std::string::npos) strays.push_back(name);
  }
  return strays;
}

::testing::AssertionResult NamesTheFault(std::string_view message, const FaultyFileSystem& fs) {
  if (fs.faultPath().empty()) return ::testing::AssertionFailure() << "no fault was injected";
  const std::string path = fs.faultPath().string();
  const std::string reason = std::strerror(fs.faultError());
  if (message.find(path) == std::string_view::npos) {
    return ::testing::AssertionFailure() << "\"" << message << "\" does not name " << path;
  }
  if (message.find(reason) == std::string_view::npos) {
    return ::testing::AssertionFailure() << "\"" << message << "\" does not say " << reason;
  }
  return ::testing::AssertionSuccess();
}

int FailEachStep(FaultyFileSystem& fs, const KeptFiles& kept, const std::function<Status()>& run,
                 const std::function<void()>& reset) {
  auto restore = [&] {
    kept.Restore();
    if (reset) reset();
  };
  restore();
  fs.Reset();
  EXPECT_OK(run());
  return ForEachInjectedFault(fs, restore, [&](IoStep, int) {
    Status failed = run();
    ASSERT_FALSE(failed.IsOk());
    EXPECT_TRUE(NamesTheFault(failed.message(), fs));
    EXPECT_TRUE(kept.Intact());
  });
}

void TallyFaults(std::string_view writer, int faults) {
  EXPECT_GT(faults, 0) << writer << ": no I/O step was failed";
  std::cout << "[ FAULTS   ] " << writer << ": " << faults << " I/O steps failed\n";
  ::testing::Test::RecordProperty("faults", faults);
}

}  // namespace mirel::test
