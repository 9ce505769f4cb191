#include "generate/merge_tables.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <new>
#include <span>
#include <utility>

#include "generate/entry_codes.h"
#include "generate/output_bound.h"
#include "platform/lines.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/lines_without_tab.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr char16_t kTab = u'\t';
constexpr size_t kNone = std::u16string_view::npos;

constexpr std::u16string_view kIndexCaption = u"码表合并 - 读取第一码表定义个数：%d";
constexpr std::u16string_view kMergeCaption = u"码表合并 - 合并的定义个数：%d";

// Output goes to the file in pieces of about this many units.
constexpr size_t kFlushUnits = size_t{1} << 16;

// The pacer with the merge's captions, which carry one count.
class ProgressThrottle {
 public:
  explicit ProgressThrottle(const GenerationProgress& progress) : pacer_(progress) {}
  void Step(std::u16string_view caption, uint64_t count) {
    if (pacer_.Due()) Report(caption, count);
  }
  void Report(std::u16string_view caption, uint64_t count) const {
    pacer_.Report(FormatText(caption, {static_cast<long long>(count)}));
  }

 private:
  ProgressPacer pacer_;
};

// The next line of a table from `pos`, with the offset of its first TAB (or
// kNone). False at the end of the text and at an empty line, which ends the
// table: `pos` stays on it, so every later call stops there too.
bool NextTableLine(std::u16string_view text, size_t& pos, std::u16string_view& line, size_t& tab) {
  size_t next = pos;
  if (!NextLine(text, next, {.breaks = LineBreaks::kEach}, line, tab) || line.empty()) return false;
  pos = next;
  return true;
}

// A line with a TAB and the probe of its entry.
struct KeyedLine {
  std::u16string_view line;
  size_t tab;
  HashProbe entry;
};

// Lines are taken a batch at a time, so that the hash-table slots of a whole
// batch are asked of memory before the first is needed: on tables far larger
// than the cache this hides most of the wait.
constexpr size_t kBatch = 16;

// Reads up to kBatch lines with a TAB from `pos`; returns how many.
size_t ReadBatch(std::u16string_view text, size_t& pos, std::array<KeyedLine, kBatch>& batch) {
  size_t count = 0;
  std::u16string_view line;
  size_t tab;
  while (count < kBatch && NextTableLine(text, pos, line, tab)) {
    if (tab != kNone) batch[count++] = {line, tab, MakeProbe(line.substr(0, tab))};
  }
  return count;
}

// Indexes a further table up to its first empty line. `counter` runs on
// across tables for the caption.
void IndexTable(std::u16string_view table, EntryCodes& index, uint64_t& counter,
                ProgressThrottle& throttle) {
  size_t pos = 0;
  std::array<KeyedLine, kBatch> batch;
  while (const size_t count = ReadBatch(table, pos, batch)) {
    for (size_t i = 0; i < count; ++i) index.Prefetch(batch[i].entry);
    for (size_t i = 0; i < count; ++i) {
      // Only a table of more than 8 G units could fill the index.
      if (!index.Add(batch[i].entry, batch[i].line, batch[i].tab)) break;
      throttle.Step(kIndexCaption, ++counter);
    }
  }
  index.Finish();
}

// Ends the output line begun at `start` with CR LF, keeping at most
// kMergeLineLimit units in all and never half of a surrogate pair.
void CutLine(std::u16string& out, size_t start) {
  const size_t limit = start + kMergeLineLimit - 2;
  if (out.size() > limit) {
    size_t end = limit;
    if (IsHighSurrogate(out[end - 1]) && IsLowSurrogate(out[end])) {
      --end;
    }
    out.resize(end);
  }
  out.append(u"\r\n");
}

using Flush = std::function<void(std::u16string& out)>;

// An entry that repeats in every table is written once per combination of
// its codes: three tables of 1,000 rows sharing one entry would make a
// billion lines.

Status TooMuchOutput(uint64_t inputUnits) {
  return Status::InvalidArgument(
      "", "码表合并结果将超过输入的" + std::to_string(kOutputFactor) + "倍（输入" +
              std::to_string(inputUnits) +
              "字）：同一词条在各码表中的编码组合过多，请检查各码表中重复的词条。");
}

// Writes the lines of `first` joined with `indexes` to `out`; when `flush` is
// given, hands it the output whenever kFlushUnits have gathered. Stops when
// the output would pass `budget` units.
class Merger {
 public:
  Merger(const std::vector<EntryCodes>& indexes, std::u16string& out, ProgressThrottle& throttle,
         const Flush* flush, uint64_t budget)
      : indexes_(indexes),
        found_(indexes.size()),
        chosen_(indexes.size()),
        out_(out),
        throttle_(throttle),
        flush_(flush),
        budget_(budget) {}

