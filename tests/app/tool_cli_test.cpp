#include "app/tool_cli.h"

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
using Args = std::vector<std::string>;

class ToolCliTest : public ::testing::Test {
 protected:
  int Run(Args args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out_, err_, test::DiskFs(), dir_.path(), temp_.path(), false, installed_};
    return RunTool(args, io);
  }
  // A status other than `status` shows the command and what it said.
  bool Expect(int status, const Args& args) {
    const int got = Run(args);
    EXPECT_EQ(got, status) << ::testing::PrintToString(args) << "\n" << err_.str();
    return got == status;
  }
  void ExpectSays(int status, const Args& args, std::string_view says) {
    Expect(status, args);
    EXPECT_TRUE(test::Holds(err_.str(), says)) << ::testing::PrintToString(args);
  }
  std::string At(std::string_view name = "t.txt") const { return (dir_ / name).string(); }
  std::string Read(std::string_view name) const { return ReadBytes(dir_ / name); }
  bool Exists(std::string_view name) const { return std::filesystem::exists(dir_ / name); }
  void Write(std::string_view name, std::string_view bytes) const {
    WriteBytes(dir_ / name, bytes);
  }
  void Write(std::string_view name, std::u16string_view text) const {
    WriteBytes(dir_ / name, test::Utf8(text));
  }

  ScratchDir dir_;
  ScratchDir temp_;
  std::ostringstream out_, err_;
  InstalledEnvironment installed_;
};

