// The simulator's command-line words. The GUI and the CLI hand their argument
// lists to TakeSimOptions, which removes the words it owns, so that both front
// ends accept exactly the same simulator options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace farsend::sim {

// Probabilities are kept as whole parts per billion, so that every platform
// draws exactly the same faults from the same seed (no floating point).
constexpr uint32_t kProbabilityScale = 1000000000;

struct FaultPlan {
    uint32_t drop_ppb = 0;   // each serial byte, either direction, is lost
    uint32_t flip_ppb = 0;   // one bit of a serial byte is flipped
    uint32_t noise_ppb = 0;  // 1 to 8 random bytes go out before a packet of the target
    // The target stops sending once it has received this many bytes.
    std::optional<uint64_t> silence_after;
    // The bridge disappears once the target has received this many bytes.
    std::optional<uint64_t> unplug_after;

    bool operator==(const FaultPlan& other) const;
};

// An operator at the simulated socket: a board the host let go while it was
// still in its bootloader (the run failed) is taken out `after` that, unless
// the host took it again meanwhile; the next of --sim-targets goes in
// kSwapInDelay later, reporting `nextVariant` when one is given.
struct SwapPlan {
    uint32_t after_ms = 0;
    std::string next_variant;  // empty: the bridge's variant
    bool operator==(const SwapPlan& other) const {
        return after_ms == other.after_ms && next_variant == other.next_variant;
    }
};

// Longest text a query reply can carry.
constexpr size_t kMaxReplyText = 24;

struct SimOptions {
    bool simulate = false;
    std::string variant = "Bluetooth";
    std::string version = "1.5.0";
    uint32_t erase_blocks = 16;
    uint32_t baud = 0;            // 0: the serial line and the flash take no time
    uint32_t report_length = 65;  // report-ID byte included
    bool legacy_hid = false;
    uint32_t targets = 1;
    FaultPlan faults;
    uint64_t seed = 1;
    std::string serial_log;  // empty: no log
    std::string flash_out;   // empty: no file
    // Every target's flash as a file of its own in this folder, kept up to
    // date block by block (see flash_mirror.h). Empty: none.
    std::string flash_dir;
    // How many simulated bridges are plugged in, each with its own targets
    // (--sim-targets of them), its own time and its own faults.
    uint32_t bridges = 1;
    // What one bridge alone has instead (--sim-faults=K:LIST,
    // --sim-variant=K:TEXT, --sim-version=K:TEXT).
    std::map<uint32_t, FaultPlan> bridge_faults;
    std::map<uint32_t, std::string> bridge_variant;
    std::map<uint32_t, std::string> bridge_version;
    // --sim-bridge-serial=K:TEXT: the serial-number string bridge K's
    // descriptors carry instead of its own ("SIM0000K"); any text, as a
    // device may give.
    std::map<uint32_t, std::string> bridge_serial;
    // --sim-swap=MS[,VARIANT], and --sim-swap=K:... for bridge K alone. None:
    // a board that failed stays in its socket.
    std::optional<SwapPlan> swap;
    std::map<uint32_t, SwapPlan> bridge_swap;
    // Run on the real clock instead of simulated time (demos, benchmarks).
    bool real_time = false;
    // Which bridge these options describe, 1 to `bridges` (see ForBridge).
    uint32_t bridge_number = 1;
};

// The serial-number string of bridge `number`: --sim-bridge-serial's, else
// SimBridge::SerialOf's.
std::string BridgeSerialOf(const SimOptions& options, uint32_t number);

// The options of bridge `number` (1 to options.bridges): its own faults, a
// seed of its own, and with several bridges its own serial log and
// flash-out file, named FILE-K (before FILE's extension).
SimOptions ForBridge(const SimOptions& options, uint32_t number);
// "out.hex" for bridge 1 of 1; "out-3.hex" for bridge 3 of several.
std::string BridgeFileName(const std::string& path, uint32_t number, uint32_t bridges);

struct SimOptionsResult {
    SimOptions options;
    std::string error;  // empty on success; otherwise names the offending option
    bool ok() const { return error.empty(); }
};

// Takes every word that begins with "--sim" out of `args` (the other words stay
// in order) and reads them. Any word of ours that cannot be read is refused
// with a message naming it, and so are simulator settings without --simulate.
SimOptionsResult TakeSimOptions(std::vector<std::string>& args);

// Reads a fault list such as "drop=0.01,silence=300". Empty means no faults.
bool ParseFaultList(const std::string& text, FaultPlan& plan, std::string& error);

}  // namespace farsend::sim
