#include "generate/merge_tables.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <new>
#include <unordered_set>
#include <utility>

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

uint64_t HashUnits(std::u16string_view s) {
  uint64_t h = 0xCBF29CE484222325ull ^ s.size();
  for (char16_t u : s) h = (h ^ u) * 0x100000001B3ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

// A line with a TAB and the hash of its entry.
struct KeyedLine {
  std::u16string_view line;
  size_t tab;
  uint64_t hash;
  std::u16string_view Entry() const { return line.substr(0, tab); }
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
    if (tab != kNone) batch[count++] = {line, tab, HashUnits(line.substr(0, tab))};
  }
  return count;
}

// One further table: each distinct entry with its distinct codes in the order
// of first appearance. Open addressing over views into the table's text, so
// indexing allocates only when an array grows.
class CodeIndex {
 public:
  static constexpr size_t kEnd = static_cast<size_t>(-1);

  struct Entry {
    std::u16string_view key;
    uint64_t hash;
    size_t firstCode;
    size_t lastCode;
    size_t codeCount;
  };

  // Indexes `table` up to its first empty line. `counter` runs on across
  // tables for the caption.
  void Build(std::u16string_view table, uint64_t& counter, ProgressThrottle& throttle) {
    size_t pos = 0;
    std::array<KeyedLine, kBatch> batch;
    while (const size_t count = ReadBatch(table, pos, batch)) {
      while ((entries_.size() + count) * 2 > slots_.size()) Grow();
      for (size_t i = 0; i < count; ++i) Prefetch(batch[i].hash);
      for (size_t i = 0; i < count; ++i) {
        Add(batch[i]);
        throttle.Step(kIndexCaption, ++counter);
      }
    }
  }

  void Prefetch(uint64_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  }

  const Entry* Find(std::u16string_view key, uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const size_t slot = slots_[i];
      if (slot == 0) return nullptr;
      const Entry& e = entries_[slot - 1];
      if (e.hash == hash && e.key == key) return &e;
    }
  }

  std::u16string_view Code(size_t code) const { return codes_[code].text; }
  size_t NextCode(size_t code) const { return codes_[code].next; }

 private:
  // Entries with more codes than this find repeated codes in a hash set
  // rather than by walking their list.
  static constexpr size_t kScanLimit = 16;
  static constexpr size_t kMaxEntries = 0xFFFFFFFEu;

  struct CodeNode {
    std::u16string_view text;
    size_t next;
  };
  struct CodeKey {
    size_t entry;
    std::u16string_view code;
    bool operator==(const CodeKey&) const = default;
  };
  struct CodeKeyHash {
    size_t operator()(const CodeKey& k) const {
      return HashUnits(k.code) ^ (k.entry * 0x9E3779B97F4A7C15ull);
    }
  };

  void Add(const KeyedLine& line) {
    const std::u16string_view key = line.Entry();
    const std::u16string_view code = line.line.substr(line.tab + 1);
    const uint64_t hash = line.hash;
    if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const size_t slot = slots_[i];
      if (slot == 0) {
        // Slot numbers are 32 bits, which keeps the slots in the cache; only
        // a table of more than 8 G units could reach the limit.
        if (entries_.size() >= kMaxEntries) return;
        slots_[i] = static_cast<uint32_t>(entries_.size() + 1);
        entries_.push_back({key, hash, codes_.size(), codes_.size(), 1});
        codes_.push_back({code, kEnd});
        return;
      }
      if (entries_[slot - 1].hash == hash && entries_[slot - 1].key == key) {
        AddCode(slot - 1, code);
        return;
      }
    }
  }

  void AddCode(size_t index, std::u16string_view code) {
    Entry& e = entries_[index];
    if (e.codeCount <= kScanLimit) {
      for (size_t c = e.firstCode; c != kEnd; c = codes_[c].next) {
        if (codes_[c].text == code) return;
      }
    } else if (!seen_.insert({index, code}).second) {
      return;
    }
    codes_[e.lastCode].next = codes_.size();
    e.lastCode = codes_.size();
    codes_.push_back({code, kEnd});
    if (++e.codeCount == kScanLimit + 1) {
      for (size_t c = e.firstCode; c != kEnd; c = codes_[c].next) {
        seen_.insert({index, codes_[c].text});
      }
    }
  }

  void Grow() {
    std::vector<uint32_t> slots(std::max<size_t>(1024, slots_.size() * 2), 0);
    const size_t mask = slots.size() - 1;
    for (size_t k = 0; k < entries_.size(); ++k) {
      size_t i = entries_[k].hash & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = static_cast<uint32_t>(k + 1);
    }
    slots_ = std::move(slots);
  }

  std::vector<uint32_t> slots_;  // entry index + 1; 0 is free
  std::vector<Entry> entries_;
  std::vector<CodeNode> codes_;
  std::unordered_set<CodeKey, CodeKeyHash> seen_;
};

// Ends the output line begun at `start` with CR LF, keeping at most
// kMergeLineLimit units in all and never half of a surrogate pair.
void CutLine(std::u16string& out, size_t start) {
  const size_t limit = start + kMergeLineLimit - 2;
  if (out.size() > limit) {
    size_t end = limit;
    if (IsSurrogate(out[end - 1]) && !IsLowSurrogate(out[end - 1]) && IsLowSurrogate(out[end])) {
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
  Merger(const std::vector<CodeIndex>& indexes, std::u16string& out, ProgressThrottle& throttle,
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
        for (const CodeIndex& index : indexes_) index.Prefetch(batch[i].hash);
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
      found_[k] = indexes_[k].Find(line.Entry(), line.hash);
      if (found_[k] == nullptr) return true;
      chosen_[k] = found_[k]->firstCode;
    }
    // Every combination, table 2 outermost and the last table innermost.
    while (true) {
      const size_t start = out_.size();
      out_.append(line.line);
      for (size_t k = 0; k < n; ++k) out_.append(indexes_[k].Code(chosen_[k]));
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
        const size_t next = indexes_[k].NextCode(chosen_[k]);
        if (next != CodeIndex::kEnd) {
          chosen_[k] = next;
          break;
        }
        chosen_[k] = found_[k]->firstCode;
        if (k == 0) return true;
      }
      if (n == 0) return true;
    }
  }

  const std::vector<CodeIndex>& indexes_;
  std::vector<const CodeIndex::Entry*> found_;
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

std::vector<CodeIndex> BuildIndexes(const std::vector<std::u16string_view>& tables,
                                    ProgressThrottle& throttle) {
  std::vector<CodeIndex> indexes(tables.size());
  uint64_t counter = 0;
  for (size_t k = 0; k < tables.size(); ++k) indexes[k].Build(tables[k], counter, throttle);
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
  const std::vector<CodeIndex> indexes = BuildIndexes(further, throttle);
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
  const std::vector<CodeIndex> indexes = BuildIndexes(further, throttle);
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
