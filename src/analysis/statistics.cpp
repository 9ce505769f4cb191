#include "analysis/statistics.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "platform/utf16.h"
#include "store/balanced_tree.h"
#include "store/text_file.h"

namespace mirel {
namespace {

// Runs are detected on the first 127 units, as the report always compared.
constexpr size_t kCompared = 127;
constexpr size_t kElementLimit = 127;

int LengthClass(uint64_t length) {
  if (length == 0) return 0;
  return length >= 5 ? TableStatistics::kMore : static_cast<int>(length);
}

// Rows sharing a key (its first 127 units) each count in their class; a key
// held by one row counts nothing. Empty keys never count. Open addressing
// over the keys themselves: a node per key would cost more than the sorts
// this replaces.
class RunCounter {
 public:
  explicit RunCounter(size_t rows) : slots_(rows + rows / 2 + 16) {}

  // The first half of adding a key: its hash and home slot, which it asks
  // the processor to fetch while other rows are handled.
  struct Pending {
    std::u16string_view key;
    uint64_t packed;
    uint32_t hash;
    uint32_t home;
  };
  Pending Prepare(std::u16string_view key) const {
    key = key.substr(0, kCompared);
    uint32_t h = 2166136261u;
    uint64_t packed = 0;
    for (size_t k = 0; k < key.size(); ++k) {
      h = (h ^ key[k]) * 16777619u;
      if (k < 4) packed |= uint64_t{key[k]} << (16 * k);
    }
    const auto home = static_cast<uint32_t>((uint64_t{h * 0x9E3779B1u} * slots_.size()) >> 32);
    __builtin_prefetch(&slots_[home]);
    return Pending{key, packed, h, home};
  }

  void Add(const Pending& p, int lengthClass) {
    if (p.key.empty()) return;
    // Keys of up to four units are their packed units (no unit is 0);
    // longer ones are compared by their text.
    const bool isLong = p.key.size() > 4;
    for (size_t at = p.home;; at = at + 1 == slots_.size() ? 0 : at + 1) {
      Slot& slot = slots_[at];
      if (slot.rows == 0) {
        slot = Slot{p.packed, p.hash, 1, static_cast<uint32_t>(lengthClass), isLong};
        if (isLong) longKeys_.emplace(static_cast<uint32_t>(at), p.key);
        return;
      }
      if (slot.hash == p.hash && slot.packed == p.packed && slot.isLong == isLong &&
          (!isLong || longKeys_.at(static_cast<uint32_t>(at)) == p.key)) {
        ++slot.rows;
        slot.lengthClass = static_cast<uint32_t>(lengthClass);
        return;
      }
    }
  }

  void AddTo(std::array<uint32_t, 6>& counts) const {
    for (const Slot& slot : slots_) {
      if (slot.rows >= 2) counts[slot.lengthClass] += slot.rows;
    }
  }

