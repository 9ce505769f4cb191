// TableStore: the one open code table of the editor and of the table tools.
//
// The decoded table lives in the working data file, a mapped file in the
// private temporary folder:
//   offset 0        R, the row count (uint32, little-endian)
//   offset 4        R byte offsets, one per row in the table's present order
//   offset 4 + 4R   the decoded text, every line end replaced by NUL units,
//                   then one NUL; texts of modified rows are appended later.
// Rows are lines that hold a TAB; the entry is the text before the first TAB,
// the code everything after it. Orderings and edits rewrite only the offset
// table; text never moves.
//
// The filter file is a snapshot of the working data file in which the offset
// table lists only the rows whose code matches the filter, followed (at the
// data file's size D) by the row map from visible rows to data rows. The list
// view reads only the snapshot, so callers filter again after every change.
//
// A store made with WorkingData::kMemory keeps both in anonymous memory
// instead, and makes the snapshot only when a filter is first applied: the
// command-line tools, which never filter, leave nothing in the folder.
//
// Visible rows (v) count positions under the filter, data rows (i) positions
// in the whole table, both 0-based. The store shows no messages; failures are
// returned. Single-threaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"
#include "platform/temp_folder.h"
#include "store/character_class.h"
#include "store/compiled_table.h"
#include "store/lines_without_tab.h"
#include "store/text_file.h"

namespace mirel {

inline constexpr std::u16string_view kDataFileName = u"kv_tolvik_data.ktw";
inline constexpr std::u16string_view kFilterFileName = u"kv_tolvik_data_filter.ktw";
inline constexpr std::u16string_view kSpareFilterFileName = u"kv_tolvik_data_filter_2.ktw";
inline constexpr std::u16string_view kCompiledTextName = u"kv_tolvik_tempmb.txt";
inline constexpr std::u16string_view kCompiledTempName = u"kv_tolvik_tempktb.ktb";
inline constexpr size_t kRowTextLimit = 259;

enum class RowTextKind { kEntry = 0, kCode = 1, kVisibleNumber = 2, kDataNumber = 3 };

enum class SaveMode { kSaveAs = 0, kSave = 1 };

// Where a table opened from a compiled table is compiled back to, with the
// header values to write back unchanged.
struct CompiledTarget {
  std::filesystem::path path;
  OpaqueHeader header;
};

enum class WorkingData { kFiles, kMemory };

// Asked while a compiled table cannot be replaced; true means "try again".
using RetryPrompt = std::function<bool(const Status& failure)>;

class TableStore {
 public:
  // The store reaches every file through `fs` and keeps its working files in
  // `temp`; saving into a compiled table takes the character classes from
  // `classes` (the built-in lists when null). All must outlive the store.
  TableStore(FileSystem& fs, const TempFolder& temp, const CharacterClassTable* classes = nullptr,
             WorkingData working = WorkingData::kFiles)
      : fs_(fs), temp_(temp), classes_(classes), working_(working) {}
  ~TableStore() { CloseTable(); }
  TableStore(const TableStore&) = delete;
  TableStore& operator=(const TableStore&) = delete;

  // Opens a code table named .txt or .ktb (any case), or of any name when
  // `anyName` (the caller has looked at its content), and filters it with an
  // empty filter (a kMemory store leaves that to the first ApplyFilter). A file that starts with a
  // compiled table's header, whatever its name, opens through its text in the temporary folder; a
  // .ktb that does not is refused. Returns the row count. A file that cannot be read or is refused
  // leaves the open table as it was; a text with lines but none with a TAB is refused; when the
  // working files cannot be made no table is open afterwards.
  Result<uint32_t> LoadTable(const std::filesystem::path& path, bool anyName = false);
  // The lines the open table's file had without a TAB, left out of its rows.
  const LinesWithoutTab& linesWithoutTab() const { return linesWithoutTab_; }

  // Rebuilds the filter file: rows whose code starts with `filterText`, or
  // (exact) equals it; units compared as numbers, so case matters. Returns R
  // for an empty filter, 0 otherwise. When the filter file cannot be made the
  // failure is returned and the previous snapshot, if any, stays as it was:
  // after a change to the rows it no longer matches them (see filterStale).
  Result<uint32_t> ApplyFilter(std::u16string_view filterText, bool exact);

  uint32_t VisibleRowCount() const;
  // The snapshot lists the rows as they were before the last change: the
  // filter that followed the change failed.
  bool filterStale() const { return filterStale_; }
  uint32_t RowCount() const;
  bool IsOpen() const { return data_ != nullptr; }

  // Text of visible row v (entry or code cut to 259 units, or the visible or
  // data row number as decimal). False with `out` empty when v is out of
  // range or no table is open.
  bool RowText(uint32_t v, RowTextKind kind, std::u16string& out) const;

