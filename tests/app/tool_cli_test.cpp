#include "app/tool_cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "app/table_editor.h"
#include "platform/temp_folder.h"
#include "support/fake_prefix.h"
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
    ToolIo io{out_, err_, test::DiskFs(), dir_.path(), temp_.path(), false, installed_};
    return RunTool(args, io);
  }
  std::string Table(std::string_view name = "t.txt") const { return (dir_ / name).string(); }

  ScratchDir dir_;
  ScratchDir temp_;
  std::ostringstream out_, err_;
  InstalledEnvironment installed_;
};

TEST_F(ToolCliTest, CommandsWriteTheirResultsAndSayWhere) {
  WriteBytes(dir_ / "t.txt", test::Gbk(u"中\tzh\r\n国家\tgj\r\n中\tzh\r\n国\tg\r\n"));
  EXPECT_EQ(Run({"dedup", Table()}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 去重结果 ].txt"), TableBytes({u"中\tzh", u"国家\tgj", u"国\tg"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 rows written"));

  EXPECT_EQ(Run({"extract-single", Table()}), 0);
  EXPECT_EQ(out_.str(), "导出用户单字码表数：3个。\n");

  EXPECT_EQ(Run({"export-frequency", Table()}), 0);
  EXPECT_EQ(ReadBytes(dir_ / "[ 即时词频 ].txt"),
            TableBytes({u"中\t1", u"国家\t2", u"中\t3", u"国\t4"}));
}

