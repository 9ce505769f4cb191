// Conversion between any two table formats Mirel knows: the six common line
// formats and the formats of the Linux input methods. A Linux table goes to
// a common format through its Mirel text (rows in candidate order); a common
// table goes to a Linux format through the Mirel format, with a header built
// from what its codes use. Between two Linux formats, the header settings
// travel along (name, key set, code length, construction rules).
//
// Rows the target cannot hold are left out and listed in the result with
// their source line. Before anything is written, `confirmDrops` (when set)
// is shown what would be left out; false refuses the conversion and leaves
// the output as it was. Without it a conversion that leaves out rows still
// succeeds.
// Reentrant, with the same proviso as ConvertCommonFormat about sharing a
// temporary folder.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "convert/common_conversion.h"
#include "convert/linux_formats.h"
#include "store/save_check.h"

namespace mirel {

using AnyFormat = std::variant<TableFormat, linux_table::LinuxFormat>;

// The command-line names of both families: win … mirel, fcitx5 … ibus-db.
std::optional<AnyFormat> AnyFormatFromCliName(std::string_view name);
std::string_view CliNameOf(AnyFormat format);
std::string AllFormatNames();  // "win, kuji, …, ibus-db"

// A Linux format from the file's header, else a common format from its
// first lines; nullopt when neither is sure.
std::optional<AnyFormat> DetectAnyFormat(std::string_view bytes);

// Beside the source: its name with the extension (.dict.yaml and .main.dict
// count as one) replaced by the target's suffix; empty without an extension.
std::filesystem::path AnyConversionOutputPath(const std::filesystem::path& source, AnyFormat to);

struct ConversionReport {
  uint64_t rows = 0;  // lines for 酷极/极点, rows otherwise
  std::vector<linux_table::Diagnostic> diagnostics;
};

using ConfirmDrops = std::function<bool(const SaveCheck& drops)>;

// One side at least must be a Linux format (ConvertCommonFormat serves the
// rest).
Result<ConversionReport> ConvertAnyFormat(FileSystem& fs, const std::filesystem::path& source,
                                          AnyFormat from, AnyFormat to,
                                          const std::filesystem::path& output,
                                          const TempFolder& temp,
                                          const ConfirmDrops& confirmDrops = {});

// The rows that writing `table` as `target` would leave out (a key outside
// the key set, a code too long, a repeat the input method keeps once, ...),
// as ConvertTable finds them, with their lines.
SaveCheck CheckLinuxSave(const linux_table::LinuxTable& table, linux_table::LinuxFormat target);

}  // namespace mirel
