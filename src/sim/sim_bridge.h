// The simulated USB HID-to-UART bridge: a HidPlatform that runs in-process.
//
// It enumerates a few HID interfaces (a keyboard, a mouse, a device of the
// bridge's vendor with another product, then the bridge), frames serial bytes
// into input reports and takes them out of output reports, in normal or
// legacy framing, and answers the configuration and close feature reports and
// the close report. Its serial side is a SerialEndpoint that plugs in: the
// simulated target, or a scripted endpoint in tests.
//
// Determinism. Answers must be readable by the time the caller looks for
// them, whatever the scheduler does with the reader thread:
// - WriteReport hands the payload to the endpoint, collects what it answers
//   at once, queues that as input reports and waits (real time, at most
//   handoffCap) until the reader thread has taken them and come back for
//   more, which means they are in the link's ring when the write returns.
// - Output the endpoint sends later of its own accord is delivered by
//   ReadReport once the bridge's clock reaches its due time. In virtual time
//   the link's clock must be a SimBridgeClock: whenever the link pauses or
//   waits past a due time, it delivers that output through the reader before
//   the pause ends.
//
// The bridge asks the endpoint for output again when the time it named
// comes, and right after host bytes, the open and the close: an endpoint that
// decides on its own to send earlier than it said is not heard before then.
// On the real clock the reader sleeps past the endpoint's own events, which
// it catches up on when next asked, to the time the host could find something
// new (SerialEndpoint::NextHostVisibleTime): while a block crosses the line,
// it wakes when the target's answer is due, not at every millisecond a byte
// arrives. In virtual time it looks at every event, as a clock that jumps
// needs it to.
//
// Locking: one lock guards the bridge. The endpoint and the serial observer
// are called with it held, so they must not call back into the bridge.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "link/hid_platform.h"
#include "sim/plug_state.h"
#include "sim/serial_endpoint.h"

namespace farsend::sim {

enum class SerialDirection { kToTarget, kToHost };

struct SimBridgeOptions {
    // Report lengths, report-ID byte included: 9, 33 or 65 for bridges with
    // 8, 32 or 64 data bytes.
    uint16_t inputReportLength = 65;
    uint16_t outputReportLength = 65;
    // The HID library reports "4.10.1998", which selects the legacy framing.
    bool legacyHid = false;
    // The system class reported to the link; below 5 no restart is needed.
    // Negative: 2 (the system of that HID library) with legacyHid, else 1.
    int osClass = -1;
    // The largest input-report queue the simulated system accepts.
    uint32_t maxInputBuffers = 512;
    // Time for the endpoint and for due output. Null: the real clock.
    Clock* clock = nullptr;
    // Shared with whatever may pull the plug. Null: the bridge keeps its own.
    PlugState* plug = nullptr;
    // Which of several simulated bridges this is. Bridge 1 is the one a
    // single simulation has, among a few other HID interfaces; bridge K > 1
    // lists only itself, at its own path, location and serial number.
    uint32_t number = 1;
    // Its serial-number string; empty: SerialOf(number).
    std::string serial;
    // Keep every output report written to the bridge (tests).
    bool keepOutputLog = false;
    // Longest real-time wait for the reader thread to take queued reports.
    std::chrono::milliseconds handoffCap{2000};

    static SimBridgeOptions WithReportLength(uint16_t length, bool legacy = false) {
        SimBridgeOptions options;
        options.inputReportLength = length;
        options.outputReportLength = length;
        options.legacyHid = legacy;
        return options;
    }
};

struct SimBridgeStats {
    uint32_t configFeatures = 0;
    uint32_t closeFeatures = 0;
    uint32_t refusedFeatures = 0;
    uint32_t closeReports = 0;
    uint32_t dataReports = 0;       // output reports carrying payload
    uint32_t malformedReports = 0;  // output reports the bridge could not read
    uint64_t bytesToTarget = 0;
    uint64_t bytesToHost = 0;
    uint64_t droppedHostBytes = 0;  // written while the serial side was closed
    uint32_t restarts = 0;
    uint32_t inputBuffers = 0;     // the last accepted input-report queue length
    uint32_t openHandles = 0;      // on the bridge
    uint32_t handoffTimeouts = 0;  // waits for the reader that ran into the cap
    uint64_t emptyLooks = 0;       // reads that asked the endpoint and found nothing new
    bool uartOpen = false;
};

class SimBridge final : public link::HidPlatform {
public:
    static constexpr const char* kBridgePath = "sim-hid:bridge";
    // Where the simulated bridge is plugged in, and its serial number.
    static constexpr const char* kBridgeLocation = "sim-usb-1.4";
    static constexpr const char* kBridgeSerial = "SIM00001";
    static constexpr const char* kLegacyLibraryVersion = "4.10.1998";
    static constexpr const char* kLibraryVersion = "10.0.0.0";

    explicit SimBridge(SimBridgeOptions options = {});

    // Path, location and serial of bridge `number` ("sim-hid:bridge",
    // "sim-usb-1.4", "SIM00001" for bridge 1).
    static std::string PathOf(uint32_t number);
    static std::string LocationOf(uint32_t number);
    static std::string SerialOf(uint32_t number);
    ~SimBridge() override;
    SimBridge(const SimBridge&) = delete;
    SimBridge& operator=(const SimBridge&) = delete;

    // The serial side (not owned). Null: host bytes go nowhere.
    void AttachEndpoint(SerialEndpoint* endpoint);

