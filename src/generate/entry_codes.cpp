#include "generate/entry_codes.h"

#include <limits>

namespace mirel {
namespace {

constexpr uint32_t kEnd = std::numeric_limits<uint32_t>::max();

}  // namespace

// Character tables hold thousands of entries, merged tables up to millions:
// the index starts small and doubles.
EntryCodes::EntryCodes()
    : entries_(std::make_unique<std::vector<Entry>>()),
      index_(EntryPolicy{entries_.get()}, 1024),
      lines_(LinePolicy{}, 64) {}

bool EntryCodes::Add(const HashProbe& entry, std::u16string_view line, size_t tab) {
  if (nodes_.size() >= kEnd - 1) return false;
  const auto node = static_cast<uint32_t>(nodes_.size());
  std::vector<Entry>& entries = *entries_;
  const auto [slot, fresh] = index_.Insert(entry, [&](EntrySlot& s) {
    s = EntrySlot{entry.hash, static_cast<uint32_t>(entries.size() + 1)};
  });
  if (fresh) {
    entries.push_back({line.data(), static_cast<uint32_t>(tab), node, node, 1});
  } else {
    Entry& e = entries[slot->entryPlusOne - 1];
    if (SeenBefore(e, line, tab)) return true;
    nodes_[e.last].next = node;
    e.last = node;
    if (++e.count == kScanLimit + 1) {
      for (uint32_t c = e.first; c != node; c = nodes_[c].next) NoteLine(nodes_[c].line);
      NoteLine(line);
    }
  }
  nodes_.push_back({line, kEnd});
  return true;
}

bool EntryCodes::SeenBefore(const Entry& entry, std::u16string_view line, size_t tab) {
  if (entry.count > kScanLimit) {
    const HashProbe p = MakeProbe(line);
    return !lines_
                .Insert(p,
                        [&](LineSlot& s) {
                          s = LineSlot{line.data(), static_cast<uint32_t>(line.size()), p.hash};
                        })
                .second;
  }
  const std::u16string_view code = line.substr(tab + 1);
  for (uint32_t c = entry.first; c != kEnd; c = nodes_[c].next) {
    if (nodes_[c].line.substr(tab + 1) == code) return true;
  }
  return false;
}

void EntryCodes::NoteLine(std::u16string_view line) {
  const HashProbe p = MakeProbe(line);
  lines_.Insert(p, [&](LineSlot& s) {
    s = LineSlot{line.data(), static_cast<uint32_t>(line.size()), p.hash};
  });
}

void EntryCodes::Finish() {
  codes_.reserve(nodes_.size());
  for (Entry& e : *entries_) {
    uint32_t c = e.first;
    e.first = static_cast<uint32_t>(codes_.size());
    for (; c != kEnd; c = nodes_[c].next) codes_.push_back(nodes_[c].line.substr(e.keySize + 1));
  }
  std::vector<Node>().swap(nodes_);
  lines_ = HashIndex<LinePolicy>(LinePolicy{}, 1);
}

std::span<const std::u16string_view> EntryCodes::Codes(const HashProbe& entry) const {
  const EntrySlot* slot = index_.Find(entry);
  if (slot == nullptr) return {};
  const Entry& e = (*entries_)[slot->entryPlusOne - 1];
  return std::span(codes_).subspan(e.first, e.count);
}

std::span<const std::u16string_view> EntryCodes::Codes(std::u16string_view entry) const {
  return Codes(MakeProbe(entry));
}

}  // namespace mirel
