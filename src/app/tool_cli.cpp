#include "app/tool_cli.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "analysis/statistics.h"
#include "analysis/typing_analysis.h"
#include "app/batch.h"
#include "app/command_docs.h"
#include "app/command_table.h"
#include "app/linux_commands.h"
#include "app/table_tools.h"
#include "convert/common_conversion.h"
#include "convert/linux_formats.h"
#include "convert/rule_conversion.h"
#include "convert/table_formats.h"
#include "generate/command_tips.h"
#include "generate/merge_tables.h"
#include "generate/single_characters.h"
#include "generate/word_library.h"
#include "ime/installed_tables.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"
#include "platform/version.h"
#include "store/compiled_table.h"
#include "store/table_store.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr const char* kProgram = kToolProgram;

Result<std::unique_ptr<TempFolder>> OpenTemp(const ToolIo& io) {
  return io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
}

std::filesystem::path OutputOr(const std::string& output, const std::filesystem::path& otherwise) {
  return output.empty() ? otherwise : std::filesystem::path(output);
}

// The output given, or the default one, which may not be one of `inputs`: a
// result written over its own source loses the source.
Result<std::filesystem::path> OutputOrDefault(FileSystem& fs, const std::string& output,
                                              const std::filesystem::path& otherwise,
                                              std::initializer_list<std::filesystem::path> inputs) {
  if (!output.empty()) return std::filesystem::path(output);
  if (Status apart = RefuseOutputOverInput(fs, otherwise, inputs); !apart.IsOk()) return apart;
  return otherwise;
}

// Bytes already taken from a pipe, read again from memory.
class KeptInput final : public InputFile {
 public:
  KeptInput(const std::filesystem::path& path, std::string_view bytes)
      : InputFile(path), bytes_(bytes) {}
  Result<size_t> Read(std::span<std::byte> out) override {
    const size_t n = std::min(out.size(), bytes_.size() - at_);
    std::memcpy(out.data(), bytes_.data() + at_, n);
    at_ += n;
    return n;
  }
  Status Rewind() override {
    at_ = 0;
    return Status::Ok();
  }
  uint64_t SizeHint() const override { return bytes_.size(); }
  bool IsStream() const override { return true; }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

// A pipe gives its bytes once, but some commands look at a source before
// they read it (convert, detect): every read of a pipe gets all of them.
class StreamReplay final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  Result<std::unique_ptr<InputFile>> OpenInput(const std::filesystem::path& path) override {
    auto kept = kept_.find(path.string());
    if (kept == kept_.end()) {
      Result<PathInfo> info = base_.Query(path);
      if (!info.IsOk() || info->kind != PathKind::kStream) return base_.OpenInput(path);
      Result<std::string> bytes = base_.ReadWhole(path);
      if (!bytes.IsOk()) return bytes.status();
      kept = kept_.emplace(path.string(), std::move(bytes).value()).first;
    }
    return std::unique_ptr<InputFile>(std::make_unique<KeptInput>(path, kept->second));
  }

 private:
  std::map<std::string, std::string> kept_;
};

// Standard input, or a pipe the shell handed over as /dev/fd/N, has no
// folder to put a result beside: its output must be named.
Status NeedOutputBesideStream(CommandContext& ctx, const std::string& source,
                              const std::string& output) {
  if (!output.empty()) return Status::Ok();
  if (source != "-" && !source.starts_with("/dev/") && !source.starts_with("/proc/")) {
    return Status::Ok();
  }
  Result<PathInfo> info = ctx.io.fs.Query(source);
  if (!info.IsOk() || info->kind != PathKind::kStream) return Status::Ok();
  return ctx.Usage(
      Tr("{1} is a pipe or device, with no folder to put the result beside; give -o "
         "OUT (- for standard output)",
         source == "-" ? Tr("standard input") : source));
}

// "OUT written", or where the bytes went when they went to standard output.
std::string Written(const std::filesystem::path& output) {
  return output == "-" ? "written to standard output" : EscapeName(output.string()) + " written";
}

std::string WithNewlines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) out += text[k];
  }
  return out;
}

// --- the commands -----------------------------------------------------------

Status RunTableCommand(const CommandArgs& args, CommandContext& ctx, TableTool tool,
                       std::u16string_view defaultName) {
  ToolIo& io = ctx.io;
  const std::string& table = args.Get("TABLE");
  TableToolRequest request;
  request.tool = tool;
  request.source = table;
  request.anyName = true;
  if (Status named = NeedOutputBesideStream(ctx, table, args.Get("output")); !named.IsOk()) {
    return named;
  }
  if (tool == TableTool::kSort) {
    const std::optional<Ordering> order = OrderingFromCli(args.Get("by"));
    if (!order) return ctx.Usage(Tr("unknown order \"{1}\"", args.Get("by")));
    request.order = *order;
    if (request.order == Ordering::kFrequency) {
      if (args.Get("freq").empty()) return ctx.Usage(Tr("--by freq needs --freq FILE"));
      request.frequencyFile = args.Get("freq");
    }
  }
  Result<std::filesystem::path> output =
      OutputOrDefault(io.fs, args.Get("output"),
                      FolderOf(std::filesystem::path(table)) / PathFromUtf16(defaultName),
                      {table, request.frequencyFile});
  if (!output.IsOk()) return output.status();
  request.output = std::move(output).value();
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  TableStore store(io.fs, *temp.value(), nullptr, WorkingData::kMemory);
  Result<TableToolReport> result = RunTableTool(store, request);
  if (!result.IsOk()) return result.status();
  if (!result->linesWithoutTab.empty()) {
    ctx.Warn(request.source.string(), result->linesWithoutTab.Describe());
  }
  if (!result->frequencyLinesWithoutTab.empty()) {
    ctx.Warn(request.frequencyFile.string(), result->frequencyLinesWithoutTab.Describe());
  }
  if (tool == TableTool::kExtractSingle) {
    io.out << Utf16ToUtf8(FormatText(u"导出用户单字码表数：%d个。",
                                     {static_cast<long long>(result->rowsWritten)}))
           << "\n";
  } else {
    io.out << Counted(result->rowsWritten, "row", "rows") << " written to "
           << OutputName(request.output);
    if (result->rowsRead > result->rowsWritten) {
      io.out << ", " << Counted(result->rowsRead - result->rowsWritten, "row", "rows")
             << (tool == TableTool::kRemoveDuplicates ? " left out as duplicates" : " left out");
    }
    io.out << "\n";
  }
  return Status::Ok();
}

Status RunCompile(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& table = args.Get("TABLE");
  const bool quiet = args.Flag("quiet");
  std::unique_ptr<CharacterClassTable> classes = CharacterClassTable::BuiltIn();
  int shown = -1;
  auto report = [&](std::u16string_view text, int value, int total) {
    if (total == 0) {
      if (!quiet) io.out << WithNewlines(Utf16ToUtf8(text)) << "\n";
    } else if (io.errIsTerminal && value != shown) {
      WriteControl(io.err, "\r");
      io.err << "compiling " << (shown = value) << "%" << std::flush;
    }
  };
  Result<CompileSummary> summary =
      CompileTable(io.fs, table, args.Get("OUT"), *classes, OpaqueHeader{}, report);
  if (io.errIsTerminal && shown >= 0) {
    WriteControl(io.err, "\r");
    io.err << std::string(16, ' ');
    WriteControl(io.err, "\r");
  }
  if (!summary.IsOk()) return summary.status();
  if (!summary->linesWithoutTab.empty()) ctx.Warn(table, summary->linesWithoutTab.Describe());
  return Status::Ok();
}

