// The process runner: what a child sends back, and how each way a child can
// go wrong (a crash, a spin, a runaway allocation or output, a program that
// hangs) ends in an outcome while the test process goes on.
#include "platform/process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace mirel {
namespace {

using End = ChildOutcome::End;

ChildLimits Quick() {
  ChildLimits limits;
  limits.cpuSeconds = 2;
  limits.wallSeconds = 0.5;
  limits.memoryBytes = 64 << 20;
  limits.outputBytes = 4 << 20;
  return limits;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ProcessRunnerTest, FunctionResultsComeBackAndFailuresBecomeOutcomes) {
  auto runner = NewPosixProcessRunner();
  // More than a pipe holds, with every byte value.
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  Result<ChildOutcome> ok = runner->RunFunction([&] { return Result<std::string>(big); }, Quick());
  ASSERT_OK(ok);
  EXPECT_EQ(ok->end, End::kFinished);
  EXPECT_OK(ok->status);
  EXPECT_TRUE(ok->output == big);

  Result<ChildOutcome> refused = runner->RunFunction(
      [] { return Result<std::string>(Status::Corrupt("x.dict", "bad magic")); }, Quick());
  ASSERT_OK(refused);
  EXPECT_EQ(refused->end, End::kFinished);
  EXPECT_EQ(refused->status.code(), Status::Code::kCorrupt);
  EXPECT_EQ(refused->status.message(), "x.dict: bad magic");

  Result<ChildOutcome> crashed = runner->RunFunction(
      []() -> Result<std::string> {
        ::raise(SIGSEGV);
        return std::string();
      },
      Quick());
  ASSERT_OK(crashed);
  EXPECT_EQ(crashed->end, End::kCrashed);
  EXPECT_EQ(DescribeChildEnd(crashed.value(), Quick()),
            std::string("crashed with signal 11 (") + ::strsignal(SIGSEGV) + ")");

  const auto start = std::chrono::steady_clock::now();
  Result<ChildOutcome> spun = runner->RunFunction(
      []() -> Result<std::string> {
        volatile int spin = 0;
        while (true) spin = spin + 1;
      },
      Quick());
  ASSERT_OK(spun);
  EXPECT_EQ(spun->end, End::kTimedOut);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(DescribeChildEnd(spun.value(), Quick()), "took longer than 1 s");

  Result<ChildOutcome> chatty = runner->RunFunction(
      [] { return Result<std::string>(std::string((4 << 20) + 1, 'x')); }, Quick());
  ASSERT_OK(chatty);
  EXPECT_EQ(chatty->end, End::kOutputTooLarge);
  EXPECT_EQ(DescribeChildEnd(chatty.value(), Quick()), "sent more than 4 MiB");
}

TEST(ProcessRunnerTest, MemoryLimitStopsARunawayAllocation) {
  if (test::kSanitized) GTEST_SKIP() << "the sanitizer's address space cannot be capped";
  auto runner = NewPosixProcessRunner();
  Result<ChildOutcome> greedy = runner->RunFunction(
      []() -> Result<std::string> {
        std::vector<char> huge(size_t{1} << 30, 'x');
        return std::string(1, huge[12345]);
      },
      Quick());
  ASSERT_OK(greedy);
  EXPECT_EQ(greedy->end, End::kOutOfMemory);
  EXPECT_EQ(DescribeChildEnd(greedy.value(), Quick()), "needed more than 64 MiB");
}

TEST(ProcessRunnerTest, ProgramsRunWithoutShellAndAHungOneIsKilledWithItsGroup) {
  test::ScratchDir dir;
  auto runner = NewPosixProcessRunner();
  Result<ChildOutcome> echoed =
      runner->RunProgram({"sh", "-c", "echo out; echo err >&2; exit 3"}, Quick());
  ASSERT_OK(echoed);
  EXPECT_EQ(echoed->end, End::kFinished);
  EXPECT_EQ(echoed->exitCode, 3);
  EXPECT_EQ(echoed->output, "out\nerr\n");

  Result<ChildOutcome> missing = runner->RunProgram({"mirel-no-such-program;rm -rf /"}, Quick());
  ASSERT_OK(missing);
  EXPECT_EQ(missing->exitCode, 127);

  // The background child of the hung program goes too.
  const auto pidFile = dir / "pid";
  const auto start = std::chrono::steady_clock::now();
  Result<ChildOutcome> hung = runner->RunProgram(
      {"sh", "-c", "sleep 60 & echo $! > \"$0\"; wait", pidFile.string()}, Quick());
  ASSERT_OK(hung);
  EXPECT_EQ(hung->end, End::kTimedOut);
  EXPECT_LT(SecondsSince(start), 5.0);
  const std::string pid = test::WaitForLine(pidFile, 1);
  ASSERT_FALSE(pid.empty());
  EXPECT_TRUE(test::ProcessEnds(std::stol(pid), 5));

  // A program that leaves a daemon behind holding its output is not waited
  // for once it has ended.
  Result<ChildOutcome> daemon = runner->RunProgram({"sh", "-c", "sleep 3 & echo started"}, Quick());
  ASSERT_OK(daemon);
  EXPECT_EQ(daemon->end, End::kFinished);
  EXPECT_EQ(daemon->output, "started\n");
}

// A termination signal to the program ends the program it runs as well, and
// the program still dies of that signal.
TEST(ProcessRunnerTest, TerminationSignalEndsTheRunningChild) {
  test::ScratchDir dir;
  for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGUSR1}) {
    SCOPED_TRACE(strsignal(sig));
    const auto pidFile = dir / ("pid" + std::to_string(sig));
    pid_t parent = ::fork();
    if (parent == 0) {
      ::signal(sig, SIG_DFL);
      ChildLimits limits;
      limits.wallSeconds = 60;
      auto runner = NewPosixProcessRunner();
      (void)runner->RunProgram({"sh", "-c", "echo $$ > \"$0\"; exec sleep 60", pidFile.string()},
                               limits);
      ::_exit(0);
    }
    const std::string pid = test::WaitForLine(pidFile, 10);
    ASSERT_FALSE(pid.empty());
    ::kill(parent, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(parent, &status, 0), parent);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(test::ProcessEnds(std::stol(pid), 5));
  }
}

}  // namespace
}  // namespace mirel
