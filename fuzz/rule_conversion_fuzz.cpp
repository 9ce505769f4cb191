// Any rule text applied to any source text finishes without a crash; the
// bytes before the first 0xFF are the rules, the rest the source, both read
// as UTF-16LE units. Without a valid rule the source comes out unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "convert/rule_conversion.h"

namespace {

std::u16string Units(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0xFF, size));
  const size_t ruleBytes = split ? static_cast<size_t>(split - data) : size;
  std::u16string ruleText = Units(data, ruleBytes);
  ruleText.resize(std::min(ruleText.size(), mirel::kRuleTextLimit));
  const size_t sourceStart = split ? ruleBytes + 1 : size;
  // Output can be a couple of hundred times the source; keep runs short.
  std::u16string source = Units(data + sourceStart, std::min<size_t>(size - sourceStart, 1 << 14));

  const std::vector<mirel::Rule> rules = mirel::ParseRules(ruleText);
  for (const mirel::Rule& rule : rules) {
    if (rule.pattern.empty() || rule.tmpl.empty()) __builtin_trap();
    for (uint32_t item : rule.tmpl) {
      if (item == 0 || (item < mirel::kTemplateTab && item > rule.pattern.size())) __builtin_trap();
    }
  }
  std::u16string out;
  mirel::ApplyRules(rules, source, out);
  if (rules.empty() && out != source) __builtin_trap();
  return 0;
}