 private:
  struct Slot {
    uint64_t packed = 0;
    uint32_t hash = 0;
    uint32_t rows : 28 = 0;
    uint32_t lengthClass : 3 = 0;
    uint32_t isLong : 1 = 0;
  };
  static_assert(sizeof(Slot) == 16);
  std::vector<Slot> slots_;
  std::unordered_map<uint32_t, std::u16string_view> longKeys_;  // by slot; few keys are long
};

// The code elements as a pass in code order meets them: when more than 127
// distinct units occur, those whose first code (in unit order) comes first.
template <class CodeAt>
std::u16string ElementSet(size_t count, CodeAt codeAt, size_t distinct) {
  std::vector<char16_t> chosen;
  if (distinct <= kElementLimit) {
    std::vector<bool> seen(65536);
    for (size_t k = 0; k < count; ++k) {
      for (char16_t u : codeAt(k)) {
        if (!seen[u]) chosen.push_back(u);
        seen[u] = true;
      }
    }
  } else {
    struct First {
      std::u16string_view code;
      size_t position = 0;
      bool seen = false;
    };
    std::vector<First> first(65536);
    for (size_t row = 0; row < count; ++row) {
      const std::u16string_view code = codeAt(row);
      for (size_t k = 0; k < code.size(); ++k) {
        First& f = first[code[k]];
        if (!f.seen || CompareUnits(code, f.code) < 0) f = First{code, k, true};
      }
    }
    for (size_t u = 0; u < first.size(); ++u) {
      if (first[u].seen) chosen.push_back(static_cast<char16_t>(u));
    }
    std::sort(chosen.begin(), chosen.end(), [&](char16_t a, char16_t b) {
      int c = CompareUnits(first[a].code, first[b].code);
      return c != 0 ? c < 0 : first[a].position < first[b].position;
    });
    chosen.resize(kElementLimit);
  }
  std::sort(chosen.begin(), chosen.end());
  return std::u16string(chosen.begin(), chosen.end());
}

double Percent(double part, double whole) { return whole == 0 ? 0.0 : part / whole * 100.0; }

// Rows come from an accessor, so the table's rows are never copied into a
// list of their own.
template <class RowAt>
TableStatistics Measure(size_t rowCount, RowAt rowAt) {
  TableStatistics s;
  RunCounter codeRuns(rowCount), entryRuns(rowCount);
  std::vector<bool> seen(65536);
  size_t distinct = 0;
  // Rows go in small batches: the hash slots of a batch are fetched from
  // memory together instead of one miss after another.
  constexpr size_t kBatch = 16;
  struct Prepared {
    RunCounter::Pending code, entry;
    int codeClass, entryClass;
  };
  std::array<Prepared, kBatch> batch;
  for (size_t first = 0; first < rowCount; first += kBatch) {
    size_t n = 0;
    for (size_t k = first; k < std::min(rowCount, first + kBatch); ++k) {
      const std::u16string_view row = rowAt(k);
      const size_t tab = row.find(u'\t');
      if (tab == std::u16string_view::npos) continue;
      const std::u16string_view entry = row.substr(0, tab);
      const std::u16string_view code = row.substr(tab + 1);
      const int codeClass = LengthClass(code.size());
      const uint32_t characters = CountCharacters(entry);
      const int entryClass =
          (characters & kMalformedCount) ? TableStatistics::kMore : LengthClass(characters);
      ++s.codes[codeClass];
      ++s.entries[entryClass];
      for (char16_t u : code) {
        ++s.elementCounts[u & 0x7F];
        if (!seen[u]) ++distinct;
        seen[u] = true;
      }
      s.elementTotal += code.size();
      batch[n++] =
          Prepared{codeRuns.Prepare(code), entryRuns.Prepare(entry), codeClass, entryClass};
    }
    for (size_t k = 0; k < n; ++k) {
      codeRuns.Add(batch[k].code, batch[k].codeClass);
      entryRuns.Add(batch[k].entry, batch[k].entryClass);
    }
  }
  codeRuns.AddTo(s.duplicates);
  entryRuns.AddTo(s.redefinitions);
  s.elements = ElementSet(
      rowCount,
      [&](size_t k) {
        const std::u16string_view row = rowAt(k);
        const size_t tab = row.find(u'\t');
        return tab == std::u16string_view::npos ? std::u16string_view() : row.substr(tab + 1);
      },
      distinct);
  return s;
}

}  // namespace

TableStatistics MeasureRows(const std::vector<std::u16string_view>& rows) {
  return Measure(rows.size(), [&](size_t k) { return rows[k]; });
}

TableStatistics MeasureTable(const TableStore& store) {
  return Measure(store.RowCount(),
                 [&](size_t k) { return store.DataRowText(static_cast<uint32_t>(k)); });
}

std::u16string FormatStatisticsReport(const TableStatistics& s) {
  auto sum = [](const std::array<uint32_t, 6>& counts) {
    uint64_t total = 0;
    for (int c = 1; c <= TableStatistics::kMore; ++c) total += counts[c];
    return static_cast<double>(total);
  };
  const double e = sum(s.codes), d = sum(s.duplicates), r = sum(s.redefinitions);
  const uint32_t k = static_cast<uint32_t>(s.elements.size());
  auto n = [](uint64_t v) { return static_cast<long long>(v); };
  const std::u16string_view separator = u"-----------------------------------\r\n";
  std::u16string out;
  out += u"--------------------统计信息开始------------------\r\n\r\n";
  AppendFormatted(out, u"编码总数:%d 个\r\n", {n(e)});
  AppendFormatted(out, u"重码总数：%d个，占编码总数的%f%%。\r\n", {n(d), Percent(d, e)});
  AppendFormatted(out, u"码元集总数:%d 个，所有码元：%s\r\n",
                  {n(k), std::u16string_view(s.elements)});
  out += u"各码元占用率统计如下：\r\n";
  for (int unit = 0; unit < 128; ++unit) {
    if (s.elementCounts[unit] == 0) continue;
    AppendFormatted(out, u"编码 %c 出现次数 %d ，占码表编码字符总数的 %f%%。\r\n",
                    {static_cast<char16_t>(unit), n(s.elementCounts[unit]),
                     Percent(s.elementCounts[unit], static_cast<double>(s.elementTotal))});
  }
  out += separator;
  uint32_t power = 1;  // K to the power n, in 32-bit arithmetic
  for (int keys = 1; keys <= 4; ++keys) {
    power *= k;
    const double unique = static_cast<double>(s.codes[keys] - s.duplicates[keys]);
    AppendFormatted(out, u"%d键编码总数:%d个，占编码总数的%f%%，码元空间利用率：%f%%\r\n",
                    {n(keys), n(s.codes[keys]), Percent(s.codes[keys], e),
                     power == 0 ? 0.0 : unique * 100 / power});
  }
  AppendFormatted(out, u"更多键编码总数:%d个，占编码总数的%f%%，码元空间利用率无法统计.\r\n",
                  {n(s.codes[5]), Percent(s.codes[5], e)});
  out += separator;
  for (int keys = 1; keys <= 4; ++keys) {
    AppendFormatted(
        out, u"%d键重码数:%d个，占%d键编码总数的%f%%，占重码总数的%f%%，占编码总数的%f%%\r\n",
        {n(keys), n(s.duplicates[keys]), n(keys), Percent(s.duplicates[keys], s.codes[keys]),
         Percent(s.duplicates[keys], d), Percent(s.duplicates[keys], e)});
  }
  AppendFormatted(out,
                  u"多键重码数:%d个，占多键编码总数的%f%%，占重码总数的%f%%，占编码总数的%f%%\r\n",
                  {n(s.duplicates[5]), Percent(s.duplicates[5], s.codes[5]),
                   Percent(s.duplicates[5], d), Percent(s.duplicates[5], e)});
  out += separator;
  const std::array<const char16_t*, 6> entryLines = {nullptr,
                                                     u"单字数:%d个，占编码总数的%f%%\r\n",
                                                     u"二字词数:%d个，占编码总数的%f%%\r\n",
                                                     u"三字词数:%d个，占编码总数的%f%%\r\n",
                                                     u"四字词数:%d个，占编码总数的%f%%\r\n",
                                                     u"多字词数:%d个，占编码总数的%f%%\r\n"};
  for (int c = 1; c <= 5; ++c) {
    AppendFormatted(out, entryLines[c], {n(s.entries[c]), Percent(s.entries[c], e)});
  }
  out += separator;
  AppendFormatted(out, u"相同词条编码重定义(容错码)总数：%d个，占编码总数的%f%%，其中：\r\n",
                  {n(r), Percent(r, e)});
  const std::array<const char16_t*, 6> redefinitionLines = {
      nullptr,
      u"单字编码重定义数:%d个，占重定义总数的%f%%，占编码总数的%f%%\r\n",
      u"二字词编码重定义数:%d个，占重定义总数的%f%%，占编码总数的%f%%\r\n",
      u"三字词编码重定义数:%d个，占重定义总数的%f%%，占编码总数的%f%%\r\n",
      u"四字词编码重定义数:%d个，占重定义总数的%f%%，占编码总数的%f%%\r\n",
      u"多字词编码重定义数:%d个，占重定义总数的%f%%，占编码总数的%f%%\r\n"};
  for (int c = 1; c <= 5; ++c) {
    AppendFormatted(
        out, redefinitionLines[c],
        {n(s.redefinitions[c]), Percent(s.redefinitions[c], r), Percent(s.redefinitions[c], e)});
  }
  out += u"\r\n\r\n--------------------统计信息结束------------------\r\n\r\n";
  return out;
}

Status WriteStatisticsReport(const TableStore& store, const std::filesystem::path& target) try {
  if (!store.IsOpen()) return Status::InvalidArgument(target.string(), "no table is open");
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(store.fs(), target);
  if (!writer.IsOk()) return writer.status();
  writer.value()->WriteBom();
  writer.value()->Write(FormatStatisticsReport(MeasureTable(store)));
  return writer.value()->Commit();
} catch (const std::bad_alloc&) {
  return Status::NoMemory(target.string());
}

}  // namespace mirel
