#include "generate/command_tips.h"

#include <functional>
#include <memory>
#include <new>
#include <string>

#include "generate/output_bound.h"
#include "platform/lines.h"
#include "platform/paths.h"
#include "platform/utf16.h"
#include "store/balanced_tree.h"
#include "store/compiled_table.h"
#include "store/lines_without_tab.h"
#include "store/text_file.h"

namespace mirel {
namespace {

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
    while (NextLine(contentTable, pos, {.breaks = LineBreaks::kRuns}, line)) {
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

// Every code line with a key repeats its key's content, so a content can be
// multiplied by the number of code lines (a long line of TABs, cut into
// 4096-unit lines, repeats a whole file once per piece). The bound leaves out
// the caller's prefix and suffix.

Status TooMuchOutput(uint64_t inputUnits) {
  return Status::InvalidArgument(
      "", "提示码表将超过输入的" + std::to_string(kOutputFactor) + "倍（输入" +
              std::to_string(inputUnits) +
              "字）：提示内容被大量编码行重复，请检查提示编码表（过长的行按每4096字一行读取）。");
}

Result<uint64_t> WriteTips(std::u16string_view codeTable, std::u16string_view contentTable,
                           const TipIndex& index, std::u16string_view prefix,
                           std::u16string_view suffix, std::u16string& out, const Flush* flush) {
  const uint64_t inputUnits = codeTable.size() + contentTable.size();
  const uint64_t budget = OutputLimitUnits(inputUnits);
  uint64_t spent = 0;
  uint64_t written = 0;
  size_t pos = 0;
  std::u16string_view line;
  while (
      NextLine(codeTable, pos, {.breaks = LineBreaks::kRuns, .limit = kTipCodeLineLimit}, line)) {
    const size_t tab = line.find(u'\t');
    if (tab == kNone) continue;
    const std::u16string_view key = line.substr(0, tab);
    const TipContent* tip = index.Find(key);
    if (tip == nullptr) continue;
    spent += 2 * key.size() + tip->content.size() + line.size() - tab + 14;
    if (spent > budget) return TooMuchOutput(inputUnits);
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

// A failure of the dialog's kind, with the reason it happened.
Status Failure(std::string_view message, const Status& reason = Status::Ok()) {
  if (reason.IsOk()) return Status::InvalidArgument("", std::string(message));
  return Status(
      reason.code() == Status::Code::kNoMemory
          ? reason
          : Status::InvalidArgument("", std::string(message) + "（" + reason.message() + "）"));
}

}  // namespace

Result<uint64_t> BuildCommandTipTexts(std::u16string_view codeTable,
                                      std::u16string_view contentTable, std::u16string_view prefix,
                                      std::u16string_view suffix, std::u16string& out) try {
  const TipIndex index(contentTable);
  return WriteTips(codeTable, contentTable, index, prefix, suffix, out, nullptr);
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

Result<GenerationReport> BuildCommandTips(FileSystem& fs, const TipSettings& settings,
                                          const std::filesystem::path& output) {
  return BuildCommandTips(
      fs, TipFiles{PathFromUtf16(settings.codeTable), PathFromUtf16(settings.contentTable)},
      settings, output);
}

Result<GenerationReport> BuildCommandTips(FileSystem& fs, const TipFiles& files,
                                          const TipSettings& settings,
                                          const std::filesystem::path& output) try {
  if (files.codeTable.empty()) return Failure(kTipNoCodeTableMessage);
  if (files.contentTable.empty()) return Failure(kTipNoContentMessage);
  Result<TextBuffer> content = ReadTableText(fs, files.contentTable);
  if (!content.IsOk()) return Failure(kTipNoContentMessage, content.status());
  const TipIndex index(content.value().text);
  if (index.empty()) {
    // The file was read: the fault is what it holds, not who may read it.
    const std::string where = files.contentTable.string();
    Status rows = RefuseTextWithoutRows(content.value().text, where);
    if (rows.IsOk()) {
      rows = Status::InvalidArgument(
          where, "it holds no line; the tip content table needs key TAB content lines");
    }
    return Failure(kTipContentWithoutRowsMessage, rows);
  }
  // Both tables are read before the output is touched: a failed run leaves
  // an existing output as it was.
  Result<TextBuffer> codes = ReadTableText(fs, files.codeTable);
  if (!codes.IsOk()) return Failure(kTipNoCodeTableReadMessage, codes.status());
  if (Status rows = RefuseTextWithoutRows(codes.value().text, files.codeTable.string());
      !rows.IsOk()) {
    return Failure(kTipNothingWrittenMessage, rows);
  }

  if (output.empty()) {
    return Failure(kTipOutputMessage, Status::InvalidArgument("", "临时文件夹的路径过长"));
  }
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, output);
  if (!writer.IsOk()) return Failure(kTipOutputMessage, writer.status());
  writer.value()->WriteBom();
  std::u16string out;
  const Flush flush = [&](std::u16string& piece) { writer.value()->Write(piece); };
  Result<uint64_t> written = WriteTips(codes.value().text, content.value().text, index,
                                       settings.prefix, settings.suffix, out, &flush);
  if (!written.IsOk()) return written.status();
  if (written.value() == 0) return Failure(kTipNothingWrittenMessage);
  writer.value()->Write(out);
  Status committed = writer.value()->Commit();
  if (!committed.IsOk()) return Failure(kTipOutputMessage, committed);
  GenerationReport report{written.value(), {}};
  for (const auto& [path, text] : {std::pair{files.codeTable, &codes.value().text},
                                   std::pair{files.contentTable, &content.value().text}}) {
    LinesWithoutTab skipped;
    skipped.Scan(*text);
    if (!skipped.empty()) report.leftOut.push_back({path, skipped.Describe()});
  }
  return report;
} catch (const std::bad_alloc&) {
  return Status::NoMemory("");
}

TipField TipFieldToFocus(const Status& failure) {
  const std::string& message = failure.message();
  if (message.starts_with(kTipNoCodeTableMessage) ||
      message.starts_with(kTipNoCodeTableReadMessage)) {
    return TipField::kCodeTable;
  }
  if (message.starts_with(kTipNoContentMessage) ||
      message.starts_with(kTipContentWithoutRowsMessage)) {
    return TipField::kContentTable;
  }
  return TipField::kNone;
}

}  // namespace mirel
