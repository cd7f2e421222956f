// How much of a core ConnectTarget uses while it waits out a silent target:
// the simulated bridge opens, the target never calls, and the handshake
// gives up after its 13-second deadline, in real time. The wait should sleep,
// not spin; the figure printed is process CPU time over wall time (the link's
// reader thread included).
//   bench_connect_silent_target [attempts]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "link/hid_serial_link.h"
#include "protocol/exchanges.h"
#include "sim/simulation.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

using namespace farsend;

namespace {

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#if !defined(_WIN32)
void PrintRusage(const rusage& before, const rusage& after) {
    const auto seconds = [](const timeval& a, const timeval& b) {
        return static_cast<double>(b.tv_sec - a.tv_sec) +
               static_cast<double>(b.tv_usec - a.tv_usec) / 1e6;
    };
    std::printf(
        "  getrusage: user %.3f s, system %.3f s, voluntary switches %ld, involuntary %ld\n",
        seconds(before.ru_utime, after.ru_utime), seconds(before.ru_stime, after.ru_stime),
        after.ru_nvcsw - before.ru_nvcsw, after.ru_nivcsw - before.ru_nivcsw);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const int attempts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;

    sim::SimOptions options;
    options.simulate = true;
    options.faults.silence_after = 0;  // the target never calls
    std::string error;
    link::HidSerialLink link;  // outlives the simulation, which detaches it
    std::unique_ptr<sim::Simulation> simulation = sim::Simulation::Create(options, error);
    if (!simulation) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    simulation->AttachLink(link);
    protocol::ExchangeContext context(link);

    bool ok = true;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
#if !defined(_WIN32)
        rusage usageBefore{};
        getrusage(RUSAGE_SELF, &usageBefore);
#endif
        const double wall0 = WallSeconds();
        const double cpu0 = ProcessCpuSeconds();
        const protocol::ExchangeResult status = protocol::ConnectTarget(context);
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double wall = WallSeconds() - wall0;
        const double percent = wall > 0 ? 100.0 * cpu / wall : 0.0;
        std::printf(
            "attempt %d: ConnectTarget -> %d after %.3f s wall, %.3f s CPU: %.2f %% of a core\n",
            attempt, protocol::ExchangeResultCode(status), wall, cpu, percent);
#if !defined(_WIN32)
        rusage usageAfter{};
        getrusage(RUSAGE_SELF, &usageAfter);
        PrintRusage(usageBefore, usageAfter);
#endif
        ok = ok && status == protocol::ExchangeResult::TimedOut && percent < 2.0;
    }
    std::printf("%s\n",
                ok ? "OK: below 2 % of a core" : "FAILED: expected status 3 below 2 % of a core");
    return ok ? 0 : 1;
}
