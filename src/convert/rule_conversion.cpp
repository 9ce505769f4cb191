#include "convert/rule_conversion.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>
#include <limits>
#include <memory>
#include <new>

#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
constexpr size_t kNone = std::u16string_view::npos;

constexpr std::u16string_view kLayoutTitle = u"码表格式转换 - 转换行数：%d";
constexpr std::u16string_view kStageTitle = u"码表格式转换 - %s";
constexpr std::u16string_view kRuleTitle = u"码表格式转换 - %s , 总数：%d，完成：%d";

// Output is handed to the file in pieces of about this many units, so a large
// conversion never holds its whole result.
constexpr size_t kFlushUnits = size_t{1} << 16;

bool IsDigit(char16_t u) { return u >= u'0' && u <= u'9'; }

// The decimal number at the start of `text`; 0 without a digit. Saturates
// rather than wrapping, so a huge count stays huge.
uint32_t LeadingNumber(std::u16string_view text) {
  uint64_t value = 0;
  for (char16_t u : text) {
    if (!IsDigit(u)) break;
    value = std::min<uint64_t>(value * 10 + (u - u'0'), std::numeric_limits<uint32_t>::max());
  }
  return static_cast<uint32_t>(value);
}

// The length of the construct "<...>" at `at`: the first ">" after it, at
// least one unit between, at most kConstructLimit in all. 0 when none.
size_t ConstructLength(std::u16string_view side, size_t at) {
  if (side[at] != u'<') return 0;
  const size_t close = side.find(u'>', at + 1);
  if (close == kNone || close == at + 1 || close - at + 1 > kConstructLimit) return 0;
  return close - at + 1;
}

struct ClassName {
  std::u16string_view name, shortName;
  ElementKind kind;
};
constexpr std::array<ClassName, 10> kClassNames = {{
    {u"all", u"a", ElementKind::kAll},
    {u"number", u"n", ElementKind::kNumber},
    {u"lower", u"l", ElementKind::kLower},
    {u"upper", u"u", ElementKind::kUpper},
    {u"letter", u"e", ElementKind::kLetter},
    {u"symbol", u"m", ElementKind::kSymbol},
    {u"chinese", u"c", ElementKind::kChinese},
    {u"tab", u"t", ElementKind::kTab},
    {u"space", u"s", ElementKind::kSpace},
    {u"row", u"r", ElementKind::kRow},
}};

RuleElement ElementFromConstruct(std::u16string_view inner) {
  RuleElement element;
  size_t separator = inner.find(u'.');
  // "<..3>" names the dot itself.
  if (separator != kNone && separator + 1 < inner.size() && inner[separator + 1] == u'.') {
    ++separator;
  }
  if (separator == kNone || separator + 1 >= inner.size() || !IsDigit(inner[separator + 1])) {
    element.kind = ElementKind::kString;
    element.text = inner;
    return element;
  }
  const std::u16string_view name = inner.substr(0, separator);
  element.count = LeadingNumber(inner.substr(separator + 1));
  const std::u16string folded = FoldAscii(name);
  for (const ClassName& known : kClassNames) {
    if (folded == known.name || folded == known.shortName) {
      element.kind = known.kind;
      return element;
    }
  }
  // An empty name ("<.3>") names U+0000, which ordinary text never holds.
  element.kind = ElementKind::kCharacter;
  element.character = name.empty() ? u'\0' : name.front();
  return element;
}

bool ParsePattern(std::u16string_view side, std::vector<RuleElement>& pattern) {
  size_t at = 0;
  while (at < side.size()) {
    if (const size_t length = ConstructLength(side, at)) {
      pattern.push_back(ElementFromConstruct(side.substr(at + 1, length - 2)));
      at += length;
      continue;
    }
    // Plain text runs to the next "<", unless that is too far away to matter.
    const size_t next = side.find(u'<', at + 1);
    const size_t end = (next == kNone || next - at >= kConstructLimit) ? side.size() : next;
    RuleElement element;
    if (end - at == 1) {
      element.character = side[at];
    } else {
      element.kind = ElementKind::kString;
      element.text = side.substr(at, end - at);
    }
    pattern.push_back(std::move(element));
    at = end;
  }
  return !pattern.empty();
}

