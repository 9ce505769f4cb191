#include "generate/word_library.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <new>
#include <utility>

#include "generate/error_log.h"
#include "platform/hash_index.h"
#include "platform/lines.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/progress.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/lines_without_tab.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr char16_t kTab = u'\t';
constexpr size_t kNone = std::u16string_view::npos;

constexpr std::u16string_view kCaption = u"生成词库 - 读取行数：%d，生成编码数：%d,错误数=%d";
constexpr std::u16string_view kCharTableBanner =
    u"-------------------------\r\n单字编码表%s不可使用\r\n-------------------------\r\n";
constexpr std::u16string_view kAuxTableBanner =
    u"-------------------------\r\n辅助码表%s不可使用\r\n-------------------------\r\n";
constexpr std::u16string_view kNoWordListMessage = u"无法读取词库文件：%s";
constexpr std::u16string_view kNoOutputMessage = u"无法创建保存结果文件：%s";
constexpr std::u16string_view kNoRuleMessage = u"无法取得词长 = %d 的构词规则定义。\t词条：%s\r\n";
constexpr std::u16string_view kNoCodeMessage = u"未能找到汉字[ %s ]的编码定义。\t词条：%s\r\n";
constexpr std::u16string_view kTooManyMessage =
    u"编码组合超过%d个，其余的组合未生成。\t词条：%s\r\n";

// Output goes to the file in pieces of about this many units.
constexpr size_t kFlushUnits = size_t{1} << 16;

using ErrorSink = std::function<void(std::u16string_view)>;
using Progress = std::function<void(std::u16string_view caption)>;

// A leading integer as C's atoi reads it (blanks, a sign, digits), saturating
// far beyond any valid value. `end` receives the offset after the digits.
int64_t LeadingInteger(std::u16string_view text, size_t& end) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == kTab)) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - u'0'), int64_t{1} << 40);
  }
  end = i;
  return negative ? -value : value;
}

// The tokens of a rule line, split at runs of '=' and '+'.
class Tokens {
 public:
  explicit Tokens(std::u16string_view line) : line_(line) {}
  bool Next(std::u16string_view& token) {
    while (pos_ < line_.size() && IsSeparator(line_[pos_])) ++pos_;
    if (pos_ >= line_.size()) return false;
    const size_t start = pos_;
    while (pos_ < line_.size() && !IsSeparator(line_[pos_])) ++pos_;
    token = line_.substr(start, pos_ - start);
    return true;
  }

 private:
  static bool IsSeparator(char16_t u) { return u == u'=' || u == u'+'; }
  std::u16string_view line_;
  size_t pos_ = 0;
};

void ParseRuleLine(std::u16string_view line, RuleSet& rules) {
  Tokens tokens(line);
  std::u16string_view token;
  if (!tokens.Next(token) || token[0] != u'p') return;
  size_t end;
  const int64_t length = LeadingInteger(token.substr(1), end);
  if (length < 2 || length > static_cast<int64_t>(kWordMaxLength)) return;
  while (tokens.Next(token)) {
    if (token.size() <= 3) continue;
    int64_t position = LeadingInteger(token.substr(1), end);
    const char16_t direction = token[0];
    if (direction == u'r' || direction == u'R') {
      position = length - position + 1;
    } else if (direction != u'l' && direction != u'L') {
      return;
    }
    if (position < 1 || position > length) return;
    const size_t selectorAt = 1 + end;
    if (selectorAt >= token.size()) return;
    const char16_t selector = token[selectorAt];
    if (selector != u'b' && selector != u'B' && selector != u'f' && selector != u'F') return;
    const int64_t key = LeadingInteger(token.substr(selectorAt + 1), end);
    if (key < 0 || key > 128) return;
    rules.Append(static_cast<size_t>(length),
                 {static_cast<uint8_t>(position), static_cast<uint8_t>(key % 128),
                  selector == u'f' || selector == u'F'});
  }
}

