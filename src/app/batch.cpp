#include "app/batch.h"

#include <array>
#include <memory>

#include "app/table_tools.h"
#include "convert/rule_conversion.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "platform/paths.h"
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

constexpr std::array<std::u16string_view, 18> kOptionNames = {
    u"词频表文件",   u"选项",           u"源码表文件",     u"规则文件",  u"分割符",
    u"分割字符",     u"单字拆分表文件", u"键盘映射表文件", u"码表文件1", u"码表文件2",
    u"码表文件3",    u"码表文件4",      u"码表文件5",      u"码表文件6", u"编码表文件",
    u"辅助码表文件", u"词库文件",       u"构词规则文件"};

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

int RunConversionBatch(const BatchRequest& request, BatchEnvironment& env) {
  const std::string toolName = Utf16ToUtf8(kToolConvert);
  auto fail = [&](const std::string& message, const std::string& detail = {}) {
    env.err << env.programName << ": " << toolName << ": " << message;
    if (!detail.empty()) env.err << " (" << detail << ")";
    env.err << "\n";
    return 1;
  };
  RuleConversionSettings settings;
  if (const std::u16string* value = request.Find(u"源码表文件")) settings.sourcePath = *value;
  if (const std::u16string* value = request.Find(u"规则文件")) {
    const std::filesystem::path rules = ResolveBatchPath(*value, env.programFolder);
    Result<TextBuffer> text = ReadTextFile(env.fs, rules);
    if (!text.IsOk()) return fail("cannot read the rule file", text.status().message());
    settings.ruleText = text->text.substr(0, 4095);
  }
  for (std::u16string_view name : {u"分割字符", u"分割符"}) {
    if (const std::u16string* value = request.Find(name)) {
      settings.separatorText = *value;
      break;
    }
  }
  if (const std::u16string* value = request.Find(u"选项")) settings.layoutOption = *value;
  const std::filesystem::path source = ResolveBatchPath(settings.sourcePath, env.programFolder);
  if (!IsReadableSource(env.fs, source)) {
    return fail(Utf16ToUtf8(u"必须定义有效的源码表文件路径"), source.string());
  }
  const std::filesystem::path output = ConversionOutputPath(source);
  BatchProgress progress(env);
  if (!settings.ruleText.empty()) {
    Result<uint64_t> done =
        RunRuleConversion(env.fs, source, settings.ruleText, output, std::ref(progress));
    if (!done.IsOk())
      return fail(Utf16ToUtf8(u"无法根据转换规则转换文本文件。"), done.status().message());
  } else {
    Result<uint64_t> done =
        RunLayoutConversion(env.fs, source, settings.separatorText, LayoutFromOption(settings.layoutOption),
                            output, std::ref(progress));
    if (!done.IsOk()) return fail(Utf16ToUtf8(u"无法转换文本文件。"), done.status().message());
  }
  return 0;
}

int RunMergeBatch(const BatchRequest& request, BatchEnvironment& env) {
  const std::string toolName = Utf16ToUtf8(kToolMerge);
  MergeSettings settings;
  for (size_t k = 0; k < settings.tables.size(); ++k) {
    const std::u16string name = u"码表文件" + std::u16string(1, static_cast<char16_t>(u'1' + k));
    if (const std::u16string* value = request.Find(name)) {
      settings.tables[k] = PathToUtf16(ResolveBatchPath(*value, env.programFolder));
    }
  }
  if (settings.tables[0].empty() || !IsReadableSource(env.fs, PathFromUtf16(settings.tables[0]))) {
    env.err << env.programName << ": " << toolName << ": " << kMergeNoFirstTableMessage << "\n";
    return 1;
  }
  BatchProgress progress(env);
  Result<uint64_t> merged =
      MergeTables(env.fs, settings, MergeOutputPath(PathFromUtf16(settings.tables[0])), std::ref(progress));
  if (!merged.IsOk()) {
    env.err << env.programName << ": " << toolName << ": " << merged.status().message() << "\n";
    return 1;
  }
  return 0;
}

int ReportGeneration(BatchEnvironment& env, std::u16string_view tool, const Status& status,
                     const std::string& logFailure) {
  const std::string toolName = Utf16ToUtf8(tool);
  if (!logFailure.empty()) {
    env.err << env.programName << ": " << toolName << ": the error log cannot be written ("
            << logFailure << ")\n";
  }
  if (status.IsOk()) return 0;
  env.err << env.programName << ": " << toolName << ": " << status.message() << "\n";
  return 1;
}

