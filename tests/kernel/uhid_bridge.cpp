// farsend-uhid-bridge: the simulated bridge and target, served through
// /dev/uhid, so that a real kernel's HID core makes /dev/hidrawN of them and
// farsend meets the real hidraw driver: enumeration, uevents, ioctls, poll,
// report-number bytes and hot-unplug.
//
//   farsend-uhid-bridge [--device=LOCATION,SERIAL[,PRODUCT]]... [--unplug-after=N]
//                       [--replug-after-ms=MS] [--flash-out=FILE] [--serial-log=FILE]
//                       [--no-target] [--target-on-signal] [--turn-times]
//
// Each --device makes one HID device, in the order given, with the bridge's
// vendor and PRODUCT (hexadecimal; default the bridge's). Devices with the
// bridge's product serve a simulated bridge and target each; others answer
// nothing. --unplug-after destroys the first bridge once its target has
// received N bytes (the simulator's unplug fault); --replug-after-ms makes it
// again, with a new target, that many milliseconds later. --flash-out and
// --serial-log go to the first bridge's simulation. It runs until SIGTERM or
// SIGINT, then writes the flash-out file and ends with status 0; status 2 for
// a bad argument, 1 when /dev/uhid cannot be used. --no-target makes every
// device answer nothing, bridges too: for a listing, where a target calling
// every 50 ms would only keep a listener such as Wine's HID bus busy.
// --target-on-signal plugs the bridges in without their targets and
// connects each to its target when the process gets SIGUSR1: bridges that
// are there before a host starts, whose targets come when a case needs them.
// --turn-times writes, when a bridge goes, how long the host took to answer
// its input reports and how long the bridge took to answer the host's
// (turn_times.h): a host stack's delay measured against the 11 ms that a
// short reply wait allows.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/bridge_ids.h"
#include "sim/simulation.h"
#include "turn_times.h"

namespace {

using farsend::kernel::TurnTimes;
using farsend::link::HidHandle;
using farsend::link::ReadStatus;
using farsend::sim::SimBridge;
using farsend::sim::SimOptions;
using farsend::sim::Simulation;

// The bridge's report descriptor: vendor-defined, no report IDs, one 64-byte
// input and one 64-byte output report, and a 5-byte feature report (the
// link's 6-byte feature requests, report number included).
const uint8_t kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0x95, 0x05,        //   Report Count (5)
    0x09, 0x01,        //   Usage (1)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0xC0,              // End Collection
};
constexpr size_t kReportBytes = 64;
// What a short reply wait allows: eleven 1 ms polls.
constexpr double kShortReplyMs = 11.0;

std::atomic<bool> gStop{false};
std::atomic<bool> gAttach{false};

void OnSignal(int) {
    gStop.store(true);
}

void OnAttachSignal(int) {
    gAttach.store(true);
}

struct DeviceSpec {
    std::string location;
    std::string serial;
    uint16_t product = farsend::link::kBridgeProductId;
    bool silent = false;
    bool targetLater = false;
    bool turnTimes = false;
    bool IsBridge() const { return product == farsend::link::kBridgeProductId; }
};