// Codes the lines of a word list into `out`. Buffers are kept across words,
// so a word allocates nothing once they have grown.
class WordGenerator {
 public:
  WordGenerator(const CharCodeIndex& chars, const CharCodeIndex* aux, const RuleSet& rules,
                bool predefined, bool tolerant, std::u16string& out, const ErrorSink& error,
                WordResult& counts)
      : chars_(chars),
        aux_(aux),
        rules_(rules),
        predefined_(predefined),
        tolerant_(tolerant),
        out_(out),
        error_(error),
        counts_(counts),
        seen_(ResultPolicy{this}, 64) {
    variableOf_.fill(-1);
  }

  // Handles every line of `text`; `afterLine` runs after each one and may
  // stop the run by returning false.
  template <class AfterLine>
  bool Process(std::u16string_view text, AfterLine&& afterLine) {
    size_t pos = 0;
    std::u16string_view line;
    while (NextLine(text, pos, {.breaks = LineBreaks::kRuns}, line)) {
      if (line.find(kTab) != kNone) {
        // A finished entry: copied as it stands.
        out_.append(line);
        out_.append(u"\r\n");
        ++counts_.written;
      } else {
        CodeWord(line);
      }
      ++counts_.words;
      if (!afterLine()) return false;
    }
    return true;
  }

  void Log(std::u16string_view format, std::initializer_list<FormatArg> args) {
    message_.clear();
    // Every message names the word; a word of millions of characters must
    // not be copied again while its message grows.
    message_.reserve(format.size() + word_.size() + 64);
    AppendFormatted(message_, format, args);
    ++counts_.errors;
    if (error_) error_(message_);
  }

 private:
  struct Variable {
    uint8_t position;
    bool auxiliary;
    std::span<const std::u16string_view> codes;  // empty: the character has no code
    size_t choice;
  };
  struct Result {
    size_t start;  // of the result in out_
    size_t size;
  };
  // Results are text in out_, which moves as it grows: slots name them by
  // number.
  struct ResultSlot {
    uint32_t hash = 0;
    uint32_t resultPlusOne = 0;  // 0: empty
  };
  struct ResultPolicy {
    using Slot = ResultSlot;
    const WordGenerator* self;
    static bool IsEmpty(const Slot& slot) { return slot.resultPlusOne == 0; }
    bool Matches(const Slot& slot, const HashProbe& p) const {
      return slot.hash == p.hash && self->ResultText(slot.resultPlusOne - 1) == p.key;
    }
    uint32_t HashOf(const Slot& slot) const { return slot.hash; }
    static bool IsFull(size_t used, size_t size) { return 2 * used > size; }
    static size_t GrownSize(size_t size) { return 2 * size; }
  };
  // Results of one word are compared pairwise up to this many, then hashed.
  static constexpr size_t kScanLimit = 16;

  std::u16string_view ResultText(uint32_t r) const {
    return std::u16string_view(out_).substr(results_[r].start, results_[r].size);
  }

  // Reads the word and its predefined codes from `line` into word_, starts_
  // (character offsets, with the end as the last) and givenCodes_. Past
  // kWordMaxLength characters no rule applies, so a longer word is only
  // counted: a line of millions of characters must not cost 32 bytes each.
  void Scan(std::u16string_view line) {
    word_.clear();
    starts_.clear();
    givenCodes_.clear();
    characters_ = 0;
    // Room for the longest word the line can hold, so that a long one is
    // never copied as it grows; pages never written cost nothing.
    word_.reserve(line.size());
    for (size_t i = 0; i < line.size();) {
      const char16_t c = line[i];
      if (c == u'\\' && i + 1 < line.size() && (line[i + 1] == u't' || line[i + 1] == u'\\')) {
        AddCharacter(std::u16string_view(line[i + 1] == u't' ? u"\t" : u"\\"));
        i += 2;
        continue;
      }
      if (c == u'(' && predefined_ && characters_ > 0) {
        const size_t close = line.find(u')', i + 1);
        if (close != kNone) {
          // A later code for the same character replaces an earlier one.
          if (characters_ <= kWordMaxLength) {
            givenCodes_.back() = {line.substr(i + 1, close - i - 1), true};
          }
          i = close + 1;
          continue;
        }
      }
      const size_t units =
          IsHighSurrogate(c) && i + 1 < line.size() && IsLowSurrogate(line[i + 1]) ? 2 : 1;
      AddCharacter(line.substr(i, units));
      i += units;
    }
    if (characters_ <= kWordMaxLength) starts_.push_back(word_.size());
  }

