#include "convert/table_formats.h"

#include <array>
#include <new>

#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/text_file.h"

namespace mirel {
namespace {

using linux_table::Diagnostic;
using linux_table::LinuxFormat;
using linux_table::LinuxTable;

// A conversion that keeps no row is refused, so that an existing output is
// not replaced by an empty table; the first reasons say why.
Status NothingKept(const std::filesystem::path& source,
                   const std::vector<Diagnostic>& diagnostics) {
  if (diagnostics.empty()) {
    return Status::InvalidArgument(source.string(), Tr("no row can be written in this format"));
  }
  std::string reasons;
  constexpr size_t kShown = 3;
  for (size_t k = 0; k < diagnostics.size() && k < kShown; ++k) {
    if (k > 0) reasons += "; ";
    reasons += diagnostics[k].line != 0
                   ? Tr("line {1}: {2}", diagnostics[k].line, diagnostics[k].message)
                   : diagnostics[k].message;
  }
  if (diagnostics.size() > kShown) reasons += "; ...";
  return Status::InvalidArgument(
      source.string(),
      Tr("no row can be written in this format: {1} left out ({2})", diagnostics.size(), reasons));
}

// The rows a conversion left out: the diagnostics from `first` on that name
// a line (the others are about the header).
SaveCheck DropsOf(size_t before, size_t after, const std::vector<Diagnostic>& diagnostics,
                  size_t first) {
  SaveCheck check;
  check.rowsDropped = before > after ? before - after : 0;
  for (size_t k = first; k < diagnostics.size() && check.findings.size() < SaveCheck::kShown; ++k) {
    if (diagnostics[k].line != 0) {
      check.findings.push_back({diagnostics[k].line, diagnostics[k].message});
    }
  }
  return check;
}

// Asks before rows are left out; a refusal writes nothing.
Status ConfirmDropped(const std::filesystem::path& source, const SaveCheck& drops,
                      const ConfirmDrops& confirmDrops) {
  if (drops.rowsDropped == 0 || !confirmDrops || confirmDrops(drops)) return Status::Ok();
  return Status::InvalidArgument(source.string(),
                                 Tr("{1}; nothing was written", drops.DescribeRows(3)));
}

// The rows of a line table as Mirel rows (entry, code) in file order. A Mirel
// text is cut at its first tab as the editor cuts it; any other format goes
// through the intermediate file.
Result<std::vector<linux_table::MirelRow>> MirelRowsOf(FileSystem& fs, const FormatTable& table,
                                                       const std::filesystem::path& source,
                                                       const TempFolder& temp,
                                                       std::u16string& holder) {
  const TableFormat format = *table.format->lineFormat();
  if (format == TableFormat::kMirel) return linux_table::SplitMirelText(table.text());
  Result<common_format::StagedRecords> staged =
      common_format::StageRecords(fs, table.text(), format, temp, source);
  if (!staged.IsOk()) return staged.status();
  holder = common_format::TargetText(TableFormat::kMirel, staged->records);
  return linux_table::SplitMirelText(holder);
}

class LineFileFormat final : public FileFormat {
 public:
  explicit LineFileFormat(const FormatInfo& info)
      : FileFormat(info.cliName, info.radioText, info.suffix, true), format_(info.format) {}

  std::optional<TableFormat> lineFormat() const override { return format_; }

  Result<FormatTable> Read(FileSystem& fs, const std::filesystem::path& source, const TempFolder&,
                           const std::u16string* text) const override {
    FormatTable table;
    table.format = this;
    if (text != nullptr) {
      table.borrowed = text;
      return table;
    }
    Result<TextBuffer> read = ReadTableText(fs, source);
    if (!read.IsOk()) return read.status();
    table.owned = std::move(read->text);
    return table;
  }

