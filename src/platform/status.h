// Status and Result: the one error type of the project. Operations that can
// fail return one of these; nothing throws across a module boundary. The
// message names the file and the fault in words a user can act on.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

#include "platform/messages.h"

namespace mirel {

class [[nodiscard]] Status {
 public:
  enum class Code { kOk, kIoError, kCorrupt, kInvalidArgument, kUnsupported, kNoMemory };

  Status() = default;
  static Status Ok() { return {}; }
  static Status IoError(const std::string& where, const std::string& what) {
    return Status(Code::kIoError, Join(where, what));
  }
  static Status Corrupt(const std::string& where, const std::string& what) {
    return Status(Code::kCorrupt, Join(where, what));
  }
  static Status InvalidArgument(const std::string& where, const std::string& what) {
    return Status(Code::kInvalidArgument, Join(where, what));
  }
  static Status Unsupported(const std::string& where, const std::string& what) {
    return Status(Code::kUnsupported, Join(where, what));
  }
  static Status NoMemory(const std::string& where) {
    return Status(Code::kNoMemory, Join(where, Tr("out of memory")));
  }

  bool IsOk() const { return code_ == Code::kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  static std::string Join(const std::string& where, const std::string& what) {
    return where.empty() ? what : where + ": " + what;
  }

  Code code_ = Code::kOk;
  std::string message_;
};

// Holds a value or a non-ok Status.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}         // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {  // NOLINT
    assert(!status_.IsOk());
  }

  bool IsOk() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace mirel
