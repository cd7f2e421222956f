#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

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
static_assert(std::atomic<bool>::is_always_lock_free, "used in a signal handler");

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int) {
    // write() is safe here; the stream the rest of the program uses is not.
    if (!interrupted.exchange(true)) {
        const ssize_t ignored =
            ::write(STDERR_FILENO, kInterruptNotice, sizeof kInterruptNotice - 1);
        (void)ignored;
        return;
    }
    if (!stopNow.exchange(true)) {
        const ssize_t ignored = ::write(STDERR_FILENO, kStopNowNotice, sizeof kStopNowNotice - 1);
        (void)ignored;
    }
    // The next signal of any of the three ends the process as it would have.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal : kSignals) ::sigaction(signal, &fallback, nullptr);
}

}  // namespace

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kSignals) {
        struct sigaction before {};
        ::sigaction(signal, nullptr, &before);
        // A signal the caller chose to ignore (nohup, a background job of a
        // shell script) stays ignored, as in every well-behaved tool.
        if (signal != SIGTERM && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

bool Interrupted() {
    return interrupted.load();
}

bool StopNow() {
    return stopNow.load();
}

}  // namespace farsend::cli
