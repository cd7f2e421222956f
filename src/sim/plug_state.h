// Whether the simulated bridge is still plugged in. The target's unplug fault
// pulls the plug; the simulated bridge consults it before enumerating,
// opening, reading and writing. Whoever composes a simulation creates one and
// hands it to both, so neither needs to know the other.
#pragma once

#include <atomic>

namespace farsend::sim {

class PlugState {
public:
    bool Plugged() const { return plugged_.load(); }
    void Unplug() { plugged_.store(false); }

private:
    std::atomic<bool> plugged_{true};
};

}  // namespace farsend::sim
