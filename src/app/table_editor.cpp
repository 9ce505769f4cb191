#include "app/table_editor.h"

#include <algorithm>
#include <new>

namespace mirel {
namespace {

std::u16string_view EntryOf(std::u16string_view row) { return row.substr(0, row.find(u'\t')); }

std::u16string_view CodeOf(std::u16string_view row) {
  const size_t tab = row.find(u'\t');
  return tab == std::u16string_view::npos ? std::u16string_view() : row.substr(tab + 1);
}

// The selection as one flag a visible row, and back.
std::vector<char> Flags(const RowSelection& selection, uint32_t count) {
  std::vector<char> flags(count, 0);
  for (uint32_t row : selection.rows) {
    if (row < count) flags[row] = 1;
  }
  return flags;
}

RowSelection FromFlags(const std::vector<char>& flags, std::optional<uint32_t> current) {
  RowSelection selection;
  for (uint32_t v = 0; v < flags.size(); ++v) {
    if (flags[v]) selection.rows.push_back(v);
  }
  selection.current = current;
  return selection;
}

}  // namespace

bool HoldsRowBreak(std::u16string_view field) {
  return field.find_first_of(std::u16string_view(u"\t\r\n\0", 4)) != std::u16string_view::npos;
}

Result<uint32_t> TableEditor::Open(const std::filesystem::path& path, bool anyName) {
  Result<uint32_t> loaded = store_.LoadTable(path, anyName);
  if (loaded.IsOk()) {
    Opened();
  } else if (!store_.IsOpen()) {
    // The file was read but its working copy could not be made: the old
    // table is gone, and its steps with it.
    history_.Clear();
  }
  return loaded;
}

void TableEditor::Opened() { history_.Clear(); }

void TableEditor::Close() {
  store_.CloseTable();
  history_.Clear();
}

Status TableEditor::Save(SaveMode mode, const std::filesystem::path& target,
                         const RetryPrompt& retry) {
  Status saved = store_.SaveTable(mode, target, retry);
  if (saved.IsOk()) history_.MarkSaved();
  return saved;
}

// The cause is kept as the kind of change, and the ordering above it.
void TableEditor::Record(UndoStep step, ChangeName::What what, Ordering ordering) {
  step.cause = static_cast<uint32_t>(what) | static_cast<uint32_t>(ordering) << 8;
  try {
    history_.Push(std::move(step));
  } catch (const std::bad_alloc&) {
    history_.Forget();
  }
  store_.SetDirty(!history_.AtSavedState());
}

std::optional<std::vector<uint32_t>> TableEditor::SnapshotOrder() {
  while (true) {
    try {
      return store_.RowSlots();
    } catch (const std::bad_alloc&) {
      if (!history_.DropOldest()) return std::nullopt;
    }
  }
}

uint32_t TableEditor::Delete(std::span<const uint32_t> visibleRows) {
  UndoStep step;
  step.kind = UndoStep::Kind::kDelete;
  for (uint32_t v : visibleRows) {
    const uint32_t i = store_.DataRowOf(v);
    if (i == TableStore::kNoRow) continue;
    step.positions.push_back(i);
  }
  std::sort(step.positions.begin(), step.positions.end());
  step.positions.erase(std::unique(step.positions.begin(), step.positions.end()),
                       step.positions.end());
  if (step.positions.empty()) return 0;
  for (uint32_t i : step.positions) step.rowSlots.push_back(store_.RowSlot(i));
  store_.TakeRows(step.positions);
  const auto deleted = static_cast<uint32_t>(step.positions.size());
  Record(std::move(step), ChangeName::What::kDelete);
  return deleted;
}

// Moves rows of the selection as `plan` says, as one undo step. The plan
// calls move(from, to, mark) with visible positions: the row at `from` goes to
// `to`, and `mark` is where the moved row's selection lands afterwards.
template <class Plan>
RowSelection TableEditor::MoveSelected(const RowSelection& selection, Plan plan) {
  const uint32_t count = store_.VisibleRowCount();
  std::vector<char> flags = Flags(selection, count);
  std::optional<uint32_t> current = selection.current;
  UndoStep step;
  step.kind = UndoStep::Kind::kMove;
  auto move = [&](uint32_t from, uint32_t to, uint32_t mark) {
    if (to > from) {
      step.rotations.push_back({store_.DataRowOf(from), store_.DataRowOf(to), true});
      store_.MoveRowLater(from, to);
    } else {
      step.rotations.push_back({store_.DataRowOf(to), store_.DataRowOf(from), false});
      store_.MoveRowEarlier(from, to);
    }
    flags[from] = 0;
    flags[mark] = 1;
    current = mark;
  };
  plan(flags, count, move);
  if (!step.rotations.empty()) Record(std::move(step), ChangeName::What::kMove);
  return FromFlags(flags, current);
}

RowSelection TableEditor::MoveUp(const RowSelection& selection) {
  return MoveSelected(selection, [](const std::vector<char>& flags, uint32_t count, auto move) {
    for (uint32_t p = 1; p < count; ++p) {
      if (flags[p] && !flags[p - 1]) move(p, p - 1, p - 1);
    }
  });
}

RowSelection TableEditor::MoveDown(const RowSelection& selection) {
  return MoveSelected(selection, [](const std::vector<char>& flags, uint32_t count, auto move) {
    for (uint32_t p = count; p-- > 0;) {
      if (flags[p] && p + 1 < count && !flags[p + 1]) move(p, p + 1, p + 1);
    }
  });
}

RowSelection TableEditor::MoveToTop(const RowSelection& selection) {
  // Each row moved lands above the ones moved before it, as the command has
  // always done; the rows already at the top stay.
  return MoveSelected(selection, [](const std::vector<char>& flags, uint32_t count, auto move) {
    uint32_t k = 0;
    for (uint32_t p = 0; p < count; ++p) {
      if (!flags[p]) continue;
      if (p > 0 && !flags[k]) move(p, 0, k);
      ++k;
    }
  });
}

RowSelection TableEditor::MoveToEnd(const RowSelection& selection) {
  return MoveSelected(selection, [](const std::vector<char>& flags, uint32_t count, auto move) {
    if (count == 0) return;
    uint32_t t = count - 1;
    for (uint32_t p = count; p-- > 0;) {
      if (!flags[p]) continue;
      if (p < t && !flags[t]) move(p, t, t);
      if (t == 0) break;
      --t;
    }
  });
}

int TableEditor::Modify(uint32_t visibleRow, std::u16string_view code, std::u16string_view entry) {
  const uint32_t i = store_.DataRowOf(visibleRow);
  if (i == TableStore::kNoRow) return 1;
  UndoStep step;
  step.kind = UndoStep::Kind::kModify;
  step.row = i;
  step.oldSlot = store_.RowSlot(i);
  step.oldText = std::u16string(store_.DataRowText(i));
  if (store_.ModifyRow(visibleRow, i, code, entry) != 0) return 1;
  step.newSlot = store_.RowSlot(i);
  step.newText = std::u16string(store_.DataRowText(i));
  Record(std::move(step), ChangeName::What::kModify);
  return 0;
}

Status TableEditor::Insert(uint32_t position, const std::vector<std::u16string>& rows) {
  Status inserted = store_.InsertRows(position, rows);
  if (!inserted.IsOk() || rows.empty()) return inserted;
  UndoStep step;
  step.kind = UndoStep::Kind::kInsert;
  for (uint32_t k = 0; k < rows.size(); ++k) {
    step.positions.push_back(position + k);
    step.rowSlots.push_back(store_.RowSlot(position + k));
  }
  Record(std::move(step), ChangeName::What::kInsert);
  return Status::Ok();
}

void TableEditor::Reorder(Ordering ordering) {
  if (!store_.IsOpen() || ordering == Ordering::kFrequency) return;
  std::optional<std::vector<uint32_t>> before = SnapshotOrder();
  // Only the frequency order reads a file and can fail; it goes elsewhere.
  (void)SortTable(store_, ordering);
  if (!before) {
    history_.Forget();
    store_.SetDirty(true);
    return;
  }
  UndoStep step;
  step.kind = UndoStep::Kind::kOrder;
  step.rowSlots = std::move(*before);
  Record(std::move(step), ChangeName::What::kReorder, ordering);
}

Result<LinesWithoutTab> TableEditor::SortByFrequency(const std::filesystem::path& frequencyFile) {
  std::optional<std::vector<uint32_t>> before = SnapshotOrder();
  Result<LinesWithoutTab> sorted = store_.SortByFrequency(frequencyFile);
  if (!sorted.IsOk()) return sorted;
  if (!before) {
    history_.Forget();
    store_.SetDirty(true);
    return sorted;
  }
  UndoStep step;
  step.kind = UndoStep::Kind::kOrder;
  step.rowSlots = std::move(*before);
  Record(std::move(step), ChangeName::What::kFrequencyOrder);
  return sorted;
}

uint32_t TableEditor::RemoveDuplicates() {
  if (!store_.IsOpen()) return 0;
  std::optional<std::vector<uint32_t>> before = SnapshotOrder();
  const uint32_t removed = store_.RemoveLaterDuplicates();
  if (removed == 0) {
    store_.SetDirty(!history_.AtSavedState());
    return 0;
  }
  if (!before) {
    history_.Forget();
    store_.SetDirty(true);
    return removed;
  }
  UndoStep step;
  step.kind = UndoStep::Kind::kOrder;
  step.rowSlots = std::move(*before);
  Record(std::move(step), ChangeName::What::kRemoveDuplicates);
  return removed;
}

std::optional<ChangeName> TableEditor::NextChange(bool redo) const {
  const UndoStep* step = history_.Next(redo);
  if (step == nullptr) return std::nullopt;
  ChangeName name;
  name.what = static_cast<ChangeName::What>(step->cause & 0xFF);
  name.ordering = static_cast<Ordering>(step->cause >> 8);
  switch (name.what) {
    case ChangeName::What::kDelete:
    case ChangeName::What::kInsert:
      name.rows = static_cast<uint32_t>(step->positions.size());
      break;
    case ChangeName::What::kMove:
      // Each rotation carries one row.
      name.rows = static_cast<uint32_t>(step->rotations.size());
      break;
    case ChangeName::What::kModify:
      name.rows = step->row;
      break;
    case ChangeName::What::kRemoveDuplicates: {
      // The step holds the order on the other side of the change, which
      // still (or again) has the rows the removal took.
      const uint32_t now = store_.RowCount();
      const auto other = static_cast<uint32_t>(step->rowSlots.size());
      name.rows = now > other ? now - other : other - now;
      break;
    }
    case ChangeName::What::kReorder:
    case ChangeName::What::kFrequencyOrder:
      break;
  }
  return name;
}

RowSelection TableEditor::VisibleRows(uint32_t firstDataRow, uint32_t count) const {
  // The filter keeps the table's order, so the visible rows' data positions
  // ascend.
  uint32_t low = 0, high = store_.VisibleRowCount();
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (store_.DataRowOf(middle) < firstDataRow) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  RowSelection selection;
  const uint64_t end = uint64_t{firstDataRow} + count;
  for (uint32_t v = low; v < store_.VisibleRowCount() && store_.DataRowOf(v) < end; ++v) {
    selection.rows.push_back(v);
  }
  if (!selection.rows.empty()) selection.current = selection.rows.front();
  return selection;
}

std::u16string TableEditor::CopyText(std::span<const uint32_t> visibleRows) const {
  std::u16string text;
  for (uint32_t v : visibleRows) {
    const uint32_t i = store_.DataRowOf(v);
    if (i == TableStore::kNoRow) continue;
    const std::u16string_view row = store_.DataRowText(i);
    text.append(CodeOf(row));
    text += u'\t';
    text.append(EntryOf(row));
    text.append(u"\r\n");
  }
  return text;
}

std::optional<uint32_t> TableEditor::FindEntry(std::u16string_view text, uint32_t from,
                                               bool forward) const {
  const uint32_t found = store_.FindInEntries(text, from, forward);
  if (found == TableStore::kNoRow) return std::nullopt;
  return found;
}

uint32_t TableEditor::CountEntryMatches(std::u16string_view text, uint32_t before) const {
  return store_.CountInEntries(text, before);
}

}  // namespace mirel
