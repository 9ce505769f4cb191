// Any bytes given as a user library are either refused or read without
// touching memory outside them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ime/installed_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t units = 0;
  (void)mirel::ReadUserLibrary(std::as_bytes(std::span(data, size)),
                               [&](std::u16string_view word) { units += word.size(); });
  return units > size ? 1 : 0;
}
