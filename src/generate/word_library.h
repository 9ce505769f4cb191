// Word library generation ("词库生成"): words of two or more characters get
// codes assembled from the codes of their characters, following construction
// rules such as "p2=l1b1+l1b2+l2b1+l2b2" (for a word of two characters, the
// first two keys of each). Character codes come from a single-character table
// and, for items with the selector f, from an auxiliary table.
//
// A character with several codes multiplies the results: each result stands
// for one choice of code per character position, enumerated as nested loops
// with the first character outermost, and every item naming a position uses
// that result's choice. Identical results of one word are written once.
//
// Both tables are indexed over views into their text (generate/entry_codes.h),
// so a word costs one lookup per character its rules name and no allocation
// in the common case. Reentrant; progress runs on the calling thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "generate/entry_codes.h"
#include "generate/error_log.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

inline constexpr std::u16string_view kWordOutputName = u"[ 生成的词库 ].txt";
inline constexpr std::u16string_view kWordErrorLogName = u"[ error_词库生成 ].txt";
inline constexpr std::u16string_view kDefaultConstructionRules =
    u"p2=l1b1+l1b2+l2b1+l2b2\r\np3=l1b1+l2b1+l3b1+l3b2\r\np4=l1b1+l2b1+l3b1+r1b1\r\n"
    u"p5=l1b1+l2b1+l3b1+r1b1\r\np6=l1b1+l2b1+l3b1+r1b1\r\np7=l1b1+l2b1+l3b1+r1b1\r\n"
    u"p8=l1b1+l2b1+l3b1+r1b1\r\np9=l1b1+l2b1+l3b1+r1b1\r\np10=l1b1+l2b1+l3b1+r1b1\r\n";
inline constexpr std::string_view kWordCancelledMessage = "词库生成已取消。";
inline constexpr std::u16string_view kWordOptionTolerant = u"容错词条编码";
inline constexpr std::u16string_view kWordOptionPredefined = u"允许预定义编码";

inline constexpr size_t kWordPathLimit = 259;           // units of one path in the settings
inline constexpr size_t kWordRulesLimit = 1023;         // units of the rules text
inline constexpr size_t kWordSettingsTextLimit = 1023;  // units of the formatted settings
inline constexpr size_t kWordSettingsParseLimit = 4095;
inline constexpr size_t kWordOptionsLimit = 31;
inline constexpr size_t kWordMaxLength = 128;    // characters of a word a rule can describe
inline constexpr size_t kWordResultLimit = 127;  // units of one generated code
// Combinations of codes tried for one word; beyond it the word's further
// results are dropped and the word is logged.
inline constexpr uint64_t kWordMaxCombinations = 65536;

// The tool's settings; the application keeps one for the life of the
// process. Paths are as the user wrote them; the caller resolves them, bare
// names against the program folder.
struct WordLibrarySettings {
  std::u16string charTable = u"单字编码定义表.txt";
  std::u16string auxTable = u"单字编码辅助表.txt";
  std::u16string wordList = u"词库文件.txt";
  std::u16string rulesText = std::u16string(kDefaultConstructionRules);
  bool predefined = true;  // "允许预定义编码"
  bool tolerant = false;   // "容错词条编码"
};

// "单字码表=…\r\n辅助码表=…\r\n词库文件=…\r\n\r\n构词规则=\r\n<rules>", cut to
// kWordSettingsTextLimit units. The check boxes are not part of the text.
std::u16string FormatWordSettings(const WordLibrarySettings& settings);

// Reads the first kWordSettingsParseLimit units of `text`. Each path named
// there (at most kWordPathLimit units, up to the line end) and the rules text
// (everything after "构词规则=" and its line end, at most kWordRulesLimit
// units) replace those of `current`; names that are absent keep them.
WordLibrarySettings ParseWordSettings(std::u16string_view text, WordLibrarySettings current);

// Sets both check boxes from an options text (its first kWordOptionsLimit
// units): each is on when the text holds its name.
void ApplyWordOptions(std::u16string_view options, WordLibrarySettings& settings);

// One rule item: a character position of the word, the key index (0 for the
// whole code, k for its k-th unit) and whether the auxiliary table supplies
// the code (selector f or F).
struct RuleItem {
  uint8_t position = 1;  // 1 … word length
  uint8_t key = 0;       // 0 … 127
  bool auxiliary = false;
  bool operator==(const RuleItem&) const = default;
};

// Rule items for each word length 2 … kWordMaxLength; a length without items
// has no rule.
class RuleSet {
 public:
  std::span<const RuleItem> Items(size_t length) const;
  bool HasRule(size_t length) const { return !Items(length).empty(); }
  void Append(size_t length, RuleItem item);

