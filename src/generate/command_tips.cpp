#include "generate/command_tips.h"

#include <functional>
#include <memory>

#include "platform/paths.h"
#include "store/balanced_tree.h"
#include "store/text_file.h"

namespace mirel {
namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';
constexpr size_t kNone = std::u16string_view::npos;

// Output goes to the file in pieces of about this many units.
constexpr size_t kFlushUnits = size_t{1} << 16;

struct TipContent {
  std::u16string_view key;
  std::u16string_view content;
};

// The content table's keys; a key seen again keeps its first content. Views
// into the content text, which must outlive the index.
class TipIndex {
 public:
  explicit TipIndex(std::u16string_view contentTable) {
    size_t pos = 0;
    std::u16string_view line;
    while (NextLine(contentTable, pos, kNone, line)) {
      const size_t tab = line.find(u'\t');
      if (tab == kNone) continue;
      tree_.Insert(
          TipContent{line.substr(0, tab), line.substr(tab + 1)},
          [](const TipContent& a, const TipContent& b) { return CompareUnits(a.key, b.key); });
    }
  }

  bool empty() const { return tree_.empty(); }

  const TipContent* Find(std::u16string_view key) const {
    return tree_.Find(key, [](std::u16string_view k, const TipContent& node) {
      return CompareUnits(k, node.key);
    });
  }

 private:
  BalancedTree<TipContent> tree_;
};

using Flush = std::function<void(std::u16string& out)>;

uint64_t WriteTips(std::u16string_view codeTable, const TipIndex& index, std::u16string_view prefix,
                   std::u16string_view suffix, std::u16string& out, const Flush* flush) {
  uint64_t written = 0;
  size_t pos = 0;
  std::u16string_view line;
  while (NextLine(codeTable, pos, kTipCodeLineLimit, line)) {
    const size_t tab = line.find(u'\t');
    if (tab == kNone) continue;
    const std::u16string_view key = line.substr(0, tab);
    const TipContent* tip = index.Find(key);
    if (tip == nullptr) continue;
    out.append(u"$mlcmd(").append(key).append(u",").append(key).append(u"[");
    out.append(tip->content).append(u"])\t").append(prefix).append(line.substr(tab + 1));
    out.append(suffix).append(u"\r\n");
    ++written;
    if (flush != nullptr && out.size() >= kFlushUnits) {
      (*flush)(out);
      out.clear();
    }
  }
  return written;
}

Status Failure(std::string_view message) {
  return Status::InvalidArgument("", std::string(message));
}

}  // namespace

uint64_t BuildCommandTipTexts(std::u16string_view codeTable, std::u16string_view contentTable,
                              std::u16string_view prefix, std::u16string_view suffix,
                              std::u16string& out) {
  const TipIndex index(contentTable);
  return WriteTips(codeTable, index, prefix, suffix, out, nullptr);
}

Result<uint64_t> BuildCommandTips(FileSystem& fs, const TipSettings& settings,
                                  const std::filesystem::path& output) {
  if (settings.codeTable.empty()) return Failure(kTipNoCodeTableMessage);
  if (settings.contentTable.empty()) return Failure(kTipNoContentMessage);
  Result<TextBuffer> content = ReadTextFile(fs, PathFromUtf16(settings.contentTable));
  if (!content.IsOk()) return Failure(kTipNoContentMessage);
  const TipIndex index(content.value().text);
  if (index.empty()) return Failure(kTipNoContentMessage);

  if (output.empty()) return Failure(kTipNothingWrittenMessage);
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, output);
  if (!writer.IsOk()) return Failure(kTipNothingWrittenMessage);
  writer.value()->WriteBom();
  uint64_t written = 0;
  Result<TextBuffer> codes = ReadTextFile(fs, PathFromUtf16(settings.codeTable));
  if (codes.IsOk()) {
    std::u16string out;
    const Flush flush = [&](std::u16string& piece) { writer.value()->Write(piece); };
    written = WriteTips(codes.value().text, index, settings.prefix, settings.suffix, out, &flush);
    writer.value()->Write(out);
  }
  if (!writer.value()->Commit().IsOk() || written == 0) return Failure(kTipNothingWrittenMessage);
  return written;
}

TipField TipFieldToFocus(const Status& failure) {
  if (failure.message() == kTipNoCodeTableMessage) return TipField::kCodeTable;
  if (failure.message() == kTipNoContentMessage) return TipField::kContentTable;
  return TipField::kNone;
}

}  // namespace mirel
