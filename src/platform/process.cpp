#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <thread>

#include "platform/messages.h"
#include "platform/signal_cleanup.h"

#if defined(__SANITIZE_ADDRESS__)
#define MIREL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIREL_ASAN 1
#endif
#endif

namespace mirel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = uint64_t{1} << 20;

// The child's report: one byte of Status::Code, then the output (on success)
// or the message.
constexpr size_t kHeader = 1;

Status StatusFrom(Status::Code code, const std::string& message) {
  switch (code) {
    case Status::Code::kOk:
      return Status::Ok();
    case Status::Code::kIoError:
      return Status::IoError("", message);
    case Status::Code::kCorrupt:
      return Status::Corrupt("", message);
    case Status::Code::kInvalidArgument:
      return Status::InvalidArgument("", message);
    case Status::Code::kUnsupported:
      return Status::Unsupported("", message);
    case Status::Code::kNoMemory:
      return Status::NoMemory("");
  }
  return Status::Corrupt("", message);
}

bool MemoryLimitApplies(const ChildLimits& limits) {
#ifdef MIREL_ASAN
  (void)limits;
  return false;  // the sanitizer's shadow memory is terabytes of address space
#else
  return limits.memoryBytes != 0;
#endif
}

void WriteAllOrDie(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(3);
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// The address space the child starts with, from /proc/self/statm; the limit
// is put on top of it, since a child of a large program inherits its mappings.
uint64_t AddressSpaceNow() {
  int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[64] = {};
  ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  uint64_t pages = 0;
  for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    pages = pages * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
  struct rlimit now {};
  if (::getrlimit(resource, &now) != 0) return;
  if (now.rlim_max != RLIM_INFINITY) {
    soft = std::min(soft, now.rlim_max);
    hard = std::min(hard, now.rlim_max);
  }
  struct rlimit wanted {
    soft, hard
  };
  ::setrlimit(resource, &wanted);
}

// Runs in the child between fork and its work: its own group, default
// signal actions, the parent's signal mask, the limits.
void PrepareChild(const ChildLimits& limits, const sigset_t& mask, int output) {
  ::setpgid(0, 0);
  sigset_t set;
  CleanupSignals(set);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&set, sig) == 1) ::signal(sig, SIG_DFL);
  }
  // The limits' signals, and the faults, end the child with their own
  // signal whatever handler the parent has (a fuzzer's, a sanitizer's).
  for (int sig : {SIGXFSZ, SIGXCPU, SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
    ::signal(sig, SIG_DFL);
  }
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);

  const auto cpu = static_cast<rlim_t>(std::ceil(std::max(limits.cpuSeconds, 1.0)));
  SetLimit(RLIMIT_CPU, cpu, cpu + 1);
  if (limits.fileBytes != 0) SetLimit(RLIMIT_FSIZE, limits.fileBytes, limits.fileBytes);
  SetLimit(RLIMIT_CORE, 0, 0);  // a damaged input is no reason for a core file
  if (MemoryLimitApplies(limits)) {
    const rlim_t space = AddressSpaceNow() + limits.memoryBytes;
    SetLimit(RLIMIT_AS, space, space);
  }
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) ::dup2(null, 0);
  if (output >= 0) {
    ::dup2(output, 1);
    ::dup2(output, 2);
  } else if (null >= 0) {
    ::dup2(null, 1);
    ::dup2(null, 2);
  }
}

class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return fds_[0] >= 0; }
  int read() const { return fds_[0]; }
  int write() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fds_[2];
};

