#include "app/linux_commands.h"

#include <algorithm>
#include <cstdio>

#include "convert/table_formats.h"
#include "platform/messages.h"
#include "platform/temp_folder.h"
#include "platform/terminal_text.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {

// Rows left out or lines not taken, one message each, named by line.
void ReportDiagnostics(const std::string& file,
                       const std::vector<linux_table::Diagnostic>& diagnostics,
                       const CommandContext& ctx) {
  for (const linux_table::Diagnostic& d : diagnostics) {
    ctx.Warn(d.line ? file + ":" + std::to_string(d.line) : file, d.message);
  }
}

// Rows a Linux target cannot hold are listed and the write refused, unless
// --drop says to write the rest without them.
ConfirmDrops RefuseDropsUnless(bool drop, const std::string& source, CommandContext& ctx) {
  return [drop, source, &ctx](const SaveCheck& drops) {
    if (drop) return true;
    // The refusal names only the first few; the list says more.
    constexpr size_t kListed = 10;
    size_t listed = 0;
    for (const SaveFinding& f : drops.findings) {
      if (listed++ == kListed) break;
      ctx.Warn(f.line ? source + ":" + std::to_string(f.line) : source, f.text);
    }
    if (drops.rowsDropped > kListed) {
      ctx.Warn(source, Tr("and {1} more", drops.rowsDropped - kListed));
    }
    ctx.Warn(source, Tr("--drop writes the other rows without these"));
    return false;
  };
}

