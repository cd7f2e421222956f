#include "sim/fault_rng.h"

#include "sim/sim_options.h"

namespace farsend::sim {

uint64_t FaultRng::Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t FaultRng::Below(uint32_t n) {
    // The top bits are the best mixed; the modulo bias is far below anything a
    // fault test could notice.
    return static_cast<uint32_t>((Next() >> 32) % n);
}

bool FaultRng::Chance(uint32_t ppb) {
    if (ppb == 0) return false;
    return static_cast<uint32_t>((Next() >> 11) % kProbabilityScale) < ppb;
}

}  // namespace farsend::sim
