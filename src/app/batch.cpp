#include "app/batch.h"

#include <algorithm>
#include <array>
#include <memory>

#include "app/table_tools.h"
#include "convert/rule_conversion.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/status.h"
#include "platform/temp_folder.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"
#include "store/table_store.h"
#include "store/text_file.h"

namespace mirel {
namespace {

// A regular file or a stream (a pipe given as a source is read to its end).
bool IsReadableSource(FileSystem& fs, const std::filesystem::path& path) {
  Result<PathInfo> info = fs.Query(path);
  return info.IsOk() && (info->kind == PathKind::kRegular || info->kind == PathKind::kStream);
}

// Every option name the grammar knows, written once: the tools' rows and
// their runs name options only through these.
namespace opt {
constexpr std::u16string_view kFrequencyFile = u"词频表文件";
constexpr std::u16string_view kOptions = u"选项";
constexpr std::u16string_view kSource = u"源码表文件";
constexpr std::u16string_view kRuleFile = u"规则文件";
constexpr std::u16string_view kSeparatorsOld = u"分割符";  // an older spelling of kSeparators
constexpr std::u16string_view kSeparators = u"分割字符";
constexpr std::u16string_view kSplitTable = u"单字拆分表文件";
constexpr std::u16string_view kKeyMap = u"键盘映射表文件";
constexpr std::array<std::u16string_view, 6> kMergeTables = {
    u"码表文件1", u"码表文件2", u"码表文件3", u"码表文件4", u"码表文件5", u"码表文件6"};
constexpr std::u16string_view kCharTable = u"编码表文件";
constexpr std::u16string_view kAuxTable = u"辅助码表文件";
constexpr std::u16string_view kWordList = u"词库文件";
constexpr std::u16string_view kWordRules = u"构词规则文件";
}  // namespace opt
static_assert(opt::kMergeTables.size() == kMergeTableCount);

// In the order the grammar collects them.
constexpr std::array<std::u16string_view, 18> kOptionNames = {
    opt::kFrequencyFile,  opt::kOptions,        opt::kSource,         opt::kRuleFile,
    opt::kSeparatorsOld,  opt::kSeparators,     opt::kSplitTable,     opt::kKeyMap,
    opt::kMergeTables[0], opt::kMergeTables[1], opt::kMergeTables[2], opt::kMergeTables[3],
    opt::kMergeTables[4], opt::kMergeTables[5], opt::kCharTable,      opt::kAuxTable,
    opt::kWordList,       opt::kWordRules};

}  // namespace

const std::u16string* BatchRequest::Find(std::u16string_view name) const {
  for (const BatchOption& option : options) {
    if (option.name == name) return &option.value;
  }
  return nullptr;
}

std::u16string JoinArguments(std::span<const std::string> args) {
  std::u16string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += u' ';
    std::u16string text = Utf8ToUtf16(arg);
    size_t space = text.find(u' ');
    if (space == std::u16string::npos || text.find(u'"') != std::u16string::npos) {
      line += text;
    } else {
      // Quote the value only, so "-name=a b" becomes -name="a b" as typed on
      // the home platform's command line.
      size_t sep = text.find_first_of(u"=:");
      if (sep != std::u16string::npos && sep < space && (text[0] == u'/' || text[0] == u'-')) {
        line += text.substr(0, sep + 1);
        line += u'"';
        line += text.substr(sep + 1);
        line += u'"';
      } else {
        line += u'"';
        line += text;
        line += u'"';
      }
    }
  }
  return line;
}

std::optional<BatchOption> FindOption(std::u16string_view line, std::u16string_view name) {
  const std::u16string folded = FoldAscii(line);
  const std::u16string foldedName = FoldAscii(name.substr(0, 63));
  constexpr std::array<char16_t, 2> kLeads = {u'/', u'-'};
  constexpr std::array<char16_t, 3> kSeparators = {u'=', u' ', u':'};
  for (char16_t lead : kLeads) {
    for (char16_t separator : kSeparators) {
      std::u16string pattern;
      pattern += lead;
      pattern += foldedName;
      pattern += separator;
      size_t at = folded.find(pattern);
      if (at == std::u16string::npos) continue;
      size_t start = at + pattern.size();
      std::u16string value;
      if (start < line.size() && line[start] == u'"') {
        NextToken(line.substr(start), u"\"", value, kOptionValueLimit + 1);
      } else if (start >= line.size()) {
        return std::nullopt;
      } else {
        NextToken(line.substr(start), u" ", value, kOptionValueLimit + 1);
      }
      return BatchOption{std::u16string(name.substr(0, kOptionNameLimit)), std::move(value)};
    }
  }
  return std::nullopt;
}

