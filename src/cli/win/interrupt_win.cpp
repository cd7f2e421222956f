#include <io.h>

#include <atomic>
#include <csignal>

#include "cli/interrupt.h"

namespace farsend::cli {

const char kInterruptNotice[] =
    "\nfarsend: finishing this target, then stopping (a second signal stops at once)\n";

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int signal) {
    if (!interrupted.exchange(true)) {
        _write(2, kInterruptNotice, static_cast<unsigned>(sizeof kInterruptNotice - 1));
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

}  // namespace farsend::cli
