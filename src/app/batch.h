// The batch grammar of the command line: "/do=TOOL" (or -do:TOOL, /do TOOL,
// ...) names a table tool to run without any window, further options name
// its files. Option and tool names match without regard to the case of A-Z;
// values keep their case. Relative paths resolve against the program's own
// folder. Both programs call RunBatchCommandLine before anything else; it
// shows no window and needs no display.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace mirel {

inline constexpr size_t kCommandLineLimit = 10240;
inline constexpr size_t kOptionNameLimit = 31;
inline constexpr size_t kOptionValueLimit = 259;

struct BatchOption {
  std::u16string name;
  std::u16string value;
};

// The "do" option first, then each known option found, in a fixed order.
struct BatchRequest {
  std::vector<BatchOption> options;
  // Every option the line names, as written ("/码表文件7"), and every word
  // that is no option's value, in order: RunBatch refuses the unknown and
  // the repeated.
  std::vector<std::u16string> named;

  const std::u16string& tool() const { return options.front().value; }
  // The value of the option, or null when it was not given.
  const std::u16string* Find(std::u16string_view name) const;
};

// Joins program arguments into one line, putting an argument that holds a
// space in double quotes.
std::u16string JoinArguments(std::span<const std::string> args);

// The first argument that is not UTF-8, or null. The batch grammar works on
// UTF-16 text, so such a path cannot pass through it: it would name a
// lookalike (U+FFFD for each bad byte) instead. Callers refuse the line.
const std::string* FirstArgumentNotUtf8(std::span<const std::string> args);

// Finds "/name=", "/name ", "/name:", "-name=", "-name " or "-name:" (the
// first pattern that occurs anywhere, at its first occurrence) and takes the
// value after it: up to the next double quote when it starts with one, else
// up to the next space.
std::optional<BatchOption> FindOption(std::u16string_view line, std::u16string_view name);

// Nothing when the line has no "do" option (the editor then starts).
std::optional<BatchRequest> ParseBatchLine(std::u16string_view line);

// Absolute values stay as they are; others are taken relative to
// `programFolder`, one leading backslash dropped.
std::filesystem::path ResolveBatchPath(std::u16string_view value,
                                       const std::filesystem::path& programFolder);

struct BatchEnvironment;
using BatchTool = std::function<int(const BatchRequest&, BatchEnvironment&)>;

struct BatchEnvironment {
  std::filesystem::path programFolder;
  std::filesystem::path tempBase;  // empty: $TMPDIR or /tmp
  std::ostream& err;
  FileSystem& fs;
  std::string programName = "mirel";
  // Progress is drawn as one rewritten line, and only on a terminal.
  bool errIsTerminal = false;
};

// The tool names the dispatcher knows, in the order they are matched.
inline constexpr std::u16string_view kToolConvert = u"码表格式转换";
inline constexpr std::u16string_view kToolSingleCharacters = u"单字码表生成";
inline constexpr std::u16string_view kToolMerge = u"合并码表";
inline constexpr std::u16string_view kToolWordLibrary = u"词库生成";
inline constexpr std::u16string_view kToolExtractSingle = u"提取单字编码";
inline constexpr std::u16string_view kToolRemoveDuplicates = u"删除重复";
inline constexpr std::u16string_view kToolSortByFrequency = u"依据词频表排序";

inline constexpr std::u16string_view kExtractSingleOutput = u"[ 提取的单字 ].txt";
inline constexpr std::u16string_view kRemoveDuplicatesOutput = u"[ 去重结果 ].txt";
inline constexpr std::u16string_view kSortOutput = u"[ 排序结果 ].txt";

// One option a batch tool reads.
struct BatchOptionRow {
  std::u16string_view name;
  std::string_view valueName;  // TABLE, FILE, ...
  std::string_view help;
};

// One row of the batch tools: the dispatcher, `mirel-tool batch --help` and
// the editor's manual page read these.
struct BatchToolRow {
  std::u16string_view name;
  std::string_view summary;
  std::vector<BatchOptionRow> options;
  std::string_view notes;      // how options combine, what a value may be
  std::u16string_view output;  // the result's name, beside the source
  BatchTool run;
};

// In the order the tool names are matched.
const std::vector<BatchToolRow>& BatchTools();
// The row of a tool name folded as the grammar folds it, or null.
const BatchToolRow* FindBatchTool(std::u16string_view name);
// Every option name the grammar collects, in the order it collects them.
std::span<const std::u16string_view> BatchOptionNames();

// Runs the tool the request names. Exit status: 0 success, 1 failure (the
// message is on `err`), 2 unknown tool, or an option the tool does not read
// or one given twice.
int RunBatch(const BatchRequest& request, BatchEnvironment& env);

// Parses the arguments as one batch line and runs it; nothing when the line
// names no tool. A line with an argument that is not UTF-8 fails (status 1)
// before anything is opened.
std::optional<int> RunBatchCommandLine(std::span<const std::string> args, BatchEnvironment& env);

}  // namespace mirel