  void AddCharacter(std::u16string_view character) {
    if (++characters_ <= kWordMaxLength) {
      starts_.push_back(word_.size());
      givenCodes_.push_back({{}, false});
    }
    word_.append(character);
  }

  std::u16string_view Character(size_t position) const {
    return std::u16string_view(word_).substr(starts_[position - 1],
                                             starts_[position] - starts_[position - 1]);
  }

  void CodeWord(std::u16string_view line) {
    Scan(line);
    const size_t length = characters_;
    const std::span<const RuleItem> items =
        length <= kWordMaxLength ? rules_.Items(length) : std::span<const RuleItem>();
    if (items.empty()) {
      Log(kNoRuleMessage, {static_cast<long long>(length), std::u16string_view(word_)});
      return;
    }
    const bool resolved = Resolve(items);
    for (const Variable& v : variables_) variableOf_[Slot(v.position, v.auxiliary)] = -1;
    if (resolved) Enumerate(items);
  }

  static size_t Slot(size_t position, bool auxiliary) { return position * 2 + auxiliary; }

  // Finds the codes of every character the items name, in item order. False
  // when the word gives no line.
  bool Resolve(std::span<const RuleItem> items) {
    variables_.clear();
    itemVariable_.clear();
    bool anyCode = false;
    for (const RuleItem& item : items) {
      int16_t& v = variableOf_[Slot(item.position, item.auxiliary)];
      if (v < 0) {
        Variable variable{item.position, item.auxiliary, {}, 0};
        const std::u16string_view character = Character(item.position);
        if (!item.auxiliary && predefined_ && givenCodes_[item.position - 1].second) {
          variable.codes = std::span(&givenCodes_[item.position - 1].first, 1);
        } else if (const CharCodeIndex* index = item.auxiliary ? aux_ : &chars_) {
          variable.codes = index->Codes(character);
        }
        if (variable.codes.empty()) {
          Log(kNoCodeMessage, {character, std::u16string_view(word_)});
          if (!tolerant_) return false;
        }
        anyCode = anyCode || !variable.codes.empty();
        v = static_cast<int16_t>(variables_.size());
        variables_.push_back(variable);
      }
      itemVariable_.push_back(v);
    }
    return anyCode;
  }

  // Writes one line per distinct combination of codes, the variable of the
  // first position outermost.
  void Enumerate(std::span<const RuleItem> items) {
    order_.clear();
    uint64_t combinations = 1;
    for (size_t v = 0; v < variables_.size(); ++v) {
      if (variables_[v].codes.empty()) continue;
      order_.push_back(static_cast<uint16_t>(v));
      combinations =
          std::min<uint64_t>(combinations * variables_[v].codes.size(), kWordMaxCombinations + 1);
    }
    std::sort(order_.begin(), order_.end(), [&](uint16_t a, uint16_t b) {
      const Variable& x = variables_[a];
      const Variable& y = variables_[b];
      return x.position != y.position ? x.position < y.position : x.auxiliary < y.auxiliary;
    });
    results_.clear();
    seen_.Clear();
    for (uint64_t n = 0; n < std::min(combinations, kWordMaxCombinations); ++n) {
      WriteCombination(items);
      // Advance the odometer: the last position changes fastest.
      for (size_t k = order_.size(); k-- > 0;) {
        Variable& v = variables_[order_[k]];
        if (++v.choice < v.codes.size()) break;
        v.choice = 0;
      }
    }
    if (combinations > kWordMaxCombinations) {
      Log(kTooManyMessage,
          {static_cast<long long>(kWordMaxCombinations), std::u16string_view(word_)});
    }
  }

