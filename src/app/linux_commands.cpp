#include "app/linux_commands.h"

#include <algorithm>
#include <cstdio>

#include "convert/linux_conversion.h"
#include "platform/temp_folder.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {
namespace {

using linux_table::LinuxFormat;

constexpr const char* kProgram = "mirel-tool";

int Failure(const std::string& command, const Status& status, ToolIo& io) {
  io.err << kProgram << ": " << command << ": " << status.message() << "\n";
  return 1;
}

// Rows left out or lines not taken, one message each, named by line.
void ReportDiagnostics(const std::string& command, const std::string& file,
                       const std::vector<linux_table::Diagnostic>& diagnostics, ToolIo& io) {
  for (const linux_table::Diagnostic& d : diagnostics) {
    io.err << kProgram << ": " << command << ": " << file;
    if (d.line) io.err << ":" << d.line;
    io.err << ": " << d.message << "\n";
  }
}

std::string Json(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

Result<std::unique_ptr<TempFolder>> OpenTemp(ToolIo& io) {
  return io.tempBase.empty() ? TempFolder::Open() : TempFolder::OpenIn(io.tempBase);
}

int RunList(bool json, ToolIo& io) {
  Result<std::vector<LinuxTableInfo>> tables = ListLinuxTables(io.fs, io.linuxTables, true);
  if (!tables.IsOk()) return Failure("linux list", tables.status(), io);
  if (json) {
    for (const LinuxTableInfo& t : tables.value()) {
      io.out << "{\"name\":" << Json(t.name) << ",\"ime\":" << Json(ImeName(t.ime))
             << ",\"format\":" << Json(linux_table::InfoOf(t.format).cliName)
             << ",\"path\":" << Json(t.path.string()) << ",\"rows\":" << t.rows
             << ",\"user\":" << (t.user ? "true" : "false")
             << ",\"overrides\":" << (t.overrides ? "true" : "false") << "}\n";
    }
    return 0;
  }
  if (tables->empty()) {
    io.out << "No table of fcitx5, Rime or ibus-table was found.\n";
    return 0;
  }
  size_t nameWidth = 4;
  for (const LinuxTableInfo& t : tables.value()) nameWidth = std::max(nameWidth, t.name.size());
  auto pad = [](std::string text, size_t to) {
    text.resize(std::max(text.size(), to) + 2, ' ');
    return text;
  };
  io.out << pad("NAME", nameWidth) << pad("FORMAT", 11) << pad("ROWS", 8) << "COPY      PATH\n";
  for (const LinuxTableInfo& t : tables.value()) {
    const std::string copy = t.overrides ? "override" : t.user ? "user" : "system";
    io.out << pad(t.name, nameWidth) << pad(std::string(linux_table::InfoOf(t.format).cliName), 11)
           << pad(t.rows < 0 ? "?" : std::to_string(t.rows), 8) << pad(copy, 8)
           << t.path.string() << "\n";
  }
  return 0;
}

int RunExport(const LinuxCommands& c, ToolIo& io) {
  Result<LinuxTableInfo> found = FindLinuxTable(io.fs, io.linuxTables, c.name);
  if (!found.IsOk()) return Failure("linux export", found.status(), io);
  // By default each table leaves in its text form.
  AnyFormat to = found->format == LinuxFormat::kFcitxBinary     ? LinuxFormat::kFcitxText
                 : found->format == LinuxFormat::kIbusDatabase ? LinuxFormat::kIbusSource
                                                               : found->format;
  if (!c.to.empty()) {
    std::optional<AnyFormat> named = AnyFormatFromCliName(c.to);
    if (!named) {
      io.err << kProgram << ": linux export: unknown format \"" << c.to << "\" ("
             << AllFormatNames() << ")\n";
      return 2;
    }
    to = *named;
  }
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return Failure("linux export", temp.status(), io);
  Result<ConversionReport> report =
      ConvertAnyFormat(io.fs, found->path, found->format, to, c.output, *temp.value());
  if (!report.IsOk()) return Failure("linux export", report.status(), io);
  ReportDiagnostics("linux export", found->path.string(), report->diagnostics, io);
  io.out << report->rows << " rows of " << found->name << " written to " << c.output << "\n";
  return 0;
}

int RunInstall(const LinuxCommands& c, ToolIo& io) {
  Result<LinuxTableInfo> found = FindLinuxTable(io.fs, io.linuxTables, c.name);
  if (!found.IsOk()) return Failure("linux install", found.status(), io);
  // The table to install: a Linux table, or any common format through the
  // Mirel format into the installed table's header.
  Result<std::string> bytes = io.fs.ReadWhole(c.table);
  if (!bytes.IsOk()) return Failure("linux install", bytes.status(), io);
  std::optional<AnyFormat> format = DetectAnyFormat(bytes.value());
  if (!format) {
    io.err << kProgram << ": linux install: " << c.table
           << ": the format is not recognised (a table of fcitx5, Rime, ibus-table or one of the "
              "common line formats)\n";
    return 1;
  }
  std::vector<linux_table::Diagnostic> diagnostics;
  linux_table::LinuxTable table;
  if (const LinuxFormat* linux = std::get_if<LinuxFormat>(&*format)) {
    Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(io.fs, c.table, *linux);
    if (!read.IsOk()) return Failure("linux install", read.status(), io);
    diagnostics = std::move(read->diagnostics);
    table = std::move(read->table);
  } else {
    Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
    if (!temp.IsOk()) return Failure("linux install", temp.status(), io);
    std::u16string mirel = DecodeText(bytes.value()).text;
    if (std::get<TableFormat>(*format) != TableFormat::kMirel) {
      const std::filesystem::path stage = temp.value()->TempPath(u"_install_linux_.txt");
      Result<uint64_t> count = ConvertCommonFormat(io.fs, mirel, std::get<TableFormat>(*format),
                                                   TableFormat::kMirel, stage, *temp.value());
      if (!count.IsOk()) return Failure("linux install", count.status(), io);
      Result<TextBuffer> back = ReadTextFile(io.fs, stage);
      (void)io.fs.Remove(stage);
      if (!back.IsOk()) return Failure("linux install", back.status(), io);
      mirel = std::move(back->text);
    }
    // The installed table lends its header; its rows give way to these.
    Result<linux_table::ReadResult> installed =
        linux_table::ReadLinuxTable(io.fs, found->path, found->format);
    if (!installed.IsOk()) return Failure("linux install", installed.status(), io);
    linux_table::LinuxTable base = std::move(installed->table);
    if (base.format == LinuxFormat::kIbusDatabase) base.format = LinuxFormat::kIbusSource;
    table = linux_table::FromMirelRows(base, linux_table::SplitMirelText(mirel));
  }
  ReportDiagnostics("linux install", c.table, diagnostics, io);
  diagnostics.clear();
  Status installed = InstallLinuxTable(io.fs, found.value(), table, diagnostics);
  ReportDiagnostics("linux install", c.table, diagnostics, io);
  if (!installed.IsOk()) return Failure("linux install", installed, io);
  for (const std::filesystem::path& path : found->userPaths) {
    io.out << found->name << " installed as " << path.string() << "\n";
  }
  if (!c.reload) {
    io.out << LinuxReloadAdvice(found.value()) << "; --reload does it\n";
    return 0;
  }
  const std::vector<std::string> command = LinuxReloadCommand(found.value(), io.linuxTables);
  std::string shown;
  for (const std::string& a : command) shown += (shown.empty() ? "" : " ") + a;
  const int rc = RunProgram(command);
  if (rc != 0) {
    io.err << kProgram << ": linux install: the table is installed, but \"" << shown
           << "\" failed" << (rc < 0 || rc == 127 ? " to start" : "") << "\n";
    return 1;
  }
  io.out << "ran " << shown << "\n";
  return 0;
}

}  // namespace

std::optional<int> TryLinuxConvert(const std::string& source, const std::string& from,
                                   const std::string& to, const std::string& output, ToolIo& io) {
  std::optional<AnyFormat> target = AnyFormatFromCliName(to);
  std::optional<AnyFormat> origin;
  if (!from.empty()) {
    origin = AnyFormatFromCliName(from);
  } else {
    Result<std::string> bytes = io.fs.ReadWhole(source);
    if (bytes.IsOk()) {
      if (std::optional<LinuxFormat> linux = linux_table::DetectLinuxFormat(bytes.value())) {
        origin = *linux;
      }
    }
  }
  const bool linuxTarget = target && std::holds_alternative<LinuxFormat>(*target);
  const bool linuxSource = origin && std::holds_alternative<LinuxFormat>(*origin);
  if (!linuxTarget && !linuxSource) return std::nullopt;
  if (!target) {
    io.err << kProgram << ": convert: unknown format \"" << to << "\" (" << AllFormatNames()
           << ")\n";
    return 2;
  }
  if (!origin) {
    if (!from.empty()) {
      io.err << kProgram << ": convert: unknown format \"" << from << "\" (" << AllFormatNames()
             << ")\n";
      return 2;
    }
    Result<std::string> bytes = io.fs.ReadWhole(source);
    if (!bytes.IsOk()) return Failure("convert", bytes.status(), io);
    origin = DetectAnyFormat(bytes.value());
    if (!origin) {
      io.err << kProgram << ": convert: " << source << ": the format is not recognised; give --from "
             << AllFormatNames() << "\n";
      return 1;
    }
  }
  const std::filesystem::path out =
      output.empty() ? AnyConversionOutputPath(source, *target) : std::filesystem::path(output);
  if (out.empty()) {
    io.err << kProgram << ": convert: " << source << ": the file name has no extension; give -o OUT\n";
    return 1;
  }
  Result<std::unique_ptr<TempFolder>> temp = OpenTemp(io);
  if (!temp.IsOk()) return Failure("convert", temp.status(), io);
  Result<ConversionReport> report = ConvertAnyFormat(io.fs, source, *origin, *target, out, *temp.value());
  if (!report.IsOk()) return Failure("convert", report.status(), io);
  ReportDiagnostics("convert", source, report->diagnostics, io);
  const bool kuji =
      std::holds_alternative<TableFormat>(*target) && std::get<TableFormat>(*target) == TableFormat::kKuji;
  io.out << report->rows << (kuji ? " lines" : " entries") << " written to " << out.string();
  if (!report->diagnostics.empty()) io.out << " (" << report->diagnostics.size() << " left out)";
  io.out << "\n";
  return 0;
}

std::optional<int> TryLinuxDetect(const std::string& source, ToolIo& io) {
  Result<std::string> bytes = io.fs.ReadWhole(source);
  if (!bytes.IsOk()) return std::nullopt;
  std::optional<LinuxFormat> linux = linux_table::DetectLinuxFormat(bytes.value());
  if (!linux) return std::nullopt;
  io.out << linux_table::InfoOf(*linux).cliName << "\n";
  return 0;
}

void AddLinuxCommands(CLI::App& app, LinuxCommands& c) {
  c.linux = app.add_subcommand(
      "linux", "List, export and install the tables of fcitx5, Rime and ibus-table.");
  c.linux->require_subcommand(1);
  c.linux->footer(
      "Folders: $XDG_DATA_HOME (~/.local/share), $XDG_CONFIG_HOME (~/.config) and\n"
      "$XDG_DATA_DIRS (/usr/local/share:/usr/share). System folders are never written.\n");
  c.list = c.linux->add_subcommand("list", "List the installed tables, user copies first.");
  c.list->add_flag("--json", c.json, "one JSON object per line");
  c.exportTable = c.linux->add_subcommand("export", "Write an installed table to a file.");
  c.exportTable->add_option("NAME", c.name, "the table's name (see linux list)")->required();
  c.exportTable->add_option("OUT", c.output, "the file to write")->required();
  c.exportTable->add_option("--to", c.to,
                            "the format to write (default: the table's own text form)");
  c.install = c.linux->add_subcommand(
      "install", "Install a table as the user copy of an installed one.");
  c.install->add_option("TABLE", c.table, "the table to install (any format Mirel reads)")
      ->required();
  c.install->add_option("NAME", c.name, "the installed table it replaces for this user")
      ->required();
  c.install->add_flag("--reload", c.reload,
                      "run the input method's step that loads it (reload, redeploy, restart)");
}

std::optional<int> RunLinuxCommands(const LinuxCommands& c, ToolIo& io) {
  if (!c.linux || !c.linux->parsed()) return std::nullopt;
  if (c.list->parsed()) return RunList(c.json, io);
  if (c.exportTable->parsed()) return RunExport(c, io);
  if (c.install->parsed()) return RunInstall(c, io);
  return 2;
}

}  // namespace mirel
