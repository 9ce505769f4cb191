#include "app/batch.h"

#include <sstream>

#include "support/test_support.h"

namespace mirel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::TableBytes;
using test::WriteBytes;

std::u16string ValueOf(std::u16string_view line, std::u16string_view name) {
  auto option = FindOption(line, name);
  return option ? option->value : u"<absent>";
}

TEST(BatchGrammarTest, OptionsAreFoundInEveryNotation) {
  EXPECT_EQ(ValueOf(u"/do=删除重复 /源码表文件=t.txt", u"do"), u"删除重复");
  EXPECT_EQ(ValueOf(u"-do:提取单字编码 -源码表文件=\"/my tables/a.txt\"", u"源码表文件"),
            u"/my tables/a.txt");
  EXPECT_EQ(ValueOf(u"-do 删除重复", u"do"), u"删除重复");
  // Names match without regard to A-Z case; values keep theirs.
  EXPECT_EQ(ValueOf(u"/DO=删除重复 /源码表文件=/Tables/A.TXT", u"do"), u"删除重复");
  EXPECT_EQ(ValueOf(u"/Do=x /源码表文件=/Tables/A.TXT", u"源码表文件"), u"/Tables/A.TXT");
  // "/do=" at the very end is no option; an empty quoted value is.
  EXPECT_EQ(ValueOf(u"/源码表文件=a.txt /do=", u"do"), u"<absent>");
  EXPECT_EQ(ValueOf(u"/do=\"\"", u"do"), u"");
  // Patterns are found anywhere, also inside another option's quoted value,
  // and the earlier notation in the list wins over an earlier position.
  EXPECT_EQ(ValueOf(u"/选项=\"/do=x\" -do=y", u"do"), u"x\"");
  EXPECT_EQ(ValueOf(u"-do=x /do:y", u"do"), u"y");
  // Values are cut to 259 units; the name "分割符" and "分割字符" both exist.
  EXPECT_EQ(ValueOf(u"/do=" + std::u16string(300, u'v'), u"do").size(), 259u);
  EXPECT_EQ(ValueOf(u"/分割字符=, /do=x", u"分割字符"), u",");
}

TEST(BatchGrammarTest, RequestCollectsKnownOptionsOnce) {
  EXPECT_FALSE(ParseBatchLine(u"/源码表文件=t.txt").has_value());
  EXPECT_FALSE(ParseBatchLine(u"/do=x " + std::u16string(10240, u'y')).has_value());
  auto request = ParseBatchLine(u"/码表文件2=b /do=合并码表 /码表文件1=a /码表文件1=c /unknown=z");
  ASSERT_TRUE(request.has_value());
  ASSERT_EQ(request->options.size(), 3u);
  EXPECT_EQ(request->tool(), u"合并码表");
  EXPECT_EQ(request->options[1].name, u"码表文件1");
  EXPECT_EQ(*request->Find(u"码表文件1"), u"a");
  EXPECT_EQ(*request->Find(u"码表文件2"), u"b");
  EXPECT_EQ(request->Find(u"码表文件3"), nullptr);
}

TEST(BatchGrammarTest, ArgumentsJoinWithQuotedValuesAndPathsResolveAgainstTheProgram) {
  std::vector<std::string> args = {"-do:提取单字编码", "-源码表文件=/abs/my tables/a.txt",
                                   "plain arg"};
  EXPECT_EQ(JoinArguments(args),
            u"-do:提取单字编码 -源码表文件=\"/abs/my tables/a.txt\" \"plain arg\"");
  EXPECT_EQ(ResolveBatchPath(u"/abs/t.txt", "/opt/mirel"), "/abs/t.txt");
  EXPECT_EQ(ResolveBatchPath(u"t.txt", "/opt/mirel"), "/opt/mirel/t.txt");
  EXPECT_EQ(ResolveBatchPath(u"\\sub/a.txt", "/opt/mirel"), "/opt/mirel/sub/a.txt");
}

class BatchRunTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    err_.str("");
    BatchEnvironment env{program_.path(), temp_.path(), err_, test::DiskFs(), "mirel", false};
    std::optional<int> status = RunBatchCommandLine(args, env);
    return status ? *status : -1;
  }
  ScratchDir program_;  // plays the program folder
  ScratchDir temp_;
  std::ostringstream err_;
};

