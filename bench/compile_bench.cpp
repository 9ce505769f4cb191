// Times compiling a large generated table and reading the compiled table back
// to text, next to libime_tabledict (Debian package libime-bin) converting the
// same rows from its own text format to its binary format and back, and checks
// that both read-backs hold exactly the distinct rows of the source.
//
// Each measurement runs in a process of its own, so each peak is that step's
// alone: ours in forked children of a small parent, the reference as a
// fork-exec'd command.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "bench_common.h"
#include "platform/status.h"
#include "platform/utf16.h"
#include "store/character_class.h"
#include "store/compiled_table.h"
#include "store/text_file.h"

const char* const mirel_bench::kProgram = "compile_bench";

namespace mirel_bench {
namespace {

constexpr const char* kReference = "libime_tabledict";
// Without a [Rule] section the tool takes every row's code as given, which is
// what our compiler does too.
constexpr std::string_view kReferenceHeader =
    "KeyCode=abcdefghijklmnopqrstuvwxyz\n"
    "Length=4\n"
    "[Data]\n";

// Every file of a run lives in one scratch folder.
struct Paths {
  fs::path dir;
  fs::path table() const { return dir / "table.txt"; }
  fs::path compiled() const { return dir / "table.ktb"; }
  fs::path readBack() const { return dir / "read_back.txt"; }
  fs::path referenceText() const { return dir / "reference.txt"; }
  fs::path referenceBinary() const { return dir / "reference.bin"; }
  fs::path referenceReadBack() const { return dir / "reference_read_back.txt"; }
};

// Crosses the pipe from the generator, so it must stay trivially copyable.
struct TableFacts {
  uint64_t rows, copiedRows, uniqueRows, characters, supplementary, utf16Units, bytes;
  uint64_t referenceBytes;
};

TableFacts Generate(uint64_t rows, const Paths& paths) {
  Rng rng(kSeed);
  const GeneratedTable g = GenerateTable(rows, rng);
  TableFacts facts{};
  facts.rows = rows;
  facts.copiedRows = g.copiedRows;
  facts.characters = g.characters;
  facts.supplementary = g.supplementary;
  facts.utf16Units = g.utf16Units;
  facts.bytes = g.text.size();

  // The same rows, duplicates included, as "code word" lines.
  std::string reference(kReferenceHeader);
  reference.reserve(kReferenceHeader.size() + g.text.size());
  std::unordered_set<std::string_view> distinct;
  distinct.reserve(rows);
  for (const GeneratedTable::Line& line : g.lines) {
    const std::string_view text = line.In(g.text);
    const size_t tab = text.find('\t');
    reference.append(text.substr(tab + 1)).append(1, ' ').append(text.substr(0, tab));
    reference += '\n';
    distinct.insert(text);
  }
  facts.uniqueRows = distinct.size();
  facts.referenceBytes = reference.size();
  WriteFile(paths.table(), g.text);
  WriteFile(paths.referenceText(), reference);
  return facts;
}

// One run of one of our steps; crosses the pipe from a child.
struct StepRun {
  double ms;
  double baselineMiB;  // what the child had resident before the step
  uint64_t parsedLines, records;
};

struct StepFigures {
  StepRun best;
  double peakMiB;          // largest over the runs, each in a fresh process
  double repeatedPeakMiB;  // the same runs one after another in one process
};

// Each timed run gets a fresh process, as the reference's runs do; a further
// process repeats the step, since an editor compiles and reads many times
// while it runs and memory one run leaves behind shows up in the next.
template <class Step>
StepFigures MeasureStep(const char* what, Step step) {
  StepFigures f{};
  for (int k = 0; k < kRuns; ++k) {
    struct rusage usage {};
    const StepRun run = InChild(
        what,
        [&] {
          StepRun r{};
          r.baselineMiB = PeakMiB();
          const Clock::time_point start = Clock::now();
          step(r);
          r.ms = MsSince(start);
          return r;
        },
        &usage);
    if (k == 0 || run.ms < f.best.ms) f.best = run;
    f.peakMiB = std::max(f.peakMiB, PeakMiB(usage));
  }
  struct rusage usage {};
  InChild(
      what,
      [&] {
        StepRun r{};
        for (int k = 0; k < kRuns; ++k) step(r);
        return r;
      },
      &usage);
  f.repeatedPeakMiB = PeakMiB(usage);
  return f;
}

using CommandFigures = ProcessFigures;

CommandFigures TimeCommand(const std::vector<std::string>& args) {
  ProcessOptions options;
  options.missing = "(install the Debian package libime-bin; make bench does)";
  return TimeProcess(args, options);
}

// The lines of `text`, each without its terminator.
std::vector<std::string_view> SplitLines(std::string_view text, std::string_view end) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t at = text.find(end);
    lines.push_back(text.substr(0, at));
    if (at == std::string_view::npos) break;
    text.remove_prefix(at + end.size());
  }
  return lines;
}

