// ProcessRunner: runs work that may crash, hang or run away in a child
// process under limits, so that the program itself survives it. Untrusted
// binary input goes to a library that was never meant to see it (a damaged
// fcitx5 dictionary makes libime crash, spin or eat gigabytes), and outside
// programs (ibus-table-createdb, reload commands) may hang.
//
// Each child runs in a process group of its own, with CPU-time, address-space
// (not under AddressSanitizer, which reserves terabytes) and file-size limits;
// the parent stops it after a wall-clock timeout or when its output passes a
// bound. While a child runs it is tracked (platform/signal_cleanup.h): a
// termination signal to the program ends the child's group too.
//
// The POSIX runner forks; the function run in the child may use only what
// survives a fork (no other thread's locks), which holds for parsing bytes it
// was handed. A runner keeps no state between calls. Tests replace it to
// simulate a crash or a timeout without producing one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace mirel {

struct ChildLimits {
  double cpuSeconds = 60;           // RLIMIT_CPU, rounded up to whole seconds
  double wallSeconds = 120;         // the parent's timeout
  uint64_t memoryBytes = 0;         // address space on top of the parent's; 0: none
  uint64_t fileBytes = 0;           // largest file the child may write; 0: none
  uint64_t outputBytes = 64 << 20;  // what the child may send back
};

// How a child ended. kFinished carries the function's own result (or, for a
// program, its exit code); every other end is the child's fault.
struct ChildOutcome {
  enum class End {
    kFinished,
    kCrashed,         // killed by `signal`
    kTimedOut,        // wall clock or CPU time ran out
    kOutOfMemory,     // the memory limit was reached
    kOutputTooLarge,  // sent more than the output bound
  };
  End end = End::kFinished;
  int signal = 0;
  // kFinished, function: the status the function returned (its output on
  // success); program: its exit code, 127 when it could not be started.
  Status status;
  int exitCode = 0;
  std::string output;
};

// Words for the ends that are no kFinished: "crashed with signal 11
// (Segmentation fault)", "took longer than 20 s", "needed more than 512 MiB",
// "sent more than 64 MiB".
std::string DescribeChildEnd(const ChildOutcome& outcome, const ChildLimits& limits);

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;

  // Runs `work` in a child; what it returns comes back in the outcome (a
  // std::bad_alloc in the child counts as kOutOfMemory when a memory limit
  // is set). Fails only when no child could be made.
  virtual Result<ChildOutcome> RunFunction(const std::function<Result<std::string>()>& work,
                                           const ChildLimits& limits) = 0;

  // Runs a program (argv[0] looked up in PATH, no shell) with standard input
  // from /dev/null and its standard output and error collected in `output`.
  virtual Result<ChildOutcome> RunProgram(const std::vector<std::string>& argv,
                                          const ChildLimits& limits) = 0;
};

std::unique_ptr<ProcessRunner> NewPosixProcessRunner();

}  // namespace mirel
