// Progress of a long run: the caption callback a dialog shows (or a terminal
// line draws) and a pacer that keeps it to about 20 calls a second. A pacer
// belongs to one run on one thread; the callback runs on that thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace mirel {

// Receives the progress caption; called at most about 20 times a second and
// once at the end.
using ProgressCallback = std::function<void(std::u16string_view caption)>;
using GenerationProgress = ProgressCallback;

// Due() is true at most once per kInterval. Steps are usually short lines, so
// the clock is read only every 256 of them.
class ProgressPacer {
 public:
  static constexpr std::chrono::milliseconds kInterval{50};

  explicit ProgressPacer(const ProgressCallback& progress)
      : progress_(progress), next_(Clock::now() + kInterval) {}

  bool Due() {
    if (!progress_ || (++steps_ & 255u) != 0) return false;
    const Clock::time_point now = Clock::now();
    if (now < next_) return false;
    next_ = now + kInterval;
    return true;
  }

  void Report(std::u16string_view caption) const {
    if (progress_) progress_(caption);
  }

 private:
  using Clock = std::chrono::steady_clock;

  const ProgressCallback& progress_;
  Clock::time_point next_;
  uint32_t steps_ = 0;
};

}  // namespace mirel
