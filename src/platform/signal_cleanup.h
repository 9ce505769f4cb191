// What a termination signal cleans up before the program dies: the process
// keeps, in fixed tables a signal handler may read, the paths of its live
// temporary files and the process groups of the children it runs. On SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2 and SIGPIPE the handler
// removes those files, kills those groups, and lets the same signal end the
// process with its default action, so a shell still sees what killed it.
//
// The handler is installed on first use, and only for signals still at their
// default action: an ignored SIGHUP (nohup) stays ignored, and a program's own
// handler stays in charge. This is the process's one global state; the rest of
// the program reaches it only through these calls. Thread-safe.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <filesystem>

namespace mirel {

// Claims a slot for `file`, removed when a termination signal arrives; -1
// when no slot is free or the path is too long (the file is then simply not
// cleaned up by a signal).
int TrackTempFile(const std::filesystem::path& file);
void ForgetTempFile(int slot);

// The same for a child's process group, killed with SIGKILL.
int TrackChildGroup(pid_t group);
void ForgetChildGroup(int slot);

// Fills `set` with the signals the handler covers.
void CleanupSignals(sigset_t& set);

// Blocks those signals for its lifetime, so that a file or child is never
// created without being tracked.
class CleanupSignalBlock {
 public:
  CleanupSignalBlock();
  ~CleanupSignalBlock();
  CleanupSignalBlock(const CleanupSignalBlock&) = delete;
  CleanupSignalBlock& operator=(const CleanupSignalBlock&) = delete;
  // The mask before the block, for a forked child to restore.
  const sigset_t& previous() const { return old_; }

 private:
  sigset_t old_;
};

// A temporary file of the program's own (outside a replacement) that a signal
// removes; dropped, it only stops tracking.
class TrackedTempFile {
 public:
  explicit TrackedTempFile(const std::filesystem::path& file) : slot_(TrackTempFile(file)) {}
  ~TrackedTempFile() { ForgetTempFile(slot_); }
  TrackedTempFile(const TrackedTempFile&) = delete;
  TrackedTempFile& operator=(const TrackedTempFile&) = delete;

 private:
  int slot_;
};

}  // namespace mirel
