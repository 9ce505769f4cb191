// Times the table store on a large generated table, next to plain command-line
// tools doing comparable work on the same file, and checks the store's row
// counts against what the generator knows about the table.
//
// Generation and the store measurements each run in a forked process, so the
// peak memory reported is the store's own and not the generator's.
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/statistics.h"
#include "bench_common.h"
#include "platform/status.h"
#include "platform/temp_folder.h"
#include "store/table_store.h"

const char* const mirel_bench::kProgram = "table_bench";

namespace mirel_bench {
namespace {

// Every file of a run lives in one scratch folder.
struct Paths {
  fs::path dir;
  fs::path table() const { return dir / "table.txt"; }
  fs::path frequency() const { return dir / "frequency.txt"; }
  fs::path operator()(const char* name) const { return dir / name; }
};

// Crosses the pipe from the generator, so it must stay trivially copyable.
struct TableFacts {
  uint64_t rows, copiedRows, uniqueRows, characters, supplementary, utf16Units, bytes;
  uint64_t frequencyEntries, codeA, codeAb, codeAbc;
};

TableFacts Generate(uint64_t rows, const Paths& paths) {
  Rng rng(kSeed);
  const GeneratedTable g = GenerateTable(rows, rng);
  const std::string& table = g.text;
  TableFacts facts{};
  facts.rows = rows;
  facts.copiedRows = g.copiedRows;
  facts.characters = g.characters;
  facts.supplementary = g.supplementary;
  facts.utf16Units = g.utf16Units;
  facts.bytes = table.size();

  std::unordered_set<std::string_view> distinct, frequencyWords;
  distinct.reserve(rows);
  std::string frequency;
  for (const GeneratedTable::Line& line : g.lines) {
    const std::string_view text = line.In(table);
    const size_t tab = text.find('\t');
    const std::string_view entry = text.substr(0, tab), code = text.substr(tab + 1);
    distinct.insert(text);
    facts.codeA += code.starts_with("a");
    facts.codeAb += code.starts_with("ab");
    facts.codeAbc += code == "abc";
    // A real frequency list names each word once.
    if (rng.Below(100) < 30 && frequencyWords.insert(entry).second) {
      frequency.append(entry);
      frequency += '\t';
      frequency += std::to_string(1 + rng.Below(1000000));
      frequency += "\r\n";
    }
  }
  facts.uniqueRows = distinct.size();
  facts.frequencyEntries = frequencyWords.size();
  WriteFile(paths.table(), table);
  WriteFile(paths.frequency(), frequency);
  return facts;
}

enum Step {
  kLoad,
  kDataCopy,
  kFilterEmpty,
  kFilterA,
  kFilterAb,
  kFilterExact,
  kBySource,
  kByCode1,
  kByCode2,
  kByEntry1,
  kByEntry2,
  kByFrequency,
  kWrite,
  kDedupe,
  kStatistics,
  kSteps
};
constexpr const char* kStepNames[kSteps] = {"LoadTable (includes the empty filter)",
                                            "plain copy of the working data file",
                                            "ApplyFilter empty",
                                            "ApplyFilter prefix \"a\"",
                                            "ApplyFilter prefix \"ab\"",
                                            "ApplyFilter exact \"abc\"",
                                            "order by source (from code order 1)",
                                            "order by code 1 (a-ab-b)",
                                            "order by code 2 (shorter first)",
                                            "order by entry 1 (unit order)",
                                            "order by entry 2 (fewer first)",
                                            "order by frequency",
                                            "WriteTableText (UTF-16LE)",
                                            "RemoveDuplicates (fresh, source order)",
                                            "statistics report (written)"};

struct StoreFigures {
  double ms[kSteps];
  double peakMiB[kSteps];  // the store process's peak so far, just after the step
  double baselineMiB, firstLoadMiB;
};

StoreFigures MeasureStore(const Paths& paths, const TableFacts& facts) {
  std::unique_ptr<mirel::TempFolder> temp =
      Check(mirel::TempFolder::OpenIn(paths.dir), "temporary folder");
  mirel::TableStore store(BenchFs(), *temp);
  StoreFigures f{};
  f.baselineMiB = PeakMiB();
  auto time = [&](Step step, auto setup, auto run) {
    f.ms[step] = BestOf(setup, run);
    f.peakMiB[step] = PeakMiB();
  };
  auto load = [&] {
    Expect(Check(store.LoadTable(paths.table()), "LoadTable"), facts.rows, "rows loaded");
    // Later loads replace an open table, which an editor also does, but the
    // first shows what one table costs.
    if (f.firstLoadMiB == 0) f.firstLoadMiB = PeakMiB();
  };
  time(kLoad, NoSetup, load);

  const fs::path dataFile = temp->TempPath(mirel::kDataFileName);
  time(kDataCopy, NoSetup, [&] {
    fs::copy_file(dataFile, paths("data_copy.ktw"), fs::copy_options::overwrite_existing);
  });

  auto filter = [&](Step step, std::u16string_view text, bool exact, uint64_t want) {
    time(step, NoSetup, [&] {
      (void)Check(store.ApplyFilter(text, exact), "ApplyFilter");
      Expect(store.VisibleRowCount(), want, "visible rows");
    });
  };
  filter(kFilterEmpty, u"", false, facts.rows);
  filter(kFilterA, u"a", false, facts.codeA);
  filter(kFilterAb, u"ab", false, facts.codeAb);
  filter(kFilterExact, u"abc", true, facts.codeAbc);

  // Every ordering starts from source order, except source order itself.
  auto fromSource = [&] { store.SortBySource(); };
  time(
      kBySource, [&] { store.SortByCode(1); }, fromSource);
  time(kByCode1, fromSource, [&] { store.SortByCode(1); });
  time(kByCode2, fromSource, [&] { store.SortByCode(2); });
  time(kByEntry1, fromSource, [&] { store.SortByEntry(1); });
  time(kByEntry2, fromSource, [&] { store.SortByEntry(2); });
  time(kByFrequency, fromSource,
       [&] { Check(store.SortByFrequency(paths.frequency()), "SortByFrequency"); });
  Expect(store.RowCount(), facts.rows, "rows after the orderings");

  store.SortBySource();
  time(kWrite, NoSetup,
       [&] { Check(store.WriteTableText(paths("written.txt")), "WriteTableText"); });
  time(kDedupe, load, [&] {
    Expect(store.RemoveDuplicates(), facts.uniqueRows, "rows kept by RemoveDuplicates");
  });
  load();
  time(kStatistics, NoSetup, [&] {
    Check(mirel::WriteStatisticsReport(store, paths("statistics.txt")), "WriteStatisticsReport");
  });
  store.CloseTable();
  return f;
}

void PrintTime(const char* name, double ms) { std::printf("  %-40s %10.1f\n", name, ms); }

void PrintCount(uint64_t n, const char* what) {
  std::printf("   %llu %s", static_cast<unsigned long long>(n), what);
}

int Run(uint64_t rows, const fs::path& base) {
  Paths paths;
  paths.dir = MakeScratchFolder(base);
  if (paths.dir.empty()) return 1;

  int code = 0;
  try {
    std::printf("table_bench: %llu rows, seed 0x%016llx, scratch folder %s\n",
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kSeed),
                paths.dir.c_str());
    const TableFacts facts = InChild("generating the table", [&] { return Generate(rows, paths); });
    const double utf16Bytes = 2.0 * static_cast<double>(facts.utf16Units);
    std::printf("table: %llu rows, %llu of them copies of earlier rows, %llu distinct\n",
                static_cast<unsigned long long>(facts.rows),
                static_cast<unsigned long long>(facts.copiedRows),
                static_cast<unsigned long long>(facts.uniqueRows));
    std::printf(
        "       %.1f MiB UTF-8, %.1f MiB as UTF-16; %.2f %% of characters outside the BMP\n",
        MiB(static_cast<double>(facts.bytes)), MiB(utf16Bytes),
        100.0 * static_cast<double>(facts.supplementary) /
            static_cast<double>(std::max<uint64_t>(facts.characters, 1)));
    std::printf("frequency file: %llu entries\n",
                static_cast<unsigned long long>(facts.frequencyEntries));
    std::printf(
        "every time is the best of %d runs, in ms; the setup before each run (reloading,\n"
        "reordering to source order) is not timed\n\n",
        kRuns);

    const std::string table = Quote(paths.table());
    const double iconv =
        TimeCommand("iconv -f UTF-8 -t UTF-16LE " + table + " > " + Quote(paths("iconv.out")));
    const double sortCode =
        TimeCommand("LC_ALL=C sort -s -t'\t' -k2,2 " + table + " > " + Quote(paths("sort.out")));
    const double sortUnique =
        TimeCommand("LC_ALL=C sort -u " + table + " > " + Quote(paths("sort_u.out")));

    struct rusage usage {};
    const StoreFigures f = InChild(
        "measuring the store", [&] { return MeasureStore(paths, facts); }, &usage);
    // The table operations' peak; the statistics report, measured last, shows
    // its own in its row.
    const double peak = f.peakMiB[kDedupe];
    const double reportPeak = MiB(static_cast<double>(usage.ru_maxrss) * 1024.0);

    std::printf("%-42s %10s %10s\n", "store", "ms", "MiB so far");
    for (int k = 0; k < kSteps; ++k) {
      if (k == kDataCopy) continue;
      std::printf("  %-40s %10.1f %10.1f", kStepNames[k], f.ms[k], f.peakMiB[k]);
      if (k == kLoad) PrintCount(facts.rows, "rows");
      if (k == kFilterA) PrintCount(facts.codeA, "visible");
      if (k == kFilterAb) PrintCount(facts.codeAb, "visible");
      if (k == kFilterExact) PrintCount(facts.codeAbc, "visible");
      if (k == kDedupe) PrintCount(facts.uniqueRows, "kept");
      std::printf("\n");
    }
    std::printf("reference\n");
    PrintTime(kStepNames[kDataCopy], f.ms[kDataCopy]);
    PrintTime("iconv -f UTF-8 -t UTF-16LE", iconv);
    PrintTime("LC_ALL=C sort -s -t TAB -k2,2", sortCode);
    PrintTime("LC_ALL=C sort -u", sortUnique);
    std::printf(
        "peak memory %.1f MiB: largest resident set of the process that ran the store steps\n"
        "  up to RemoveDuplicates (mapped working files included, generator excluded); %.1f MiB\n"
        "  before the store opened anything, %.1f MiB after the first load, %.1f MiB after the\n"
        "  statistics report; the table is %.1f MiB as UTF-16\n\n",
        peak, f.baselineMiB, f.firstLoadMiB, reportPeak, MiB(utf16Bytes));

    std::printf("ratios\n");
    PrintRatio("load / iconv decode", f.ms[kLoad] / iconv, "<=", 1.5);
    PrintRatio("filter \"a\" / plain copy of working data", f.ms[kFilterA] / f.ms[kDataCopy],
               "<=", 3);
    PrintRatio("filter \"ab\" / plain copy of working data", f.ms[kFilterAb] / f.ms[kDataCopy],
               "<=", 3);
    PrintRatio("filter exact \"abc\" / plain copy of working data",
               f.ms[kFilterExact] / f.ms[kDataCopy], "<=", 3);
    PrintRatio("code order 1 / sort -s -t TAB -k2,2", f.ms[kByCode1] / sortCode, "<", 1);
    PrintRatio("RemoveDuplicates / sort -u", f.ms[kDedupe] / sortUnique, "<", 1);
    PrintRatio("peak memory / UTF-16 size of the table", peak / MiB(utf16Bytes), "<=", 3);
    PrintRatio("statistics report / (code order 1 + entry order 1)",
               f.ms[kStatistics] / (f.ms[kByCode1] + f.ms[kByEntry1]), "<", 1);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "table_bench: %s\n", e.what());
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
