#include "generate/error_log.h"

#include <algorithm>
#include <utility>

#include "platform/messages.h"
#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {

std::string DescribeLeftOut(const std::vector<InputLeftOut>& leftOut) {
  std::string text;
  for (const InputLeftOut& input : leftOut) {
    if (!text.empty()) text += "\n";
    text += input.file.string() + ": " + input.what;
  }
  return text;
}

ErrorLog ErrorLog::Open(FileSystem& fs, const std::filesystem::path& path) {
  ErrorLog log;
  log.path_ = path;
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, path);
  if (writer.IsOk()) {
    log.writer_ = std::move(writer).value();
    log.writer_->WriteBom();
  } else {
    log.openFailure_ = writer.status().message();
    if (log.openFailure_.empty()) log.openFailure_ = path.string() + ": cannot be created";
  }
  return log;
}

ErrorLog::ErrorLog(ErrorLog&&) noexcept = default;
ErrorLog& ErrorLog::operator=(ErrorLog&&) noexcept = default;
ErrorLog::~ErrorLog() = default;

void ErrorLog::Add(std::u16string_view message) {
  ++count_;
  if (writer_ == nullptr) return;
  if (message.ends_with(u"\r\n")) message.remove_suffix(2);
  size_t size = std::min(message.size(), kMessageLimit - 2);
  // Never keep half of a surrogate pair.
  if (size < message.size() && size > 0 && IsSurrogate(message[size - 1]) &&
      !IsLowSurrogate(message[size - 1]) && IsLowSurrogate(message[size])) {
    --size;
  }
  writer_->Write(message.substr(0, size));
  writer_->Write(u"\r\n");
}

Status ErrorLog::Close() {
  if (closed_) return Status::Ok();
  closed_ = true;
  std::string failure = openFailure_;
  if (writer_ != nullptr) {
    Status committed = writer_->Commit();
    writer_.reset();
    if (committed.IsOk()) return committed;
    if (committed.code() == Status::Code::kNoMemory) return committed;
    failure = committed.message();
  }
  return Status::IoError("", Tr("the error log cannot be written ({1})", failure));
}

}  // namespace mirel