Status RunDecompile(const CommandArgs& args, CommandContext& ctx) {
  Result<OpaqueHeader> done = CompiledTableToTextFile(ctx.io.fs, args.Get("IN"), args.Get("OUT"));
  if (!done.IsOk()) return done.status();
  ctx.io.out << Written(args.Get("OUT")) << "\n";
  return Status::Ok();
}

Status RunStats(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& table = args.Get("TABLE");
  const std::string& report = args.Get("output");
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  TableStore store(io.fs, *temp.value(), nullptr, WorkingData::kMemory);
  Result<uint32_t> loaded = store.LoadTable(table, true);
  if (!loaded.IsOk()) return loaded.status();
  if (!store.linesWithoutTab().empty()) ctx.Warn(table, store.linesWithoutTab().Describe());
  if (!report.empty()) {
    Status written = WriteStatisticsReport(store, report);
    if (!written.IsOk()) return written;
    io.out << Written(report) << "\n";
    return Status::Ok();
  }
  io.out << WithNewlines(Utf16ToUtf8(FormatStatisticsReport(MeasureTable(store))));
  return Status::Ok();
}

Status RunConvertRules(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& source = args.Get("SOURCE");
  std::u16string rules;
  if (const std::string& file = args.Get("rules"); !file.empty()) {
    Result<TextBuffer> text = ReadTextFile(io.fs, file);
    if (!text.IsOk()) return text.status();
    rules = std::move(text->text);
  } else {
    for (const std::string& line : args.All("rule")) {
      rules.append(Utf8ToUtf16(line)).append(u"\r\n");
    }
  }
  if (rules.empty()) return ctx.Usage(Tr("give --rules FILE or at least one --rule"));
  if (Status named = NeedOutputBesideStream(ctx, source, args.Get("output")); !named.IsOk()) {
    return named;
  }
  Result<std::filesystem::path> out = OutputOrDefault(
      io.fs, args.Get("output"), ConversionOutputPath(source), {source, args.Get("rules")});
  if (!out.IsOk()) return out.status();
  Result<uint64_t> done = RunRuleConversion(io.fs, source, rules, out.value());
  if (!done.IsOk()) return done.status();
  io.out << Counted(done.value(), "character", "characters") << " converted, written to "
         << OutputName(out.value()) << "\n";
  return Status::Ok();
}

Status RunConvertLayout(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& source = args.Get("SOURCE");
  if (Status named = NeedOutputBesideStream(ctx, source, args.Get("output")); !named.IsOk()) {
    return named;
  }
  Result<std::filesystem::path> out =
      OutputOrDefault(io.fs, args.Get("output"), ConversionOutputPath(source), {source});
  if (!out.IsOk()) return out.status();
  Result<uint64_t> done =
      RunLayoutConversion(io.fs, source, Utf8ToUtf16(args.Get("separators")),
                          static_cast<Layout>(std::stoi(args.Get("layout"))), out.value());
  if (!done.IsOk()) return done.status();
  io.out << Counted(done.value(), "line", "lines") << " converted, written to "
         << OutputName(out.value()) << "\n";
  return Status::Ok();
}

std::string SurvivingFlags(const Detection& detection) {
  std::string names;
  for (const FormatInfo& info : TableFormats()) {
    if (!detection.flags[static_cast<int>(info.format) - 1]) continue;
    if (!names.empty()) names += ", ";
    names += info.cliName;
  }
  return names.empty() ? Tr("no format fits every sample line")
                       : Tr("formats that fit: {1}", names);
}

// The source's format: the one named, else a Linux format told by the
// file's header, else a line format told by the first lines of its text,
// which is kept in `text` for the conversion.
Result<const FileFormat*> SourceFormat(const std::string& source, const std::string& from,
                                       std::optional<TextBuffer>& text, CommandContext& ctx) {
  if (!from.empty()) {
    if (const FileFormat* named = FormatNamed(from)) return named;
    return ctx.Usage(Tr("unknown format \"{1}\" ({2})", from, AllFormatNames()));
  }
  // A source that cannot be read fails here, not later on a second read
  // that might happen to succeed.
  Result<std::string> bytes = ctx.io.fs.ReadWhole(source);
  if (!bytes.IsOk()) return bytes.status();
  if (std::optional<linux_table::LinuxFormat> linux =
          linux_table::DetectLinuxFormat(bytes.value())) {
    return &FormatOf(*linux);
  }
  Result<TextBuffer> read = ReadTableText(ctx.io.fs, source);
  if (!read.IsOk()) return read.status();
  const Detection detection = DetectFormat(read->text);
  if (!detection.format) {
    return Status::InvalidArgument(source, Tr("the format is not recognised ({1}); give --from "
                                              "win|kuji|sogou|qq|jiajia|mirel",
                                              SurvivingFlags(detection)));
  }
  text = std::move(read).value();
  return &FormatOf(*detection.format);
}

Status RunConvert(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& source = args.Get("SOURCE");
  const std::string& output = args.Get("output");
  if (Status named = NeedOutputBesideStream(ctx, source, output); !named.IsOk()) return named;
  const FileFormat* target = FormatNamed(args.Get("to"));
  if (!target) {
    return ctx.Usage(Tr("unknown format \"{1}\" ({2})", args.Get("to"), AllFormatNames()));
  }
  std::optional<TextBuffer> text;
  Result<const FileFormat*> from = SourceFormat(source, args.Get("from"), text, ctx);
  if (!from.IsOk()) return from.status();
  const std::filesystem::path out =
      OutputOr(output, ConversionOutputPath(source, *from.value(), *target));
  if (out.empty()) {
    return Status::InvalidArgument(source, Tr("the file name has no extension; give -o OUT"));
  }
  if (output.empty()) {
    Status apart = RefuseOutputOverInput(io.fs, out, {source});
    if (!apart.IsOk()) return apart;
  }
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  Result<ConversionReport> report =
      ConvertFile(io.fs, source, *from.value(), *target, out, *temp.value(),
                  RefuseDropsUnless(args.Flag("drop"), source, ctx), text ? &text->text : nullptr);
  if (!report.IsOk()) return report.status();
  ReportDiagnostics(source, report->diagnostics, ctx);
  io.out << (target->lineFormat() == TableFormat::kKuji ? Counted(report->rows, "line", "lines")
                                                        : Counted(report->rows, "entry", "entries"))
         << " written to " << OutputName(out);
  if (!report->diagnostics.empty()) io.out << " (" << report->diagnostics.size() << " left out)";
  io.out << "\n";
  return Status::Ok();
}

Status RunDetect(const CommandArgs& args, CommandContext& ctx) {
  const std::string& source = args.Get("SOURCE");
  if (Result<std::string> bytes = ctx.io.fs.ReadWhole(source); bytes.IsOk()) {
    if (std::optional<linux_table::LinuxFormat> linux =
            linux_table::DetectLinuxFormat(bytes.value())) {
      ctx.io.out << FormatOf(*linux).name() << "\n";
      return Status::Ok();
    }
  }
  Result<TextBuffer> text = ReadTableText(ctx.io.fs, source);
  if (!text.IsOk()) return text.status();
  const Detection detection = DetectFormat(text->text);
  if (detection.format) {
    ctx.io.out << FormatOf(*detection.format).name() << "\n";
    return Status::Ok();
  }
  ctx.io.out << "not recognised: " << SurvivingFlags(detection) << "\n";
  ctx.SetExitStatus(1);
  return Status::Ok();
}

