// A file system that fails chosen I/O steps of another one, for testing that
// every writer keeps the old file and says why when the disk fails it.
//
// Steps are counted by kind from the last Reset. A test runs its writer once
// to count the steps, then for each kind and each step k fails step k and
// checks that nothing was lost (ForEachInjectedFault does the loop). Files
// handed out are wrapped, so their calls count too; they must not outlive the
// FaultyFileSystem. Not thread-safe.
#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <string>

#include "platform/file_system.h"

namespace mirel::test {

enum class IoStep {
  kRead,    // InputFile::Read
  kWrite,   // OutputFile::Append
  kSync,    // OutputFile::Sync, WorkingFile::Sync
  kRename,  // OutputFile::Publish
  kGrow,    // creating a working file, WorkingFile::Resize
  kOpen,    // OpenInput, ReplaceFile, CreateWorkingFile
};
inline constexpr IoStep kAllIoSteps[] = {IoStep::kRead,   IoStep::kWrite, IoStep::kSync,
                                         IoStep::kRename, IoStep::kGrow,  IoStep::kOpen};
const char* IoStepName(IoStep step);

class FaultyFileSystem : public ForwardingFileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base) : ForwardingFileSystem(base) {}

  // The n-th step of that kind from now (0-based) fails with strerror(err);
  // the steps after it succeed again.
  void FailAt(IoStep step, int n, int err = ENOSPC);
  // Every Read returns at most `max` bytes (0: no limit).
  void ShortReads(size_t max) { shortReads_ = max; }
  // Steps of that kind seen since the last Reset.
  int Count(IoStep step) const;
  // Clears the counts, the pending fault and short reads.
  void Reset();

  Result<std::unique_ptr<InputFile>> OpenInput(const std::filesystem::path& path) override;
  Result<std::unique_ptr<OutputFile>> ReplaceFile(const std::filesystem::path& target) override;
  Result<std::unique_ptr<WorkingFile>> CreateWorkingFile(
      const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) override;

  // Counts one step; the injected failure when it is the chosen one. The
  // message reads like the real one: "path: what: No space left on device".
  Status Step(IoStep step, const std::filesystem::path& path, const std::string& what);
  size_t shortReads() const { return shortReads_; }
  // The path and errno of the fault injected since the last Reset; an empty
  // path when none was.
  const std::filesystem::path& faultPath() const { return faultPath_; }
  int faultError() const { return faultError_; }

 private:
  struct Fault {
    int at;
    int err;
  };
  std::map<IoStep, int> counts_;
  std::map<IoStep, Fault> faults_;
  size_t shortReads_ = 0;
  std::filesystem::path faultPath_;
  int faultError_ = 0;
};

// The errno ForEachInjectedFault uses for a kind of step.
int InjectedError(IoStep step);

// For every step that the run just before counted (fs.Count since its last
// Reset): calls `reset` to restore the starting state, resets `fs`, fails
// that step with InjectedError(step) and calls `run(step, k)`, which runs
// the writer again and checks the outcome. A fault the run never reached is
// reported as a test failure. Returns the number of faults injected.
int ForEachInjectedFault(FaultyFileSystem& fs, const std::function<void()>& reset,
                         const std::function<void(IoStep, int)>& run);

}  // namespace mirel::test
