// Every mirel-tool command and batch tool against a disk that fails each of
// its I/O steps in turn: exit status 1, one message naming the file and the
// OS's reason, every existing output as it was and no temporary file left.
// And against reads cut short: the same result as whole reads.
#include <sstream>

#include "app/tool_cli.h"
#include "support/fake_prefix.h"
#include "support/faulty_file_system.h"
#include "support/test_support.h"
#include "support/writer_faults.h"

namespace mirel {
namespace {

using test::FaultyFileSystem;
using test::IoStep;
using test::KeptFiles;
using test::NamesTheFault;
using test::ReadBytes;
using test::WriteBytes;

class ToolFaultsTest : public ::testing::Test {
 protected:
  ToolFaultsTest() : faulty_(test::DiskFs()), prefix_(dir_ / "prefix") {
    std::u16string table;
    for (int k = 0; k < 200; ++k) {
      std::u16string entry(1, static_cast<char16_t>(0x4E00 + k % 150));
      if (k % 4 == 0) entry += u"国";
      table += entry + u"\t" + static_cast<char16_t>(u'a' + k % 26) +
               static_cast<char16_t>(u'a' + k / 26) + u"\r\n";
    }
    WriteBytes(dir_ / "t.txt", test::Gbk(table));
    WriteBytes(dir_ / "t.ktb", test::CompiledBytes(table));
    WriteBytes(dir_ / "freq.txt", test::Utf8(u"丁\t3\r\n七\t1\r\n"));
    WriteBytes(dir_ / "kuji.txt", test::Utf8(u"a 啊 阿\r\nb 吧\r\n"));
    WriteBytes(dir_ / "src.txt", test::Utf8(u"a\t啊\r\nb\t吧\r\n"));
    WriteBytes(dir_ / "rules.txt", test::Utf8(u"<all.0><tab.1><all.0><row.2>==><3><t><1><r>\r\n"));
    WriteBytes(dir_ / "fields.txt", test::Utf8(u"a 啊 阿\r\n"));
    WriteBytes(dir_ / "t1.txt", test::Utf8(u"中\tab\r\n国\tgg\r\n"));
    WriteBytes(dir_ / "t2.txt", test::Utf16Le(u"中\tx\r\n中\ty\r\n"));
    WriteBytes(dir_ / "codes.txt", test::Utf8(u"k\tab\r\nq\tcd\r\n"));
    WriteBytes(dir_ / "contents.txt", test::Utf8(u"k\thello\r\n"));
    WriteBytes(dir_ / "split.txt", test::Utf8(u"好\t女子\t子女\r\n林\t木木\r\n"));
    WriteBytes(dir_ / "keys.txt", test::Utf8(u"a=女\r\nb=子\r\n"));
    WriteBytes(dir_ / "chars.txt", test::Utf8(u"中\tkhkh\r\n国\tlgyi\r\n"));
    WriteBytes(dir_ / "words.txt", test::Utf8(u"中国\r\n未知\r\n已有\tx\r\n"));

    prefix_.AddCopy(u"MirelIME3_sp", u"mirelsp", u"Mirel 双拼");
    prefix_.SetMainTable(u"mirelsp", u"中\tzh\r\n国\tgg\r\n");
    prefix_.SetUserLibrary(u"mirelsp", {u"你好"});
    prefix_.WriteRegistry();
    installed_ = prefix_.Environment();
  }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.begin(), "mirel-tool");
    ToolIo io{out_, err_, faulty_, dir_.path(), temp_.path(), false, installed_};
    return RunTool(args, io);
  }
  std::string At(std::string_view name) const { return (dir_ / name).string(); }

