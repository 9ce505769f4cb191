#include "app/tool_cli.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <new>
#include <vector>

#include "analysis/statistics.h"
#include "app/batch.h"
#include "app/table_tools.h"
#include "app/linux_commands.h"
#include "convert/common_conversion.h"
#include "convert/rule_conversion.h"
#include "generate/command_tips.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "ime/installed_tables.h"
#include "platform/paths.h"
#include "platform/version.h"
#include "platform/temp_folder.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/table_store.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr const char* kProgram = "mirel-tool";

constexpr const char* kBatchHelp =
    "Usage: mirel-tool batch /do=TOOL [/OPTION=VALUE ...]\n"
    "\n"
    "Runs a table tool with the batch grammar of the editor's command line.\n"
    "Options are written /name=value, /name:value, /name value, or with '-' for '/';\n"
    "names match without regard to case; a value with spaces goes in double quotes.\n"
    "Relative paths are taken relative to the folder of the program, not the\n"
    "current directory. Results are written beside the source table.\n"
    "\n"
    "Tools and their options:\n"
    "  提取单字编码     /源码表文件=TABLE           -> [ 提取的单字 ].txt\n"
    "  删除重复         /源码表文件=TABLE           -> [ 去重结果 ].txt\n"
    "  依据词频表排序   /源码表文件=TABLE /词频表文件=FILE -> [ 排序结果 ].txt\n"
    "  码表格式转换     /源码表文件=TABLE and /规则文件=RULES, or /分割字符=TEXT (or /分割符=)\n"
    "                   with /选项=单行单义(左编码)|单行多义(左编码)|单行多义(左词条)\n"
    "                                               -> [ 转换结果 ].txt\n"
    "  单字码表生成     /单字拆分表文件=SPLIT /键盘映射表文件=KEYMAP -> [ 生成的单字码表 ].txt\n"
    "  词库生成         /编码表文件=CHARS /辅助码表文件=AUX /词库文件=WORDS /构词规则文件=RULES\n"
    "                   /选项=允许预定义编码,容错词条编码          -> [ 生成的词库 ].txt\n"
    "  合并码表         /码表文件1=T1 ... /码表文件6=T6             -> [ 码表合并结果 ].txt\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 unknown tool or no /do option.\n"
    "\n"
    "Example:\n"
    "  mirel-tool batch /do=删除重复 \"/源码表文件=/home/me/tables/main.txt\"\n";

std::filesystem::path DefaultOutput(const std::string& table, std::u16string_view name) {
  return FolderOf(std::filesystem::path(table)) / PathFromUtf16(name);
}

struct Context {
  ToolIo& io;
  std::string command;

  int Fail(const std::string& message) const {
    io.err << kProgram << ": " << command << ": " << message << "\n";
    return 1;
  }

  Result<TableToolReport> Run(const TableToolRequest& request) const {
    Result<std::unique_ptr<TempFolder>> temp =
        io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
    if (!temp.IsOk()) return temp.status();
    TableStore store(io.fs, *temp.value());
    return RunTableTool(store, request);
  }

  void Warn(const std::filesystem::path& file, const LinesWithoutTab& skipped) const {
    if (skipped.empty()) return;
    io.err << kProgram << ": " << command << ": " << file.string() << ": " << skipped.Describe()
           << "\n";
  }

  int Report(const Result<TableToolReport>& result, const TableToolRequest& request) const {
    if (!result.IsOk()) return Fail(result.status().message());
    Warn(request.source, result->linesWithoutTab);
    const std::filesystem::path& output = request.output;
    io.out << result->rowsWritten << " rows written to " << output.string() << "\n";
    return 0;
  }
};

int RunCompile(const std::string& table, const std::string& out, bool quiet, ToolIo& io) {
  std::unique_ptr<CharacterClassTable> classes = CharacterClassTable::BuiltIn();
  int shown = -1;
  auto report = [&](std::u16string_view text, int value, int total) {
    if (total == 0) {
      if (quiet) return;
      std::string line = Utf16ToUtf8(text);
      for (size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, "\n");
      io.out << line << "\n";
    } else if (io.errIsTerminal && value != shown) {
      WriteControl(io.err, "\r");
      io.err << "compiling " << (shown = value) << "%" << std::flush;
    }
  };
  Result<CompileSummary> summary =
      CompileTable(io.fs, table, out, *classes, OpaqueHeader{}, report);
  if (io.errIsTerminal && shown >= 0) {
    WriteControl(io.err, "\r");
    io.err << std::string(16, ' ');
    WriteControl(io.err, "\r");
  }
  if (!summary.IsOk()) {
    io.err << kProgram << ": compile: " << summary.status().message() << "\n";
    return 1;
  }
  if (!summary->linesWithoutTab.empty()) {
    io.err << kProgram << ": compile: " << table << ": " << summary->linesWithoutTab.Describe()
           << "\n";
  }
  return 0;
}

