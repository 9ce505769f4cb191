#include "support/faulty_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mirel::test {
namespace {

class FaultyInput final : public InputFile {
 public:
  FaultyInput(FaultyFileSystem& fs, std::unique_ptr<InputFile> base)
      : InputFile(base->path()), fs_(fs), base_(std::move(base)) {}

  Result<size_t> Read(std::span<std::byte> out) override {
    Status step = fs_.Step(IoStep::kRead, path(), "cannot read");
    if (!step.IsOk()) return step;
    if (fs_.shortReads() > 0 && out.size() > fs_.shortReads()) out = out.first(fs_.shortReads());
    return base_->Read(out);
  }
  Status Rewind() override { return base_->Rewind(); }
  uint64_t SizeHint() const override { return base_->SizeHint(); }
  bool IsStream() const override { return base_->IsStream(); }

 private:
  FaultyFileSystem& fs_;
  std::unique_ptr<InputFile> base_;
};

// After a failure every call fails the same way, as the real files do; the
// base is dropped unpublished, which removes its temporary file.
class FaultyOutput final : public OutputFile {
 public:
  FaultyOutput(FaultyFileSystem& fs, std::unique_ptr<OutputFile> base)
      : OutputFile(base->target()), fs_(fs), base_(std::move(base)) {}

  Status Append(std::span<const std::byte> bytes) override {
    return Checked(IoStep::kWrite, "cannot write", [&] { return base_->Append(bytes); });
  }
  Status Sync() override {
    return Checked(IoStep::kSync, "cannot write", [&] { return base_->Sync(); });
  }
  Status Publish() override {
    return Checked(IoStep::kRename, "cannot replace", [&] { return base_->Publish(); });
  }

 private:
  template <class Call>
  Status Checked(IoStep step, const char* what, Call call) {
    if (!status_.IsOk()) return status_;
    Status s = fs_.Step(step, target(), what);
    if (s.IsOk()) s = call();
    if (!s.IsOk()) status_ = s;
    return s;
  }

  FaultyFileSystem& fs_;
  std::unique_ptr<OutputFile> base_;
  Status status_;
};

class FaultyWorkingFile final : public WorkingFile {
 public:
  FaultyWorkingFile(FaultyFileSystem& fs, std::unique_ptr<WorkingFile> base)
      : WorkingFile(base->path()), fs_(fs), base_(std::move(base)) {
    Show();
  }

  Status Resize(uint32_t newSize) override {
    Status step =
        fs_.Step(IoStep::kGrow, path(), "cannot grow to " + std::to_string(newSize) + " bytes");
    if (!step.IsOk()) return step;
    Status resized = base_->Resize(newSize);
    Show();
    return resized;
  }
  Status Sync() override {
    Status step = fs_.Step(IoStep::kSync, path(), "cannot write");
    return step.IsOk() ? base_->Sync() : step;
  }

 private:
  void Show() {
    view_ = base_->view();
    size_ = base_->size();
  }
  FaultyFileSystem& fs_;
  std::unique_ptr<WorkingFile> base_;
};

}  // namespace

const char* IoStepName(IoStep step) {
  static const char* const kNames[] = {"read", "write", "sync", "rename", "grow", "open"};
  return kNames[static_cast<int>(step)];
}

void FaultyFileSystem::FailAt(IoStep step, int n, int err) {
  faults_[step] = Fault{Count(step) + n, err};
}

int FaultyFileSystem::Count(IoStep step) const {
  auto it = counts_.find(step);
  return it == counts_.end() ? 0 : it->second;
}

void FaultyFileSystem::Reset() {
  counts_.clear();
  faults_.clear();
  shortReads_ = 0;
  faultPath_.clear();
  faultError_ = 0;
}

Status FaultyFileSystem::Step(IoStep step, const std::filesystem::path& path,
                              const std::string& what) {
  int index = counts_[step]++;
  auto fault = faults_.find(step);
  if (fault == faults_.end() || fault->second.at != index) return Status::Ok();
  int err = fault->second.err;
  faults_.erase(fault);
  faultPath_ = path;
  faultError_ = err;
  return OsError(path, what, err);
}

Result<std::unique_ptr<InputFile>> FaultyFileSystem::OpenInput(const std::filesystem::path& path) {
  Status step = Step(IoStep::kOpen, path, "cannot open");
  if (!step.IsOk()) return step;
  Result<std::unique_ptr<InputFile>> in = base_.OpenInput(path);
  if (!in.IsOk()) return in;
  return std::unique_ptr<InputFile>(std::make_unique<FaultyInput>(*this, std::move(in).value()));
}

Result<std::unique_ptr<OutputFile>> FaultyFileSystem::ReplaceFile(
    const std::filesystem::path& target) {
  Status step = Step(IoStep::kOpen, target, "cannot create a file");
  if (!step.IsOk()) return step;
  Result<std::unique_ptr<OutputFile>> out = base_.ReplaceFile(target);
  if (!out.IsOk()) return out;
  return std::unique_ptr<OutputFile>(std::make_unique<FaultyOutput>(*this, std::move(out).value()));
}

Result<std::unique_ptr<WorkingFile>> FaultyFileSystem::CreateWorkingFile(
    const std::filesystem::path& path, std::initializer_list<std::span<const std::byte>> pieces,
    uint32_t size) {
  Status step = Step(IoStep::kOpen, path, "cannot create");
  if (step.IsOk())
    step = Step(IoStep::kGrow, path, "cannot grow to " + std::to_string(size) + " bytes");
  if (!step.IsOk()) return step;
  Result<std::unique_ptr<WorkingFile>> file = base_.CreateWorkingFile(path, pieces, size);
  if (!file.IsOk()) return file;
  return std::unique_ptr<WorkingFile>(
      std::make_unique<FaultyWorkingFile>(*this, std::move(file).value()));
}

int InjectedError(IoStep step) {
  if (step == IoStep::kWrite || step == IoStep::kGrow) return ENOSPC;
  return step == IoStep::kOpen ? EACCES : EIO;
}

int ForEachInjectedFault(FaultyFileSystem& fs, const std::function<void()>& reset,
                         const std::function<void(IoStep, int)>& run) {
  std::map<IoStep, int> counted;
  for (IoStep step : kAllIoSteps) counted[step] = fs.Count(step);
  int injected = 0;
  for (IoStep step : kAllIoSteps) {
    for (int k = 0; k < counted[step]; ++k) {
      SCOPED_TRACE(std::string("failing ") + IoStepName(step) + " step " + std::to_string(k));
      reset();
      fs.Reset();
      fs.FailAt(step, k, InjectedError(step));
      run(step, k);
      if (fs.Count(step) <= k) ADD_FAILURE() << "the run never reached the failed step";
      ++injected;
    }
  }
  fs.Reset();
  return injected;
}

}  // namespace mirel::test
