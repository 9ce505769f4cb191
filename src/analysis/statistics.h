// The statistics report of a code table: code lengths, duplicate codes
// (重码), code elements (码元) and their shares, code-space use, entry
// lengths and redefinitions (容错码). Counting is a single pass with hash
// tables; the figures are those of a pass over the table in code order and
// one in entry order. Reentrant; reads the store, never changes it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "store/table_store.h"

namespace mirel {

inline constexpr std::u16string_view kStatisticsReportName = u"码表信息统计文档.txt";

struct TableStatistics {
  static constexpr int kMore = 5;  // classes 1 to 4, then 5 and more
  // Indexed by length class 1..5; index 0 holds rows with an empty code or
  // entry, which no class counts.
  std::array<uint32_t, 6> codes{}, entries{}, duplicates{}, redefinitions{};
  std::u16string elements;                    // the code element set, ascending, at most 127
  std::array<uint32_t, 128> elementCounts{};  // by the unit's low seven bits
  uint64_t elementTotal = 0;
};

// Measures the rows of the open table.
TableStatistics MeasureTable(const TableStore& store);
TableStatistics MeasureRows(const std::vector<std::u16string_view>& rows);

// The report text, line ends CR LF.
std::u16string FormatStatisticsReport(const TableStatistics& statistics);

// Writes the report of the open table to `target` as UTF-16LE with a mark,
// replacing it atomically.
Status WriteStatisticsReport(const TableStore& store, const std::filesystem::path& target);

}  // namespace mirel
