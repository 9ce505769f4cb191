// mirel-tool under `ulimit -f`, started the way a shell starts it: SIGXFSZ at
// its default action. A write past the limit must fail as a write error, not
// kill the program and leave its temporary file behind.
#include <signal.h>
#include <sys/wait.h>

#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

TEST(FileSizeLimitTest, ToolReportsTooLargeInsteadOfDying) {
  test::ScratchDir dir;
  std::vector<std::u16string> rows;
  for (int i = 0; i < 20000; ++i) {
    rows.push_back(std::u16string(u"词") + static_cast<char16_t>(u'a' + i % 26) + u"\tab");
  }
  test::WriteBytes(dir / "t.txt", test::TableBytes(rows));
  const std::string at = dir.path().string();
  // The test process may ignore it; a shell does not.
  const auto kept = ::signal(SIGXFSZ, SIG_DFL);
  const int status = std::system(("ulimit -f 16; exec '" MIREL_TOOL_PATH "' sort '" + at +
                                  "/t.txt' --by source -o '" + at + "/out.txt' 2>'" + at + "/err'")
                                     .c_str());
  ::signal(SIGXFSZ, kept);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(test::Holds(test::ReadBytes(dir / "err"), "File too large"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.txt"));
  EXPECT_TRUE(test::StrayTemps(dir.path()).empty());
}

}  // namespace
}  // namespace mirel
