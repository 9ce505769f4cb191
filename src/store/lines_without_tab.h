// Lines without a TAB are left out of every table, but never silently: each
// reader counts them and keeps the numbers of the first few, and the programs
// say "3 lines without a TAB were left out (lines 3, 7, 12)". Blank lines do
// not count. A plain value; not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace mirel {

class LinesWithoutTab {
 public:
  static constexpr size_t kNumbersKept = 5;
  static constexpr size_t kTextKept = 80;

  // Counts the lines of `text` that are neither blank nor hold a TAB. Lines
  // end at CR LF, a lone CR or a lone LF; a text given in pieces, each ending
  // at a line end, is numbered on from piece to piece. With `comments`, a
  // line starting with "//" (but not "///") is a comment, not left out.
  void Scan(std::u16string_view text, bool comments = false);

  // `line` is 1-based; `text` is kept with the first few numbers (cut to
  // kTextKept units) so that a save can show what it would drop.
  void Add(uint64_t line, std::u16string_view text = {}) {
    if (numbers_.size() < kNumbersKept) {
      numbers_.push_back(line);
      texts_.emplace_back(text.substr(0, kTextKept));
    }
    ++count_;
  }
  uint64_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  const std::vector<uint64_t>& numbers() const { return numbers_; }
  // The text of each line in numbers(), as far as Scan saw it.
  const std::vector<std::u16string>& texts() const { return texts_; }

  // "1 line without a TAB was left out (line 3)", "7 lines ... (lines 3, 7,
  // 12, 15, 20, ...)"; empty when there are none.
  std::string Describe() const;

 private:
  uint64_t count_ = 0;
  std::vector<uint64_t> numbers_;
  std::vector<std::u16string> texts_;
  uint64_t nextLine_ = 1;
};

// Refuses a text with lines of which none holds a TAB: it has no row, so a
// result made from it would be empty. `where` names the file.
Status RefuseTextWithoutRows(std::u16string_view text, const std::string& where);

}  // namespace mirel