  // Runs the command as it should go, then once with each of its I/O steps
  // failing. A fault in `log` fails the run, naming the log; a fault in a
  // file of `goesOn` lets it finish; any other fails it, leaving `outputs`
  // as they were, and `log` too unless the log tells the failure.
  void FailEachStep(const std::vector<std::string>& args,
                    const std::vector<std::filesystem::path>& outputs,
                    const std::filesystem::path& log = {},
                    const std::vector<std::filesystem::path>& goesOn = {},
                    bool logTellsFailure = false) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    std::vector<std::filesystem::path> all = outputs;
    if (!log.empty()) all.push_back(log);
    for (const auto& file : all) {
      if (!std::filesystem::exists(file)) WriteBytes(file, "old " + file.filename().string());
    }
    const KeptFiles kept(all);
    const KeptFiles keptOutputs(outputs);
    faulty_.Reset();
    EXPECT_EQ(Run(args), 0) << err_.str();
    std::vector<std::string> written;
    for (const auto& file : outputs) written.push_back(ReadBytes(file));
    const std::string printed = out_.str();
    // Reads cut short give the same result, byte for byte.
    kept.Restore();
    faulty_.Reset();
    faulty_.ShortReads(7);
    EXPECT_EQ(Run(args), 0) << "short reads: " << err_.str();
    EXPECT_EQ(out_.str(), printed) << "short reads";
    for (size_t k = 0; k < outputs.size(); ++k) {
      EXPECT_EQ(ReadBytes(outputs[k]), written[k]) << "short reads";
    }
    // Counts the steps for the faults below.
    kept.Restore();
    faulty_.Reset();
    EXPECT_EQ(Run(args), 0) << err_.str();
    const int faults = test::ForEachInjectedFault(
        faulty_, [&] { kept.Restore(); },
        [&](IoStep, int) {
          const int status = Run(args);
          const std::filesystem::path& at = faulty_.faultPath();
          if (std::find(goesOn.begin(), goesOn.end(), at) != goesOn.end()) {
            EXPECT_EQ(status, 0) << err_.str();
            return;
          }
          EXPECT_EQ(status, 1) << err_.str();
          EXPECT_TRUE(NamesTheFault(err_.str(), faulty_));
          if (!log.empty() && at == log) {
            // The log is put in place after the output, so the output is the
            // old one or this run's.
            EXPECT_TRUE(test::Holds(err_.str(), "error log"));
            for (size_t k = 0; k < outputs.size(); ++k) {
              EXPECT_TRUE(ReadBytes(outputs[k]) == written[k] || keptOutputs.Intact())
                  << outputs[k];
            }
            return;
          }
          EXPECT_EQ(err_.str().rfind("mirel-tool", 0), 0u) << err_.str();
          EXPECT_EQ(out_.str().find(" written"), std::string::npos) << out_.str();
          EXPECT_TRUE(logTellsFailure ? keptOutputs.Intact() : kept.Intact());
          EXPECT_TRUE(test::StrayTemps(dir_.path()).empty());
        });
    EXPECT_GT(faults, 0);
    test::TallyFaults(args[0] + (args[0] == "batch" || args[0] == "installed" ? " " + args[1] : ""),
                      faults);
  }

  test::ScratchDir dir_;
  test::ScratchDir temp_;
  FaultyFileSystem faulty_;
  test::FakePrefix prefix_;
  InstalledEnvironment installed_;
  std::ostringstream out_, err_;
};

TEST_F(ToolFaultsTest, TableCommands) {
  const std::string out = At("out.txt");
  FailEachStep({"dedup", At("t.txt"), "-o", out}, {out});
  FailEachStep({"dedup", At("t.ktb"), "-o", out}, {out});
  FailEachStep({"extract-single", At("t.txt"), "-o", out}, {out});
  FailEachStep({"sort", At("t.txt"), "--by", "code2", "-o", out}, {out});
  FailEachStep({"sort", At("t.txt"), "--by", "freq", "--freq", At("freq.txt"), "-o", out}, {out});
  FailEachStep({"export-frequency", At("t.txt"), "-o", out}, {out});
  FailEachStep({"stats", At("t.txt"), "-o", out}, {out});
  FailEachStep({"compile", At("t.txt"), At("out.ktb")}, {dir_ / "out.ktb"});
  FailEachStep({"decompile", At("t.ktb"), out}, {out});
}

