// The whole-table tools shared by the batch grammar and mirel-tool: load a
// table into a TableStore, reorder or clean it, write the result. Each run
// closes the table again. A failure names the file and leaves any existing
// output untouched. The orders and their names here are the editor's too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "platform/status.h"
#include "store/table_store.h"

namespace mirel {

enum class TableTool {
  kExtractSingle,
  kRemoveDuplicates,
  kSortByFrequency,
  kSort,
  kExportFrequency
};

// The orders a whole table can be put in. The editor records them in its
// undo steps by number, so new ones go at the end.
enum class Ordering { kSource, kCode1, kCode2, kEntry1, kEntry2, kFrequency };

// An ordering's names: `cli` on mirel-tool's command line, `shown` in the
// editor's results and undo texts.
struct OrderingName {
  Ordering ordering;
  std::string_view cli;
  std::u16string_view shown;
};
std::span<const OrderingName> OrderingNames();
std::optional<Ordering> OrderingFromCli(std::string_view cli);
std::u16string_view ShownName(Ordering ordering);

// Reorders the open table. Only kFrequency reads `frequencyFile`; it returns
// the lines of that file that were left out for want of a TAB.
Result<LinesWithoutTab> SortTable(TableStore& store, Ordering ordering,
                                  const std::filesystem::path& frequencyFile = {});

struct TableToolRequest {
  TableTool tool = TableTool::kRemoveDuplicates;
  std::filesystem::path source;
  std::filesystem::path output;
  Ordering order = Ordering::kSource;   // kSort only
  std::filesystem::path frequencyFile;  // kSortByFrequency, or kSort by kFrequency
  // Opens the source whatever its name (a pipe, /dev/fd/N), by its content.
  bool anyName = false;
};

struct TableToolReport {
  uint32_t rowsRead = 0;
  uint32_t rowsWritten = 0;         // the rest were left out by the tool (duplicates, words)
  LinesWithoutTab linesWithoutTab;  // of the source, left out of its rows
  LinesWithoutTab frequencyLinesWithoutTab;  // of the frequency file, left out
};

Result<TableToolReport> RunTableTool(TableStore& store, const TableToolRequest& request);

}  // namespace mirel