bool ParseTemplate(std::u16string_view side, size_t captures, std::vector<uint32_t>& tmpl) {
  size_t at = 0;
  while (at < side.size()) {
    if (side[at] != u'<') {
      tmpl.push_back(kTemplateLiteral | side[at]);
      ++at;
      continue;
    }
    const size_t length = ConstructLength(side, at);
    if (length == 0) return false;
    switch (FoldAsciiUpper(side[at + 1])) {
      case u't':
        tmpl.push_back(kTemplateTab);
        break;
      case u'r':
        tmpl.push_back(kTemplateLineBreak);
        break;
      case u's':
        tmpl.push_back(kTemplateSpace);
        break;
      case u'n':
        tmpl.push_back(kTemplateStrict);
        break;
      default: {
        const uint32_t k = LeadingNumber(side.substr(at + 1));
        if (k == 0 || k > captures) return false;
        tmpl.push_back(k);
      }
    }
    at += length;
  }
  return !tmpl.empty();
}

bool InClass(ElementKind kind, char16_t character, char16_t u) {
  switch (kind) {
    case ElementKind::kAll:
      return true;
    case ElementKind::kNumber:
      return u >= u'0' && u <= u'9';
    case ElementKind::kLower:
      return u >= u'a' && u <= u'z';
    case ElementKind::kUpper:
      return u >= u'A' && u <= u'Z';
    case ElementKind::kLetter:
      return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
    case ElementKind::kSymbol:
      return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
             (u >= 0x7B && u <= 0x7E);
    case ElementKind::kChinese:
      return u > 0xFF;
    case ElementKind::kTab:
      return u == u'\t';
    case ElementKind::kSpace:
      return u == u' ';
    case ElementKind::kCharacter:
      return u == character;
    case ElementKind::kRow:
    case ElementKind::kString:
      break;
  }
  return false;
}

// Matches rules against one text. Captures are positions in the text, and
// every element keeps the span of its last long scan: a scan that stopped at
// `to` stops there from any start in between, so retrying at the following
// positions costs nothing and long lazy elements stay linear.
class RuleMatcher {
 public:
  RuleMatcher(const std::vector<Rule>& rules, std::u16string_view text)
      : rules_(rules), text_(text) {
    size_t most = 0;
    for (const Rule& rule : rules) {
      firstScan_.push_back(scans_.size());
      scans_.resize(scans_.size() + rule.pattern.size());
      most = std::max(most, rule.pattern.size());
    }
    bounds_.resize(most + 1);
  }

  // The length of the match of rule `r` at `pos`; 0 when it does not match.
  size_t Match(size_t r, size_t pos) {
    const Rule& rule = rules_[r];
    const std::vector<RuleElement>& pattern = rule.pattern;
    const bool strict = rule.strict();
    Scan* scans = scans_.data() + firstScan_[r];
    size_t cursor = pos;
    bounds_[0] = pos;
    captures_ = 0;
    for (size_t i = 0; i < pattern.size() && cursor < text_.size(); ++i) {
      const RuleElement& element = pattern[i];
      size_t end;
      if (element.count != 0 || element.kind == ElementKind::kString) {
        end = TakeEnd(element, cursor, scans[i]);
      } else if (i + 1 == pattern.size()) {
        end = RunEnd(element, cursor, scans[i]);
      } else {
        end = LazyEnd(element, pattern[i + 1], cursor, scans[i]);
      }
      if (end == cursor && strict) return 0;
      bounds_[++captures_] = end;
      cursor = end;
    }
    return cursor - pos;
  }

  // Writes the template of rule `r` for the match Match just found.
  void Emit(size_t r, std::u16string& out) const {
    for (uint32_t item : rules_[r].tmpl) {
      if (item & kTemplateLiteral) {
        out.push_back(static_cast<char16_t>(item & 0xFFFFu));
        continue;
      }
      switch (item) {
        case kTemplateTab:
          out.push_back(u'\t');
          break;
        case kTemplateLineBreak:
          out.append(u"\r\n");
          break;
        case kTemplateSpace:
          out.push_back(u' ');
          break;
        case kTemplateStrict:
          break;
        default:
          // A match cut short by the end of the text has fewer captures.
          if (item <= captures_) {
            out.append(text_.substr(bounds_[item - 1], bounds_[item] - bounds_[item - 1]));
          }
      }
    }
  }

 private:
  struct Scan {
    size_t from = kNone;
    size_t to = 0;
  };
  // Counts up to this are scanned directly; a longer one may cover a long run.
  static constexpr uint32_t kShortCount = 64;

  template <class Stop>
  size_t ScanTo(size_t q, Stop stop) const {
    const char16_t* units = text_.data();
    const size_t n = text_.size();
    while (q < n && !stop(units, q)) ++q;
    return q;
  }

