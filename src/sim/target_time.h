// The simulated target's time line: nanoseconds, so that bytes at high baud
// rates keep their spacing, and the bridge's milliseconds. Shared by the
// files of the simulated target only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/clock.h"

namespace farsend::sim::target_time {

using Nanos = int64_t;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();
constexpr Nanos kNanosPerMilli = 1000000;

inline Nanos ToNanos(Millis t) {
    // Millis::max() and the like would overflow; nothing happens that late.
    constexpr int64_t kLimit = std::numeric_limits<Nanos>::max() / kNanosPerMilli - 1;
    return std::min<int64_t>(std::max<int64_t>(t.count(), 0), kLimit) * kNanosPerMilli;
}

// The first whole millisecond at or after `t`: the bridge must not look
// before then, and need not look later.
inline Millis ToMillisCeil(Nanos t) {
    if (t == kNever) return Millis::max();
    return Millis((t + kNanosPerMilli - 1) / kNanosPerMilli);
}

}  // namespace farsend::sim::target_time