 private:
  std::array<std::vector<RuleItem>, kWordMaxLength + 1> items_;
};

// Reads construction rules line by line (any of CR LF, LF and CR ends a
// line). Faulty lines and items are skipped silently: a line not starting with
// "p<N>" (2 ≤ N ≤ 128) is ignored, and an item that names a position outside
// the word, lacks a selector letter or has a key index above 128 ends its
// line while the items before it stay. Tokens of three units or fewer are
// skipped.
RuleSet ParseConstructionRules(std::u16string_view text);

// The codes of each character of a single-character table: lines of
// character, TAB, code (everything after the first TAB); lines without a TAB
// are skipped. A character's distinct codes keep the order of their first
// appearance.
class CharCodeIndex {
 public:
  CharCodeIndex() = default;
  // Indexes a text that must outlive the index.
  explicit CharCodeIndex(std::u16string_view table) { Build(table); }
  // Indexes a text the index keeps.
  explicit CharCodeIndex(std::u16string&& table);
  CharCodeIndex(CharCodeIndex&&) = default;
  CharCodeIndex& operator=(CharCodeIndex&&) = default;

  // The codes of `character`; empty when it has none.
  std::span<const std::u16string_view> Codes(std::u16string_view character) const {
    return codes_.Codes(character);
  }
  size_t size() const { return codes_.size(); }

 private:
  void Build(std::u16string_view table);

  std::unique_ptr<std::u16string> owned_;
  EntryCodes codes_;
};

struct WordResult {
  uint64_t words = 0;    // lines of the word list read
  uint64_t written = 0;  // lines written, passed-through lines included
  uint64_t errors = 0;   // error-log messages
  bool charTableUnreadable = false;
  bool auxTableUnreadable = false;
  std::vector<InputLeftOut> leftOut;  // lines of the character tables without a TAB
};

// "生成词库 - 读取行数：%d，生成编码数：%d,错误数=%d" for these counts.
std::u16string WordProgressCaption(const WordResult& counts);

// Codes the lines of `wordList` and appends the output lines (CR LF ended) to
// `out`. `error` receives each error-log message; `progress` the caption
// "生成词库 - 读取行数：…", at most about 20 times a second and once at the end.
// `aux` may be null: items reading the auxiliary table then find no code.
// With `tolerant`, a word with characters that have no code is still written
// from the items whose characters have one (the missing ones are logged).
WordResult GenerateWordText(std::u16string_view wordList, const CharCodeIndex& chars,
                            const CharCodeIndex* aux, const RuleSet& rules, bool predefined,
                            bool tolerant, std::u16string& out,
                            const std::function<void(std::u16string_view)>& error,
                            const std::function<void(std::u16string_view caption)>& progress = {});

// Generates the word library of `settings` (paths already resolved) into
// `output`, and logs into `errorLog`; an empty path means the default name in
// the word list's folder. The output is UTF-16LE with the mark and replaces
// its target atomically. Unreadable character tables are logged and the run
// goes on (an empty auxiliary path is no table). An unreadable word list or an
// output that cannot be written is logged and fails with the logged text; the
// output is then left as it was. When `cancel` becomes true the run stops
// after the current line and fails with kWordCancelledMessage, leaving the
// output as it was. An error log that cannot be created fails the run before
// anything is written; one that cannot be put in place fails it after the
// output was.
Result<WordResult> GenerateWordLibrary(
    FileSystem& fs, const WordLibrarySettings& settings, const std::filesystem::path& output,
    const std::filesystem::path& errorLog,
    const std::function<void(std::u16string_view caption)>& progress = {},
    const std::atomic<bool>* cancel = nullptr);

// The files of a run as the command line names them: paths are bytes there,
// and a name that is not UTF-8 must not become its lookalike.
struct WordLibraryFiles {
  std::filesystem::path charTable, auxTable, wordList;  // an empty auxTable is no table
};
// As above, with the files given apart; the paths of `settings` are unused.
Result<WordResult> GenerateWordLibrary(
    FileSystem& fs, const WordLibraryFiles& files, const WordLibrarySettings& settings,
    const std::filesystem::path& output, const std::filesystem::path& errorLog,
    const std::function<void(std::u16string_view caption)>& progress = {},
    const std::atomic<bool>* cancel = nullptr);

// kWordOutputName / kWordErrorLogName in the folder of `wordList`.
std::filesystem::path WordOutputPath(const std::filesystem::path& wordList);
std::filesystem::path WordErrorLogPath(const std::filesystem::path& wordList);

}  // namespace mirel
