// How much of a core the connection monitor uses while no target calls: the
// monitor runs as the window program and farsend run it (a handshake attempt
// after another, 100 ms apart) over the simulated bridge, in real time, and
// the target never calls. Printed: process CPU time over wall time for the
// wait (the monitor and the link's reader thread included).
//   bench_monitor_silent_target [seconds]
#include <sys/resource.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "jobs/connection_monitor.h"
#include "jobs/firmware_choice.h"
#include "jobs/station_state.h"
#include "link/hid_serial_link.h"
#include "sim/simulation.h"

using namespace farsend;

namespace {

class IdleHost final : public jobs::StationHost {
public:
    void ProgramTarget() override {}
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    sim::SimOptions options;
    options.simulate = true;
    options.baud = 115200;
    options.faults.silence_after = 0;  // the target never calls
    std::string error;
    link::HidSerialLink link;  // outlives the simulation, which detaches it
    std::unique_ptr<sim::Simulation> simulation = sim::Simulation::Create(options, error);
    if (!simulation) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    simulation->AttachLink(link);
    protocol::ExchangeContext exchanges(link);
    jobs::FirmwareChoice choice;
    jobs::StationState station;
    IdleHost host;
    jobs::ConnectionMonitorControl monitor(
        jobs::MonitorEnvironment{choice, station, exchanges, host});

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double wall0 = bench::WallSeconds();
    const double cpu0 = bench::ProcessCpuSeconds();
    monitor.Start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = bench::ProcessCpuSeconds() - cpu0;
    const double wall = bench::WallSeconds() - wall0;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const uint32_t opens = simulation->Bridge().Stats().configFeatures;
    // A monitor inside a handshake ends with it, within its 13 seconds.
    monitor.Stop();

    const double percent = 100.0 * cpu / wall;
    std::printf("waited %.1f s for a target that never calls: %u handshake attempts\n", wall,
                opens);
    std::printf("  CPU %.3f s (user %.3f s, system %.3f s): %.3f %% of a core\n", cpu,
                Seconds(after.ru_utime) - Seconds(before.ru_utime),
                Seconds(after.ru_stime) - Seconds(before.ru_stime), percent);
    std::printf("  context switches: %ld voluntary, %ld involuntary\n",
                after.ru_nvcsw - before.ru_nvcsw, after.ru_nivcsw - before.ru_nivcsw);
    bench::PrintRow(
        "CPU while waiting " + std::to_string(seconds) + " s for a target that never calls",
        bench::Format("%.3f %%", percent), "<= 1 %", percent <= 1.0);
    return opens > 0 ? 0 : 1;
}
