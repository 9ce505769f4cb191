// How the store and the whole commands grow with the table: both table
// shapes (the even one and the real-shaped one) at each size asked for, every
// store step and every whole command timed with its peak resident memory, the
// time per row set against the smallest size, and the commands set against
// GNU sort and libime_tabledict on the same file. With --long-line, one line
// of the given size goes through every tool that reads whole lines instead.
//
// Each store step runs in a forked process of its own (load, then the step),
// so its peak is that step's; each command is a process of its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/statistics.h"
#include "analysis/typing_analysis.h"
#include "bench_common.h"
#include "platform/memory.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"
#include "store/text_file.h"

const char* const mirel_bench::kProgram = "scale_bench";

namespace mirel_bench {
namespace {

struct Options {
  std::vector<uint64_t> sizes{1000000};
  std::vector<Shape> shapes{Shape::kEven, Shape::kReal};
  int runs = kRuns;
  fs::path base;
  fs::path tool;
  uint64_t longLineMiB = 0;
  fs::path write;  // only write the table there
};

struct TableFacts {
  uint64_t rows, uniqueRows, utf16Units, bytes;
};

TableFacts Generate(Shape shape, uint64_t rows, const fs::path& table, const fs::path& reference) {
  Rng rng(kSeed);
  const GeneratedTable g = GenerateShaped(shape, rows, rng);
  TableFacts facts{rows, 0, g.utf16Units, g.text.size()};
  std::unordered_set<std::string_view> distinct;
  distinct.reserve(rows);
  // The reference compiler reads "code word" lines and splits at the first
  // space, so a code's own spaces become a key it also knows.
  std::string ref = "KeyCode=abcdefghijklmnopqrstuvwxyz\nLength=64\n[Data]\n";
  ref.reserve(ref.size() + g.text.size());
  for (const GeneratedTable::Line& line : g.lines) {
    const std::string_view text = line.In(g.text);
    distinct.insert(text);
    const size_t tab = text.find('\t');
    std::string code(text.substr(tab + 1));
    std::replace(code.begin(), code.end(), ' ', 'z');
    ref.append(code).append(1, ' ').append(text.substr(0, tab)).append(1, '\n');
  }
  facts.uniqueRows = distinct.size();
  WriteFile(table, g.text);
  WriteFile(reference, ref);
  return facts;
}

enum Step {
  kLoad,
  kFilter,
  kBySource,
  kByCode1,
  kByCode2,
  kByEntry1,
  kByEntry2,
  kWrite,
  kDedupe,
  kStatistics,
  kReanalysis,
  kSteps
};
constexpr const char* kStepNames[kSteps] = {"LoadTable",
                                            "ApplyFilter one-key prefix",
                                            "order by source",
                                            "order by code 1",
                                            "order by code 2",
                                            "order by entry 1",
                                            "order by entry 2",
                                            "WriteTableText",
                                            "RemoveDuplicates",
                                            "statistics report",
                                            "reanalysis, essay (window)"};

// What the analysis window's 重新分析 does once its list is read: view the
// store's rows and analyse them.
double TimeReanalysis(const mirel::TableStore& store, int runs) {
  using namespace mirel::analysis;
  auto view = [&] {
    std::vector<TableRow> rows;
    rows.reserve(store.RowCount());
    for (uint32_t i = 0; i < store.RowCount(); ++i)
      rows.push_back(TableRow::Of(store.DataRowText(i)));
    return rows;
  };
  const WeightList list =
      Check(LoadBuiltInSource(BenchFs(), "essay", Script::kAuto, view()), "essay");
  return BestOf(
      NoSetup, [&] { (void)AnalyzeRows(view(), list, {}); }, runs);
}

struct Figures {
  double ms, peakMiB;
};

Figures MeasureStep(Step step, Shape shape, const fs::path& dir, const TableFacts& facts,
                    int runs) {
  struct rusage usage {};
  const double ms = InChild(
      kStepNames[step],
      [&] {
        std::unique_ptr<mirel::TempFolder> temp =
            Check(mirel::TempFolder::OpenIn(dir), "temporary folder");
        mirel::TableStore store(BenchFs(), *temp);
        const fs::path table = dir / "table.txt";
        auto load = [&] {
          Expect(Check(store.LoadTable(table), "LoadTable"), facts.rows, "rows loaded");
        };
        load();
        auto fromSource = [&] { store.SortBySource(); };
        switch (step) {
          case kLoad:
            return BestOf(NoSetup, load, runs);
          case kFilter: {
            const std::u16string_view prefix = shape == Shape::kEven ? u"a" : u"h";
            return BestOf(
                NoSetup, [&] { (void)Check(store.ApplyFilter(prefix, false), "filter"); }, runs);
          }
          case kBySource:
            return BestOf([&] { store.SortByCode(1); }, fromSource, runs);
          case kByCode1:
            return BestOf(
                fromSource, [&] { store.SortByCode(1); }, runs);
          case kByCode2:
            return BestOf(
                fromSource, [&] { store.SortByCode(2); }, runs);
          case kByEntry1:
            return BestOf(
                fromSource, [&] { store.SortByEntry(1); }, runs);
          case kByEntry2:
            return BestOf(
                fromSource, [&] { store.SortByEntry(2); }, runs);
          case kWrite:
            return BestOf(
                NoSetup, [&] { Check(store.WriteTableText(dir / "written.txt"), "write"); }, runs);
          case kDedupe:
            return BestOf(
                load,
                [&] {
                  Expect(store.RemoveDuplicates(), facts.uniqueRows,
                         "rows kept by RemoveDuplicates");
                },
                runs);
          case kStatistics:
            return BestOf(
                NoSetup,
                [&] {
                  Check(mirel::WriteStatisticsReport(store, dir / "statistics.txt"), "statistics");
                },
                runs);
          case kReanalysis:
            return TimeReanalysis(store, runs);
          case kSteps:
            break;
        }
        return 0.0;
      },
      &usage);
  return Figures{ms, PeakMiB(usage)};
}

// A command's output goes to /dev/null; best time and largest peak over `runs`.
Figures RunCommand(const std::vector<std::string>& args, int runs, bool mayFail = false) {
  ProcessOptions options;
  options.runs = runs;
  options.quiet = true;
  options.mayFail = mayFail;
  const ProcessFigures f = TimeProcess(args, options);
  return Figures{f.ms, f.peakMiB};
}

// GNU sort writes to a file as our tools do; a shell does the redirection.
Figures RunShell(const std::string& command, int runs) {
  return RunCommand({"/bin/sh", "-c", command}, runs);
}

// What holding essay's simplified list costs a process (its entries and
// what OpenCC keeps once loaded): resident memory after reading it, less
// before, in a child of its own. Computed once.
double EssayListMiB() {
  static const double mib = InChild("measuring the essay list", [] {
    auto residentMiB = [] {
      mirel::ReleaseFreedMemory();
      long pages = 0, resident = 0;
      if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
      }
      return MiB(static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)));
    };
    const double before = residentMiB();
    const mirel::Result<mirel::analysis::WeightList> list = mirel::analysis::LoadBuiltInSource(
        BenchFs(), "essay", mirel::analysis::Script::kSimplified, {});
    return list.IsOk() ? residentMiB() - before : 0.0;
  });
  return mib;
}