  // The data row shown as visible row v, or kNoRow when v is out of range.
  static constexpr uint32_t kNoRow = 0xFFFFFFFFu;
  uint32_t DataRowOf(uint32_t v) const;
  // The whole text (entry TAB code) of data row i in the working data file.
  std::u16string_view DataRowText(uint32_t i) const;

  // Writes every row, in the present order, as UTF-16LE text with the mark
  // FF FE and CR LF after each row, replacing `target` atomically. Clears
  // `dirty` only when the file was written.
  Status WriteTableText(const std::filesystem::path& target);

  // kSaveAs writes text to `target` (currentPath is unchanged); kSave writes
  // to currentPath, or, for a table opened from a compiled table, compiles
  // it and replaces that compiled table, asking `retry` while the
  // replacement fails. A failed save leaves the old file intact and `dirty`
  // set. A table without rows is not compiled: the compiled table stays.
  // After a kSave of text, encoding() is UTF-16LE and no line is left out:
  // that is what the file holds now. CheckTextSave says beforehand what
  // such a save changes.
  Status SaveTable(SaveMode mode, const std::filesystem::path& target = {},
                   const RetryPrompt& retry = {});

  // Reads the table again from currentPath (the file a save wrote last),
  // which puts every row back at its text position in that file. Keeps the
  // compiled-table state and marks the table changed. A file that cannot be
  // read leaves the open table as it was.
  Status ReloadSaved();

  const TempFolder& temp() const { return temp_; }
  FileSystem& fs() const { return fs_; }

  // Closes and removes the working files and resets the store to "no
  // table". A text in the temporary folder the table was opened from (a
  // compiled table's text, a converted table) is a working file too: it goes
  // when its table is closed or another opened.
  void CloseTable();

  // Row editing. ModifyRow returns 0, or 1 when the working data file could
  // not be grown (nothing changes then) or a row is out of range; RewriteRow
  // does the same and says why it failed. DeleteRow returns 1 in every case
  // (an out-of-range row does nothing). The moves do nothing unless both
  // visible rows are in range and in the named order; they update the filter
  // snapshot and row map themselves, so callers need not filter again after
  // a move.
  int ModifyRow(uint32_t v, uint32_t i, std::u16string_view code, std::u16string_view entry);
  Status RewriteRow(uint32_t v, uint32_t i, std::u16string_view code, std::u16string_view entry);
  int DeleteRow(uint32_t i);
  // Inserts rows (each "entry TAB code") as data rows position, position + 1,
  // ...; position R appends. Their text is appended to the working data file.
  // Fails, changing nothing, when a row has no TAB or the file cannot grow.
  Status InsertRows(uint32_t position, const std::vector<std::u16string>& rows);
  // The rows of a text table file (any supported encoding), as LoadTable
  // would list them; refused like LoadTable when no line holds a TAB.
  static Result<std::vector<std::u16string>> ReadRows(FileSystem& fs,
                                                      const std::filesystem::path& path);
  void MoveRowLater(uint32_t from, uint32_t to);
  void MoveRowEarlier(uint32_t from, uint32_t to);

  // Orderings of the whole table; each sets `dirty`. Without an open table
  // they do nothing.
  void SortBySource();
  void SortByCode(int variant);   // 1: a-ab-b, 2: a-b-ab (shorter codes first)
  void SortByEntry(int variant);  // 1: unit order, 2: fewer characters first
  // Smaller frequency first (compared as unsigned 32-bit); rows of equal
  // frequency keep their present order. Returns the file's lines without a
  // TAB, which were left out. A file that cannot be read, or is a compiled
  // table, changes nothing and is returned as the failure.
  Result<LinesWithoutTab> SortByFrequency(const std::filesystem::path& frequencyFile);

  // Removes every row whose whole text equals an earlier row's (by text
  // position) and leaves the table in source order. Returns the new R.
  uint32_t RemoveDuplicates();

  // Writes, in the present order, every row whose entry is one character.
  // Returns the number of rows written.
  Result<uint32_t> ExportSingleCharacters(const std::filesystem::path& target);
  // Writes each entry with its present 1-based row number: entry TAB number.
  Status ExportInstantFrequency(const std::filesystem::path& target);

  const std::filesystem::path& currentPath() const { return currentPath_; }
  bool fromCompiled() const { return fromCompiled_; }
  const CompiledTarget& compiledTarget() const { return compiledTarget_; }
  // For a compiled table opened by other means (an installed copy): where a
  // save compiles to.
  void SetCompiledTarget(CompiledTarget target) { compiledTarget_ = std::move(target); }
  bool dirty() const { return dirty_; }
  void ClearDirty() { dirty_ = false; }