TEST_F(ToolFaultsTest, Conversions) {
  const std::string out = At("out.txt");
  for (const char* to : {"win", "sogou", "qq", "jiajia", "mirel"}) {
    FailEachStep({"convert", At("kuji.txt"), "--to", to, "-o", out}, {out});
  }
  WriteBytes(dir_ / "sogou.txt", test::Utf8(u"a,1=啊\r\na,2=阿\r\nb,1=吧\r\n"));
  FailEachStep({"convert", At("sogou.txt"), "--to", "kuji", "-o", out}, {out});
  FailEachStep({"convert-rules", At("src.txt"), "--rules", At("rules.txt"), "-o", out}, {out});
  FailEachStep(
      {"convert-layout", At("fields.txt"), "--separators", "空格", "--layout", "2", "-o", out},
      {out});
}

TEST_F(ToolFaultsTest, Generators) {
  const std::string out = At("out.txt");
  FailEachStep({"merge", At("t1.txt"), At("t2.txt"), "-o", out}, {out});
  FailEachStep({"tips", At("codes.txt"), At("contents.txt"), "-o", out}, {out});
  FailEachStep(
      {"gen-single", At("split.txt"), At("keys.txt"), "-o", out, "--errors", At("errors.txt")},
      {out}, dir_ / "errors.txt");
  // An unreadable character table is logged and the run goes on; a failed
  // run leaves its reason in the log.
  FailEachStep(
      {"gen-words", At("chars.txt"), At("words.txt"), "-o", out, "--errors", At("errors.txt")},
      {out}, dir_ / "errors.txt", {dir_ / "chars.txt"}, true);
}

TEST_F(ToolFaultsTest, InstalledCopies) {
  const std::string out = At("out.txt");
  FailEachStep({"installed", "export", "MirelIME3_sp", out}, {out});
  FailEachStep({"installed", "export", "MirelIME3_sp", out, "--user-library"}, {out});
  WriteBytes(dir_ / "new.txt", test::Utf8(u"国\tgg\r\n家\tjia\r\n"));
  const auto main = prefix_.DataFolder(u"mirelsp") / "main.ktb";
  const std::string header = ReadBytes(main).substr(36, 34);
  FailEachStep({"installed", "compile", At("new.txt"), "MirelIME3_sp"}, {main});
  // Whatever failed, the copy's header values were never lost.
  EXPECT_EQ(ReadBytes(main).substr(36, 34), header);
  // A damaged main table has none to keep: it is replaced.
  WriteBytes(main, "damaged");
  EXPECT_EQ(Run({"installed", "compile", At("new.txt"), "MirelIME3_sp"}), 0) << err_.str();
  EXPECT_EQ(ReadBytes(main).substr(36, 34), std::string(34, '\0'));
}

TEST_F(ToolFaultsTest, BatchTools) {
  FailEachStep({"batch", "/do=删除重复", "/源码表文件=t.txt"}, {dir_ / "[ 去重结果 ].txt"});
  FailEachStep({"batch", "/do=提取单字编码", "/源码表文件=t.txt"}, {dir_ / "[ 提取的单字 ].txt"});
  FailEachStep({"batch", "/do=依据词频表排序", "/源码表文件=t.txt", "/词频表文件=freq.txt"},
               {dir_ / "[ 排序结果 ].txt"});
  FailEachStep({"batch", "/do=码表格式转换", "/源码表文件=src.txt", "/规则文件=rules.txt"},
               {dir_ / "[ 转换结果 ].txt"});
  FailEachStep({"batch", "/do=码表格式转换", "/源码表文件=fields.txt", "/分割字符=空格"},
               {dir_ / "[ 转换结果 ].txt"});
  FailEachStep({"batch", "/do=合并码表", "/码表文件1=t1.txt", "/码表文件2=t2.txt"},
               {dir_ / "[ 码表合并结果 ].txt"});
  FailEachStep(
      {"batch", "/do=单字码表生成", "/单字拆分表文件=split.txt", "/键盘映射表文件=keys.txt"},
      {dir_ / "[ 生成的单字码表 ].txt"}, dir_ / "[ error_码表生成 ].txt");
  FailEachStep({"batch", "/do=词库生成", "/编码表文件=chars.txt", "/词库文件=words.txt"},
               {dir_ / "[ 生成的词库 ].txt"}, dir_ / "[ error_词库生成 ].txt",
               {dir_ / "chars.txt", dir_ / "单字编码辅助表.txt"}, true);
}

}  // namespace
}  // namespace mirel
