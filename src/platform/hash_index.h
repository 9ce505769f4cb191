// One open-addressing hash index for the tables that map UTF-16 keys to
// something: a key is hashed once (its first four units packed into a word,
// the rest mixed in), its home slot is the hash scaled to the table's size,
// and probing walks on one slot at a time. A probe can be prepared ahead of
// its use, which asks the processor to fetch the home slot meanwhile.
//
// What the users of the index need differently is their policy: the slot's
// layout and how it compares with a key (a slot may hold a short key itself,
// or point at text the caller owns), how full a table may get and how it
// grows; and, as a second parameter, into how many segments (2^kSegmentBits,
// chosen by the hash's top bits) the slots are split. A policy provides
//   using Slot = ...;             // a value-initialised Slot is empty
//   static bool IsEmpty(const Slot&);
//   bool Matches(const Slot&, const HashProbe&) const;
//   uint32_t HashOf(const Slot&) const;                // to place it again on growth
//   static bool IsFull(size_t used, size_t size);     // would `used` slots be too many?
//   static size_t GrownSize(size_t size);
//
// The index owns its slots and nothing they point into. Pointers to slots
// stay valid until the next insertion. Not thread-safe.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace mirel {

// How many leading units of a key fit in a probe's packed word.
inline constexpr size_t kPackedUnits = 4;

// A key ready to be looked up.
struct HashProbe {
  std::u16string_view key;
  uint64_t packed = 0;  // unit k of the first four in bits 16k to 16k + 15; 0 past the key
  uint32_t hash = 0;
};

inline uint64_t PackUnits(std::u16string_view key) {
  uint64_t packed = 0;
  for (size_t k = std::min(key.size(), kPackedUnits); k-- > 0;) packed = packed << 16 | key[k];
  return packed;
}

// The key back from a packed word, for keys of at most four units none of
// which is 0 (a 0 unit cannot be told from the end of the key).
inline std::u16string_view UnpackUnits(uint64_t packed, char16_t (&buffer)[kPackedUnits]) {
  size_t n = 0;
  for (; packed != 0; packed >>= 16) buffer[n++] = static_cast<char16_t>(packed);
  return std::u16string_view(buffer, n);
}

// A multiply spreads the bits over the upper half, which is kept.
inline uint32_t HashMixed(uint64_t h) {
  return static_cast<uint32_t>((h * 0x9E3779B97F4A7C15ull) >> 32);
}

// The hash of a key of at most four units, from its packed units alone: so
// a slot that keeps such a key can be placed again without its text.
inline uint32_t HashPacked(uint64_t packed) { return HashMixed(packed); }

// A longer key mixes in its length and then its units past the packed ones.
inline HashProbe MakeProbe(std::u16string_view key) {
  const uint64_t packed = PackUnits(key);
  if (key.size() <= kPackedUnits) return HashProbe{key, packed, HashPacked(packed)};
  uint64_t h = packed ^ (uint64_t{key.size()} << 58);
  for (size_t k = kPackedUnits; k < key.size(); ++k) h = (h ^ key[k]) * 0x100000001B3ull;
  return HashProbe{key, packed, HashMixed(h)};
}

template <class P>
concept HashIndexPolicy = requires(const P& policy, const typename P::Slot& slot,
                                   const HashProbe& probe, size_t n) {
  { P::IsEmpty(slot) } -> std::same_as<bool>;
  { policy.Matches(slot, probe) } -> std::same_as<bool>;
  { policy.HashOf(slot) } -> std::same_as<uint32_t>;
  { P::IsFull(n, n) } -> std::same_as<bool>;
  { P::GrownSize(n) } -> std::same_as<size_t>;
};

template <HashIndexPolicy Policy, int kSegmentBits = 0>
class HashIndex {
 public:
  using Slot = typename Policy::Slot;
  static_assert(kSegmentBits >= 0 && kSegmentBits <= 16);
  static constexpr size_t kSegments = size_t{1} << kSegmentBits;

  // Each segment starts with `slotsPerSegment` empty slots (at least one).
  HashIndex(Policy policy, size_t slotsPerSegment) : policy_(std::move(policy)) {
    for (Segment& segment : segments_) segment.cells.resize(std::max<size_t>(slotsPerSegment, 1));
  }

  // The probe for `key`, its home slot on its way into the cache.
  HashProbe Prepare(std::u16string_view key) const {
    const HashProbe p = MakeProbe(key);
    Prefetch(p);
    return p;
  }
  // Asks for the probe's home slot ahead of its use: one probe serves
  // several indexes this way.
  void Prefetch(const HashProbe& p) const {
    const Segment& segment = SegmentOf(p.hash);
    __builtin_prefetch(segment.cells.data() + Home(p.hash, segment.cells.size()));
  }