  template <class Compute>
  size_t Cached(Scan& scan, size_t q, Compute compute) const {
    if (scan.from != kNone && scan.from <= q && q <= scan.to) return scan.to;
    scan = {q, compute()};
    return scan.to;
  }

  // Whether the unit at q belongs to the element's kind (q < size).
  bool Belongs(const RuleElement& e, size_t q) const {
    if (e.kind == ElementKind::kRow) {
      return text_[q] == kCr || (q + 1 < text_.size() && text_[q + 1] == kLf);
    }
    return InClass(e.kind, e.character, text_[q]);
  }

  bool PairAt(size_t q) const { return CrLfAt(text_, q); }

  // Calls `f` with a predicate telling whether `e` would take anything at a
  // position, specialised by kind so that the scans run tight loops.
  template <class F>
  size_t WithTakesAny(const RuleElement& e, F f) const {
    if (e.kind == ElementKind::kString) {
      const std::u16string_view s = e.text;
      const size_t n = text_.size();
      return f([s, n](const char16_t* u, size_t q) {
        return n - q >= s.size() && std::u16string_view(u + q, s.size()) == s;
      });
    }
    if (e.count == 0) return f([](const char16_t*, size_t) { return false; });
    const size_t n = text_.size();
    const char16_t c = e.character;
    switch (e.kind) {
      case ElementKind::kAll:
        return f([](const char16_t*, size_t) { return true; });
      case ElementKind::kRow:
        return f([n](const char16_t* u, size_t q) {
          return u[q] == kCr && q + 1 < n && u[q + 1] == kLf;
        });
      case ElementKind::kTab:
        return f([](const char16_t* u, size_t q) { return u[q] == u'\t'; });
      case ElementKind::kSpace:
        return f([](const char16_t* u, size_t q) { return u[q] == u' '; });
      case ElementKind::kCharacter:
        return f([c](const char16_t* u, size_t q) { return u[q] == c; });
      case ElementKind::kChinese:
        return f([](const char16_t* u, size_t q) { return u[q] > 0xFF; });
      case ElementKind::kNumber:
        return f([](const char16_t* u, size_t q) { return u[q] >= u'0' && u[q] <= u'9'; });
      default: {
        const ElementKind kind = e.kind;
        return f([kind](const char16_t* u, size_t q) { return InClass(kind, 0, u[q]); });
      }
    }
  }

  // The end of what an element with a count of 1 or more (or a string) takes.
  size_t TakeEnd(const RuleElement& e, size_t q, Scan& scan) const {
    const size_t left = text_.size() - q;
    switch (e.kind) {
      case ElementKind::kAll:
        return q + std::min<size_t>(e.count, left);
      case ElementKind::kString:
        return text_.substr(q).starts_with(e.text) ? q + e.text.size() : q;
      case ElementKind::kRow: {
        // A further pair only while fewer than the count have been taken.
        const uint64_t pairs = (uint64_t{e.count} + 1) / 2;
        if (pairs <= kShortCount) {
          size_t end = q;
          for (uint64_t k = 0; k < pairs && PairAt(end); ++k) end += 2;
          return end;
        }
        if (!PairAt(q)) return q;
        // Pair runs are cached from their first CR only.
        size_t end;
        if (scan.from != kNone && scan.from <= q && q <= scan.to && (q - scan.from) % 2 == 0) {
          end = scan.to;
        } else {
          end = q;
          while (PairAt(end)) end += 2;
          scan = {q, end};
        }
        return q + 2 * std::min<uint64_t>((end - q) / 2, pairs);
      }
      default:
        if (e.count <= kShortCount) {
          const size_t limit = q + std::min<size_t>(e.count, left);
          size_t end = q;
          while (end < limit && InClass(e.kind, e.character, text_[end])) ++end;
          return end;
        }
        return std::min<size_t>(RunEnd(e, q, scan), q + std::min<size_t>(e.count, left));
    }
  }

  // The end of the run of the element's kind from q.
  size_t RunEnd(const RuleElement& e, size_t q, Scan& scan) const {
    return Cached(scan, q, [&] {
      if (e.kind == ElementKind::kAll) return text_.size();
      size_t end = q;
      while (end < text_.size() && Belongs(e, end)) ++end;
      return end;
    });
  }

