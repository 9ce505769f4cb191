// Times the generation tools on large generated inputs next to the Unix
// tools a user would otherwise reach for: merging the table with a second
// table of its entries against sort and join, and single-character and word
// generation against sorting their own output rows.
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_set>

#include "bench_common.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "platform/utf16.h"
#include "store/text_file.h"

const char* const mirel_bench::kProgram = "generate_bench";

using namespace mirel_bench;

namespace {

// The rows of a file we wrote (UTF-16LE), as UTF-8 for the Unix tools.
void WriteUtf8Copy(const fs::path& from, const fs::path& to) {
  const std::u16string text = Check(mirel::ReadTextFile(BenchFs(), from), "ReadTextFile").text;
  WriteFile(to, mirel::Utf16ToUtf8(text));
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t rows;
  fs::path base;
  if (int code = ParseArguments(argc, argv, rows, base); code >= 0) return code;
  const fs::path dir = MakeScratchFolder(base);
  if (dir.empty()) return 1;
  int status = 0;
  try {
    Rng rng(kSeed);
    std::printf("%s: %llu rows, seed 0x%llx, best of %d runs (ms)\n", kProgram,
                static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kSeed),
                kRuns);

    // Merge: the table with a second table holding each distinct entry once.
    const fs::path first = dir / "first.txt", second = dir / "second.txt";
    {
      GeneratedTable table = GenerateTable(rows, rng);
      WriteFile(first, table.text);
      std::unordered_set<std::string_view> seen;
      std::string entries;
      for (const auto& line : table.lines) {
        const std::string_view row = line.In(table.text);
        const std::string_view entry = row.substr(0, row.find('\t'));
        if (seen.insert(entry).second) entries.append(entry).append("\tz\r\n");
      }
      WriteFile(second, entries);
    }
    mirel::MergeSettings merge;
    merge.tables[0] = mirel::Utf8ToUtf16(first.string());
    merge.tables[1] = mirel::Utf8ToUtf16(second.string());
    const double ours = BestOf(NoSetup, [&] {
      Check(mirel::MergeTables(BenchFs(), merge, dir / "merged.txt"), "MergeTables");
    });
    const double joined =
        TimeCommand("export LC_ALL=C; t=\"$(printf '\\t')\"; sort -t\"$t\" -k1,1 " + Quote(first) +
                    " > " + Quote(dir / "s1.txt") + " && sort -t\"$t\" -k1,1 " + Quote(second) +
                    " > " + Quote(dir / "s2.txt") + " && join -t\"$t\" " + Quote(dir / "s1.txt") +
                    " " + Quote(dir / "s2.txt") + " > " + Quote(dir / "joined.txt"));

    // Single characters: 100,000 characters with two decompositions each.
    const uint64_t characters = std::max<uint64_t>(rows / 10, 1);
    const fs::path split = dir / "split.txt", keys = dir / "keys.txt";
    {
      std::string keyMap, splitTable;
      for (int key = 0; key < 25; ++key) {
        keyMap += static_cast<char>('a' + key);
        keyMap += '=';
        for (int k = 0; k < 20; ++k)
          AppendUtf8(keyMap, static_cast<char32_t>(0x3400 + key * 20 + k));
        keyMap += "\r\n";
      }
      for (uint64_t c = 0; c < characters; ++c) {
        AppendUtf8(splitTable, static_cast<char32_t>(0x4E00 + c % 20902));
        splitTable += std::to_string(c / 20902);
        for (int d = 0; d < 2; ++d) {
          splitTable += '\t';
          for (uint64_t n = 2 + rng.Below(3); n > 0; --n) {
            AppendUtf8(splitTable, static_cast<char32_t>(0x3400 + rng.Below(500)));
          }
        }
        splitTable += "\r\n";
      }
      WriteFile(keys, keyMap);
      WriteFile(split, splitTable);
    }
    const double single = BestOf(NoSetup, [&] {
      Check(mirel::GenerateSingleCharacters(BenchFs(), split, keys, dir / "single.txt",
                                            dir / "single-errors.txt"),
            "GenerateSingleCharacters");
    });
    WriteUtf8Copy(dir / "single.txt", dir / "single-utf8.txt");
    const double singleSort =
        TimeCommand("LC_ALL=C sort " + Quote(dir / "single-utf8.txt") + " > /dev/null");

    // Words: a million words of two to five characters with the default rules.
    const fs::path chars = dir / "chars.txt", words = dir / "words.txt";
    {
      std::string table, list;
      for (int c = 0; c < 20000; ++c) {
        for (int copy = 0; copy < (c % 10 == 0 ? 2 : 1); ++copy) {
          AppendUtf8(table, static_cast<char32_t>(0x4E00 + c));
          table += '\t';
          for (int k = 0; k < 4; ++k) table += static_cast<char>('a' + rng.Below(26));
          table += "\r\n";
        }
      }
      for (uint64_t w = 0; w < rows; ++w) {
        for (uint64_t n = 2 + rng.Below(4); n > 0; --n) {
          AppendUtf8(list, static_cast<char32_t>(0x4E00 + rng.Below(20000)));
        }
        list += "\r\n";
      }
      WriteFile(chars, table);
      WriteFile(words, list);
    }
    mirel::WordLibrarySettings settings;
    settings.charTable = mirel::Utf8ToUtf16(chars.string());
    settings.auxTable.clear();
    settings.wordList = mirel::Utf8ToUtf16(words.string());
    const double library = BestOf(NoSetup, [&] {
      Check(mirel::GenerateWordLibrary(BenchFs(), settings, dir / "library.txt",
                                       dir / "library-errors.txt"),
            "GenerateWordLibrary");
    });
    WriteUtf8Copy(dir / "library.txt", dir / "library-utf8.txt");
    const double librarySort =
        TimeCommand("LC_ALL=C sort " + Quote(dir / "library-utf8.txt") + " > /dev/null");

    std::printf("  %-58s %9.1f\n", "merge with a table of its distinct entries", ours);
    std::printf("  %-58s %9.1f\n", "LC_ALL=C sort both + join", joined);
    std::printf("  %-58s %9.1f\n", "single characters (100,000 x 2 decompositions)", single);
    std::printf("  %-58s %9.1f\n", "LC_ALL=C sort of the same output rows", singleSort);
    std::printf("  %-58s %9.1f\n", "word library (default rules)", library);
    std::printf("  %-58s %9.1f\n", "LC_ALL=C sort of the same output rows", librarySort);
    std::printf("ratios\n");
    PrintRatio("merge / (sort + join)", ours / joined, "<=", 1);
    PrintRatio("single characters / sort", single / singleSort, "<=", 1);
    PrintRatio("word library / sort", library / librarySort, "<=", 1);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    status = 1;
  }
  fs::remove_all(dir);
  return status;
}