namespace {

// The words of the line that name options ("/name", "-name"), each with the
// value after it skipped as FindOption takes it, and the words left over.
std::vector<std::u16string> NamedOptions(std::u16string_view line) {
  std::vector<std::u16string> named;
  size_t k = 0;
  auto skipValue = [&] {
    if (k < line.size() && line[k] == u'"') {
      const size_t close = line.find(u'"', k + 1);
      k = close == std::u16string_view::npos ? line.size() : close + 1;
    }
    while (k < line.size() && line[k] != u' ') ++k;
  };
  while (k < line.size()) {
    if (line[k] == u' ') {
      ++k;
      continue;
    }
    const size_t start = k;
    if (line[k] != u'/' && line[k] != u'-') {
      skipValue();
      named.emplace_back(line.substr(start, k - start));
      continue;
    }
    while (k < line.size() && line[k] != u'=' && line[k] != u':' && line[k] != u' ') ++k;
    named.emplace_back(line.substr(start, k - start));
    if (k < line.size() && line[k] == u' ') {
      while (k < line.size() && line[k] == u' ') ++k;
    } else if (k < line.size()) {
      ++k;
    }
    skipValue();
  }
  return named;
}

}  // namespace

std::optional<BatchRequest> ParseBatchLine(std::u16string_view line) {
  if (line.size() >= kCommandLineLimit) return std::nullopt;
  std::optional<BatchOption> tool = FindOption(line, u"do");
  if (!tool) return std::nullopt;
  BatchRequest request;
  request.options.push_back(std::move(*tool));
  for (std::u16string_view name : kOptionNames) {
    if (std::optional<BatchOption> option = FindOption(line, name)) {
      request.options.push_back(std::move(*option));
    }
  }
  request.named = NamedOptions(line);
  return request;
}

std::filesystem::path ResolveBatchPath(std::u16string_view value,
                                       const std::filesystem::path& programFolder) {
  if (!value.empty() && value[0] == u'/') return PathFromUtf16(value);
  if (!value.empty() && value[0] == u'\\') value.remove_prefix(1);
  return programFolder / PathFromUtf16(value);
}

namespace {

// Draws the progress title as one rewritten line on a terminal.
class BatchProgress {
 public:
  explicit BatchProgress(BatchEnvironment& env) : env_(env) {}
  ~BatchProgress() {
    if (drawn_) env_.err << "\n";
  }
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;
  void operator()(std::u16string_view title) {
    if (!env_.errIsTerminal) return;
    WriteControl(env_.err, "\r");
    env_.err << Utf16ToUtf8(title);
    WriteControl(env_.err, "\x1b[K");
    env_.err << std::flush;
    drawn_ = true;
  }

