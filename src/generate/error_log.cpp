#include "generate/error_log.h"

#include <algorithm>
#include <utility>

#include "platform/utf16.h"
#include "store/text_file.h"

namespace mirel {

ErrorLog ErrorLog::Open(FileSystem& fs, const std::filesystem::path& path) {
  ErrorLog log;
  log.path_ = path;
  Result<std::unique_ptr<TextWriter>> writer = TextWriter::Create(fs, path);
  if (writer.IsOk()) {
    log.writer_ = std::move(writer).value();
    log.writer_->WriteBom();
  } else {
    log.openFailure_ = writer.status().message();
    if (log.openFailure_.empty()) log.openFailure_ = "cannot create the error log";
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
  if (writer_ == nullptr) return Status::IoError("", openFailure_);
  Status committed = writer_->Commit();
  writer_.reset();
  return committed;
}

}  // namespace mirel