enum Command {
  kSortSource,
  kSortCode1,
  kSortCode2,
  kSortEntry1,
  kSortEntry2,
  kDedupCommand,
  kStatsCommand,
  kAnalyzeCommand,
  kCompile,
  kGnuSortCode,
  kGnuSortEntry,
  kGnuSortUnique,
  kReferenceCompile,
  kCommands
};
constexpr const char* kCommandNames[kCommands] = {"sort --by source",
                                                  "sort --by code1",
                                                  "sort --by code2",
                                                  "sort --by entry1",
                                                  "sort --by entry2",
                                                  "dedup",
                                                  "stats",
                                                  "analyze --freq essay",
                                                  "compile",
                                                  "LC_ALL=C sort -s -t TAB -k2,2",
                                                  "LC_ALL=C sort -s -t TAB -k1,1",
                                                  "LC_ALL=C sort -u",
                                                  "libime_tabledict"};

Figures MeasureCommand(Command command, const fs::path& dir, const Options& options) {
  const std::string tool = options.tool.string();
  const std::string table = (dir / "table.txt").string();
  const std::string out = (dir / "out.txt").string();
  auto sortBy = [&](const char* by) {
    return RunCommand({tool, "sort", table, "--by", by, "-o", out}, options.runs);
  };
  switch (command) {
    case kSortSource:
      return sortBy("source");
    case kSortCode1:
      return sortBy("code1");
    case kSortCode2:
      return sortBy("code2");
    case kSortEntry1:
      return sortBy("entry1");
    case kSortEntry2:
      return sortBy("entry2");
    case kDedupCommand:
      return RunCommand({tool, "dedup", table, "-o", out}, options.runs);
    case kStatsCommand:
      return RunCommand({tool, "stats", table, "-o", out}, options.runs);
    case kAnalyzeCommand:
      return RunCommand({tool, "analyze", table, "--freq", "essay", "-o", out}, options.runs);
    case kCompile:
      return RunCommand({tool, "compile", "-q", table, (dir / "out.ktb").string()}, options.runs);
    case kGnuSortCode:
      return RunShell(
          "LC_ALL=C sort -s -t\"$(printf '\\t')\" -k2,2 " + Quote(table) + " > " + Quote(out),
          options.runs);
    case kGnuSortEntry:
      return RunShell(
          "LC_ALL=C sort -s -t\"$(printf '\\t')\" -k1,1 " + Quote(table) + " > " + Quote(out),
          options.runs);
    case kGnuSortUnique:
      return RunShell("LC_ALL=C sort -u " + Quote(table) + " > " + Quote(out), options.runs);
    case kReferenceCompile:
      return RunCommand(
          {"libime_tabledict", (dir / "reference.txt").string(), (dir / "reference.bin").string()},
          options.runs);
    case kCommands:
      break;
  }
  return {};
}

