#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "platform/memory.h"
#include "platform/utf16.h"
#include "store/balanced_tree.h"
#include "store/table_store.h"
#include "store/text_file.h"

namespace mirel {
namespace {

struct SortItem {
  uint64_t key;
  uint32_t offset;
  uint32_t exact;  // equal keys mean equal in the compared respect
};

// Units packed so that comparing the numbers is unit order; missing units are
// 0, which sorts a proper prefix first.
uint64_t PackUnits(std::u16string_view text, size_t units) {
  uint64_t key = 0;
  for (size_t k = 0; k < units; ++k) key = (key << 16) | (k < text.size() ? text[k] : 0);
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

uint32_t HashUnits(std::u16string_view text) {
  uint32_t h = 2166136261u;
  for (char16_t u : text) h = (h ^ u) * 16777619u;
  return h;
}

// Open-addressing tables sized 1.5 times their entries, not rounded up to a
// power of two: a home slot is the hash scaled to the table size.
size_t TableSize(size_t entries) { return entries + entries / 2 + 16; }
size_t HomeSlot(uint32_t hash, size_t size) {
  return static_cast<size_t>((uint64_t{hash * 0x9E3779B1u} * size) >> 32);
}

// The words of a frequency file with their numbers; a word listed twice keeps
// its first number. Open addressing over the file's own text: a million
// lookups in a node-based map or tree are a million cache misses more.
class FrequencyIndex {
 public:
  // Frequency file: word TAB number, lines ended by any run of CR and LF. A
  // line that does not fit becomes the start of the next word.
  explicit FrequencyIndex(std::u16string_view text) : text_(text) {
    size_t words = 0;
    for (char16_t u : text) words += u == u'\t';
    slots_.assign(TableSize(words), Slot{kEmpty, 0, 0, 0});
    size_t p = 0;
    while (true) {
      size_t tab = text.find(u'\t', p);
      if (tab == std::u16string_view::npos) break;
      Insert(static_cast<uint32_t>(p), static_cast<uint32_t>(tab - p),
             ParseLong32(text.substr(tab + 1)));
      p = tab + 1;
      while (p < text.size() && text[p] >= u'0' && text[p] <= u'9') ++p;
      while (p < text.size() && (text[p] == u'\r' || text[p] == u'\n')) ++p;
    }
  }

  // 0 for a word the file does not list.
  int32_t Find(std::u16string_view word) const {
    const uint32_t h = HashUnits(word);
    for (size_t at = HomeSlot(h, slots_.size());; at = at + 1 == slots_.size() ? 0 : at + 1) {
      const Slot& slot = slots_[at];
      if (slot.start == kEmpty) return 0;
      if (slot.hash == h && text_.substr(slot.start, slot.length) == word) return slot.frequency;
    }
  }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  struct Slot {
    uint32_t start;
    uint32_t length;
    int32_t frequency;
    uint32_t hash;
  };

  void Insert(uint32_t start, uint32_t length, int32_t frequency) {
    std::u16string_view word = text_.substr(start, length);
    const uint32_t h = HashUnits(word);
    for (size_t at = HomeSlot(h, slots_.size());; at = at + 1 == slots_.size() ? 0 : at + 1) {
      Slot& slot = slots_[at];
      if (slot.start == kEmpty) {
        slot = Slot{start, length, frequency, h};
        return;
      }
      if (slot.hash == h && text_.substr(slot.start, slot.length) == word) return;
    }
  }

  std::u16string_view text_;
  std::vector<Slot> slots_;
};

}  // namespace

template <class MakeKey, class FullCompare>
void TableStore::SortByKey(MakeKey makeKey, FullCompare fullCompare) {
  const uint32_t r = RowCount();
  if (r == 0) return;
  uint32_t* offsets = DataOffsets();
  std::vector<SortItem> items(r);
  for (uint32_t k = 0; k < r; ++k) {
    items[k] = makeKey(DataRowText(k));
    items[k].offset = offsets[k];
  }
  const char16_t* end = reinterpret_cast<const char16_t*>(data_->view() + data_->size());
  auto rowAt = [&](uint32_t offset) {
    const char16_t* p = DataUnits(offset);
    const char16_t* q = p;
    while (q < end && *q != 0) ++q;
    return std::u16string_view(p, static_cast<size_t>(q - p));
  };
  std::sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
    if (a.key != b.key) return a.key < b.key;
    if (!(a.exact & b.exact)) {
      int c = fullCompare(rowAt(a.offset), rowAt(b.offset));
      if (c != 0) return c < 0;
    }
    return a.offset < b.offset;
  });
  for (uint32_t k = 0; k < r; ++k) offsets[k] = items[k].offset;
  dirty_ = true;
  std::vector<SortItem>().swap(items);
  ReleaseFreedMemory();
}

