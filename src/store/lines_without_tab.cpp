#include "store/lines_without_tab.h"

namespace mirel {

std::string LinesWithoutTab::Describe() const {
  if (count_ == 0) return {};
  std::string text =
      std::to_string(count_) + (count_ == 1 ? " line without a TAB was left out (line "
                                            : " lines without a TAB were left out (lines ");
  for (size_t k = 0; k < numbers_.size(); ++k) {
    if (k > 0) text += ", ";
    text += std::to_string(numbers_[k]);
  }
  if (count_ > numbers_.size()) text += ", ...";
  return text + ")";
}

void LinesWithoutTab::Scan(std::u16string_view text, bool comments) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    const std::u16string_view line = text.substr(start, end - start);
    const bool blank = line.find_first_not_of(u" \uFEFF") == std::u16string_view::npos;
    const bool comment = comments && line.starts_with(u"//") && !line.starts_with(u"///");
    if (!blank && !comment && line.find(u'\t') == std::u16string_view::npos) Add(nextLine_);
    ++nextLine_;
    if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n') ++end;
    start = end + 1;
  }
}

}  // namespace mirel
