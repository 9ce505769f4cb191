#include "generate/single_characters.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "generate/error_log.h"
#include "platform/lines.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/compiled_table.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr size_t kNone = std::u16string_view::npos;
constexpr char16_t kTab = u'\t';

constexpr std::u16string_view kSplitName = u"拆分表=";
constexpr std::u16string_view kKeyMapName = u"键盘映射表=";
constexpr std::u16string_view kCaption = u"单字编码生成 - 读取行数：%d，生成编码数：%d,错误数=%d";

// Output goes to the file in pieces of about this many units.
constexpr size_t kFlushUnits = size_t{1} << 16;

// Units of the component at `i`: 2 for a surrogate pair, else 1.
size_t ComponentLength(std::u16string_view text, size_t i) {
  return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

char32_t CodePoint(char16_t high, char16_t low) {
  return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (low - 0xDC00);
}

// At most `limit` units of `text`, one fewer when the cut would split a pair.
size_t PairSafeLength(std::u16string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  if (limit > 0 && IsHighSurrogate(text[limit - 1]) && IsLowSurrogate(text[limit]))
    return limit - 1;
  return limit;
}

// Reads a text as its lines: a run of breaks is one, and NUL is a break too
// (text rarely holds one, and ending the read there would drop the rest of the
// file without a word). A text ending in a break ends with one empty line,
// which the progress counts.
class InputLines {
 public:
  explicit InputLines(std::u16string_view text) : text_(text) {}

  bool Next(std::u16string_view& line) {
    if (lines_.Next(line)) {
      end_ = static_cast<size_t>(line.data() - text_.data()) + line.size();
      return true;
    }
    if (end_ == text_.size()) return false;
    end_ = text_.size();
    line = text_.substr(end_);
    return true;
  }

 private:
  std::u16string_view text_;
  LineReader lines_{
      text_,
      {.breaks = LineBreaks::kRuns, .limit = kSingleLineLimit, .nulEnds = true, .keepPairs = true}};
  size_t end_ = 0;  // where the last line read ends
};

// The next TAB-separated field of `line` from `pos`; a run of TABs is one
// separator, so fields are never empty. False when none is left.
bool NextField(std::u16string_view line, size_t& pos, std::u16string_view& field) {
  while (pos < line.size() && line[pos] == kTab) ++pos;
  if (pos == line.size()) return false;
  size_t end = line.find(kTab, pos);
  if (end == kNone) end = line.size();
  field = line.substr(pos, end - pos);
  pos = end;
  return true;
}

using ErrorSink = std::function<void(std::u16string_view)>;
using Flush = std::function<void(std::u16string& out)>;

class Generator {
 public:
  Generator(const KeyMap& keys, std::u16string& out, const ErrorSink& error,
            const GenerationProgress& progress, const std::atomic<bool>* cancel, const Flush* flush)
      : keys_(keys), out_(out), error_(error), pacer_(progress), cancel_(cancel), flush_(flush) {}

  // False when cancelled.
  bool Run(std::u16string_view splitTable) {
    InputLines reader(splitTable);
    std::u16string_view line;
    while (reader.Next(line)) {
      if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) return false;
      Line(line);
      ++counts_.lines;
      if (pacer_.Due()) pacer_.Report(SingleProgressCaption(counts_));
    }
    pacer_.Report(SingleProgressCaption(counts_));
    return true;
  }

  const SingleResult& counts() const { return counts_; }

 private:
  void Line(std::u16string_view line) {
    size_t pos = 0;
    std::u16string_view character;
    if (!NextField(line, pos, character)) return;
    std::u16string_view components;
    while (NextField(line, pos, components)) Code(character, components);
  }

  void Code(std::u16string_view character, std::u16string_view components) {
    const size_t kept = PairSafeLength(character, kSingleCodeLimit);
    out_.append(character.substr(0, kept));
    size_t room = kSingleCodeLimit - kept;
    if (room > 0) {
      out_.push_back(kTab);
      --room;
    }
    for (size_t i = 0; i < components.size();) {
      const size_t n = ComponentLength(components, i);
      const char16_t key = n == 2 ? keys_.FindPair(CodePoint(components[i], components[i + 1]))
                                  : keys_.FindUnit(components[i]);
      if (key == 0) {
        Undefined(components.substr(i, n), character);
      } else if (room > 0) {
        out_.push_back(key);
        --room;
      }
      i += n;
    }
    out_.append(u"\r\n");
    ++counts_.codes;
    if (flush_ != nullptr && out_.size() >= kFlushUnits) {
      (*flush_)(out_);
      out_.clear();
    }
  }

  void Undefined(std::u16string_view component, std::u16string_view character) {
    ++counts_.errors;
    if (!error_) return;
    message_.assign(u"[ ");
    message_.append(component);
    message_.append(u" ] 未定义按键映射，在汉字[ ");
    message_.append(character);
    message_.append(u" ]的拆分中出现");
    error_(message_);
  }

  const KeyMap& keys_;
  std::u16string& out_;
  const ErrorSink& error_;
  ProgressPacer pacer_;
  const std::atomic<bool>* cancel_;
  const Flush* flush_;
  SingleResult counts_;
  std::u16string message_;
};

// The fixed message, then the file and the OS's reason when there is one.
Status Failure(std::string_view message, const Status& why = Status::Ok()) {
  std::string text(message);
  if (!why.IsOk()) text += " (" + why.message() + ")";
  return Status::IoError("", text);
}

}  // namespace

