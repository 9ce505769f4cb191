// The error file a generation tool writes beside its output: UTF-16LE with
// the mark FF FE, each message ended by CR LF, and the count of messages.
//
// Opening creates the file at once (as a temporary beside the target, with the
// mark) and Close puts it in place, so every finished run leaves a fresh log,
// holding only the mark when nothing went wrong, and never the stale messages
// of an earlier run. A log dropped without Close leaves the old file as it was.
// When the file cannot be created the log still counts its messages but
// writes none, Available() is false and Close reports why; the generators
// then fail before they write anything, since a run whose errors go unrecorded
// looks clean. One log belongs to one run; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace mirel {

class TextWriter;

// Lines of an input that a generation run did not take, for the caller to
// show: `what` is "3 lines without a TAB were left out (lines 3, 7, 12)" or
// the like.
struct InputLeftOut {
  std::filesystem::path file;
  std::string what;
};

// The lines a run wrote and what it left out of its inputs.
struct GenerationReport {
  uint64_t lines = 0;
  std::vector<InputLeftOut> leftOut;
};

// "file: what", one line each.
std::string DescribeLeftOut(const std::vector<InputLeftOut>& leftOut);

class ErrorLog {
 public:
  // Units of one message with its CR LF; longer ones are cut before the CR LF.
  static constexpr size_t kMessageLimit = 1023;

  // Never fails; see Available().
  static ErrorLog Open(FileSystem& fs, const std::filesystem::path& path);

  ErrorLog(ErrorLog&&) noexcept;
  ErrorLog& operator=(ErrorLog&&) noexcept;
  ~ErrorLog();

  // True while messages reach the file: it was created and is not closed.
  bool Available() const { return writer_ != nullptr; }

  // Writes `message` and a CR LF, unless it already ends in CR LF (it may
  // hold line breaks of its own), and counts it once.
  void Add(std::u16string_view message);

  // Messages added, whether or not the file could take them.
  uint64_t count() const { return count_; }

  // Puts the file in place. Fails when it could not be created or not be
  // written, with "the error log cannot be written (path: reason)"; a second
  // call returns Ok.
  Status Close();

  const std::filesystem::path& path() const { return path_; }

 private:
  ErrorLog() = default;

  std::filesystem::path path_;
  std::unique_ptr<TextWriter> writer_;
  std::string openFailure_;  // empty when the file was created
  uint64_t count_ = 0;
  bool closed_ = false;
};

}  // namespace mirel
