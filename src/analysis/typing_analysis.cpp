#include "analysis/typing_analysis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <future>
#include <limits>
#include <queue>
#include <tuple>

#include "analysis/text_index.h"
#include "platform/utf16.h"

namespace mirel::analysis {
namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kPageSize = 10;
constexpr size_t kCostlyCodesKept = 500;
constexpr size_t kFreeCodesKept = 5;
// The search for free codes gives up after this many prefixes: in a table
// that fills its code space there may be none of a given length.
constexpr size_t kFreeCodeSearchLimit = 20000;
constexpr size_t kChangesKept = 50;
constexpr size_t kMissingListed = 1000;  // in JSON
constexpr size_t kMissingShown = 30;     // in text
constexpr size_t kCostlyCodesShown = 30;
constexpr uint64_t kBandEnds[] = {300, 500, 1500, 3000, 6000, 0};

// Below this a second thread costs more than it saves.
constexpr size_t kRowsWorthAThread = 1 << 16;

// `work` on a thread of its own when `beside`, else deferred to get().
template <class Work>
auto RunBeside(bool beside, Work work) {
  return std::async(beside ? std::launch::async : std::launch::deferred, std::move(work));
}

uint32_t SelectKeys(uint32_t pos, size_t codeLength, uint32_t maxLength) {
  if (pos == 1 && codeLength == maxLength) return 0;
  return 1 + (pos - 1) / kPageSize;
}

// Candidates 1 to 10 of a page: space, 2, ..., 9, 0.
char16_t SelectKey(uint32_t pos) {
  const uint32_t slot = (pos - 1) % kPageSize;
  return slot == 0 ? u' ' : slot == 9 ? u'0' : static_cast<char16_t>(u'1' + slot);
}

uint32_t Characters(std::u16string_view text) { return CountCharacters(text) & ~(1u << 31); }

// What the table and the list make of each other: every row's place in its
// code, as the table has it and as the list's weights would order it, and
// the row each evaluated entry is typed with.
struct Evaluation {
  uint32_t maxLength = 0;
  std::vector<uint32_t> codeOf;    // by row: the code's number
  std::vector<uint32_t> firstRow;  // by code: its first row
  std::vector<uint32_t> pos, sortedPos;
  std::vector<uint32_t> listOf;                // by row: the entry's place in the list, or kNone
  std::vector<uint32_t> evaluated;             // list places of S, heaviest first
  std::vector<uint32_t> chosen, chosenSorted;  // by place in S: a row, or kNone
  double sourceWeight = 0, sourceCovered = 0;
};

uint32_t KeysOf(const Evaluation& e, const std::vector<TableRow>& rows, uint32_t row, bool sorted) {
  const uint32_t p = sorted ? e.sortedPos[row] : e.pos[row];
  return static_cast<uint32_t>(rows[row].code().size()) +
         SelectKeys(p, rows[row].code().size(), e.maxLength);
}

// Every row's code number and place in it, and the code index that the
// search for free codes asks again.
struct CodePlaces {
  TextIndex index;
  std::vector<uint32_t> codeOf, pos, firstRow, rowsOfCode;
};

CodePlaces PlaceCodes(const std::vector<TableRow>& rows) {
  const uint32_t n = static_cast<uint32_t>(rows.size());
  CodePlaces p{TextIndex(n), std::vector<uint32_t>(n), std::vector<uint32_t>(n), {}, {}};
  // Reserved pages are not touched until used: no copies as the codes come.
  p.firstRow.reserve(n);
  p.rowsOfCode.reserve(n);
  auto codeText = [&](uint32_t c) { return rows[p.firstRow[c]].code(); };
  for (uint32_t r = 0; r < n; ++r) {
    const auto [c, fresh] =
        p.index.Insert(rows[r].code(), static_cast<uint32_t>(p.firstRow.size()), codeText);
    if (fresh) {
      p.firstRow.push_back(r);
      p.rowsOfCode.push_back(0);
    }
    p.codeOf[r] = c;
    p.pos[r] = ++p.rowsOfCode[c];
  }
  return p;
}

// By row: the entry's place in the list, or kNone.
std::vector<uint32_t> PlaceEntries(const std::vector<TableRow>& rows, const WeightList& list) {
  TextIndex entries(list.entries.size());
  auto entryText = [&](uint32_t k) -> std::u16string_view { return list.entries[k].entry; };
  for (uint32_t k = 0; k < list.entries.size(); ++k)
    entries.Insert(list.entries[k].entry, k, entryText);
  std::vector<uint32_t> listOf(rows.size(), kNone);
  for (size_t r = 0; r < rows.size(); ++r) {
    if (std::optional<uint32_t> k = entries.Find(rows[r].entry(), entryText)) listOf[r] = *k;
  }
  return listOf;
}

Evaluation Evaluate(const std::vector<TableRow>& rows, const WeightList& list,
                    const AnalysisOptions& options) {
  Evaluation e;
  const uint32_t n = static_cast<uint32_t>(rows.size());
  e.maxLength = options.maxLength;
  if (e.maxLength == 0) {
    for (const TableRow& row : rows) {
      e.maxLength = std::max<uint32_t>(e.maxLength, static_cast<uint32_t>(row.code().size()));
    }
  }

  // The two hash passes touch nothing in common: one on each core.
  std::future<std::vector<uint32_t>> listOf =
      RunBeside(n >= kRowsWorthAThread, [&] { return PlaceEntries(rows, list); });
  CodePlaces codes = PlaceCodes(rows);
  e.listOf = listOf.get();
  codes.index = TextIndex(0);  // the free-code search builds its own when it is needed
  e.codeOf = std::move(codes.codeOf);
  e.pos = std::move(codes.pos);
  e.firstRow = std::move(codes.firstRow);

  std::vector<bool> inTable(list.entries.size());
  for (uint32_t r = 0; r < n; ++r) {
    if (e.listOf[r] != kNone) inTable[e.listOf[r]] = true;
  }
  for (size_t k = 0; k < list.entries.size(); ++k) {
    e.sourceWeight += list.entries[k].weight;
    if (inTable[k]) e.sourceCovered += list.entries[k].weight;
  }
  auto weightOf = [&](uint32_t r) {
    return e.listOf[r] == kNone ? 0.0 : list.entries[e.listOf[r]].weight;
  };

  // Positions if each code's rows fell by weight. Only rows of a weight
  // above 0 are ever typed by the list, and they go before the rest: their
  // place is their rank among the weighted rows of their code. Those rows
  // grouped by code in table order, and a group sorted only where it does
  // not already fall.
  e.sortedPos = e.pos;
  {
    std::vector<uint32_t>& start = codes.rowsOfCode;  // reused: weighted rows before each code
    std::fill(start.begin(), start.end(), 0);
    start.push_back(0);
    uint32_t weighted = 0;
    for (uint32_t r = 0; r < n; ++r) {
      if (weightOf(r) > 0) {
        ++start[e.codeOf[r] + 1];
        ++weighted;
      }
    }
    for (size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
    // start[c] counts up as code c's rows are placed, ending where c + 1 starts.
    std::vector<uint32_t> grouped(weighted);
    for (uint32_t r = 0; r < n; ++r) {
      if (weightOf(r) > 0) grouped[start[e.codeOf[r]]++] = r;
    }
    start.insert(start.begin(), 0);
    for (size_t c = 0; c + 1 < start.size(); ++c) {
      const auto begin = grouped.begin() + start[c], end = grouped.begin() + start[c + 1];
      if (end - begin < 2) {
        if (begin != end) e.sortedPos[*begin] = 1;
        continue;
      }
      if (!std::is_sorted(begin, end,
                          [&](uint32_t a, uint32_t b) { return weightOf(a) > weightOf(b); })) {
        std::stable_sort(begin, end,
                         [&](uint32_t a, uint32_t b) { return weightOf(a) > weightOf(b); });
      }
      for (auto it = begin; it != end; ++it)
        e.sortedPos[*it] = static_cast<uint32_t>(it - begin + 1);
    }
  }

  // S: heaviest first, ties in list order.
  std::vector<std::pair<double, uint32_t>> heaviest;
  for (uint32_t k = 0; k < list.entries.size(); ++k) {
    const WeightEntry& w = list.entries[k];
    if (!(w.weight > 0)) continue;
    const uint32_t length = Characters(w.entry);
    if ((options.set == EvaluatedSet::kChars && length != 1) ||
        (options.set == EvaluatedSet::kWords && length < 2)) {
      continue;
    }
    heaviest.push_back({-w.weight, k});
  }
  std::sort(heaviest.begin(), heaviest.end());  // the place breaks ties
  e.evaluated.reserve(heaviest.size());
  for (const auto& [weight, k] : heaviest) e.evaluated.push_back(k);
  if (options.top > 0 && e.evaluated.size() > options.top) e.evaluated.resize(options.top);

  std::vector<uint32_t> rankOf(list.entries.size(), kNone);
  for (uint32_t s = 0; s < e.evaluated.size(); ++s) rankOf[e.evaluated[s]] = s;
  e.chosen.assign(e.evaluated.size(), kNone);
  e.chosenSorted.assign(e.evaluated.size(), kNone);
  for (uint32_t r = 0; r < n; ++r) {
    if (e.listOf[r] == kNone) continue;
    const uint32_t s = rankOf[e.listOf[r]];
    if (s == kNone) continue;
    // The fewest keys; on a tie the earlier row stays.
    if (e.chosen[s] == kNone || KeysOf(e, rows, r, false) < KeysOf(e, rows, e.chosen[s], false)) {
      e.chosen[s] = r;
    }
    if (e.chosenSorted[s] == kNone ||
        KeysOf(e, rows, r, true) < KeysOf(e, rows, e.chosenSorted[s], true)) {
      e.chosenSorted[s] = r;
    }
  }
  return e;
}

// Sums of weights; the rates are their ratios, so p's normalisation cancels.
struct Sums {
  uint64_t evaluated = 0, covered = 0;
  double evaluatedWeight = 0, coveredWeight = 0;
  double selected = 0, selectedSorted = 0;
  double keys = 0, codeKeys = 0, characters = 0;
  double pairs = 0, pairTime = 0, pairsFound = 0;
  double fingerPairs = 0, alternation = 0, sameFinger = 0, sameKey = 0;

  Rates Finish() const {
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    Rates r;
    r.evaluated = evaluated;
    r.covered = covered;
    r.coverage = ratio(coveredWeight, evaluatedWeight);
    r.selectionRate = ratio(selected, coveredWeight);
    r.selectionRateSorted = ratio(selectedSorted, coveredWeight);
    r.keysPerChar = ratio(keys, characters);
    r.codeLengthPerChar = ratio(codeKeys, characters);
    r.pairTime = ratio(pairTime, pairs);
    r.pairTimeCoverage = ratio(pairsFound, pairs);
    r.handAlternation = ratio(alternation, fingerPairs);
    r.sameFinger = ratio(sameFinger, fingerPairs);
    r.sameKey = ratio(sameKey, fingerPairs);
    return r;
  }
};

int FingerOf(const Keyboard& keyboard, char16_t key) {
  return key < 128 ? keyboard.finger[key] : -1;
}

void AddPair(Sums& sums, double w, char16_t a, char16_t b, const Keyboard& keyboard,
             const PairTimes& times) {
  sums.pairs += w;
  if (std::optional<double> t = times.Find(a, b)) {
    sums.pairTime += w * *t;
    sums.pairsFound += w;
  } else {
    sums.pairTime += w * PairTimes::kMissingPairTime;
  }
  const int fa = FingerOf(keyboard, a), fb = FingerOf(keyboard, b);
  if (a == u' ' || b == u' ' || fa < 0 || fb < 0) return;
  sums.fingerPairs += w;
  if (a == b) {
    sums.sameKey += w;
  } else if (fa == fb) {
    sums.sameFinger += w;
  }
  if ((fa < 4) != (fb < 4)) sums.alternation += w;
}

// Codes no row uses, cheapest first by the pair times of their keys, of at
// most `length` keys drawn from the keys the table's codes use.
std::vector<std::u16string> FreeCodes(size_t length, const std::u16string& alphabet,
                                      const TextIndex& codes, const std::vector<TableRow>& rows,
                                      const Evaluation& e, const PairTimes& times) {
  using Item = std::tuple<double, size_t, std::u16string>;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
  for (char16_t key : alphabet) queue.push({0.0, 1, std::u16string(1, key)});
  std::vector<std::u16string> found;
  auto codeText = [&](uint32_t c) { return rows[e.firstRow[c]].code(); };
  for (size_t popped = 0;
       !queue.empty() && found.size() < kFreeCodesKept && popped < kFreeCodeSearchLimit; ++popped) {
    auto [cost, size, code] = queue.top();
    queue.pop();
    if (!codes.Find(code, codeText)) {
      found.push_back(code);
      continue;  // a free code's longer forms are no better a place
    }
    if (size >= length) continue;
    for (char16_t key : alphabet) {
      const double t = times.Find(code.back(), key).value_or(PairTimes::kMissingPairTime);
      queue.push({cost + t, size + 1, code + key});
    }
  }
  return found;
}

struct Summary {
  Analysis analysis;
  std::vector<uint32_t> keys;  // by place in S; kNone when not covered
};

Summary Summarise(const std::vector<TableRow>& rows, const WeightList& list,
                  const AnalysisOptions& options, const Evaluation& e) {
  const PairTimes& times = options.pairTimes ? *options.pairTimes : PairTimes::Shipped();
  const Keyboard& keyboard = options.keyboard;
  Summary out;
  Analysis& a = out.analysis;
  a.source = list.source;
  a.sourceEntries = list.entries.size();
  a.sourceShareCovered = e.sourceWeight > 0 ? e.sourceCovered / e.sourceWeight : 0;
  a.maxLength = e.maxLength;

  Sums all;
  std::vector<Sums> bands(std::size(kBandEnds));
  std::vector<double> codeCost(e.firstRow.size());
  std::vector<double> keyWeight(128), lengthWeight;
  out.keys.assign(e.evaluated.size(), kNone);
  std::u16string sequence;
  for (uint32_t s = 0; s < e.evaluated.size(); ++s) {
    size_t band = 0;
    while (kBandEnds[band] != 0 && s >= kBandEnds[band]) ++band;
    const WeightEntry& entry = list.entries[e.evaluated[s]];
    const double w = entry.weight;
    for (Sums* sums : {&all, &bands[band]}) {
      ++sums->evaluated;
      sums->evaluatedWeight += w;
    }
    const uint32_t r = e.chosen[s];
    if (r == kNone) {
      a.missing.push_back({entry.entry, w});
      continue;
    }
    const std::u16string_view code = rows[r].code();
    const uint32_t select = SelectKeys(e.pos[r], code.size(), e.maxLength);
    out.keys[s] = static_cast<uint32_t>(code.size()) + select;
    const uint32_t sortedRow = e.chosenSorted[s];
    sequence.assign(code);
    if (select > 0) sequence += SelectKey(e.pos[r]);
    for (Sums* sums : {&all, &bands[band]}) {
      ++sums->covered;
      sums->coveredWeight += w;
      if (e.pos[r] > 1) sums->selected += w;
      if (e.sortedPos[sortedRow] > 1) sums->selectedSorted += w;
      sums->keys += w * (code.size() + select);
      sums->codeKeys += w * code.size();
      sums->characters += w * Characters(entry.entry);
      for (size_t k = 1; k < sequence.size(); ++k) {
        AddPair(*sums, w, sequence[k - 1], sequence[k], keyboard, times);
      }
    }
    for (char16_t key : code) {
      if (key < 128) keyWeight[key] += w;
    }
    if (lengthWeight.size() <= code.size()) lengthWeight.resize(code.size() + 1);
    lengthWeight[code.size()] += w;
    if (e.pos[r] > 1) codeCost[e.codeOf[r]] += w * select;
  }

  a.rates = all.Finish();
  const double covered = all.coveredWeight;
  for (size_t k = 0; k < 128; ++k) {
    a.keyUse[k] = all.codeKeys > 0 ? keyWeight[k] / all.codeKeys : 0;
    if (keyboard.finger[k] >= 0) a.fingerLoad[keyboard.finger[k]] += a.keyUse[k];
  }
  a.codeLengths.resize(lengthWeight.size());
  for (size_t k = 0; k < lengthWeight.size(); ++k) {
    a.codeLengths[k] = covered > 0 ? lengthWeight[k] / covered : 0;
  }
  uint64_t first = 1;
  for (size_t b = 0; b < bands.size(); ++b) {
    a.bands.push_back({first, kBandEnds[b], bands[b].Finish()});
    first = kBandEnds[b] + 1;
  }

  // The costly codes, with their rows and where a loser could move.
  std::vector<uint32_t> costly;
  for (uint32_t c = 0; c < codeCost.size(); ++c) {
    if (codeCost[c] > 0) costly.push_back(c);
  }
  a.costlyCodeCount = costly.size();
  std::stable_sort(costly.begin(), costly.end(),
                   [&](uint32_t x, uint32_t y) { return codeCost[x] > codeCost[y]; });
  if (costly.size() > kCostlyCodesKept) costly.resize(kCostlyCodesKept);
  if (!costly.empty()) {
    std::u16string alphabet;
    std::vector<bool> seen(128);
    for (const TableRow& row : rows) {
      for (char16_t key : row.code()) {
        if (key > 0x20 && key < 128 && !seen[key]) seen[key] = true;
      }
    }
    for (char16_t k = 0; k < 128; ++k) {
      if (seen[k]) alphabet += k;
    }
    TextIndex codes(e.firstRow.size());
    auto codeText = [&](uint32_t c) { return rows[e.firstRow[c]].code(); };
    for (uint32_t c = 0; c < e.firstRow.size(); ++c) codes.Insert(codeText(c), c, codeText);
    std::vector<std::optional<std::vector<std::u16string>>> freeByLength(e.maxLength + 2);
    // Each kept code's rows, in table order, in one pass.
    std::vector<uint32_t> slotOf(e.firstRow.size(), kNone);
    for (uint32_t k = 0; k < costly.size(); ++k) slotOf[costly[k]] = k;
    a.costlyCodes.resize(costly.size());
    for (uint32_t r = 0; r < rows.size(); ++r) {
      if (const uint32_t k = slotOf[e.codeOf[r]]; k != kNone) {
        a.costlyCodes[k].rows.push_back(
            {std::u16string(rows[r].entry()),
             e.listOf[r] == kNone ? 0.0 : list.entries[e.listOf[r]].weight});
      }
    }
    for (uint32_t k = 0; k < costly.size(); ++k) {
      const uint32_t c = costly[k];
      CostlyCode& cc = a.costlyCodes[k];
      cc.code = rows[e.firstRow[c]].code();
      cc.cost = covered > 0 ? codeCost[c] / covered : 0;
      const size_t length = std::min<size_t>(cc.code.size(), freeByLength.size() - 1);
      if (!freeByLength[length]) {
        freeByLength[length] = FreeCodes(length, alphabet, codes, rows, e, times);
      }
      cc.freeCodes = *freeByLength[length];
    }
  }
  return out;
}

}  // namespace

Analysis AnalyzeRows(const std::vector<TableRow>& rows, const WeightList& list,
                     const AnalysisOptions& options) {
  return Summarise(rows, list, options, Evaluate(rows, list, options)).analysis;
}

Compared CompareRows(const std::vector<TableRow>& oldRows, const std::vector<TableRow>& newRows,
                     const WeightList& list, const AnalysisOptions& options) {
  Compared compared;
  Comparison& comparison = compared.against;
  const Evaluation before = Evaluate(oldRows, list, options);
  const Evaluation after = Evaluate(newRows, list, options);
  Summary oldSummary = Summarise(oldRows, list, options, before);
  Summary newSummary = Summarise(newRows, list, options, after);
  comparison.old = std::move(oldSummary.analysis);
  compared.now = std::move(newSummary.analysis);
  const std::vector<uint32_t>& oldKeys = oldSummary.keys;
  const std::vector<uint32_t>& newKeys = newSummary.keys;
  double covered = 0;
  for (uint32_t s = 0; s < after.evaluated.size(); ++s) {
    if (newKeys[s] != kNone) covered += list.entries[after.evaluated[s]].weight;
  }
  // S is the list's alone, so both evaluations hold the same entries in the
  // same order; only entries both tables cover have a change of keys.
  std::vector<EntryChange>& changes = comparison.changes;
  for (uint32_t s = 0; s < after.evaluated.size() && covered > 0; ++s) {
    if (oldKeys[s] == kNone || newKeys[s] == kNone || oldKeys[s] == newKeys[s]) continue;
    const WeightEntry& entry = list.entries[after.evaluated[s]];
    changes.push_back({entry.entry, entry.weight / covered, static_cast<double>(oldKeys[s]),
                       static_cast<double>(newKeys[s])});
  }
  auto weighs = [](const EntryChange& c) { return c.p * std::abs(c.newKeys - c.oldKeys); };
  std::stable_sort(changes.begin(), changes.end(), [&](const EntryChange& x, const EntryChange& y) {
    return weighs(x) > weighs(y);
  });
  if (changes.size() > kChangesKept) changes.resize(kChangesKept);
  return compared;
}

// ---- Reports -------------------------------------------------------------

// GCC 12 warns falsely about "literal" + std::string (its bug 105329).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace {

std::string Number(double v) {
  if (!std::isfinite(v)) return "0";
  char buffer[32];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6);
  return error == std::errc() ? std::string(buffer, end) : "0";
}