  void WriteCombination(std::span<const RuleItem> items) {
    const size_t lineStart = out_.size();
    out_.append(word_);
    out_.push_back(kTab);
    const size_t start = out_.size();
    const size_t limit = start + kWordResultLimit;
    for (size_t i = 0; i < items.size(); ++i) {
      const Variable& v = variables_[itemVariable_[i]];
      if (v.codes.empty()) continue;
      std::u16string_view piece = v.codes[v.choice];
      const size_t key = items[i].key;
      if (key != 0) piece = key <= piece.size() ? piece.substr(key - 1, 1) : std::u16string_view();
      if (out_.size() + piece.size() > limit) {
        piece = piece.substr(0, limit - out_.size());
        // Never keep half of a pair.
        if (!piece.empty() && IsHighSurrogate(piece.back())) piece.remove_suffix(1);
        out_.append(piece);
        break;
      }
      out_.append(piece);
    }
    const uint32_t r = static_cast<uint32_t>(results_.size());
    results_.push_back({start, out_.size() - start});
    if (IsDuplicate(r)) {
      results_.pop_back();
      out_.resize(lineStart);
      return;
    }
    out_.append(u"\r\n");
    ++counts_.written;
  }

  bool IsDuplicate(uint32_t r) {
    if (r < kScanLimit) {
      for (uint32_t k = 0; k < r; ++k) {
        if (ResultText(k) == ResultText(r)) return true;
      }
      return false;
    }
    if (r == kScanLimit) {
      for (uint32_t k = 0; k < r; ++k) Note(k);
    }
    return !Note(r);
  }

  // False when an equal result was noted before.
  bool Note(uint32_t r) {
    const HashProbe p = MakeProbe(ResultText(r));
    return seen_.Insert(p, [&](ResultSlot& slot) { slot = ResultSlot{p.hash, r + 1}; }).second;
  }

  const CharCodeIndex& chars_;
  const CharCodeIndex* aux_;
  const RuleSet& rules_;
  const bool predefined_;
  const bool tolerant_;
  std::u16string& out_;
  const ErrorSink& error_;
  WordResult& counts_;

  std::u16string word_;
  size_t characters_ = 0;
  std::vector<size_t> starts_;
  std::vector<std::pair<std::u16string_view, bool>> givenCodes_;
  std::array<int16_t, (kWordMaxLength + 1) * 2> variableOf_;
  std::vector<Variable> variables_;
  std::vector<int16_t> itemVariable_;
  std::vector<uint16_t> order_;
  std::vector<Result> results_;
  HashIndex<ResultPolicy> seen_;
  std::u16string message_;
};

void AppendCapped(std::u16string& text, std::u16string_view part, size_t limit) {
  if (text.size() >= limit) return;
  part = part.substr(0, limit - text.size());
  if (!part.empty() && IsHighSurrogate(part.back()) && text.size() + part.size() == limit) {
    part.remove_suffix(1);
  }
  text.append(part);
}

// The value after `name` in `text`, at most `limit` units up to the line end.
bool FindSetting(std::u16string_view text, std::u16string_view name, size_t limit,
                 std::u16string& value) {
  const size_t at = text.find(name);
  if (at == kNone) return false;
  const std::u16string_view rest = text.substr(at + name.size(), limit);
  value = rest.substr(0, rest.find_first_of(u"\r\n"));
  return true;
}

}  // namespace

std::u16string FormatWordSettings(const WordLibrarySettings& settings) {
  std::u16string text;
  const size_t limit = kWordSettingsTextLimit;
  AppendCapped(text, u"单字码表=", limit);
  AppendCapped(text, settings.charTable, limit);
  AppendCapped(text, u"\r\n辅助码表=", limit);
  AppendCapped(text, settings.auxTable, limit);
  AppendCapped(text, u"\r\n词库文件=", limit);
  AppendCapped(text, settings.wordList, limit);
  AppendCapped(text, u"\r\n\r\n构词规则=\r\n", limit);
  AppendCapped(text, settings.rulesText, limit);
  return text;
}

WordLibrarySettings ParseWordSettings(std::u16string_view text, WordLibrarySettings current) {
  text = text.substr(0, std::min(text.size(), kWordSettingsParseLimit));
  FindSetting(text, u"单字码表=", kWordPathLimit, current.charTable);
  FindSetting(text, u"辅助码表=", kWordPathLimit, current.auxTable);
  FindSetting(text, u"词库文件=", kWordPathLimit, current.wordList);
  constexpr std::u16string_view kRulesName = u"构词规则=";
  const size_t at = text.find(kRulesName);
  if (at != kNone) {
    // The edit box may hand back its line ends as LF alone.
    const size_t start = SkipLineEnd(text, at + kRulesName.size());
    std::u16string_view rules = text.substr(start, kWordRulesLimit);
    if (rules.size() == kWordRulesLimit && IsHighSurrogate(rules.back())) rules.remove_suffix(1);
    current.rulesText = rules;
  }
  return current;
}