int RunStats(const std::string& table, const std::string& report, ToolIo& io) {
  auto fail = [&](const Status& status) {
    io.err << kProgram << ": stats: " << status.message() << "\n";
    return 1;
  };
  Result<std::unique_ptr<TempFolder>> temp =
      io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
  if (!temp.IsOk()) return fail(temp.status());
  TableStore store(io.fs, *temp.value());
  Result<uint32_t> loaded = store.LoadTable(table);
  if (!loaded.IsOk()) return fail(loaded.status());
  if (!store.linesWithoutTab().empty()) {
    io.err << kProgram << ": stats: " << table << ": " << store.linesWithoutTab().Describe()
           << "\n";
  }
  if (!report.empty()) {
    Status written = WriteStatisticsReport(store, report);
    if (!written.IsOk()) return fail(written);
    io.out << report << " written\n";
    return 0;
  }
  std::string text = Utf16ToUtf8(FormatStatisticsReport(MeasureTable(store)));
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
  io.out << text;
  return 0;
}

int CommandFailure(const char* command, const Status& status, ToolIo& io) {
  io.err << kProgram << ": " << command << ": " << status.message() << "\n";
  return 1;
}

std::filesystem::path OutputOr(const std::string& output, const std::filesystem::path& otherwise) {
  return output.empty() ? otherwise : std::filesystem::path(output);
}

int RunConvertRules(const std::string& source, const std::string& rulesFile,
                    const std::vector<std::string>& ruleLines, const std::string& output,
                    ToolIo& io) {
  std::u16string rules;
  if (!rulesFile.empty()) {
    Result<TextBuffer> text = ReadTextFile(io.fs, rulesFile);
    if (!text.IsOk()) return CommandFailure("convert-rules", text.status(), io);
    rules = std::move(text->text);
  } else {
    for (const std::string& line : ruleLines) rules.append(Utf8ToUtf16(line)).append(u"\r\n");
  }
  if (rules.empty()) {
    io.err << kProgram << ": convert-rules: give --rules FILE or at least one --rule\n";
    return 2;
  }
  const std::filesystem::path out = OutputOr(output, ConversionOutputPath(source));
  Result<uint64_t> done = RunRuleConversion(io.fs, source, rules, out);
  if (!done.IsOk()) return CommandFailure("convert-rules", done.status(), io);
  io.out << done.value() << " characters converted, written to " << out.string() << "\n";
  return 0;
}

int RunConvertLayout(const std::string& source, const std::string& separators, int layout,
                     const std::string& output, ToolIo& io) {
  const std::filesystem::path out = OutputOr(output, ConversionOutputPath(source));
  Result<uint64_t> done =
      RunLayoutConversion(io.fs, source, Utf8ToUtf16(separators), static_cast<Layout>(layout), out);
  if (!done.IsOk()) return CommandFailure("convert-layout", done.status(), io);
  io.out << done.value() << " lines converted, written to " << out.string() << "\n";
  return 0;
}

std::string SurvivingFlags(const Detection& detection) {
  std::string names;
  for (const FormatInfo& info : TableFormats()) {
    if (!detection.flags[static_cast<int>(info.format) - 1]) continue;
    if (!names.empty()) names += ", ";
    names += info.cliName;
  }
  return names.empty() ? "no format fits every sample line" : "formats that fit: " + names;
}

int RunConvert(const std::string& source, const std::string& from, const std::string& to,
               const std::string& output, ToolIo& io) {
  if (std::optional<int> done = TryLinuxConvert(source, from, to, output, io)) return *done;
  std::optional<TableFormat> target = FormatFromCliName(to);
  if (!target) {
    io.err << kProgram << ": convert: unknown format \"" << to
           << "\" (win, kuji, sogou, qq, jiajia, mirel)\n";
    return 2;
  }
  Result<TextBuffer> text = ReadTableText(io.fs, source);
  if (!text.IsOk()) return CommandFailure("convert", text.status(), io);
  std::optional<TableFormat> sourceFormat;
  if (!from.empty()) {
    sourceFormat = FormatFromCliName(from);
    if (!sourceFormat) {
      io.err << kProgram << ": convert: unknown format \"" << from
             << "\" (win, kuji, sogou, qq, jiajia, mirel)\n";
      return 2;
    }
  } else {
    const Detection detection = DetectFormat(text->text);
    if (!detection.format) {
      io.err << kProgram << ": convert: " << source << ": the format is not recognised ("
             << SurvivingFlags(detection) << "); give --from win|kuji|sogou|qq|jiajia|mirel\n";
      return 1;
    }
    sourceFormat = detection.format;
  }
  const std::filesystem::path out = OutputOr(output, CommonConversionOutputPath(source, *target));
  if (out.empty()) {
    io.err << kProgram << ": convert: " << source
           << ": the file name has no extension; give -o OUT\n";
    return 1;
  }
  Result<std::unique_ptr<TempFolder>> temp =
      io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
  if (!temp.IsOk()) return CommandFailure("convert", temp.status(), io);
  Result<uint64_t> count =
      ConvertCommonFormat(io.fs, text->text, *sourceFormat, *target, out, *temp.value(), source);
  if (!count.IsOk()) return CommandFailure("convert", count.status(), io);
  io.out << count.value() << (*target == TableFormat::kKuji ? " lines" : " entries")
         << " written to " << out.string() << "\n";
  return 0;
}

