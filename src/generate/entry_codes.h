// The distinct codes of each entry of a code table, in the order of their
// first appearance: what the merge looks entries up in and word generation
// looks characters up in. Entries and codes are views into the table's text,
// which must outlive the index; indexing allocates only when an array grows.
// Not thread-safe while it is being filled.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/hash_index.h"

namespace mirel {

class EntryCodes {
 public:
  EntryCodes();

  // The probe for `entry`, its slot on its way into the cache.
  HashProbe Prepare(std::u16string_view entry) const { return index_.Prepare(entry); }
  void Prefetch(const HashProbe& entry) const { index_.Prefetch(entry); }

  // Takes `line`, which is entry TAB code with the entry's probe and the
  // offset of its first TAB. A code the entry has already is left out. False,
  // and nothing taken, once the index holds 4 G codes.
  bool Add(const HashProbe& entry, std::u16string_view line, size_t tab);

  // Lays each entry's codes out together; Codes() answers only after this,
  // and nothing more may be added.
  void Finish();

  // The codes of `entry`; empty when it has none.
  std::span<const std::u16string_view> Codes(const HashProbe& entry) const;
  std::span<const std::u16string_view> Codes(std::u16string_view entry) const;

  size_t size() const { return entries_->size(); }

 private:
  struct Entry {
    const char16_t* key;
    uint32_t keySize;
    uint32_t first;  // its first node; once finished, its first code
    uint32_t last;   // its last node
    uint32_t count;
    std::u16string_view Key() const { return std::u16string_view(key, keySize); }
  };
  // Eight-byte slots keep a million entries' slots in a few megabytes; the
  // whole hash in the slot spares most mismatches a visit to the entry.
  struct EntrySlot {
    uint32_t hash = 0;
    uint32_t entryPlusOne = 0;  // 0: empty
  };
  struct EntryPolicy {
    using Slot = EntrySlot;
    const std::vector<Entry>* entries;
    static bool IsEmpty(const Slot& slot) { return slot.entryPlusOne == 0; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      return slot.hash == p.hash && (*entries)[slot.entryPlusOne - 1].Key() == p.key;
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return 2 * used > size; }
    static size_t GrownSize(size_t size) { return 2 * size; }
  };

  // Whole lines, for the entries with so many codes that a repeated one is
  // looked up rather than searched for: with the entry before its first TAB,
  // equal lines are equal pairs of entry and code.
  struct LineSlot {
    const char16_t* line = nullptr;  // null: empty
    uint32_t size = 0;
    uint32_t hash = 0;
  };
  struct LinePolicy {
    using Slot = LineSlot;
    static bool IsEmpty(const Slot& slot) { return slot.line == nullptr; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      return slot.hash == p.hash && std::u16string_view(slot.line, slot.size) == p.key;
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return 2 * used > size; }
    static size_t GrownSize(size_t size) { return 2 * size; }
  };

  struct Node {
    std::u16string_view line;
    uint32_t next;
  };

  // Entries with more codes than this find repeated codes in lines_.
  static constexpr uint32_t kScanLimit = 16;

  bool SeenBefore(const Entry& entry, std::u16string_view line, size_t tab);
  void NoteLine(std::u16string_view line);

  // On the heap, so that the index's policy still finds it after a move.
  std::unique_ptr<std::vector<Entry>> entries_;
  HashIndex<EntryPolicy> index_;
  HashIndex<LinePolicy> lines_;
  std::vector<Node> nodes_;  // freed by Finish
  std::vector<std::u16string_view> codes_;
};

}  // namespace mirel