std::string Percent(double share) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f%%", 100 * share);
  return buffer;
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

std::string JsonString(std::u16string_view text) {
  std::string out;
  AppendJsonString(out, Utf16ToUtf8(text));
  return out;
}

struct Figure {
  const char* json;
  const char* text;
  double Rates::*field;
  bool share;
};

constexpr Figure kFigures[] = {
    {"coverage", "coverage", &Rates::coverage, true},
    {"selection_rate", "selection rate", &Rates::selectionRate, true},
    {"selection_rate_sorted", "selection rate, rows sorted by weight", &Rates::selectionRateSorted,
     true},
    {"keys_per_char", "keys per character", &Rates::keysPerChar, false},
    {"code_length_per_char", "code length per character", &Rates::codeLengthPerChar, false},
    {"pair_time", "pair time", &Rates::pairTime, false},
    {"pair_time_coverage", "pair time coverage", &Rates::pairTimeCoverage, true},
    {"hand_alternation", "hand alternation", &Rates::handAlternation, true},
    {"same_finger", "same finger", &Rates::sameFinger, true},
    {"same_key", "same key", &Rates::sameKey, true},
};

constexpr const char* kFingerNames[8] = {"left little", "left ring",   "left middle",
                                         "left index",  "right index", "right middle",
                                         "right ring",  "right little"};

