// Command-tip table generation: joins a tip code table (key TAB tip code)
// with a tip content table (key TAB content) on their keys and writes, for
// every code-table line whose key has a content, the line
// "$mlcmd(key,key[content])" TAB prefix + tip code + suffix. Code-table lines
// keep their order and repeats; a key repeated in the content table keeps its
// first content. Both tables break lines at any run of CR and LF, so blank
// lines vanish and a last line without a line end counts; a code-table line
// longer than 4096 units goes on as the next line. Reentrant.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "generate/error_log.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

inline constexpr std::u16string_view kTipsOutputName = u"cmdtipMBMake_result.txt";
inline constexpr size_t kTipCodeLineLimit = 4096;

// The failure messages, as the dialog shows them.
inline constexpr std::string_view kTipNoCodeTableMessage = "必须定义提示编码表。";
inline constexpr std::string_view kTipNoContentMessage =
    "无法读取提示内容表，请确认提示内容表路径的访问权限。";
inline constexpr std::string_view kTipNothingWrittenMessage =
    "无法创建提示码表，请检查提示编码表、提示内容表文件格式是否符合Mirel码表格式。";
inline constexpr std::string_view kTipContentWithoutRowsMessage =
    "提示内容表中没有“键 TAB 内容”的行，无法创建提示码表";
// I/O failures are not the tables' format: these name the file and the reason.
inline constexpr std::string_view kTipNoCodeTableReadMessage = "无法读取提示编码表";
inline constexpr std::string_view kTipOutputMessage = "无法写入提示码表";

// What the dialog reads at each run; the dialog limits each field to 259 units.
struct TipSettings {
  std::u16string codeTable, contentTable, prefix, suffix;
};

// Joins the two tables given as texts; appends the output lines (CR LF
// ended) to `out` and returns their count. Refused when the output would be
// far larger than the inputs (a content repeated by very many code lines);
// `out` then holds part of the lines.
Result<uint64_t> BuildCommandTipTexts(std::u16string_view codeTable,
                                      std::u16string_view contentTable, std::u16string_view prefix,
                                      std::u16string_view suffix, std::u16string& out);

// Writes the tip table to `output` (the caller passes the private temporary
// folder's path of kTipsOutputName) as UTF-16LE with the mark, replacing it.
// Fails with kTipNoCodeTableMessage when the code-table path is empty; with
// kTipNoContentMessage when the content table cannot be read, or
// kTipContentWithoutRowsMessage when it has no line with a TAB (the reason
// follows); with kTipNoCodeTableReadMessage and the
// reason when the code table cannot be read; with kTipNothingWrittenMessage
// when no key is in common; with kTipOutputMessage and the reason when the
// output cannot be written; and when the output would be far larger than the
// inputs. A failed run leaves `output` as it was. Returns the lines written
// and the lines without a TAB each table had, which were left out.
Result<GenerationReport> BuildCommandTips(FileSystem& fs, const TipSettings& settings,
                                          const std::filesystem::path& output);

// The tables of a run as the command line names them: paths are bytes there,
// and a name that is not UTF-8 must not become its lookalike.
struct TipFiles {
  std::filesystem::path codeTable, contentTable;
};
// As above, with the tables given apart; the paths of `settings` are unused.
Result<GenerationReport> BuildCommandTips(FileSystem& fs, const TipFiles& files,
                                          const TipSettings& settings,
                                          const std::filesystem::path& output);

// The dialog field a failure of BuildCommandTips concerns, to focus it.
enum class TipField { kNone, kCodeTable, kContentTable };
TipField TipFieldToFocus(const Status& failure);

}  // namespace mirel
