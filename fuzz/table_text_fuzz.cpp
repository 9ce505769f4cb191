// Any text compiles without a crash, the compiler's summary agrees with the
// parser and with what it wrote, and the reader accepts whatever it wrote.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "store/compiled_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<mirel::CharacterClassTable> classes =
      mirel::CharacterClassTable::BuiltIn();
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  std::u16string copy = text;
  const size_t parsed = mirel::ParseTableText(copy).size();

  std::string compiled;
  auto summary = mirel::CompileTableText(
      text, *classes, mirel::OpaqueHeader{}, {}, [&](std::span<const std::byte> piece) {
        compiled.append(reinterpret_cast<const char*>(piece.data()), piece.size());
      });
  if (!summary.IsOk()) {
    if (parsed != 0 || !compiled.empty()) __builtin_trap();
    return 0;
  }
  if (summary->parsedLines != parsed || summary->fileSize != compiled.size()) __builtin_trap();
  auto back =
      mirel::CompiledTableToText(std::as_bytes(std::span(compiled.data(), compiled.size())));
  if (!back.IsOk()) __builtin_trap();
  return 0;
}
