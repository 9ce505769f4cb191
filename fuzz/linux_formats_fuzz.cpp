// Any bytes go through the readers of the Linux input methods' text formats
// without a crash; whatever a reader takes is written and read again to the
// same rows, and converts into every other format. The binary dictionary is
// read by libime itself, whose reader is not ours to fuzz.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/linux_formats.h"

using namespace mirel::linux_table;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)DetectLinuxFormat(bytes);
  for (LinuxFormat format : {LinuxFormat::kFcitxText, LinuxFormat::kRime, LinuxFormat::kIbusSource}) {
    mirel::Result<ReadResult> read = format == LinuxFormat::kFcitxText ? ReadFcitxText(bytes)
                                     : format == LinuxFormat::kRime  ? ReadRime(bytes)
                                                                     : ReadIbusSource(bytes);
    if (!read.IsOk()) continue;
    mirel::Result<std::string> written = LinuxTableBytes(read->table);
    if (!written.IsOk()) __builtin_trap();
    mirel::Result<ReadResult> again = format == LinuxFormat::kFcitxText ? ReadFcitxText(*written)
                                      : format == LinuxFormat::kRime  ? ReadRime(*written)
                                                                      : ReadIbusSource(*written);
    if (!again.IsOk() || again->table.rows.size() != read->table.rows.size()) __builtin_trap();
    (void)ToMirelText(read->table);
    for (LinuxFormat target :
         {LinuxFormat::kFcitxText, LinuxFormat::kRime, LinuxFormat::kIbusSource}) {
      std::vector<Diagnostic> diagnostics;
      LinuxTable converted = ConvertTable(read->table, target, diagnostics);
      if (converted.rows.size() + diagnostics.size() < read->table.rows.size()) __builtin_trap();
      (void)LinuxTableBytes(converted);
    }
  }
  return 0;
}
