// farsend-flasher: the Windows program. Start-up (with the simulator's words
// claimed beside the tool's own), the choice of the link's platform (the
// simulated bridge and target with --simulate, else the system's HID
// libraries), the main window, and an end that never lets static
// destruction run while the monitor or the link's reader still runs.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line_file.h"
#include "app/start_up.h"
#include "app/tool_settings.h"
#include "app/win32/main_window.h"
#include "link/hid_platform.h"
#include "sim/sim_options.h"
#include "sim/simulation.h"

namespace {

constexpr const char* kProgramCaption = "Farsend Flasher";
// How long the end of the message loop waits for the monitor to finish its
// pass (a handshake in progress may take up to 13 seconds to give up).
constexpr DWORD kMonitorStopTimeoutMs = 3000;

void ShowStartUpProblem(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), kProgramCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using namespace farsend;

    app::ToolSettings settings;
    std::vector<std::string> simWords;
    const app::WordClaim claimSimWords = [&simWords](std::string_view word) {
        if (word.substr(0, 5) != "--sim") return false;
        simWords.emplace_back(word);
        return true;
    };
    const app::StartUpReport report =
        app::StartUp(settings, app::ReadStartUpInputs(0, nullptr), claimSimWords);
    const sim::SimOptionsResult simOptions = sim::TakeSimOptions(simWords);
    if (!simOptions.ok()) {
        ShowStartUpProblem(simOptions.error);
        return 2;
    }
    for (const std::string& warning : report.warnings) ShowStartUpProblem(warning);
    if (const auto warning = app::MatchFlashModeToCommandLineFile(settings)) {
        ShowStartUpProblem(*warning);
    }

    // The simulation, when there is one, outlives the window's station.
    std::unique_ptr<sim::Simulation> simulation;
    app::StationBridge bridge;
    if (simOptions.options.simulate) {
        std::string error;
        // The window has one station: the first simulated bridge, with what
        // was given for it alone.
        simulation = sim::Simulation::Create(sim::ForBridge(simOptions.options, 1), error);
        if (!simulation) {
            ShowStartUpProblem(error);
            return 2;
        }
        bridge.platform = &simulation->Platform();
        bridge.clock = &simulation->LinkClock();
    } else {
        bridge.platform = &link::SystemHidPlatform();
    }

    // Command 680 (the shell has closed the link, its reader stopped) and a
    // monitor that will not stop: the simulation's files are finished while
    // every other thread of ours is blocked in a send to this thread or
    // idle; then the process ends without running destructors that those
    // threads use.
    auto endProcess = [&simulation](int exitCode) {
        if (simulation) {
            std::string ignored;
            simulation->Finish(ignored);
        }
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    };

    app::win32::MainWindowShell shell(settings, bridge, endProcess);
    const int exitCode = shell.OpenMainWindow(instance, showCommand);
    if (!shell.StopThreads(kMonitorStopTimeoutMs)) shell.EndProcess(exitCode);
    if (simulation) {
        std::string ignored;
        simulation->Finish(ignored);
    }
    return exitCode;
}
