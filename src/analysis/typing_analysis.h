// How well a table types real text: the entries of a weight list (larger is
// more frequent) typed with the table, counting the keys of each entry's
// cheapest row, the select keys its place in its code costs, and how the
// keys and fingers share the work. The definitions are in doc/analysis.md.
//
// Pure functions over rows and lists already read; reentrant.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel::analysis {

// A row of the table as it stands: a view of an `entry TAB code` line the
// caller keeps alive. 16 bytes, as a million of them sit beside the table.
struct TableRow {
  const char16_t* text = nullptr;
  uint32_t entryLength = 0, codeLength = 0;

  // Up to the first TAB the entry, after it the code; no TAB, no code.
  static TableRow Of(std::u16string_view line) {
    const size_t tab = line.find(u'\t');
    if (tab == std::u16string_view::npos)
      return {line.data(), static_cast<uint32_t>(line.size()), 0};
    return {line.data(), static_cast<uint32_t>(tab), static_cast<uint32_t>(line.size() - tab - 1)};
  }
  std::u16string_view entry() const { return {text, entryLength}; }
  std::u16string_view code() const {
    return codeLength ? std::u16string_view(text + entryLength + 1, codeLength)
                      : std::u16string_view();
  }
};

// ---- Weight lists -----------------------------------------------------

struct WeightEntry {
  std::u16string entry;
  double weight = 0;
};

struct WeightList {
  std::string source;                   // "essay", "jieba", "pinlu", or the file's path
  std::vector<WeightEntry> entries;     // in list order; an entry listed twice holds the sum
  uint64_t badLines = 0;                // no weight, negative, not a number, too large
  std::vector<uint32_t> firstBadLines;  // their 1-based line numbers, the first few
};

enum class Script { kAuto, kSimplified, kTraditional };

// `entry TAB weight` lines in any encoding tables are read in, or
// `word count [tag]` space-separated lines.
Result<WeightList> ReadWeightList(FileSystem& fs, const std::filesystem::path& path);
// A built-in source by name (essay, jieba, pinlu) from the installed Debian
// package; the table's rows decide kAuto (the form covering more weight).
// essay's simplified form is kept in `cacheFolder` when one is given.
Result<WeightList> LoadBuiltInSource(FileSystem& fs, std::string_view name, Script script,
                                     const std::vector<TableRow>& table,
                                     const std::filesystem::path& cacheFolder = {});

// essay's traditional forms through OpenCC (t2s); forms that become one add
// up. Touches no file but OpenCC's data, so it may run beside other work.
// The list goes through in `pieces` (0: of about 64 KiB), on every core.
Result<WeightList> SimplifyList(const WeightList& list, unsigned pieces = 0);
// The same, kept in `cacheFolder` (none when empty) for the next time: a
// cached list made from another list or with other converter data, or one
// damaged, is made again. A cache that cannot be written is done without.
Result<WeightList> SimplifyListCached(FileSystem& fs, const WeightList& list,
                                      const std::filesystem::path& cacheFolder);
// The form whose entries the table holds more weight of.
WeightList PickScript(WeightList traditional, WeightList simplified,
                      const std::vector<TableRow>& table);

// ---- Keyboard ----------------------------------------------------------

// Fingers 0-4: left little to left thumb... kept simple: 0 left little,
// 1 left ring, 2 left middle, 3 left index, 4 right index, 5 right middle,
// 6 right ring, 7 right little; -1: not on the map (space included).
struct Keyboard {
  std::array<int8_t, 128> finger{};  // by ASCII key
  static Keyboard Standard();        // the standard touch-typing fingers
  // `key TAB finger` lines (finger 0-7); a hostile file is refused by line.
  static Result<Keyboard> Read(std::string_view bytes);
  bool LeftHand(char16_t key) const { return key < 128 && finger[key] >= 0 && finger[key] < 4; }
};