 private:
  BatchEnvironment& env_;
  bool drawn_ = false;
};

// Every batch message: "PROGRAM: TOOL: what".
void Say(BatchEnvironment& env, std::u16string_view tool, const std::string& what) {
  env.err << env.programName << ": " << Utf16ToUtf8(tool) << ": " << what << "\n";
}

int Fail(BatchEnvironment& env, std::u16string_view tool, const Status& status) {
  Say(env, tool, status.message());
  return 1;
}

// "what (why)": the tool's own words, then the engine's reason.
Status Because(const std::string& what, const std::string& why) {
  return Status::IoError("", what + " (" + why + ")");
}

// The batch tools write beside their source under fixed names, so only a
// source that already carries that name can be overwritten.
Status KeepSourceApart(BatchEnvironment& env, const std::filesystem::path& output,
                       std::initializer_list<std::filesystem::path> inputs) {
  return RefuseOutputOverInput(env.fs, output, inputs,
                               "rename the source, since the result always takes that name");
}

int RunConversionBatch(const BatchRequest& request, BatchEnvironment& env) {
  RuleConversionSettings settings;
  if (const std::u16string* value = request.Find(opt::kSource)) settings.sourcePath = *value;
  if (const std::u16string* value = request.Find(opt::kRuleFile)) {
    const std::filesystem::path rules = ResolveBatchPath(*value, env.programFolder);
    Result<TextBuffer> text = ReadTextFile(env.fs, rules);
    if (!text.IsOk()) {
      return Fail(env, kToolConvert, Because("cannot read the rule file", text.status().message()));
    }
    settings.ruleText = text->text.substr(0, 4095);
  }
  for (std::u16string_view name : {opt::kSeparators, opt::kSeparatorsOld}) {
    if (const std::u16string* value = request.Find(name)) {
      settings.separatorText = *value;
      break;
    }
  }
  if (const std::u16string* value = request.Find(opt::kOptions)) settings.layoutOption = *value;
  const std::filesystem::path source = ResolveBatchPath(settings.sourcePath, env.programFolder);
  if (!IsReadableSource(env.fs, source)) {
    return Fail(env, kToolConvert,
                Because(Utf16ToUtf8(u"必须定义有效的源码表文件路径"), source.string()));
  }
  const std::filesystem::path output = ConversionOutputPath(source);
  if (Status apart = KeepSourceApart(env, output, {source}); !apart.IsOk()) {
    return Fail(env, kToolConvert, apart);
  }
  BatchProgress progress(env);
  if (!settings.ruleText.empty()) {
    Result<uint64_t> done =
        RunRuleConversion(env.fs, source, settings.ruleText, output, std::ref(progress));
    if (!done.IsOk()) {
      return Fail(env, kToolConvert,
                  Because(Utf16ToUtf8(u"无法根据转换规则转换文本文件。"), done.status().message()));
    }
  } else {
    Result<uint64_t> done =
        RunLayoutConversion(env.fs, source, settings.separatorText,
                            LayoutFromOption(settings.layoutOption), output, std::ref(progress));
    if (!done.IsOk()) {
      return Fail(env, kToolConvert,
                  Because(Utf16ToUtf8(u"无法转换文本文件。"), done.status().message()));
    }
  }
  return 0;
}

int RunMergeBatch(const BatchRequest& request, BatchEnvironment& env) {
  MergeSettings settings;
  for (size_t k = 0; k < settings.tables.size(); ++k) {
    if (const std::u16string* value = request.Find(opt::kMergeTables[k])) {
      settings.tables[k] = PathToUtf16(ResolveBatchPath(*value, env.programFolder));
    }
  }
  if (settings.tables[0].empty() || !IsReadableSource(env.fs, PathFromUtf16(settings.tables[0]))) {
    Say(env, kToolMerge, std::string(kMergeNoFirstTableMessage));
    return 1;
  }
  const std::filesystem::path output = MergeOutputPath(PathFromUtf16(settings.tables[0]));
  for (const std::u16string& table : settings.tables) {
    if (table.empty()) continue;
    if (Status apart = KeepSourceApart(env, output, {PathFromUtf16(table)}); !apart.IsOk()) {
      return Fail(env, kToolMerge, apart);
    }
  }
  BatchProgress progress(env);
  Result<GenerationReport> merged = MergeTables(env.fs, settings, output, std::ref(progress));
  if (!merged.IsOk()) return Fail(env, kToolMerge, merged.status());
  for (const InputLeftOut& input : merged->leftOut) {
    Say(env, kToolMerge, input.file.string() + ": " + input.what);
  }
  return 0;
}

int RunSingleBatch(const BatchRequest& request, BatchEnvironment& env) {
  SingleCharacterSettings settings;
  if (const std::u16string* value = request.Find(opt::kSplitTable)) settings.splitTable = *value;
  if (const std::u16string* value = request.Find(opt::kKeyMap)) settings.keyMap = *value;
  const std::filesystem::path split = ResolveBatchPath(settings.splitTable, env.programFolder);
  const std::filesystem::path keys = ResolveBatchPath(settings.keyMap, env.programFolder);
  for (const std::filesystem::path& output : {SingleOutputPath(split), SingleErrorPath(split)}) {
    if (Status apart = KeepSourceApart(env, output, {split, keys}); !apart.IsOk()) {
      return Fail(env, kToolSingleCharacters, apart);
    }
  }
  BatchProgress progress(env);
  Result<SingleResult> result = GenerateSingleCharacters(
      env.fs, split, keys, SingleOutputPath(split), SingleErrorPath(split), std::ref(progress));
  return result.IsOk() ? 0 : Fail(env, kToolSingleCharacters, result.status());
}

int RunWordBatch(const BatchRequest& request, BatchEnvironment& env) {
  WordLibrarySettings settings;
  settings.charTable = PathToUtf16(ResolveBatchPath(settings.charTable, env.programFolder));
  settings.auxTable = PathToUtf16(ResolveBatchPath(settings.auxTable, env.programFolder));
  settings.wordList = PathToUtf16(ResolveBatchPath(settings.wordList, env.programFolder));
  auto path = [&](std::u16string_view name, std::u16string& into) {
    if (const std::u16string* value = request.Find(name)) {
      into = PathToUtf16(ResolveBatchPath(*value, env.programFolder));
    }
  };
  path(opt::kCharTable, settings.charTable);
  path(opt::kAuxTable, settings.auxTable);
  path(opt::kWordList, settings.wordList);
  if (const std::u16string* value = request.Find(opt::kWordRules)) {
    Result<TextBuffer> rules = ReadTextFile(env.fs, ResolveBatchPath(*value, env.programFolder));
    if (!rules.IsOk()) {
      return Fail(env, kToolWordLibrary,
                  Status::IoError(
                      "", Tr("cannot read the construction rules: {1}", rules.status().message())));
    }
    settings.rulesText = rules->text.substr(0, kWordRulesLimit);
  }
  if (const std::u16string* value = request.Find(opt::kOptions)) ApplyWordOptions(*value, settings);
  const std::filesystem::path wordList = PathFromUtf16(settings.wordList);
  for (const std::filesystem::path& output :
       {WordOutputPath(wordList), WordErrorLogPath(wordList)}) {
    if (Status apart = KeepSourceApart(
            env, output,
            {wordList, PathFromUtf16(settings.charTable), PathFromUtf16(settings.auxTable)});
        !apart.IsOk()) {
      return Fail(env, kToolWordLibrary, apart);
    }
  }
  BatchProgress progress(env);
  Result<WordResult> result = GenerateWordLibrary(env.fs, settings, WordOutputPath(wordList),
                                                  WordErrorLogPath(wordList), std::ref(progress));
  if (!result.IsOk()) return Fail(env, kToolWordLibrary, result.status());
  for (const InputLeftOut& input : result->leftOut) {
    Say(env, kToolWordLibrary, input.file.string() + ": " + input.what);
  }
  return 0;
}

// The three tools that run on the table store directly.
int RunSimpleBatch(const BatchRequest& request, BatchEnvironment& env, std::u16string_view tool,
                   TableTool simple, std::u16string_view outputName) {
  const std::u16string* sourceValue = request.Find(opt::kSource);
  if (sourceValue == nullptr || sourceValue->empty()) {
    return Fail(env, tool,
                Status::InvalidArgument("", Tr("no source table given (/源码表文件=TABLE)")));
  }
  const std::filesystem::path source = ResolveBatchPath(*sourceValue, env.programFolder);
  if (Result<PathInfo> info = env.fs.Query(source);
      info.IsOk() && info->kind == PathKind::kMissing) {
    return Fail(env, tool, Status::InvalidArgument(source.string(), Tr("no such file")));
  }
  TableToolRequest run;
  run.tool = simple;
  run.source = source;
  run.output = FolderOf(source) / PathFromUtf16(outputName);
  if (Status apart = KeepSourceApart(env, run.output, {source}); !apart.IsOk()) {
    return Fail(env, tool, apart);
  }
  if (simple == TableTool::kSortByFrequency) {
    const std::u16string* frequency = request.Find(opt::kFrequencyFile);
    if (frequency == nullptr || frequency->empty()) {
      return Fail(env, tool,
                  Status::InvalidArgument("", Tr("no frequency table given (/词频表文件=FILE)")));
    }
    run.frequencyFile = ResolveBatchPath(*frequency, env.programFolder);
    if (Status apart = KeepSourceApart(env, run.output, {run.frequencyFile}); !apart.IsOk()) {
      return Fail(env, tool, apart);
    }
  }
  Result<std::unique_ptr<TempFolder>> temp =
      env.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(env.tempBase);
  if (!temp.IsOk()) return Fail(env, tool, temp.status());
  TableStore store(env.fs, *temp.value(), nullptr, WorkingData::kMemory);
  Result<TableToolReport> report = RunTableTool(store, run);
  if (!report.IsOk()) return Fail(env, tool, report.status());
  if (!report->linesWithoutTab.empty()) {
    Say(env, tool, source.string() + ": " + report->linesWithoutTab.Describe());
  }
  if (!report->frequencyLinesWithoutTab.empty()) {
    Say(env, tool, run.frequencyFile.string() + ": " + report->frequencyLinesWithoutTab.Describe());
  }
  return 0;
}

BatchTool Simple(std::u16string_view tool, TableTool simple, std::u16string_view outputName) {
  return [=](const BatchRequest& request, BatchEnvironment& env) {
    return RunSimpleBatch(request, env, tool, simple, outputName);
  };
}

constexpr BatchOptionRow kSourceOption{opt::kSource, "TABLE", "the code table"};

std::vector<BatchToolRow> MakeBatchTools() {
  std::vector<BatchToolRow> tools;
  tools.push_back(
      {kToolConvert,
       "Rewrite a text with pattern rules, or cut its lines into fields.",
       {kSourceOption,
        {opt::kRuleFile, "RULES", "a file of rules (LHS==>RHS), one per line"},
        {opt::kSeparators, "TEXT", "the separators, when no rules are given (or /分割符=)"},
        {opt::kOptions, "MODE", "单行单义(左编码), 单行多义(左编码) or 单行多义(左词条)"}},
       "Either /规则文件 or /分割字符 with /选项.",
       u"[ 转换结果 ].txt",
       RunConversionBatch});
  tools.push_back({kToolSingleCharacters,
                   "Generate single-character codes from a split table and a keyboard map.",
                   {{opt::kSplitTable, "SPLIT", "the split table"},
                    {opt::kKeyMap, "KEYMAP", "the keyboard map"}},
                   "",
                   u"[ 生成的单字码表 ].txt",
                   RunSingleBatch});
  tools.push_back({kToolMerge,
                   "Join up to six tables on their entries.",
                   {{opt::kMergeTables[0], "T1", "the first table"},
                    {opt::kMergeTables[1], "T2", "the second table"},
                    {opt::kMergeTables[2], "T3", "the third table"},
                    {opt::kMergeTables[3], "T4", "the fourth table"},
                    {opt::kMergeTables[4], "T5", "the fifth table"},
                    {opt::kMergeTables[5], "T6", "the sixth table"}},
                   "",
                   u"[ 码表合并结果 ].txt",
                   RunMergeBatch});
  tools.push_back(
      {kToolWordLibrary,
       "Generate word codes from a single-character table and construction rules.",
       {{opt::kCharTable, "CHARS", "the single-character table"},
        {opt::kAuxTable, "AUX", "the auxiliary table"},
        {opt::kWordList, "WORDS", "the word list"},
        {opt::kWordRules, "RULES", "the construction rules"},
        {opt::kOptions, "OPTIONS", "允许预定义编码 and 容错词条编码, separated by commas"}},
       "",
       u"[ 生成的词库 ].txt",
       RunWordBatch});
  tools.push_back({kToolExtractSingle,
                   "Write the rows whose entry is a single character.",
                   {kSourceOption},
                   "",
                   kExtractSingleOutput,
                   Simple(kToolExtractSingle, TableTool::kExtractSingle, kExtractSingleOutput)});
  tools.push_back(
      {kToolRemoveDuplicates,
       "Remove rows whose entry and code repeat an earlier row.",
       {kSourceOption},
       "",
       kRemoveDuplicatesOutput,
       Simple(kToolRemoveDuplicates, TableTool::kRemoveDuplicates, kRemoveDuplicatesOutput)});
  tools.push_back(
      {kToolSortByFrequency,
       "Sort the table by a frequency table.",
       {kSourceOption, {opt::kFrequencyFile, "FILE", "the frequency table (entry TAB number)"}},
       "",
       kSortOutput,
       Simple(kToolSortByFrequency, TableTool::kSortByFrequency, kSortOutput)});
  return tools;
}

}  // namespace