namespace {

using linux_table::LinuxFormat;

Result<std::unique_ptr<TempFolder>> OpenTemp(ToolIo& io) {
  return io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
}

// The text form of an installed table, which it leaves in by default and
// shares its header with.
LinuxFormat TextFormOf(LinuxFormat format) {
  return format == LinuxFormat::kFcitxBinary    ? LinuxFormat::kFcitxText
         : format == LinuxFormat::kIbusDatabase ? LinuxFormat::kIbusSource
                                                : format;
}

// A table whose bytes are wrong, as opposed to one that could not be read.
bool Damaged(const LinuxTableInfo& t) { return t.readError.code() == Status::Code::kCorrupt; }

Status RunList(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  Result<std::vector<LinuxTableInfo>> tables = ListLinuxTables(io.fs, io.linuxTables, true);
  if (!tables.IsOk()) return tables.status();
  if (args.Flag("json")) {
    for (const LinuxTableInfo& t : tables.value()) {
      io.out << "{\"name\":" << JsonString(t.name) << ",\"ime\":" << JsonString(ImeName(t.ime))
             << ",\"format\":" << JsonString(linux_table::InfoOf(t.format).cliName)
             << ",\"path\":" << JsonString(t.path.string()) << ",\"rows\":" << t.rows
             << ",\"user\":" << (t.user ? "true" : "false")
             << ",\"overrides\":" << (t.overrides ? "true" : "false");
      if (!t.readError.IsOk()) {
        io.out << ",\"damaged\":" << (Damaged(t) ? "true" : "false")
               << ",\"error\":" << JsonString(t.readError.message());
      }
      io.out << "}\n";
    }
    return Status::Ok();
  }
  if (tables->empty()) {
    io.out << "No table of fcitx5, Rime or ibus-table was found.\n";
    return Status::Ok();
  }
  // Names come from file names: escaped before the columns are measured.
  size_t nameWidth = 4;
  for (const LinuxTableInfo& t : tables.value()) {
    nameWidth = std::max(nameWidth, EscapeName(t.name).size());
  }
  auto pad = [](std::string text, size_t to) {
    text.resize(std::max(text.size(), to) + 2, ' ');
    return text;
  };
  io.out << pad("NAME", nameWidth) << pad("FORMAT", 11) << pad("ROWS", 8) << "COPY      PATH\n";
  for (const LinuxTableInfo& t : tables.value()) {
    const std::string copy = t.overrides ? "override" : t.user ? "user" : "system";
    io.out << pad(EscapeName(t.name), nameWidth)
           << pad(std::string(linux_table::InfoOf(t.format).cliName), 11)
           << pad(t.rows >= 0  ? std::to_string(t.rows)
                  : Damaged(t) ? "damaged"
                               : "?",
                  8)
           << pad(copy, 8) << EscapeName(t.path.string()) << "\n";
  }
  // Why, on standard error, so that the columns stay as scripts read them.
  for (const LinuxTableInfo& t : tables.value()) {
    if (!t.readError.IsOk()) ctx.Warn(t.readError);
  }
  return Status::Ok();
}

const char kDropHelp[] =
    "write a Linux table without the rows it cannot hold (otherwise they are listed and "
    "nothing is written)";

Status RunExport(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& name = args.Get("NAME");
  const std::string& output = args.Get("OUT");
  const std::string& toName = args.Get("to");
  Result<LinuxTableInfo> found = FindLinuxTable(io.fs, io.linuxTables, name);
  if (!found.IsOk()) return found.status();
  // By default each table leaves in its text form.
  const FileFormat* to = &FormatOf(TextFormOf(found->format));
  if (!toName.empty()) {
    to = FormatNamed(toName);
    if (!to) return ctx.Usage(Tr("unknown format \"{1}\" ({2})", toName, AllFormatNames()));
  }
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return temp.status();
  Result<ConversionReport> report =
      ConvertFile(io.fs, found->path, FormatOf(found->format), *to, output, *temp.value(),
                  RefuseDropsUnless(args.Flag("drop"), found->path.string(), ctx));
  if (!report.IsOk()) return report.status();
  ReportDiagnostics(found->path.string(), report->diagnostics, ctx);
  io.out << Counted(report->rows, "row", "rows") << " of " << EscapeName(found->name)
         << " written to " << EscapeName(output) << "\n";
  return Status::Ok();
}

Status RunInstall(const CommandArgs& args, CommandContext& ctx) {
  ToolIo& io = ctx.io;
  const std::string& name = args.Get("NAME");
  const std::string& tableFile = args.Get("TABLE");
  Result<LinuxTableInfo> found = FindLinuxTable(io.fs, io.linuxTables, name);
  if (!found.IsOk()) return found.status();
  // The table to install: a Linux table, or any common format through the
  // Mirel format into the installed table's header.
  Result<std::string> bytes = io.fs.ReadWhole(tableFile);
  if (!bytes.IsOk()) return bytes.status();
  const FileFormat* format = DetectFileFormat(bytes.value());
  if (!format) {
    return Status::InvalidArgument(tableFile,
                                   Tr("the format is not recognised (a table of fcitx5, Rime, "
                                      "ibus-table or one of the common line formats)"));
  }
  std::vector<linux_table::Diagnostic> diagnostics;
  linux_table::LinuxTable table;
  // A table of the same input method goes in with its own header; any other
  // gives its rows, in candidate order, to the installed table's header,
  // which is what the input method's configuration is set up around.
  const std::optional<LinuxFormat> linux = format->linuxFormat();
  if (linux && TextFormOf(*linux) == TextFormOf(found->format)) {
    Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(io.fs, tableFile, *linux);
    if (!read.IsOk()) return read.status();
    diagnostics = std::move(read->diagnostics);
    table = std::move(read->table);
  } else {
    std::u16string mirel;
    if (linux) {
      Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(io.fs, tableFile, *linux);
      if (!read.IsOk()) return read.status();
      diagnostics = std::move(read->diagnostics);
      mirel = linux_table::ToMirelText(read->table);
    } else {
      Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
      if (!temp.IsOk()) return temp.status();
      mirel = DecodeText(bytes.value()).text;
      if (format->lineFormat() != TableFormat::kMirel) {
        const std::filesystem::path stage = temp.value()->TempPath(u"_install_linux_.txt");
        Result<uint64_t> count =
            ConvertCommonFormat(io.fs, mirel, *format->lineFormat(), TableFormat::kMirel, stage,
                                *temp.value(), tableFile);
        if (!count.IsOk()) return count.status();
        Result<TextBuffer> back = ReadTextFile(io.fs, stage);
        (void)io.fs.Remove(stage);
        if (!back.IsOk()) return back.status();
        mirel = std::move(back->text);
      }
    }
    Result<linux_table::ReadResult> installed =
        linux_table::ReadLinuxTable(io.fs, found->path, found->format);
    if (!installed.IsOk()) return installed.status();
    linux_table::LinuxTable base = std::move(installed->table);
    if (base.format == LinuxFormat::kIbusDatabase) base.format = LinuxFormat::kIbusSource;
    table = linux_table::FromMirelRows(base, linux_table::SplitMirelText(mirel));
  }
  ReportDiagnostics(tableFile, diagnostics, ctx);
  diagnostics.clear();
  const SaveCheck drops = FormatOf(found->format).CannotHold(table);
  if (drops.rowsDropped > 0 && !RefuseDropsUnless(args.Flag("drop"), tableFile, ctx)(drops)) {
    return Status::InvalidArgument(tableFile, drops.DescribeRows(3) + "; nothing was installed");
  }
  std::unique_ptr<ProcessRunner> ownRunner;
  if (io.programs == nullptr) ownRunner = NewPosixProcessRunner();
  ProcessRunner* runner = io.programs ? io.programs : ownRunner.get();
  std::unique_ptr<TempFolder> scratch;
  if (found->format == LinuxFormat::kIbusDatabase) {
    Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
    if (!temp.IsOk()) return temp.status();
    scratch = std::move(temp.value());
  }
  const IbusBuild build{*runner, scratch ? scratch->folder() : std::filesystem::path()};
  Status installed = InstallLinuxTable(io.fs, found.value(), table, diagnostics, &build);
  ReportDiagnostics(tableFile, diagnostics, ctx);
  if (!installed.IsOk()) return installed;
  for (const std::filesystem::path& path : found->userPaths) {
    io.out << EscapeName(found->name) << " installed as " << EscapeName(path.string()) << "\n";
  }
  if (!args.Flag("reload")) {
    io.out << LinuxReloadAdvice(found.value()) << "; --reload does it\n";
    return Status::Ok();
  }
  const std::vector<std::string> command = LinuxReloadCommand(io.fs, found.value(), io.linuxTables);
  std::string shown;
  for (const std::string& a : command) shown += (shown.empty() ? "" : " ") + a;
  const ChildLimits limits = LinuxProgramLimits(0);
  Result<ChildOutcome> ran = runner->RunProgram(command, limits);
  if (!ran.IsOk() || ran->end != ChildOutcome::End::kFinished || ran->exitCode != 0) {
    const std::string why = !ran.IsOk() ? " to start"
                            : ran->end != ChildOutcome::End::kFinished
                                ? ": " + DescribeChildEnd(ran.value(), limits)
                            : ran->exitCode == 127 ? " to start"
                                                   : "";
    return Status::IoError("", Tr("the table is installed, but \"{1}\" failed{2}", shown, why));
  }
  io.out << "ran " << shown << "\n";
  return Status::Ok();
}

}  // namespace

