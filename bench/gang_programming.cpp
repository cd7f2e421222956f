// Gang programming in real time: farsend with one simulated station, then
// with N stations (--sim-bridges=N program --all), each programming the same
// image at 115200 baud with 65-byte reports. The gang's wall time against
// one station's, the CPU of the whole process while the stations program and
// while they wait for targets that never call, and the memory each station
// adds (ru_maxrss of the farsend process, 1 station against N).
//   bench_gang_programming FARSEND [stations] [kilobytes] [wait seconds]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"

using namespace farsend;

namespace {

struct Measured {
    bool ran = false;
    int status = -1;
    double wall = 0;
    double cpu = 0;
    double maxrssMb = 0;
};

Measured Run(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Measured measured;
    const double wall0 = bench::WallSeconds();
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return measured;
    measured.wall = bench::WallSeconds() - wall0;
    measured.ran = WIFEXITED(status);
    measured.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    measured.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    measured.maxrssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return measured;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: bench_gang_programming FARSEND [stations] [kilobytes] [wait]\n");
        return 2;
    }
    const std::string farsend = argv[1];
    const int stations = argc > 2 ? std::max(2, std::atoi(argv[2])) : 8;
    const long kilobytes = argc > 3 ? std::max(1L, std::atol(argv[3])) : 32;
    const int waitSeconds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 20;
    const std::filesystem::path dir = bench::MakeBenchDirectory("farsend-bench-gang");
    bench::RecordUnitsUnder(dir);
    const std::string image = (dir / "Farsend_15_bt.hex").string();
    std::string error;
    if (!sim::WriteImageFile(image, bench::ContiguousImage(static_cast<size_t>(kilobytes) * 1024),
                             &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto programRun = [&](int bridges) {
        return Run({farsend, "--simulate", "--sim-real-time", "--sim-baud=115200",
                    "--sim-report-length=65", "--sim-bridges=" + std::to_string(bridges), "program",
                    "--all", image, "--quiet"});
    };
    const Measured one = programRun(1);
    const Measured gang = programRun(stations);
    // Targets that never answer: every station's monitor handshakes until
    // --wait ends the run.
    const Measured waiting =
        Run({farsend, "--simulate", "--sim-real-time", "--sim-faults=silence=0",
             "--sim-bridges=" + std::to_string(stations), "program", "--all", image, "--quiet",
             "--wait", std::to_string(waitSeconds)});
    std::filesystem::remove_all(dir);
    if (one.status != 0 || gang.status != 0 || waiting.status != 5) {
        std::fprintf(stderr, "farsend failed: 1 station %d, %d stations %d, waiting %d\n",
                     one.status, stations, gang.status, waiting.status);
        return 1;
    }

    const double ratio = gang.wall / one.wall;
    const double programCpu = 100.0 * gang.cpu / gang.wall;
    const double waitCpu = 100.0 * waiting.cpu / waiting.wall;
    const double perStation = (gang.maxrssMb - one.maxrssMb) / (stations - 1);
    std::printf("%ld KB at 115200 baud, report length 65, real time\n", kilobytes);
    std::printf("  1 station: %.2f s wall, %.2f s CPU, %.1f MB peak\n", one.wall, one.cpu,
                one.maxrssMb);
    std::printf("  %d stations: %.2f s wall, %.2f s CPU, %.1f MB peak\n", stations, gang.wall,
                gang.cpu, gang.maxrssMb);
    std::printf("  %d stations waiting %d s: %.2f s CPU\n", stations, waitSeconds, waiting.cpu);
    const std::string n = std::to_string(stations);
    bench::PrintRow("gang of " + n + " stations, " + std::to_string(kilobytes) +
                        " KB each at 115200 baud: wall time / one station's",
                    bench::Format("%.3f", ratio) + " (" + bench::Format("%.2f s", gang.wall) +
                        " / " + bench::Format("%.2f s", one.wall) + ")",
                    "<= 1.10", ratio <= 1.10);
    bench::PrintRow("CPU of farsend while " + n + " stations program",
                    bench::Format("%.2f %%", programCpu), "<= 5 %", programCpu <= 5.0);
    bench::PrintRow("CPU of farsend while " + n + " stations wait for targets that never call",
                    bench::Format("%.2f %%", waitCpu), "<= 1 %", waitCpu <= 1.0);
    bench::PrintRow("memory per station (ru_maxrss, 1 station against " + n + ")",
                    bench::Format("%.2f MB", perStation), "<= 2 MB", perStation <= 2.0);
    return 0;
}
