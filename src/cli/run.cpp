#include "cli/run.h"

#include <memory>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/dashboard_command.h"
#include "cli/database_commands.h"
#include "cli/exit_status.h"
#include "cli/help_text.h"
#include "cli/job_commands.h"
#if FARSEND_UNIT_DATABASE
#include "cli/job_gate.h"
#endif
#include "cli/target_session.h"
#include "common/diagnostics.h"
#include "link/bridge_ids.h"
#include "sim/sim_bridge.h"

namespace farsend::cli {
namespace {

int RunDevicesCommand(const CliOptions& options, Console& console, const Environment& env) {
    if (options.sim.simulate) {
        // Each simulated bridge lists itself (bridge 1 with the simulation's
        // other HID interfaces), as the stations of --all find them.
        std::vector<std::unique_ptr<sim::SimBridge>> bridges;
        std::vector<link::HidPlatform*> platforms;
        for (uint32_t number = 1; number <= options.sim.bridges; ++number) {
            sim::SimBridgeOptions bridge = sim::SimBridgeOptions::WithReportLength(
                static_cast<uint16_t>(options.sim.report_length), options.sim.legacy_hid);
            bridge.number = number;
            if (auto own = options.sim.bridge_serial.find(number);
                own != options.sim.bridge_serial.end()) {
                bridge.serial = own->second;
            }
            bridges.push_back(std::make_unique<sim::SimBridge>(bridge));
            platforms.push_back(bridges.back().get());
        }
        return RunDevices(options, console, platforms);
    }
    link::NullHidPlatform none;
    return RunDevices(options, console, env.systemPlatform ? *env.systemPlatform : none);
}

}  // namespace

int RunFarsend(const std::vector<std::string>& words, Console& console, const Environment& env) {
    const ParseResult parsed = ParseArguments(words);
    switch (parsed.action) {
        case ParseAction::Help:
            console.out << HelpText();
            return kExitSuccess;
        case ParseAction::Version:
            console.out << VersionText();
            return kExitSuccess;
        case ParseAction::UsageError:
            Complain(console,
                     parsed.error + "\nRun 'farsend --help' for the commands and options.");
            return kExitUsage;
        case ParseAction::Run:
            break;
    }
    const CliOptions& options = parsed.options;
    // --verbose: the protocol's diagnostic lines on standard error, on every
    // platform (on Windows they otherwise go to the debugger only).
    if (options.verbose) {
        SetDiagnosticSink([&console](std::string_view line) {
            console.err << line;
            console.err.flush();
        });
    }
    struct SinkReset {
        bool active;
        ~SinkReset() {
            if (active) SetDiagnosticSink({});
        }
    } sinkReset{options.verbose};

    int status = kExitSuccess;
    switch (options.command) {
        case Command::Select:
            status = RunSelect(options, console, env.workingDirectory);
            break;
        case Command::Inspect:
            status = RunInspect(options, console);
            break;
        case Command::Convert:
            status = RunConvert(options, console);
            break;
        case Command::Devices:
            status = RunDevicesCommand(options, console, env);
            break;
        case Command::Serials:
        case Command::Units:
        case Command::Dashboard:
#if FARSEND_UNIT_DATABASE
            status = options.command == Command::Serials ? RunSerials(options, console)
                     : options.command == Command::Units ? RunUnits(options, console)
                                                         : RunDashboard(options, console);
#else
            Complain(console, std::string(CommandName(options.command)) +
                                  ": this build has no unit database; it was made "
                                  "without SOCI.");
            status = kExitDatabase;
#endif
            break;
        case Command::Job:
        case Command::Keys:
#if FARSEND_UNIT_DATABASE
            status = options.command == Command::Job ? RunJob(options, console)
                                                     : RunKeys(options, console);
#else
            Complain(console, std::string(CommandName(options.command)) +
                                  ": this build has no production jobs; it was made "
                                  "without SOCI and libsodium.");
            status = options.command == Command::Job ? kExitJobRefused : kExitDatabase;
#endif
            break;
        case Command::Program:
        case Command::Watch:
        case Command::Line:
            if (!options.job.empty()) {
#if FARSEND_UNIT_DATABASE
                // The job's settings replace the command line's, for this run.
                CliOptions fixed = options;
                JobHold hold;
                status = ApplyJob(fixed, console, hold);
                if (status == kExitSuccess) status = RunTargetCommand(fixed, console, env);
#else
                Complain(console,
                         "--job: this build has no production jobs; it was made without SOCI "
                         "and libsodium. Nothing was sent.");
                status = kExitJobRefused;
#endif
                break;
            }
            status = RunTargetCommand(options, console, env);
            break;
        case Command::Erase:
        case Command::Identify:
        case Command::Launch:
            status = RunTargetCommand(options, console, env);
            break;
    }
    // Results that never reached standard output (a full disk, a closed
    // pipe) must not pass for a run that delivered them. The target commands
    // have said so already, with the result itself.
    console.out.flush();
    if (!console.out && status != kExitNotRecorded) {
        Complain(console, "standard output cannot be written: the results are lost.");
        status = kExitNotRecorded;
    }
    // Messages that never reached standard error (a closed pipe) are lost
    // output too: whatever they said, nobody heard it.
    console.err.flush();
    if (!console.err) status = kExitNotRecorded;
    return status;
}

}  // namespace farsend::cli