void TableStore::SortBySource() {
  const uint32_t r = RowCount();
  if (r == 0) return;
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

void TableStore::SortByCode(int variant) {
  if (variant == 2) {
    SortByKey(
        [](std::u16string_view row) {
          std::u16string_view code = CodeOf(row);
          return SortItem{Clamp16(code.size()) << 48 | PackUnits(code, 3), 0, code.size() <= 3};
        },
        [](std::u16string_view a, std::u16string_view b) {
          return CompareByLength(CodeOf(a), CodeOf(b));
        });
  } else {
    SortByKey(
        [](std::u16string_view row) {
          std::u16string_view code = CodeOf(row);
          return SortItem{PackUnits(code, 4), 0, code.size() <= 4};
        },
        [](std::u16string_view a, std::u16string_view b) {
          return CompareUnits(CodeOf(a), CodeOf(b));
        });
  }
}

void TableStore::SortByEntry(int variant) {
  if (variant == 2) {
    SortByKey(
        [](std::u16string_view row) {
          std::u16string_view entry = EntryOf(row);
          uint32_t count = CountCharacters(entry);
          return SortItem{Clamp16(count) << 48 | PackUnits(entry, 3), 0,
                          count < 0xFFFF && entry.size() <= 3};
        },
        [](std::u16string_view a, std::u16string_view b) {
          return CompareByCharacters(EntryOf(a), EntryOf(b));
        });
  } else {
    SortByKey(
        [](std::u16string_view row) {
          std::u16string_view entry = EntryOf(row);
          return SortItem{PackUnits(entry, 4), 0, entry.size() <= 4};
        },
        [](std::u16string_view a, std::u16string_view b) {
          return CompareUnits(EntryOf(a), EntryOf(b));
        });
  }
}

Status TableStore::SortByFrequency(const std::filesystem::path& frequencyFile) try {
  if (!data_ || !data_->view()) return Status::InvalidArgument("", "no table is open");
  const uint32_t r = RowCount();
  std::vector<uint32_t> frequencies;
  {
    Result<TextBuffer> file = ReadTextFile(fs_, frequencyFile);
    if (!file.IsOk()) return file.status();
    std::u16string_view text = file->text;
    const FrequencyIndex index(text.substr(0, text.find(u'\0')));
    frequencies.resize(r);
    for (uint32_t k = 0; k < r; ++k) {
      frequencies[k] = static_cast<uint32_t>(index.Find(EntryOf(DataRowText(k))));
    }
  }
  // Frequency in the high half, present position in the low: sorting the
  // numbers keeps rows of equal frequency in their present order.
  std::vector<uint64_t> keyed(r);
  for (uint32_t k = 0; k < r; ++k) keyed[k] = uint64_t{frequencies[k]} << 32 | k;
  std::vector<uint32_t>().swap(frequencies);
  std::sort(keyed.begin(), keyed.end());
  {
    uint32_t* offsets = DataOffsets();
    const std::vector<uint32_t> before(offsets, offsets + r);
    for (uint32_t k = 0; k < r; ++k) offsets[k] = before[static_cast<uint32_t>(keyed[k])];
  }
  std::vector<uint64_t>().swap(keyed);
  dirty_ = true;
  ReleaseFreedMemory();
  return Status::Ok();
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
  const size_t slots = TableSize(r);
  struct Slot {
    uint32_t hash;
    uint32_t offset;  // 0: empty (no row text starts at offset 0)
  };
  std::vector<Slot> table(slots, Slot{0, 0});
  uint32_t kept = 0;
  for (uint32_t k = 0; k < r; ++k) {
    std::u16string_view text = DataRowText(k);
    const uint32_t h = HashUnits(text);
    size_t at = HomeSlot(h, slots);
    bool duplicate = false;
    while (table[at].offset != 0) {
      if (table[at].hash == h) {
        const char16_t* other = DataUnits(table[at].offset);
        if (std::u16string_view(other, text.size()) == text && other[text.size()] == 0) {
          duplicate = true;
          break;
        }
      }
      at = at + 1 == slots ? 0 : at + 1;
    }
    if (duplicate) continue;
    table[at] = Slot{h, offsets[k]};
    offsets[kept++] = offsets[k];
  }
  std::memcpy(data_->view(), &kept, 4);
  dirty_ = true;
  std::vector<Slot>().swap(table);
  ReleaseFreedMemory();
  return kept;
}

Result<uint32_t> TableStore::ExportSingleCharacters(const std::filesystem::path& target) try {
  if (!data_ || !data_->view()) return Status::InvalidArgument(target.string(), "no table is open");
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
  if (!data_ || !data_->view()) return Status::InvalidArgument(target.string(), "no table is open");
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