std::u16string FormatSingleSettings(const SingleCharacterSettings& settings) {
  std::u16string text(kSplitName);
  text.append(settings.splitTable).append(u"\r\n");
  text.append(kKeyMapName).append(settings.keyMap).append(u"\r\n");
  return text;
}

SingleCharacterSettings ParseSingleSettings(std::u16string_view text,
                                            SingleCharacterSettings current) {
  text = text.substr(0, std::min(text.size(), kSingleSettingsTextLimit));
  auto take = [&](std::u16string_view name, std::u16string& path) {
    const size_t at = text.find(name);
    if (at == kNone) return;
    const std::u16string_view value = text.substr(at + name.size(), kSinglePathLimit);
    path = value.substr(0, value.find_first_of(u"\r\n"));
  };
  take(kSplitName, current.splitTable);
  take(kKeyMapName, current.keyMap);
  return current;
}

KeyMap::KeyMap() : units_(0x10000, 0) {}

bool KeyMap::Add(std::u16string_view component, char16_t key) {
  if (key == 0 || component.empty() || component.size() > 2) return false;
  if (component.size() == 2) {
    if (!IsHighSurrogate(component[0]) || !IsLowSurrogate(component[1])) return false;
    if (!pairs_.emplace(CodePoint(component[0], component[1]), key).second) return false;
  } else {
    char16_t& slot = units_[component[0]];
    if (slot != 0) return false;
    slot = key;
  }
  ++size_;
  return true;
}

char16_t KeyMap::Find(std::u16string_view component) const {
  if (component.size() == 1) return FindUnit(component[0]);
  if (component.size() == 2 && IsHighSurrogate(component[0]) && IsLowSurrogate(component[1])) {
    return FindPair(CodePoint(component[0], component[1]));
  }
  return 0;
}

KeyMap ParseKeyMap(std::u16string_view text) {
  KeyMap keys;
  InputLines reader(text);
  std::u16string_view line;
  while (reader.Next(line)) {
    if (line.empty()) continue;
    const char16_t key = line[0];
    size_t i = 1;
    if (i < line.size() &&
        (line[i] == u':' || line[i] == u'=' || line[i] == kTab || line[i] == u' ')) {
      ++i;
    }
    while (i < line.size()) {
      const size_t n = ComponentLength(line, i);
      keys.Add(line.substr(i, n), key);
      i += n;
    }
  }
  return keys;
}

std::u16string SingleProgressCaption(const SingleResult& counts) {
  return FormatText(kCaption,
                    {static_cast<long long>(counts.lines), static_cast<long long>(counts.codes),
                     static_cast<long long>(counts.errors)});
}

SingleResult GenerateSingleText(std::u16string_view splitTable, const KeyMap& keys,
                                std::u16string& out, const ErrorSink& error,
                                const GenerationProgress& progress,
                                const std::atomic<bool>* cancel) {
  Generator generator(keys, out, error, progress, cancel, nullptr);
  generator.Run(splitTable);
  return generator.counts();
}

Result<SingleResult> GenerateSingleCharacters(
    FileSystem& fs, const std::filesystem::path& splitTable, const std::filesystem::path& keyMap,
    const std::filesystem::path& output, const std::filesystem::path& errorLog,
    const GenerationProgress& progress, const std::atomic<bool>* cancel) try {
  // Neither file is a code table: a compiled one would be read as nonsense.
  auto refusedOr = [](const Status& failure, std::string_view message) {
    return failure.code() == Status::Code::kInvalidArgument ? failure : Failure(message, failure);
  };
  KeyMap keys;
  {
    Result<TextBuffer> keyText = ReadPlainText(fs, keyMap, "keyboard map");
    if (!keyText.IsOk()) return refusedOr(keyText.status(), kSingleNoKeyMapMessage);
    keys = ParseKeyMap(keyText.value().text);
  }
  Result<TextBuffer> split = ReadPlainText(fs, splitTable, "split table");
  if (!split.IsOk()) return refusedOr(split.status(), kSingleNoSplitTableMessage);
  if (Status rows = RefuseTextWithoutRows(split.value().text, splitTable.string()); !rows.IsOk()) {
    return rows;
  }
  Result<std::unique_ptr<TextWriter>> writer =
      TextWriter::Create(fs, output.empty() ? SingleOutputPath(splitTable) : output);
  if (!writer.IsOk()) return Failure(kSingleNoOutputMessage, writer.status());
  writer.value()->WriteBom();
  ErrorLog log = ErrorLog::Open(fs, errorLog.empty() ? SingleErrorPath(splitTable) : errorLog);
  if (!log.Available()) return log.Close();

  std::u16string out;
  out.reserve(kFlushUnits + kSingleCodeLimit + 2);
  const Flush flush = [&](std::u16string& piece) { writer.value()->Write(piece); };
  const ErrorSink error = [&](std::u16string_view message) { log.Add(message); };
  Generator generator(keys, out, error, progress, cancel, &flush);
  if (!generator.Run(split.value().text)) return Failure(kSingleCancelledMessage);
  writer.value()->Write(out);
  Status committed = writer.value()->Commit();
  if (!committed.IsOk()) return committed;

  if (Status closed = log.Close(); !closed.IsOk()) return closed;
  return generator.counts();
} catch (const std::bad_alloc&) {
  return Status::NoMemory(splitTable.string());
}

std::filesystem::path SingleOutputPath(const std::filesystem::path& splitTable) {
  return FolderOf(splitTable) / PathFromUtf16(kSingleOutputName);
}

std::filesystem::path SingleErrorPath(const std::filesystem::path& splitTable) {
  return FolderOf(splitTable) / PathFromUtf16(kSingleErrorName);
}

}  // namespace mirel
