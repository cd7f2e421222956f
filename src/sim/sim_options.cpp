#include "sim/sim_options.h"

#include <cstddef>
#include <optional>

#include "sim/sim_bridge.h"

namespace farsend::sim {

namespace {

constexpr const char kPrefix[] = "--sim";

bool ParseWhole(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (max - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

// A probability written as a decimal from 0 to 1 with at most nine decimals
// ("0", "1", "0.25", ".5", "1.0"), read exactly into parts per billion.
bool ParseProbability(const std::string& text, uint32_t& ppb) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return false;
    if (dot != std::string::npos && fraction.empty()) return false;
    if (fraction.size() > 9) return false;
    uint64_t whole_value = 0;
    if (!whole.empty() && !ParseWhole(whole, 1, whole_value)) return false;
    uint64_t fraction_value = 0;
    if (!fraction.empty() && !ParseWhole(fraction, 999999999, fraction_value)) return false;
    for (size_t i = fraction.size(); i < 9; ++i) fraction_value *= 10;
    const uint64_t total = whole_value * kProbabilityScale + fraction_value;
    if (total > kProbabilityScale) return false;
    ppb = static_cast<uint32_t>(total);
    return true;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// One option word split at its first '='.
struct Word {
    std::string name;
    std::string value;
    bool has_value = false;
};

Word Split(const std::string& word) {
    Word w;
    const size_t eq = word.find('=');
    w.name = word.substr(0, eq);
    if (eq != std::string::npos) {
        w.value = word.substr(eq + 1);
        w.has_value = true;
    }
    return w;
}

bool ReadNumber(const Word& w, uint64_t min, uint64_t max, uint64_t& value, std::string& error) {
    if (!w.has_value) {
        error = w.name + " needs a value: " + w.name + "=N";
        return false;
    }
    if (!ParseWhole(w.value, max, value) || value < min) {
        error = w.name + ": " + Quoted(w.value) + " is not a whole number from " +
                std::to_string(min) + " to " + std::to_string(max);
        return false;
    }
    return true;
}

bool ReadNumber32(const Word& w, uint32_t min, uint32_t max, uint32_t& value, std::string& error) {
    uint64_t wide = 0;
    if (!ReadNumber(w, min, max, wide, error)) return false;
    value = static_cast<uint32_t>(wide);
    return true;
}

bool ReadText(const Word& w, std::string& value, std::string& error) {
    if (!w.has_value) {
        error = w.name + " needs a value: " + w.name + "=TEXT";
        return false;
    }
    if (w.value.size() > kMaxReplyText) {
        error = w.name + ": " + Quoted(w.value) + " is longer than " +
                std::to_string(kMaxReplyText) + " characters";
        return false;
    }
    value = w.value;
    return true;
}

bool ReadPath(const Word& w, std::string& value, std::string& error) {
    if (!w.has_value || w.value.empty()) {
        error = w.name + " needs a file name: " + w.name + "=FILE";
        return false;
    }
    value = w.value;
    return true;
}

bool ReadSwitch(const Word& w, bool& value, std::string& error) {
    if (w.has_value) {
        error = w.name + " takes no value";
        return false;
    }
    value = true;
    return true;
}

// "K:REST" gives a setting of bridge K alone; anything else is everyone's.
bool SplitBridge(const Word& w, std::string& rest, std::optional<uint32_t>& bridge,
                 std::string& error) {
    rest = w.value;
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0 || rest.find_first_not_of("0123456789") != colon) {
        return true;
    }
    uint64_t number = 0;
    if (!ParseWhole(rest.substr(0, colon), 64, number) || number == 0) {
        error = w.name + ": " + Quoted(rest.substr(0, colon)) +
                " is not a bridge number from 1 to 64, as in " + w.name + "=2:...";
        return false;
    }
    bridge = static_cast<uint32_t>(number);
    rest = rest.substr(colon + 1);
    return true;
}

// TEXT, or K:TEXT for bridge K alone.
void ReadBridgeText(const Word& w, std::string& everyone, std::map<uint32_t, std::string>& own,
                    std::string& error) {
    std::string text;
    std::optional<uint32_t> bridge;
    if (w.has_value && !SplitBridge(w, text, bridge, error)) return;
    Word plain = w;
    plain.value = text;
    std::string value;
    if (!ReadText(plain, value, error)) return;
    if (!bridge) {
        everyone = value;
    } else if (!own.emplace(*bridge, value).second) {
        error = w.name + ": bridge " + std::to_string(*bridge) + " is given twice";
    }
}

// MS[,VARIANT], or K:MS[,VARIANT] for bridge K alone.
void ReadSwap(const Word& w, SimOptions& o, std::string& error) {
    std::string text;
    std::optional<uint32_t> bridge;
    if (!w.has_value || !SplitBridge(w, text, bridge, error)) {
        if (error.empty()) error = "--sim-swap needs a value: --sim-swap=MS[,VARIANT]";
        return;
    }
    const size_t comma = text.find(',');
    SwapPlan plan;
    uint64_t after = 0;
    if (!ParseWhole(text.substr(0, comma), 3600000, after)) {
        error = "--sim-swap: " + Quoted(text.substr(0, comma)) +
                " is not a time in milliseconds from 0 to 3600000, as in --sim-swap=2000";
        return;
    }
    plan.after_ms = static_cast<uint32_t>(after);
    if (comma != std::string::npos) {
        Word variant = w;
        variant.value = text.substr(comma + 1);
        if (!ReadText(variant, plan.next_variant, error)) return;
        if (plan.next_variant.empty()) {
            error = "--sim-swap: the variant after the comma is empty";
            return;
        }
    }
    if (!bridge) {
        o.swap = plan;
    } else if (!o.bridge_swap.emplace(*bridge, plan).second) {
        error = "--sim-swap: bridge " + std::to_string(*bridge) + " is given twice";
    }
}

// Applies one word; `error` is set when it cannot be read.
void Apply(const Word& w, SimOptions& o, std::string& error) {
    if (w.name == "--simulate") {
        ReadSwitch(w, o.simulate, error);
    } else if (w.name == "--sim-variant") {
        ReadBridgeText(w, o.variant, o.bridge_variant, error);
    } else if (w.name == "--sim-bridge-serial") {
        std::string text;
        std::optional<uint32_t> bridge;
        if (SplitBridge(w, text, bridge, error) && error.empty()) {
            if (!bridge) {
                error = "--sim-bridge-serial needs a bridge: --sim-bridge-serial=K:TEXT";
            } else {
                o.bridge_serial[*bridge] = text;
            }
        }
    } else if (w.name == "--sim-version") {
        ReadBridgeText(w, o.version, o.bridge_version, error);
    } else if (w.name == "--sim-erase-blocks") {
        ReadNumber32(w, 0, 100000, o.erase_blocks, error);
    } else if (w.name == "--sim-baud") {
        ReadNumber32(w, 0, 12000000, o.baud, error);
    } else if (w.name == "--sim-report-length") {
        // A report needs its ID, two framing bytes and room for one data byte.
        ReadNumber32(w, 4, 4096, o.report_length, error);
    } else if (w.name == "--sim-legacy-hid") {
        ReadSwitch(w, o.legacy_hid, error);
    } else if (w.name == "--sim-targets") {
        ReadNumber32(w, 0, 1000000, o.targets, error);
    } else if (w.name == "--sim-faults") {
        if (!w.has_value) {
            error = "--sim-faults needs a value: --sim-faults=LIST";
            return;
        }
        std::string list;
        std::optional<uint32_t> bridge;
        if (!SplitBridge(w, list, bridge, error)) return;
        FaultPlan plan;
        if (!ParseFaultList(list, plan, error)) return;
        if (!bridge) {
            o.faults = plan;
        } else if (!o.bridge_faults.emplace(*bridge, plan).second) {
            error = "--sim-faults: bridge " + std::to_string(*bridge) + " is given twice";
        }
    } else if (w.name == "--sim-swap") {
        ReadSwap(w, o, error);
    } else if (w.name == "--sim-bridges") {
        ReadNumber32(w, 1, 64, o.bridges, error);
    } else if (w.name == "--sim-real-time") {
        ReadSwitch(w, o.real_time, error);
    } else if (w.name == "--sim-seed") {
        ReadNumber(w, 0, UINT64_MAX, o.seed, error);
    } else if (w.name == "--sim-serial-log") {
        ReadPath(w, o.serial_log, error);
    } else if (w.name == "--sim-flash-out") {
        ReadPath(w, o.flash_out, error);
    } else if (w.name == "--sim-flash-dir") {
        if (!w.has_value || w.value.empty()) {
            error = "--sim-flash-dir needs a folder: --sim-flash-dir=DIR";
        } else {
            o.flash_dir = w.value;
        }
    } else {
        error = "unknown simulator option " + w.name;
    }
}

}  // namespace

bool FaultPlan::operator==(const FaultPlan& other) const {
    return drop_ppb == other.drop_ppb && flip_ppb == other.flip_ppb &&
           noise_ppb == other.noise_ppb && silence_after == other.silence_after &&
           unplug_after == other.unplug_after;
}

bool ParseFaultList(const std::string& text, FaultPlan& plan, std::string& error) {
    FaultPlan result;
    bool seen[5] = {false, false, false, false, false};
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        static const char* const kKeys[5] = {"drop", "flip", "noise", "silence", "unplug"};
        int index = -1;
        for (int i = 0; i < 5; ++i) {
            if (key == kKeys[i]) index = i;
        }
        if (index < 0) {
            error = "--sim-faults: unknown fault " + Quoted(item) +
                    " (known: drop=P, flip=P, noise=P, silence=N, unplug=N)";
            return false;
        }
        if (seen[index]) {
            error = "--sim-faults: " + key + " is given twice";
            return false;
        }
        seen[index] = true;
        if (index < 3) {
            uint32_t ppb = 0;
            if (eq == std::string::npos || !ParseProbability(value, ppb)) {
                error = "--sim-faults: " + key + " needs a probability from 0 to 1, as in " + key +
                        "=0.01";
                return false;
            }
            (index == 0 ? result.drop_ppb : index == 1 ? result.flip_ppb : result.noise_ppb) = ppb;
        } else {
            uint64_t count = 0;
            if (eq == std::string::npos || !ParseWhole(value, UINT64_MAX, count)) {
                error = "--sim-faults: " + key + " needs a whole number of bytes, as in " + key +
                        "=100";
                return false;
            }
            (index == 3 ? result.silence_after : result.unplug_after) = count;
        }
        if (end == text.size()) break;
        if (start == text.size()) {
            error = "--sim-faults: the list ends with a comma";
            return false;
        }
    }
    plan = result;
    return true;
}

std::string BridgeFileName(const std::string& path, uint32_t number, uint32_t bridges) {
    if (bridges <= 1 || path.empty()) return path;
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    // A leading dot ("flash/.hex") starts a name, not an extension.
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    const std::string suffix = "-" + std::to_string(number);
    return hasExtension ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
}

std::string BridgeSerialOf(const SimOptions& options, uint32_t number) {
    const auto own = options.bridge_serial.find(number);
    return own != options.bridge_serial.end() ? own->second : SimBridge::SerialOf(number);
}

SimOptions ForBridge(const SimOptions& options, uint32_t number) {
    SimOptions bridge = options;
    bridge.bridge_number = number;
    const auto own = options.bridge_faults.find(number);
    if (own != options.bridge_faults.end()) bridge.faults = own->second;
    if (auto it = options.bridge_variant.find(number); it != options.bridge_variant.end()) {
        bridge.variant = it->second;
    }
    if (auto it = options.bridge_version.find(number); it != options.bridge_version.end()) {
        bridge.version = it->second;
    }
    if (auto it = options.bridge_swap.find(number); it != options.bridge_swap.end()) {
        bridge.swap = it->second;
    }
    bridge.bridge_faults.clear();
    bridge.bridge_swap.clear();
    bridge.bridge_variant.clear();
    bridge.bridge_version.clear();
    // Each bridge draws its own faults, the same in every run.
    bridge.seed = options.seed + (number - 1);
    bridge.serial_log = BridgeFileName(options.serial_log, number, options.bridges);
    bridge.flash_out = BridgeFileName(options.flash_out, number, options.bridges);
    return bridge;
}

SimOptionsResult TakeSimOptions(std::vector<std::string>& args) {
    SimOptionsResult result;
    std::vector<std::string> rest;
    std::string first_setting;  // a --sim-* word, to name it if --simulate is missing
    for (const std::string& arg : args) {
        if (arg.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) {
            rest.push_back(arg);
            continue;
        }
        const Word w = Split(arg);
        if (result.error.empty()) Apply(w, result.options, result.error);
        if (w.name != "--simulate" && first_setting.empty()) first_setting = w.name;
    }
    if (result.error.empty() && !result.options.simulate && !first_setting.empty()) {
        result.error = first_setting + " has no effect without --simulate";
    }
    // A setting for a bridge that is not there is a mistake worth hearing of.
    uint32_t highest = 0;
    const char* named = "";
    const SimOptions& o = result.options;
    if (!o.bridge_faults.empty() && o.bridge_faults.rbegin()->first > highest) {
        highest = o.bridge_faults.rbegin()->first;
        named = "--sim-faults";
    }
    if (!o.bridge_variant.empty() && o.bridge_variant.rbegin()->first > highest) {
        highest = o.bridge_variant.rbegin()->first;
        named = "--sim-variant";
    }
    if (!o.bridge_version.empty() && o.bridge_version.rbegin()->first > highest) {
        highest = o.bridge_version.rbegin()->first;
        named = "--sim-version";
    }
    if (!o.bridge_serial.empty() && o.bridge_serial.rbegin()->first > highest) {
        highest = o.bridge_serial.rbegin()->first;
        named = "--sim-bridge-serial";
    }
    if (!o.bridge_swap.empty() && o.bridge_swap.rbegin()->first > highest) {
        highest = o.bridge_swap.rbegin()->first;
        named = "--sim-swap";
    }
    if (result.error.empty() && highest > o.bridges) {
        result.error = std::string(named) + ": there is no bridge " + std::to_string(highest) +
                       " (" + std::to_string(o.bridges) +
                       " simulated; --sim-bridges=N sets how many)";
    }
    args.swap(rest);
    return result;
}

}  // namespace farsend::sim
