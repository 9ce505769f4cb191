// Checks shared by the tests that fail each I/O step of a writer in turn:
// the files a failed run must leave alone, the message it must give, and a
// tally of the faults injected per writer for the test log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/faulty_file_system.h"

namespace mirel::test {

// Files whose bytes (or absence) a failed run must keep, and whose folders it
// must leave without a temporary file of a replacement.
class KeptFiles {
 public:
  // Takes the present bytes of each file; a missing file must stay missing.
  explicit KeptFiles(std::vector<std::filesystem::path> files);
  // Puts the bytes taken back, for the next run.
  void Restore() const;
  ::testing::AssertionResult Intact() const;

 private:
  std::vector<std::filesystem::path> files_;
  std::vector<std::optional<std::string>> bytes_;
};

// Lowers the size a file may reach while it lives, as a full quota would:
// writes past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t old_ = 0;
  void (*oldHandler_)(int) = nullptr;
};

// The temporary files of replacements (".NAME.mirel-...") in `folder`.
std::vector<std::string> StrayTemps(const std::filesystem::path& folder);

// The message names the path the injected fault hit and the OS's reason for
// it ("No space left on device").
::testing::AssertionResult NamesTheFault(std::string_view message, const FaultyFileSystem& fs);

// Runs `run` as it should go, then once with each of its I/O steps failing
// (`reset` and the kept files' old bytes restored first): each such run must
// fail naming the fault and leave `kept` intact. Returns the faults injected.
int FailEachStep(FaultyFileSystem& fs, const KeptFiles& kept, const std::function<Status()>& run,
                 const std::function<void()>& reset = {});

// Writes "[ FAULTS   ] writer: N I/O steps failed" to the test log and records
// the count as a property of the test; no fault at all fails the test.
void TallyFaults(std::string_view writer, int faults);

}  // namespace mirel::test