struct SizeFigures {
  uint64_t rows;
  double utf16MiB;
  Figures steps[kSteps];
  Figures commands[kCommands];
  // Our commands that left something in the temporary folder.
  std::vector<std::string> leftBehind;
};

void PrintSize(const SizeFigures& s, const SizeFigures& first) {
  auto perRow = [](const Figures& f, uint64_t rows) {
    return f.ms * 1e6 / static_cast<double>(rows);
  };
  auto line = [&](const char* name, const Figures& f, const Figures& f1) {
    const double growth = perRow(f, s.rows) / perRow(f1, first.rows);
    std::printf("  %-34s %10.1f %9.1f %8.1f %6.2f %7.2f%s\n", name, f.ms, perRow(f, s.rows),
                f.peakMiB, f.peakMiB / s.utf16MiB, growth,
                growth > 1.3 && s.rows != first.rows ? "  MISSED" : "");
  };
  std::printf("  %-34s %10s %9s %8s %6s %7s\n", "", "ms", "ns/row", "peak MiB", "/utf16", "growth");
  for (int k = 0; k < kSteps; ++k) line(kStepNames[k], s.steps[k], first.steps[k]);
  for (int k = 0; k < kCommands; ++k) line(kCommandNames[k], s.commands[k], first.commands[k]);
  const Figures* c = s.commands;
  std::printf(" ratios\n");
  // Each order against GNU sort on the same field: the code for the source
  // and code orders, the entry for the entry orders.
  for (int k = kSortSource; k <= kSortEntry2; ++k) {
    const bool entry = k == kSortEntry1 || k == kSortEntry2;
    PrintRatio((std::string(kCommandNames[k]) + (entry ? " / GNU sort -k1,1" : " / GNU sort -k2,2"))
                   .c_str(),
               c[k].ms / c[entry ? kGnuSortEntry : kGnuSortCode].ms, "<=", 0.6);
  }
  PrintRatio("dedup / GNU sort -u", c[kDedupCommand].ms / c[kGnuSortUnique].ms, "<=", 0.6);
  PrintRatio("stats / sort --by code1", c[kStatsCommand].ms / c[kSortCode1].ms, "<=", 1);
  PrintRatio("compile / libime_tabledict", c[kCompile].ms / c[kReferenceCompile].ms, "<", 0.25);
  PrintRatio("stats peak / UTF-16 size", c[kStatsCommand].peakMiB / s.utf16MiB, "<=", 3);
  PrintRatio("analyze / stats", c[kAnalyzeCommand].ms / c[kStatsCommand].ms, "<=", 2);
  std::printf("  %-50s %8.1f ms (goal <= 300 ms at 1 M rows)\n", "reanalysis in the window",
              s.steps[kReanalysis].ms);
  PrintRatio("analyze peak / (3 x UTF-16 size + list)",
             c[kAnalyzeCommand].peakMiB / (3 * s.utf16MiB + EssayListMiB()), "<=", 1);
  PrintRatio("compile peak / UTF-16 size", c[kCompile].peakMiB / s.utf16MiB, "<=", 2);
  PrintRatio("reanalysis peak / (3 x UTF-16 size + list)",
             s.steps[kReanalysis].peakMiB / (3 * s.utf16MiB + EssayListMiB()), "<=", 1);
  // The analyses hold a weight list beside the table: their own allowance above.
  double worst = 0;
  for (int k = 0; k < kGnuSortCode; ++k) {
    if (k != kAnalyzeCommand) worst = std::max(worst, c[k].peakMiB);
  }
  for (int k = 0; k < kSteps; ++k) {
    if (k != kReanalysis) worst = std::max(worst, s.steps[k].peakMiB);
  }
  PrintRatio("largest peak of ours / UTF-16 size", worst / s.utf16MiB, "<=", 3);
  if (s.leftBehind.empty()) {
    std::printf("  %-50s %8s\n", "temporary folder after each command", "empty");
  } else {
    for (const std::string& left : s.leftBehind) {
      std::printf("  temporary folder after %s: %s  MISSED\n", left.c_str(), "not empty");
    }
  }
  std::printf("\n");
}