// A started child: its group tracked for signals until it is reaped.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid), slot_(TrackChildGroup(pid)) {}
  ~Child() {
    if (!reaped_) {
      Kill();
      Reap();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Kill() { ::kill(-pid_, SIGKILL); }
  // True once the child has ended (left a zombie, still tracked).
  bool Ended() {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_;
  }
  // Waits for the child; its wait status. The group is forgotten before the
  // pid can be reused.
  int Reap() {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    ForgetChildGroup(slot_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_;
  int slot_;
  bool reaped_ = false;
};

// Collects the child's output until it closes its end, the deadline passes
// or the bound is passed, then waits for it.
ChildOutcome Collect(Child& child, int fd, const ChildLimits& limits, uint64_t bound) {
  ChildOutcome outcome;
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(std::max(limits.wallSeconds, 0.001)));
  bool timedOut = false, tooLarge = false, open = true;
  char buffer[65536];
  while (open) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    struct pollfd p {
      fd, POLLIN, 0
    };
    int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 100)));
    if (ready < 0 && errno != EINTR) break;
    if (ready == 0 && child.Ended()) break;  // a daemon it started may hold the pipe
    if (ready <= 0) continue;
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      open = false;
      break;
    }
    if (outcome.output.size() + static_cast<size_t>(n) > bound) {
      tooLarge = true;
      break;
    }
    try {
      outcome.output.append(buffer, static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
      tooLarge = true;
      break;
    }
  }
  // The output is closed; a child that goes on running still has the rest
  // of the time.
  while (!timedOut && !tooLarge && !child.Ended()) {
    if (Clock::now() >= deadline) {
      timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (timedOut || tooLarge) child.Kill();
  const int status = child.Reap();
  if (tooLarge) {
    outcome.end = ChildOutcome::End::kOutputTooLarge;
  } else if (timedOut) {
    outcome.end = ChildOutcome::End::kTimedOut;
  } else if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    outcome.signal = sig;
    // SIGXCPU: the CPU-time limit, a spin rather than a crash.
    outcome.end = sig == SIGXCPU ? ChildOutcome::End::kTimedOut : ChildOutcome::End::kCrashed;
  } else {
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return outcome;
}

std::string Seconds(double s) { return std::to_string(static_cast<long long>(std::ceil(s))); }

class PosixProcessRunner final : public ProcessRunner {
 public:
  Result<ChildOutcome> RunFunction(const std::function<Result<std::string>()>& work,
                                   const ChildLimits& limits) override {
    Pipe pipe;
    std::optional<Child> child;
    if (Status s = Start(pipe, child, "",
                         [&](const sigset_t& mask) {
                           pipe.CloseRead();
                           PrepareChild(limits, mask, -1);
                           RunInChild(work, pipe.write());
                         });
        !s.IsOk()) {
      return s;
    }
    ChildOutcome outcome = Collect(*child, pipe.read(), limits, limits.outputBytes + kHeader);
    if (outcome.end != ChildOutcome::End::kFinished) return outcome;
    if (outcome.exitCode != 0 || outcome.output.empty()) {
      // Ended on its own without a report: as good as a crash.
      outcome.end = ChildOutcome::End::kCrashed;
      outcome.output.clear();
      return outcome;
    }
    const auto code = static_cast<Status::Code>(outcome.output[0]);
    outcome.output.erase(0, kHeader);
    if (code == Status::Code::kNoMemory && MemoryLimitApplies(limits)) {
      outcome.end = ChildOutcome::End::kOutOfMemory;
      outcome.output.clear();
    } else if (code != Status::Code::kOk) {
      outcome.status = StatusFrom(code, outcome.output);
      outcome.output.clear();
    }
    return outcome;
  }

  Result<ChildOutcome> RunProgram(const std::vector<std::string>& argv,
                                  const ChildLimits& limits) override {
    if (argv.empty()) return Status::InvalidArgument("", Tr("no program to run"));
    // Built before the fork: the child must not allocate.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Pipe pipe;
    std::optional<Child> child;
    if (Status s = Start(pipe, child, argv[0],
                         [&](const sigset_t& mask) {
                           PrepareChild(limits, mask, pipe.write());
                           ::execvp(args[0], args.data());
                           ::_exit(127);
                         });
        !s.IsOk()) {
      return s;
    }
    return Collect(*child, pipe.read(), limits, limits.outputBytes);
  }

 private:
  // Forks a child in a process group of its own that `inChild` runs in (and
  // never returns from), with the cleanup signals held off until the parent
  // tracks it, so that a signal in between cannot leave it running. The
  // callable is built before the fork: the child must not allocate.
  template <class InChild>
  static Status Start(Pipe& pipe, std::optional<Child>& child, const std::string& what,
                      const InChild& inChild) {
    if (!pipe.ok()) {
      return Status::IoError(what, Tr("cannot make a pipe: {1}", strerror(errno)));
    }
    {
      CleanupSignalBlock block;
      const pid_t pid = ::fork();
      if (pid < 0) {
        return Status::IoError(what, Tr("cannot start a process: {1}", strerror(errno)));
      }
      if (pid == 0) inChild(block.previous());
      ::setpgid(pid, pid);
      child.emplace(pid);
    }
    pipe.CloseWrite();
    return Status::Ok();
  }

  [[noreturn]] static void RunInChild(const std::function<Result<std::string>()>& work, int out) {
    std::string report;
    try {
      Result<std::string> result = work();
      if (result.IsOk()) {
        report.reserve(result.value().size() + kHeader);
        report.push_back(static_cast<char>(Status::Code::kOk));
        report += result.value();
      } else {
        report.push_back(static_cast<char>(result.status().code()));
        report += result.status().message();
      }
    } catch (const std::bad_alloc&) {
      report.assign(1, static_cast<char>(Status::Code::kNoMemory));
    } catch (const std::exception& e) {
      report.assign(1, static_cast<char>(Status::Code::kCorrupt));
      report += e.what();
    }
    WriteAllOrDie(out, report.data(), report.size());
    ::_exit(0);  // no atexit handlers, no flushing of the parent's buffers
  }
};

}  // namespace

std::string DescribeChildEnd(const ChildOutcome& outcome, const ChildLimits& limits) {
  switch (outcome.end) {
    case ChildOutcome::End::kFinished:
      return Tr("finished");
    case ChildOutcome::End::kCrashed:
      if (outcome.signal == 0) return Tr("ended without a result");
      return Tr("crashed with signal {1} ({2})", outcome.signal, ::strsignal(outcome.signal));
    case ChildOutcome::End::kTimedOut:
      return Tr("took longer than {1} s", Seconds(std::min(limits.wallSeconds, limits.cpuSeconds)));
    case ChildOutcome::End::kOutOfMemory:
      return Tr("needed more than {1} MiB", limits.memoryBytes / kMiB);
    case ChildOutcome::End::kOutputTooLarge:
      return Tr("sent more than {1} MiB", limits.outputBytes / kMiB);
  }
  return Tr("failed");
}

std::unique_ptr<ProcessRunner> NewPosixProcessRunner() {
  return std::make_unique<PosixProcessRunner>();
}

}  // namespace mirel