void AppendRatesJson(std::string& out, const Rates& r) {
  out +=
      "\"evaluated\":" + std::to_string(r.evaluated) + ",\"covered\":" + std::to_string(r.covered);
  for (const Figure& f : kFigures) out += std::string(",\"") + f.json + "\":" + Number(r.*f.field);
}

void AppendAnalysisJson(std::string& out, const Analysis& a) {
  out += "\"source\":";
  AppendJsonString(out, a.source);
  out += ",\"source_entries\":" + std::to_string(a.sourceEntries) +
         ",\"source_share_covered\":" + Number(a.sourceShareCovered) +
         ",\"max_length\":" + std::to_string(a.maxLength) + ",";
  AppendRatesJson(out, a.rates);
  out += ",\"key_use\":{";
  bool first = true;
  for (size_t k = 0; k < 128; ++k) {
    if (a.keyUse[k] <= 0) continue;
    if (!first) out += ',';
    first = false;
    AppendJsonString(out, std::string(1, static_cast<char>(k)));
    out += ":" + Number(a.keyUse[k]);
  }
  out += "},\"finger_load\":[";
  for (size_t f = 0; f < a.fingerLoad.size(); ++f) out += (f ? "," : "") + Number(a.fingerLoad[f]);
  out += "],\"code_lengths\":[";
  for (size_t k = 0; k < a.codeLengths.size(); ++k) {
    out += (k ? "," : "") + Number(a.codeLengths[k]);
  }
  out += "],\"bands\":[";
  for (size_t b = 0; b < a.bands.size(); ++b) {
    out += b ? ",{" : "{";
    out += "\"first_rank\":" + std::to_string(a.bands[b].firstRank) + ",\"last_rank\":" +
           (a.bands[b].lastRank ? std::to_string(a.bands[b].lastRank) : "null") + ",";
    AppendRatesJson(out, a.bands[b].rates);
    out += "}";
  }
  out += "],\"costly_code_count\":" + std::to_string(a.costlyCodeCount) + ",\"costly_codes\":[";
  for (size_t c = 0; c < a.costlyCodes.size(); ++c) {
    const CostlyCode& cc = a.costlyCodes[c];
    out += (c ? ",{\"code\":" : "{\"code\":") + JsonString(cc.code) +
           ",\"cost\":" + Number(cc.cost) + ",\"rows\":[";
    for (size_t r = 0; r < cc.rows.size(); ++r) {
      out += (r ? ",{\"entry\":" : "{\"entry\":") + JsonString(cc.rows[r].entry) +
             ",\"weight\":" + Number(cc.rows[r].weight) + "}";
    }
    out += "],\"free_codes\":[";
    for (size_t k = 0; k < cc.freeCodes.size(); ++k) {
      out += (k ? "," : "") + JsonString(cc.freeCodes[k]);
    }
    out += "]}";
  }
  out += "],\"missing_count\":" + std::to_string(a.missing.size()) + ",\"missing\":[";
  for (size_t k = 0; k < a.missing.size() && k < kMissingListed; ++k) {
    out += (k ? ",{\"entry\":" : "{\"entry\":") + JsonString(a.missing[k].entry) +
           ",\"weight\":" + Number(a.missing[k].weight) + "}";
  }
  out += "]";
}