const std::vector<BatchToolRow>& BatchTools() {
  static const std::vector<BatchToolRow> tools = MakeBatchTools();
  return tools;
}

const BatchToolRow* FindBatchTool(std::u16string_view name) {
  for (const BatchToolRow& tool : BatchTools()) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

std::span<const std::u16string_view> BatchOptionNames() { return kOptionNames; }

namespace {

// Refuses what the tool would not read: an option it has no use for (a
// mistyped name would otherwise leave its file out unseen), one given
// twice (only the first would count) and a word that is no option.
std::optional<std::string> StrayOption(const BatchRequest& request, const BatchToolRow& row) {
  std::vector<std::u16string> seen;
  for (const std::u16string& written : request.named) {
    // Built piece by piece: GCC 12 warns (-Wrestrict) about the one-line sum.
    std::string shown = "\"";
    shown += Utf16ToUtf8(written);
    shown += '"';
    if (written.empty() || (written[0] != u'/' && written[0] != u'-')) {
      return shown +
             " is no option: options are written /name=value (a value with spaces in "
             "double quotes)";
    }
    const std::u16string name = FoldAscii(std::u16string_view(written).substr(1));
    bool known = name == u"do";
    for (const BatchOptionRow& option : row.options) {
      known = known || name == FoldAscii(option.name) ||
              (option.name == opt::kSeparators && name == opt::kSeparatorsOld);
    }
    if (!known) {
      std::string options;
      for (const BatchOptionRow& option : row.options) {
        options += (options.empty() ? "/" : ", /") + Utf16ToUtf8(option.name);
      }
      return "unknown option " + shown + "; the options of this tool are " + options +
             " (see mirel-tool batch --help)";
    }
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      return "option " + shown + " is given twice; give each option once";
    }
    seen.push_back(name);
  }
  return std::nullopt;
}

}  // namespace

