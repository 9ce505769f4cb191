// Any text goes through detection, every source parser, the read-back of
// what the parser would write, numbering and every writer without a crash;
// the splitter never gives a line longer than its limit, and a detected
// format's parser accepts the sample lines (酷极 aside: its test looks only
// at the first space, its parser at the first character).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "convert/common_conversion.h"

using namespace mirel;
using namespace mirel::common_format;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  const std::vector<std::u16string_view> lines = SplitSourceLines(text);
  for (std::u16string_view line : lines) {
    if (line.size() > kCommonLineLimit) __builtin_trap();
  }
  const Detection detection = DetectFormat(text);
  if (detection.format && *detection.format != TableFormat::kKuji) {
    std::vector<SourceRecord> records;
    for (size_t k = 0; k < detection.sampleLines; ++k) {
      if (!ParseSourceLine(*detection.format, lines[k], records)) __builtin_trap();
    }
  }

  for (const FormatInfo& from : TableFormats()) {
    std::u16string intermediate;
    {
      ChunkedText out([&](std::u16string_view piece) { intermediate.append(piece); }, 64);
      WriteIntermediateText(text, from.format, out);
    }
    std::vector<CommonRecord> records = ReadBackRecords(intermediate);
    NumberRecords(records);
    for (const FormatInfo& to : TableFormats()) {
      uint64_t count = 0;
      const std::u16string written = TargetText(to.format, records, &count);
      if (count > records.size() || (count == 0) != records.empty()) __builtin_trap();
      (void)written;
    }
  }
  return 0;
}