void ApplyWordOptions(std::u16string_view options, WordLibrarySettings& settings) {
  options = options.substr(0, std::min(options.size(), kWordOptionsLimit));
  settings.tolerant = options.find(kWordOptionTolerant) != kNone;
  settings.predefined = options.find(kWordOptionPredefined) != kNone;
}

std::span<const RuleItem> RuleSet::Items(size_t length) const {
  if (length >= items_.size()) return {};
  return items_[length];
}

void RuleSet::Append(size_t length, RuleItem item) {
  if (length >= 2 && length < items_.size()) items_[length].push_back(item);
}

RuleSet ParseConstructionRules(std::u16string_view text) {
  RuleSet rules;
  size_t pos = 0;
  std::u16string_view line;
  while (NextLine(text, pos, {.breaks = LineBreaks::kEach}, line)) ParseRuleLine(line, rules);
  return rules;
}

CharCodeIndex::CharCodeIndex(std::u16string&& table)
    : owned_(std::make_unique<std::u16string>(std::move(table))) {
  Build(*owned_);
}

void CharCodeIndex::Build(std::u16string_view table) {
  size_t pos = 0;
  std::u16string_view line;
  while (NextLine(table, pos, {.breaks = LineBreaks::kRuns}, line)) {
    const size_t tab = line.find(kTab);
    if (tab == kNone) continue;
    if (!codes_.Add(MakeProbe(line.substr(0, tab)), line, tab)) break;  // 4 G codes: not a table
  }
  codes_.Finish();
}

std::u16string WordProgressCaption(const WordResult& counts) {
  return FormatText(kCaption,
                    {static_cast<long long>(counts.words), static_cast<long long>(counts.written),
                     static_cast<long long>(counts.errors)});
}

WordResult GenerateWordText(std::u16string_view wordList, const CharCodeIndex& chars,
                            const CharCodeIndex* aux, const RuleSet& rules, bool predefined,
                            bool tolerant, std::u16string& out, const ErrorSink& error,
                            const Progress& progress) {
  WordResult counts;
  ProgressPacer pacer(progress);
  WordGenerator generator(chars, aux, rules, predefined, tolerant, out, error, counts);
  generator.Process(wordList, [&] {
    if (pacer.Due()) pacer.Report(WordProgressCaption(counts));
    return true;
  });
  pacer.Report(WordProgressCaption(counts));
  return counts;
}

namespace {

// Reads a character table into an index, noting its lines without a TAB in
// `leftOut`; an unreadable table is logged with its banner and gives an
// empty index.
CharCodeIndex LoadCharTable(FileSystem& fs, const std::filesystem::path& path,
                            std::u16string_view banner, WordGenerator& generator, bool& unreadable,
                            std::vector<InputLeftOut>& leftOut) {
  Result<TextBuffer> table = ReadTableText(fs, path);
  if (table.IsOk()) {
    LinesWithoutTab skipped;
    skipped.Scan(table.value().text);
    if (!skipped.empty()) leftOut.push_back({path, skipped.Describe()});
    return CharCodeIndex(std::move(table.value().text));
  }
  // A table too large for memory is no unreadable table to go on without.
  if (table.status().code() == Status::Code::kNoMemory) throw std::bad_alloc();
  generator.Log(banner, {PathToUtf16(path)});
  unreadable = true;
  return {};
}

}  // namespace

Result<WordResult> GenerateWordLibrary(FileSystem& fs, const WordLibrarySettings& settings,
                                       const std::filesystem::path& output,
                                       const std::filesystem::path& errorLog,
                                       const Progress& progress, const std::atomic<bool>* cancel) {
  const WordLibraryFiles files{PathFromUtf16(settings.charTable), PathFromUtf16(settings.auxTable),
                               PathFromUtf16(settings.wordList)};
  return GenerateWordLibrary(fs, files, settings, output, errorLog, progress, cancel);
}