void RunShape(Shape shape, const Options& options) {
  std::vector<SizeFigures> done;
  for (uint64_t rows : options.sizes) {
    const fs::path dir = MakeScratchFolder(options.base);
    if (dir.empty()) throw BenchError("no scratch folder");
    try {
      const TableFacts facts = InChild("generating the table", [&] {
        return Generate(shape, rows, dir / "table.txt", dir / "reference.txt");
      });
      SizeFigures s{};
      s.rows = rows;
      s.utf16MiB = MiB(2.0 * static_cast<double>(facts.utf16Units));
      std::printf("%s shape, %llu rows (%llu distinct): %.1f MiB UTF-8, %.1f MiB as UTF-16\n",
                  ShapeName(shape), static_cast<unsigned long long>(rows),
                  static_cast<unsigned long long>(facts.uniqueRows),
                  MiB(static_cast<double>(facts.bytes)), s.utf16MiB);
      std::fflush(stdout);
      for (int k = 0; k < kSteps; ++k) {
        s.steps[k] = MeasureStep(static_cast<Step>(k), shape, dir, facts, options.runs);
      }
      // Our commands get a temporary folder of their own, looked at after each.
      const fs::path temp = dir / "tmp";
      fs::create_directories(temp);
      // Put back afterwards: the folder goes with this size's scratch folder.
      struct RestoreTmpdir {
        std::optional<std::string> before;
        ~RestoreTmpdir() {
          if (before) {
            ::setenv("TMPDIR", before->c_str(), 1);
          } else {
            ::unsetenv("TMPDIR");
          }
        }
      } restore{std::getenv("TMPDIR") ? std::optional<std::string>(std::getenv("TMPDIR"))
                                      : std::nullopt};
      ::setenv("TMPDIR", temp.c_str(), 1);
      for (int k = 0; k < kCommands; ++k) {
        s.commands[k] = MeasureCommand(static_cast<Command>(k), dir, options);
        if (k >= kGnuSortCode) continue;
        for (const auto& entry : fs::recursive_directory_iterator(temp)) {
          if (entry.is_directory()) continue;
          s.leftBehind.push_back(std::string(kCommandNames[k]) + " (" +
                                 entry.path().filename().string() + ")");
          fs::remove(entry.path());
        }
      }
      done.push_back(s);
      PrintSize(s, done.front());
      std::fflush(stdout);
    } catch (...) {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
      throw;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
}

// One line of `mib` MiB: Han characters with a TAB (unless `bare`) and
// letters now and then, and no line end at all.
void WriteLongLine(const fs::path& path, uint64_t mib, bool bare = false) {
  Rng rng(kSeed);
  std::string line;
  line.reserve(mib << 20);
  while (line.size() < (mib << 20)) {
    AppendUtf8(line, static_cast<char32_t>(0x4E00 + rng.Below(0x9FA6 - 0x4E00)));
    if (rng.Below(8) == 0 && !bare) line += '\t';
    if (rng.Below(4) == 0) line += static_cast<char>('a' + rng.Below(26));
  }
  WriteFile(path, line);
}

void RunLongLine(const Options& options) {
  const fs::path dir = MakeScratchFolder(options.base);
  if (dir.empty()) throw BenchError("no scratch folder");
  const std::string tool = options.tool.string();
  const fs::path line = dir / "line.txt";
  const std::string l = line.string();
  auto at = [&](const char* name) { return (dir / name).string(); };
  try {
    InChild("writing the line", [&] {
      WriteLongLine(line, options.longLineMiB);
      // A word list's line is one word when it holds no TAB.
      WriteLongLine(dir / "word.txt", options.longLineMiB, true);
      WriteFile(dir / "small.txt", "字\tzi\r\n");
      WriteFile(dir / "keymap.txt", "a=一\r\n");
      WriteFile(dir / "rules.txt", "<all.0>==><1>\r\n");
      return 0;
    });
    struct rusage usage {};
    const double readMs = InChild(
        "reading the line",
        [&] {
          return BestOf(
              NoSetup, [&] { (void)Check(mirel::ReadTextFile(BenchFs(), line), "read"); },
              options.runs);
        },
        &usage);
    const double fileMiB = static_cast<double>(options.longLineMiB);
    std::printf("one line of %.0f MiB; reading and decoding it: %.1f ms, %.1f MiB peak\n", fileMiB,
                readMs, PeakMiB(usage));
    std::printf("  %-14s %10s %8s %8s %8s\n", "", "ms", "/read", "peak MiB", "/size");
    const std::vector<std::pair<const char*, std::vector<std::string>>> commands = {
        {"compile", {tool, "compile", "-q", l, at("out.ktb")}},
        {"convert-rules", {tool, "convert-rules", l, "--rules", at("rules.txt"), "-o", at("o1")}},
        {"convert", {tool, "convert", l, "--from", "win", "--to", "mirel", "-o", at("o2")}},
        {"merge", {tool, "merge", l, at("small.txt"), "-o", at("o3")}},
        {"tips", {tool, "tips", l, at("small.txt"), "-o", at("o4")}},
        {"gen-single",
         {tool, "gen-single", l, at("keymap.txt"), "-o", at("o5"), "--errors", at("e5")}},
        {"gen-words",
         {tool, "gen-words", at("small.txt"), l, "-o", at("o6"), "--errors", at("e6")}},
        {"gen-words word",
         {tool, "gen-words", at("small.txt"), at("word.txt"), "-o", at("o7"), "--errors",
          at("e7")}},
    };
    for (const auto& [name, args] : commands) {
      // A tool may refuse such a line; how long it takes to say so still counts.
      const Figures f = RunCommand(args, options.runs, true);
      std::printf("  %-14s %10.1f %8.2f %8.1f %8.2f%s\n", name, f.ms, f.ms / readMs, f.peakMiB,
                  f.peakMiB / fileMiB,
                  f.ms / readMs > 2 || f.peakMiB / fileMiB > 3 ? "  MISSED" : "");
    }
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    throw;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

int ScaleUsage(const char* message) {
  if (message) std::fprintf(stderr, "%s: %s\n", kProgram, message);
  std::fprintf(message ? stderr : stdout,
               "usage: %s [--rows N[,N...]] [--shape even|real|both] [--runs N] [--dir DIR]\n"
               "          [--tool PATH] [--long-line MIB] [--write PATH]\n"
               "  --rows       table sizes (default 1000000)\n"
               "  --shape      which generated tables (default both)\n"
               "  --runs       runs per measurement, best taken (default %d)\n"
               "  --tool       mirel-tool (default: beside this program, ../src/mirel-tool)\n"
               "  --long-line  instead, one line of MIB MiB through every whole-line tool\n"
               "  --write      instead, write the first shape's table of the first size to PATH\n",
               kProgram, kRuns);
  return message ? 2 : 0;
}

}  // namespace
}  // namespace mirel_bench

int main(int argc, char** argv) {
  using namespace mirel_bench;
  // The in-process steps hold memory as the programs do.
  mirel::ReturnLargeBlocksWhenFreed();
  Options options;
  const char* tmp = std::getenv("TMPDIR");
  options.base = tmp && *tmp ? fs::path(tmp) : fs::path("/tmp");
  std::error_code ec;
  options.tool =
      fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "src" / "mirel-tool";
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") return ScaleUsage(nullptr);
    if (k + 1 >= argc) return ScaleUsage("missing value after an option");
    const std::string value = argv[++k];
    auto number = [&](const std::string& text, uint64_t& out) {
      char* end = nullptr;
      errno = 0;
      out = std::strtoull(text.c_str(), &end, 10);
      return errno == 0 && *end == '\0' && out > 0 && text[0] != '-';
    };
    if (arg == "--rows") {
      options.sizes.clear();
      size_t from = 0;
      while (from <= value.size()) {
        const size_t comma = std::min(value.find(',', from), value.size());
        uint64_t n = 0;
        if (!number(value.substr(from, comma - from), n) || n > kMaxRows) {
          return ScaleUsage("--rows needs whole numbers from 1 to 50000000");
        }
        options.sizes.push_back(n);
        from = comma + 1;
      }
    } else if (arg == "--shape") {
      if (value == "even")
        options.shapes = {Shape::kEven};
      else if (value == "real")
        options.shapes = {Shape::kReal};
      else if (value == "both")
        options.shapes = {Shape::kEven, Shape::kReal};
      else
        return ScaleUsage("--shape is even, real or both");
    } else if (arg == "--runs") {
      uint64_t n = 0;
      if (!number(value, n) || n > 100) return ScaleUsage("--runs needs a number from 1 to 100");
      options.runs = static_cast<int>(n);
    } else if (arg == "--dir") {
      options.base = value;
    } else if (arg == "--tool") {
      options.tool = value;
    } else if (arg == "--write") {
      options.write = value;
    } else if (arg == "--long-line") {
      if (!number(value, options.longLineMiB) || options.longLineMiB > 1024) {
        return ScaleUsage("--long-line needs a size from 1 to 1024 MiB");
      }
    } else {
      return ScaleUsage("unknown option");
    }
  }
  try {
    if (!options.write.empty()) {
      Rng rng(kSeed);
      WriteFile(options.write,
                GenerateShaped(options.shapes.front(), options.sizes.front(), rng).text);
      return 0;
    }
    if (options.longLineMiB > 0) {
      RunLongLine(options);
      return 0;
    }
    for (Shape shape : options.shapes) RunShape(shape, options);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return 1;
  }
  return 0;
}