// Compares the rows as multisets (`want` sorted) and names what differs.
template <class Got>
void ExpectSameRows(std::vector<Got>& got, const std::vector<std::string_view>& want,
                    const std::string& what) {
  std::sort(got.begin(), got.end());
  if (std::equal(got.begin(), got.end(), want.begin(), want.end())) return;
  std::vector<std::string_view> missing, extra;
  std::set_difference(want.begin(), want.end(), got.begin(), got.end(),
                      std::back_inserter(missing));
  std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(extra));
  std::string message = what + ": " + std::to_string(got.size()) + " rows, expected " +
                        std::to_string(want.size()) + "; " + std::to_string(missing.size()) +
                        " missing, " + std::to_string(extra.size()) + " extra";
  if (!missing.empty()) message += "; first missing \"" + std::string(missing[0]) + "\"";
  if (!extra.empty()) message += "; first extra \"" + std::string(extra[0]) + "\"";
  throw BenchError(message);
}

struct RowCounts {
  uint64_t sourceRows, distinctRows, readBackRows, referenceRows;
};

// Both read-backs against the distinct source rows, as "entry TAB code" in
// UTF-8. Row order is each tool's own business and is not compared.
RowCounts CheckRows(const Paths& paths) {
  RowCounts counts{};
  const std::string source =
      Check(mirel::ReadFileBytes(BenchFs(), paths.table()), "reading the table");
  std::vector<std::string_view> want = SplitLines(source, "\r\n");
  counts.sourceRows = want.size();
  std::sort(want.begin(), want.end());
  want.erase(std::unique(want.begin(), want.end()), want.end());
  counts.distinctRows = want.size();

  const std::string bytes =
      Check(mirel::ReadFileBytes(BenchFs(), paths.readBack()), "reading our read-back");
  if (!bytes.starts_with("\xFF\xFE") || bytes.size() % 2 != 0) {
    throw BenchError("our read-back is not UTF-16LE with a byte-order mark");
  }
  std::u16string units((bytes.size() - 2) / 2, u'\0');
  std::memcpy(units.data(), bytes.data() + 2, bytes.size() - 2);
  const std::string ours = mirel::Utf16ToUtf8(units);
  std::vector<std::string_view> got = SplitLines(ours, "\r\n");
  counts.readBackRows = got.size();
  ExpectSameRows(got, want, "our read-back");

  const std::string dump = Check(mirel::ReadFileBytes(BenchFs(), paths.referenceReadBack()),
                                 "reading the reference's read-back");
  const size_t data = dump.find("[Data]\n");
  if (data == std::string::npos) throw BenchError("the reference's read-back has no [Data]");
  std::vector<std::string> rows;
  for (std::string_view line : SplitLines(std::string_view(dump).substr(data + 7), "\n")) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) {
      throw BenchError("the reference's read-back has a line without a space: " +
                       std::string(line));
    }
    rows.push_back(
        std::string(line.substr(space + 1)).append(1, '\t').append(line.substr(0, space)));
  }
  counts.referenceRows = rows.size();
  ExpectSameRows(rows, want, "the reference's read-back");
  return counts;
}

double FileMiB(const fs::path& path) { return MiB(static_cast<double>(fs::file_size(path))); }

void PrintStep(const char* name, const StepFigures& f, const fs::path& output) {
  std::printf("  %-44s %9.1f %9.1f %9.1f %9.1f\n", name, f.best.ms, f.peakMiB, f.repeatedPeakMiB,
              FileMiB(output));
}

void PrintCommand(const char* name, const CommandFigures& f, const fs::path& output) {
  std::printf("  %-44s %9.1f %9.1f %9s %9.1f\n", name, f.ms, f.peakMiB, "-", FileMiB(output));
}