// Key-pair times (当量); a pair the table lacks costs kMissingPairTime.
struct PairTimes {
  static constexpr double kMissingPairTime = 1.5;
  std::vector<std::pair<std::u16string, double>> pairs;  // two keys, time; sorted
  static Result<PairTimes> Read(std::string_view bytes);
  // The table shipped with the program.
  static const PairTimes& Shipped();
  std::optional<double> Find(char16_t first, char16_t second) const;
};

// ---- The analysis -----------------------------------------------------

enum class EvaluatedSet { kChars, kWords, kAll };

struct AnalysisOptions {
  EvaluatedSet set = EvaluatedSet::kChars;
  uint64_t top = 0;        // 0: every entry of the set
  uint32_t maxLength = 0;  // 0: the longest code in the table
  Keyboard keyboard = Keyboard::Standard();
  const PairTimes* pairTimes = nullptr;  // null: the shipped table
};

struct Rates {
  uint64_t evaluated = 0, covered = 0;
  double coverage = 0;
  double selectionRate = 0, selectionRateSorted = 0;
  double keysPerChar = 0, codeLengthPerChar = 0;
  double pairTime = 0, pairTimeCoverage = 0;
  double handAlternation = 0, sameFinger = 0, sameKey = 0;
};

struct Band {
  uint64_t firstRank = 0, lastRank = 0;  // 1-based; lastRank 0: to the end of S
  Rates rates;
};

struct CostlyRow {
  std::u16string entry;
  double weight = 0;  // the entry's weight in the list (0 when absent)
};

struct CostlyCode {
  std::u16string code;
  double cost = 0;                        // Σ p·n(pos) of its covered entries not first
  std::vector<CostlyRow> rows;            // the code's rows in table order
  std::vector<std::u16string> freeCodes;  // cheapest unused codes, same or shorter length
};

struct EntryWeight {
  std::u16string entry;
  double weight = 0;
};

struct Analysis {
  std::string source;
  uint64_t sourceEntries = 0;
  double sourceShareCovered = 0;  // share of the source's whole weight that the table covers
  uint32_t maxLength = 0;
  Rates rates;
  std::array<double, 128> keyUse{};     // by ASCII key; code keys only
  std::array<double, 8> fingerLoad{};   // by finger of Keyboard
  std::vector<double> codeLengths;      // weighted share of chosen codes by length (index = length)
  std::vector<Band> bands;              // 1-300, 301-500, 501-1500, 1501-3000, 3001-6000, rest
  std::vector<CostlyCode> costlyCodes;  // most costly first, the first 500
  uint64_t costlyCodeCount = 0;         // all of them
  std::vector<EntryWeight> missing;     // heaviest first
};

struct EntryChange {
  std::u16string entry;
  double p = 0;
  double oldKeys = 0, newKeys = 0;
};

// The old table's figures and the 50 entries whose change of keys weighs most.
struct Comparison {
  Analysis old;
  std::vector<EntryChange> changes;
};

Analysis AnalyzeRows(const std::vector<TableRow>& rows, const WeightList& list,
                     const AnalysisOptions& options);
// Both tables measured once: the new table's figures, and the old table's
// with the changes.
struct Compared {
  Analysis now;
  Comparison against;
};
Compared CompareRows(const std::vector<TableRow>& oldRows, const std::vector<TableRow>& newRows,
                     const WeightList& list, const AnalysisOptions& options);

// ---- Reports ------------------------------------------------------------

std::string AnalysisText(const Analysis& analysis, const Comparison* against);
// An object with the field names of doc/analysis.md.
std::string AnalysisJson(const Analysis& analysis, const Comparison* against);
// The keyboard heat map: key use as colour, the share printed on each key,
// finger loads below. One writer serves the window and the command line.
std::string KeyboardSvg(const Analysis& analysis);
// One self-contained page: every figure, the heat map, a code-length
// histogram and the costly codes.
std::string AnalysisHtml(const Analysis& analysis, const Comparison* against);

}  // namespace mirel::analysis
