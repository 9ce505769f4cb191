#include "app/tool_cli.h"

#include <sstream>

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::TableBytes;
using test::WriteBytes;

class ToolCliTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out_, err_, dir_.path(), temp_.path(), {}};
    return RunTool(args, io);
  }
  std::string Table(std::string_view name = "t.txt") const { return (dir_ / name).string(); }

  ScratchDir dir_;
  ScratchDir temp_;
  std::ostringstream out_, err_;
};

TEST_F(ToolCliTest, HelpGoesToStandardOutput) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("dedup"), std::string::npos);
  EXPECT_EQ(err_.str(), "");
  for (const char* command : {"dedup", "extract-single", "sort", "export-frequency"}) {
    EXPECT_EQ(Run({command, "--help"}), 0) << command;
    EXPECT_NE(out_.str().find("TABLE"), std::string::npos) << command;
  }
  EXPECT_EQ(Run({"batch", "--help"}), 0);
  EXPECT_NE(out_.str().find("/do=TOOL"), std::string::npos);
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"sort", Table()}), 2);  // --by is required
  EXPECT_EQ(Run({"sort", Table(), "--by", "sideways"}), 2);
  EXPECT_EQ(Run({"sort", Table(), "--by", "freq"}), 2);
}

TEST_F(ToolCliTest, CommandsWriteTheirResultsAndSayWhere) {
  WriteBytes(dir_ / "t.txt", test::Gbk(u"中\tzh\r\n国家\tgj\r\n中\tzh\r\n国\tg\r\n"));
  EXPECT_EQ(Run({"dedup", Table()}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 去重结果 ].txt"), TableBytes({u"中\tzh", u"国家\tgj", u"国\tg"}));
  EXPECT_NE(out_.str().find("3 rows written"), std::string::npos);

  EXPECT_EQ(Run({"extract-single", Table()}), 0);
  EXPECT_EQ(out_.str(), "导出用户单字码表数：3个。\n");

  EXPECT_EQ(Run({"sort", Table(), "--by", "code2", "-o", Table("s.txt")}), 0);
  EXPECT_EQ(ReadBytes(dir_ / "s.txt"), TableBytes({u"国\tg", u"国家\tgj", u"中\tzh", u"中\tzh"}));

  EXPECT_EQ(Run({"export-frequency", Table()}), 0);
  EXPECT_EQ(ReadBytes(dir_ / "[ 即时词频 ].txt"),
            TableBytes({u"中\t1", u"国家\t2", u"中\t3", u"国\t4"}));
  EXPECT_EQ(Run({"sort", Table(), "--by", "freq", "--freq", Table("[ 即时词频 ].txt"), "-o",
                 Table("f.txt")}),
            0);
  EXPECT_EQ(ReadBytes(dir_ / "f.txt"), TableBytes({u"中\tzh", u"中\tzh", u"国家\tgj", u"国\tg"}));
}

TEST_F(ToolCliTest, BadInputIsAClearErrorAndNeverAnEmptyResult) {
  EXPECT_EQ(Run({"dedup", Table("missing.txt")}), 1);
  EXPECT_EQ(err_.str().rfind("mirel-tool: dedup: ", 0), 0u) << err_.str();
  EXPECT_NE(err_.str().find("missing.txt"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "[ 去重结果 ].txt"));

  WriteBytes(dir_ / "t.doc", "a\tb");
  EXPECT_EQ(Run({"dedup", Table("t.doc")}), 1);
  EXPECT_NE(err_.str().find(".txt"), std::string::npos);

  WriteBytes(dir_ / "t.txt", "a\tb\r\n");
  WriteBytes(dir_ / "old.txt", "keep me");
  WriteBytes(dir_ / "blocker", "");
  EXPECT_EQ(Run({"dedup", Table(), "-o", Table("blocker") + "/x.txt"}), 1);
  EXPECT_EQ(Run({"dedup", Table(), "-o", dir_.path().string()}), 1);
  EXPECT_EQ(ReadBytes(dir_ / "old.txt"), "keep me");
}

TEST_F(ToolCliTest, BatchRunsTheBatchGrammar) {
  WriteBytes(dir_ / "t.txt", "a\tb\r\na\tb\r\n");
  EXPECT_EQ(Run({"batch", "/do=删除重复", "/源码表文件=t.txt"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 去重结果 ].txt"), TableBytes({u"a\tb"}));
  EXPECT_EQ(Run({"batch", "/do=unknown"}), 2);
  EXPECT_EQ(Run({"batch", "/源码表文件=t.txt"}), 2);
  EXPECT_NE(err_.str().find("/do=TOOL"), std::string::npos);
}

}  // namespace
}  // namespace mirel
