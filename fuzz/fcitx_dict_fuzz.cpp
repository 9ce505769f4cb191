// Any bytes as an fcitx5 .main.dict: libime reads them in a child process,
// so whatever the bytes make it do (crash, spin, allocate without end), the
// caller gets a Status and goes on. A table that was read is written back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/linux_formats.h"

using namespace mirel::linux_table;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  mirel::Result<ReadResult> read = ReadFcitxBinary(bytes);
  if (!read.IsOk()) return 0;
  mirel::Result<std::string> written = WriteFcitxBinary(read->table);
  if (written.IsOk() && !ReadFcitxBinary(written.value()).IsOk()) __builtin_trap();
  return 0;
}