  Result<ConversionReport> Write(FileSystem& fs, FormatTable& table,
                                 const std::filesystem::path& source,
                                 const std::filesystem::path& output, const TempFolder& temp,
                                 const ConfirmDrops&) const override {
    ConversionReport report;
    report.diagnostics = std::move(table.diagnostics);
    std::u16string_view text = table.text();
    TableFormat from = format_;
    std::u16string mirel;
    if (table.linux) {
      // A Linux table's rows, in candidate order, as a Mirel text.
      mirel = linux_table::ToMirelText(*table.linux);
      if (mirel.empty()) {
        return Status::InvalidArgument(source.string(), Tr("the table has no rows"));
      }
      text = mirel;
      from = TableFormat::kMirel;
    } else {
      from = *table.format->lineFormat();
    }
    Result<common_format::StagedRecords> staged =
        common_format::StageRecords(fs, text, from, temp, source);
    if (!staged.IsOk()) return staged.status();
    Result<uint64_t> lines = common_format::WriteRecords(fs, staged->records, format_, output);
    if (!lines.IsOk()) return lines.status();
    report.rows = lines.value();
    return report;
  }

 private:
  TableFormat format_;
};

class LinuxFileFormat final : public FileFormat {
 public:
  explicit LinuxFileFormat(const linux_table::LinuxFormatInfo& info)
      : FileFormat(info.cliName, info.label, info.suffix, info.writable), format_(info.format) {}

  std::optional<LinuxFormat> linuxFormat() const override { return format_; }

  Result<FormatTable> Read(FileSystem& fs, const std::filesystem::path& source, const TempFolder&,
                           const std::u16string*) const override {
    Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(fs, source, format_);
    if (!read.IsOk()) return read.status();
    FormatTable table;
    table.format = this;
    table.linux = std::move(read->table);
    table.diagnostics = std::move(read->diagnostics);
    return table;
  }

  Result<ConversionReport> Write(FileSystem& fs, FormatTable& table,
                                 const std::filesystem::path& source,
                                 const std::filesystem::path& output, const TempFolder& temp,
                                 const ConfirmDrops& confirmDrops) const override {
    if (!writable()) return Status::Unsupported(output.string(), Tr("this format is read only"));
    ConversionReport report;
    report.diagnostics = std::move(table.diagnostics);
    const size_t first = report.diagnostics.size();
    if (!table.linux) {
      // Line rows come with no header: the target's is built from what
      // their codes use.
      std::u16string holder;
      Result<std::vector<linux_table::MirelRow>> rows =
          MirelRowsOf(fs, table, source, temp, holder);
      if (!rows.IsOk()) return rows.status();
      table.linux = FromMirelRows(rows.value());
    }
    const size_t before = table.linux->rows.size();
    LinuxTable converted = linux_table::ConvertTable(*table.linux, format_, report.diagnostics);
    if (converted.rows.empty()) return NothingKept(source, report.diagnostics);
    if (Status s = ConfirmDropped(source,
                                  DropsOf(before, converted.rows.size(), report.diagnostics, first),
                                  confirmDrops);
        !s.IsOk()) {
      return s;
    }
    linux_table::SetRimeName(converted, linux_table::RimeNameOf(output));
    if (Status s = linux_table::WriteLinuxTable(fs, output, converted); !s.IsOk()) return s;
    report.rows = converted.rows.size();
    return report;
  }

  SaveCheck CannotHold(const LinuxTable& table) const override {
    std::vector<Diagnostic> diagnostics;
    const LinuxTable converted = linux_table::ConvertTable(table, format_, diagnostics);
    return DropsOf(table.rows.size(), converted.rows.size(), diagnostics, 0);
  }

 private:
  // Numbered as the lines of the Mirel text they come from.
  static LinuxTable FromMirelRows(const std::vector<linux_table::MirelRow>& rows) {
    LinuxTable plain;
    plain.format = LinuxFormat::kFcitxText;
    uint32_t line = 0;
    for (const linux_table::MirelRow& row : rows) {
      linux_table::LinuxRow r;
      r.code = Utf16ToUtf8(row.code);
      r.entry = Utf16ToUtf8(row.entry);
      r.line = ++line;
      plain.rows.push_back(std::move(r));
    }
    return plain;
  }