int RunDetect(const std::string& source, ToolIo& io) {
  if (std::optional<int> done = TryLinuxDetect(source, io)) return *done;
  Result<TextBuffer> text = ReadTableText(io.fs, source);
  if (!text.IsOk()) return CommandFailure("detect", text.status(), io);
  const Detection detection = DetectFormat(text->text);
  if (detection.format) {
    io.out << InfoOf(*detection.format).cliName << "\n";
    return 0;
  }
  io.out << "not recognised: " << SurvivingFlags(detection) << "\n";
  return 1;
}

// Draws the engine's progress caption as one rewritten line on a terminal.
GenerationProgress TerminalProgress(ToolIo& io, bool& drawn) {
  return [&io, &drawn](std::u16string_view caption) {
    if (!io.errIsTerminal) return;
    WriteControl(io.err, "\r");
    io.err << Utf16ToUtf8(caption);
    WriteControl(io.err, "\x1b[K");
    io.err << std::flush;
    drawn = true;
  };
}

int RunGenSingle(const std::string& split, const std::string& keys, const std::string& output,
                 const std::string& errors, ToolIo& io) {
  bool drawn = false;
  const std::filesystem::path out = OutputOr(output, SingleOutputPath(split));
  Result<SingleResult> result =
      GenerateSingleCharacters(io.fs, split, keys, out, OutputOr(errors, SingleErrorPath(split)),
                               TerminalProgress(io, drawn));
  if (drawn) io.err << "\n";
  if (!result.IsOk()) return CommandFailure("gen-single", result.status(), io);
  if (!result->errorLogFailure.empty()) {
    io.err << kProgram << ": gen-single: the error log cannot be written ("
           << result->errorLogFailure << ")\n";
  }
  io.out << result->lines << " lines read, " << result->codes << " codes written to "
         << out.string() << ", " << result->errors << " errors\n";
  return 0;
}

int RunGenWords(WordLibrarySettings settings, const std::string& rules, const std::string& output,
                const std::string& errors, ToolIo& io) {
  if (!rules.empty()) {
    Result<TextBuffer> text = ReadTextFile(io.fs, rules);
    if (!text.IsOk()) return CommandFailure("gen-words", text.status(), io);
    settings.rulesText = text->text.substr(0, kWordRulesLimit);
  }
  bool drawn = false;
  const std::filesystem::path wordList = PathFromUtf16(settings.wordList);
  const std::filesystem::path out = OutputOr(output, WordOutputPath(wordList));
  Result<WordResult> result =
      GenerateWordLibrary(io.fs, settings, out, OutputOr(errors, WordErrorLogPath(wordList)),
                          TerminalProgress(io, drawn));
  if (drawn) io.err << "\n";
  if (!result.IsOk()) return CommandFailure("gen-words", result.status(), io);
  if (!result->errorLogFailure.empty()) {
    io.err << kProgram << ": gen-words: the error log cannot be written ("
           << result->errorLogFailure << ")\n";
  }
  io.out << result->words << " lines read, " << result->written << " codes written to "
         << out.string() << ", " << result->errors << " errors\n";
  return 0;
}

int RunMerge(const std::vector<std::string>& tables, const std::string& output, ToolIo& io) {
  MergeSettings settings;
  for (size_t k = 0; k < tables.size() && k < settings.tables.size(); ++k) {
    settings.tables[k] = Utf8ToUtf16(tables[k]);
  }
  const std::filesystem::path out = OutputOr(output, MergeOutputPath(tables.front()));
  Result<uint64_t> merged = MergeTables(io.fs, settings, out);
  if (!merged.IsOk()) return CommandFailure("merge", merged.status(), io);
  io.out << merged.value() << " lines written to " << out.string() << "\n";
  return 0;
}