  // False when the budget ran out.
  bool Merge(std::u16string_view first) {
    size_t pos = 0;
    std::array<KeyedLine, kBatch> batch;
    while (const size_t count = ReadBatch(first, pos, batch)) {
      for (size_t i = 0; i < count; ++i) {
        for (const EntryCodes& index : indexes_) index.Prefetch(batch[i].entry);
      }
      for (size_t i = 0; i < count; ++i) {
        if (!Join(batch[i])) return false;
      }
    }
    return true;
  }

  uint64_t written() const { return written_; }

 private:
  bool Join(const KeyedLine& line) {
    const size_t n = indexes_.size();
    for (size_t k = 0; k < n; ++k) {
      found_[k] = indexes_[k].Codes(line.entry);
      if (found_[k].empty()) return true;
      chosen_[k] = 0;
    }
    // Every combination, table 2 outermost and the last table innermost.
    while (true) {
      const size_t start = out_.size();
      out_.append(line.line);
      for (size_t k = 0; k < n; ++k) out_.append(found_[k][chosen_[k]]);
      CutLine(out_, start);
      spent_ += out_.size() - start;
      if (spent_ > budget_) return false;
      throttle_.Step(kMergeCaption, ++written_);
      if (flush_ != nullptr && out_.size() >= kFlushUnits) {
        (*flush_)(out_);
        out_.clear();
      }
      size_t k = n;
      while (k > 0) {
        --k;
        if (++chosen_[k] < found_[k].size()) break;
        chosen_[k] = 0;
        if (k == 0) return true;
      }
      if (n == 0) return true;
    }
  }

  const std::vector<EntryCodes>& indexes_;
  std::vector<std::span<const std::u16string_view>> found_;
  std::vector<size_t> chosen_;
  std::u16string& out_;
  ProgressThrottle& throttle_;
  const Flush* flush_;
  const uint64_t budget_;
  uint64_t spent_ = 0;
  uint64_t written_ = 0;
};

uint64_t OutputBudget(std::u16string_view first, const std::vector<std::u16string_view>& further) {
  uint64_t inputUnits = first.size();
  for (std::u16string_view table : further) inputUnits += table.size();
  return OutputLimitUnits(inputUnits);
}

uint64_t InputUnits(uint64_t budget) { return (budget - kOutputSlackUnits) / kOutputFactor; }

bool IsBlank(std::u16string_view line) {
  return line.find_first_not_of(u" \uFEFF") == std::u16string_view::npos;
}

// What the merge does not take of a table: lines without a TAB, and every
// line after the empty line that ends the table. Empty when it takes all.
std::string LeftOutOf(std::u16string_view text) {
  LinesWithoutTab withoutTab;
  uint64_t endLine = 0;
  uint64_t afterEnd = 0;
  LineReader reader(text, {.breaks = LineBreaks::kEach});
  std::u16string_view line;
  size_t tab;
  while (reader.Next(line, tab)) {
    if (endLine != 0) {
      if (!IsBlank(line)) ++afterEnd;
    } else if (line.empty()) {
      endLine = reader.number();
    } else if (tab == kNone && !IsBlank(line)) {
      withoutTab.Add(reader.number());
    }
  }
  std::string what = withoutTab.Describe();
  if (afterEnd > 0) {
    if (!what.empty()) what += "; ";
    what += "the table ends at its empty line " + std::to_string(endLine) + ", so " +
            std::to_string(afterEnd) +
            (afterEnd == 1 ? " line after it was" : " lines after it were") + " left out";
  }
  return what;
}

std::vector<EntryCodes> BuildIndexes(const std::vector<std::u16string_view>& tables,
                                     ProgressThrottle& throttle) {
  std::vector<EntryCodes> indexes(tables.size());
  uint64_t counter = 0;
  for (size_t k = 0; k < tables.size(); ++k) IndexTable(tables[k], indexes[k], counter, throttle);
  return indexes;
}

std::string TableName(size_t index) { return "码表" + std::to_string(index + 1); }

}  // namespace

std::u16string FormatMergeSettings(const MergeSettings& settings) {
  std::u16string text;
  for (size_t k = 0; k < kMergeTableCount; ++k) {
    text.append(u"码表");
    text.push_back(static_cast<char16_t>(u'1' + k));
    text.push_back(u'=');
    text.append(settings.tables[k]);
    text.append(u"\r\n");
  }
  return text;
}