  // Where a lazy element stops: a unit outside its kind, or a point where
  // the element after it takes something.
  size_t LazyEnd(const RuleElement& e, const RuleElement& next, size_t q, Scan& scan) const {
    return Cached(scan, q, [&] {
      return WithTakesAny(next, [&](auto takes) {
        if (e.kind == ElementKind::kAll) return ScanTo(q, takes);
        return ScanTo(q,
                      [&](const char16_t* u, size_t r) { return !Belongs(e, r) || takes(u, r); });
      });
    });
  }

  const std::vector<Rule>& rules_;
  std::u16string_view text_;
  std::vector<Scan> scans_;
  std::vector<size_t> firstScan_;
  std::vector<size_t> bounds_;  // capture k spans bounds_[k - 1] to bounds_[k]
  size_t captures_ = 0;
};

void ReportRules(const ConversionProgress& progress, size_t total, size_t done) {
  progress(FormatText(kRuleTitle,
                      {std::u16string_view(u"转换文本"), static_cast<unsigned long long>(total),
                       static_cast<unsigned long long>(done)}));
}

// The rule engine; with a `sink` the output goes to it in pieces.
void RunRules(const std::vector<Rule>& rules, std::u16string_view text, std::u16string& out,
              const ConversionProgress& progress, TextWriter* sink) {
  RuleMatcher matcher(rules, text);
  ProgressPacer throttle(progress);
  out.reserve(out.size() + (sink ? std::min(text.size(), kFlushUnits) : text.size()) + 16);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t taken = 0;
    size_t r = 0;
    while (r < rules.size() && (taken = matcher.Match(r, pos)) == 0) ++r;
    if (taken != 0) {
      matcher.Emit(r, out);
      pos += taken;
    } else {
      out.push_back(text[pos++]);
    }
    if (sink && out.size() >= kFlushUnits) {
      sink->Write(out);
      out.clear();
    }
    if (throttle.Due()) ReportRules(progress, text.size(), pos);
  }
  if (progress) ReportRules(progress, text.size(), pos);
}

void ReportStage(const ConversionProgress& progress, std::u16string_view stage) {
  if (progress) progress(FormatText(kStageTitle, {stage}));
}

}  // namespace

Layout LayoutFromOption(std::u16string_view option) {
  if (option.find(u"单行单义(左编码)") != kNone) return Layout::kOneEntryLeftCode;
  if (option.find(u"单行多义(左词条)") != kNone) return Layout::kManyCodesLeftEntry;
  return Layout::kManyEntriesLeftCode;
}

std::u16string LayoutOptionText(Layout layout) {
  switch (layout) {
    case Layout::kOneEntryLeftCode:
      return u"单行单义(左编码)";
    case Layout::kManyCodesLeftEntry:
      return u"单行多义(左词条)";
    case Layout::kManyEntriesLeftCode:
      break;
  }
  return u"单行多义(左编码)";
}

std::u16string BuildSeparatorSet(std::u16string_view separatorText) {
  std::u16string set;
  std::vector<bool> blotted(separatorText.size());
  auto add = [&](char16_t u) {
    if (set.size() < kMaxSeparators && set.find(u) == std::u16string::npos) set.push_back(u);
  };
  // The named words share no unit, so blotting one never breaks another.
  auto take = [&](std::u16string_view word, char16_t u) {
    for (size_t at = separatorText.find(word); at != kNone;
         at = separatorText.find(word, at + word.size())) {
      add(u);
      std::fill_n(blotted.begin() + at, word.size(), true);
    }
  };
  take(u"空格", u' ');
  take(u"Tab", u'\t');
  take(u"tab", u'\t');
  take(u"TAB", u'\t');
  take(u"\\,", u',');
  for (size_t i = 0; i < separatorText.size(); ++i) {
    if (!blotted[i] && separatorText[i] != u',') add(separatorText[i]);
  }
  return set;
}