TEST_F(BatchRunTest, SimpleToolsWriteBesideTheSourceTable) {
  std::filesystem::create_directory(program_ / "my tables");
  WriteBytes(program_ / "my tables" / "a.txt", test::Utf8(u"中\tzh\r\n中\tzh\r\n中国\tzg\r\n"));
  EXPECT_EQ(Run({"/do=删除重复", "/源码表文件=my tables/a.txt"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(program_ / "my tables" / "[ 去重结果 ].txt"),
            TableBytes({u"中\tzh", u"中国\tzg"}));

  const std::string absolute = (program_ / "my tables" / "a.txt").string();
  EXPECT_EQ(Run({"-do:提取单字编码", "-源码表文件=" + absolute}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(program_ / "my tables" / "[ 提取的单字 ].txt"),
            TableBytes({u"中\tzh", u"中\tzh"}));

  WriteBytes(program_ / "freq.txt", test::Utf8(u"中国\t1\r\n中\t2\r\n"));
  EXPECT_EQ(Run({"/DO=依据词频表排序", "/源码表文件=" + absolute, "/词频表文件=freq.txt"}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(program_ / "my tables" / "[ 排序结果 ].txt"),
            TableBytes({u"中国\tzg", u"中\tzh", u"中\tzh"}));
  EXPECT_EQ(Run({"/source=x"}), -1);
}

TEST_F(BatchRunTest, FailuresAreReportedWithAStatus) {
  EXPECT_EQ(Run({"/do=删除重复", "/源码表文件=missing.txt"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "missing.txt"));
  EXPECT_EQ(Run({"/do=删除重复", "/源码表文件=" + program_.path().string()}), 1);
  // A frequency file that cannot be read is a failure, and no result is written.
  WriteBytes(program_ / "t.txt", "a\tb\r\n");
  EXPECT_EQ(Run({"/do=依据词频表排序", "/源码表文件=t.txt", "/词频表文件=none.txt"}), 1);
  EXPECT_FALSE(std::filesystem::exists(program_ / "[ 排序结果 ].txt"));
}

TEST_F(BatchRunTest, OptionsTheToolDoesNotReadAreRefusedBeforeAnythingRuns) {
  WriteBytes(program_ / "t.txt", "a\tb\r\na\tb\r\n");
  const std::filesystem::path result = program_ / "[ 去重结果 ].txt";
  // A mistyped name, a seventh table, an option of another tool, a repeat
  // and a stray word: each would have been left out unseen.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"/do=删除重复", "/源码表文件=t.txt", "/源码表=x.txt"}, "unknown option \"/源码表\""},
      {{"/do=合并码表", "/码表文件1=t.txt", "/码表文件7=t.txt"}, "unknown option \"/码表文件7\""},
      {{"/do=删除重复", "/源码表文件=t.txt", "/词频表文件=t.txt"}, "\"/词频表文件\""},
      {{"/do=删除重复", "/源码表文件=t.txt", "-DO:提取单字编码"}, "\"-DO\" is given twice"},
      {{"/do=删除重复", "/源码表文件=t.txt", "/源码表文件=u.txt"}, "given twice"},
      {{"/do=删除重复", "/源码表文件=t.txt", "stray"}, "\"stray\" is no option"}};
  for (const auto& [args, says] : refused) {
    EXPECT_EQ(Run(args), 2) << says;
    EXPECT_TRUE(test::Holds(err_.str(), says));
    EXPECT_FALSE(std::filesystem::exists(result)) << says;
  }
  // Every notation still names its value, also one that looks like an option.
  EXPECT_EQ(Run({"/do", "删除重复", "/源码表文件", (program_ / "t.txt").string()}), 0)
      << err_.str();
  EXPECT_EQ(Run({"-do:删除重复", "-源码表文件=\"t.txt\""}), 0) << err_.str();
  EXPECT_EQ(Run({"/do=码表格式转换", "/源码表文件=t.txt", "/分割符=TAB", "/选项=单行单义(左编码)"}),
            0)
      << err_.str();
}

}  // namespace
}  // namespace mirel
