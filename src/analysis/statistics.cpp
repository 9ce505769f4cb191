#include "analysis/statistics.h"

#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "platform/hash_index.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/utf16.h"
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
// held by one row counts nothing. Empty keys never count. A key's class
// follows from the key itself: keys that differ only past 127 units are all
// of the longest class.
//
// Slots of twelve bytes, the least a table of millions of keys can take: a
// key of up to four units is kept in its slot, a longer one by the number of
// the first row that holds it, with its whole hash, and read from the table
// only when the hashes agree (never to place it again on growth, which would
// read rows all over the table); a row count takes 24 bits, larger counts go
// on in a map. The slots are split into 64 segments that grow one at a time,
// so the table stays near its fill and never holds two copies of itself.
template <class KeyAt>
class RunCounter {
 public:
  explicit RunCounter(KeyAt keyAt) : index_(Policy{keyAt}, kFirstSlots) {}

  // The first half of adding a key (already cut to 127 units): its hash, and
  // its home slot on its way into the cache while other rows are read.
  HashProbe Prepare(std::u16string_view key) const { return index_.Prepare(key); }

  void Add(uint32_t row, const HashProbe& p) {
    if (p.key.empty()) return;
    const bool inlined = p.key.size() <= kPackedUnits;
    // Rows in code order bring the same long key again and again: the last
    // one is compared first, in its own text, which is still in the cache.
    if (!inlined && lastSlot_ != nullptr && p.key == lastKey_) {
      Count(*lastSlot_);
      return;
    }
    const auto [slot, fresh] = index_.Insert(p, [&](Slot& s) {
      const uint64_t id = inlined ? p.packed : uint64_t{p.hash} << 32 | row;
      s = Slot{static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), Policy::TagOf(p) | 1};
    });
    if (!fresh) Count(*slot);
    lastKey_ = p.key;
    lastSlot_ = slot;
  }

  template <class ClassOf>
  void AddTo(std::array<uint32_t, 6>& counts, ClassOf classOf) const {
    index_.ForEachSlot([&](const Slot& slot) {
      uint64_t rows = slot.meta & kCountMask;
      if (rows < 2) return;
      if (rows == kCountMask) {
        auto more = overflow_.find(std::make_pair(slot.meta & kMetaMask, slot.Id()));
        if (more != overflow_.end()) rows += more->second;
      }
      char16_t buffer[kPackedUnits];
      counts[classOf(index_.policy().KeyOf(slot, buffer))] += static_cast<uint32_t>(rows);
    });
  }

 private:
  struct Slot {
    uint32_t low = 0, high = 0;  // the packed key, or the first row that holds it and the hash
    uint32_t meta = 0;           // 0 when empty; else tag, inline flag and row count
    uint64_t Id() const { return uint64_t{high} << 32 | low; }
  };
  static_assert(sizeof(Slot) == 12);
  static constexpr uint32_t kCountMask = 0x00FFFFFFu;
  static constexpr uint32_t kInline = 0x80000000u;
  static constexpr uint32_t kTagMask = 0x7F000000u;
  static constexpr uint32_t kMetaMask = kInline | kTagMask;
  static constexpr size_t kFirstSlots = 64;

  // Seven bits of the hash in the slot spare most long keys a read of the
  // table; at most four fifths full, growing by half, to stay small.
  struct Policy {
    using Slot = RunCounter::Slot;
    KeyAt keyAt;
    static bool IsEmpty(const Slot& slot) { return slot.meta == 0; }
    static uint32_t TagOf(const HashProbe& p) {
      return ((p.hash << 24) & kTagMask) | (p.key.size() <= kPackedUnits ? kInline : 0);
    }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      if (((slot.meta ^ (p.hash << 24)) & kTagMask) != 0) return false;
      const bool inlined = p.key.size() <= kPackedUnits;
      if (inlined != ((slot.meta & kInline) != 0)) return false;
      return inlined ? slot.Id() == p.packed : slot.high == p.hash && keyAt(slot.low) == p.key;
    }
    // No unit is 0, so the packed units tell the key's length.
    std::u16string_view KeyOf(const Slot& slot, char16_t (&buffer)[kPackedUnits]) const {
      return slot.meta & kInline ? UnpackUnits(slot.Id(), buffer) : keyAt(slot.low);
    }
    uint32_t HashOf(const Slot& slot) const {
      return slot.meta & kInline ? HashPacked(slot.Id()) : slot.high;
    }
    static bool IsFull(size_t used, size_t size) { return used * 5 > size * 4; }
    static size_t GrownSize(size_t size) { return size + size / 2; }
  };

  void Count(Slot& slot) {
    if ((slot.meta & kCountMask) == kCountMask) {
      ++overflow_[std::make_pair(slot.meta & kMetaMask, slot.Id())];
    } else {
      ++slot.meta;
    }
  }

  HashIndex<Policy, 6> index_;
  std::map<std::pair<uint32_t, uint64_t>, uint64_t> overflow_;  // counts past 2^24 - 1
  std::u16string_view lastKey_;
  Slot* lastSlot_ = nullptr;
};

// The code elements as a pass in code order meets them, when more than 127
// distinct units occur: those whose first code (in unit order) comes first.
template <class CodeAt>
std::u16string ElementSet(size_t count, CodeAt codeAt) {
  std::vector<char16_t> chosen;
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
  std::sort(chosen.begin(), chosen.end());
  return std::u16string(chosen.begin(), chosen.end());
}

