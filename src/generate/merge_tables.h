// Merging code tables ("码表合并"): up to six tables are joined on their
// entries. Every line of the first table whose entry occurs in each further
// table is written once for every way of choosing one code of that entry from
// each further table, as the first table's code followed by the chosen codes.
// Lines follow the first table; the choices run as nested loops with table 2
// outermost and the last table innermost.
//
// Tables are read up to their first empty line; any of CR LF, CR and LF ends
// a line, and a line without a TAB is skipped; both are reported. Each further table is indexed
// once in a hash table over views into its text, so a merge costs one lookup
// per first-table line and further table. Output lines are at most 511
// units with their CR LF. Reentrant; progress runs on the calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "generate/error_log.h"
#include "platform/file_system.h"
#include "platform/progress.h"
#include "platform/status.h"

namespace mirel {

inline constexpr std::u16string_view kMergeOutputName = u"[ 码表合并结果 ].txt";
inline constexpr size_t kMergeTableCount = 6;
inline constexpr size_t kMergePathLimit = 259;           // units of one path in the settings
inline constexpr size_t kMergeSettingsTextLimit = 4095;  // units of the settings box parsed
inline constexpr size_t kMergeLineLimit = 511;           // units of an output line with CR LF
inline constexpr std::string_view kMergeNoFirstTableMessage = "必须指定用于合并的第一码表。";

// The tool's settings, "码表1" to "码表6"; the application keeps one for the
// life of the process. Empty paths take no part.
struct MergeSettings {
  std::array<std::u16string, kMergeTableCount> tables;
};

// "码表1=…\r\n" to "码表6=…\r\n".
std::u16string FormatMergeSettings(const MergeSettings& settings);

// Reads the first kMergeSettingsTextLimit units of `text`: for each "码表k="
// found, at most kMergePathLimit units after it, up to the first CR or LF,
// become table k's path. Tables not named are empty.
MergeSettings ParseMergeSettings(std::u16string_view text);

// Merges tables given as texts: `first`, then the further tables in order.
// Appends the output lines (CR LF ended) to `out` and returns their count.
// Refused when the output would be far larger than the inputs (an entry
// repeated in every table multiplies its lines); `out` then holds part of
// the lines.
Result<uint64_t> MergeTableTexts(std::u16string_view first,
                                 const std::vector<std::u16string_view>& further,
                                 std::u16string& out, const GenerationProgress& progress = {});

// Merges the tables of `settings` (paths already resolved) into `output`, or
// into MergeOutputPath of the first table when `output` is empty, as UTF-16LE
// with the mark, replaced atomically. The given tables take part in position
// order; empty paths are skipped. Fails with kMergeNoFirstTableMessage when the
// first table does not exist, names the table when one cannot be read, and
// fails when the output would be far larger than the inputs; the output is
// then left as it was. Returns the number of lines written and, per table,
// the lines it left out.
Result<GenerationReport> MergeTables(FileSystem& fs, const MergeSettings& settings,
                                     const std::filesystem::path& output,
                                     const GenerationProgress& progress = {});

// As MergeTables, with the paths as the command line gives them: bytes, which
// need not be UTF-8.
Result<GenerationReport> MergeTableFiles(
    FileSystem& fs, const std::array<std::filesystem::path, kMergeTableCount>& tables,
    const std::filesystem::path& output, const GenerationProgress& progress = {});

// kMergeOutputName in the folder of `firstTable`.
std::filesystem::path MergeOutputPath(const std::filesystem::path& firstTable);

}  // namespace mirel