TEST_F(ToolCliTest, CommandsWriteTheirResultsAndSayWhere) {
  Write("t.txt", test::Gbk(u"中\tzh\r\n国家\tgj\r\n中\tzh\r\n国\tg\r\n"));
  Expect(0, {"dedup", At()});
  EXPECT_EQ(Read("[ 去重结果 ].txt"), TableBytes({u"中\tzh", u"国家\tgj", u"国\tg"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 rows written"));
  Expect(0, {"extract-single", At()});
  EXPECT_EQ(out_.str(), "导出用户单字码表数：3个。\n");
  Expect(0, {"export-frequency", At()});
  EXPECT_EQ(Read("[ 即时词频 ].txt"), TableBytes({u"中\t1", u"国家\t2", u"中\t3", u"国\t4"}));
}

TEST_F(ToolCliTest, BadInputIsAClearErrorAndNeverAnEmptyResult) {
  ExpectSays(1, {"dedup", At("missing.txt")}, "missing.txt");
  EXPECT_EQ(err_.str().rfind("mirel-tool: dedup: ", 0), 0u) << err_.str();
  EXPECT_FALSE(Exists("[ 去重结果 ].txt"));
  // Any name opens by its content.
  Write("t.doc", "a\tb");
  Expect(0, {"dedup", At("t.doc"), "-o", At("doc.txt")});
  EXPECT_EQ(Read("doc.txt"), TableBytes({u"a\tb"}));
  Write("t.txt", "a\tb\r\n");
  Write("blocker", "");
  Expect(1, {"dedup", At(), "-o", At("blocker") + "/x.txt"});
  Expect(1, {"dedup", At(), "-o", dir_.path().string()});
}

TEST_F(ToolCliTest, LinesWithoutTabAreToldAndATableWithoutRowsIsAnError) {
  Write("t.txt", "a\tb\r\n# note\r\nc\td\r\n");
  Expect(0, {"dedup", At()});
  EXPECT_EQ(err_.str(),
            "mirel-tool: dedup: " + At() + ": 1 line without a TAB was left out (line 2)\n");
  ExpectSays(0, {"stats", At()}, "(line 2)");
  ExpectSays(0, {"batch", "/do=删除重复", "/源码表文件=t.txt"}, "(line 2)");
  // A frequency file's too.
  Write("f.txt", u"词频表\r\nc\t1\r\na\t2\r\n");
  ExpectSays(0, {"sort", At(), "--by", "freq", "--freq", At("f.txt"), "-o", At("o.txt")},
             "f.txt: 1 line without a TAB was left out (line 1)");
  EXPECT_EQ(Read("o.txt"), TableBytes({u"c\td", u"a\tb"}));

  // Space-separated: no row at all is an error that writes nothing, also for
  // the generators.
  Write("kept.txt", "old");
  const std::string spaces = At("spaces.txt"), kept = At("kept.txt");
  Write("spaces.txt", "a b\r\nc d\r\n");
  for (const Args& args :
       {Args{"dedup", spaces, "-o", kept}, Args{"sort", spaces, "--by", "code1"},
        Args{"compile", spaces, kept}, Args{"merge", spaces, "-o", kept},
        Args{"merge", At(), spaces, "-o", kept}, Args{"gen-single", spaces, At(), "-o", kept},
        Args{"tips", spaces, At(), "-o", kept}}) {
    ExpectSays(1, args, "2 lines without a TAB were left out (lines 1, 2)");
  }
  EXPECT_EQ(Read("kept.txt"), "old");
  EXPECT_FALSE(Exists("[ 排序结果 ].txt"));

  // The compiler's comment lines are no table lines left out.
  Write("c.txt", "// comment\r\na\tb\r\nlost\r\n///x\tescaped\r\n");
  Expect(0, {"compile", "-q", At("c.txt"), At("c.ktb")});
  EXPECT_EQ(err_.str(), "mirel-tool: compile: " + At("c.txt") +
                            ": 1 line without a TAB was left out (line 3)\n");
}

TEST_F(ToolCliTest, CompileAndDecompileRoundTripAndOtherCommandsTakeCompiledTables) {
  Write("t.txt", u"好\thao#1\r\n中\tzh\r\n中\tzh\r\n国\t\U0001F600\r\n国\tgg\r\n");
  Expect(0, {"compile", At(), At("t.ktb")});
  EXPECT_EQ(
      out_.str(),
      "　　忽略第[ 3行 ]重复词条：中 \n"
      "　　码表信息：\n　　  码表大小：31字节\n　　  原始码表行数：4\n　　  有效编码行数：3\n");
  Expect(0, {"compile", "--quiet", At(), At("t.ktb")});
  EXPECT_EQ(out_.str(), "");
  Expect(0, {"decompile", At("t.ktb"), At("back.txt")});
  EXPECT_EQ(Read("back.txt"), TableBytes({u"好\thao#1", u"中\tzh", u"国\tgg"}));

  // Every TABLE argument takes a compiled table as its rows, never as text.
  Write("codes.txt", u"中\tx\r\n国\ty\r\n");
  Write("words.txt", u"中国\r\n");
  const std::string r = At("r.txt");
  const std::vector<std::pair<Args, std::vector<std::u16string>>> takes = {
      {{"dedup", At("t.ktb"), "-o", r}, {u"好\thao#1", u"中\tzh", u"国\tgg"}},
      {{"merge", At("t.ktb"), At("codes.txt"), "-o", r}, {u"中\tzhx", u"国\tggy"}},
      {{"tips", At("t.ktb"), At("t.ktb"), "-o", r},
       {u"$mlcmd(好,好[hao#1])\thao#1", u"$mlcmd(中,中[zh])\tzh", u"$mlcmd(国,国[gg])\tgg"}},
      {{"gen-words", At("t.ktb"), At("words.txt"), "-o", r}, {u"中国\tzhgg"}}};
  for (const auto& [args, rows] : takes) {
    Expect(0, args);
    EXPECT_EQ(ReadBytes(r), TableBytes(rows)) << args[0];
  }
  Expect(0, {"batch", "/do=提取单字编码", "/源码表文件=t.ktb"});
  EXPECT_EQ(Read("[ 提取的单字 ].txt"), Read("back.txt"));
  Expect(0, {"compile", "-q", At("t.ktb"), At("again.ktb")});
  Expect(0, {"decompile", At("again.ktb"), At("again.txt")});
  EXPECT_EQ(Read("again.txt"), Read("back.txt"));
  // Where a compiled table makes no sense, it is refused.
  ExpectSays(1, {"gen-single", At("t.ktb"), At("codes.txt"), "-o", At("s.txt")},
             "a compiled table cannot be used as the split table");
  ExpectSays(1, {"gen-words", At("codes.txt"), At("t.ktb"), "-o", At("w2.txt")}, "word list");
  EXPECT_FALSE(Exists("s.txt") || Exists("w2.txt"));

  Write("bad.ktb", "not a compiled table");
  for (const Args& args : {Args{"compile", At("bad.ktb"), At("x.ktb")},
                           Args{"merge", At("bad.ktb"), "-o", At("x.txt")},
                           Args{"tips", At("codes.txt"), At("bad.ktb"), "-o", At("x.txt")}}) {
    ExpectSays(1, args, "not a compiled table: its first bytes");
  }
  EXPECT_FALSE(Exists("x.ktb"));
  ExpectSays(1, {"decompile", At("bad.ktb"), At("x.txt")}, "bad.ktb");
  EXPECT_FALSE(Exists("x.txt"));
  Write("none.txt", "no rows\r\n");
  Expect(1, {"compile", At("none.txt"), At("none.ktb")});
  EXPECT_FALSE(Exists("none.ktb"));
}

TEST_F(ToolCliTest, StatsPrintsOrWritesTheReportWithoutTouchingTheTable) {
  Write("t.txt", u"啊\ta\r\n阿\ta\r\n吖\ta\r\n爱\tai\r\n");
  const std::string before = Read("t.txt");
  Expect(0, {"stats", At()});
  EXPECT_TRUE(test::Holds(out_.str(), "编码总数:4 个\n重码总数：3个，占编码总数的75.000000%。\n"));
  Expect(0, {"stats", At(), "-o", At("r.txt")});
  EXPECT_EQ(Read("r.txt").substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Read("t.txt"), before);
  Expect(1, {"stats", At("none.txt")});
}

TEST_F(ToolCliTest, InstalledCopiesAreListedExportedAndCompiledInto) {
  test::FakePrefix prefix(dir_ / "prefix");
  prefix.AddCopy(u"Hidden", u"hidden", u"");
  prefix.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
  prefix.SetMainTable(u"mirelsp", u"中\tzh\r\n");
  prefix.SetUserLibrary(u"mirelsp", {u"你好"});
  prefix.WriteRegistry(test::FakePrefix::Style::kRegedit5Utf16);
  installed_ = prefix.Environment();

  Expect(0, {"installed", "--json"});
  EXPECT_TRUE(test::Holds(out_.str(), "{\"key\":\"Hidden\",\"name\":\"\","));
  EXPECT_TRUE(test::Holds(out_.str(), "\"key\":\"MirelIME3_sp\",\"name\":\"Mirel 双拼\""));
  EXPECT_TRUE(test::Holds(out_.str(), "\"main\":true,\"user\":true}"));
  Expect(0, {"installed"});
  EXPECT_EQ(out_.str().rfind("KEY", 0), 0u);

  Expect(0, {"installed", "export", "Mirel 双拼", At("out.txt"), "--user-library"});
  EXPECT_EQ(Read("out.txt"),
            TableBytes({u"中\tzh", u"//kavo_tolvik 导出的当前正在使用的用户词库", u"你好\t"}));
  ExpectSays(1, {"installed", "export", "nobody", At("x.txt")}, "nobody");

  // A compiled table compiles into a copy as its rows, not as text; so does
  // one renamed .txt: its bytes, not its name, say what it is.
  Write("two.txt", u"国\tgg\r\n家\tjia\r\n");
  ASSERT_TRUE(Expect(0, {"compile", "-q", At("two.txt"), At("two.ktb")}));
  std::filesystem::copy_file(dir_ / "two.ktb", dir_ / "copy.txt");
  for (const char* compiled : {"two.ktb", "copy.txt"}) {
    Expect(0, {"installed", "compile", At(compiled), "MirelIME3_sp"});
    EXPECT_TRUE(test::Holds(out_.str(), "2 entries"));
    Expect(0, {"installed", "export", "MirelIME3_sp", At("two-back.txt")});
    EXPECT_EQ(Read("two-back.txt"), TableBytes({u"国\tgg", u"家\tjia"})) << compiled;
  }
  Expect(0, {"dedup", At("copy.txt"), "-o", At("r.txt")});
  EXPECT_EQ(Read("r.txt"), TableBytes({u"国\tgg", u"家\tjia"}));

  // Compiling into the copy keeps its header values.
  const std::filesystem::path main = prefix.DataFolder(u"mirelsp") / "main.ktb";
  const std::string header = ReadBytes(main).substr(36, 34);
  Write("new.txt", u"国\tgg\r\n");
  Expect(0, {"installed", "compile", At("new.txt"), "MirelIME3_sp"});
  EXPECT_EQ(ReadBytes(main).substr(36, 34), header);
  Expect(0, {"installed", "export", "MirelIME3_sp", At("back.txt")});
  EXPECT_EQ(Read("back.txt"), TableBytes({u"国\tgg"}));
  // A read-only main table is not replaced.
  std::filesystem::permissions(main, std::filesystem::perms::owner_read);
  const std::string before = ReadBytes(main);
  ExpectSays(1, {"installed", "compile", At("new.txt"), "MirelIME3_sp"}, "read-only");
  EXPECT_EQ(ReadBytes(main), before);
}

TEST_F(ToolCliTest, TextFromFilesNeverReachesTheTerminalAsControls) {
  test::FakePrefix prefix(dir_ / "prefix");
  const std::u16string hostile = u"\x1b[2J\x1b]52;c;aGk=\x07";
  prefix.AddCopy(u"MirelIME3_x", u"mirelx", hostile);
  prefix.WriteRegistry(test::FakePrefix::Style::kRegedit5Utf16);
  installed_ = prefix.Environment();
  Expect(0, {"installed"});
  EXPECT_TRUE(test::Holds(out_.str(), "MirelIME3_x  \\x1b[2J\\x1b]52;c;aGk=\\x07  no"));
  Expect(0, {"installed", "--json"});
  EXPECT_TRUE(test::Holds(out_.str(), "\"name\":\"\\u001b[2J\\u001b]52;c;aGk=\\u0007\""));
  Expect(1, {"installed", "export", test::Utf8(hostile), At("x.txt")});
  EXPECT_EQ(err_.str().find('\x1b'), std::string::npos);

  // Entries in the compiler's report, and names in messages.
  Write("t.txt", u"\x1b]0;owned\x07\tab\r\n\x1b]0;owned\x07\tab\r\n");
  Expect(0, {"compile", At(), At("t.ktb")});
  EXPECT_TRUE(test::Holds(out_.str(), "\\x1b]0;owned\\x07"));
  ExpectSays(1, {"dedup", At("\x1b[31m.txt")}, "\\x1b[31m.txt");
  for (const std::string& text : {out_.str(), err_.str()}) {
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
  }
}

struct ChildRun {
  int exitCode = -1;  // -1: ended by a signal
  std::string out, err;
};

// Runs mirel-tool with `args` in `dir`, as a shell starts it.
ChildRun RunToolAsChild(const std::filesystem::path& dir, const Args& args) {
  std::string command = "cd '" + dir.string() + "' && exec '" MIREL_TOOL_PATH "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  const int status = std::system((command + " >child-stdout 2>child-stderr").c_str());
  ChildRun run;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.out = ReadBytes(dir / "child-stdout");
  run.err = ReadBytes(dir / "child-stderr");
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
  Write("big.txt", u"中\tzh\n");
  std::filesystem::resize_file(big, 2 * machine);
  struct stat info {};
  if (::stat(big.c_str(), &info) != 0 || info.st_blocks > 2048) {
    std::filesystem::remove(big);
    GTEST_SKIP() << "no sparse files in " << dir_.path();
  }
  Write("small.txt", u"中\tzh\n");
  for (const Args& args :
       {Args{"compile", "big.txt", "big.ktb"}, Args{"sort", "big.txt", "--by", "code1", "-o", "o"},
        Args{"dedup", "big.txt", "-o", "o"}, Args{"merge", "small.txt", "big.txt", "-o", "o"},
        Args{"tips", "big.txt", "small.txt", "-o", "o"}, Args{"stats", "big.txt"}}) {
    const ChildRun run = RunToolAsChild(dir_.path(), args);
    EXPECT_EQ(run.exitCode, 1) << args[0] << ": " << run.err;
    // Refused up front from the memory there is, or failing on it later.
    EXPECT_TRUE(test::Holds(run.err, "out of memory") ||
                test::Holds(run.err, "too large: more than"))
        << args[0];
    EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists("big.ktb") || Exists("o")) << args[0];
  }
}

TEST_F(ToolCliTest, DashWritesTheResultToStandardOutputAndTheReportsToStandardError) {
  Write("t.txt", "a\tb\r\na\tb\r\nc\td\r\n");
  ChildRun run = RunToolAsChild(dir_.path(), {"dedup", "t.txt", "-o", "-"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, TableBytes({u"a\tb", u"c\td"}));
  EXPECT_EQ(run.err, "2 rows written to standard output, 1 row left out as duplicates\n");
  run = RunToolAsChild(dir_.path(), {"compile", "t.txt", "-"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.size(), 0xAAu);
  EXPECT_TRUE(test::Holds(run.err, "码表信息"));
  EXPECT_FALSE(Exists("-"));
}

TEST_F(ToolCliTest, FileNamesThatAreNotUtf8AreOpenedAsTheyAre) {
  // Two names a UTF-16 round trip would confuse: \xff decodes to U+FFFD.
  const std::string bad = At("\xff.txt");
  Write("\xff.txt", u"中\tzh\r\n");
  Write("\xef\xbf\xbd.txt", u"中\tLOOKALIKE\r\n");
  Write("two.txt", u"中\tx\r\n");
  Write("words.txt", u"中中\r\n");
  const std::string r = At("r.txt");
  const std::vector<std::pair<Args, std::u16string>> commands = {
      {{"merge", bad, At("two.txt"), "-o", r}, u"中\tzhx"},
      {{"tips", bad, bad, "-o", r}, u"$mlcmd(中,中[zh])\tzh"},
      {{"gen-words", bad, At("words.txt"), "-o", r}, u"中中\tzhzh"},
      {{"dedup", bad, "-o", r}, u"中\tzh"}};
  for (const auto& [args, row] : commands) {
    Expect(0, args);
    EXPECT_EQ(ReadBytes(r), TableBytes({row})) << args[0];
  }
  // Output folders and names keep their bytes too; messages show them escaped.
  std::filesystem::create_directory(dir_ / "\xfe");
  Expect(0, {"merge", bad, "-o", At("\xfe/out.txt")});
  EXPECT_TRUE(Exists("\xfe/out.txt"));
  EXPECT_TRUE(test::Holds(out_.str(), "\\xfe/out.txt"));
  EXPECT_FALSE(Exists("\xef\xbf\xbd"));

  // The batch grammar works on UTF-16 text: such a name is refused, no
  // lookalike is opened and nothing is written.
  ExpectSays(1, {"batch", "/do=删除重复", "/源码表文件=\xff.txt"}, "\\xff.txt\" is not UTF-8");
  EXPECT_FALSE(Exists("[ 去重结果 ].txt"));
}

TEST_F(ToolCliTest, ConversionCommandsAndTheBatchToolAgree) {
  const std::string rule = "<all.0><tab.1><all.0><row.2>==><3><t><1><r>";
  Write("src.txt", u"a\t啊\r\nb\t吧\r\n");
  Write("rules.txt", rule + "\r\n");
  Expect(0, {"convert-rules", At("src.txt"), "--rules", At("rules.txt"), "-o", At("cli.txt")});
  EXPECT_EQ(Read("cli.txt"), TableBytes({u"啊\ta", u"吧\tb"}));
  Expect(0, {"convert-rules", At("src.txt"), "--rule", rule});
  EXPECT_EQ(Read("[ 转换结果 ].txt"), Read("cli.txt"));
  std::filesystem::remove(dir_ / "[ 转换结果 ].txt");
  Expect(0, {"batch", "/do=码表格式转换", "/源码表文件=src.txt", "/规则文件=rules.txt"});
  EXPECT_EQ(Read("[ 转换结果 ].txt"), Read("cli.txt"));

  Write("fields.txt", u"a 啊 阿\r\n");
  Expect(0, {"convert-layout", At("fields.txt"), "--separators", "空格", "--layout", "2"});
  EXPECT_TRUE(test::Holds(out_.str(), "1 line converted"));
  EXPECT_EQ(Read("[ 转换结果 ].txt"), TableBytes({u"啊\ta", u"阿\ta"}));
  Expect(0, {"batch", "/do=码表格式转换", "/源码表文件=fields.txt", "/分割字符=空格",
             "/选项=单行多义(左词条)"});
  EXPECT_EQ(Read("[ 转换结果 ].txt"), TableBytes({u"a\t啊", u"a\t阿"}));
  ExpectSays(1, {"batch", "/do=码表格式转换", "/源码表文件=missing.txt"},
             "必须定义有效的源码表文件路径");

  Write("kuji.txt", u"a 啊 阿\r\nb 吧\r\n");
  Expect(0, {"detect", At("kuji.txt")});
  EXPECT_EQ(out_.str(), "kuji\n");
  Expect(0, {"convert", At("kuji.txt"), "--to", "sogou"});
  EXPECT_EQ(Read("kuji___搜狗格式.txt"), TableBytes({u"a,1=啊", u"a,2=阿", u"b,1=吧"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 entries"));
  Write("mixed.txt", u"a 啊\r\n啊\ta\r\n");
  Expect(1, {"detect", At("mixed.txt")});
  EXPECT_EQ(out_.str().rfind("not recognised", 0), 0u);
  ExpectSays(1, {"convert", At("mixed.txt"), "--to", "mirel"}, "--from");
  Expect(2, {"convert", At("mixed.txt"), "--to", "nope"});
}

TEST_F(ToolCliTest, MergeAndTipsCommandsAndTheBatchToolAgree) {
  Write("t1.txt", u"中\tab\r\n国\tgg\r\n");
  Write("t2.txt", u"中\tx\r\n中\ty\r\n");
  Expect(0, {"merge", At("t1.txt"), At("t2.txt"), "-o", At("cli.txt")});
  EXPECT_EQ(out_.str(), "2 lines written to " + At("cli.txt") + "\n");
  EXPECT_EQ(Read("cli.txt"), TableBytes({u"中\tabx", u"中\taby"}));
  Expect(0, {"batch", "/do=合并码表", "/码表文件1=t1.txt", "/码表文件2=t2.txt"});
  EXPECT_EQ(Read("[ 码表合并结果 ].txt"), Read("cli.txt"));
  ExpectSays(1, {"batch", "/do=合并码表", "/码表文件1=none.txt"}, "必须指定用于合并的第一码表。");
  Expect(1, {"merge", At("none.txt")});

  Write("codes.txt", u"k\tab\r\nq\tcd\r\n");
  Write("contents.txt", u"k\thello");
  Expect(0, {"tips", At("codes.txt"), At("contents.txt"), "--prefix", "z", "-o", At("tips.txt")});
  EXPECT_EQ(Read("tips.txt"), TableBytes({u"$mlcmd(k,k[hello])\tzab"}));
  Expect(1, {"tips", At("codes.txt"), At("codes-missing.txt")});
}

TEST_F(ToolCliTest, PipesAndDescriptorsAreUsedAsTheyAre) {
  Write("t.txt", u"中\tzh\r\n国\tg\r\n中\tzh\r\n");
  const std::string text = Read("t.txt");
  const std::string fifo = At("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { WriteBytes(fifo, text); });
  Expect(0, {"dedup", fifo, "-o", At("d.txt")});
  writer.join();
  EXPECT_EQ(Read("d.txt"), TableBytes({u"中\tzh", u"国\tg"}));

  // /dev/fd/N of a pipe, as <(zcat t.txt.gz) names it; a compiled table
  // through it is told by its header.
  ASSERT_TRUE(Expect(0, {"compile", At(), At("t.ktb")}));
  int ends[2];
  auto fromPipe = [&](const std::string& bytes) {
    EXPECT_EQ(::pipe(ends), 0);
    EXPECT_EQ(::write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(ends[1]);
    return "/dev/fd/" + std::to_string(ends[0]);
  };
  Expect(0, {"sort", fromPipe(Read("t.ktb")), "--by", "code1", "-o", At("s.txt")});
  ::close(ends[0]);
  EXPECT_EQ(Read("s.txt"), TableBytes({u"国\tg", u"中\tzh"}));
  // A source read twice (convert looks at it first) still gets every byte.
  Expect(0, {"convert", fromPipe(text), "--to", "sogou", "-o", At("c.txt")});
  ::close(ends[0]);
  EXPECT_TRUE(test::Holds(out_.str(), "3 entries written to " + At("c.txt")));
  // Such a pipe has no folder to write beside.
  ExpectSays(2, {"dedup", fromPipe(text)},
             "is a pipe or device, with no folder to put the result beside; give -o");
  ::close(ends[0]);
  // A result on a descriptor is written through it.
  ASSERT_EQ(::pipe(ends), 0);
  Expect(0, {"dedup", At(), "-o", "/dev/fd/" + std::to_string(ends[1])});
  ::close(ends[1]);
  std::string received(64, '\0');
  received.resize(static_cast<size_t>(std::max<ssize_t>(0, ::read(ends[0], received.data(), 64))));
  ::close(ends[0]);
  EXPECT_EQ(received, TableBytes({u"中\tzh", u"国\tg"}));
  ExpectSays(1, {"dedup", At(), "-o", "/dev/fd/999"},
             "/dev/fd/999: names descriptor 999, which is not open");
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
    const Args args = {"mirel-tool", "dedup", "-", "-o", "-"};
    EXPECT_EQ(RunTool(args, io), 0) << err.str();
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(err.str().rfind("1 row written to standard output", 0), 0u) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

TEST_F(ToolCliTest, HelpAndUsageMistakesAreNamedWithTheirCommand) {
  Expect(0, {"--help"});
  EXPECT_TRUE(test::Holds(out_.str(), "dedup"));
  EXPECT_EQ(err_.str(), "");
  // An unknown command is named, with the ones there are.
  ExpectSays(2, {"bogus"}, "unknown command \"bogus\"");
  EXPECT_TRUE(test::Holds(err_.str(), "dedup, extract-single, sort"));
  Expect(2, {});
  Write("t.txt", "a\tb\r\n");
  Expect(2, {"sort", At()});
  EXPECT_EQ(err_.str().rfind("mirel-tool: sort: --by is required\n", 0), 0u) << err_.str();
  Expect(2, {"sort", At(), "--by", "sideways"});
  Expect(2, {"sort", At(), "--by", "freq"});  // without --freq
  // An empty name is no file, not a wish for the default output.
  Expect(2, {"dedup", At(), "-o", ""});
  EXPECT_EQ(err_.str(),
            "mirel-tool: dedup: --output: the file name is empty; give a file, or - for standard "
            "output\n");
  EXPECT_FALSE(Exists("[ 去重结果 ].txt"));
  ExpectSays(2, {"dedup", ""}, "TABLE: the file name is empty");
  // The batch tool without a tool is a usage error, and says how to use it.
  ExpectSays(2, {"batch"}, "Usage: mirel-tool batch");
  EXPECT_EQ(out_.str(), "");

  // A content table without rows is no question of access rights.
  Write("codes.txt", "k\tab\r\n");
  Write("empty.txt", "");
  ExpectSays(1, {"tips", At("codes.txt"), At("empty.txt"), "-o", At("tips.txt")},
             At("empty.txt") + ": it holds no line");
  EXPECT_EQ(err_.str().find("访问权限"), std::string::npos) << err_.str();
}

TEST_F(ToolCliTest, WhatLibimeCannotTakeIsSaidInPlainWords) {
  Write("huge.txt", "KeyCode=abc\nLength=99999999999\n[Data]\nab 啊\n");
  ExpectSays(1,
             {"convert", At("huge.txt"), "--from", "fcitx5", "--to", "fcitx5-dict", "-o",
              At("huge.main.dict")},
             "Length=99999999999 is not a number of keys fcitx5 can read");
  EXPECT_FALSE(Exists("huge.main.dict"));

  Write("ok.txt", "KeyCode=abc\nLength=4\n[Data]\nab 啊\nabc 吧\n");
  ASSERT_TRUE(Expect(0, {"convert", At("ok.txt"), "--from", "fcitx5", "--to", "fcitx5-dict", "-o",
                         At("ok.main.dict")}));
  Write("cut.main.dict", Read("ok.main.dict").substr(0, 30));
  ExpectSays(1,
             {"convert", At("cut.main.dict"), "--from", "fcitx5-dict", "--to", "fcitx5", "-o",
              At("cut.txt")},
             "cut.main.dict: damaged fcitx5 table: the file ends before its dictionary does");
}

TEST_F(ToolCliTest, GeneratorsFromTheCommandLineAndTheBatchToolsAgree) {
  Write("split.txt", u"好\t女子\t子女\r\n林\t木木\r\n");
  Write("keys.txt", u"a=女\r\nb=子\r\nc:木\r\n");
  Expect(0, {"gen-single", At("split.txt"), At("keys.txt"), "-o", At("cli-single.txt"), "--errors",
             At("cli-errors.txt")});
  EXPECT_EQ(Read("cli-single.txt"), TableBytes({u"好\tab", u"好\tba", u"林\tcc"}));
  EXPECT_TRUE(test::Holds(out_.str(), "3 codes written"));
  Expect(0, {"batch", "/do=单字码表生成", "/单字拆分表文件=split.txt", "/键盘映射表文件=keys.txt"});
  EXPECT_EQ(Read("[ 生成的单字码表 ].txt"), Read("cli-single.txt"));
  ExpectSays(1, {"gen-single", At("split.txt"), At("none.txt")}, "无法打开键盘映射表定义文件。");

  Write("chars.txt", u"中\tkhkh\r\n国\tlgyi\r\n");
  Write("words.txt", u"中国\r\n已有\tx\r\n");
  Expect(0, {"gen-words", At("chars.txt"), At("words.txt"), "-o", At("cli-words.txt")});
  EXPECT_EQ(Read("cli-words.txt"), TableBytes({u"中国\tkhlg", u"已有\tx"}));
  Expect(0, {"batch", "/do=词库生成", "/编码表文件=chars.txt", "/词库文件=words.txt"});
  EXPECT_EQ(Read("[ 生成的词库 ].txt"), Read("cli-words.txt"));
  // Words that failed are counted and their log is named.
  Write("words3.txt", u"中国\r\n无码\r\n");
  Expect(0, {"gen-words", At("chars.txt"), At("words3.txt"), "-o", At("w3.txt")});
  EXPECT_TRUE(test::Holds(out_.str(), ", 1 error written to " + At("[ error_词库生成 ].txt")));

  // Lines of the character table without a TAB are named, not dropped.
  Write("chars2.txt", u"# 单字\r\n中\tkhkh\r\n国\tlgyi\r\n");
  ExpectSays(0, {"gen-words", At("chars2.txt"), At("words.txt"), "-o", At("w2.txt")},
             "chars2.txt: 1 line without a TAB was left out (line 1)");

  // An error log that cannot be written fails the run, naming the log, and
  // leaves the output as it was; the batch tool too.
  const std::string noLog = At("none/err.txt");
  Write("cli-single.txt", "old");
  Write("cli-words.txt", "old");
  for (const Args& args : {Args{"gen-single", At("split.txt"), At("keys.txt"), "-o",
                                At("cli-single.txt"), "--errors", noLog},
                           Args{"gen-words", At("chars.txt"), At("words.txt"), "-o",
                                At("cli-words.txt"), "--errors", noLog}}) {
    ExpectSays(1, args, "the error log cannot be written (" + noLog);
  }
  EXPECT_EQ(Read("cli-single.txt"), "old");
  EXPECT_EQ(Read("cli-words.txt"), "old");
  std::filesystem::create_directory(dir_ / "ro");
  Write("ro/split.txt", Read("split.txt"));
  // The batch tool's log is beside the split table; here a folder holds its name.
  std::filesystem::create_directory(dir_ / "ro" / "[ error_码表生成 ].txt");
  ExpectSays(
      1, {"batch", "/do=单字码表生成", "/单字拆分表文件=ro/split.txt", "/键盘映射表文件=keys.txt"},
      "error log");
}

// A Rime table read by content, a weight list, the heat map and the page
// beside the report, and a comparison with a text table.
TEST_F(ToolCliTest, AnalyzeReadsAnyTableAndWritesItsPictures) {
  Write("rr.dict.yaml", "---\nname: rr\nversion: \"1\"\n...\n工\ta\t10\n戈\ta\t20\n式\tab\n");
  Write("w.txt", "工\t30\n戈\t10\n式\t5\n");
  Write("old.txt", "工\ta\n戈\tb\n式\tab\n");
  ASSERT_TRUE(
      Expect(0, {"analyze", At("rr.dict.yaml"), "--freq", At("w.txt"), "--svg", At("keys.svg"),
                 "--html", At("page.html"), "--against", At("old.txt"), "--json"}));
  // Rime offers 戈 (weight 20) before 工 under a, and 工 is 30 of the 45.
  EXPECT_TRUE(test::Holds(out_.str(), "\"selection_rate\":0.6666"));
  EXPECT_TRUE(test::Holds(out_.str(), "\"against\""));
  EXPECT_TRUE(test::Holds(Read("keys.svg"), "<svg"));
  EXPECT_TRUE(Read("page.html").starts_with("<!DOCTYPE html>"));
  EXPECT_TRUE(test::Holds(err_.str(), "keys.svg written"));
  Expect(2, {"analyze", At("rr.dict.yaml"), "--set", "none"});
}

// The command line and the editor name the orders from one list: each name
// must reorder as the editor's command of that order does.
TEST_F(ToolCliTest, EveryOrderNameSortsAsTheEditorsReorderDoes) {
  // Rows that every order puts differently.
  Write("t.txt", TableBytes({u"乙乙\tb", u"甲\tab", u"丙\ta", u"丁丁丁\tb", u"甲\tc", u"戊\tba"}));
  Write("f.txt", TableBytes({u"戊\t1", u"丁丁丁\t2", u"甲\t3"}));
  std::set<std::string> results;
  std::set<std::u16string_view> shown;
  for (const OrderingName& name : OrderingNames()) {
    SCOPED_TRACE(name.cli);
    EXPECT_TRUE(shown.insert(name.shown).second);
    EXPECT_EQ(OrderingFromCli(name.cli), name.ordering);
    Args args = {"sort", At(), "--by", std::string(name.cli), "-o", At("cli.txt")};
    if (name.ordering == Ordering::kFrequency) args.insert(args.end(), {"--freq", At("f.txt")});
    ASSERT_TRUE(Expect(0, args));

    Result<std::unique_ptr<TempFolder>> temp = TempFolder::OpenIn(temp_.path());
    ASSERT_OK(temp);
    TableStore store(test::DiskFs(), *temp.value());
    TableEditor editor(store);
    ASSERT_OK(editor.Open(dir_ / "t.txt"));
    if (name.ordering == Ordering::kFrequency) {
      ASSERT_OK(editor.SortByFrequency(dir_ / "f.txt"));
    } else {
      editor.Reorder(name.ordering);
    }
    ASSERT_OK(store.WriteTableText(dir_ / "editor.txt"));
    EXPECT_EQ(Read("cli.txt"), Read("editor.txt"));
    results.insert(Read("cli.txt"));
  }
  EXPECT_EQ(results.size(), OrderingNames().size());
  EXPECT_FALSE(OrderingFromCli("sideways"));
}

}  // namespace
}  // namespace mirel