int RunBatch(const BatchRequest& request, BatchEnvironment& env) {
  const std::u16string tool = FoldAscii(request.tool());
  const BatchToolRow* row = FindBatchTool(tool);
  if (row == nullptr) {
    std::string names;
    for (const BatchToolRow& known : BatchTools()) {
      names += (names.empty() ? "" : ", ") + Utf16ToUtf8(known.name);
    }
    env.err << env.programName << ": unknown tool \"" << Utf16ToUtf8(tool)
            << "\"; known tools: " << names << "\n";
    return 2;
  }
  if (std::optional<std::string> stray = StrayOption(request, *row)) {
    Say(env, row->name, *stray);
    return 2;
  }
  return row->run(request, env);
}

const std::string* FirstArgumentNotUtf8(std::span<const std::string> args) {
  for (const std::string& arg : args) {
    std::u16string decoded;
    if (AppendUtf8(arg, decoded) != 0) return &arg;
  }
  return nullptr;
}

std::optional<int> RunBatchCommandLine(std::span<const std::string> args, BatchEnvironment& env) {
  std::u16string line = JoinArguments(args);
  std::optional<BatchRequest> request = ParseBatchLine(line);
  if (!request) return std::nullopt;
  if (const std::string* bad = FirstArgumentNotUtf8(args)) {
    env.err << env.programName << ": \"" << *bad << "\" is not UTF-8: the batch grammar cannot "
            << "name such a file; rename it\n";
    return 1;
  }
  return RunBatch(*request, env);
}

}  // namespace mirel