Result<WordResult> GenerateWordLibrary(FileSystem& fs, const WordLibraryFiles& files,
                                       const WordLibrarySettings& settings,
                                       const std::filesystem::path& output,
                                       const std::filesystem::path& errorLog,
                                       const Progress& progress,
                                       const std::atomic<bool>* cancel) try {
  const std::filesystem::path& wordListPath = files.wordList;
  const std::u16string wordListName = PathToUtf16(wordListPath);
  const std::filesystem::path outputPath = output.empty() ? WordOutputPath(wordListPath) : output;
  ErrorLog log = ErrorLog::Open(fs, errorLog.empty() ? WordErrorLogPath(wordListPath) : errorLog);
  if (!log.Available()) return log.Close();
  const ErrorSink sink = [&](std::u16string_view message) { log.Add(message); };

  // The indexes are filled in below; the generator only keeps references.
  WordResult counts;
  CharCodeIndex chars;
  CharCodeIndex aux;
  const RuleSet rules = ParseConstructionRules(settings.rulesText);
  std::u16string out;
  WordGenerator generator(chars, &aux, rules, settings.predefined, settings.tolerant, out, sink,
                          counts);
  chars = LoadCharTable(fs, files.charTable, kCharTableBanner, generator,
                        counts.charTableUnreadable, counts.leftOut);
  if (!files.auxTable.empty()) {
    aux = LoadCharTable(fs, files.auxTable, kAuxTableBanner, generator, counts.auxTableUnreadable,
                        counts.leftOut);
  }

  auto fail = [&](std::u16string_view format, std::u16string_view path,
                  const Status& reason = Status::Ok()) -> Result<WordResult> {
    generator.Log(format, {path});
    std::string message = Utf16ToUtf8(FormatText(format, {path}));
    if (!reason.IsOk()) message += "（" + reason.message() + "）";
    (void)log.Close();
    return Status::IoError("", message);
  };
  // Checked before the output is created, so that an unreadable word list is
  // the one failure reported when both would fail.
  // A word list is words, not a code table.
  Result<bool> compiled = IsCompiledTableFile(fs, wordListPath);
  if (!compiled.IsOk()) return fail(kNoWordListMessage, wordListName, compiled.status());
  if (compiled.value()) return CompiledTableRefused(wordListPath, Tr("word list"));
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, outputPath);
  if (!writer.IsOk()) return fail(kNoOutputMessage, PathToUtf16(outputPath), writer.status());
  writer.value()->WriteBom();

  ProgressPacer pacer(progress);
  bool stopped = false;
  auto afterLine = [&] {
    if (out.size() >= kFlushUnits) {
      writer.value()->Write(out);
      out.clear();
    }
    if (pacer.Due()) pacer.Report(WordProgressCaption(counts));
    return cancel == nullptr || !cancel->load(std::memory_order_relaxed);
  };
  const Status read = ReadTextFileInPieces(fs, wordListPath, [&](std::u16string& piece, uint64_t) {
    if (!stopped) stopped = !generator.Process(piece, afterLine);
  });
  if (read.code() == Status::Code::kNoMemory) return read;
  if (!read.IsOk()) return fail(kNoWordListMessage, wordListName, read);
  if (stopped) {
    (void)log.Close();
    return Status::InvalidArgument("", std::string(kWordCancelledMessage));
  }
  writer.value()->Write(out);
  if (Status committed = writer.value()->Commit(); !committed.IsOk()) {
    return fail(kNoOutputMessage, PathToUtf16(outputPath), committed);
  }
  if (Status closed = log.Close(); !closed.IsOk()) return closed;
  pacer.Report(WordProgressCaption(counts));
  return counts;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

std::filesystem::path WordOutputPath(const std::filesystem::path& wordList) {
  return FolderOf(wordList) / PathFromUtf16(kWordOutputName);
}

std::filesystem::path WordErrorLogPath(const std::filesystem::path& wordList) {
  return FolderOf(wordList) / PathFromUtf16(kWordErrorLogName);
}

}  // namespace mirel