std::string Key(char16_t k) { return k == u' ' ? "space" : std::string(1, static_cast<char>(k)); }

}  // namespace

std::string AnalysisJson(const Analysis& analysis, const Comparison* against) {
  std::string out = "{";
  AppendAnalysisJson(out, analysis);
  if (against) {
    out += ",\"against\":{";
    AppendAnalysisJson(out, against->old);
    out += ",\"change\":{";
    for (const Figure& f : kFigures) {
      out += std::string(&f == kFigures ? "\"" : ",\"") + f.json +
             "\":" + Number(analysis.rates.*f.field - against->old.rates.*f.field);
    }
    out += "},\"entries\":[";
    for (size_t k = 0; k < against->changes.size(); ++k) {
      const EntryChange& c = against->changes[k];
      out += (k ? ",{\"entry\":" : "{\"entry\":") + JsonString(c.entry) + ",\"p\":" + Number(c.p) +
             ",\"old_keys\":" + Number(c.oldKeys) + ",\"new_keys\":" + Number(c.newKeys) + "}";
    }
    out += "]}";
  }
  out += "}\n";
  return out;
}

std::string AnalysisText(const Analysis& a, const Comparison* against) {
  std::string out;
  out += "source: " + a.source + ", " + std::to_string(a.sourceEntries) + " entries, " +
         Percent(a.sourceShareCovered) + " of its weight in the table\n";
  out += "evaluated: " + std::to_string(a.rates.evaluated) + " entries, covered " +
         std::to_string(a.rates.covered) + "; longest code " + std::to_string(a.maxLength) + "\n";
  if (against) {
    out += "against: " + std::to_string(against->old.rates.covered) + " entries covered\n";
  }
  out += "\n";
  auto show = [](const Figure& f, double v) { return f.share ? Percent(v) : Number(v); };
  for (const Figure& f : kFigures) {
    std::string line = std::string(f.text) + ":";
    line.resize(std::max<size_t>(line.size() + 1, 40), ' ');
    line += show(f, a.rates.*f.field);
    if (against) {
      const double old = against->old.rates.*f.field;
      line += "  (was " + show(f, old) + ", change " +
              (f.share ? Percent(a.rates.*f.field - old) : Number(a.rates.*f.field - old)) + ")";
    }
    out += line + "\n";
  }
  out += "\nkey use:";
  std::vector<char16_t> keys;
  for (char16_t k = 0; k < 128; ++k) {
    if (a.keyUse[k] > 0) keys.push_back(k);
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [&](char16_t x, char16_t y) { return a.keyUse[x] > a.keyUse[y]; });
  for (char16_t k : keys) out += " " + Key(k) + " " + Percent(a.keyUse[k]);
  out += "\nfinger load:";
  for (size_t f = 0; f < 8; ++f)
    out += std::string(f ? ", " : " ") + kFingerNames[f] + " " + Percent(a.fingerLoad[f]);
  out += "\ncode lengths:";
  for (size_t k = 1; k < a.codeLengths.size(); ++k) {
    out += " " + std::to_string(k) + ": " + Percent(a.codeLengths[k]);
  }
  out += "\n\nranks        evaluated  covered  coverage  selection  keys/char  pair time\n";
  for (const Band& b : a.bands) {
    char line[160];
    const std::string ranks = std::to_string(b.firstRank) + "-" +
                              (b.lastRank ? std::to_string(b.lastRank) : std::string());
    std::snprintf(line, sizeof line, "%-12s %9llu %8llu %9s %10s %10s %10s\n", ranks.c_str(),
                  static_cast<unsigned long long>(b.rates.evaluated),
                  static_cast<unsigned long long>(b.rates.covered),
                  Percent(b.rates.coverage).c_str(), Percent(b.rates.selectionRate).c_str(),
                  Number(b.rates.keysPerChar).c_str(), Number(b.rates.pairTime).c_str());
    out += line;
  }
  out += "\ncostly codes (" + std::to_string(a.costlyCodeCount) + "):\n";
  for (size_t c = 0; c < a.costlyCodes.size() && c < kCostlyCodesShown; ++c) {
    const CostlyCode& cc = a.costlyCodes[c];
    out += "  " + Utf16ToUtf8(cc.code) + "  " + Percent(cc.cost) + ":";
    for (const CostlyRow& row : cc.rows)
      out += " " + Utf16ToUtf8(row.entry) + " " + Number(row.weight);
    if (!cc.freeCodes.empty()) {
      out += "; free:";
      for (const std::u16string& code : cc.freeCodes) out += " " + Utf16ToUtf8(code);
    }
    out += "\n";
  }
  out += "\nmissing (" + std::to_string(a.missing.size()) + "):";
  for (size_t k = 0; k < a.missing.size() && k < kMissingShown; ++k) {
    out += " " + Utf16ToUtf8(a.missing[k].entry) + " " + Number(a.missing[k].weight);
  }
  out += "\n";
  if (against && !against->changes.empty()) {
    out += "\nheaviest changes of keys (entry, p, keys before -> after):\n";
    for (const EntryChange& c : against->changes) {
      out += "  " + Utf16ToUtf8(c.entry) + "  " + Number(c.p) + "  " + Number(c.oldKeys) + " -> " +
             Number(c.newKeys) + "\n";
    }
  }
  return out;
}

}  // namespace mirel::analysis
