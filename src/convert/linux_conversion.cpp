#include "convert/linux_conversion.h"

#include <new>

#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/text_file.h"

namespace mirel {
namespace {

using linux_table::LinuxFormat;
using linux_table::LinuxTable;

constexpr std::u16string_view kMirelStage = u"_convert_linux_.txt";

// A conversion that keeps no row is refused, so that an existing output is
// not replaced by an empty table; the first reasons say why.
Status NothingKept(const std::filesystem::path& source,
                   const std::vector<linux_table::Diagnostic>& diagnostics) {
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
SaveCheck DropsOf(size_t before, size_t after,
                  const std::vector<linux_table::Diagnostic>& diagnostics, size_t first) {
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

// A table of `target` from the rows of a Mirel text, its header built from
// what the codes use.
LinuxTable FromMirel(std::u16string_view text, LinuxFormat target,
                     std::vector<linux_table::Diagnostic>& diagnostics, size_t& rows) {
  LinuxTable plain;
  plain.format = LinuxFormat::kFcitxText;
  uint32_t line = 0;
  for (const linux_table::MirelRow& row : linux_table::SplitMirelText(text)) {
    linux_table::LinuxRow r;
    r.code = Utf16ToUtf8(row.code);
    r.entry = Utf16ToUtf8(row.entry);
    r.line = ++line;
    plain.rows.push_back(std::move(r));
  }
  rows = plain.rows.size();
  return linux_table::ConvertTable(plain, target, diagnostics);
}

Result<ConversionReport> Convert(FileSystem& fs, const std::filesystem::path& source,
                                 AnyFormat from, AnyFormat to, const std::filesystem::path& output,
                                 const TempFolder& temp, const ConfirmDrops& confirmDrops) {
  ConversionReport report;
  if (const LinuxFormat* linuxFrom = std::get_if<LinuxFormat>(&from)) {
    Result<linux_table::ReadResult> read = linux_table::ReadLinuxTable(fs, source, *linuxFrom);
    if (!read.IsOk()) return read.status();
    report.diagnostics = std::move(read->diagnostics);
    if (const LinuxFormat* linuxTo = std::get_if<LinuxFormat>(&to)) {
      if (!linux_table::InfoOf(*linuxTo).writable) {
        return Status::Unsupported(output.string(), Tr("this format is read only"));
      }
      const size_t first = report.diagnostics.size();
      LinuxTable converted = linux_table::ConvertTable(read->table, *linuxTo, report.diagnostics);
      if (converted.rows.empty()) return NothingKept(source, report.diagnostics);
      const SaveCheck drops =
          DropsOf(read->table.rows.size(), converted.rows.size(), report.diagnostics, first);
      if (Status s = ConfirmDropped(source, drops, confirmDrops); !s.IsOk()) return s;
      linux_table::SetRimeName(converted, linux_table::RimeNameOf(output));
      if (Status s = linux_table::WriteLinuxTable(fs, output, converted); !s.IsOk()) return s;
      report.rows = converted.rows.size();
      return report;
    }
    const std::u16string text = linux_table::ToMirelText(read->table);
    if (text.empty()) return Status::InvalidArgument(source.string(), Tr("the table has no rows"));
    Result<uint64_t> count = ConvertCommonFormat(fs, text, TableFormat::kMirel,
                                                 std::get<TableFormat>(to), output, temp, source);
    if (!count.IsOk()) return count.status();
    report.rows = count.value();
    return report;
  }
  // From a common format: through the Mirel format unless it is one.
  const LinuxFormat linuxTo = std::get<LinuxFormat>(to);
  if (!linux_table::InfoOf(linuxTo).writable) {
    return Status::Unsupported(output.string(), Tr("this format is read only"));
  }
  Result<TextBuffer> text = ReadTableText(fs, source);
  if (!text.IsOk()) return text.status();
  std::u16string mirel;
  if (std::get<TableFormat>(from) == TableFormat::kMirel) {
    mirel = std::move(text->text);
  } else {
    const std::filesystem::path stage = temp.TempPath(kMirelStage);
    if (stage.empty()) return Status::IoError("temporary folder", Tr("its path is too long"));
    Result<uint64_t> count = ConvertCommonFormat(fs, text->text, std::get<TableFormat>(from),
                                                 TableFormat::kMirel, stage, temp, source);
    if (!count.IsOk()) return count.status();
    Result<TextBuffer> back = ReadTextFile(fs, stage);
    (void)fs.Remove(stage);
    if (!back.IsOk()) return back.status();
    mirel = std::move(back->text);
  }
  size_t rows = 0;
  LinuxTable table = FromMirel(mirel, linuxTo, report.diagnostics, rows);
  linux_table::SetRimeName(table, linux_table::RimeNameOf(output));
  if (table.rows.empty()) return NothingKept(source, report.diagnostics);
  if (Status s = ConfirmDropped(source, DropsOf(rows, table.rows.size(), report.diagnostics, 0),
                                confirmDrops);
      !s.IsOk()) {
    return s;
  }
  if (Status s = linux_table::WriteLinuxTable(fs, output, table); !s.IsOk()) return s;
  report.rows = table.rows.size();
  return report;
}

}  // namespace

std::optional<AnyFormat> AnyFormatFromCliName(std::string_view name) {
  if (std::optional<TableFormat> common = FormatFromCliName(name)) return AnyFormat(*common);
  if (std::optional<LinuxFormat> linux = linux_table::LinuxFormatFromCliName(name)) {
    return AnyFormat(*linux);
  }
  return std::nullopt;
}

std::string_view CliNameOf(AnyFormat format) {
  if (const TableFormat* common = std::get_if<TableFormat>(&format)) {
    return InfoOf(*common).cliName;
  }
  return linux_table::InfoOf(std::get<LinuxFormat>(format)).cliName;
}

std::string AllFormatNames() {
  std::string names;
  for (const FormatInfo& info : TableFormats()) names += std::string(info.cliName) + ", ";
  for (const linux_table::LinuxFormatInfo& info : linux_table::LinuxFormats()) {
    names += std::string(info.cliName) + ", ";
  }
  names.resize(names.size() - 2);
  return names;
}

std::optional<AnyFormat> DetectAnyFormat(std::string_view bytes) {
  if (std::optional<LinuxFormat> linux = linux_table::DetectLinuxFormat(bytes)) return *linux;
  const Detection detection = DetectFormat(DecodeText(bytes.substr(0, 1 << 16)).text);
  if (detection.format) return *detection.format;
  return std::nullopt;
}

std::filesystem::path AnyConversionOutputPath(const std::filesystem::path& source, AnyFormat to) {
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
  std::u16string suffix;
  if (const TableFormat* common = std::get_if<TableFormat>(&to)) {
    suffix = InfoOf(*common).suffix;
  } else {
    suffix = linux_table::InfoOf(std::get<LinuxFormat>(to)).suffix;
  }
  return source.parent_path() / (name.substr(0, dot) + PathFromUtf16(suffix).string());
}

Result<ConversionReport> ConvertAnyFormat(FileSystem& fs, const std::filesystem::path& source,
                                          AnyFormat from, AnyFormat to,
                                          const std::filesystem::path& output,
                                          const TempFolder& temp,
                                          const ConfirmDrops& confirmDrops) {
  if (std::holds_alternative<TableFormat>(from) && std::holds_alternative<TableFormat>(to)) {
    Result<TextBuffer> text = ReadTableText(fs, source);
    if (!text.IsOk()) return text.status();
    Result<uint64_t> count = ConvertCommonFormat(fs, text->text, std::get<TableFormat>(from),
                                                 std::get<TableFormat>(to), output, temp, source);
    if (!count.IsOk()) return count.status();
    return ConversionReport{count.value(), {}};
  }
  try {
    return Convert(fs, source, from, to, output, temp, confirmDrops);
  } catch (const std::bad_alloc&) {
    return Status::NoMemory("conversion");
  }
}

SaveCheck CheckLinuxSave(const LinuxTable& table, LinuxFormat target) {
  std::vector<linux_table::Diagnostic> diagnostics;
  const LinuxTable converted = linux_table::ConvertTable(table, target, diagnostics);
  return DropsOf(table.rows.size(), converted.rows.size(), diagnostics, 0);
}

}  // namespace mirel
