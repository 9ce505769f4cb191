// mirel-tool under `ulimit -f`, started the way a shell starts it: SIGXFSZ at
// its default action. A write past the limit must fail as a write error, not
// kill the program and leave its temporary file behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

TEST(FileSizeLimitTest, ToolReportsTooLargeInsteadOfDying) {
  test::ScratchDir dir;
  std::vector<std::u16string> rows;
  for (int i = 0; i < 20000; ++i) {
    std::u16string row = u"词?\tab";
    row[1] = static_cast<char16_t>(u'a' + i % 26);
    rows.push_back(row);
  }
  test::WriteBytes(dir / "t.txt", test::TableBytes(rows));
  const char* script = "ulimit -f 16; exec \"$0\" sort \"$1\" --by source -o \"$2\" 2>\"$3\"";
  pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_DFL);  // the test process may ignore it; a shell does not
    ::execl("/bin/sh", "sh", "-c", script, MIREL_TOOL_PATH, (dir / "t.txt").c_str(),
            (dir / "out.txt").c_str(), (dir / "err").c_str(), nullptr);
    ::_exit(126);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(test::ReadBytes(dir / "err").find("File too large"), std::string::npos)
      << test::ReadBytes(dir / "err");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
  EXPECT_TRUE(test::StrayTemps(dir.path()).empty());
}

}  // namespace
}  // namespace mirel
