// Times the two conversion tools on a large generated table next to the
// tools a user would otherwise reach for: the column-swapping rule against
// mawk, and the conversion to the 搜狗 format (which numbers the entries of
// each code) against sorting the rows by code.
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_common.h"
#include "convert/common_conversion.h"
#include "convert/rule_conversion.h"
#include "store/text_file.h"

const char* const mirel_bench::kProgram = "convert_bench";

using namespace mirel_bench;

int main(int argc, char** argv) {
  uint64_t rows;
  fs::path base;
  if (int code = ParseArguments(argc, argv, rows, base); code >= 0) return code;
  const fs::path dir = MakeScratchFolder(base);
  if (dir.empty()) return 1;
  int status = 0;
  try {
    Rng rng(kSeed);
    const fs::path table = dir / "table.txt";
    {
      GeneratedTable generated = GenerateTable(rows, rng);
      WriteFile(table, generated.text);
    }
    std::printf("%s: %llu rows, seed 0x%llx, best of %d runs (ms)\n", kProgram,
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kSeed),
                kRuns);

    const std::u16string rule = u"<all.0><tab.1><all.0><row.2>==><3><t><1><r>";
    const double rules = BestOf(NoSetup, [&] {
      Check(mirel::RunRuleConversion(BenchFs(), table, rule, dir / "swapped.txt"),
            "RunRuleConversion");
    });
    const double mawk = TimeCommand("mawk -F'\\t' '{print $2 \"\\t\" $1}' " + Quote(table) + " > " +
                                    Quote(dir / "mawk.txt"));

    auto temp = Check(mirel::TempFolder::OpenIn(dir), "TempFolder");
    // The table as a Mirel-format text, read once as the dialog does.
    const std::u16string text = Check(mirel::ReadTextFile(BenchFs(), table), "ReadTextFile").text;
    const double sogou = BestOf(NoSetup, [&] {
      Check(mirel::ConvertCommonFormat(BenchFs(), text, mirel::TableFormat::kMirel,
                                       mirel::TableFormat::kSogou, dir / "sogou.txt", *temp, table),
            "ConvertCommonFormat");
    });
    const double sort = TimeCommand("LC_ALL=C sort -s -t\"$(printf '\\t')\" -k2,2 " + Quote(table) +
                                    " > " + Quote(dir / "sorted.txt"));

    std::printf("  %-52s %9.1f\n", "rule engine, swap the columns (UTF-8 in, UTF-16 out)", rules);
    std::printf("  %-52s %9.1f\n", "mawk -F'\\t' '{print $2 \"\\t\" $1}'", mawk);
    std::printf("  %-52s %9.1f\n", "Mirel -> 搜狗 (parse, number, write)", sogou);
    std::printf("  %-52s %9.1f\n", "LC_ALL=C sort -s -t<TAB> -k2,2", sort);
    std::printf("ratios\n");
    PrintRatio("rule engine / mawk", rules / mawk, "<=", 1);
    PrintRatio("Mirel -> 搜狗 / sort by code", sogou / sort, "<=", 1);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    status = 1;
  }
  fs::remove_all(dir);
  return status;
}
