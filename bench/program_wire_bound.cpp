// How close a programming run comes to what the line and the target allow.
// The simulated bridge and target run in real time; the programming job (the
// worker the window program and farsend run: start, erase progress, every
// block, end of data) programs an image over the real link, reader thread and
// exchanges. The bound is what no host could beat:
//   every serial byte of the run, either way, at 10 bits per byte;
//   the target's erase time per erased block and write time per block;
//   the pauses the host must make: 15 ms after every output report when the
//   reports carry few bytes (output report length up to 32).
// Printed: the run, the bound, their ratio, and the process's CPU share.
//   bench_program_wire_bound [--report-length N] [--kilobytes K] [--baud B]
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "bench/bench_support.h"
#include "jobs/job_workers.h"
#include "jobs/station_state.h"
#include "link/hid_serial_link.h"
#include "protocol/exchanges.h"
#include "sim/simulation.h"

using namespace farsend;

namespace {

// Says what went wrong, if anything did.
class ProblemPrinter final : public jobs::StationObserver {
public:
    void OnStationEvent(const jobs::StationEvent& event) override {
        if (const auto* problem = std::get_if<jobs::events::JobProblem>(&event)) {
            std::fprintf(stderr, "job message: %s\n",
                         jobs::JobProblemMessage(*problem).text.c_str());
        }
    }
};

// Where a block's time goes, from the bridge's side: when the host wrote
// BlockFollows, when its answer was framed for the host, when the host had
// written the whole block, when that answer was framed, and so on.
class BlockTimeline {
public:
    void Observe(sim::SerialDirection direction, const uint8_t* data, size_t length) {
        const double now = bench::WallSeconds();
        std::lock_guard<std::mutex> lock(mutex_);
        if (direction == sim::SerialDirection::kToTarget) {
            if (length == 4 && data[0] == kCommandLead && data[1] == kBlockFollows) {
                if (phase_ == Phase::AwaitBlockAck) AddGap(3, now - lastAt_);
                phase_ = Phase::AwaitFollowsAck;
                blockAcked_ = false;
                lastAt_ = now;
                return;
            }
            if (phase_ == Phase::WritingBlock) {
                blockBytes_ += length;
                if (blockBytes_ >= 268) {
                    AddGap(1, now - lastAt_);
                    phase_ = Phase::AwaitBlockAck;
                    lastAt_ = now;
                }
            }
            return;
        }
        if (phase_ == Phase::AwaitFollowsAck) {
            AddGap(0, now - lastAt_);
            phase_ = Phase::WritingBlock;
            blockBytes_ = 0;
            lastAt_ = now;
        } else if (phase_ == Phase::AwaitBlockAck && !blockAcked_) {
            AddGap(2, now - lastAt_);
            blockAcked_ = true;
            lastAt_ = now;
        }
    }
    void Print(double byteSeconds, double writeSeconds) {
        std::lock_guard<std::mutex> lock(mutex_);
        const char* names[4] = {
            "BlockFollows -> its answer at the host", "answer -> the block written",
            "block written -> its answer at the host", "answer -> the next BlockFollows"};
        const double ideal[4] = {8 * byteSeconds, 0,
                                 268 * byteSeconds + writeSeconds + 4 * byteSeconds, 0};
        std::printf("  per block (mean of %u), measured / line and target alone:\n", counts_[0]);
        for (int i = 0; i < 4; ++i) {
            const double mean = counts_[i] ? sums_[i] / counts_[i] : 0;
            std::printf("    %-42s %7.3f ms / %7.3f ms\n", names[i], mean * 1e3, ideal[i] * 1e3);
        }
    }

private:
    enum class Phase { Idle, AwaitFollowsAck, WritingBlock, AwaitBlockAck };
    static constexpr uint8_t kCommandLead = 0x9C;
    static constexpr uint8_t kBlockFollows = 0x11;
    void AddGap(int which, double seconds) {
        sums_[which] += seconds;
        ++counts_[which];
    }
    std::mutex mutex_;
    Phase phase_ = Phase::Idle;
    size_t blockBytes_ = 0;
    bool blockAcked_ = false;
    double lastAt_ = 0;
    double sums_[4] = {};
    uint32_t counts_[4] = {};
};

struct Arguments {
    uint32_t reportLength = 65;
    uint32_t kilobytes = 128;
    uint32_t baud = 115200;
};

bool Parse(int argc, char** argv, Arguments& args) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const long value = std::atol(argv[i + 1]);
        if (value <= 0) return false;
        if (std::strcmp(argv[i], "--report-length") == 0) {
            args.reportLength = static_cast<uint32_t>(value);
        } else if (std::strcmp(argv[i], "--kilobytes") == 0) {
            args.kilobytes = static_cast<uint32_t>(value);
        } else if (std::strcmp(argv[i], "--baud") == 0) {
            args.baud = static_cast<uint32_t>(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!Parse(argc, argv, args)) {
        std::fprintf(stderr,
                     "usage: bench_program_wire_bound [--report-length N] [--kilobytes K] "
                     "[--baud B]\n");
        return 2;
    }
    const std::filesystem::path dir = bench::MakeBenchDirectory("farsend-bench-program");
    const std::string image = (dir / "Farsend_15_bt.hex").string();
    const std::vector<sim::ImageRun> runs = bench::ContiguousImage(size_t{args.kilobytes} * 1024);
    std::string error;
    if (!sim::WriteImageFile(image, runs, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    sim::SimOptions options;
    options.simulate = true;
    options.baud = args.baud;
    options.report_length = args.reportLength;
    link::HidSerialLink link;  // outlives the simulation, which detaches it
    std::unique_ptr<sim::Simulation> simulation = sim::Simulation::Create(options, error);
    if (!simulation) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    simulation->AttachLink(link);
    protocol::ExchangeContext exchanges(link);

    const double connectStart = bench::WallSeconds();
    const protocol::ExchangeResult connected = protocol::ConnectTarget(exchanges);
    const double connectSeconds = bench::WallSeconds() - connectStart;
    if (connected != protocol::ExchangeResult::Ok) {
        std::fprintf(stderr, "no connection: ConnectTarget returned %d\n",
                     protocol::ExchangeResultCode(connected));
        return 1;
    }

    jobs::StationState station;
    station.programmingBusy = true;
    ProblemPrinter problems;
    const jobs::JobEnvironment environment{station, exchanges, &problems};

    BlockTimeline timeline;
    simulation->Bridge().SetSerialObserver(
        [&](sim::SerialDirection direction, const uint8_t* data, size_t length, Millis) {
            timeline.Observe(direction, data, length);
        });
    const sim::SimBridgeStats before = simulation->Bridge().Stats();
    const double wall0 = bench::WallSeconds();
    const double cpu0 = bench::ProcessCpuSeconds();
    const jobs::JobReport report = jobs::ProgramApplicationWorker(environment, image);
    const double cpu = bench::ProcessCpuSeconds() - cpu0;
    const double wall = bench::WallSeconds() - wall0;
    const sim::SimBridgeStats after = simulation->Bridge().Stats();
    protocol::DisconnectTarget(exchanges);

    const bool programmed =
        report.Succeeded() && simulation->Target().Flash().size() == size_t{args.kilobytes} * 1024;
    std::filesystem::remove_all(dir);
    if (!programmed) {
        std::fprintf(stderr, "the run did not program the image (outcome %d)\n",
                     static_cast<int>(report.outcome));
        return 1;
    }

    const uint64_t serialBytes =
        (after.bytesToTarget - before.bytesToTarget) + (after.bytesToHost - before.bytesToHost);
    const uint32_t reports = after.dataReports - before.dataReports;
    const double line = static_cast<double>(serialBytes) * sim::kBitsPerSerialByte / args.baud;
    const double erase =
        report.blocksErased * std::chrono::duration<double>(sim::kEraseTimePerBlock).count();
    const double write =
        report.blocksSent * std::chrono::duration<double>(sim::kWriteTimePerBlock).count();
    const bool smallReports = args.reportLength <= 32;
    const double pauses =
        smallReports ? reports * std::chrono::duration<double>(link::kSmallReportPause).count()
                     : 0.0;
    const double bound = line + erase + write + pauses;
    const double ratio = wall / bound;
    const double cpuPercent = 100.0 * cpu / wall;

    std::printf("image %u KB at %u baud, report length %u: %u blocks, %u erased\n", args.kilobytes,
                args.baud, args.reportLength, report.blocksSent, report.blocksErased);
    std::printf("  handshake (not in the figures): %.3f s\n", connectSeconds);
    std::printf("  serial bytes %llu (%.3f s on the line), erase %.3f s, writes %.3f s,\n",
                static_cast<unsigned long long>(serialBytes), line, erase, write);
    std::printf("  output reports %u, required pauses %.3f s\n", reports, pauses);
    std::printf("  bound %.3f s, programming took %.3f s: ratio %.3f\n", bound, wall, ratio);
    if (smallReports) {
        // The bytes travel while the host pauses, so the sum above counts
        // the line twice over; the pauses alone are the tighter bound here.
        std::printf("  the pauses alone %.3f s: programming took %.3f times that\n", pauses,
                    wall / pauses);
    }
    std::printf("  CPU %.3f s: %.2f %% of a core\n", cpu, cpuPercent);
    timeline.Print(static_cast<double>(sim::kBitsPerSerialByte) / args.baud,
                   std::chrono::duration<double>(sim::kWriteTimePerBlock).count());

    const std::string what = "programming " + std::to_string(args.kilobytes) + " KB at " +
                             std::to_string(args.baud) + " baud, report length " +
                             std::to_string(args.reportLength);
    if (smallReports) {
        // The pauses dominate; there is no target for this one.
        bench::PrintRow(what + ": time / wire bound",
                        bench::Format("%.3f", ratio) + " (" + bench::Format("%.1f s", wall) +
                            " / " + bench::Format("%.1f s", bound) + "); " +
                            bench::Format("%.3f", wall / pauses) + " x the pauses alone",
                        "(pauses dominate)", true);
    } else {
        bench::PrintRow(what + ": time / wire bound",
                        bench::Format("%.3f", ratio) + " (" + bench::Format("%.2f s", wall) +
                            " / " + bench::Format("%.2f s", bound) + ")",
                        "<= 1.10", ratio <= 1.10);
        bench::PrintRow("CPU during that programming run", bench::Format("%.2f %%", cpuPercent),
                        "<= 5 %", cpuPercent <= 5.0);
    }
    return 0;
}
