// UndoHistory: the steps that undo and redo the changes to the open table.
//
// A step holds only what the change overwrote, in row slots (see
// TableStore::RowSlot): an ordering keeps the other order (4 bytes a row,
// swapped with the present one at each undo or redo), a deletion the rows it
// took with their positions, an insertion where its rows went, a move the
// rotations it made, a modification both texts of the row. Texts never move
// in the working data file, so a slot always finds its text again.
//
// The history remembers which step the last save left the table at; undoing
// or redoing back to it clears the store's `dirty`, anything else sets it.
// It borrows the store, which must outlive it. Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "store/table_store.h"

namespace mirel {

struct UndoStep {
  enum class Kind { kOrder, kDelete, kInsert, kMove, kModify };
  struct Rotation {
    uint32_t first;
    uint32_t last;
    bool towardStart;
  };

  Kind kind = Kind::kOrder;
  // kOrder: the order to go back to; kDelete, kInsert: the rows' slots.
  std::vector<uint32_t> rowSlots;
  // kDelete: the rows' data positions before they were taken (ascending);
  // kInsert: the positions the rows went to.
  std::vector<uint32_t> positions;
  // kMove: the rotations in the order they were made.
  std::vector<Rotation> rotations;
  // kModify.
  uint32_t row = 0;
  uint32_t oldSlot = 0;
  uint32_t newSlot = 0;
  std::u16string oldText;
  std::u16string newText;
  // What made the step, for its owner to name it; the history ignores it.
  uint32_t cause = 0;
};

class UndoHistory {
 public:
  explicit UndoHistory(TableStore& store) : store_(store) {}
  UndoHistory(const UndoHistory&) = delete;
  UndoHistory& operator=(const UndoHistory&) = delete;

  // Records a change that has just been made; drops the steps that could
  // have been redone.
  void Push(UndoStep step);
  bool CanUndo() const { return position_ > 0; }
  bool CanRedo() const { return position_ < steps_.size(); }
  // The step the next undo (or redo) applies; null when there is none.
  const UndoStep* Next(bool redo) const {
    if (redo) return CanRedo() ? &steps_[position_] : nullptr;
    return CanUndo() ? &steps_[position_ - 1] : nullptr;
  }
  // Each fails, changing nothing, when there is no such step or the store
  // refuses it (which a history of this table never makes it do).
  Status Undo();
  Status Redo();

  // The table now matches its file.
  void MarkSaved() { savedAt_ = position_; }
  bool AtSavedState() const { return savedAt_ == position_; }
  // Forgets every step (a table opened or closed); the table counts as saved.
  void Clear();
  // Forgets every step after a change that could not be recorded: the saved
  // state cannot be reached again.
  void Forget() {
    Clear();
    savedAt_.reset();
  }
  // Frees the oldest half of the steps; false when there were none.
  bool DropOldest();
  size_t size() const { return steps_.size(); }

 private:
  Status Apply(UndoStep& step, bool undo);

  TableStore& store_;
  std::vector<UndoStep> steps_;
  size_t position_ = 0;
  std::optional<size_t> savedAt_ = 0;
};

}  // namespace mirel