int RunSingleBatch(const BatchRequest& request, BatchEnvironment& env) {
  SingleCharacterSettings settings;
  if (const std::u16string* value = request.Find(u"单字拆分表文件")) settings.splitTable = *value;
  if (const std::u16string* value = request.Find(u"键盘映射表文件")) settings.keyMap = *value;
  const std::filesystem::path split = ResolveBatchPath(settings.splitTable, env.programFolder);
  const std::filesystem::path keys = ResolveBatchPath(settings.keyMap, env.programFolder);
  BatchProgress progress(env);
  Result<SingleResult> result = GenerateSingleCharacters(env.fs, split, keys, SingleOutputPath(split), SingleErrorPath(split), std::ref(progress));
  return ReportGeneration(env, kToolSingleCharacters,
                          result.IsOk() ? Status::Ok() : result.status(),
                          result.IsOk() ? result->errorLogFailure : std::string());
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
  path(u"编码表文件", settings.charTable);
  path(u"辅助码表文件", settings.auxTable);
  path(u"词库文件", settings.wordList);
  if (const std::u16string* value = request.Find(u"构词规则文件")) {
    Result<TextBuffer> rules = ReadTextFile(env.fs, ResolveBatchPath(*value, env.programFolder));
    if (!rules.IsOk()) {
      return ReportGeneration(
          env, kToolWordLibrary,
          Status::IoError("", "cannot read the construction rules: " + rules.status().message()),
          {});
    }
    settings.rulesText = rules->text.substr(0, kWordRulesLimit);
  }
  if (const std::u16string* value = request.Find(u"选项")) ApplyWordOptions(*value, settings);
  const std::filesystem::path wordList = PathFromUtf16(settings.wordList);
  BatchProgress progress(env);
  Result<WordResult> result = GenerateWordLibrary(env.fs, settings, WordOutputPath(wordList),
                                                  WordErrorLogPath(wordList), std::ref(progress));
  return ReportGeneration(env, kToolWordLibrary, result.IsOk() ? Status::Ok() : result.status(),
                          result.IsOk() ? result->errorLogFailure : std::string());
}

}  // namespace

int RunBatch(const BatchRequest& request, BatchEnvironment& env) {
  const std::u16string tool = FoldAscii(request.tool());
  const std::string toolName = Utf16ToUtf8(tool);
  auto fail = [&](const std::string& message) {
    env.err << env.programName << ": " << toolName << ": " << message << "\n";
    return 1;
  };
  if (tool == kToolConvert && env.dialogTools.find(kToolConvert) == env.dialogTools.end()) {
    return RunConversionBatch(request, env);
  }
  if (tool == kToolMerge && env.dialogTools.find(kToolMerge) == env.dialogTools.end()) {
    return RunMergeBatch(request, env);
  }
  if (tool == kToolSingleCharacters &&
      env.dialogTools.find(kToolSingleCharacters) == env.dialogTools.end()) {
    return RunSingleBatch(request, env);
  }
  if (tool == kToolWordLibrary && env.dialogTools.find(kToolWordLibrary) == env.dialogTools.end()) {
    return RunWordBatch(request, env);
  }
  for (std::u16string_view dialogTool :
       {kToolConvert, kToolSingleCharacters, kToolMerge, kToolWordLibrary}) {
    if (tool != dialogTool) continue;
    auto found = env.dialogTools.find(dialogTool);
    if (found == env.dialogTools.end()) return fail("this tool is not available in this build yet");
    return found->second(request, env);
  }
  TableTool simple;
  if (tool == kToolExtractSingle) {
    simple = TableTool::kExtractSingle;
  } else if (tool == kToolRemoveDuplicates) {
    simple = TableTool::kRemoveDuplicates;
  } else if (tool == kToolSortByFrequency) {
    simple = TableTool::kSortByFrequency;
  } else {
    env.err << env.programName << ": unknown tool \"" << toolName
            << "\"; known tools: 码表格式转换, 单字码表生成, 合并码表, 词库生成, 提取单字编码, "
               "删除重复, 依据词频表排序\n";
    return 2;
  }

  const std::u16string* sourceValue = request.Find(u"源码表文件");
  if (sourceValue == nullptr || sourceValue->empty()) {
    return fail("no source table given (/源码表文件=TABLE)");
  }
  std::filesystem::path source = ResolveBatchPath(*sourceValue, env.programFolder);
  if (Result<PathInfo> info = env.fs.Query(source); info.IsOk() && info->kind == PathKind::kMissing) {
    return fail(source.string() + ": no such file");
  }

  TableToolRequest run;
  run.tool = simple;
  run.source = source;
  std::u16string_view outputName = simple == TableTool::kExtractSingle ? kExtractSingleOutput
                                   : simple == TableTool::kRemoveDuplicates
                                       ? kRemoveDuplicatesOutput
                                       : kSortOutput;
  run.output = FolderOf(source) / PathFromUtf16(outputName);
  if (simple == TableTool::kSortByFrequency) {
    const std::u16string* frequency = request.Find(u"词频表文件");
    if (frequency == nullptr || frequency->empty()) {
      return fail("no frequency table given (/词频表文件=FILE)");
    }
    run.frequencyFile = ResolveBatchPath(*frequency, env.programFolder);
  }

  Result<std::unique_ptr<TempFolder>> temp =
      env.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(env.tempBase);
  if (!temp.IsOk()) return fail(temp.status().message());
  TableStore store(env.fs, *temp.value());
  Result<TableToolReport> report = RunTableTool(store, run);
  if (!report.IsOk()) return fail(report.status().message());
  if (!report->linesWithoutTab.empty()) {
    env.err << env.programName << ": " << toolName << ": " << source.string() << ": "
            << report->linesWithoutTab.Describe() << "\n";
  }
  return 0;
}

std::optional<int> RunBatchCommandLine(std::span<const std::string> args, BatchEnvironment& env) {
  std::u16string line = JoinArguments(args);
  std::optional<BatchRequest> request = ParseBatchLine(line);
  if (!request) return std::nullopt;
  return RunBatch(*request, env);
}

}  // namespace mirel