    // Sees every serial byte: kToTarget as the target receives it, kToHost
    // as the bridge frames it for the host.
    using SerialObserver =
        std::function<void(SerialDirection, const uint8_t* data, size_t length, Millis now)>;
    void SetSerialObserver(SerialObserver observer);

    // Pulls the plug: the bridge leaves the enumeration and its handles fail.
    void Unplug();
    bool Plugged() const;

    // Faults for tests.
    void SetRefuseFeatures(bool refuse);
    void SetFailWrites(bool fail);
    void SetRestartResult(int result);

    // Queues raw input reports (each exactly the input report length) and
    // waits until the reader has stored them. False when they were refused
    // or nobody took them.
    bool InjectInputReports(const std::vector<std::vector<uint8_t>>& reports);
    // Collects the endpoint's output that is due by now and waits until the
    // reader has stored everything queued. True when nothing is left pending.
    bool DeliverDue();
    // When the endpoint next sends of its own accord (Millis::max(): it
    // waits for the host, or the serial side is closed). On the real clock,
    // when the host could next find output: see the class comment.
    Millis NextDueTime();

    Clock& BridgeClock() { return clock_; }
    SimBridgeStats Stats();
    std::vector<std::vector<uint8_t>> OutputLog();

    // --- link::HidPlatform ---
    bool Bind() override { return true; }
    std::vector<std::string> EnumerateInterfaces() override;
    link::HidIdentity Identify(const std::string& path) override;
    link::HidHandle Open(const std::string& path) override;
    void Close(link::HidHandle handle) override;
    bool GetAttributes(link::HidHandle handle, link::HidAttributes* attributes) override;
    bool GetCaps(link::HidHandle handle, link::HidCaps* caps) override;
    bool SetNumInputBuffers(link::HidHandle handle, uint32_t count) override;
    bool SetFeature(link::HidHandle handle, const uint8_t* report, size_t length) override;
    long WriteReport(link::HidHandle handle, const uint8_t* report, size_t length) override;
    link::ReadStatus ReadReport(link::HidHandle handle, uint8_t* buffer, size_t capacity,
                                size_t* length, uint32_t timeoutMs) override;
    int RestartBridge(uint16_t vendorId, uint16_t productId, const std::string& path) override;
    std::string HidLibraryFileVersion() override;
    int OsClass() override;

private:
    struct Interface {
        std::string path;
        link::HidAttributes attributes;
        link::HidCaps caps;
        bool isBridge;
        link::HidIdentity identity;
    };
    using Lock = std::unique_lock<std::mutex>;

    const Interface* FindLocked(link::HidHandle handle) const;
    bool IsBridgeHandleLocked(link::HidHandle handle) const;
    bool ReaderExpectedLocked() const;
    void OpenUartLocked(Millis now);
    void CloseUartLocked(Millis now);
    void HostBytesLocked(const uint8_t* data, size_t length, Millis now);
    void CollectLocked(Millis now);
    void QueueTargetBytesLocked(const std::vector<uint8_t>& bytes, Millis now);
    bool WaitUntilStoredLocked(Lock& lock);
    void WaitUntilGoneHeardLocked(Lock& lock);
    int OpenBridgeHandlesLocked() const;

    const SimBridgeOptions options_;
    Clock& clock_;
    const bool realTime_;
    PlugState ownPlug_;
    PlugState& plug_;
    std::vector<Interface> interfaces_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    SerialEndpoint* endpoint_ = nullptr;
    SerialObserver observer_;
    std::map<link::HidHandle, size_t> handles_;
    link::HidHandle nextHandle_ = 1;
    bool uartOpen_ = false;
    Millis nextDue_ = Millis::max();
    // When the reader must look next: nextDue_ in virtual time, on the real
    // clock the endpoint's NextHostVisibleTime (never before nextDue_).
    Millis lookDue_ = Millis::max();
    std::deque<std::vector<uint8_t>> inbound_;
    uint64_t enqueued_ = 0;
    uint64_t delivered_ = 0;
    bool readerInside_ = false;
    // Reads the bridge has failed as unplugged, and how many of them found
    // the reader back after an earlier one (it has noted the first by then).
    uint64_t goneReads_ = 0;
    bool refuseFeatures_ = false;
    bool failWrites_ = false;
    int restartResult_ = 1;
    SimBridgeStats stats_;
    std::vector<std::vector<uint8_t>> outputLog_;
};

// The link's clock for virtual-time runs over a SimBridge: time is the
// bridge's clock; a pause or wait that reaches the endpoint's next due time
// first delivers that output through the reader thread, then goes on. With a
// real bridge clock it sleeps for real and behaves the same, except that a
// wait for input is left to the reader thread, as over a real bridge: the
// bridge wakes the reader when output falls due, and a wait that delivered
// itself would also wait out the reader's pause before it could go on.
class SimBridgeClock final : public Clock {
public:
    explicit SimBridgeClock(SimBridge& bridge)
        : bridge_(bridge),
          inner_(bridge.BridgeClock()),
          realTime_(dynamic_cast<SteadyClock*>(&inner_) != nullptr) {}
    Millis Now() override { return inner_.Now(); }
    void SleepFor(Millis duration) override;
    bool WaitFor(WakeSignal& signal, Millis timeout) override;

private:
    SimBridge& bridge_;
    Clock& inner_;
    const bool realTime_;
};

}  // namespace farsend::sim
