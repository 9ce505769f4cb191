#include "store/undo_history.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/memory.h"
#include "platform/messages.h"

namespace mirel {
namespace {

void WriteCount(std::byte* view, uint32_t count) { std::memcpy(view, &count, 4); }

uint32_t HashUnits(std::u16string_view text) {
  uint32_t h = 2166136261u;
  for (char16_t u : text) h = (h ^ u) * 16777619u;
  return h;
}

}  // namespace

uint32_t TableStore::RowSlot(uint32_t i) const { return DataOffsets()[i] - textBase_; }

std::vector<uint32_t> TableStore::RowSlots() const {
  const uint32_t r = RowCount();
  std::vector<uint32_t> rowSlots(r);
  const uint32_t* offsets = r > 0 ? DataOffsets() : nullptr;
  for (uint32_t k = 0; k < r; ++k) rowSlots[k] = offsets[k] - textBase_;
  return rowSlots;
}

Status TableStore::SetRowSlots(std::span<const uint32_t> rowSlots) {
  if (!data_ || !data_->view()) return Status::InvalidArgument("", Tr("no table is open"));
  if (4 + 4 * uint64_t{rowSlots.size()} > textBase_) {
    return Status::InvalidArgument("", Tr("the offset table has no room for these rows"));
  }
  uint32_t* offsets = DataOffsets();
  const uint32_t base = textBase_;
  for (size_t k = 0; k < rowSlots.size(); ++k) offsets[k] = rowSlots[k] + base;
  WriteCount(data_->view(), static_cast<uint32_t>(rowSlots.size()));
  dirty_ = true;
  return Status::Ok();
}

Status TableStore::PutRows(std::span<const uint32_t> positions,
                           std::span<const uint32_t> rowSlots) {
  if (!data_ || !data_->view()) return Status::InvalidArgument("", Tr("no table is open"));
  const uint64_t r = RowCount();
  const uint64_t total = r + rowSlots.size();
  if (positions.size() != rowSlots.size() || 4 + 4 * total > textBase_ ||
      (!positions.empty() && positions.back() >= total)) {
    return Status::InvalidArgument("", Tr("the offset table has no room for these rows"));
  }
  // One pass from the end: every row moves at most once.
  uint32_t* offsets = DataOffsets();
  uint64_t from = r;
  size_t k = positions.size();
  for (uint64_t at = total; at-- > 0;) {
    if (k > 0 && positions[k - 1] == at) {
      offsets[at] = rowSlots[--k] + textBase_;
    } else {
      offsets[at] = offsets[--from];
    }
  }
  WriteCount(data_->view(), static_cast<uint32_t>(total));
  dirty_ = true;
  return Status::Ok();
}

void TableStore::TakeRows(std::span<const uint32_t> positions) {
  const uint32_t r = RowCount();
  if (r == 0 || positions.empty()) return;
  uint32_t* offsets = DataOffsets();
  uint32_t kept = 0;
  size_t k = 0;
  for (uint32_t i = 0; i < r; ++i) {
    if (k < positions.size() && positions[k] == i) {
      ++k;
      continue;
    }
    offsets[kept++] = offsets[i];
  }
  WriteCount(data_->view(), kept);
  dirty_ = true;
}

void TableStore::RotateRows(uint32_t first, uint32_t last, bool towardStart) {
  if (!(first < last && last < RowCount())) return;
  uint32_t* offsets = DataOffsets();
  if (towardStart) {
    std::rotate(offsets + first, offsets + first + 1, offsets + last + 1);
  } else {
    std::rotate(offsets + first, offsets + last, offsets + last + 1);
  }
  dirty_ = true;
}

Status TableStore::SetRowText(uint32_t i, uint32_t slot, std::u16string_view text) {
  if (i >= RowCount()) return Status::InvalidArgument("", Tr("row out of range"));
  const uint64_t at = uint64_t{textBase_} + slot;
  if (at + 2 * (uint64_t{text.size()} + 1) > data_->size()) {
    return Status::InvalidArgument("", Tr("row text does not fit the working data file"));
  }
  auto* units = reinterpret_cast<char16_t*>(data_->view() + at);
  std::copy(text.begin(), text.end(), units);
  units[text.size()] = 0;
  DataOffsets()[i] = static_cast<uint32_t>(at);
  textChanged_ = true;
  dirty_ = true;
  return Status::Ok();
}

uint32_t TableStore::RemoveLaterDuplicates() {
  const uint32_t r = RowCount();
  if (r == 0) return 0;
  uint32_t* offsets = DataOffsets();
  const size_t tableSize = size_t{r} + r / 2 + 16;
  struct Slot {
    uint32_t hash;
    uint32_t row;  // kept row + 1; 0: empty
  };
  std::vector<Slot> table(tableSize, Slot{0, 0});
  uint32_t kept = 0;
  for (uint32_t k = 0; k < r; ++k) {
    std::u16string_view text = DataRowText(k);
    const uint32_t h = HashUnits(text);
    size_t at = static_cast<size_t>((uint64_t{h * 0x9E3779B1u} * tableSize) >> 32);
    bool duplicate = false;
    while (table[at].row != 0) {
      if (table[at].hash == h && DataRowText(table[at].row - 1) == text) {
        duplicate = true;
        break;
      }
      at = at + 1 == tableSize ? 0 : at + 1;
    }
    if (duplicate) continue;
    offsets[kept] = offsets[k];
    table[at] = Slot{h, ++kept};
  }
  WriteCount(data_->view(), kept);
  dirty_ = true;
  std::vector<Slot>().swap(table);
  ReleaseFreedMemory();
  return r - kept;
}

namespace {

// Whether the entry starting at `p` (ending at a TAB or NUL) holds `text`,
// which is not empty and holds no TAB or NUL.
bool EntryHolds(const char16_t* p, const char16_t* end, std::u16string_view text) {
  const char16_t first = text[0];
  for (; p < end && *p != u'\t' && *p != 0; ++p) {
    if (*p != first) continue;
    size_t m = 1;
    while (m < text.size() && p + m < end && p[m] == text[m]) ++m;
    if (m == text.size()) return true;
  }
  return false;
}

bool Searchable(std::u16string_view text) {
  return !text.empty() &&
         text.find_first_of(std::u16string_view(u"\t\0", 2)) == std::u16string_view::npos;
}

}  // namespace

uint32_t TableStore::FindInEntries(std::u16string_view text, uint32_t from, bool forward) const {
  const uint32_t count = VisibleRowCount();
  if (count == 0 || !Searchable(text)) return kNoRow;
  const uint32_t* offsets = FilterOffsets();
  const char16_t* end = reinterpret_cast<const char16_t*>(filter_->view() + filter_->size());
  uint32_t v = std::min(from, count - 1);
  for (uint32_t seen = 0; seen < count; ++seen) {
    if (EntryHolds(FilterUnits(offsets[v]), end, text)) return v;
    if (forward) {
      v = v + 1 == count ? 0 : v + 1;
    } else {
      v = v == 0 ? count - 1 : v - 1;
    }
  }
  return kNoRow;
}

uint32_t TableStore::CountInEntries(std::u16string_view text, uint32_t before) const {
  const uint32_t count = std::min(VisibleRowCount(), before);
  if (count == 0 || !Searchable(text)) return 0;
  const uint32_t* offsets = FilterOffsets();
  const char16_t* end = reinterpret_cast<const char16_t*>(filter_->view() + filter_->size());
  uint32_t matches = 0;
  for (uint32_t v = 0; v < count; ++v) matches += EntryHolds(FilterUnits(offsets[v]), end, text);
  return matches;
}

void UndoHistory::Push(UndoStep step) {
  steps_.resize(position_);
  if (savedAt_ && *savedAt_ > position_) savedAt_.reset();
  steps_.push_back(std::move(step));
  ++position_;
}

Status UndoHistory::Undo() {
  if (!CanUndo()) return Status::InvalidArgument("", Tr("nothing to undo"));
  Status applied = Apply(steps_[position_ - 1], true);
  if (!applied.IsOk()) return applied;
  --position_;
  store_.SetDirty(!AtSavedState());
  return Status::Ok();
}

Status UndoHistory::Redo() {
  if (!CanRedo()) return Status::InvalidArgument("", Tr("nothing to redo"));
  Status applied = Apply(steps_[position_], false);
  if (!applied.IsOk()) return applied;
  ++position_;
  store_.SetDirty(!AtSavedState());
  return Status::Ok();
}

void UndoHistory::Clear() {
  steps_.clear();
  steps_.shrink_to_fit();
  position_ = 0;
  savedAt_ = 0;
}

bool UndoHistory::DropOldest() {
  if (steps_.empty()) return false;
  const size_t dropped = (steps_.size() + 1) / 2;
  steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(dropped));
  position_ = position_ > dropped ? position_ - dropped : 0;
  if (savedAt_) {
    if (*savedAt_ >= dropped) {
      *savedAt_ -= dropped;
    } else {
      savedAt_.reset();
    }
  }
  return true;
}