int RunTips(const TipSettings& settings, const std::string& output, ToolIo& io) {
  std::filesystem::path out = output;
  std::unique_ptr<TempFolder> temp;
  if (out.empty()) {
    Result<std::unique_ptr<TempFolder>> opened =
        io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
    if (!opened.IsOk()) return CommandFailure("tips", opened.status(), io);
    temp = std::move(opened).value();
    out = temp->TempPath(kTipsOutputName);
  }
  Result<uint64_t> written = BuildCommandTips(io.fs, settings, out);
  if (!written.IsOk()) return CommandFailure("tips", written.status(), io);
  io.out << written.value() << " lines written to " << out.string() << "\n";
  return 0;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

int InstalledFailure(const std::string& command, const Status& status, ToolIo& io) {
  io.err << kProgram << ": installed" << (command.empty() ? "" : " " + command) << ": "
         << status.message() << "\n";
  return 1;
}

int RunInstalledList(bool json, ToolIo& io) {
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return InstalledFailure("", copies.status(), io);
  struct Row {
    std::string key, name, folder;
    bool main, user;
  };
  std::vector<Row> rows;
  for (const std::u16string& key : copies->List()) {
    const std::filesystem::path folder = copies->DataFolder(copies->ModuleName(key).value_or(u""));
    auto present = [&](const char* name) {
      Result<PathInfo> info = io.fs.Query(folder / name);
      return info.IsOk() && info->kind != PathKind::kMissing;
    };
    rows.push_back(Row{Utf16ToUtf8(key), Utf16ToUtf8(copies->DisplayName(key)), folder.string(),
                       present("main.ktb"), present("usr.ktb")});
  }
  if (json) {
    for (const Row& row : rows) {
      io.out << "{\"key\":" << JsonString(row.key) << ",\"name\":" << JsonString(row.name)
             << ",\"folder\":" << JsonString(row.folder)
             << ",\"main\":" << (row.main ? "true" : "false")
             << ",\"user\":" << (row.user ? "true" : "false") << "}\n";
    }
    return 0;
  }
  if (rows.empty()) {
    io.out << "No installed copy of the input method was found.\n";
    return 0;
  }
  // Escaped before the columns are measured, so that they stay aligned.
  for (Row& row : rows) {
    row.key = EscapeControls(row.key);
    row.name = EscapeControls(row.name);
    row.folder = EscapeControls(row.folder);
  }
  // Display widths: a Han character takes two columns.
  auto width = [](const std::string& text) {
    size_t columns = 0;
    for (char16_t u : Utf8ToUtf16(text)) columns += u >= 0x1100 ? 2 : 1;
    return columns;
  };
  size_t keyWidth = 3, nameWidth = 4;
  for (const Row& row : rows) {
    keyWidth = std::max(keyWidth, width(row.key));
    nameWidth = std::max(nameWidth, width(row.name));
  }
  auto pad = [&](const std::string& text, size_t to) {
    return text + std::string(to - width(text) + 2, ' ');
  };
  io.out << pad("KEY", keyWidth) << pad("NAME", nameWidth) << "MAIN USER FOLDER\n";
  for (const Row& row : rows) {
    io.out << pad(row.key, keyWidth) << pad(row.name, nameWidth) << (row.main ? "yes  " : "no   ")
           << (row.user ? "yes  " : "no   ") << row.folder << "\n";
  }
  return 0;
}

Result<std::u16string> FindCopy(const InstalledCopies& copies, const std::string& name) {
  std::optional<std::u16string> key = FindInstalledCopy(copies, Utf8ToUtf16(name));
  if (!key) {
    return Status::InvalidArgument(name,
                                   "no installed copy has this key or display name "
                                   "(see 'mirel-tool installed')");
  }
  return *key;
}

int RunInstalledExport(const std::string& name, const std::string& out, bool userLibrary,
                       ToolIo& io) {
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return InstalledFailure("export", copies.status(), io);
  Result<std::u16string> key = FindCopy(copies.value(), name);
  if (!key.IsOk()) return InstalledFailure("export", key.status(), io);
  Result<std::unique_ptr<TempFolder>> temp =
      io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
  if (!temp.IsOk()) return InstalledFailure("export", temp.status(), io);
  Status exported =
      ExportInstalledTable(copies.value(), key.value(), userLibrary, out, *temp.value());
  if (!exported.IsOk()) return InstalledFailure("export", exported, io);
  io.out << out << " written\n";
  return 0;
}

int RunInstalledCompile(const std::string& table, const std::string& name, ToolIo& io) {
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return InstalledFailure("compile", copies.status(), io);
  Result<std::u16string> key = FindCopy(copies.value(), name);
  if (!key.IsOk()) return InstalledFailure("compile", key.status(), io);
  Result<std::unique_ptr<TempFolder>> temp =
      io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
  if (!temp.IsOk()) return InstalledFailure("compile", temp.status(), io);
  // The copy's own header values go back in; a copy without a readable main
  // table gets zeros.
  OpaqueHeader settings;
  const std::filesystem::path folder =
      copies->DataFolder(copies->ModuleName(key.value()).value_or(u""));
  if (folder.empty()) {
    return InstalledFailure("compile", Status::InvalidArgument(name, "the copy has no data folder"),
                            io);
  }
  std::filesystem::path main = folder / "main.ktb";
  if (Result<InstalledTable> installed =
          ReadInstalledTable(copies.value(), key.value(), *temp.value());
      installed.IsOk()) {
    settings = installed->settings;
    main = installed->mainTable;
  }
  const std::filesystem::path compiled = temp.value()->TempPath(u"kv_tolvik_tempktb.ktb");
  std::unique_ptr<CharacterClassTable> classes = CharacterClassTable::BuiltIn();
  Result<CompileSummary> summary = CompileTable(io.fs, table, compiled, *classes, settings);
  if (!summary.IsOk()) return InstalledFailure("compile", summary.status(), io);
  if (!summary->linesWithoutTab.empty()) {
    io.err << kProgram << ": installed compile: " << table << ": "
           << summary->linesWithoutTab.Describe() << "\n";
  }
  Status replaced = io.fs.CopyFile(compiled, main);
  if (!replaced.IsOk()) {
    return InstalledFailure(
        "compile",
        Status::IoError(
            "", replaced.message() + " (close the programs using the input method and retry)"),
        io);
  }
  io.out << main.string() << " written: " << summary->records << " entries\n";
  return 0;
}

int RunBatchCommand(std::span<const std::string> args, ToolIo& io) {
  if (args.empty() || (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))) {
    io.out << kBatchHelp;
    return 0;
  }
  BatchEnvironment env{
      io.programFolder, io.tempBase,   io.err, io.fs, std::string(kProgram) + " batch",
      io.errIsTerminal, io.dialogTools};
  std::u16string line = JoinArguments(args);
  if (line.size() >= kCommandLineLimit) {
    io.err << kProgram << ": batch: the command line is longer than " << kCommandLineLimit - 1
           << " characters\n";
    return 2;
  }
  std::optional<BatchRequest> request = ParseBatchLine(line);
  if (!request) {
    io.err << kProgram << ": batch: no tool named; give /do=TOOL (see mirel-tool batch --help)\n";
    return 2;
  }
  return RunBatch(*request, env);
}