MergeSettings ParseMergeSettings(std::u16string_view text) {
  text = text.substr(0, std::min(text.size(), kMergeSettingsTextLimit));
  MergeSettings settings;
  std::u16string key = u"码表1=";
  for (size_t k = 0; k < kMergeTableCount; ++k) {
    key[2] = static_cast<char16_t>(u'1' + k);
    const size_t at = text.find(key);
    if (at == kNone) continue;
    std::u16string_view value = text.substr(at + key.size(), kMergePathLimit);
    settings.tables[k] = value.substr(0, value.find_first_of(u"\r\n"));
  }
  return settings;
}

Result<uint64_t> MergeTableTexts(std::u16string_view first,
                                 const std::vector<std::u16string_view>& further,
                                 std::u16string& out, const GenerationProgress& progress) try {
  ProgressThrottle throttle(progress);
  const std::vector<EntryCodes> indexes = BuildIndexes(further, throttle);
  const uint64_t budget = OutputBudget(first, further);
  Merger merger(indexes, out, throttle, nullptr, budget);
  if (!merger.Merge(first)) return TooMuchOutput(InputUnits(budget));
  throttle.Report(kMergeCaption, merger.written());
  return merger.written();
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Result<GenerationReport> MergeTables(FileSystem& fs, const MergeSettings& settings,
                                     const std::filesystem::path& output,
                                     const GenerationProgress& progress) {
  std::array<std::filesystem::path, kMergeTableCount> tables;
  for (size_t k = 0; k < kMergeTableCount; ++k) tables[k] = PathFromUtf16(settings.tables[k]);
  return MergeTableFiles(fs, tables, output, progress);
}

Result<GenerationReport> MergeTableFiles(
    FileSystem& fs, const std::array<std::filesystem::path, kMergeTableCount>& tables,
    const std::filesystem::path& output, const GenerationProgress& progress) try {
  const std::filesystem::path& firstPath = tables[0];
  Result<PathInfo> firstInfo =
      firstPath.empty() ? Result<PathInfo>(PathInfo{}) : fs.Query(firstPath);
  if (!firstInfo.IsOk() || firstInfo->kind == PathKind::kMissing) {
    return Status::InvalidArgument("", std::string(kMergeNoFirstTableMessage));
  }
  Result<std::unique_ptr<TextWriter>> writer =
      TextWriter::Create(fs, output.empty() ? MergeOutputPath(firstPath) : output);
  if (!writer.IsOk()) return writer.status();
  writer.value()->WriteBom();

  GenerationReport report;
  auto noteLeftOut = [&](const std::filesystem::path& path, std::u16string_view text) {
    if (std::string what = LeftOutOf(text); !what.empty()) {
      report.leftOut.push_back({path, std::move(what)});
    }
  };
  // All texts are read before any view into them is taken.
  std::vector<std::u16string> texts;
  for (size_t k = 1; k < kMergeTableCount; ++k) {
    if (tables[k].empty()) continue;
    Result<TextBuffer> table = ReadTableText(fs, tables[k]);
    if (!table.IsOk()) return Status::IoError(TableName(k), table.status().message());
    Status rows = RefuseTextWithoutRows(table.value().text, tables[k].string());
    if (!rows.IsOk()) return Status::InvalidArgument(TableName(k), rows.message());
    texts.push_back(std::move(table.value().text));
  }
  Result<TextBuffer> first = ReadTableText(fs, firstPath);
  if (!first.IsOk()) return Status::IoError(TableName(0), first.status().message());
  Status rows = RefuseTextWithoutRows(first.value().text, firstPath.string());
  if (!rows.IsOk()) return Status::InvalidArgument(TableName(0), rows.message());
  noteLeftOut(firstPath, first.value().text);
  for (size_t k = 1, t = 0; k < kMergeTableCount; ++k) {
    if (!tables[k].empty()) noteLeftOut(tables[k], texts[t++]);
  }

  ProgressThrottle throttle(progress);
  const std::vector<std::u16string_view> further(texts.begin(), texts.end());
  const std::vector<EntryCodes> indexes = BuildIndexes(further, throttle);
  std::u16string out;
  out.reserve(kFlushUnits + kMergeLineLimit);
  const Flush flush = [&](std::u16string& piece) { writer.value()->Write(piece); };
  const uint64_t budget = OutputBudget(first.value().text, further);
  Merger merger(indexes, out, throttle, &flush, budget);
  if (!merger.Merge(first.value().text)) return TooMuchOutput(InputUnits(budget));
  writer.value()->Write(out);
  Status committed = writer.value()->Commit();
  if (!committed.IsOk()) return committed;
  throttle.Report(kMergeCaption, merger.written());
  report.lines = merger.written();
  return report;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

std::filesystem::path MergeOutputPath(const std::filesystem::path& firstTable) {
  return FolderOf(firstTable) / PathFromUtf16(kMergeOutputName);
}

}  // namespace mirel