bool Send(int fd, const uhid_event& event) {
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

// One uhid device for as long as it is plugged in: its /dev/uhid descriptor,
// and for a bridge the simulation behind it with the two handles the link
// would hold (the simulated bridge expects its reader on the second).
class UhidDevice {
public:
    UhidDevice(const DeviceSpec& spec, const SimOptions& options) : spec_(spec), options_(options) {
        if (!spec.targetLater && !MakeTarget()) return;
        fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            std::fprintf(stderr, "farsend-uhid-bridge: /dev/uhid: %s\n", std::strerror(errno));
            return;
        }
        uhid_event create{};
        create.type = UHID_CREATE2;
        std::snprintf(reinterpret_cast<char*>(create.u.create2.name), sizeof create.u.create2.name,
                      "Farsend test bridge");
        std::snprintf(reinterpret_cast<char*>(create.u.create2.phys), sizeof create.u.create2.phys,
                      "%s", spec.location.c_str());
        std::snprintf(reinterpret_cast<char*>(create.u.create2.uniq), sizeof create.u.create2.uniq,
                      "%s", spec.serial.c_str());
        create.u.create2.rd_size = sizeof kDescriptor;
        create.u.create2.bus = BUS_USB;
        create.u.create2.vendor = farsend::link::kBridgeVendorId;
        create.u.create2.product = spec.product;
        create.u.create2.version = 0x0100;
        std::memcpy(create.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
        if (!Send(fd_, create)) {
            std::fprintf(stderr, "farsend-uhid-bridge: UHID_CREATE2: %s\n", std::strerror(errno));
            ::close(fd_);
            fd_ = -1;
            return;
        }
        events_ = std::thread([this] { ServeEvents(); });
        if (simulation_) StartTarget();
    }

    // Unplugs: the kernel removes the hidraw node, and its openers see
    // POLLHUP and EIO.
    ~UhidDevice() {
        stop_.store(true);
        if (reader_.joinable()) reader_.join();
        if (events_.joinable()) events_.join();
        if (fd_ >= 0) {
            uhid_event destroy{};
            destroy.type = UHID_DESTROY;
            Send(fd_, destroy);
            ::close(fd_);
        }
        if (simulation_) {
            simulation_->Bridge().Close(readHandle_);
            simulation_->Bridge().Close(writeHandle_);
            std::string error;
            if (!simulation_->Finish(error))
                std::fprintf(stderr, "farsend-uhid-bridge: %s\n", error.c_str());
            if (spec_.turnTimes) ReportTurns();
        }
    }
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    bool Made() const {
        return fd_ >= 0 &&
               (!spec_.IsBridge() || spec_.silent || spec_.targetLater || simulation_ != nullptr);
    }
    // A bridge plugged in without its target gets it now; false when the
    // simulation cannot be made.
    bool AttachTarget() {
        if (simulation_ || fd_ < 0) return true;
        if (!MakeTarget()) return false;
        if (simulation_) StartTarget();
        return true;
    }
    // The simulated target pulled the plug (its unplug fault).
    bool Unplugged() const { return simulation_ && !simulation_->Plug().Plugged(); }

private:
    // The simulated bridge and target of a bridge that has one.
    bool MakeTarget() {
        if (!spec_.IsBridge() || spec_.silent) return true;
        std::string error;
        simulation_ = Simulation::Create(options_, error);
        if (!simulation_) {
            std::fprintf(stderr, "farsend-uhid-bridge: %s\n", error.c_str());
            return false;
        }
        writeHandle_ = simulation_->Bridge().Open(SimBridge::kBridgePath);
        readHandle_ = simulation_->Bridge().Open(SimBridge::kBridgePath);
        return true;
    }

    // From here on the events thread hands the host's reports to the target.
    void StartTarget() {
        attached_.store(true, std::memory_order_release);
        reader_ = std::thread([this] { ServeInput(); });
    }

    void ReportTurns() const {
        using farsend::kernel::FormatSummary;
        using farsend::kernel::Summarise;
        std::fprintf(
            stderr, "farsend-uhid-bridge: %s host turns: %s\n", spec_.location.c_str(),
            FormatSummary(Summarise(turns_.HostTurns(), kShortReplyMs), kShortReplyMs).c_str());
        std::fprintf(
            stderr, "farsend-uhid-bridge: %s bridge turns: %s\n", spec_.location.c_str(),
            FormatSummary(Summarise(turns_.BridgeTurns(), kShortReplyMs), kShortReplyMs).c_str());
    }

    // What the host sends: output reports and feature requests, both with
    // the report number 0 first, as the simulated bridge takes them.
    void ServeEvents() {
        while (!stop_.load()) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) continue;
            uhid_event event{};
            if (::read(fd_, &event, sizeof event) <= 0) continue;
            switch (event.type) {
                case UHID_OUTPUT:
                    // Report number, control byte 0x20, count: a report
                    // that carries bytes is the host's answer or command.
                    if (event.u.output.size >= 3 && event.u.output.data[1] == 0x20 &&
                        event.u.output.data[2] > 0)
                        turns_.OutputReceived(TurnTimes::Clock::now());
                    if (attached_.load(std::memory_order_acquire)) {
                        simulation_->Bridge().WriteReport(writeHandle_, event.u.output.data,
                                                          event.u.output.size);
                    }
                    break;
                case UHID_SET_REPORT: {
                    const bool accepted =
                        attached_.load(std::memory_order_acquire) &&
                        simulation_->Bridge().SetFeature(writeHandle_, event.u.set_report.data,
                                                         event.u.set_report.size);
                    uhid_event reply{};
                    reply.type = UHID_SET_REPORT_REPLY;
                    reply.u.set_report_reply.id = event.u.set_report.id;
                    reply.u.set_report_reply.err = accepted ? 0 : EIO;
                    Send(fd_, reply);
                    break;
                }
                case UHID_GET_REPORT: {
                    // The link never reads a feature report; refuse it.
                    uhid_event reply{};
                    reply.type = UHID_GET_REPORT_REPLY;
                    reply.u.get_report_reply.id = event.u.get_report.id;
                    reply.u.get_report_reply.err = EIO;
                    Send(fd_, reply);
                    break;
                }
                default:
                    break;
            }
        }
    }

    // What the target sends: the simulated bridge's input reports, report
    // number first, go to the kernel without it (the device has no report
    // IDs, so hidraw hands out the 64 data bytes).
    void ServeInput() {
        const size_t length = simulation_->Options().report_length;
        std::vector<uint8_t> buffer(length * 16);
        while (!stop_.load()) {
            size_t got = 0;
            const ReadStatus status = simulation_->Bridge().ReadReport(readHandle_, buffer.data(),
                                                                       buffer.size(), &got, 50);
            // After the unplug the simulated bridge waits for its reader to
            // have heard of it twice, as the link's reader would have.
            if (status == ReadStatus::kGone)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (status != ReadStatus::kReport) continue;
            for (size_t at = 0; at + length <= got; at += length) {
                uhid_event input{};
                input.type = UHID_INPUT2;
                input.u.input2.size = static_cast<uint16_t>(length - 1);
                std::memcpy(input.u.input2.data, buffer.data() + at + 1, length - 1);
                Send(fd_, input);
                turns_.InputSent(TurnTimes::Clock::now());
            }
        }
    }

    const DeviceSpec spec_;
    const SimOptions options_;
    // Set by the main thread; the events thread uses it once attached_ says
    // it is there.
    std::unique_ptr<Simulation> simulation_;
    std::atomic<bool> attached_{false};
    HidHandle writeHandle_ = farsend::link::kNoHandle;
    HidHandle readHandle_ = farsend::link::kNoHandle;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread events_;
    std::thread reader_;
    TurnTimes turns_;
};