int RunCommands(std::span<const std::string> argv, ToolIo& io) {
  // The batch grammar is not a conventional one ("-do:x" is no option), so it
  // bypasses the option parser.
  if (argv.size() >= 2 && argv[1] == "batch") return RunBatchCommand(argv.subspan(2), io);

  CLI::App app{
      "Mirel code table tools: clean up, reorder, compile, convert, generate and measure code\n"
      "tables without a window.\n"
      "Tables are read in UTF-8, UTF-16 (with mark) or GBK and written as UTF-16LE with CR LF.",
      kProgram};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("mirel-tool ") + kVersion);
  app.footer(
      "Examples:\n"
      "  mirel-tool dedup main.txt\n"
      "  mirel-tool sort main.txt --by code1 -o sorted.txt\n"
      "  mirel-tool sort main.txt --by freq --freq counts.txt\n"
      "  mirel-tool batch /do=删除重复 /源码表文件=/home/me/main.txt\n"
      "Run 'mirel-tool COMMAND --help' for the options of a command.");

  std::string table, output, by = "code1", frequency;
  auto addTable = [&](CLI::App* sub) {
    sub->add_option("TABLE", table, "the code table (.txt, or a compiled .ktb)")->required();
    sub->add_option("-o,--output", output, "where to write the result");
  };

  CLI::App* dedup = app.add_subcommand(
      "dedup", "Remove rows whose entry and code repeat an earlier row; keeps source order.");
  addTable(dedup);
  dedup->footer("Default output: \"[ 去重结果 ].txt\" beside TABLE.\n");

  CLI::App* extract =
      app.add_subcommand("extract-single", "Write the rows whose entry is a single character.");
  addTable(extract);
  extract->footer("Default output: \"[ 提取的单字 ].txt\" beside TABLE.\n");

  CLI::App* sort = app.add_subcommand("sort", "Reorder the whole table.");
  addTable(sort);
  sort->add_option("--by", by,
                   "source: original order; code1: a-ab-b; code2: a-b-ab (shorter codes first);\n"
                   "entry1: by entry; entry2: shorter entries first; freq: by the --freq file")
      ->check(CLI::IsMember({"source", "code1", "code2", "entry1", "entry2", "freq"}))
      ->required();
  sort->add_option("--freq", frequency,
                   "frequency file of 'entry TAB number' lines (smaller numbers first)");
  sort->footer("Default output: \"[ 排序结果 ].txt\" beside TABLE.\n");

  CLI::App* exportFrequency = app.add_subcommand(
      "export-frequency", "Write each entry with its row number (instant frequency file).");
  addTable(exportFrequency);
  exportFrequency->footer("Default output: \"[ 即时词频 ].txt\" beside TABLE.\n");

  std::string compiledPath;
  bool quiet = false;
  CLI::App* compile =
      app.add_subcommand("compile", "Compile a code table into the input method's binary format.");
  compile->add_option("TABLE", table, "the code table text (any supported encoding)")->required();
  compile->add_option("OUT", compiledPath, "the compiled table to write (.ktb)")->required();
  compile->add_flag("-q,--quiet", quiet, "print only errors");
  compile->footer(
      "Prints the lines that cannot be compiled as they are, the duplicates left out and a\n"
      "summary. Lines: entry TAB code; marks #1 #2 #3 #a and ## in the code; \\r \\t \\\\ in\n"
      "the entry; lines starting with // are comments (/// stands for a leading //).\n");

  CLI::App* decompile =
      app.add_subcommand("decompile", "Turn a compiled table (.ktb) back into a code table text.");
  decompile->add_option("IN", compiledPath, "the compiled table")->required();
  decompile->add_option("OUT", output, "the code table text to write")->required();

  std::string report;
  CLI::App* stats = app.add_subcommand(
      "stats", "Report code lengths, duplicate codes, code elements and redefinitions.");
  stats->add_option("TABLE", table, "the code table (.txt, or a compiled .ktb)")->required();
  stats->add_option("-o,--output", report,
                    "write the report here (UTF-16LE) instead of printing it (UTF-8)");

  std::string rulesFile, separators = "TAB,空格", toFormat, fromFormat;
  std::vector<std::string> ruleLines;
  int layout = 2;
  CLI::App* convertRules = app.add_subcommand(
      "convert-rules", "Rewrite a text table with pattern rules (LHS==>RHS), written as text.");
  convertRules->add_option("SOURCE", table, "the text to convert")->required();
  auto* rulesOption =
      convertRules->add_option("--rules", rulesFile, "a file of rules, one per line");
  convertRules
      ->add_option("--rule", ruleLines,
                   "a rule, e.g. '<all.0><tab.1><all.0><row.2>==><3><t><1><r>'")
      ->excludes(rulesOption);
  convertRules->add_option("-o,--output", output, "where to write the result");
  convertRules->footer("Default output: \"[ 转换结果 ].txt\" beside SOURCE.\n");

  CLI::App* convertLayout = app.add_subcommand(
      "convert-layout", "Cut each line into fields at separators and write entry TAB code lines.");
  convertLayout->add_option("SOURCE", table, "the text to convert")->required();
  convertLayout->add_option(
      "--separators", separators,
      "separator list: characters, TAB, 空格 (space), \\, (comma); default \"TAB,空格\"");
  convertLayout
      ->add_option("--layout", layout,
                   "1: code entry (one entry); 2: code entry entry...; 3: entry code code...")
      ->check(CLI::Range(1, 3));
  convertLayout->add_option("-o,--output", output, "where to write the result");
  convertLayout->footer("Default output: \"[ 转换结果 ].txt\" beside SOURCE.\n");

  CLI::App* convert = app.add_subcommand(
      "convert", "Convert between table formats: win, kuji, sogou, qq, jiajia, mirel and the Linux "
      "input methods' fcitx5, fcitx5-dict, rime, ibus (ibus-db read only).");
  convert->add_option("SOURCE", table, "the table to convert")->required();
  convert->add_option("--to", toFormat,
                      "win|kuji|sogou|qq|jiajia|mirel|fcitx5|fcitx5-dict|rime|ibus")->required();
  convert->add_option("--from", fromFormat,
                      "the source's format (detected from its first lines when absent)");
  convert->add_option("-o,--output", output, "where to write the result");
  convert->footer(
      "Default output: SOURCE with its extension replaced by \"___<format>格式.txt\".\n");

  CLI::App* detect =
      app.add_subcommand("detect", "Tell the format of a table from its first lines.");
  detect->add_option("SOURCE", table, "the table")->required();

  std::vector<std::string> mergeTables;
  CLI::App* merge = app.add_subcommand(
      "merge", "Join up to six tables on their entries, appending the codes of tables 2 to 6.");
  merge->add_option("TABLES", mergeTables, "TABLE1 [TABLE2 ... TABLE6]")
      ->required()
      ->expected(1, 6);
  merge->add_option("-o,--output", output, "where to write the result");
  merge->footer(
      "Every entry of TABLE1 found in all the others gives one line per combination of their\n"
      "codes. Default output: \"[ 码表合并结果 ].txt\" beside TABLE1.\n");

  std::string tipContents, tipPrefix, tipSuffix;
  CLI::App* tips =
      app.add_subcommand("tips", "Build a command-tip table from tip codes and tip contents.");
  tips->add_option("CODES", table, "the tip code table (key TAB tip code)")->required();
  tips->add_option("CONTENTS", tipContents, "the tip content table (key TAB content)")->required();
  tips->add_option("--prefix", tipPrefix, "put before every tip code");
  tips->add_option("--suffix", tipSuffix, "put after every tip code");
  tips->add_option("-o,--output", output, "where to write the result");
  tips->footer(
      "Lines: $mlcmd(key,key[content]) TAB prefix+tip code+suffix.\n"
      "Default output: \"cmdtipMBMake_result.txt\" in the private temporary folder.\n");

  std::string keyMapFile, errorsFile, auxTable, rulesFileWords;
  bool predefined = false, tolerant = false;
  CLI::App* genSingle = app.add_subcommand(
      "gen-single", "Generate single-character codes from a split table and a keyboard map.");
  genSingle->add_option("SPLIT", table, "the split table: character TAB decomposition [TAB ...]")
      ->required();
  genSingle->add_option("KEYMAP", keyMapFile, "the keyboard map: key [=:] components")->required();
  genSingle->add_option("-o,--output", output, "where to write the table");
  genSingle->add_option("--errors", errorsFile, "where to write the error log");
  genSingle->footer(
      "Defaults beside SPLIT: \"[ 生成的单字码表 ].txt\" and \"[ error_码表生成 ].txt\".\n");

  std::string wordListFile;
  CLI::App* genWords = app.add_subcommand(
      "gen-words", "Generate word codes from a single-character table and construction rules.");
  genWords->add_option("CHARS", table, "the single-character table (character TAB code)")
      ->required();
  genWords->add_option("WORDS", wordListFile, "the word list, one word per line")->required();
  genWords->add_option("--aux", auxTable, "the auxiliary table for f selectors");
  genWords->add_option("--rules", rulesFileWords,
                       "construction rules (default: p2=l1b1+l1b2+l2b1+l2b2 ...)");
  genWords->add_flag("--predefined", predefined,
                     "allow predefined codes: 字(code) in the word list");
  genWords->add_flag("--tolerant", tolerant, "still code words with a character that has no code");
  genWords->add_option("-o,--output", output, "where to write the library");
  genWords->add_option("--errors", errorsFile, "where to write the error log");
  genWords->footer(
      "Defaults beside WORDS: \"[ 生成的词库 ].txt\" and \"[ error_词库生成 ].txt\".\n");

  std::string copyName;
  bool json = false, withUserLibrary = false;
  CLI::App* installed = app.add_subcommand(
      "installed", "List the installed copies of the input method (under Wine), or work on one.");
  installed->add_flag("--json", json, "one JSON object per line instead of a table");
  installed->footer(
      "The registry is read from $MIREL_REGISTRY, else $WINEPREFIX/system.reg, else\n"
      "~/.wine/system.reg; modules from $MIREL_SYSTEM_DIR, else "
      "<prefix>/drive_c/windows/system32;\n"
      "tables from $MIREL_COMMON_APPDATA, else <prefix>/drive_c/ProgramData.\n");
  CLI::App* installedExport = installed->add_subcommand(
      "export", "Write an installed copy's main table (and user library) as a text table.");
  installedExport->add_option("COPY", copyName, "the copy's key name or display name")->required();
  installedExport->add_option("OUT", output, "the text table to write")->required();
  installedExport->add_flag("--user-library", withUserLibrary,
                            "append the words of the copy's user library");
  CLI::App* installedCompile = installed->add_subcommand(
      "compile", "Compile a text table into an installed copy's main table (main.ktb).");
  installedCompile->add_option("TABLE", table, "the code table text")->required();
  installedCompile->add_option("COPY", copyName, "the copy's key name or display name")->required();
  installed->require_subcommand(0, 1);

  LinuxCommands linuxCommands;
  AddLinuxCommands(app, linuxCommands);

  app.add_subcommand("batch", "Run a tool with the editor's batch grammar (/do=TOOL ...).")
      ->footer("Run 'mirel-tool batch --help' for the grammar.\n");

  if (argv.size() >= 2 && !argv[1].empty() && argv[1][0] != '-') {
    std::string names;
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
      known = known || sub->get_name() == argv[1];
      names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    if (!known) {
      io.err << kProgram << ": unknown command \"" << argv[1] << "\"; the commands are: " << names
             << "\nRun 'mirel-tool --help' for usage.\n";
      return 2;
    }
  }

  std::vector<const char*> cargv;
  for (const std::string& a : argv) cargv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(cargv.size()), cargv.data());
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      return app.exit(e, io.out, io.err);
    }
    io.err << kProgram << ": " << e.what() << "\n"
           << "Run 'mirel-tool --help' for usage.\n";
    return 2;
  }

  if (std::optional<int> done = RunLinuxCommands(linuxCommands, io)) return *done;
  if (compile->parsed()) return RunCompile(table, compiledPath, quiet, io);
  if (stats->parsed()) return RunStats(table, report, io);
  if (convertRules->parsed()) return RunConvertRules(table, rulesFile, ruleLines, output, io);
  if (convertLayout->parsed()) return RunConvertLayout(table, separators, layout, output, io);
  if (convert->parsed()) return RunConvert(table, fromFormat, toFormat, output, io);
  if (detect->parsed()) return RunDetect(table, io);
  if (merge->parsed()) return RunMerge(mergeTables, output, io);
  if (genSingle->parsed()) return RunGenSingle(table, keyMapFile, output, errorsFile, io);
  if (genWords->parsed()) {
    WordLibrarySettings settings;
    settings.charTable = Utf8ToUtf16(table);
    settings.auxTable = Utf8ToUtf16(auxTable);
    settings.wordList = Utf8ToUtf16(wordListFile);
    settings.predefined = predefined;
    settings.tolerant = tolerant;
    return RunGenWords(settings, rulesFileWords, output, errorsFile, io);
  }
  if (tips->parsed())
    return RunTips(TipSettings{Utf8ToUtf16(table), Utf8ToUtf16(tipContents), Utf8ToUtf16(tipPrefix),
                               Utf8ToUtf16(tipSuffix)},
                   output, io);
  if (installed->parsed()) {
    if (installedExport->parsed()) return RunInstalledExport(copyName, output, withUserLibrary, io);
    if (installedCompile->parsed()) return RunInstalledCompile(table, copyName, io);
    return RunInstalledList(json, io);
  }
  if (decompile->parsed()) {
    Result<OpaqueHeader> done = CompiledTableToTextFile(io.fs, compiledPath, output);
    if (!done.IsOk()) {
      io.err << kProgram << ": decompile: " << done.status().message() << "\n";
      return 1;
    }
    io.out << output << " written\n";
    return 0;
  }

  TableToolRequest request;
  request.source = table;
  Context context{io, ""};
  std::u16string_view defaultName;
  if (dedup->parsed()) {
    context.command = "dedup";
    request.tool = TableTool::kRemoveDuplicates;
    defaultName = kRemoveDuplicatesOutput;
  } else if (extract->parsed()) {
    context.command = "extract-single";
    request.tool = TableTool::kExtractSingle;
    defaultName = kExtractSingleOutput;
  } else if (sort->parsed()) {
    context.command = "sort";
    request.tool = TableTool::kSort;
    defaultName = kSortOutput;
    static const std::map<std::string, TableOrder> kOrders = {
        {"source", TableOrder::kSource}, {"code1", TableOrder::kCode1},
        {"code2", TableOrder::kCode2},   {"entry1", TableOrder::kEntry1},
        {"entry2", TableOrder::kEntry2}, {"freq", TableOrder::kFrequency}};
    request.order = kOrders.at(by);
    if (request.order == TableOrder::kFrequency) {
      if (frequency.empty()) {
        io.err << kProgram << ": sort: --by freq needs --freq FILE\n";
        return 2;
      }
      request.frequencyFile = frequency;
    }
  } else if (exportFrequency->parsed()) {
    context.command = "export-frequency";
    request.tool = TableTool::kExportFrequency;
    defaultName = u"[ 即时词频 ].txt";
  } else {
    io.out << kBatchHelp;
    return 0;
  }
  request.output =
      output.empty() ? DefaultOutput(table, defaultName) : std::filesystem::path(output);

  Result<TableToolReport> result = context.Run(request);
  if (request.tool == TableTool::kExtractSingle && result.IsOk()) {
    context.Warn(request.source, result->linesWithoutTab);
    io.out << Utf16ToUtf8(FormatText(u"导出用户单字码表数：%d个。",
                                     {static_cast<long long>(result->rowsWritten)}))
           << "\n";
    return 0;
  }
  return context.Report(result, request);
}

}  // namespace

int RunTool(std::span<const std::string> argv, ToolIo& io) {
  // Everything printed may hold text from the files: escape it once here.
  EscapingStreamBuffer outBuffer(io.out);
  EscapingStreamBuffer errBuffer(io.err);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  ToolIo escaped{
      out,         err, io.fs, io.programFolder, io.tempBase, io.dialogTools, io.errIsTerminal,
      io.installed};
  try {
    return RunCommands(argv, escaped);
  } catch (const std::bad_alloc&) {
    // The engines report running out of memory themselves; this is for what
    // they do not cover.
    err << kProgram << ": out of memory\n";
    return 1;
  }
}

}  // namespace mirel