int Run(uint64_t rows, const fs::path& base) {
  Paths paths;
  paths.dir = MakeScratchFolder(base);
  if (paths.dir.empty()) return 1;

  int code = 0;
  try {
    std::printf("compile_bench: %llu rows, seed 0x%016llx, scratch folder %s\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kSeed),
                paths.dir.c_str());
    const TableFacts facts =
        InChild("generating the tables", [&] { return Generate(rows, paths); });
    const double utf16Bytes = 2.0 * static_cast<double>(facts.utf16Units);
    std::printf("table: %llu rows, %llu of them copies of earlier rows, %llu distinct\n",
                static_cast<unsigned long long>(facts.rows),
                static_cast<unsigned long long>(facts.copiedRows),
                static_cast<unsigned long long>(facts.uniqueRows));
    std::printf(
        "       %.1f MiB UTF-8 with CR LF, %.1f MiB in the reference's text format, %.1f MiB as\n"
        "       UTF-16; %.2f %% of characters outside the BMP\n",
        MiB(static_cast<double>(facts.bytes)), MiB(static_cast<double>(facts.referenceBytes)),
        MiB(utf16Bytes),
        100.0 * static_cast<double>(facts.supplementary) /
            static_cast<double>(std::max<uint64_t>(facts.characters, 1)));
    std::printf(
        "every time is the best of %d runs, in ms, each run in a fresh process; \"peak\" is the\n"
        "largest resident set of those processes, \"repeated\" that of one process doing the\n"
        "%d runs one after another\n\n",
        kRuns, kRuns);

    // Built once, before the children fork, so no timing includes it.
    const std::unique_ptr<mirel::CharacterClassTable> classes =
        mirel::CharacterClassTable::BuiltIn();
    if (!classes) throw BenchError("the built-in character class table is missing");

    const StepFigures compile = MeasureStep("our compile", [&](StepRun& r) {
      const mirel::CompileSummary summary =
          Check(mirel::CompileTable(BenchFs(), paths.table(), paths.compiled(), *classes,
                                    mirel::OpaqueHeader{}, {}),
                "CompileTable");
      r.parsedLines = summary.parsedLines;
      r.records = summary.records;
    });
    Expect(compile.best.parsedLines, facts.rows, "lines our compiler parsed");
    Expect(compile.best.records, facts.uniqueRows, "records our compiler kept");
    const StepFigures read = MeasureStep("our read-back", [&](StepRun&) {
      (void)Check(mirel::CompiledTableToTextFile(BenchFs(), paths.compiled(), paths.readBack()),
                  "CompiledTableToTextFile");
    });

    const std::string binary = paths.referenceBinary().string();
    const CommandFigures referenceCompile =
        TimeCommand({kReference, paths.referenceText().string(), binary});
    const CommandFigures referenceRead =
        TimeCommand({kReference, "-d", binary, paths.referenceReadBack().string()});

    const RowCounts counts = InChild("checking the rows", [&] { return CheckRows(paths); });
    Expect(counts.distinctRows, facts.uniqueRows, "distinct rows of the source");

    std::printf("%-46s %9s %9s %9s %9s\n", "", "ms", "peak MiB", "repeated", "out MiB");
    std::printf("ours\n");
    PrintStep("CompileTable (UTF-8 text to .ktb)", compile, paths.compiled());
    PrintStep("CompiledTableToTextFile (.ktb to UTF-16LE)", read, paths.readBack());
    std::printf("reference: %s, each run a whole process\n", kReference);
    PrintCommand("text to binary", referenceCompile, paths.referenceBinary());
    PrintCommand("binary to text (-d)", referenceRead, paths.referenceReadBack());
    std::printf(
        "our processes held %.1f MiB before the step (pages of this program); the peaks include\n"
        "it. The table is %.1f MiB as UTF-16.\n",
        std::max(compile.best.baselineMiB, read.best.baselineMiB), MiB(utf16Bytes));
    std::printf(
        "rows: %llu in the source, %llu distinct; our compiler parsed %llu lines and kept %llu\n"
        "  records; our read-back has %llu rows, the reference's %llu, both the distinct rows\n\n",
        static_cast<unsigned long long>(counts.sourceRows),
        static_cast<unsigned long long>(counts.distinctRows),
        static_cast<unsigned long long>(compile.best.parsedLines),
        static_cast<unsigned long long>(compile.best.records),
        static_cast<unsigned long long>(counts.readBackRows),
        static_cast<unsigned long long>(counts.referenceRows));

    const double utf16MiB = MiB(utf16Bytes);
    std::printf("ratios\n");
    PrintRatio("our compile / reference compile", compile.best.ms / referenceCompile.ms, "<", 1);
    PrintRatio("our read-back / reference read-back", read.best.ms / referenceRead.ms, "<", 1);
    PrintRatio("our compile peak / UTF-16 size of the table", compile.peakMiB / utf16MiB, "<=", 2);
    PrintRatio("our read-back peak / UTF-16 size of the table", read.peakMiB / utf16MiB, "<=", 2);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "compile_bench: %s\n", e.what());
    code = 1;
  }
  std::error_code ignored;
  fs::remove_all(paths.dir, ignored);
  return code;
}

}  // namespace
}  // namespace mirel_bench

int main(int argc, char** argv) {
  uint64_t rows = 0;
  std::filesystem::path base;
  const int stop = mirel_bench::ParseArguments(argc, argv, rows, base);
  if (stop >= 0) return stop;
  return mirel_bench::Run(rows, base);
}
