// Merge and tips write their inputs' text again once per combination of
// codes, so a few small tables can ask for gigabytes. Both may write this
// many times their inputs (plus slack for small tables) before the run is
// refused, which happens before the disk fills.
#pragma once

#include <cstdint>

namespace mirel {

inline constexpr uint64_t kOutputFactor = 16;
inline constexpr uint64_t kOutputSlackUnits = uint64_t{1} << 22;

// The most units of output that inputs of `inputUnits` units may give.
constexpr uint64_t OutputLimitUnits(uint64_t inputUnits) {
  return kOutputFactor * inputUnits + kOutputSlackUnits;
}

}  // namespace mirel