  LinuxFormat format_;
};

struct Registry {
  std::array<LineFileFormat, 6> lines{
      LineFileFormat(TableFormats()[0]), LineFileFormat(TableFormats()[1]),
      LineFileFormat(TableFormats()[2]), LineFileFormat(TableFormats()[3]),
      LineFileFormat(TableFormats()[4]), LineFileFormat(TableFormats()[5])};
  std::array<LinuxFileFormat, 5> linux{LinuxFileFormat(linux_table::LinuxFormats()[0]),
                                       LinuxFileFormat(linux_table::LinuxFormats()[1]),
                                       LinuxFileFormat(linux_table::LinuxFormats()[2]),
                                       LinuxFileFormat(linux_table::LinuxFormats()[3]),
                                       LinuxFileFormat(linux_table::LinuxFormats()[4])};
  std::array<const FileFormat*, 11> all{&lines[0], &lines[1], &lines[2], &lines[3],
                                        &lines[4], &lines[5], &linux[0], &linux[1],
                                        &linux[2], &linux[3], &linux[4]};
};

// Built on first use and never changed, so it may be shared by threads.
const Registry& TheRegistry() {
  static const Registry registry;
  return registry;
}

}  // namespace

SaveCheck FileFormat::CannotHold(const LinuxTable&) const { return {}; }

std::span<const FileFormat* const> FileFormats() { return TheRegistry().all; }

const FileFormat& FormatOf(TableFormat format) {
  return TheRegistry().lines[static_cast<size_t>(&InfoOf(format) - TableFormats().data())];
}

const FileFormat& FormatOf(LinuxFormat format) {
  return TheRegistry().linux[static_cast<size_t>(format)];
}

const FileFormat* FormatNamed(std::string_view name) {
  if (std::optional<TableFormat> line = FormatFromCliName(name)) return &FormatOf(*line);
  if (std::optional<LinuxFormat> linux = linux_table::LinuxFormatFromCliName(name)) {
    return &FormatOf(*linux);
  }
  return nullptr;
}

std::string AllFormatNames() {
  std::string names;
  for (const FileFormat* format : FileFormats()) {
    if (!names.empty()) names += ", ";
    names += format->name();
  }
  return names;
}

const FileFormat* DetectFileFormat(std::string_view bytes) {
  if (std::optional<LinuxFormat> linux = linux_table::DetectLinuxFormat(bytes)) {
    return &FormatOf(*linux);
  }
  const Detection detection = DetectFormat(DecodeText(bytes.substr(0, 1 << 16)).text);
  return detection.format ? &FormatOf(*detection.format) : nullptr;
}

std::filesystem::path ConversionOutputPath(const std::filesystem::path& source,
                                           const FileFormat& from, const FileFormat& to) {
  if (from.lineFormat() && to.lineFormat()) {
    return CommonConversionOutputPath(source, *to.lineFormat());
  }
  std::string name = source.filename().string();
  for (std::string_view twoPart : {".dict.yaml", ".main.dict"}) {
    if (name.ends_with(twoPart)) {
      name.resize(name.size() - twoPart.size());
      name += ".x";
      break;
    }
  }
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  return source.parent_path() / (name.substr(0, dot) + PathFromUtf16(to.suffix()).string());
}

Result<ConversionReport> ConvertFile(FileSystem& fs, const std::filesystem::path& source,
                                     const FileFormat& from, const FileFormat& to,
                                     const std::filesystem::path& output, const TempFolder& temp,
                                     const ConfirmDrops& confirmDrops,
                                     const std::u16string* sourceText) {
  if (!to.writable()) return Status::Unsupported(output.string(), Tr("this format is read only"));
  try {
    Result<FormatTable> table = from.Read(fs, source, temp, sourceText);
    if (!table.IsOk()) return table.status();
    return to.Write(fs, table.value(), source, output, temp, confirmDrops);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("conversion");
  }
}

}  // namespace mirel