CommandRow LinuxCommand() {
  const ArgumentRow to =
      OptionArgument("--to", "FORMAT", "the format to write (default: the table's own text form)",
                     ValueKind::kFormat);
  const ArgumentRow name =
      PositionalArgument("NAME", "the table's name (see linux list)", ValueKind::kText);
  ArgumentRow installed = name;
  installed.help = "the installed table it replaces for this user";
  return {"linux",
          "List, export and install the tables of fcitx5, Rime and ibus-table.",
          {},
          "Folders: $XDG_DATA_HOME (~/.local/share), $XDG_CONFIG_HOME (~/.config) and\n"
          "$XDG_DATA_DIRS (/usr/local/share:/usr/share). System folders are never written.",
          {},
          {"mirel-tool linux list", "mirel-tool linux export wubi86 wubi86.txt",
           "mirel-tool linux install mine.txt wubi86 --reload"},
          {{"list",
            "List the installed tables, user copies first.",
            {FlagArgument("--json", "one JSON object per line")},
            "",
            {},
            {},
            {},
            false,
            false,
            RunList},
           {"export",
            "Write an installed table to a file.",
            {name, PositionalArgument("OUT", "the file to write"), to,
             FlagArgument("--drop", kDropHelp)},
            "",
            {},
            {},
            {},
            false,
            false,
            RunExport},
           {"install",
            "Install a table as the user copy of an installed one.",
            {PositionalArgument("TABLE", "the table to install (any format Mirel reads)"),
             installed, FlagArgument("--drop", kDropHelp),
             FlagArgument("--reload",
                          "run the input method's step that loads it (reload, redeploy, restart)")},
            "",
            {},
            {},
            {},
            false,
            false,
            RunInstall}},
          true,
          false,
          {}};
}

}  // namespace mirel