// Draws the engine's progress caption as one rewritten line on a terminal.
class TerminalProgress {
 public:
  explicit TerminalProgress(ToolIo& io) : io_(io) {}
  ~TerminalProgress() { End(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  GenerationProgress Callback() {
    return [this](std::u16string_view caption) {
      if (!io_.errIsTerminal) return;
      WriteControl(io_.err, "\r");
      io_.err << Utf16ToUtf8(caption);
      WriteControl(io_.err, "\x1b[K");
      io_.err << std::flush;
      drawn_ = true;
    };
  }
  // Ends the progress line before anything else is printed.
  void End() {
    if (drawn_) io_.err << "\n";
    drawn_ = false;
  }

 private:
  ToolIo& io_;
  bool drawn_ = false;
};

// How many errors, and where they went.
std::string ErrorsWrittenTo(uint64_t errors, const std::filesystem::path& log) {
  if (errors == 0) return Counted(errors, "error", "errors");
  return Counted(errors, "error", "errors") + " written to " + OutputName(log);
}

// The generators' result and error log, those not named by an option.
std::vector<std::filesystem::path> DefaultOutputs(const CommandArgs& args,
                                                  const std::filesystem::path& out,
                                                  const std::filesystem::path& errors) {
  std::vector<std::filesystem::path> paths;
  if (args.Get("output").empty()) paths.push_back(out);
  if (args.Get("errors").empty()) paths.push_back(errors);
  return paths;
}

Status RunGenSingle(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& split = args.Get("SPLIT");
  if (Status named = NeedOutputBesideStream(ctx, split, args.Get("output")); !named.IsOk()) {
    return named;
  }
  if (Status named = NeedOutputBesideStream(ctx, split, args.Get("errors")); !named.IsOk()) {
    return named;
  }
  const std::filesystem::path out = OutputOr(args.Get("output"), SingleOutputPath(split));
  const std::filesystem::path errors = OutputOr(args.Get("errors"), SingleErrorPath(split));
  for (const std::filesystem::path& path : DefaultOutputs(args, out, errors)) {
    Status apart = RefuseOutputOverInput(io.fs, path, {split, args.Get("KEYMAP")});
    if (!apart.IsOk()) return apart;
  }
  TerminalProgress progress(io);
  Result<SingleResult> result =
      GenerateSingleCharacters(io.fs, split, args.Get("KEYMAP"), out, errors, progress.Callback());
  progress.End();
  if (!result.IsOk()) return result.status();
  io.out << Counted(result->lines, "line", "lines") << " read, "
         << Counted(result->codes, "code", "codes") << " written to " << OutputName(out) << ", "
         << ErrorsWrittenTo(result->errors, errors) << "\n";
  return Status::Ok();
}

Status RunGenWords(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  // Paths from the command line stay bytes: a name that is not UTF-8 must
  // reach the file system as given, never as a lookalike.
  const WordLibraryFiles files{args.Get("CHARS"), args.Get("aux"), args.Get("WORDS")};
  for (const char* option : {"output", "errors"}) {
    if (Status named = NeedOutputBesideStream(ctx, args.Get("WORDS"), args.Get(option));
        !named.IsOk()) {
      return named;
    }
  }
  WordLibrarySettings settings;
  settings.predefined = args.Flag("predefined");
  settings.tolerant = args.Flag("tolerant");
  if (const std::string& rules = args.Get("rules"); !rules.empty()) {
    Result<TextBuffer> text = ReadTextFile(io.fs, rules);
    if (!text.IsOk()) return text.status();
    settings.rulesText = text->text.substr(0, kWordRulesLimit);
  }
  const std::filesystem::path out = OutputOr(args.Get("output"), WordOutputPath(files.wordList));
  const std::filesystem::path errors =
      OutputOr(args.Get("errors"), WordErrorLogPath(files.wordList));
  for (const std::filesystem::path& path : DefaultOutputs(args, out, errors)) {
    Status apart = RefuseOutputOverInput(
        io.fs, path, {args.Get("CHARS"), args.Get("aux"), args.Get("WORDS"), args.Get("rules")});
    if (!apart.IsOk()) return apart;
  }
  TerminalProgress progress(io);
  Result<WordResult> result =
      GenerateWordLibrary(io.fs, files, settings, out, errors, progress.Callback());
  progress.End();
  if (!result.IsOk()) return result.status();
  for (const InputLeftOut& input : result->leftOut) ctx.Warn(input.file.string(), input.what);
  io.out << Counted(result->words, "line", "lines") << " read, "
         << Counted(result->written, "code", "codes") << " written to " << OutputName(out) << ", "
         << ErrorsWrittenTo(result->errors, errors) << "\n";
  return Status::Ok();
}

Status RunMerge(const CommandArgs& args, CommandContext& ctx) {
  const std::vector<std::string>& tables = args.All("TABLES");
  if (Status named = NeedOutputBesideStream(ctx, tables.front(), args.Get("output"));
      !named.IsOk()) {
    return named;
  }
  std::array<std::filesystem::path, kMergeTableCount> paths;
  for (size_t k = 0; k < tables.size() && k < paths.size(); ++k) paths[k] = tables[k];
  const std::filesystem::path out = OutputOr(args.Get("output"), MergeOutputPath(tables.front()));
  for (const std::string& table : tables) {
    if (!args.Get("output").empty()) break;
    Status apart = RefuseOutputOverInput(ctx.io.fs, out, {table});
    if (!apart.IsOk()) return apart;
  }
  Result<GenerationReport> merged = MergeTableFiles(ctx.io.fs, paths, out);
  if (!merged.IsOk()) return merged.status();
  for (const InputLeftOut& input : merged->leftOut) ctx.Warn(input.file.string(), input.what);
  ctx.io.out << Counted(merged->lines, "line", "lines") << " written to " << OutputName(out)
             << "\n";
  return Status::Ok();
}

Status RunTips(const CommandArgs& args, CommandContext& ctx) {
  const TipFiles files{args.Get("CODES"), args.Get("CONTENTS")};
  const TipSettings settings{
      {}, {}, Utf8ToUtf16(args.Get("prefix")), Utf8ToUtf16(args.Get("suffix"))};
  std::filesystem::path out = args.Get("output");
  std::unique_ptr<TempFolder> temp;
  if (out.empty()) {
    Result<std::unique_ptr<TempFolder>> opened = OpenTemp(ctx.io);
    if (!opened.IsOk()) return opened.status();
    temp = std::move(opened).value();
    out = temp->TempPath(kTipsOutputName);
  }
  Result<GenerationReport> written = BuildCommandTips(ctx.io.fs, files, settings, out);
  if (!written.IsOk()) return written.status();
  for (const InputLeftOut& input : written->leftOut) ctx.Warn(input.file.string(), input.what);
  ctx.io.out << Counted(written->lines, "line", "lines") << " written to " << OutputName(out)
             << "\n";
  return Status::Ok();
}

Status RunInstalledList(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return copies.status();
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
  if (args.Flag("json")) {
    for (const Row& row : rows) {
      io.out << "{\"key\":" << JsonString(row.key) << ",\"name\":" << JsonString(row.name)
             << ",\"folder\":" << JsonString(row.folder)
             << ",\"main\":" << (row.main ? "true" : "false")
             << ",\"user\":" << (row.user ? "true" : "false") << "}\n";
    }
    return Status::Ok();
  }
  if (rows.empty()) {
    io.out << "No installed copy of the input method was found.\n";
    return Status::Ok();
  }
  // Escaped before the columns are measured, so that they stay aligned.
  for (Row& row : rows) {
    row.key = EscapeName(row.key);
    row.name = EscapeName(row.name);
    row.folder = EscapeName(row.folder);
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
  return Status::Ok();
}

Result<std::u16string> FindCopy(const InstalledCopies& copies, const std::string& name) {
  std::optional<std::u16string> key = FindInstalledCopy(copies, Utf8ToUtf16(name));
  if (!key) {
    return Status::InvalidArgument(name, Tr("no installed copy has this key or display name "
                                            "(see 'mirel-tool installed')"));
  }
  return *key;
}

Status RunInstalledExport(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& out = args.Get("OUT");
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return copies.status();
  Result<std::u16string> key = FindCopy(copies.value(), args.Get("COPY"));
  if (!key.IsOk()) return key.status();
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  Status exported = ExportInstalledTable(copies.value(), key.value(), args.Flag("user-library"),
                                         out, *temp.value());
  if (!exported.IsOk()) return exported;
  io.out << Written(out) << "\n";
  return Status::Ok();
}

Status RunInstalledCompile(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& table = args.Get("TABLE");
  const std::string& name = args.Get("COPY");
  Result<InstalledCopies> copies = InstalledCopies::Load(io.fs, io.installed);
  if (!copies.IsOk()) return copies.status();
  Result<std::u16string> key = FindCopy(copies.value(), name);
  if (!key.IsOk()) return key.status();
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  // The copy's own header values go back in; a copy without a main table, or
  // with a damaged one, gets zeros. One that cannot be read just now is not
  // replaced, lest its values be lost.
  OpaqueHeader settings;
  const std::filesystem::path folder =
      copies->DataFolder(copies->ModuleName(key.value()).value_or(u""));
  if (folder.empty()) return Status::InvalidArgument(name, Tr("the copy has no data folder"));
  std::filesystem::path main = folder / "main.ktb";
  if (Result<InstalledTable> installed =
          ReadInstalledTable(copies.value(), key.value(), *temp.value());
      installed.IsOk()) {
    settings = installed->settings;
    main = installed->mainTable;
  } else if (Result<PathInfo> info = io.fs.Query(main);
             installed.status().code() != Status::Code::kCorrupt &&
             (!info.IsOk() || info->kind != PathKind::kMissing)) {
    return installed.status();
  }
  const std::filesystem::path compiled = temp.value()->TempPath(u"kv_tolvik_tempktb.ktb");
  std::unique_ptr<CharacterClassTable> classes = CharacterClassTable::BuiltIn();
  Result<CompileSummary> summary = CompileTable(io.fs, table, compiled, *classes, settings);
  if (!summary.IsOk()) return summary.status();
  if (!summary->linesWithoutTab.empty()) ctx.Warn(table, summary->linesWithoutTab.Describe());
  Status replaced = io.fs.CopyFile(compiled, main);
  if (!replaced.IsOk()) {
    return Status::IoError(
        "", replaced.message() + " (close the programs using the input method and retry)");
  }
  io.out << EscapeName(main.string())
         << " written: " << Counted(summary->records, "entry", "entries") << "\n";
  return Status::Ok();
}

Status RunBatchCommand(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  std::span<const std::string> raw = args.raw;
  if (raw.size() == 1 && (raw[0] == "--help" || raw[0] == "-h")) {
    io.out << BatchHelpText();
    return Status::Ok();
  }
  if (raw.empty()) {
    io.err << BatchHelpText();
    return ctx.Usage(Tr("no tool named; give /do=TOOL"));
  }
  BatchEnvironment env{
      io.programFolder, io.tempBase, io.err, io.fs, std::string(kProgram) + " batch",
      io.errIsTerminal};
  std::u16string line = JoinArguments(raw);
  if (line.size() >= kCommandLineLimit) {
    return ctx.Usage("the command line is longer than " + std::to_string(kCommandLineLimit - 1) +
                     " characters");
  }
  std::optional<BatchRequest> request = ParseBatchLine(line);
  if (!request) return ctx.Usage(Tr("no tool named; give /do=TOOL (see mirel-tool batch --help)"));
  if (const std::string* bad = FirstArgumentNotUtf8(raw)) {
    return Status::InvalidArgument("", "\"" + *bad +
                                           "\" is not UTF-8: the batch grammar cannot name such a "
                                           "file; rename it, or use the command of the tool "
                                           "(mirel-tool --help)");
  }
  ctx.SetExitStatus(RunBatch(*request, env));
  return Status::Ok();
}

// A table to analyse, in the order its rows are offered: a table of a Linux
// input method through its own reader (by falling weight where it has
// weights), a compiled table through the store, any other text table read
// into memory by the store's rules. The rows view `text`, `table` or the
// store, which live as long as this.
struct AnalysisTable {
  std::unique_ptr<TableStore> store;
  std::u16string text;
  std::vector<analysis::TableRow> rows;
};

Result<AnalysisTable> LoadAnalysisTable(CommandContext& ctx, const TempFolder& temp,
                                        const std::string& path) {
  ToolIo& io = ctx.io;
  AnalysisTable table;
  Result<std::string> head = io.fs.ReadHead(path, size_t{1} << 16);
  if (!head.IsOk()) return head.status();
  if (std::optional<linux_table::LinuxFormat> linux =
          linux_table::DetectLinuxFormat(head.value())) {
    Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(io.fs, path, *linux);
    if (!read.IsOk()) return read.status();
    for (const linux_table::Diagnostic& d : read->diagnostics) {
      ctx.Warn(d.line ? path + ":" + std::to_string(d.line) : path, d.message);
    }
    table.text = linux_table::ToMirelText(read->table);
    for (const linux_table::MirelRow& row : linux_table::SplitMirelText(table.text)) {
      // The code follows its entry and the TAB.
      table.rows.push_back({row.entry.data(), static_cast<uint32_t>(row.entry.size()),
                            static_cast<uint32_t>(row.code.size())});
    }
    return table;
  }
  // A compiled table or a text: the store reads either straight into memory.
  table.store = std::make_unique<TableStore>(io.fs, temp, nullptr, WorkingData::kMemory);
  Result<uint32_t> loaded = table.store->LoadTable(path, true);
  if (!loaded.IsOk()) return loaded.status();
  const LinesWithoutTab& skipped = table.store->linesWithoutTab();
  if (!skipped.empty()) ctx.Warn(path, skipped.Describe());
  table.rows.reserve(table.store->RowCount());
  for (uint32_t i = 0; i < table.store->RowCount(); ++i)
    table.rows.push_back(analysis::TableRow::Of(table.store->DataRowText(i)));
  return table;
}

Status RunAnalyze(const CommandArgs& args, CommandContext& ctx) try {
  using namespace analysis;
  ToolIo& io = ctx.io;
  const std::string& table = args.Get("TABLE");
  AnalysisOptions options;
  const std::string& set = args.Get("set");
  if (set == "words") {
    options.set = EvaluatedSet::kWords;
  } else if (set == "all") {
    options.set = EvaluatedSet::kAll;
  } else if (!set.empty() && set != "chars") {
    return ctx.Usage(Tr("--set takes chars, words or all"));
  }
  Script script = Script::kAuto;
  const std::string& scriptName = args.Get("script");
  if (scriptName == "simplified") {
    script = Script::kSimplified;
  } else if (scriptName == "traditional") {
    script = Script::kTraditional;
  } else if (!scriptName.empty() && scriptName != "auto") {
    return ctx.Usage(Tr("--script takes auto, simplified or traditional"));
  }
  if (const std::string& top = args.Get("top"); !top.empty()) options.top = std::stoull(top);
  if (const std::string& length = args.Get("max-length"); !length.empty()) {
    options.maxLength = static_cast<uint32_t>(std::stoul(length));
  }
  if (const std::string& keyboard = args.Get("keyboard"); !keyboard.empty()) {
    Result<std::string> bytes = ReadFileBytes(io.fs, keyboard);
    if (!bytes.IsOk()) return bytes.status();
    Result<Keyboard> read = Keyboard::Read(bytes.value());
    if (!read.IsOk()) return Status::Corrupt(keyboard, read.status().message());
    options.keyboard = read.value();
  }

  const std::string freq = args.Get("freq").empty() ? "essay" : args.Get("freq");
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  Result<AnalysisTable> loaded = LoadAnalysisTable(ctx, *temp.value(), table);
  if (!loaded.IsOk()) return loaded.status();
  const std::vector<TableRow>& rows = loaded->rows;
  // essay's simplified form takes a second to make: it is kept in the
  // user's cache folder for the next run.
  Result<WeightList> list = freq == "essay" || freq == "jieba" || freq == "pinlu"
                                ? LoadBuiltInSource(io.fs, freq, script, rows, UserCacheFolder())
                                : ReadWeightList(io.fs, freq);
  // The converter's threads leave freed memory behind.
  ReleaseFreedMemory();
  if (!list.IsOk()) return list.status();
  if (list->badLines > 0) {
    std::string lines;
    for (uint32_t line : list->firstBadLines)
      lines += (lines.empty() ? "" : ", ") + std::to_string(line);
    ctx.Warn(freq,
             TrN("{1} line without an entry and a weight of 0 to 10^15 was left out (line {2})",
                 "{1} lines without an entry and a weight of 0 to 10^15 were left out (lines {2})",
                 list->badLines, list->badLines, lines));
  }
  Analysis result;
  std::optional<Comparison> comparison;
  if (const std::string& old = args.Get("against"); old.empty()) {
    result = AnalyzeRows(rows, list.value(), options);
  } else {
    // A second folder: the store of the new table keeps its working files.
    Result<std::unique_ptr<TempFolder>> oldTemp = OpenTemp(io);
    if (!oldTemp.IsOk()) return oldTemp.status();
    Result<AnalysisTable> oldLoaded = LoadAnalysisTable(ctx, *oldTemp.value(), old);
    if (!oldLoaded.IsOk()) return oldLoaded.status();
    const std::vector<TableRow>& oldRows = oldLoaded->rows;
    Compared compared = CompareRows(oldRows, rows, list.value(), options);
    result = std::move(compared.now);
    comparison = std::move(compared.against);
  }
  const Comparison* against = comparison ? &*comparison : nullptr;
  // The pictures first, so that a report on standard output comes last; what
  // was written is said where the report is not.
  const std::string& output = args.Get("output");
  std::ostream& said = output.empty() || output == "-" ? io.err : io.out;
  auto write = [&](const std::string& path, const std::string& bytes) -> Status {
    Result<std::unique_ptr<OutputFile>> file = io.fs.ReplaceFile(path);
    if (!file.IsOk()) return file.status();
    if (Status s = file.value()->Append(bytes.data(), bytes.size()); !s.IsOk()) return s;
    if (Status s = file.value()->Commit(); !s.IsOk()) return s;
    if (path != "-") said << EscapeName(path) << " written\n";
    return Status::Ok();
  };
  if (const std::string& svg = args.Get("svg"); !svg.empty()) {
    if (Status s = write(svg, KeyboardSvg(result)); !s.IsOk()) return s;
  }
  if (const std::string& html = args.Get("html"); !html.empty()) {
    if (Status s = write(html, AnalysisHtml(result, against)); !s.IsOk()) return s;
  }
  const std::string report =
      args.Flag("json") ? AnalysisJson(result, against) : AnalysisText(result, against);
  if (output.empty() || output == "-") {
    io.out << report;
    return Status::Ok();
  }
  return write(output, report);
} catch (const std::bad_alloc&) {
  return Status::NoMemory(args.Get("TABLE"));
}

Status RunHelp(const CommandArgs& args, CommandContext& ctx);

// --- the table --------------------------------------------------------------

ArgumentRow Positional(std::string name, std::string help, ValueKind kind = ValueKind::kFile) {
  return PositionalArgument(std::move(name), std::move(help), kind);
}

ArgumentRow Option(std::string name, std::string valueName, std::string help,
                   ValueKind kind = ValueKind::kFile) {
  return OptionArgument(std::move(name), std::move(valueName), std::move(help), kind);
}

ArgumentRow Flag(std::string name, std::string help) {
  return FlagArgument(std::move(name), std::move(help));
}

ArgumentRow Output(std::string help = "where to write the result (- for standard output)") {
  ArgumentRow row = Option("-o,--output", "FILE", std::move(help));
  row.result = true;
  return row;
}

ArgumentRow ResultArgument(ArgumentRow row) {
  row.result = true;
  return row;
}

ArgumentRow Required(ArgumentRow row) {
  row.required = true;
  return row;
}

CommandRun TableCommand(TableTool tool, std::u16string_view defaultName) {
  return [tool, defaultName](const CommandArgs& args, CommandContext& ctx) {
    return RunTableCommand(args, ctx, tool, defaultName);
  };
}

const ArgumentRow kTableArgument = Positional("TABLE", "the code table (.txt, or a compiled .ktb)");

std::vector<CommandRow> MakeCommands() {
  std::vector<CommandRow> c;
  c.push_back({"dedup",
               "Remove rows whose entry and code repeat an earlier row; keeps source order.",
               {kTableArgument, Output()},
               "Default output: \"[ 去重结果 ].txt\" beside TABLE.",
               {},
               {"mirel-tool dedup main.txt", "mirel-tool dedup main.ktb -o clean.txt"},
               {},
               false,
               false,
               TableCommand(TableTool::kRemoveDuplicates, kRemoveDuplicatesOutput)});
  c.push_back({"extract-single",
               "Write the rows whose entry is a single character.",
               {kTableArgument, Output()},
               "Default output: \"[ 提取的单字 ].txt\" beside TABLE.",
               {},
               {"mirel-tool extract-single main.txt -o single.txt"},
               {},
               false,
               false,
               TableCommand(TableTool::kExtractSingle, kExtractSingleOutput)});
  ArgumentRow by = Required(
      Option("--by", "ORDER",
             "source: original order; code1: a-ab-b; code2: a-b-ab (shorter codes first);\n"
             "entry1: by entry; entry2: shorter entries first; freq: by the --freq file",
             ValueKind::kOrder));
  c.push_back({"sort",
               "Reorder the whole table.",
               {kTableArgument, by,
                Option("--freq", "FILE",
                       "frequency file of 'entry TAB number' lines (smaller numbers first)"),
                Output()},
               "Default output: \"[ 排序结果 ].txt\" beside TABLE.",
               {},
               {"mirel-tool sort main.txt --by code1 -o sorted.txt",
                "mirel-tool sort main.txt --by freq --freq counts.txt"},
               {},
               false,
               false,
               TableCommand(TableTool::kSort, kSortOutput)});
  c.push_back({"export-frequency",
               "Write each entry with its row number (instant frequency file).",
               {kTableArgument, Output()},
               "Default output: \"[ 即时词频 ].txt\" beside TABLE.",
               {},
               {"mirel-tool export-frequency main.txt"},
               {},
               false,
               false,
               TableCommand(TableTool::kExportFrequency, u"[ 即时词频 ].txt")});
  c.push_back({"compile",
               "Compile a code table into the input method's binary format.",
               {Positional("TABLE", "the code table text (any supported encoding)"),
                ResultArgument(Positional("OUT", "the compiled table to write (.ktb)")),
                Flag("-q,--quiet", "print only errors")},
               "Prints the lines that cannot be compiled as they are, the duplicates left out and "
               "a\nsummary. Lines: entry TAB code; marks #1 #2 #3 #a and ## in the code; \\r \\t "
               "\\\\ in\nthe entry; lines starting with // are comments (/// stands for a leading "
               "//).",
               {},
               {"mirel-tool compile main.txt main.ktb"},
               {},
               false,
               false,
               RunCompile});
  c.push_back({"decompile",
               "Turn a compiled table (.ktb) back into a code table text.",
               {Positional("IN", "the compiled table"),
                ResultArgument(Positional("OUT", "the code table text to write"))},
               "",
               {},
               {"mirel-tool decompile main.ktb main.txt"},
               {},
               false,
               false,
               RunDecompile});
  c.push_back(
      {"stats",
       "Report code lengths, duplicate codes, code elements and redefinitions.",
       {kTableArgument, Output("write the report here (UTF-16LE) instead of printing it (UTF-8)")},
       "",
       {},
       {"mirel-tool stats main.txt"},
       {},
       false,
       false,
       RunStats});
  ArgumentRow rule =
      Option("--rule", "RULE", "a rule, e.g. '<all.0><tab.1><all.0><row.2>==><3><t><1><r>'",
             ValueKind::kText);
  rule.maxCount = 1 << 16;
  rule.excludes = "rules";
  c.push_back({"convert-rules",
               "Rewrite a text table with pattern rules (LHS==>RHS), written as text.",
               {Positional("SOURCE", "the text to convert"),
                Option("--rules", "FILE", "a file of rules, one per line"), rule, Output()},
               "Default output: \"[ 转换结果 ].txt\" beside SOURCE.",
               {},
               {"mirel-tool convert-rules words.txt --rules rules.txt"},
               {},
               false,
               false,
               RunConvertRules});
  ArgumentRow separators =
      Option("--separators", "LIST",
             "separator list: characters, TAB, 空格 (space), \\, (comma); default \"TAB,空格\"",
             ValueKind::kText);
  separators.defaultValue = "TAB,空格";
  ArgumentRow layout = Option(
      "--layout", "N", "1: code entry (one entry); 2: code entry entry...; 3: entry code code...",
      ValueKind::kNumber);
  layout.defaultValue = "2";
  layout.minimum = 1;
  layout.maximum = 3;
  c.push_back({"convert-layout",
               "Cut each line into fields at separators and write entry TAB code lines.",
               {Positional("SOURCE", "the text to convert"), separators, layout, Output()},
               "Default output: \"[ 转换结果 ].txt\" beside SOURCE.",
               {},
               {"mirel-tool convert-layout list.txt --layout 3"},
               {},
               false,
               false,
               RunConvertLayout});
  c.push_back({"convert",
               "Convert between table formats: win, kuji, sogou, qq, jiajia, mirel and the Linux "
               "input methods' fcitx5, fcitx5-dict, rime, ibus (ibus-db read only).",
               {Positional("SOURCE", "the table to convert"),
                Required(Option("--to", "FORMAT",
                                "win|kuji|sogou|qq|jiajia|mirel|fcitx5|fcitx5-dict|rime|ibus",
                                ValueKind::kFormat)),
                Option("--from", "FORMAT",
                       "the source's format (detected from its first lines when absent)",
                       ValueKind::kFormat),
                Output(),
                Flag("--drop",
                     "write a Linux table without the rows it cannot hold (otherwise they "
                     "are listed and nothing is written)")},
               "Default output: SOURCE with its extension replaced by \"___<format>格式.txt\".",
               {},
               {"mirel-tool convert main.txt --to sogou", "mirel-tool convert tt.txt --to fcitx5"},
               {},
               false,
               false,
               RunConvert});
  c.push_back({"detect",
               "Tell the format of a table from its first lines.",
               {Positional("SOURCE", "the table")},
               "",
               {{0, "the format was recognised and is printed"},
                {1, "no format was recognised (the formats that fit are printed), or failure"},
                {2, "usage error"}},
               {"mirel-tool detect table.txt"},
               {},
               false,
               false,
               RunDetect});
  ArgumentRow tables = Positional("TABLES", "TABLE1 [TABLE2 ... TABLE6]");
  tables.maxCount = 6;
  c.push_back({"merge",
               "Join up to six tables on their entries, appending the codes of tables 2 to 6.",
               {tables, Output()},
               "Every entry of TABLE1 found in all the others gives one line per combination of "
               "their\ncodes. Default output: \"[ 码表合并结果 ].txt\" beside TABLE1.",
               {},
               {"mirel-tool merge words.txt pinyin.txt -o merged.txt"},
               {},
               false,
               false,
               RunMerge});
  c.push_back({"tips",
               "Build a command-tip table from tip codes and tip contents.",
               {Positional("CODES", "the tip code table (key TAB tip code)"),
                Positional("CONTENTS", "the tip content table (key TAB content)"),
                Option("--prefix", "TEXT", "put before every tip code", ValueKind::kText),
                Option("--suffix", "TEXT", "put after every tip code", ValueKind::kText), Output()},
               "Lines: $mlcmd(key,key[content]) TAB prefix+tip code+suffix.\n"
               "Default output: \"cmdtipMBMake_result.txt\" in the private temporary folder.",
               {},
               {"mirel-tool tips codes.txt contents.txt -o tips.txt"},
               {},
               false,
               false,
               RunTips});
  c.push_back({"gen-single",
               "Generate single-character codes from a split table and a keyboard map.",
               {Positional("SPLIT", "the split table: character TAB decomposition [TAB ...]"),
                Positional("KEYMAP", "the keyboard map: key [=:] components"),
                Output("where to write the table"),
                Option("--errors", "FILE", "where to write the error log")},
               "Defaults beside SPLIT: \"[ 生成的单字码表 ].txt\" and \"[ error_码表生成 ].txt\".",
               {},
               {"mirel-tool gen-single split.txt keys.txt"},
               {},
               false,
               false,
               RunGenSingle});
  c.push_back(
      {"gen-words",
       "Generate word codes from a single-character table and construction rules.",
       {Positional("CHARS", "the single-character table (character TAB code)"),
        Positional("WORDS", "the word list, one word per line"),
        Option("--aux", "FILE", "the auxiliary table for f selectors"),
        Option("--rules", "FILE", "construction rules (default: p2=l1b1+l1b2+l2b1+l2b2 ...)"),
        Flag("--predefined", "allow predefined codes: 字(code) in the word list"),
        Flag("--tolerant", "still code words with a character that has no code"),
        Output("where to write the library"),
        Option("--errors", "FILE", "where to write the error log")},
       "Defaults beside WORDS: \"[ 生成的词库 ].txt\" and \"[ error_词库生成 ].txt\".",
       {},
       {"mirel-tool gen-words single.txt words.txt --rules rules.txt"},
       {},
       false,
       false,
       RunGenWords});
  const ArgumentRow copy =
      Positional("COPY", "the copy's key name or display name", ValueKind::kText);
  c.push_back(
      {"installed",
       "List the installed copies of the input method (under Wine), or work on one.",
       {Flag("--json", "one JSON object per line instead of a table")},
       "The registry is read from $MIREL_REGISTRY, else $WINEPREFIX/system.reg, else\n"
       "~/.wine/system.reg; modules from $MIREL_SYSTEM_DIR, else "
       "<prefix>/drive_c/windows/system32;\n"
       "tables from $MIREL_COMMON_APPDATA, else <prefix>/drive_c/ProgramData.",
       {},
       {"mirel-tool installed", "mirel-tool installed export Mirel main.txt --user-library"},
       {{"export",
         "Write an installed copy's main table (and user library) as a text table.",
         {copy, ResultArgument(Positional("OUT", "the text table to write")),
          Flag("--user-library", "append the words of the copy's user library")},
         "",
         {},
         {},
         {},
         false,
         false,
         RunInstalledExport},
        {"compile",
         "Compile a text table into an installed copy's main table (main.ktb).",
         {Positional("TABLE", "the code table text"), copy},
         "",
         {},
         {},
         {},
         false,
         false,
         RunInstalledCompile}},
       false,
       false,
       RunInstalledList});
  c.push_back(LinuxCommand());
  c.push_back({"batch",
               "Run a tool with the editor's batch grammar (/do=TOOL ...).",
               {},
               "Run 'mirel-tool batch --help' for the grammar.",
               {{0, "success"}, {1, "failure"}, {2, "unknown tool, no /do, or a refused option"}},
               {"mirel-tool batch /do=删除重复 /源码表文件=/home/me/main.txt"},
               {},
               false,
               true,
               RunBatchCommand});
  ArgumentRow topic =
      Positional("COMMAND", "the command, e.g. sort or linux install", ValueKind::kText);
  topic.required = false;
  topic.maxCount = 2;
  c.push_back({"help",
               "Show the help of a command, or of mirel-tool.",
               {topic},
               "",
               {},
               {"mirel-tool help sort"},
               {},
               false,
               false,
               RunHelp});
  ArgumentRow top =
      Option("--top", "N", "only the N heaviest entries of the set", ValueKind::kNumber);
  top.minimum = 1;
  top.maximum = 1 << 30;
  ArgumentRow maxLength = Option(
      "--max-length", "L",
      "codes of L keys commit their first candidate with the next key (default: the longest code)",
      ValueKind::kNumber);
  maxLength.minimum = 1;
  maxLength.maximum = 64;
  c.push_back(
      {"analyze",
       "Measure how well the table types real text, weighted by a frequency list.",
       {kTableArgument,
        Option("--freq", "SOURCE|FILE",
               "essay (default), jieba, pinlu, or a file of 'entry TAB weight' or\n"
               "'word count [tag]' lines"),
        Option("--set", "SET", "chars (default), words or all", ValueKind::kText), top,
        Option("--script", "SCRIPT", "auto (default), simplified or traditional: the form of essay",
               ValueKind::kText),
        maxLength,
        Option("--keyboard", "FILE",
               "'key TAB finger' lines (0-3 left little to index, 4-7 right "
               "index to little)"),
        Option("--against", "OLD", "compare with this older table"),
        Flag("--json", "write JSON instead of text"),
        Option("--svg", "FILE", "write the keyboard heat map (SVG) here"),
        Option("--html", "FILE",
               "write one self-contained page with every figure, the heat map, a code-length\n"
               "histogram and the costly codes here"),
        Output("write the report here")},
       "The definitions of every figure are in doc/analysis.md.",
       {},
       {"mirel-tool analyze main.txt",
        "mirel-tool analyze main.txt --freq jieba --set words --json",
        "mirel-tool analyze new.txt --against old.txt",
        "mirel-tool analyze main.txt --svg keys.svg --html report.html"},
       {},
       false,
       false,
       RunAnalyze});
  return c;
}

// --- the parser, built from the table ---------------------------------------

constexpr const char* kDescription =
    "Mirel code table tools: clean up, reorder, compile, convert, generate and measure code\n"
    "tables without a window.\n"
    "Tables are read in UTF-8, UTF-16 (with mark) or GBK and written as UTF-16LE with CR LF.";

std::string Footer(const CommandRow& row) {
  std::string text = row.notes.empty() ? "" : row.notes + "\n";
  if (!row.exits.empty()) {
    text += "Exit status:";
    for (const ExitStatus& exit : row.exits) {
      text += " " + std::to_string(exit.code) + " " + exit.meaning + ";";
    }
    text.back() = '.';
    text += "\n";
  }
  if (!row.examples.empty()) {
    text += row.examples.size() == 1 ? "Example:\n" : "Examples:\n";
    for (const std::string& example : row.examples) text += "  " + example + "\n";
  }
  return text;
}

// One command as the option parser sees it, with the storage it parses into.
struct Binding {
  const CommandRow* row = nullptr;
  std::string path;  // "installed export"
  CLI::App* app = nullptr;
  std::map<std::string, std::string> singles;
  std::map<std::string, std::vector<std::string>> lists;
  std::map<std::string, bool> flags;
  std::map<std::string, CLI::Option*> options;
};

class Parser {
 public:
  Parser() : app_(kDescription, kProgram) {
    app_.require_subcommand(1);
    app_.set_version_flag("--version", std::string(kProgram) + " " + kVersion);
    app_.add_option("--write-docs", writeDocs_,
                    "write the manual pages and shell completion into DIR")
        ->type_name("DIR");
    std::string footer = "Examples:\n";
    for (const CommandRow& row : ToolCommands()) {
      if (row.name == "dedup" || row.name == "sort" || row.name == "batch") {
        for (const std::string& example : row.examples) footer += "  " + example + "\n";
      }
    }
    app_.footer(footer +
                "Run 'mirel-tool COMMAND --help' or 'mirel-tool help COMMAND' for the options of "
                "a command.");
    for (const CommandRow& row : ToolCommands()) Add(app_, row, "");
  }

  CLI::App& app() { return app_; }
  std::deque<Binding>& bindings() { return bindings_; }

  // The deepest command given, or null.
  Binding* Parsed() {
    Binding* found = nullptr;
    for (Binding& binding : bindings_) {
      if (binding.app->parsed() && (!found || binding.path.size() > found->path.size())) {
        found = &binding;
      }
    }
    return found;
  }

  Binding* Find(std::string_view path) {
    for (Binding& binding : bindings_) {
      if (binding.path == path) return &binding;
    }
    return nullptr;
  }

 private:
  void Add(CLI::App& parent, const CommandRow& row, const std::string& prefix) {
    Binding& b = bindings_.emplace_back();
    b.row = &row;
    b.path = prefix.empty() ? row.name : prefix + " " + row.name;
    b.app = parent.add_subcommand(row.name, row.summary);
    if (row.ownArguments) {
      b.app->allow_extras();
      b.app->prefix_command();
      b.app->set_help_flag();
    }
    for (const ArgumentRow& arg : row.arguments) {
      const std::string key = arg.Key();
      CLI::Option* option = nullptr;
      if (arg.kind == ValueKind::kFlag) {
        option = b.app->add_flag(arg.name, b.flags[key], arg.help);
      } else if (arg.maxCount > 1) {
        option = b.app->add_option(arg.name, b.lists[key], arg.help);
        if (arg.positional()) option->expected(arg.required ? 1 : 0, arg.maxCount);
      } else {
        b.singles[key] = arg.defaultValue;
        option = b.app->add_option(arg.name, b.singles[key], arg.help);
      }
      if (!arg.valueName.empty()) option->type_name(arg.valueName);
      if (arg.required) option->required();
      if (arg.kind == ValueKind::kOrder) option->check(CLI::IsMember(ValueChoices(arg.kind)));
      if (arg.kind == ValueKind::kNumber) option->check(CLI::Range(arg.minimum, arg.maximum));
      b.options[key] = option;
    }
    for (const ArgumentRow& arg : row.arguments) {
      if (!arg.excludes.empty()) b.options[arg.Key()]->excludes(b.options.at(arg.excludes));
    }
    if (const std::string footer = Footer(row); !footer.empty()) b.app->footer(footer);
    for (const CommandRow& sub : row.subcommands) Add(*b.app, sub, b.path);
    b.app->require_subcommand(row.needsSubcommand ? 1 : 0, 1);
  }

  CLI::App app_;
  std::string writeDocs_;
  std::deque<Binding> bindings_;
};

CommandArgs ArgsOf(const Binding& b) {
  CommandArgs args;
  for (const auto& [key, value] : b.singles) {
    if (b.options.at(key)->count() > 0 || !value.empty()) args.values[key] = {value};
  }
  for (const auto& [key, values] : b.lists) args.values[key] = values;
  for (const auto& [key, set] : b.flags) args.flags[key] = set;
  return args;
}

// Whether a result named so lands on standard output, where the reports
// must then not go.
bool WritesStandardOutput(const std::string& output) {
  return output == "-" || output == "/dev/stdout" || output == "/dev/fd/1" ||
         output == "/proc/self/fd/1";
}

std::string CommandNames() {
  std::string names;
  for (const CommandRow& row : ToolCommands()) names += (names.empty() ? "" : ", ") + row.name;
  return names;
}

Status RunHelp(const CommandArgs& args, CommandContext& ctx) {
  const std::vector<std::string>& topic = args.All("COMMAND");
  std::string path;
  for (const std::string& word : topic) path += (path.empty() ? "" : " ") + word;
  if (path == "batch") {
    ctx.io.out << BatchHelpText();
    return Status::Ok();
  }
  if (!path.empty() && FindCommand(path) == nullptr) {
    return ctx.Usage(Tr("unknown command \"{1}\"; the commands are: {2}", path, CommandNames()));
  }
  // Asked of the parser, so that the text is the one COMMAND --help prints.
  std::vector<std::string> argv = {kProgram};
  argv.insert(argv.end(), topic.begin(), topic.end());
  argv.push_back("--help");
  std::vector<const char*> cargv;
  for (const std::string& a : argv) cargv.push_back(a.c_str());
  Parser parser;
  try {
    parser.app().parse(static_cast<int>(cargv.size()), cargv.data());
  } catch (const CLI::ParseError& e) {
    ctx.SetExitStatus(parser.app().exit(e, ctx.io.out, ctx.io.err));
  }
  return Status::Ok();
}

int WriteDocsCommand(std::span<const std::string> argv, ToolIo& io) {
  CommandContext ctx(io, "--write-docs");
  if (argv.size() != 3 || argv[2].empty())
    return ctx.Finish(ctx.Usage(Tr("give the folder: --write-docs DIR")));
  return ctx.Finish(WriteCommandDocs(io.fs, argv[2]));
}

int RunCommands(std::span<const std::string> argv, ToolIo& io) {
  if (argv.size() >= 2 && argv[1] == "--write-docs") return WriteDocsCommand(argv, io);
  if (argv.size() >= 2 && !argv[1].empty() && argv[1][0] != '-' && !FindCommand(argv[1])) {
    io.err << kProgram << ": "
           << Tr("unknown command \"{1}\"; the commands are: {2}", argv[1], CommandNames()) << "\n"
           << Tr("Run 'mirel-tool --help' for usage.") << "\n";
    return 2;
  }
  // A command that reads its own arguments (the batch grammar: "-do:x" is no
  // option) bypasses the option parser.
  if (argv.size() >= 2) {
    if (const CommandRow* row = FindCommand(argv[1]); row && row->ownArguments) {
      CommandArgs args;
      args.raw = argv.subspan(2);
      CommandContext ctx(io, row->name);
      return ctx.Finish(row->run(args, ctx));
    }
  }

  Parser parser;
  std::vector<const char*> cargv;
  for (const std::string& a : argv) cargv.push_back(a.c_str());
  try {
    parser.app().parse(static_cast<int>(cargv.size()), cargv.data());
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return parser.app().exit(e, io.out, io.err);
    // Named, so that a script running several commands learns which one.
    const Binding* failed = parser.Parsed();
    io.err << kProgram << ": " << (failed ? failed->path + ": " : "") << e.what() << "\n"
           << Tr("Run 'mirel-tool {1}--help' for usage.", failed ? failed->path + " " : "") << "\n";
    return 2;
  }
  Binding* binding = parser.Parsed();
  if (binding == nullptr || !binding->row->run) return 2;
  const CommandArgs args = ArgsOf(*binding);
  CommandContext ctx(io, binding->path);
  // An empty name would quietly become the default output, or no file at all.
  for (const ArgumentRow& arg : binding->row->arguments) {
    if (arg.kind != ValueKind::kFile) continue;
    for (const std::string& value : args.All(arg.Key())) {
      if (!value.empty()) continue;
      const std::vector<std::string> spellings = arg.Spellings();
      return ctx.Finish(ctx.Usage((spellings.empty() ? arg.name : spellings.back()) +
                                  ": the file name is empty; give a file" +
                                  (arg.result ? ", or - for standard output" : "")));
    }
  }
  for (const ArgumentRow& arg : binding->row->arguments) {
    if (arg.result && WritesStandardOutput(args.Get(arg.Key()))) io.out.rdbuf(io.err.rdbuf());
  }
  return ctx.Finish(binding->row->run(args, ctx));
}

}  // namespace

const std::vector<CommandRow>& ToolCommands() {
  static const std::vector<CommandRow> commands = MakeCommands();
  return commands;
}

int RunTool(std::span<const std::string> argv, ToolIo& io) {
  // Everything printed may hold text from the files: escape it once here.
  EscapingStreamBuffer outBuffer(io.out);
  EscapingStreamBuffer errBuffer(io.err);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  StreamReplay files(io.fs);
  ToolIo escaped{
      out,          err,           files, io.programFolder, io.tempBase, io.errIsTerminal,
      io.installed, io.linuxTables};
  escaped.programs = io.programs;
  try {
    return RunCommands(argv, escaped);
  } catch (const std::bad_alloc&) {
    // The engines report running out of memory themselves; this is for what
    // they do not cover.
    err << kProgram << ": " << Tr("out of memory") << "\n";
    return 1;
  }
}

}  // namespace mirel