  // The slot holding the probe's key, or null.
  const Slot* Find(const HashProbe& p) const {
    const Segment& segment = SegmentOf(p.hash);
    const Slot& slot = segment.cells[Locate(segment, p)];
    return Policy::IsEmpty(slot) ? nullptr : &slot;
  }
  Slot* Find(const HashProbe& p) { return const_cast<Slot*>(std::as_const(*this).Find(p)); }

  // The slot holding the probe's key and false; or, for a key not held yet,
  // a fresh slot that fill(slot) has set, and true. The segment grows before
  // the fresh slot is taken, so the pointer is good until the next insertion.
  // Throws std::bad_alloc when the slots cannot grow.
  template <class Fill>
  std::pair<Slot*, bool> Insert(const HashProbe& p, Fill fill) {
    Segment& segment = SegmentOf(p.hash);
    const size_t size = segment.cells.size();
    for (size_t at = Home(p.hash, size);; at = at + 1 == size ? 0 : at + 1) {
      Slot& slot = segment.cells[at];
      if (Policy::IsEmpty(slot)) {
        if (Policy::IsFull(segment.used + 1, size)) {
          Grow(segment);
          return Insert(p, fill);
        }
        ++segment.used;
        fill(slot);
        return {&slot, true};
      }
      if (policy_.Matches(slot, p)) return {&slot, false};
    }
  }

  // Calls visit(slot) for every slot in use, in no particular order.
  template <class Visit>
  void ForEachSlot(Visit visit) const {
    for (const Segment& segment : segments_) {
      for (const Slot& slot : segment.cells) {
        if (!Policy::IsEmpty(slot)) visit(slot);
      }
    }
  }

  // Empties the index and keeps its size, for an index reused many times.
  void Clear() {
    for (Segment& segment : segments_) {
      if (segment.used == 0) continue;
      std::fill(segment.cells.begin(), segment.cells.end(), Slot{});
      segment.used = 0;
    }
  }

  const Policy& policy() const { return policy_; }

 private:
  struct Segment {
    std::vector<Slot> cells;  // not "slots", which Qt defines as a macro
    size_t used = 0;
  };

  const Segment& SegmentOf(uint32_t hash) const {
    if constexpr (kSegmentBits == 0) {
      return segments_[0];
    } else {
      return segments_[hash >> (32 - kSegmentBits)];
    }
  }
  Segment& SegmentOf(uint32_t hash) {
    return const_cast<Segment&>(std::as_const(*this).SegmentOf(hash));
  }

  // Sizes need not be powers of two: the hash is scaled, not masked.
  static size_t Home(uint32_t hash, size_t size) {
    return static_cast<size_t>((uint64_t{hash * 0x9E3779B1u} * size) >> 32);
  }

  // The probe's slot, or the empty slot where it would go. The fill limit
  // keeps a slot empty, so the walk ends.
  size_t Locate(const Segment& segment, const HashProbe& p) const {
    const size_t size = segment.cells.size();
    for (size_t at = Home(p.hash, size);; at = at + 1 == size ? 0 : at + 1) {
      const Slot& slot = segment.cells[at];
      if (Policy::IsEmpty(slot) || policy_.Matches(slot, p)) return at;
    }
  }

  void Grow(Segment& segment) {
    std::vector<Slot> old(
        std::max(Policy::GrownSize(segment.cells.size()), segment.cells.size() + 1));
    old.swap(segment.cells);
    const size_t size = segment.cells.size();
    for (const Slot& slot : old) {
      if (Policy::IsEmpty(slot)) continue;
      size_t at = Home(policy_.HashOf(slot), size);
      while (!Policy::IsEmpty(segment.cells[at])) at = at + 1 == size ? 0 : at + 1;
      segment.cells[at] = slot;
    }
  }

  Policy policy_;
  std::array<Segment, kSegments> segments_;
};

// Runs prepare(i) for a batch of indices, then visit(i, prepared) for each,
// over 0 to count - 1 in order: the slots the keys of a batch hash to are
// fetched together instead of one cache miss after another.
template <class Prepare, class Visit>
void PrefetchedPass(size_t count, Prepare prepare, Visit visit) {
  constexpr size_t kBatch = 16;
  std::array<std::invoke_result_t<Prepare&, size_t>, kBatch> batch;
  for (size_t base = 0; base < count; base += kBatch) {
    const size_t n = std::min(kBatch, count - base);
    for (size_t j = 0; j < n; ++j) batch[j] = prepare(base + j);
    for (size_t j = 0; j < n; ++j) visit(base + j, batch[j]);
  }
}

}  // namespace mirel
