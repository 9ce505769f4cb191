#include "store/lines_without_tab.h"

#include "platform/lines.h"
#include "platform/messages.h"

namespace mirel {

std::string LinesWithoutTab::Describe() const {
  if (count_ == 0) return {};
  std::string numbers;
  for (size_t k = 0; k < numbers_.size(); ++k) {
    if (k > 0) numbers += ", ";
    numbers += std::to_string(numbers_[k]);
  }
  if (count_ > numbers_.size()) numbers += ", ...";
  return TrN("{1} line without a TAB was left out (line {2})",
             "{1} lines without a TAB were left out (lines {2})", count_, count_, numbers);
}

Status RefuseTextWithoutRows(std::u16string_view text, const std::string& where) {
  if (text.find(u'\t') != std::u16string_view::npos) return Status::Ok();
  LinesWithoutTab lines;
  lines.Scan(text);
  if (lines.empty()) return Status::Ok();
  return Status::InvalidArgument(
      where, Tr("no line holds a TAB, so there is no row; {1}", lines.Describe()));
}

void LinesWithoutTab::Scan(std::u16string_view text, bool comments) {
  LineReader reader(text, {.breaks = LineBreaks::kEach});
  std::u16string_view line;
  size_t tab;
  // Nearly every line holds a TAB, found in the pass that finds its end.
  while (reader.Next(line, tab)) {
    if (tab == std::u16string_view::npos) {
      const bool blank = line.find_first_not_of(u" \uFEFF") == std::u16string_view::npos;
      const bool comment = comments && line.starts_with(u"//") && !line.starts_with(u"///");
      if (!blank && !comment) Add(nextLine_, line);
    }
    ++nextLine_;
  }
}

}  // namespace mirel
