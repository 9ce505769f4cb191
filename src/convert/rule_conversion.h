// The conversion of arbitrary text tables ("码表格式转换"), without any user
// interface. Layout mode cuts each source line into fields at a set of
// separator characters and writes entry TAB code lines in one of three
// layouts; rule mode rewrites the whole source as one character stream with a
// list of pattern rules. Both write UTF-16LE with the mark beside the source.
//
// Rules and separator sets are plain values owned by the caller. The engines
// keep their working state on the stack of one call, so separate calls may
// run on separate threads; the progress callback runs on the calling thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

inline constexpr std::u16string_view kConversionOutputName = u"[ 转换结果 ].txt";

// Limits the tool applies to what it is given, in UTF-16 units.
inline constexpr size_t kSeparatorTextLimit = 127;  // separator text taken from its field
inline constexpr size_t kRuleTextLimit = 4095;      // rule text taken from its field or file
inline constexpr size_t kMaxSeparators = 19;
inline constexpr size_t kSourceLineLimit = 255;  // longer lines go on as the next line
inline constexpr size_t kRuleLineLimit = 256;
inline constexpr size_t kConstructLimit = 127;  // "<...>" including both brackets

// The tool's settings; the application owns one for the life of the process.
struct RuleConversionSettings {
  std::u16string sourcePath = u"码表文件.txt";  // a bare name: in the program folder
  std::u16string separatorText = u"TAB,空格";
  std::u16string layoutOption = u"单行多义(左编码)";
  std::u16string ruleText;  // non-empty selects rule mode
};

enum class Layout { kOneEntryLeftCode = 1, kManyEntriesLeftCode = 2, kManyCodesLeftEntry = 3 };

// The layout a stored option text selects: one containing "单行单义(左编码)"
// gives layout 1, else one containing "单行多义(左词条)" layout 3, else 2.
Layout LayoutFromOption(std::u16string_view option);
std::u16string LayoutOptionText(Layout layout);

// The separator characters a separator text names: "空格" is a space,
// "Tab"/"tab"/"TAB" a TAB, "\," a comma, "," only separates the list, and any
// other character stands for itself. Distinct units, in that order of
// discovery, at most kMaxSeparators of them.
std::u16string BuildSeparatorSet(std::u16string_view separatorText);

// Receives the progress title. The engines call it at most about 20 times a
// second and once when they finish.
using ConversionProgress = std::function<void(std::u16string_view title)>;

// Layout mode over a decoded text: appends "field TAB field CR LF" lines to
// `out` and returns the number of source lines that gave any (lines with
// fewer than two fields give none).
uint64_t ConvertLayoutText(std::u16string_view source, std::u16string_view separatorSet,
                           Layout layout, std::u16string& out,
                           const ConversionProgress& progress = {});

enum class ElementKind : uint8_t {
  kAll,
  kNumber,
  kLower,
  kUpper,
  kLetter,
  kSymbol,
  kChinese,
  kTab,
  kSpace,
  kRow,
  kCharacter,  // `character`
  kString,     // `text`, matched only as a whole; never lazy
};

// One element of a rule's pattern. A count of 0 makes a class or character
// element lazy: it stops as soon as the element after it can take something.
struct RuleElement {
  ElementKind kind = ElementKind::kCharacter;
  uint32_t count = 1;
  char16_t character = 0;
  std::u16string text;

  friend bool operator==(const RuleElement&, const RuleElement&) = default;
};

// Template items: a literal unit (kTemplateLiteral | unit), one of the
// markers, or a capture number from 1 to the pattern's size.
inline constexpr uint32_t kTemplateLiteral = 0x80000000u;
inline constexpr uint32_t kTemplateTab = 0x40000001u;
inline constexpr uint32_t kTemplateLineBreak = 0x40000002u;
inline constexpr uint32_t kTemplateSpace = 0x40000003u;
// Makes every element required, but only as the template's first item.
inline constexpr uint32_t kTemplateStrict = 0x40000004u;

struct Rule {
  std::vector<RuleElement> pattern;
  std::vector<uint32_t> tmpl;

  bool strict() const { return !tmpl.empty() && tmpl.front() == kTemplateStrict; }
};

// Parses one rule line, "pattern==>template"; nullopt when it is not a valid
// rule.
std::optional<Rule> ParseRule(std::u16string_view line);

// The valid rules of a rule text, in order. Lines end at any run of CR and
// LF; a line longer than kRuleLineLimit goes on as the next line.
std::vector<Rule> ParseRules(std::u16string_view ruleText);

// Rewrites `text` into `out`: at each position the first rule that matches
// emits its template and the position moves past the match; a unit no rule
// matches is copied as it is.
void ApplyRules(const std::vector<Rule>& rules, std::u16string_view text, std::u16string& out,
                const ConversionProgress& progress = {});

// The file both modes write: kConversionOutputName in the source's folder,
// or in the current directory for a bare file name.
std::filesystem::path ConversionOutputPath(const std::filesystem::path& source);

// Layout mode on files: reads `source` in any supported encoding and replaces
// `output` (UTF-16LE with the mark) atomically. Only the first
// kSeparatorTextLimit units of `separatorText` count. Returns the number of
// converted lines; a source without any line of two fields is a failure and
// leaves `output` untouched.
Result<uint64_t> RunLayoutConversion(FileSystem& fs, const std::filesystem::path& source,
                                     std::u16string_view separatorText, Layout layout,
                                     const std::filesystem::path& output,
                                     const ConversionProgress& progress = {});

// Rule mode on files. Only the first kRuleTextLimit units of `ruleText`
// count. Fails, writing nothing, when no line is a valid rule or the source
// cannot be read. Returns the length of the source text in units.
Result<uint64_t> RunRuleConversion(FileSystem& fs, const std::filesystem::path& source,
                                   std::u16string_view ruleText,
                                   const std::filesystem::path& output,
                                   const ConversionProgress& progress = {});

}  // namespace mirel