bool StartsWith(const std::string& text, const char* prefix, std::string* rest) {
    const size_t n = std::strlen(prefix);
    if (text.compare(0, n, prefix) != 0) return false;
    *rest = text.substr(n);
    return true;
}

bool ParseDevice(const std::string& text, DeviceSpec* spec) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos || comma == 0) return false;
    spec->location = text.substr(0, comma);
    std::string rest = text.substr(comma + 1);
    const size_t second = rest.find(',');
    spec->serial = rest.substr(0, second);
    if (second != std::string::npos) {
        char* end = nullptr;
        const unsigned long product = std::strtoul(rest.c_str() + second + 1, &end, 16);
        if (end == nullptr || *end != '\0' || product > 0xFFFF) return false;
        spec->product = static_cast<uint16_t>(product);
    }
    return spec->location.size() < 64 && spec->serial.size() < 64;
}

int Usage(const std::string& word) {
    std::fprintf(stderr,
                 "farsend-uhid-bridge: cannot read '%s'\nusage: farsend-uhid-bridge "
                 "[--device=LOCATION,SERIAL[,PRODUCT]]... [--unplug-after=N] "
                 "[--replug-after-ms=MS] [--flash-out=FILE] [--serial-log=FILE] [--no-target] "
                 "[--target-on-signal] [--turn-times]\n",
                 word.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<DeviceSpec> specs;
    SimOptions options;
    options.simulate = true;
    std::optional<uint64_t> unplugAfter;
    long replugAfterMs = -1;
    bool silent = false;
    bool targetLater = false;
    bool turnTimes = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        std::string value;
        char* end = nullptr;
        if (StartsWith(word, "--device=", &value)) {
            DeviceSpec spec;
            if (!ParseDevice(value, &spec)) return Usage(word);
            specs.push_back(spec);
        } else if (StartsWith(word, "--unplug-after=", &value)) {
            unplugAfter = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0') return Usage(word);
        } else if (StartsWith(word, "--replug-after-ms=", &value)) {
            replugAfterMs = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || replugAfterMs < 0) return Usage(word);
        } else if (StartsWith(word, "--flash-out=", &value)) {
            options.flash_out = value;
        } else if (StartsWith(word, "--serial-log=", &value)) {
            options.serial_log = value;
        } else if (word == "--no-target") {
            silent = true;
        } else if (word == "--target-on-signal") {
            targetLater = true;
        } else if (word == "--turn-times") {
            turnTimes = true;
        } else {
            return Usage(word);
        }
    }
    if (specs.empty()) specs.push_back({"farsend-uhid-1", "FSUHID0001"});
    for (DeviceSpec& spec : specs) {
        spec.silent = silent;
        spec.targetLater = targetLater;
        spec.turnTimes = turnTimes;
    }

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGUSR1, OnAttachSignal);

    // The first bridge carries the options; the others are plain bridges.
    std::vector<std::unique_ptr<UhidDevice>> devices;
    size_t first = specs.size();
    for (size_t i = 0; i < specs.size(); ++i) {
        SimOptions these = options;
        if (specs[i].IsBridge() && first == specs.size()) {
            first = i;
            these.faults.unplug_after = unplugAfter;
        } else {
            these.flash_out.clear();
            these.serial_log.clear();
        }
        devices.push_back(std::make_unique<UhidDevice>(specs[i], these));
        if (!devices.back()->Made()) return 1;
    }

    while (!gStop.load()) {
        usleep(10000);
        if (gAttach.exchange(false)) {
            for (auto& device : devices)
                if (device && !device->AttachTarget()) return 1;
            std::fprintf(stderr, "farsend-uhid-bridge: targets connected\n");
        }
        if (first == specs.size() || !devices[first] || !devices[first]->Unplugged()) continue;
        devices[first].reset();
        // In hundredths of a second since boot, as /proc/uptime counts, so
        // that a script can tell how long its program took to notice.
        timespec boot{};
        clock_gettime(CLOCK_BOOTTIME, &boot);
        std::fprintf(stderr, "farsend-uhid-bridge: %s unplugged at %lld\n",
                     specs[first].location.c_str(),
                     static_cast<long long>(boot.tv_sec) * 100 + boot.tv_nsec / 10000000);
        if (replugAfterMs < 0) continue;
        for (long waited = 0; waited < replugAfterMs && !gStop.load(); waited += 10) usleep(10000);
        // Plugged in again: a fresh target that calls anew, and no more faults.
        SimOptions again = options;
        again.serial_log.clear();
        devices[first] = std::make_unique<UhidDevice>(specs[first], again);
        if (!devices[first]->Made() || !devices[first]->AttachTarget()) return 1;
        std::fprintf(stderr, "farsend-uhid-bridge: %s plugged in again\n",
                     specs[first].location.c_str());
        replugAfterMs = -1;
    }
    devices.clear();
    return 0;
}
