// The random numbers behind the serial-line faults. Standard-library engines
// are the same everywhere but their distributions are not, so the whole
// recipe (SplitMix64 and the arithmetic on top) lives here: a seed gives the
// same faults on Windows and on Linux.
#pragma once

#include <cstdint>

namespace farsend::sim {

class FaultRng {
public:
    explicit FaultRng(uint64_t seed) : state_(seed) {}

    uint64_t Next();
    // A number from 0 to n-1 (n > 0).
    uint32_t Below(uint32_t n);
    // True with probability ppb / 1e9. Draws nothing when ppb is 0, so a line
    // without faults never moves the stream.
    bool Chance(uint32_t ppb);

private:
    uint64_t state_;
};

}  // namespace farsend::sim
