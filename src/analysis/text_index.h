// A hash index from text to the number of the item holding it. The index
// keeps only numbers; the caller owns the text and hands it back through
// `keyOf(number)`, so a million keys cost 8 bytes each. Not thread-safe.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/hash_index.h"

namespace mirel::analysis {

class TextIndex {
 public:
  explicit TextIndex(size_t expected) : slots_(std::bit_ceil(std::max<size_t>(expected * 2, 16))) {}

  // The number already held for `key` and false, or `id` and true.
  template <class KeyOf>
  std::pair<uint32_t, bool> Insert(std::u16string_view key, uint32_t id, KeyOf keyOf) {
    if ((used_ + 1) * 2 > slots_.size()) Grow(keyOf);
    const size_t mask = slots_.size() - 1;
    for (size_t at = MakeProbe(key).hash & mask;; at = (at + 1) & mask) {
      if (slots_[at] == 0) {
        slots_[at] = id + 1;
        ++used_;
        return {id, true};
      }
      if (keyOf(slots_[at] - 1) == key) return {slots_[at] - 1, false};
    }
  }

  template <class KeyOf>
  std::optional<uint32_t> Find(std::u16string_view key, KeyOf keyOf) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = MakeProbe(key).hash & mask;; at = (at + 1) & mask) {
      if (slots_[at] == 0) return std::nullopt;
      if (keyOf(slots_[at] - 1) == key) return slots_[at] - 1;
    }
  }

 private:
  template <class KeyOf>
  void Grow(KeyOf keyOf) {
    std::vector<uint32_t> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (uint32_t slot : old) {
      if (slot == 0) continue;
      size_t at = MakeProbe(keyOf(slot - 1)).hash & mask;
      while (slots_[at] != 0) at = (at + 1) & mask;
      slots_[at] = slot;
    }
  }

  std::vector<uint32_t> slots_;  // item + 1; 0: empty
  size_t used_ = 0;
};

}  // namespace mirel::analysis