Status UndoHistory::Apply(UndoStep& step, bool undo) {
  switch (step.kind) {
    case UndoStep::Kind::kOrder: {
      std::vector<uint32_t> present = store_.RowSlots();
      Status set = store_.SetRowSlots(step.rowSlots);
      if (set.IsOk()) step.rowSlots.swap(present);
      return set;
    }
    case UndoStep::Kind::kDelete:
      if (undo) return store_.PutRows(step.positions, step.rowSlots);
      store_.TakeRows(step.positions);
      return Status::Ok();
    case UndoStep::Kind::kInsert:
      if (!undo) return store_.PutRows(step.positions, step.rowSlots);
      store_.TakeRows(step.positions);
      return Status::Ok();
    case UndoStep::Kind::kMove:
      if (undo) {
        for (auto it = step.rotations.rbegin(); it != step.rotations.rend(); ++it) {
          store_.RotateRows(it->first, it->last, !it->towardStart);
        }
      } else {
        for (const UndoStep::Rotation& r : step.rotations) {
          store_.RotateRows(r.first, r.last, r.towardStart);
        }
      }
      return Status::Ok();
    case UndoStep::Kind::kModify:
      return undo ? store_.SetRowText(step.row, step.oldSlot, step.oldText)
                  : store_.SetRowText(step.row, step.newSlot, step.newText);
  }
  return Status::Ok();
}

}  // namespace mirel
