// The generators against a disk that fails each of their I/O steps in turn:
// a failed run leaves the output and the error log as they were and says
// which file failed and why; a failure of the error log fails the run too.
#include "generate/command_tips.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "platform/paths.h"
#include "platform/utf16.h"
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

struct Outcome {
  Status status;
  std::string logFailure;  // why the error log could not be written
};

class GeneratorFaultsTest : public ::testing::Test {
 protected:
  GeneratorFaultsTest() : faulty_(test::DiskFs()) {}

  // Runs `run` once as it should go, then once with each of its I/O steps
  // failing. Faults at a path that `goesOn` accepts let the run finish; a
  // fault in `log` fails it and keeps the old log; any other
  // fails it, leaving `outputs` alone, and `log` too unless
  // `logTellsFailure` (then the log holds the failure).
  int FailEachStep(const std::vector<std::filesystem::path>& outputs,
                   const std::filesystem::path& log, const std::function<Outcome()>& run,
                   const std::function<bool(const std::filesystem::path&)>& goesOn = {},
                   bool logTellsFailure = false) {
    for (const auto& file : outputs) WriteBytes(file, "old " + file.filename().string());
    if (!log.empty()) WriteBytes(log, "old log");
    std::vector<std::filesystem::path> all = outputs;
    if (!log.empty()) all.push_back(log);
    const KeptFiles kept(all);
    const KeptFiles keptOutputs(outputs);
    const KeptFiles keptLog(log.empty() ? std::vector<std::filesystem::path>{}
                                        : std::vector<std::filesystem::path>{log});
    faulty_.Reset();
    Outcome good = run();
    EXPECT_OK(good.status);
    EXPECT_EQ(good.logFailure, "");
    std::vector<std::string> written;
    for (const auto& file : outputs) written.push_back(ReadBytes(file));
    const int faults = test::ForEachInjectedFault(
        faulty_, [&] { kept.Restore(); },
        [&](IoStep, int) {
          Outcome outcome = run();
          const std::filesystem::path& at = faulty_.faultPath();
          if (goesOn && goesOn(at)) {
            EXPECT_OK(outcome.status);
            for (const auto& file : outputs)
              EXPECT_TRUE(test::StrayTemps(file.parent_path()).empty());
            return;
          }
          if (!log.empty() && at == log) {
            // The run fails; the log is put in place after the output, so
            // the output is either the old one or this run's.
            ASSERT_FALSE(outcome.status.IsOk());
            EXPECT_TRUE(NamesTheFault(outcome.status.message(), faulty_));
            EXPECT_NE(outcome.status.message().find("error log"), std::string::npos);
            EXPECT_TRUE(keptLog.Intact());
            for (size_t k = 0; k < outputs.size(); ++k) {
              const std::string now = ReadBytes(outputs[k]);
              EXPECT_TRUE(now == written[k] || now == "old " + outputs[k].filename().string());
            }
            return;
          }
          ASSERT_FALSE(outcome.status.IsOk());
          EXPECT_TRUE(NamesTheFault(outcome.status.message(), faulty_));
          if (logTellsFailure) {
            EXPECT_TRUE(keptOutputs.Intact());
            EXPECT_NE(ReadBytes(log), "old log");
          } else {
            EXPECT_TRUE(kept.Intact());
          }
        });
    EXPECT_GT(faults, 0);
    return faults;
  }

  test::ScratchDir dir_;
  FaultyFileSystem faulty_;
};

TEST_F(GeneratorFaultsTest, SingleCharacterTableAndItsErrorLog) {
  WriteBytes(dir_ / "split.txt", test::Utf8(u"好\t女子\t子女\r\n林\t木木\r\n森\t木木木\r\n"));
  WriteBytes(dir_ / "keys.txt", test::Utf8(u"a=女\r\nb=子\r\n"));  // no key for 木: logged
  const int faults = FailEachStep({dir_ / "out.txt"}, dir_ / "errors.txt", [&] {
    Result<SingleResult> result = GenerateSingleCharacters(
        faulty_, dir_ / "split.txt", dir_ / "keys.txt", dir_ / "out.txt", dir_ / "errors.txt");
    if (!result.IsOk()) return Outcome{result.status(), ""};
    EXPECT_GT(result->errors, 0u);
    return Outcome{Status::Ok(), ""};
  });
  test::TallyFaults("GenerateSingleCharacters with its error log", faults);
}

