// TableEditor: what the editor window does to the open table, without the
// window. It runs every change through the TableStore, records each as one
// undo step, and works out where the selection goes when rows move. The
// window shows the results and asks the questions; this class asks nothing
// and shows nothing.
//
// Rows are given as visible positions (under the filter), as the list shows
// them. After a change other than a move the caller filters again (the
// store's snapshot is stale); moves keep the snapshot up to date.
// Borrows the store, which must outlive it. Single-threaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/table_tools.h"
#include "platform/status.h"
#include "store/table_store.h"
#include "store/undo_history.h"

namespace mirel {

// A selection of visible rows (ascending) and the row with the focus.
struct RowSelection {
  std::vector<uint32_t> rows;
  std::optional<uint32_t> current;
  bool operator==(const RowSelection&) const = default;
};

// What an undo step did, for the window to name it ("删除 3 行").
struct ChangeName {
  enum class What {
    kDelete,
    kInsert,
    kMove,
    kModify,
    kReorder,
    kFrequencyOrder,
    kRemoveDuplicates
  };
  What what = What::kDelete;
  Ordering ordering = Ordering::kSource;  // kReorder
  // How many rows (kDelete, kInsert, kMove, kRemoveDuplicates), or the data
  // position of the row (kModify).
  uint32_t rows = 0;
  bool operator==(const ChangeName&) const = default;
};

// True when a field typed into a dialog holds a TAB, CR, LF or NUL, any of
// which would break the row it is written into.
bool HoldsRowBreak(std::u16string_view field);

class TableEditor {
 public:
  explicit TableEditor(TableStore& store) : store_(store), history_(store) {}
  TableEditor(const TableEditor&) = delete;
  TableEditor& operator=(const TableEditor&) = delete;

  TableStore& store() { return store_; }
  const TableStore& store() const { return store_; }

  // Opens a table in place of the open one (a file that cannot be read
  // leaves the open table and its history as they were). `anyName` as the
  // store takes it.
  Result<uint32_t> Open(const std::filesystem::path& path, bool anyName = false);
  // After the store was given a table by other means.
  void Opened();
  void Close();
  // Saves as the store does; a successful save marks the saved state.
  Status Save(SaveMode mode, const std::filesystem::path& target = {},
              const RetryPrompt& retry = {});

  // Lines of the open table's file that are not rows, counted at opening.
  uint64_t linesLeftOut() const { return store_.IsOpen() ? store_.linesWithoutTab().count() : 0; }

  // ---- Changes; each is one undo step ----
  // Deletes the visible rows (ascending). Returns the number deleted.
  uint32_t Delete(std::span<const uint32_t> visibleRows);
  // The moves of the 编辑 menu on the selected rows; they return where the
  // selection is afterwards.
  RowSelection MoveUp(const RowSelection& selection);
  RowSelection MoveDown(const RowSelection& selection);
  RowSelection MoveToTop(const RowSelection& selection);
  RowSelection MoveToEnd(const RowSelection& selection);
  // ModifyRow's result: 0, or 1 when the working data file could not grow.
  int Modify(uint32_t visibleRow, std::u16string_view code, std::u16string_view entry);
  // Inserts rows ("entry TAB code") as data rows from `position`.
  Status Insert(uint32_t position, const std::vector<std::u16string>& rows);
  // A fixed ordering; kFrequency needs its file and goes through
  // SortByFrequency, so it is ignored here.
  void Reorder(Ordering ordering);
  Result<LinesWithoutTab> SortByFrequency(const std::filesystem::path& frequencyFile);
  // Removes later copies of equal rows, keeping the present order. Returns
  // the number removed.
  uint32_t RemoveDuplicates();

  bool CanUndo() const { return history_.CanUndo(); }
  bool CanRedo() const { return history_.CanRedo(); }
  Status Undo() { return history_.Undo(); }
  Status Redo() { return history_.Redo(); }
  // What the next undo (or redo) would take back (or make again).
  std::optional<ChangeName> NextChange(bool redo) const;
  const UndoHistory& history() const { return history_; }

  // ---- Reading ----
  // The clipboard text of the visible rows: code TAB entry CR LF each.
  std::u16string CopyText(std::span<const uint32_t> visibleRows) const;
  // The next visible row whose entry holds `text`, starting at `from` (or,
  // backward, at `from` and going up), wrapping around once.
  std::optional<uint32_t> FindEntry(std::u16string_view text, uint32_t from, bool forward) const;
  // How many visible rows before `before` hold `text` in their entry.
  uint32_t CountEntryMatches(std::u16string_view text, uint32_t before = TableStore::kNoRow) const;
  // The visible positions of data rows first..first+count-1 (those the
  // filter shows), the first of them current; read after filtering again.
  RowSelection VisibleRows(uint32_t firstDataRow, uint32_t count) const;

 private:
  // Takes an order snapshot for an undo step, freeing old steps when memory
  // is short; empty (no undo step) when even that fails.
  std::optional<std::vector<uint32_t>> SnapshotOrder();
  void Record(UndoStep step, ChangeName::What what, Ordering ordering = Ordering::kSource);
  template <class Plan>
  RowSelection MoveSelected(const RowSelection& selection, Plan plan);

  TableStore& store_;
  UndoHistory history_;
};

}  // namespace mirel
