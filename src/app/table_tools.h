// The whole-table tools shared by the batch grammar and mirel-tool: load a
// table into a TableStore, reorder or clean it, write the result. Each run
// closes the table again. A failure names the file and leaves any existing
// output untouched.
#pragma once

#include <cstdint>
#include <filesystem>

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

enum class TableOrder { kSource, kCode1, kCode2, kEntry1, kEntry2, kFrequency };

struct TableToolRequest {
  TableTool tool = TableTool::kRemoveDuplicates;
  std::filesystem::path source;
  std::filesystem::path output;
  TableOrder order = TableOrder::kSource;  // kSort only
  std::filesystem::path frequencyFile;     // kSortByFrequency, or kSort by kFrequency
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