TEST_F(GeneratorFaultsTest, WordLibraryAndItsErrorLog) {
  WriteBytes(dir_ / "chars.txt", test::Utf8(u"中\tkhkh\r\n国\tlgyi\r\n"));
  WriteBytes(dir_ / "aux.txt", test::Utf8(u"中\tz\r\n"));
  WriteBytes(dir_ / "words.txt", test::Utf8(u"中国\r\n国中\r\n未知\r\n已有\tx\r\n"));
  WordLibrarySettings settings;
  settings.charTable = PathToUtf16(dir_ / "chars.txt");
  settings.auxTable = PathToUtf16(dir_ / "aux.txt");
  settings.wordList = PathToUtf16(dir_ / "words.txt");
  // An unreadable character table is logged and the run goes on without it.
  auto charTable = [&](const std::filesystem::path& at) {
    return at == dir_ / "chars.txt" || at == dir_ / "aux.txt";
  };
  const int faults = FailEachStep(
      {dir_ / "out.txt"}, dir_ / "errors.txt",
      [&] {
        Result<WordResult> result =
            GenerateWordLibrary(faulty_, settings, dir_ / "out.txt", dir_ / "errors.txt");
        if (!result.IsOk()) return Outcome{result.status(), ""};
        return Outcome{Status::Ok(), ""};
      },
      charTable, /*logTellsFailure=*/true);
  test::TallyFaults("GenerateWordLibrary with its error log", faults);
}

TEST_F(GeneratorFaultsTest, MergedTables) {
  WriteBytes(dir_ / "t1.txt", test::Utf8(u"中\tab\r\n国\tgg\r\n"));
  WriteBytes(dir_ / "t2.txt", test::Utf16Le(u"中\tx\r\n中\ty\r\n国\tz\r\n"));
  WriteBytes(dir_ / "t3.txt", test::Gbk(u"中\t1\r\n国\t2\r\n"));
  MergeSettings settings;
  settings.tables[0] = PathToUtf16(dir_ / "t1.txt");
  settings.tables[1] = PathToUtf16(dir_ / "t2.txt");
  settings.tables[3] = PathToUtf16(dir_ / "t3.txt");
  const int faults = FailEachStep({dir_ / "out.txt"}, {}, [&] {
    Result<GenerationReport> merged = MergeTables(faulty_, settings, dir_ / "out.txt");
    if (merged.IsOk()) {
      EXPECT_EQ(merged->lines, 3u);
    }
    return Outcome{merged.IsOk() ? Status::Ok() : merged.status(), ""};
  });
  test::TallyFaults("MergeTables", faults);
}

TEST_F(GeneratorFaultsTest, CommandTipTable) {
  WriteBytes(dir_ / "codes.txt", test::Utf8(u"k\tab\r\nq\tcd\r\n"));
  WriteBytes(dir_ / "contents.txt", test::Utf8(u"k\thello\r\nq\tworld\r\n"));
  const TipSettings settings{PathToUtf16(dir_ / "codes.txt"), PathToUtf16(dir_ / "contents.txt"),
                             u"z", u""};
  const int faults = FailEachStep({dir_ / "tips.txt"}, {}, [&] {
    Result<GenerationReport> written = BuildCommandTips(faulty_, settings, dir_ / "tips.txt");
    return Outcome{written.IsOk() ? Status::Ok() : written.status(), ""};
  });
  test::TallyFaults("BuildCommandTips", faults);
}

}  // namespace
}  // namespace mirel
