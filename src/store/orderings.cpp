#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "platform/hash_index.h"
#include "platform/large_buffer.h"
#include "platform/lines.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/utf16.h"
#include "store/table_store.h"
#include "store/text_file.h"

namespace mirel {
namespace {

// A row in a sort. It keeps where its compared text starts, so a deeper pass
// reads the next units straight away instead of finding the row's TAB again.
struct SortItem {
  uint64_t key;     // the units under comparison, packed; 0 past the text's end
  uint32_t offset;  // the row's byte offset: the result, and the last tie-break
  uint32_t start;   // unit index of the compared text; bit 31: it goes on past the key
};

constexpr uint32_t kGoesOn = 0x80000000u;
constexpr uint32_t kStartMask = 0x7FFFFFFFu;

bool ByKey(const SortItem& a, const SortItem& b) {
  return a.key != b.key ? a.key < b.key : a.offset < b.offset;
}

// Moves each item straight to its bucket by the key byte at `shift`,
// swapping out the one there; `ends` gets the buckets' ends.
void MoveIntoBuckets(SortItem* items, int shift, const size_t (&counts)[256], size_t (&ends)[256]) {
  size_t next[256];
  for (size_t d = 0, at = 0; d < 256; ++d) {
    next[d] = at;
    at += counts[d];
    ends[d] = at;
  }
  for (size_t d = 0; d < 256; ++d) {
    while (next[d] < ends[d]) {
      SortItem item = items[next[d]];
      size_t to = (item.key >> shift) & 0xFF;
      while (to != d) {
        std::swap(item, items[next[to]++]);
        to = (item.key >> shift) & 0xFF;
      }
      items[next[d]++] = item;
    }
  }
}

// Sorts items by key, then text position: in place, a byte of the key at a
// time from the top (a second copy of the items would not fit the memory a
// table may take), small ranges and runs of equal keys by comparison.
void RadixSort(SortItem* items, size_t n, int byte = 7) {
  constexpr size_t kSmall = 64;
  while (n > kSmall && byte >= 0) {
    const int shift = 8 * byte;
    size_t counts[256] = {};
    for (size_t k = 0; k < n; ++k) ++counts[(items[k].key >> shift) & 0xFF];
    if (counts[(items[0].key >> shift) & 0xFF] == n) {
      --byte;  // one value in this byte: nothing to move
      continue;
    }
    size_t ends[256];
    MoveIntoBuckets(items, shift, counts, ends);
    for (size_t d = 0, at = 0; d < 256; at += counts[d], ++d) {
      if (counts[d] > 1) RadixSort(items + at, counts[d], byte - 1);
    }
    return;
  }
  if (byte >= 0) {
    std::sort(items, items + n, ByKey);
  } else if (!std::is_sorted(items, items + n, ByKey)) {
    // Equal keys: the moves above did not keep text position order.
    std::sort(items, items + n, ByKey);
  }
}

// Moves the items into buckets by the highest key byte in which they differ,
// as RadixSort's first pass does, and returns that byte with the buckets'
// ends (-1, nothing moved, when every key is equal). The buckets are then
// sorted apart.
int PartitionTop(SortItem* items, size_t n, size_t (&ends)[256]) {
  for (int byte = 7; byte >= 0; --byte) {
    const int shift = 8 * byte;
    size_t counts[256] = {};
    for (size_t k = 0; k < n; ++k) ++counts[(items[k].key >> shift) & 0xFF];
    if (counts[(items[0].key >> shift) & 0xFF] == n) continue;
    MoveIntoBuckets(items, shift, counts, ends);
    return byte;
  }
  return -1;
}

// Below this many rows a second thread costs more than it saves.
constexpr uint32_t kSplitRows = 200000;

// Units from `p` packed so that comparing the numbers is unit order; the text
// ends at a NUL (or a TAB, for entries), and missing units are 0, which sorts
// a proper prefix first. `goesOn` tells whether a unit follows the packed ones.
template <bool kEntry>
uint64_t PackFrom(const char16_t* p, int units, bool& goesOn) {
  uint64_t key = 0;
  int k = 0;
  for (; k < units; ++k) {
    const char16_t u = p[k];
    if (u == 0 || (kEntry && u == u'\t')) break;
    key = key << 16 | u;
  }
  goesOn = k == units && p[k] != 0 && !(kEntry && p[k] == u'\t');
  for (; k < units; ++k) key <<= 16;
  return key;
}

uint64_t Clamp16(uint64_t v) { return v < 0xFFFF ? v : 0xFFFF; }

std::u16string_view EntryOf(std::u16string_view row) { return row.substr(0, row.find(u'\t')); }

std::u16string_view CodeOf(std::u16string_view row) {
  size_t tab = row.find(u'\t');
  return tab == std::u16string_view::npos ? std::u16string_view() : row.substr(tab + 1);
}

// Reads an integer the way the C library's wide conversion does, with a
// 32-bit long: white space, a sign, digits; out-of-range values clamp.
int32_t ParseLong32(std::u16string_view s) {
  size_t k = 0;
  while (k < s.size() && (s[k] == u' ' || (s[k] >= u'\t' && s[k] <= u'\r'))) ++k;
  bool negative = false;
  if (k < s.size() && (s[k] == u'+' || s[k] == u'-')) negative = s[k++] == u'-';
  int64_t value = 0;
  for (; k < s.size() && s[k] >= u'0' && s[k] <= u'9'; ++k) {
    value = value * 10 + (s[k] - u'0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// Open-addressing tables sized 1.5 times their entries hold them all without
// growing.
size_t TableSize(size_t entries) { return entries + entries / 2 + 16; }

// The words of a frequency file with their numbers; a word listed twice keeps
// its first number. Open addressing over the file's own text: a million
// lookups in a node-based map or tree are a million cache misses more.
class FrequencyIndex {
 public:
  // Frequency file: word TAB number, one a line. A line without a TAB is
  // left out and counted; it must not become part of the next word, which
  // would then match no entry.
  explicit FrequencyIndex(std::u16string_view text) : index_(Policy{text}, TableSize(Words(text))) {
    LineReader reader(text, {.breaks = LineBreaks::kEach});
    std::u16string_view line;
    size_t tab;
    while (reader.Next(line, tab)) {
      if (tab == std::u16string_view::npos) {
        if (line.find_first_not_of(u" \uFEFF") != std::u16string_view::npos) {
          leftOut_.Add(reader.number());
        }
        continue;
      }
      const int32_t frequency = ParseLong32(line.substr(tab + 1));
      const HashProbe word = MakeProbe(line.substr(0, tab));
      const auto start = static_cast<uint32_t>(line.data() - text.data());
      index_.Insert(word, [&](Slot& slot) {
        slot = Slot{start, static_cast<uint32_t>(tab), frequency, word.hash};
      });
    }
  }

  const LinesWithoutTab& leftOut() const { return leftOut_; }

  HashProbe Prepare(std::u16string_view word) const { return index_.Prepare(word); }

  // 0 for a word the file does not list.
  int32_t Find(const HashProbe& word) const {
    const Slot* slot = index_.Find(word);
    return slot ? slot->frequency : 0;
  }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  // Sixteen bytes: the word is read from the file's text, and its whole hash
  // kept so that most mismatches never reach the text.
  struct Slot {
    uint32_t start = kEmpty;
    uint32_t length = 0;
    int32_t frequency = 0;
    uint32_t hash = 0;
  };
  // Sized for every word up front, so the index never grows in practice.
  struct Policy {
    using Slot = FrequencyIndex::Slot;
    std::u16string_view text;
    static bool IsEmpty(const Slot& slot) { return slot.start == kEmpty; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      return slot.hash == p.hash && text.substr(slot.start, slot.length) == p.key;
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return used * 3 > size * 2; }
    static size_t GrownSize(size_t size) { return size + size / 2; }
  };

  static size_t Words(std::u16string_view text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), u'\t'));
  }

  HashIndex<Policy> index_;
  LinesWithoutTab leftOut_;
};

}  // namespace

// Sorts by the compared text (a row's code or entry), optionally after a rank
// (the code's length, the entry's characters), then by text position. The
// items start in text position order; each pass sorts a range on the next
// four units and hands on the runs that are equal so far and not yet ended,
// so a unit is read about once however long the shared prefixes are.
template <class Field, class FullCompare>
void TableStore::SortByKey(Field field, FullCompare fullCompare) {
  constexpr bool kEntry = Field::kEntry;
  const uint32_t r = RowCount();
  if (r == 0) return;
  uint32_t* offsets = DataOffsets();
  const char16_t* units = reinterpret_cast<const char16_t*>(data_->view());
  LargeArray<SortItem> items(r);
  for (uint32_t k = 0; k < r; ++k) items[k].offset = offsets[k];
  auto byOffset = [](const SortItem& a, const SortItem& b) { return a.offset < b.offset; };
  if (!std::is_sorted(items.begin(), items.end(), byOffset)) {
    std::sort(items.begin(), items.end(), byOffset);
  }
  // A rank takes the key's top unit, leaving three for the text.
  const uint32_t firstUnits = field.ranked ? 3 : 4;
  const bool split = r >= kSplitRows && UsableCores() >= 2;
  auto makeKeys = [&](SortItem* from, SortItem* to) {
    for (SortItem* at = from; at != to; ++at) {
      SortItem& item = *at;
      const char16_t* text = units + item.offset / 2;
      if (!kEntry) {
        while (*text != u'\t' && *text != 0) ++text;
        if (*text == u'\t') ++text;
      }
      bool goesOn = false;
      item.key = PackFrom<kEntry>(text, static_cast<int>(firstUnits), goesOn);
      if (field.ranked) item.key |= Clamp16(field.Rank(text)) << 48;
      item.start = static_cast<uint32_t>(text - units) | (goesOn ? kGoesOn : 0);
    }
  };
  {
    SortItem* half = items.data() + r / 2;
    RunBoth(
        split, [&] { makeKeys(items.data(), half); }, [&] { makeKeys(half, items.data() + r); });
  }

  struct Pending {
    uint32_t first, count, depth;
  };
  // Finishes [first0, first0 + count0), sorted on the first key: each thread
  // keeps its own runs.
  auto finish = [&](uint32_t first0, uint32_t count0) {
    std::vector<Pending> pending;
    std::vector<Pending> clamped;  // equal ranks of 0xFFFF or more: compared whole
    // Hands on the runs of [first, first + count) that share a key and may
    // differ further on.
    auto handOn = [&](uint32_t first, uint32_t count, uint32_t depth) {
      for (uint32_t k = first, end = first + count; k < end;) {
        uint32_t m = k + 1;
        bool goesOn = (items[k].start & kGoesOn) != 0;
        while (m < end && items[m].key == items[k].key) goesOn |= (items[m++].start & kGoesOn) != 0;
        if (m - k >= 2) {
          if (depth == 0 && field.ranked && (items[k].key >> 48) == 0xFFFF) {
            clamped.push_back(Pending{k, m - k, 0});
          } else if (goesOn) {
            pending.push_back(Pending{k, m - k, depth + (depth == 0 ? firstUnits : 4)});
          }
        }
        k = m;
      }
    };
    handOn(first0, count0, 0);
    while (!pending.empty()) {
      const Pending run = pending.back();
      pending.pop_back();
      SortItem* first = items.data() + run.first;
      SortItem* last = first + run.count;
      for (SortItem* item = first; item != last; ++item) {
        bool goesOn = false;
        item->key = PackFrom<kEntry>(units + (item->start & kStartMask) + run.depth, 4, goesOn);
        item->start = (item->start & kStartMask) | (goesOn ? kGoesOn : 0);
      }
      // Equal so far, the run is in text position order; often it stays so.
      if (!std::is_sorted(first, last, ByKey)) RadixSort(first, run.count);
      handOn(run.first, run.count, run.depth);
    }
    if (!clamped.empty()) {
      const char16_t* end = reinterpret_cast<const char16_t*>(data_->view() + data_->size());
      auto rowAt = [&](uint32_t offset) {
        const char16_t* p = DataUnits(offset);
        const char16_t* q = p;
        while (q < end && *q != 0) ++q;
        return std::u16string_view(p, static_cast<size_t>(q - p));
      };
      for (const Pending& run : clamped) {
        std::sort(items.begin() + run.first, items.begin() + run.first + run.count,
                  [&](const SortItem& a, const SortItem& b) {
                    const int c = fullCompare(rowAt(a.offset), rowAt(b.offset));
                    return c != 0 ? c < 0 : a.offset < b.offset;
                  });
      }
    }
  };
  size_t ends[256];
  const int byte = split ? PartitionTop(items.data(), r, ends) : -1;
  if (byte < 0) {
    RadixSort(items.data(), items.size());
    finish(0, r);
  } else {
    // The buckets are split where the halves come closest to equal.
    size_t cut = 0;
    for (size_t d = 0; d < 256; ++d) {
      if (ends[d] <= r / 2 || (ends[d] - r / 2 < r / 2 - cut)) cut = ends[d];
      if (ends[d] > r / 2) break;
    }
    auto sortBuckets = [&](size_t from, size_t to) {
      for (size_t d = 0, at = 0; d < 256; at = ends[d], ++d) {
        if (at >= from && ends[d] <= to && ends[d] - at > 1) {
          RadixSort(items.data() + at, ends[d] - at, byte - 1);
        }
      }
      finish(static_cast<uint32_t>(from), static_cast<uint32_t>(to - from));
    };
    RunBoth(
        true, [&] { sortBuckets(0, cut); }, [&] { sortBuckets(cut, r); });
  }
  for (uint32_t k = 0; k < r; ++k) offsets[k] = items[k].offset;
  dirty_ = true;
  items = LargeArray<SortItem>();
  ReleaseFreedMemory();
}

void TableStore::SortBySource() {
  const uint32_t r = RowCount();
  if (r == 0) return;
  // A table just read is in this order already.
  if (!std::is_sorted(DataOffsets(), DataOffsets() + r))
    std::sort(DataOffsets(), DataOffsets() + r);
  dirty_ = true;
}

namespace {

int CompareByLength(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return CompareUnits(a, b);
}

int CompareByCharacters(std::u16string_view a, std::u16string_view b) {
  uint32_t ca = CountCharacters(a), cb = CountCharacters(b);
  if (ca != cb) return ca < cb ? -1 : 1;
  return CompareUnits(a, b);
}

}  // namespace

namespace {

// What a sort compares: the code or the entry, and whether a rank comes first.
struct CodeField {
  static constexpr bool kEntry = false;
  bool ranked;
  // The code's length; `text` ends at a NUL.
  static uint64_t Rank(const char16_t* text) { return std::u16string_view(text).size(); }
};

struct EntryField {
  static constexpr bool kEntry = true;
  bool ranked;
  // The entry's characters; `text` ends at a TAB or a NUL.
  static uint64_t Rank(const char16_t* text) {
    size_t n = 0;
    while (text[n] != u'\t' && text[n] != 0) ++n;
    return CountCharacters(std::u16string_view(text, n));
  }
};

}  // namespace

void TableStore::SortByCode(int variant) {
  if (variant == 2) {
    SortByKey(CodeField{true}, [](std::u16string_view a, std::u16string_view b) {
      return CompareByLength(CodeOf(a), CodeOf(b));
    });
  } else {
    SortByKey(CodeField{false}, [](std::u16string_view a, std::u16string_view b) {
      return CompareUnits(CodeOf(a), CodeOf(b));
    });
  }
}

void TableStore::SortByEntry(int variant) {
  if (variant == 2) {
    SortByKey(EntryField{true}, [](std::u16string_view a, std::u16string_view b) {
      return CompareByCharacters(EntryOf(a), EntryOf(b));
    });
  } else {
    SortByKey(EntryField{false}, [](std::u16string_view a, std::u16string_view b) {
      return CompareUnits(EntryOf(a), EntryOf(b));
    });
  }
}

Result<LinesWithoutTab> TableStore::SortByFrequency(
    const std::filesystem::path& frequencyFile) try {
  if (!data_ || !data_->view()) return Status::InvalidArgument("", Tr("no table is open"));
  const uint32_t r = RowCount();
  std::vector<uint32_t> frequencies;
  LinesWithoutTab leftOut;
  {
    Result<TextBuffer> file = ReadPlainText(fs_, frequencyFile, "frequency file");
    if (!file.IsOk()) return file.status();
    std::u16string_view text = file->text;
    const FrequencyIndex index(text.substr(0, text.find(u'\0')));
    leftOut = index.leftOut();
    frequencies.resize(r);
    PrefetchedPass(
        r, [&](size_t k) { return index.Prepare(EntryOf(DataRowText(static_cast<uint32_t>(k)))); },
        [&](size_t k, const HashProbe& entry) {
          frequencies[k] = static_cast<uint32_t>(index.Find(entry));
        });
  }
  // Frequency in the high half, present position in the low: sorting the
  // numbers keeps rows of equal frequency in their present order.
  LargeArray<uint64_t> keyed(r);
  for (uint32_t k = 0; k < r; ++k) keyed[k] = uint64_t{frequencies[k]} << 32 | k;
  std::vector<uint32_t>().swap(frequencies);
  std::sort(keyed.begin(), keyed.end());
  {
    uint32_t* offsets = DataOffsets();
    const std::vector<uint32_t> before(offsets, offsets + r);
    for (uint32_t k = 0; k < r; ++k) offsets[k] = before[static_cast<uint32_t>(keyed[k])];
  }
  keyed = LargeArray<uint64_t>();
  dirty_ = true;
  ReleaseFreedMemory();
  return leftOut;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(frequencyFile.string());
}

uint32_t TableStore::RemoveDuplicates() {
  const uint32_t r = RowCount();
  if (r == 0) return 0;
  // Keeping the first row of each text in source order is what sorting by
  // code, entry and position and dropping adjacent equals gives.
  SortBySource();
  uint32_t* offsets = DataOffsets();
  // Eight-byte slots that name a row by its text's offset: this runs on the
  // largest tables, beside the table itself.
  struct RowSlot {
    uint32_t hash = 0;
    uint32_t offset = 0;  // 0: empty (no row text starts at offset 0)
  };
  struct Policy {
    using Slot = RowSlot;
    const TableStore* store;
    static bool IsEmpty(const Slot& slot) { return slot.offset == 0; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      if (slot.hash != p.hash) return false;
      const char16_t* other = store->DataUnits(slot.offset);
      return std::u16string_view(other, p.key.size()) == p.key && other[p.key.size()] == 0;
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return used * 3 > size * 2; }
    static size_t GrownSize(size_t size) { return size + size / 2; }
  };
  uint32_t kept = 0;
  if (r >= kSplitRows && UsableCores() >= 2) {
    // Every row's hash and length first, half the rows on each core; then
    // each core keeps the rows whose hash falls in its half of the index.
    // Equal rows hash alike, so one core sees all of them, in source order.
    constexpr uint32_t kKept = 0x80000000u;  // in `length`: the row stays
    struct Hashed {
      uint32_t hash;
      uint32_t length;
    };
    std::vector<Hashed> hashed(r);
    auto hashRows = [&](uint32_t from, uint32_t to) {
      for (uint32_t k = from; k < to; ++k) {
        const std::u16string_view text = DataRowText(k);
        hashed[k] = Hashed{MakeProbe(text).hash, static_cast<uint32_t>(text.size())};
      }
    };
    RunBoth(
        true, [&] { hashRows(r / 2, r); }, [&] { hashRows(0, r / 2); });
    HashIndex<Policy, 1> index(Policy{this}, TableSize(r) / 2);
    auto keepRows = [&](uint32_t half) {
      constexpr size_t kBatch = 16;
      uint32_t batch[kBatch];
      auto probeOf = [&](uint32_t k) {
        return HashProbe{std::u16string_view(DataUnits(offsets[k]), hashed[k].length), 0,
                         hashed[k].hash};
      };
      for (uint32_t k = 0; k < r;) {
        size_t n = 0;
        for (; k < r && n < kBatch; ++k) {
          if ((hashed[k].hash >> 31) != half) continue;
          index.Prefetch(probeOf(k));
          batch[n++] = k;
        }
        for (size_t j = 0; j < n; ++j) {
          const uint32_t at = batch[j];
          const HashProbe probe = probeOf(at);
          if (index.Insert(probe,
                           [&](RowSlot& slot) {
                             slot = RowSlot{probe.hash, offsets[at]};
                           })
                  .second) {
            hashed[at].length |= kKept;
          }
        }
      }
    };
    RunBoth(
        true, [&] { keepRows(1); }, [&] { keepRows(0); });
    for (uint32_t k = 0; k < r; ++k) {
      if ((hashed[k].length & kKept) != 0) offsets[kept++] = offsets[k];
    }
  } else {
    HashIndex<Policy> index(Policy{this}, TableSize(r));
    PrefetchedPass(
        r, [&](size_t k) { return index.Prepare(DataRowText(static_cast<uint32_t>(k))); },
        [&](size_t k, const HashProbe& text) {
          const bool fresh =
              index.Insert(text,
                           [&](RowSlot& slot) {
                             slot = RowSlot{text.hash, offsets[k]};
                           })
                  .second;
          if (fresh) offsets[kept++] = offsets[k];
        });
  }
  std::memcpy(data_->view(), &kept, 4);
  dirty_ = true;
  ReleaseFreedMemory();
  return kept;
}

Result<uint32_t> TableStore::ExportSingleCharacters(const std::filesystem::path& target) try {
  if (!data_ || !data_->view())
    return Status::InvalidArgument(target.string(), Tr("no table is open"));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs_, target);
  if (!writer.IsOk()) return writer.status();
  TextWriter& out = *writer.value();
  out.WriteBom();
  uint32_t written = 0;
  const uint32_t r = RowCount();
  for (uint32_t k = 0; k < r; ++k) {
    std::u16string_view row = DataRowText(k);
    if (CountCharacters(EntryOf(row)) != 1) continue;
    out.Write(row);
    out.Write(u"\r\n");
    ++written;
  }
  Status committed = out.Commit();
  if (!committed.IsOk()) return committed;
  return written;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(target.string());
}

Status TableStore::ExportInstantFrequency(const std::filesystem::path& target) try {
  if (!data_ || !data_->view())
    return Status::InvalidArgument(target.string(), Tr("no table is open"));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs_, target);
  if (!writer.IsOk()) return writer.status();
  TextWriter& out = *writer.value();
  out.WriteBom();
  const uint32_t r = RowCount();
  for (uint32_t k = 0; k < r; ++k) {
    out.Write(EntryOf(DataRowText(k)));
    out.WriteFormatted(u"\t%d\r\n", {static_cast<long long>(k) + 1});
  }
  return out.Commit();
} catch (const std::bad_alloc&) {
  return Status::NoMemory(target.string());
}

}  // namespace mirel