constexpr std::u16string_view kSpaceName = u"空格";

double Percent(double part, double whole) { return whole == 0 ? 0.0 : part / whole * 100.0; }

// Rows come from an accessor, so the table's rows are never copied into a
// list of their own.
template <class RowAt>
TableStatistics Measure(size_t rowCount, RowAt rowAt) {
  TableStatistics s;
  auto codeAt = [&](uint32_t row) {
    const std::u16string_view text = rowAt(row);
    return text.substr(text.find(u'\t') + 1).substr(0, kCompared);
  };
  auto entryAt = [&](uint32_t row) {
    const std::u16string_view text = rowAt(row);
    return text.substr(0, std::min(text.find(u'\t'), kCompared));
  };
  RunCounter<decltype(codeAt)> codeRuns(codeAt);
  RunCounter<decltype(entryAt)> entryRuns(entryAt);
  std::vector<uint8_t> seen(65536);
  size_t distinct = 0;
  // Rows go in small batches: the hash slots of a batch are fetched from
  // memory together instead of one miss after another. The pass is written
  // out here rather than left to PrefetchedPass, which the compiler would not
  // inline with this much work per row.
  constexpr size_t kBatch = 16;
  struct Prepared {
    uint32_t row;
    HashProbe code, entry;
  };
  // On two cores one takes the codes while the other takes the entries;
  // each counter still meets its keys in row order.
  auto pass = [&](bool withCodes, bool withEntries) {
    std::array<Prepared, kBatch> batch;
    for (size_t first = 0; first < rowCount; first += kBatch) {
      size_t n = 0;
      for (size_t k = first; k < std::min(rowCount, first + kBatch); ++k) {
        const std::u16string_view row = rowAt(k);
        const size_t tab = row.find(u'\t');
        if (tab == std::u16string_view::npos) continue;
        const std::u16string_view entry = row.substr(0, tab);
        const std::u16string_view code = row.substr(tab + 1);
        if (withCodes) {
          ++s.codes[LengthClass(code.size())];
          for (char16_t unit : code) {
            ++s.elementCounts[unit & 0x7F];
            distinct += seen[unit] == 0;
            seen[unit] = 1;
          }
          s.elementTotal += code.size();
        }
        if (withEntries) {
          const uint32_t characters = CountCharacters(entry);
          ++s.entries[(characters & kMalformedCount) ? TableStatistics::kMore
                                                     : LengthClass(characters)];
        }
        batch[n++] =
            Prepared{static_cast<uint32_t>(k),
                     withCodes ? codeRuns.Prepare(code.substr(0, kCompared)) : HashProbe{},
                     withEntries ? entryRuns.Prepare(entry.substr(0, kCompared)) : HashProbe{}};
      }
      for (size_t k = 0; k < n; ++k) {
        if (withCodes) codeRuns.Add(batch[k].row, batch[k].code);
        if (withEntries) entryRuns.Add(batch[k].row, batch[k].entry);
      }
    }
  };
  constexpr size_t kSplitRows = 200000;
  const bool split = rowCount >= kSplitRows && UsableCores() >= 2;
  RunBoth(
      split, [&] { pass(true, !split); },
      [&] {
        if (split) pass(false, true);
      });
  codeRuns.AddTo(s.duplicates, [](std::u16string_view key) { return LengthClass(key.size()); });
  entryRuns.AddTo(s.redefinitions, [](std::u16string_view key) {
    const uint32_t characters = CountCharacters(key);
    return (characters & kMalformedCount) ? TableStatistics::kMore : LengthClass(characters);
  });
  if (distinct <= kElementLimit) {
    for (size_t u = 0; u < seen.size(); ++u) {
      if (seen[u]) s.elements += static_cast<char16_t>(u);
    }
  } else {
    s.elements = ElementSet(rowCount, [&](size_t k) {
      const std::u16string_view row = rowAt(k);
      const size_t tab = row.find(u'\t');
      return tab == std::u16string_view::npos ? std::u16string_view() : row.substr(tab + 1);
    });
  }
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
  // A space in a code would read as a gap in the report: it is named.
  std::u16string elements;
  for (char16_t unit : s.elements) {
    if (unit == u' ') {
      elements += kSpaceName;
    } else {
      elements += unit;
    }
  }
  AppendFormatted(out, u"码元集总数:%d 个，所有码元：%s\r\n",
                  {n(k), std::u16string_view(elements)});
  out += u"各码元占用率统计如下：\r\n";
  for (int unit = 0; unit < 128; ++unit) {
    if (s.elementCounts[unit] == 0) continue;
    const auto symbol = static_cast<char16_t>(unit);
    const std::u16string_view shown = unit == ' ' ? kSpaceName : std::u16string_view(&symbol, 1);
    AppendFormatted(out, u"编码 %s 出现次数 %d ，占码表编码字符总数的 %f%%。\r\n",
                    {shown, n(s.elementCounts[unit]),
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
  if (!store.IsOpen()) return Status::InvalidArgument(target.string(), Tr("no table is open"));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(store.fs(), target);
  if (!writer.IsOk()) return writer.status();
  writer.value()->WriteBom();
  writer.value()->Write(FormatStatisticsReport(MeasureTable(store)));
  return writer.value()->Commit();
} catch (const std::bad_alloc&) {
  return Status::NoMemory(target.string());
}

}  // namespace mirel
