#include "cli/interrupt.h"

#include <atomic>
#include <csignal>

namespace farsend::cli {
namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used in a signal handler");

extern "C" void OnInterrupt(int) {
    interrupted.store(true);
    std::signal(SIGINT, SIG_DFL);  // the next Ctrl+C ends the process
}

}  // namespace

void CatchInterrupt() {
    std::signal(SIGINT, OnInterrupt);
}

bool Interrupted() {
    return interrupted.load();
}

}  // namespace farsend::cli