TEST_F(ToolCliTest, BadInputIsAClearErrorAndNeverAnEmptyResult) {
  EXPECT_EQ(Run({"dedup", Table("missing.txt")}), 1);
  EXPECT_EQ(err_.str().rfind("mirel-tool: dedup: ", 0), 0u) << err_.str();
  EXPECT_TRUE(test::Holds(err_.str(), "missing.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "[ 去重结果 ].txt"));

  // Any name opens by its content.
  WriteBytes(dir_ / "t.doc", "a\tb");
  EXPECT_EQ(Run({"dedup", Table("t.doc"), "-o", Table("doc.txt")}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "doc.txt"), TableBytes({u"a\tb"}));

  WriteBytes(dir_ / "t.txt", "a\tb\r\n");
  WriteBytes(dir_ / "old.txt", "keep me");
  WriteBytes(dir_ / "blocker", "");
  EXPECT_EQ(Run({"dedup", Table(), "-o", Table("blocker") + "/x.txt"}), 1);
  EXPECT_EQ(Run({"dedup", Table(), "-o", dir_.path().string()}), 1);
  EXPECT_EQ(ReadBytes(dir_ / "old.txt"), "keep me");
}

TEST_F(ToolCliTest, LinesWithoutTabAreToldAndATableWithoutRowsIsAnError) {
  WriteBytes(dir_ / "t.txt", "a\tb\r\n# note\r\nc\td\r\n");
  EXPECT_EQ(Run({"dedup", Table()}), 0) << err_.str();
  EXPECT_EQ(err_.str(),
            "mirel-tool: dedup: " + Table() + ": 1 line without a TAB was left out (line 2)\n");
  EXPECT_EQ(Run({"stats", Table()}), 0);
  EXPECT_TRUE(test::Holds(err_.str(), "(line 2)"));
  EXPECT_EQ(Run({"batch", "/do=删除重复", "/源码表文件=t.txt"}), 0);
  EXPECT_TRUE(test::Holds(err_.str(), "(line 2)"));
  // A frequency file's too.
  WriteBytes(dir_ / "f.txt", test::Utf8(u"词频表\r\nc\t1\r\na\t2\r\n"));
  EXPECT_EQ(Run({"sort", Table(), "--by", "freq", "--freq", Table("f.txt"), "-o", Table("o.txt")}),
            0);
  EXPECT_EQ(ReadBytes(dir_ / "o.txt"), TableBytes({u"c\td", u"a\tb"}));
  EXPECT_TRUE(test::Holds(err_.str(), "f.txt: 1 line without a TAB was left out (line 1)"));

  // Space-separated: no row at all is an error that writes nothing.
  WriteBytes(dir_ / "spaces.txt", "a b\r\nc d\r\n");
  WriteBytes(dir_ / "kept.txt", "old");
  EXPECT_EQ(Run({"dedup", Table("spaces.txt"), "-o", Table("kept.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "2 lines without a TAB were left out (lines 1, 2)"));
  EXPECT_EQ(ReadBytes(dir_ / "kept.txt"), "old");
  EXPECT_EQ(Run({"sort", Table("spaces.txt"), "--by", "code1"}), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "[ 排序结果 ].txt"));
  EXPECT_EQ(Run({"compile", Table("spaces.txt"), Table("s.ktb")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "(lines 1, 2)"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "s.ktb"));

  // The generators too: no table to work on is an error, not an empty result.
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"merge", Table("spaces.txt"), "-o", Table("kept.txt")},
        std::vector<std::string>{"merge", Table("t.txt"), Table("spaces.txt"), "-o",
                                 Table("kept.txt")},
        std::vector<std::string>{"gen-single", Table("spaces.txt"), Table("t.txt"), "-o",
                                 Table("kept.txt")},
        std::vector<std::string>{"tips", Table("spaces.txt"), Table("t.txt"), "-o",
                                 Table("kept.txt")}}) {
    EXPECT_EQ(Run(command), 1) << command[0];
    EXPECT_TRUE(test::Holds(err_.str(), "2 lines without a TAB were left out (lines 1, 2)"));
  }
  EXPECT_EQ(ReadBytes(dir_ / "kept.txt"), "old");

  // The compiler's comment lines are no table lines left out.
  WriteBytes(dir_ / "c.txt", "// comment\r\na\tb\r\nlost\r\n///x\tescaped\r\n");
  EXPECT_EQ(Run({"compile", "-q", Table("c.txt"), Table("c.ktb")}), 0) << err_.str();
  EXPECT_EQ(err_.str(), "mirel-tool: compile: " + Table("c.txt") +
                            ": 1 line without a TAB was left out (line 3)\n");
}

TEST_F(ToolCliTest, CompileAndDecompileRoundTripAndOtherCommandsTakeCompiledTables) {
  WriteBytes(dir_ / "t.txt",
             test::Utf8(u"好\thao#1\r\n中\tzh\r\n中\tzh\r\n国\t\U0001F600\r\n国\tgg\r\n"));
  EXPECT_EQ(Run({"compile", Table(), Table("t.ktb")}), 0) << err_.str();
  EXPECT_EQ(
      out_.str(),
      "　　忽略第[ 3行 ]重复词条：中 \n"
      "　　码表信息：\n　　  码表大小：31字节\n　　  原始码表行数：4\n　　  有效编码行数：3\n");
  EXPECT_EQ(Run({"compile", "--quiet", Table(), Table("t.ktb")}), 0);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Run({"decompile", Table("t.ktb"), Table("back.txt")}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "back.txt"), TableBytes({u"好\thao#1", u"中\tzh", u"国\tgg"}));

  // Every TABLE argument takes a compiled table as its rows, never as text.
  WriteBytes(dir_ / "codes.txt", test::Utf8(u"中\tx\r\n国\ty\r\n"));
  WriteBytes(dir_ / "words.txt", test::Utf8(u"中国\r\n"));
  const std::string r = Table("r.txt");
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::u16string>>> takes = {
      {{"dedup", Table("t.ktb"), "-o", r}, {u"好\thao#1", u"中\tzh", u"国\tgg"}},
      {{"merge", Table("t.ktb"), Table("codes.txt"), "-o", r}, {u"中\tzhx", u"国\tggy"}},
      {{"tips", Table("t.ktb"), Table("t.ktb"), "-o", r},
       {u"$mlcmd(好,好[hao#1])\thao#1", u"$mlcmd(中,中[zh])\tzh", u"$mlcmd(国,国[gg])\tgg"}},
      {{"gen-words", Table("t.ktb"), Table("words.txt"), "-o", r}, {u"中国\tzhgg"}}};
  for (const auto& [args, rows] : takes) {
    EXPECT_EQ(Run(args), 0) << args[0] << ": " << err_.str();
    EXPECT_EQ(ReadBytes(r), TableBytes(rows)) << args[0];
  }
  EXPECT_EQ(Run({"batch", "/do=提取单字编码", "/源码表文件=t.ktb"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 提取的单字 ].txt"), ReadBytes(dir_ / "back.txt"));
  EXPECT_EQ(Run({"compile", "-q", Table("t.ktb"), Table("again.ktb")}), 0) << err_.str();
  EXPECT_EQ(Run({"decompile", Table("again.ktb"), Table("again.txt")}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "again.txt"), ReadBytes(dir_ / "back.txt"));
  // Where a compiled table makes no sense, it is refused.
  EXPECT_EQ(Run({"gen-single", Table("t.ktb"), Table("codes.txt"), "-o", Table("s.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "a compiled table cannot be used as the split table"));
  EXPECT_EQ(Run({"gen-words", Table("codes.txt"), Table("t.ktb"), "-o", Table("w2.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "word list"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "s.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "w2.txt"));

  WriteBytes(dir_ / "bad.ktb", "not a compiled table");
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"compile", Table("bad.ktb"), Table("x.ktb")},
        std::vector<std::string>{"merge", Table("bad.ktb"), "-o", Table("x.txt")},
        std::vector<std::string>{"tips", Table("codes.txt"), Table("bad.ktb"), "-o",
                                 Table("x.txt")}}) {
    EXPECT_EQ(Run(command), 1) << command[0];
    EXPECT_TRUE(test::Holds(err_.str(), "not a compiled table: its first bytes"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.ktb"));
  EXPECT_EQ(Run({"decompile", Table("bad.ktb"), Table("x.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "bad.ktb"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.txt"));
  WriteBytes(dir_ / "none.txt", "no rows\r\n");
  EXPECT_EQ(Run({"compile", Table("none.txt"), Table("none.ktb")}), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "none.ktb"));
}

TEST_F(ToolCliTest, StatsPrintsOrWritesTheReportWithoutTouchingTheTable) {
  WriteBytes(dir_ / "t.txt", test::Utf8(u"啊\ta\r\n阿\ta\r\n吖\ta\r\n爱\tai\r\n"));
  const std::string before = ReadBytes(dir_ / "t.txt");
  EXPECT_EQ(Run({"stats", Table()}), 0) << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), "编码总数:4 个\n重码总数：3个，占编码总数的75.000000%。\n"));
  EXPECT_EQ(Run({"stats", Table(), "-o", Table("r.txt")}), 0);
  EXPECT_EQ(ReadBytes(dir_ / "r.txt").substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(ReadBytes(dir_ / "t.txt"), before);
  EXPECT_EQ(Run({"stats", Table("none.txt")}), 1);
}

TEST_F(ToolCliTest, InstalledCopiesAreListedExportedAndCompiledInto) {
  test::FakePrefix prefix(dir_ / "prefix");
  prefix.AddCopy(u"Hidden", u"hidden", u"");
  prefix.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
  prefix.SetMainTable(u"mirelsp", u"中\tzh\r\n");
  prefix.SetUserLibrary(u"mirelsp", {u"你好"});
  prefix.WriteRegistry(test::FakePrefix::Style::kRegedit5Utf16);
  installed_ = prefix.Environment();

  EXPECT_EQ(Run({"installed", "--json"}), 0) << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), "{\"key\":\"Hidden\",\"name\":\"\","));
  EXPECT_TRUE(test::Holds(out_.str(), "\"key\":\"MirelIME3_sp\",\"name\":\"Mirel 双拼\""));
  EXPECT_TRUE(test::Holds(out_.str(), "\"main\":true,\"user\":true}"));
  EXPECT_EQ(Run({"installed"}), 0);
  EXPECT_EQ(out_.str().rfind("KEY", 0), 0u);

  EXPECT_EQ(Run({"installed", "export", "Mirel 双拼", Table("out.txt"), "--user-library"}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"),
            TableBytes({u"中\tzh", u"//kavo_tolvik 导出的当前正在使用的用户词库", u"你好\t"}));
  EXPECT_EQ(Run({"installed", "export", "nobody", Table("x.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "nobody"));

  // A compiled table compiles into a copy as its rows, not as text.
  WriteBytes(dir_ / "two.txt", test::Utf8(u"国\tgg\r\n家\tjia\r\n"));
  ASSERT_EQ(Run({"compile", "-q", Table("two.txt"), Table("two.ktb")}), 0) << err_.str();
  // So does one renamed .txt: its bytes, not its name, say what it is.
  std::filesystem::copy_file(dir_ / "two.ktb", dir_ / "copy.txt");
  for (const char* compiled : {"two.ktb", "copy.txt"}) {
    EXPECT_EQ(Run({"installed", "compile", Table(compiled), "MirelIME3_sp"}), 0) << err_.str();
    EXPECT_TRUE(test::Holds(out_.str(), "2 entries"));
    EXPECT_EQ(Run({"installed", "export", "MirelIME3_sp", Table("two-back.txt")}), 0);
    EXPECT_EQ(ReadBytes(dir_ / "two-back.txt"), TableBytes({u"国\tgg", u"家\tjia"})) << compiled;
  }
  EXPECT_EQ(Run({"dedup", Table("copy.txt"), "-o", Table("r.txt")}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "r.txt"), TableBytes({u"国\tgg", u"家\tjia"}));

  // Compiling into the copy keeps its header values.
  const std::filesystem::path main = prefix.DataFolder(u"mirelsp") / "main.ktb";
  const std::string header = ReadBytes(main).substr(36, 34);
  WriteBytes(dir_ / "new.txt", test::Utf8(u"国\tgg\r\n"));
  EXPECT_EQ(Run({"installed", "compile", Table("new.txt"), "MirelIME3_sp"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(main).substr(36, 34), header);
  EXPECT_EQ(Run({"installed", "export", "MirelIME3_sp", Table("back.txt")}), 0);
  EXPECT_EQ(ReadBytes(dir_ / "back.txt"), TableBytes({u"国\tgg"}));
  // A read-only main table is not replaced.
  std::filesystem::permissions(main, std::filesystem::perms::owner_read);
  const std::string before = ReadBytes(main);
  EXPECT_EQ(Run({"installed", "compile", Table("new.txt"), "MirelIME3_sp"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "read-only"));
  EXPECT_EQ(ReadBytes(main), before);
}

TEST_F(ToolCliTest, TextFromFilesNeverReachesTheTerminalAsControls) {
  test::FakePrefix prefix(dir_ / "prefix");
  const std::u16string hostile = u"\x1b[2J\x1b]52;c;aGk=\x07";
  prefix.AddCopy(u"MirelIME3_x", u"mirelx", hostile);
  prefix.WriteRegistry(test::FakePrefix::Style::kRegedit5Utf16);
  installed_ = prefix.Environment();
  const std::string shown = "\\x1b[2J\\x1b]52;c;aGk=\\x07";
  EXPECT_EQ(Run({"installed"}), 0) << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), "MirelIME3_x  " + shown + "  no"));
  EXPECT_EQ(Run({"installed", "--json"}), 0);
  EXPECT_TRUE(test::Holds(out_.str(), "\"name\":\"\\u001b[2J\\u001b]52;c;aGk=\\u0007\""));
  EXPECT_EQ(Run({"installed", "export", test::Utf8(hostile), Table("x.txt")}), 1);
  EXPECT_EQ(err_.str().find('\x1b'), std::string::npos);

  // Entries in the compiler's report, and names in messages.
  WriteBytes(dir_ / "t.txt", test::Utf8(u"\x1b]0;owned\x07\tab\r\n\x1b]0;owned\x07\tab\r\n"));
  EXPECT_EQ(Run({"compile", Table(), Table("t.ktb")}), 0) << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), "\\x1b]0;owned\\x07"));
  EXPECT_EQ(Run({"dedup", Table("\x1b[31m.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "\\x1b[31m.txt"));
  for (const std::string& text : {out_.str(), err_.str()}) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
  }
}

struct ChildRun {
  int exitCode = -1;  // -1: ended by a signal
  std::string out, err;
};

// Runs mirel-tool with `args` in `dir`.
ChildRun RunToolAsChild(const std::filesystem::path& dir, std::vector<std::string> args) {
  const std::filesystem::path errFile = dir / "child-stderr.txt";
  const std::filesystem::path outFile = dir / "child-stdout.txt";
  args.insert(args.begin(), MIREL_TOOL_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::chdir(dir.c_str()) != 0 || err < 0 || out < 0 || ::dup2(err, 2) < 0 ||
        ::dup2(out, 1) < 0) {
      ::_exit(127);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ChildRun run;
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return run;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.err = ReadBytes(errFile);
  run.out = ReadBytes(outFile);
  std::filesystem::remove(errFile);
  std::filesystem::remove(outFile);
  return run;
}

TEST_F(ToolCliTest, RunningOutOfMemoryIsAFailureNotACrash) {
  // A table larger than the machine's memory and swap together, as a sparse
  // file: no address-space cap hides a promise of memory the machine cannot
  // keep, which would end in a kill instead of a message.
  uint64_t machine = 0;
  {
    std::ifstream meminfo("/proc/meminfo");
    std::string name, rest;
    uint64_t kib = 0;
    while (meminfo >> name >> kib && std::getline(meminfo, rest)) {
      if (name == "MemTotal:" || name == "SwapTotal:") machine += kib * 1024;
    }
  }
  if (machine == 0) GTEST_SKIP() << "/proc/meminfo unreadable";
  const std::filesystem::path big = dir_ / "big.txt";
  WriteBytes(big, test::Utf8(u"中\tzh\n"));
  std::filesystem::resize_file(big, 2 * machine);
  struct stat info {};
  if (::stat(big.c_str(), &info) != 0 || info.st_blocks > 2048) {
    std::filesystem::remove(big);
    GTEST_SKIP() << "no sparse files in " << dir_.path();
  }
  WriteBytes(dir_ / "small.txt", test::Utf8(u"中\tzh\n"));
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"compile", "big.txt", "big.ktb"},
        std::vector<std::string>{"sort", "big.txt", "--by", "code1", "-o", "sorted.txt"},
        std::vector<std::string>{"dedup", "big.txt", "-o", "deduped.txt"},
        std::vector<std::string>{"merge", "small.txt", "big.txt", "-o", "merged.txt"},
        std::vector<std::string>{"tips", "big.txt", "small.txt", "-o", "tips.txt"},
        std::vector<std::string>{"stats", "big.txt"}}) {
    const ChildRun run = RunToolAsChild(dir_.path(), command);
    EXPECT_EQ(run.exitCode, 1) << command[0] << ": " << run.err;
    // Refused up front from the memory there is, or failing on it later.
    EXPECT_TRUE(run.err.find("out of memory") != std::string::npos ||
                run.err.find("too large: more than") != std::string::npos)
        << command[0] << ": " << run.err;
    EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
  }
  for (const char* output : {"big.ktb", "sorted.txt", "deduped.txt", "merged.txt", "tips.txt"}) {
    EXPECT_FALSE(std::filesystem::exists(dir_ / output)) << output;
  }
}

TEST_F(ToolCliTest, DashWritesTheResultToStandardOutputAndTheReportsToStandardError) {
  WriteBytes(dir_ / "t.txt", "a\tb\r\na\tb\r\nc\td\r\n");
  ChildRun run = RunToolAsChild(dir_.path(), {"dedup", "t.txt", "-o", "-"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, TableBytes({u"a\tb", u"c\td"}));
  EXPECT_EQ(run.err, "2 rows written to standard output, 1 row left out as duplicates\n");
  run = RunToolAsChild(dir_.path(), {"compile", "t.txt", "-"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.size(), 0xAAu);
  EXPECT_TRUE(test::Holds(run.err, "码表信息"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "-"));
}

TEST_F(ToolCliTest, FileNamesThatAreNotUtf8AreOpenedAsTheyAre) {
  // Two names a UTF-16 round trip would confuse: \xff decodes to U+FFFD.
  const std::string bad = "\xff.txt";
  const std::string lookalike = "\xef\xbf\xbd.txt";
  WriteBytes(dir_ / bad, test::Utf8(u"中\tzh\r\n"));
  WriteBytes(dir_ / lookalike, test::Utf8(u"中\tLOOKALIKE\r\n"));
  WriteBytes(dir_ / "two.txt", test::Utf8(u"中\tx\r\n"));
  WriteBytes(dir_ / "words.txt", test::Utf8(u"中中\r\n"));
  const std::string r = Table("r.txt");
  const std::vector<std::pair<std::vector<std::string>, std::u16string>> commands = {
      {{"merge", Table(bad), Table("two.txt"), "-o", r}, u"中\tzhx"},
      {{"tips", Table(bad), Table(bad), "-o", r}, u"$mlcmd(中,中[zh])\tzh"},
      {{"gen-words", Table(bad), Table("words.txt"), "-o", r}, u"中中\tzhzh"},
      {{"dedup", Table(bad), "-o", r}, u"中\tzh"}};
  for (const auto& [args, row] : commands) {
    EXPECT_EQ(Run(args), 0) << args[0] << ": " << err_.str();
    EXPECT_EQ(ReadBytes(r), TableBytes({row})) << args[0];
  }
  // Output folders and names keep their bytes too; messages show them escaped.
  std::filesystem::create_directory(dir_ / "\xfe");
  EXPECT_EQ(Run({"merge", Table(bad), "-o", Table("\xfe/out.txt")}), 0) << err_.str();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "\xfe" / "out.txt"));
  EXPECT_TRUE(test::Holds(out_.str(), "\\xfe/out.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "\xef\xbf\xbd"));

  // The batch grammar works on UTF-16 text: such a name is refused, no
  // lookalike is opened and nothing is written.
  EXPECT_EQ(Run({"batch", "/do=删除重复", "/源码表文件=" + bad}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "\\xff.txt\" is not UTF-8"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "[ 去重结果 ].txt"));
}

TEST_F(ToolCliTest, ConversionCommandsAndTheBatchToolAgree) {
  WriteBytes(dir_ / "src.txt", test::Utf8(u"a\t啊\r\nb\t吧\r\n"));
  WriteBytes(dir_ / "rules.txt", test::Utf8(u"<all.0><tab.1><all.0><row.2>==><3><t><1><r>\r\n"));
  EXPECT_EQ(Run({"convert-rules", Table("src.txt"), "--rules", Table("rules.txt"), "-o",
                 Table("cli.txt")}),
            0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "cli.txt"), TableBytes({u"啊\ta", u"吧\tb"}));
  EXPECT_EQ(Run({"convert-rules", Table("src.txt"), "--rule",
                 "<all.0><tab.1><all.0><row.2>==><3><t><1><r>"}),
            0);
  EXPECT_EQ(ReadBytes(dir_ / "[ 转换结果 ].txt"), ReadBytes(dir_ / "cli.txt"));
  std::filesystem::remove(dir_ / "[ 转换结果 ].txt");
  EXPECT_EQ(Run({"batch", "/do=码表格式转换", "/源码表文件=src.txt", "/规则文件=rules.txt"}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 转换结果 ].txt"), ReadBytes(dir_ / "cli.txt"));

  WriteBytes(dir_ / "fields.txt", test::Utf8(u"a 啊 阿\r\n"));
  EXPECT_EQ(Run({"convert-layout", Table("fields.txt"), "--separators", "空格", "--layout", "2"}),
            0);
  EXPECT_TRUE(test::Holds(out_.str(), "1 line converted"));
  EXPECT_EQ(ReadBytes(dir_ / "[ 转换结果 ].txt"), TableBytes({u"啊\ta", u"阿\ta"}));
  EXPECT_EQ(Run({"batch", "/do=码表格式转换", "/源码表文件=fields.txt", "/分割字符=空格",
                 "/选项=单行多义(左词条)"}),
            0);
  EXPECT_EQ(ReadBytes(dir_ / "[ 转换结果 ].txt"), TableBytes({u"a\t啊", u"a\t阿"}));
  EXPECT_EQ(Run({"batch", "/do=码表格式转换", "/源码表文件=missing.txt"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "必须定义有效的源码表文件路径"));

  WriteBytes(dir_ / "kuji.txt", test::Utf8(u"a 啊 阿\r\nb 吧\r\n"));
  EXPECT_EQ(Run({"detect", Table("kuji.txt")}), 0);
  EXPECT_EQ(out_.str(), "kuji\n");
  EXPECT_EQ(Run({"convert", Table("kuji.txt"), "--to", "sogou"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "kuji___搜狗格式.txt"), TableBytes({u"a,1=啊", u"a,2=阿", u"b,1=吧"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 entries"));
  WriteBytes(dir_ / "mixed.txt", test::Utf8(u"a 啊\r\n啊\ta\r\n"));
  EXPECT_EQ(Run({"detect", Table("mixed.txt")}), 1);
  EXPECT_EQ(out_.str().rfind("not recognised", 0), 0u);
  EXPECT_EQ(Run({"convert", Table("mixed.txt"), "--to", "mirel"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "--from"));
  EXPECT_EQ(Run({"convert", Table("mixed.txt"), "--to", "nope"}), 2);
}

TEST_F(ToolCliTest, MergeAndTipsCommandsAndTheBatchToolAgree) {
  WriteBytes(dir_ / "t1.txt", test::Utf8(u"中\tab\r\n国\tgg\r\n"));
  WriteBytes(dir_ / "t2.txt", test::Utf8(u"中\tx\r\n中\ty\r\n"));
  EXPECT_EQ(Run({"merge", Table("t1.txt"), Table("t2.txt"), "-o", Table("cli.txt")}), 0)
      << err_.str();
  EXPECT_EQ(out_.str(), "2 lines written to " + Table("cli.txt") + "\n");
  EXPECT_EQ(ReadBytes(dir_ / "cli.txt"), TableBytes({u"中\tabx", u"中\taby"}));
  EXPECT_EQ(Run({"batch", "/do=合并码表", "/码表文件1=t1.txt", "/码表文件2=t2.txt"}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 码表合并结果 ].txt"), ReadBytes(dir_ / "cli.txt"));
  EXPECT_EQ(Run({"batch", "/do=合并码表", "/码表文件1=none.txt"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "必须指定用于合并的第一码表。"));
  EXPECT_EQ(Run({"merge", Table("none.txt")}), 1);

  WriteBytes(dir_ / "codes.txt", test::Utf8(u"k\tab\r\nq\tcd\r\n"));
  WriteBytes(dir_ / "contents.txt", test::Utf8(u"k\thello"));
  EXPECT_EQ(Run({"tips", Table("codes.txt"), Table("contents.txt"), "--prefix", "z", "-o",
                 Table("tips.txt")}),
            0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "tips.txt"), TableBytes({u"$mlcmd(k,k[hello])\tzab"}));
  EXPECT_EQ(Run({"tips", Table("codes.txt"), Table("codes-missing.txt")}), 1);
}

TEST_F(ToolCliTest, PipesAndDescriptorsAreUsedAsTheyAre) {
  WriteBytes(dir_ / "t.txt", test::Utf8(u"中\tzh\r\n国\tg\r\n中\tzh\r\n"));
  const std::string text = ReadBytes(dir_ / "t.txt");
  const std::string fifo = Table("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { WriteBytes(fifo, text); });
  EXPECT_EQ(Run({"dedup", fifo, "-o", Table("d.txt")}), 0) << err_.str();
  writer.join();
  EXPECT_EQ(ReadBytes(dir_ / "d.txt"), TableBytes({u"中\tzh", u"国\tg"}));

  // /dev/fd/N of a pipe, as <(zcat t.txt.gz) names it; a compiled table
  // through it is told by its header.
  ASSERT_EQ(Run({"compile", Table(), Table("t.ktb")}), 0) << err_.str();
  auto fromPipe = [](const std::string& bytes) {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    EXPECT_EQ(::write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(ends[1]);
    return ends[0];
  };
  int read = fromPipe(ReadBytes(dir_ / "t.ktb"));
  EXPECT_EQ(Run({"sort", "/dev/fd/" + std::to_string(read), "--by", "code1", "-o", Table("s.txt")}),
            0)
      << err_.str();
  ::close(read);
  EXPECT_EQ(ReadBytes(dir_ / "s.txt"), TableBytes({u"国\tg", u"中\tzh"}));
  // A source read twice (convert looks at it first) still gets every byte.
  read = fromPipe(text);
  EXPECT_EQ(
      Run({"convert", "/dev/fd/" + std::to_string(read), "--to", "sogou", "-o", Table("c.txt")}), 0)
      << err_.str();
  ::close(read);
  EXPECT_TRUE(test::Holds(out_.str(), "3 entries written to " + Table("c.txt")));
  // Such a pipe has no folder to write beside.
  read = fromPipe(text);
  EXPECT_EQ(Run({"dedup", "/dev/fd/" + std::to_string(read)}), 2);
  ::close(read);
  EXPECT_TRUE(test::Holds(err_.str(),
                          "is a pipe or device, with no folder to put the result beside; give -o"));
  // A result on a descriptor is written through it.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_EQ(Run({"dedup", Table(), "-o", "/dev/fd/" + std::to_string(ends[1])}), 0) << err_.str();
  ::close(ends[1]);
  std::string received(64, '\0');
  received.resize(static_cast<size_t>(std::max<ssize_t>(0, ::read(ends[0], received.data(), 64))));
  ::close(ends[0]);
  EXPECT_EQ(received, TableBytes({u"中\tzh", u"国\tg"}));
  EXPECT_EQ(Run({"dedup", Table(), "-o", "/dev/fd/999"}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "/dev/fd/999: names descriptor 999, which is not open"));
}

TEST(ToolStandardInputTest, DashReadsStandardInputAndTheReportSaysWhereTheResultWent) {
  ScratchDir temp;
  std::ostringstream out, err;
  for (const std::string& input :
       {test::Utf8(u"中\tzh\r\n中\tzh\r\n"), std::string("\xEF\xBB\xBF") + "a\tb\n"}) {
    std::string written;
    std::unique_ptr<FileSystem> fs = test::NewMemoryFileSystem(input, written);
    ASSERT_OK(fs->CreateFolders(temp.path() / ("mirel-" + std::to_string(::getuid()))));
    out.str("");
    err.str("");
    ToolIo io{out, err, *fs, "/", temp.path(), false, {}};
    std::vector<std::string> args = {"mirel-tool", "dedup", "-", "-o", "-"};
    EXPECT_EQ(RunTool(args, io), 0) << err.str();
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(err.str().rfind("1 row written to standard output", 0), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

TEST_F(ToolCliTest, HelpAndUsageMistakesAreNamedWithTheirCommand) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_TRUE(test::Holds(out_.str(), "dedup"));
  EXPECT_EQ(err_.str(), "");
  // An unknown command is named, with the ones there are.
  EXPECT_EQ(Run({"bogus"}), 2);
  EXPECT_TRUE(test::Holds(err_.str(), "unknown command \"bogus\""));
  EXPECT_TRUE(test::Holds(err_.str(), "dedup, extract-single, sort"));
  EXPECT_EQ(Run({}), 2);
  WriteBytes(dir_ / "t.txt", "a\tb\r\n");
  EXPECT_EQ(Run({"sort", Table()}), 2);
  EXPECT_EQ(err_.str().rfind("mirel-tool: sort: --by is required\n", 0), 0u) << err_.str();
  EXPECT_EQ(Run({"sort", Table(), "--by", "sideways"}), 2);
  EXPECT_EQ(Run({"sort", Table(), "--by", "freq"}), 2);  // without --freq
  // An empty name is no file, not a wish for the default output.
  EXPECT_EQ(Run({"dedup", Table(), "-o", ""}), 2);
  EXPECT_EQ(err_.str(),
            "mirel-tool: dedup: --output: the file name is empty; give a file, or - for standard "
            "output\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "[ 去重结果 ].txt"));
  EXPECT_EQ(Run({"dedup", ""}), 2);
  EXPECT_TRUE(test::Holds(err_.str(), "TABLE: the file name is empty"));
  // The batch tool without a tool is a usage error, and says how to use it.
  EXPECT_EQ(Run({"batch"}), 2);
  EXPECT_TRUE(test::Holds(err_.str(), "Usage: mirel-tool batch"));
  EXPECT_EQ(out_.str(), "");

  // A content table without rows is no question of access rights.
  WriteBytes(dir_ / "codes.txt", "k\tab\r\n");
  WriteBytes(dir_ / "empty.txt", "");
  EXPECT_EQ(Run({"tips", Table("codes.txt"), Table("empty.txt"), "-o", Table("tips.txt")}), 1);
  EXPECT_EQ(err_.str().find("访问权限"), std::string::npos) << err_.str();
  EXPECT_TRUE(test::Holds(err_.str(), Table("empty.txt") + ": it holds no line"));
}

TEST_F(ToolCliTest, WhatLibimeCannotTakeIsSaidInPlainWords) {
  WriteBytes(dir_ / "huge.txt", "KeyCode=abc\nLength=99999999999\n[Data]\nab 啊\n");
  EXPECT_EQ(Run({"convert", Table("huge.txt"), "--from", "fcitx5", "--to", "fcitx5-dict", "-o",
                 Table("huge.main.dict")}),
            1);
  EXPECT_TRUE(
      test::Holds(err_.str(), "Length=99999999999 is not a number of keys fcitx5 can read"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "huge.main.dict"));

  WriteBytes(dir_ / "ok.txt", "KeyCode=abc\nLength=4\n[Data]\nab 啊\nabc 吧\n");
  ASSERT_EQ(Run({"convert", Table("ok.txt"), "--from", "fcitx5", "--to", "fcitx5-dict", "-o",
                 Table("ok.main.dict")}),
            0)
      << err_.str();
  WriteBytes(dir_ / "cut.main.dict", ReadBytes(dir_ / "ok.main.dict").substr(0, 30));
  EXPECT_EQ(Run({"convert", Table("cut.main.dict"), "--from", "fcitx5-dict", "--to", "fcitx5", "-o",
                 Table("cut.txt")}),
            1);
  EXPECT_TRUE(test::Holds(err_.str(),
                          "cut.main.dict: damaged fcitx5 table: the file ends before its "
                          "dictionary does"));
}

TEST_F(ToolCliTest, GeneratorsFromTheCommandLineAndTheBatchToolsAgree) {
  WriteBytes(dir_ / "split.txt", test::Utf8(u"好\t女子\t子女\r\n林\t木木\r\n"));
  WriteBytes(dir_ / "keys.txt", test::Utf8(u"a=女\r\nb=子\r\nc:木\r\n"));
  EXPECT_EQ(Run({"gen-single", Table("split.txt"), Table("keys.txt"), "-o", Table("cli-single.txt"),
                 "--errors", Table("cli-errors.txt")}),
            0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "cli-single.txt"), TableBytes({u"好\tab", u"好\tba", u"林\tcc"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 codes written"));
  EXPECT_EQ(
      Run({"batch", "/do=单字码表生成", "/单字拆分表文件=split.txt", "/键盘映射表文件=keys.txt"}),
      0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 生成的单字码表 ].txt"), ReadBytes(dir_ / "cli-single.txt"));
  EXPECT_EQ(Run({"gen-single", Table("split.txt"), Table("none.txt")}), 1);
  EXPECT_TRUE(test::Holds(err_.str(), "无法打开键盘映射表定义文件。"));

  WriteBytes(dir_ / "chars.txt", test::Utf8(u"中\tkhkh\r\n国\tlgyi\r\n"));
  WriteBytes(dir_ / "words.txt", test::Utf8(u"中国\r\n已有\tx\r\n"));
  EXPECT_EQ(
      Run({"gen-words", Table("chars.txt"), Table("words.txt"), "-o", Table("cli-words.txt")}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "cli-words.txt"), TableBytes({u"中国\tkhlg", u"已有\tx"}));
  EXPECT_EQ(Run({"batch", "/do=词库生成", "/编码表文件=chars.txt", "/词库文件=words.txt"}), 0)
      << err_.str();
  EXPECT_EQ(ReadBytes(dir_ / "[ 生成的词库 ].txt"), ReadBytes(dir_ / "cli-words.txt"));
  // Words that failed are counted and their log is named.
  WriteBytes(dir_ / "words3.txt", test::Utf8(u"中国\r\n无码\r\n"));
  EXPECT_EQ(Run({"gen-words", Table("chars.txt"), Table("words3.txt"), "-o", Table("w3.txt")}), 0)
      << err_.str();
  EXPECT_TRUE(test::Holds(out_.str(), ", 1 error written to " + Table("[ error_词库生成 ].txt")));

  // Lines of the character table without a TAB are named, not dropped.
  WriteBytes(dir_ / "chars2.txt", test::Utf8(u"# 单字\r\n中\tkhkh\r\n国\tlgyi\r\n"));
  EXPECT_EQ(Run({"gen-words", Table("chars2.txt"), Table("words.txt"), "-o", Table("w2.txt")}), 0);
  EXPECT_TRUE(test::Holds(err_.str(), "chars2.txt: 1 line without a TAB was left out (line 1)"));

  // An error log that cannot be written fails the run, naming the log, and
  // leaves the output as it was; the batch tool too.
  const std::string noLog = Table("none/err.txt");
  WriteBytes(dir_ / "cli-single.txt", "old");
  WriteBytes(dir_ / "cli-words.txt", "old");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"gen-single", Table("split.txt"), Table("keys.txt"), "-o",
                                 Table("cli-single.txt"), "--errors", noLog},
        std::vector<std::string>{"gen-words", Table("chars.txt"), Table("words.txt"), "-o",
                                 Table("cli-words.txt"), "--errors", noLog}}) {
    EXPECT_EQ(Run(args), 1) << args[0];
    EXPECT_TRUE(test::Holds(err_.str(), "the error log cannot be written (" + noLog));
  }
  EXPECT_EQ(ReadBytes(dir_ / "cli-single.txt"), "old");
  EXPECT_EQ(ReadBytes(dir_ / "cli-words.txt"), "old");
  std::filesystem::create_directory(dir_ / "ro");
  WriteBytes(dir_ / "ro" / "split.txt", ReadBytes(dir_ / "split.txt"));
  // The batch tool's log is beside the split table; here a folder holds its name.
  std::filesystem::create_directory(dir_ / "ro" / "[ error_码表生成 ].txt");
  EXPECT_EQ(Run({"batch", "/do=单字码表生成", "/单字拆分表文件=ro/split.txt",
                 "/键盘映射表文件=keys.txt"}),
            1);
  EXPECT_TRUE(test::Holds(err_.str(), "error log"));
}

// A Rime table read by content, a weight list, the heat map and the page
// beside the report, and a comparison with a text table.
TEST_F(ToolCliTest, AnalyzeReadsAnyTableAndWritesItsPictures) {
  test::WriteBytes(dir_ / "rr.dict.yaml",
                   "---\nname: rr\nversion: \"1\"\n...\n工\ta\t10\n戈\ta\t20\n式\tab\n");
  test::WriteBytes(dir_ / "w.txt", "工\t30\n戈\t10\n式\t5\n");
  test::WriteBytes(dir_ / "old.txt", "工\ta\n戈\tb\n式\tab\n");
  ASSERT_EQ(
      Run({"analyze", Table("rr.dict.yaml"), "--freq", Table("w.txt"), "--svg", Table("keys.svg"),
           "--html", Table("page.html"), "--against", Table("old.txt"), "--json"}),
      0)
      << err_.str();
  // Rime offers 戈 (weight 20) before 工 under a, and 工 is 30 of the 45.
  EXPECT_TRUE(test::Holds(out_.str(), "\"selection_rate\":0.6666"));
  EXPECT_TRUE(test::Holds(out_.str(), "\"against\""));
  EXPECT_TRUE(test::ReadBytes(dir_ / "keys.svg").find("<svg") != std::string::npos);
  EXPECT_TRUE(test::ReadBytes(dir_ / "page.html").starts_with("<!DOCTYPE html>"));
  EXPECT_TRUE(test::Holds(err_.str(), "keys.svg written"));

  EXPECT_EQ(Run({"analyze", Table("rr.dict.yaml"), "--set", "none"}), 2);
}

// The command line and the editor name the orders from one list: each name
// must reorder as the editor's command of that order does.
TEST_F(ToolCliTest, EveryOrderNameSortsAsTheEditorsReorderDoes) {
  // Rows that every order puts differently.
  WriteBytes(dir_ / "t.txt",
             TableBytes({u"乙乙\tb", u"甲\tab", u"丙\ta", u"丁丁丁\tb", u"甲\tc", u"戊\tba"}));
  WriteBytes(dir_ / "f.txt", TableBytes({u"戊\t1", u"丁丁丁\t2", u"甲\t3"}));
  std::set<std::string> results;
  std::set<std::u16string_view> shown;
  for (const OrderingName& name : OrderingNames()) {
    SCOPED_TRACE(name.cli);
    EXPECT_TRUE(shown.insert(name.shown).second);
    EXPECT_EQ(OrderingFromCli(name.cli), name.ordering);
    std::vector<std::string> args = {"sort", Table(),         "--by", std::string(name.cli),
                                     "-o",   Table("cli.txt")};
    if (name.ordering == Ordering::kFrequency) args.insert(args.end(), {"--freq", Table("f.txt")});
    ASSERT_EQ(Run(args), 0) << err_.str();

    Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(temp_.path());
    ASSERT_TRUE(temp.IsOk());
    TableStore store(test::DiskFs(), *temp.value());
    TableEditor editor(store);
    ASSERT_TRUE(editor.Open(dir_ / "t.txt").IsOk());
    if (name.ordering == Ordering::kFrequency) {
      ASSERT_TRUE(editor.SortByFrequency(dir_ / "f.txt").IsOk());
    } else {
      editor.Reorder(name.ordering);
    }
    ASSERT_TRUE(store.WriteTableText(dir_ / "editor.txt").IsOk());
    EXPECT_EQ(ReadBytes(dir_ / "cli.txt"), ReadBytes(dir_ / "editor.txt"));
    results.insert(ReadBytes(dir_ / "cli.txt"));
  }
  EXPECT_EQ(results.size(), OrderingNames().size());
  EXPECT_FALSE(OrderingFromCli("sideways"));
}

}  // namespace
}  // namespace mirel
