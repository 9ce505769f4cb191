// Every table format Mirel converts, each one object in one registry: the
// six line formats (the Windows table, 酷极/极点, 搜狗, QQ, 加加 and Mirel's
// own text) and the five forms of the Linux input methods (fcitx5's text and
// binary dictionary, Rime's dictionary, ibus-table's source and database).
//
// A conversion is one pass: the source format reads the file into a
// FormatTable, the target format writes that table. A line target parses the
// rows through the intermediate file in the temporary folder (numbering the
// entries of each code for 搜狗 and QQ); a Linux table keeps its header, so
// that the settings (name, key set, code length, construction rules) travel
// between Linux formats. Each side takes the other family's table: a Linux
// table gives a line format its rows through the Mirel text (in candidate
// order, without weights); line rows give a Linux format a header built from
// what their codes use.
//
// Rows the target cannot hold are left out and listed in the report with
// their source line. Before anything is written, `confirmDrops` (when set)
// is shown what would be left out; false refuses the conversion and leaves
// the output as it was. Reentrant, except that two conversions at once must
// not share a temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "convert/common_conversion.h"
#include "convert/linux_formats.h"
#include "store/save_check.h"

namespace mirel {

class FileFormat;

// What a read gives and a write takes: the rows plus the header they came
// with. A line format's table is its decoded text, cut into rows by the
// writer, which alone knows which way the rows must be cut; a Linux table is
// read whole.
struct FormatTable {
  const FileFormat* format = nullptr;
  std::u16string owned;
  const std::u16string* borrowed = nullptr;  // a text the caller keeps
  std::u16string_view text() const { return borrowed != nullptr ? *borrowed : owned; }
  std::optional<linux_table::LinuxTable> linux;
  // Lines the read could not take.
  std::vector<linux_table::Diagnostic> diagnostics;
};

struct ConversionReport {
  uint64_t rows = 0;  // lines for 酷极/极点, rows otherwise
  std::vector<linux_table::Diagnostic> diagnostics;
};

using ConfirmDrops = std::function<bool(const SaveCheck& drops)>;

class FileFormat {
 public:
  virtual ~FileFormat() = default;

  std::string_view name() const { return name_; }  // on the command line
  std::u16string_view label() const { return label_; }
  // Replaces the source's extension in the output's default name.
  std::u16string_view suffix() const { return suffix_; }
  bool writable() const { return writable_; }
  // The family's own number, for the code that works on one family.
  virtual std::optional<TableFormat> lineFormat() const { return std::nullopt; }
  virtual std::optional<linux_table::LinuxFormat> linuxFormat() const { return std::nullopt; }

  // Reads the file once, through `fs`. A line format given the decoded
  // `text` it already holds does not read the file again.
  virtual Result<FormatTable> Read(FileSystem& fs, const std::filesystem::path& source,
                                   const TempFolder& temp,
                                   const std::u16string* text = nullptr) const = 0;
  // Writes `table` (read from `source`) to `output`, replaced atomically.
  virtual Result<ConversionReport> Write(FileSystem& fs, FormatTable& table,
                                         const std::filesystem::path& source,
                                         const std::filesystem::path& output,
                                         const TempFolder& temp,
                                         const ConfirmDrops& confirmDrops) const = 0;
  // The rows that writing `table` in this format would leave out (a key
  // outside the key set, a code too long, a repeat the input method keeps
  // once, ...), with their lines; a line format holds every row.
  virtual SaveCheck CannotHold(const linux_table::LinuxTable& table) const;

 protected:
  FileFormat(std::string_view name, std::u16string_view label, std::u16string_view suffix,
             bool writable)
      : name_(name), label_(label), suffix_(suffix), writable_(writable) {}

 private:
  std::string_view name_;
  std::u16string_view label_, suffix_;
  bool writable_;
};

// The line formats in their dialog order, then the Linux forms.
std::span<const FileFormat* const> FileFormats();
const FileFormat& FormatOf(TableFormat format);
const FileFormat& FormatOf(linux_table::LinuxFormat format);
// By the command-line name, ignoring the case of A-Z.
const FileFormat* FormatNamed(std::string_view name);
std::string AllFormatNames();  // "win, kuji, …, ibus-db"

// A Linux format from the file's header, else a line format from the first
// lines of its first 64 KiB; null when neither is sure.
const FileFormat* DetectFileFormat(std::string_view bytes);

// Beside the source: the file name's extension replaced by the target's
// suffix; empty without one. With a Linux format on either side, .dict.yaml
// and .main.dict count as one extension.
std::filesystem::path ConversionOutputPath(const std::filesystem::path& source,
                                           const FileFormat& from, const FileFormat& to);

// Reads `source` as `from` and writes it to `output` as `to`. A target that
// cannot be written is refused before the source is read.
Result<ConversionReport> ConvertFile(FileSystem& fs, const std::filesystem::path& source,
                                     const FileFormat& from, const FileFormat& to,
                                     const std::filesystem::path& output, const TempFolder& temp,
                                     const ConfirmDrops& confirmDrops = {},
                                     const std::u16string* sourceText = nullptr);

}  // namespace mirel
