// What a save will not carry over: rows its target cannot hold, lines of the
// file that were never rows (comments, headers, lines without a TAB), and a
// change of encoding. Worked out before anything is written, so that the
// window can ask and the command line can refuse while the old file is
// still whole. Plain values; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/text_file.h"

namespace mirel {

class TableStore;

// One row or line concerned: its 1-based line (0 when none applies) and
// what happens to it, in UTF-8.
struct SaveFinding {
  uint64_t line = 0;
  std::string text;
};

struct SaveCheck {
  // The first rows and lines concerned; a dialog lists them, a message
  // names a few.
  static constexpr size_t kShown = 50;

  uint64_t rowsDropped = 0;
  uint64_t linesDropped = 0;
  // Set when the file was read in this encoding and the save writes another.
  std::optional<TextEncoding> encodingFrom;
  TextEncoding encodingTo = TextEncoding::kUtf16Le;
  std::vector<SaveFinding> findings;

  bool empty() const { return rowsDropped == 0 && linesDropped == 0 && !encodingFrom; }
  // "3 rows cannot be written in this format (line 4: why; ...; 1 more)"
  // for messages on one line; empty when no row is dropped.
  std::string DescribeRows(size_t shown = 5) const;
};

// A text table saved over the file it was read from, which is always
// written as UTF-16LE with CR LF. A compiled table or one without a file is
// written from its rows alone and reports nothing.
SaveCheck CheckTextSave(const TableStore& store);

// The encoding's usual name: "UTF-8", "UTF-16LE", "GBK".
std::string_view EncodingLabel(TextEncoding encoding);

}  // namespace mirel
