// Any bytes given to the compiled-table reader are either refused or read
// without touching memory outside them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "store/compiled_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::as_bytes(std::span(data, size));
  auto text = mirel::CompiledTableToText(bytes);
  if (text.IsOk() && !mirel::ValidateCompiledTable(bytes).IsOk()) __builtin_trap();
  return 0;
}
