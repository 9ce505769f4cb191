// Splitting work over the cores the process may use.
#pragma once

#include <sched.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <future>
#include <iterator>
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

// Sorts [first, last) by `less`, which must be a total order (no two
// elements equivalent): the result is then the one order there is, however
// the work is split. Large ranges are cut in place at the median of a spread
// sample and each side is sorted on its own core.
template <class It, class Less>
void SortOnBothCores(It first, It last, Less less) {
  constexpr size_t kSplitItems = 200000;
  const auto n = static_cast<size_t>(std::distance(first, last));
  if (n < kSplitItems || UsableCores() < 2) {
    std::sort(first, last, less);
    return;
  }
  std::array<typename std::iterator_traits<It>::value_type, 255> sample;
  for (size_t k = 0; k < sample.size(); ++k) sample[k] = first[(k * n) / sample.size()];
  std::nth_element(sample.begin(), sample.begin() + sample.size() / 2, sample.end(), less);
  const auto pivot = sample[sample.size() / 2];
  const It middle =
      std::partition(first, last, [&](const auto& item) { return less(item, pivot); });
  RunBoth(
      true, [&] { std::sort(middle, last, less); }, [&] { std::sort(first, middle, less); });
}

}  // namespace mirel
