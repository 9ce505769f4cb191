#include "generate/entry_codes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace mirel {
namespace {

using Codes = std::vector<std::u16string_view>;

std::vector<std::u16string_view> AsVector(std::span<const std::u16string_view> codes) {
  return {codes.begin(), codes.end()};
}

// Random tables of few entries and many repeated codes, so that entries pass
// the count where repeats are hashed rather than searched for, and keys of
// up to four units (kept packed in a probe) meet longer ones and the empty
// one. The index must give what a plain map gives, also after it was moved.
TEST(EntryCodesTest, AgreesWithAMapOnRandomTables) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::u16string> entries;
    for (int k = 0; k < 12; ++k) entries.push_back(std::u16string(random() % 7, u'字' + k % 3));
    std::u16string text;
    std::vector<std::pair<size_t, size_t>> lines;  // start and TAB of each line
    for (int n = 0; n < 600; ++n) {
      const std::u16string& entry = entries[random() % entries.size()];
      const size_t start = text.size();
      text += entry + u"\t";
      text += std::u16string(1 + random() % 3, static_cast<char16_t>(u'a' + random() % 40));
      lines.push_back({start, entry.size()});
      text += u'\n';
    }
    std::map<std::u16string_view, Codes> expected;
    EntryCodes built;
    for (auto [start, tab] : lines) {
      const std::u16string_view line =
          std::u16string_view(text).substr(start, text.find(u'\n', start) - start);
      const std::u16string_view code = line.substr(tab + 1);
      Codes& codes = expected[line.substr(0, tab)];
      if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
      ASSERT_TRUE(built.Add(MakeProbe(line.substr(0, tab)), line, tab));
    }
    built.Finish();
    const EntryCodes index = std::move(built);
    ASSERT_EQ(index.size(), expected.size());
    for (const auto& [entry, codes] : expected) {
      EXPECT_EQ(AsVector(index.Codes(entry)), codes) << round;
    }
    EXPECT_TRUE(index.Codes(u"未见").empty());
  }
}

}  // namespace
}  // namespace mirel