uint64_t ConvertLayoutText(std::u16string_view source, std::u16string_view separatorSet,
                           Layout layout, std::u16string& out, const ConversionProgress& progress) {
  auto isSeparator = std::make_unique<std::bitset<0x10000>>();
  for (char16_t u : separatorSet) isSeparator->set(u);
  ProgressPacer throttle(progress);
  std::vector<std::u16string_view> fields;
  auto emit = [&](std::u16string_view left, std::u16string_view right) {
    out.append(left);
    out.push_back(u'\t');
    out.append(right);
    out.append(u"\r\n");
  };
  uint64_t converted = 0;
  size_t pos = 0;
  std::u16string_view line;
  while (NextLine(source, pos, {.breaks = LineBreaks::kRuns, .limit = kSourceLineLimit}, line)) {
    fields.clear();
    for (size_t i = 0; i < line.size();) {
      while (i < line.size() && isSeparator->test(line[i])) ++i;
      const size_t start = i;
      while (i < line.size() && !isSeparator->test(line[i])) ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
    if (fields.size() < 2) continue;
    switch (layout) {
      case Layout::kOneEntryLeftCode:
        emit(fields[1], fields[0]);
        break;
      case Layout::kManyEntriesLeftCode:
        for (size_t i = 1; i < fields.size(); ++i) emit(fields[i], fields[0]);
        break;
      case Layout::kManyCodesLeftEntry:
        for (size_t i = 1; i < fields.size(); ++i) emit(fields[0], fields[i]);
        break;
    }
    ++converted;
    if (throttle.Due()) progress(FormatText(kLayoutTitle, {static_cast<long long>(converted)}));
  }
  if (progress) progress(FormatText(kLayoutTitle, {static_cast<long long>(converted)}));
  return converted;
}

std::optional<Rule> ParseRule(std::u16string_view line) {
  const size_t arrow = line.find(u"==>");
  if (arrow == kNone) return std::nullopt;
  Rule rule;
  if (!ParsePattern(line.substr(0, arrow), rule.pattern)) return std::nullopt;
  if (!ParseTemplate(line.substr(arrow + 3), rule.pattern.size(), rule.tmpl)) return std::nullopt;
  return rule;
}

std::vector<Rule> ParseRules(std::u16string_view ruleText) {
  std::vector<Rule> rules;
  size_t pos = 0;
  std::u16string_view line;
  while (NextLine(ruleText, pos, {.breaks = LineBreaks::kRuns, .limit = kRuleLineLimit}, line)) {
    if (std::optional<Rule> rule = ParseRule(line)) rules.push_back(std::move(*rule));
  }
  return rules;
}

void ApplyRules(const std::vector<Rule>& rules, std::u16string_view text, std::u16string& out,
                const ConversionProgress& progress) {
  RunRules(rules, text, out, progress, nullptr);
}

std::filesystem::path ConversionOutputPath(const std::filesystem::path& source) {
  return FolderOf(source) / PathFromUtf16(kConversionOutputName);
}

Result<uint64_t> RunLayoutConversion(FileSystem& fs, const std::filesystem::path& source,
                                     std::u16string_view separatorText, Layout layout,
                                     const std::filesystem::path& output,
                                     const ConversionProgress& progress) try {
  Result<TextBuffer> text = ReadTableText(fs, source);
  if (!text.IsOk()) return text.status();
  const std::u16string separators = BuildSeparatorSet(
      separatorText.substr(0, std::min(separatorText.size(), kSeparatorTextLimit)));
  std::u16string out(u"\uFEFF");
  const uint64_t converted = ConvertLayoutText(text->text, separators, layout, out, progress);
  if (converted == 0) {
    return Status::InvalidArgument(PathToUtf8(source),
                                   Tr("no line has two fields at the given separators"));
  }
  text->text = std::u16string();  // the source is no longer needed while writing
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, output);
  if (!writer.IsOk()) return writer.status();
  writer.value()->Write(out);
  Status committed = writer.value()->Commit();
  if (!committed.IsOk()) return committed;
  return converted;
} catch (const std::bad_alloc&) {
  return Status::NoMemory(source.string());
}

Result<uint64_t> RunRuleConversion(FileSystem& fs, const std::filesystem::path& source,
                                   std::u16string_view ruleText,
                                   const std::filesystem::path& output,
                                   const ConversionProgress& progress) try {
  ReportStage(progress, u"读取规则定义");
  const std::vector<Rule> rules =
      ParseRules(ruleText.substr(0, std::min(ruleText.size(), kRuleTextLimit)));
  if (rules.empty()) {
    ReportStage(progress, u"错误的规则定义");
    return Status::InvalidArgument("", Tr("the rule text holds no valid conversion rule"));
  }
  Result<TextBuffer> text = ReadTableText(fs, source);
  if (!text.IsOk()) return text.status();
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, output);
  if (!writer.IsOk()) return writer.status();
  TextWriter& sink = *writer.value();
  sink.WriteBom();
  std::u16string out;
  RunRules(rules, text->text, out, progress, &sink);
  sink.Write(out);
  Status committed = sink.Commit();
  if (!committed.IsOk()) return committed;
  return static_cast<uint64_t>(text->text.size());
} catch (const std::bad_alloc&) {
  return Status::NoMemory(source.string());
}

}  // namespace mirel
