// Single-character code generation ("单字码表生成"): a split table gives each
// character one or more decompositions (sequences of components) and a
// keyboard map gives each component its key; every decomposition becomes one
// output line, the character, TAB and the keys of its components in order.
// Components without a key are reported, one message each, and left out of
// the code.
//
// Both inputs are read as runs of non-empty lines: any run of CR, LF (and NUL)
// is one break, and a line longer than 255 units goes on as the next line
// (never splitting a surrogate pair). A surrogate pair is one component; a
// lone surrogate unit is a component of its own. Output lines hold at most 127
// units before their CR LF. Reentrant: no state outside the arguments;
// progress runs on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "platform/progress.h"
#include "platform/status.h"

namespace mirel {

inline constexpr std::u16string_view kSingleOutputName = u"[ 生成的单字码表 ].txt";
inline constexpr std::u16string_view kSingleErrorName = u"[ error_码表生成 ].txt";
inline constexpr size_t kSinglePathLimit = 259;           // units of a path in the settings
inline constexpr size_t kSingleSettingsTextLimit = 4095;  // units of the settings box parsed
inline constexpr size_t kSingleLineLimit = 255;           // units of an input line
inline constexpr size_t kSingleCodeLimit = 127;           // units of an output line without CR LF

// The failure messages, as the dialog shows them (caption "生成错误").
inline constexpr std::string_view kSingleNoKeyMapMessage = "无法打开键盘映射表定义文件。";
inline constexpr std::string_view kSingleNoSplitTableMessage = "无法打开单字拆分序列文件。";
inline constexpr std::string_view kSingleNoOutputMessage = "无法创建指定的保存文件路径。";
inline constexpr std::string_view kSingleCancelledMessage = "单字编码生成已取消。";

// The tool's settings; the application keeps one for the life of the process.
// Bare names are in the program folder (the application resolves them).
struct SingleCharacterSettings {
  std::u16string splitTable = u"拆分表.txt";
  std::u16string keyMap = u"键盘映射表.txt";
};

// "拆分表=…\r\n键盘映射表=…\r\n".
std::u16string FormatSingleSettings(const SingleCharacterSettings& settings);

// Reads the first kSingleSettingsTextLimit units of `text`: for "拆分表=" and
// "键盘映射表=", at most kSinglePathLimit units after the name, up to the
// first CR or LF, become the path. A name that is absent keeps the path of
// `current`.
SingleCharacterSettings ParseSingleSettings(std::u16string_view text,
                                            SingleCharacterSettings current);

// Which key each component sits on. The first key given to a component wins.
class KeyMap {
 public:
  KeyMap();

  // Gives `component` (one unit, or a surrogate pair) the key `key`. False,
  // changing nothing, when the component already has a key, is not one
  // component, or the key is NUL.
  bool Add(std::u16string_view component, char16_t key);

  // The key of `component`, or 0 when it has none.
  char16_t Find(std::u16string_view component) const;
  char16_t FindUnit(char16_t unit) const { return units_[unit]; }
  char16_t FindPair(char32_t codePoint) const {
    auto it = pairs_.find(codePoint);
    return it == pairs_.end() ? 0 : it->second;
  }

  size_t size() const { return size_; }

 private:
  std::vector<char16_t> units_;  // by unit, 0 = no key; lone surrogates too
  std::unordered_map<char32_t, char16_t> pairs_;
  size_t size_ = 0;
};

// Each line: the key (one unit), an optional separator (":", "=", TAB or
// space, at most one skipped), then components, every unit or pair of the rest
// including further separators and spaces.
KeyMap ParseKeyMap(std::u16string_view text);

struct SingleResult {
  uint64_t lines = 0;   // lines read, counting the empty rest after a final line end
  uint64_t codes = 0;   // output lines
  uint64_t errors = 0;  // components without a key, one per occurrence
};

// The progress caption for these counts.
std::u16string SingleProgressCaption(const SingleResult& counts);

// Generates from a split table given as text: appends the output lines (CR LF
// ended) to `out` and calls `error` with each message (without CR LF). When
// `cancel` becomes true, stops after the current line.
SingleResult GenerateSingleText(std::u16string_view splitTable, const KeyMap& keys,
                                std::u16string& out,
                                const std::function<void(std::u16string_view)>& error,
                                const GenerationProgress& progress = {},
                                const std::atomic<bool>* cancel = nullptr);

// Generates from files (paths resolved by the caller). `output` and
// `errorLog` default, when empty, to kSingleOutputName and kSingleErrorName
// beside the split table. Fails with kSingleNoKeyMapMessage,
// kSingleNoSplitTableMessage or kSingleNoOutputMessage before anything is
// written, with kSingleCancelledMessage when cancelled, or with the write
// error; the output and the error log are then left as they were. A message
// caused by a file ends with that file and the OS's reason. An error log that
// cannot be created fails the run before anything is written; one that
// cannot be put in place fails it after the output was.
Result<SingleResult> GenerateSingleCharacters(
    FileSystem& fs, const std::filesystem::path& splitTable, const std::filesystem::path& keyMap,
    const std::filesystem::path& output, const std::filesystem::path& errorLog,
    const GenerationProgress& progress = {}, const std::atomic<bool>* cancel = nullptr);

// kSingleOutputName and kSingleErrorName in the folder of `splitTable`.
std::filesystem::path SingleOutputPath(const std::filesystem::path& splitTable);
std::filesystem::path SingleErrorPath(const std::filesystem::path& splitTable);

}  // namespace mirel
