// Splitting work over the cores the process may use.
#pragma once

#include <sched.h>

#include <future>
#include <system_error>
#include <utility>

namespace mirel {

// The cores this process may run on (its affinity, which taskset and
// containers narrow), at least 1.
inline unsigned UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

// Runs `first` on a second thread and `second` on this one, or both here
// when `split` is false or no thread can be started. Both finish before it
// returns.
template <class First, class Second>
void RunBoth(bool split, First&& first, Second&& second) {
  if (split) {
    std::future<void> other;
    try {
      other = std::async(std::launch::async, std::forward<First>(first));
    } catch (const std::system_error&) {
      split = false;
    }
    if (split) {
      second();
      other.get();
      return;
    }
  }
  first();
  second();
}

}  // namespace mirel
