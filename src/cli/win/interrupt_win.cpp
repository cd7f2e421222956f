#include <io.h>

#include <atomic>
#include <csignal>

#include "cli/interrupt.h"

namespace farsend::cli {

const char kInterruptNotice[] =
    "\nfarsend: finishing this target, then stopping (a second signal stops at once)\n";

const char kStopNowNotice[] =
    "\nfarsend: stopping now; the targets in hand are recorded as interrupted (a third signal "
    "ends at once)\n";

namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> stopNow{false};

extern "C" void OnInterrupt(int signal) {
    if (!interrupted.exchange(true)) {
        _write(2, kInterruptNotice, static_cast<unsigned>(sizeof kInterruptNotice - 1));
        std::signal(signal, OnInterrupt);  // the C runtime resets it before the call
        return;
    }
    if (!stopNow.exchange(true)) {
        _write(2, kStopNowNotice, static_cast<unsigned>(sizeof kStopNowNotice - 1));
    }
    std::signal(signal, SIG_DFL);  // the next one ends the process
}

}  // namespace

void CatchInterrupt() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGBREAK, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool Interrupted() {
    return interrupted.load();
}

bool StopNow() {
    return stopNow.load();
}

}  // namespace farsend::cli