 private:
  uint32_t* DataOffsets();
  const uint32_t* DataOffsets() const;
  const char16_t* DataUnits(uint32_t byteOffset) const;
  const uint32_t* FilterOffsets() const;
  uint32_t* FilterOffsets();
  const char16_t* FilterUnits(uint32_t byteOffset) const;
  Result<uint32_t> LoadText(const std::filesystem::path& path);
  Result<uint32_t> LoadText(const std::filesystem::path& path, std::string bytes);
  std::optional<Result<uint32_t>> LoadIntoMemory(const std::string& where, std::string& bytes);
  // A pipe or device, read once; a compiled table is told by its header.
  Result<uint32_t> LoadStream(const std::filesystem::path& path);
  void ResetTable();
  void RemoveWorkingText(const std::filesystem::path& keep);
  Status WriteRows(const std::filesystem::path& target) const;
  Status SaveCompiled(const RetryPrompt& retry);
  Result<std::unique_ptr<WorkingFile>> MakeWorkingFile(
      std::u16string_view name, std::initializer_list<std::span<const std::byte>> pieces,
      uint32_t size) const;
  // A compiled table's text: checked, and named in the temporary folder.
  Result<std::filesystem::path> CompiledTextPath(const std::filesystem::path& path,
                                                 std::span<const std::byte> compiled);
  // Its text opened without a file in the temporary folder.
  Result<uint32_t> LoadCompiledInMemory(const std::filesystem::path& path,
                                        const std::filesystem::path& text,
                                        std::span<const std::byte> compiled);
  // Marks a table loaded from its text as opened from the compiled `path`.
  Result<uint32_t> OpenedFromCompiled(Result<uint32_t> loaded, const std::filesystem::path& path,
                                      const OpaqueHeader& header);
  template <class MakeKey, class FullCompare>
  void SortByKey(MakeKey makeKey, FullCompare fullCompare);

  FileSystem& fs_;
  const TempFolder& temp_;
  const CharacterClassTable* classes_;
  WorkingData working_;
  CompiledTarget compiledTarget_;
  std::unique_ptr<WorkingFile> data_;
  std::unique_ptr<WorkingFile> filter_;
  // The row map sits at the data file's size, which need not be 4-aligned.
  uint32_t RowMapAt(uint32_t v) const;
  void SetRowMapAt(uint32_t v, uint32_t i);
  std::byte* rowMap_ = nullptr;
  // The text of the working data file changed since the filter copied it.
  bool textChanged_ = false;
  // Where the text region starts: the offset table may grow up to here.
  uint32_t textBase_ = 0;
  uint32_t snapshotDataSize_ = 0;
  std::filesystem::path filterPath_;
  bool filterStale_ = false;
  std::filesystem::path currentPath_;
  bool fromCompiled_ = false;
  bool dirty_ = false;
  LinesWithoutTab linesWithoutTab_;

  // ---- Row slots: what undo and redo work with (undo_history.cpp) ----
  //
  // A row's slot is where its text starts, counted in bytes from the start of
  // the text region, so it stays valid when inserting moves the region. A
  // slot, once written, keeps its text until an edit of that same row
  // rewrites it in place; the calls below only ever put back texts that were
  // in a slot before, so they always fit.
 public:
  uint32_t RowSlot(uint32_t i) const;
  // The slots of all rows in the present order: 4 bytes a row.
  std::vector<uint32_t> RowSlots() const;
  // Makes `rowSlots` the table's rows, in that order. Fails, changing nothing,
  // when the offset table has no room for them (never for an order this
  // table had before).
  Status SetRowSlots(std::span<const uint32_t> rowSlots);
  // Puts rows back: rowSlots[k] becomes data row positions[k] (ascending, as
  // they are to stand afterwards). Same failure as SetRowSlots.
  Status PutRows(std::span<const uint32_t> positions, std::span<const uint32_t> rowSlots);
  // Removes the data rows at `positions` (ascending, present indices).
  void TakeRows(std::span<const uint32_t> positions);
  // Rotates data rows first..last by one: towardStart moves `first` to
  // `last` (as MoveRowLater does), otherwise `last` moves to `first`.
  void RotateRows(uint32_t first, uint32_t last, bool towardStart);
  // Writes `text` (entry TAB code) into `slot` and makes it data row i.
  Status SetRowText(uint32_t i, uint32_t slot, std::u16string_view text);
  void SetDirty(bool dirty) { dirty_ = dirty; }

  // Removes every row whose whole text equals an earlier row's in the present
  // order, keeping the order of the rest. Returns the number removed.
  uint32_t RemoveLaterDuplicates();
  // Find in the entries of the visible rows (the filter snapshot): the first
  // row from `from`, going forward or back and wrapping around once, whose
  // entry holds `text`, or kNoRow; and how many rows hold it (of those above
  // `before` only). A text with a TAB is in no entry.
  uint32_t FindInEntries(std::u16string_view text, uint32_t from, bool forward) const;
  uint32_t CountInEntries(std::u16string_view text, uint32_t before = kNoRow) const;
  // The encoding the open table's text was read in.
  TextEncoding encoding() const { return encoding_; }

 private:
  TextEncoding encoding_ = TextEncoding::kLegacy;
};

}  // namespace mirel
