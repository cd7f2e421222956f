#include "cli/target_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/station.h"
#include "app/tool_settings.h"
#include "cli/bridge_advice.h"
#include "cli/commands.h"
#include "cli/communication_failure.h"
#include "cli/connect_only_commands.h"
#include "cli/exit_status.h"
#include "cli/format_hint.h"
#include "cli/gang_supervisor.h"
#include "cli/image_choice.h"
#include "cli/image_kind_check.h"
#include "cli/interrupt.h"
#include "cli/line_page.h"
#include "cli/missing_firmware.h"
#include "cli/progress_display.h"
#include "cli/report_file.h"
#include "cli/run_image.h"
#include "cli/run_status.h"
#include "cli/sha256.h"
#include "cli/station_board.h"
#include "cli/station_bridge.h"
#include "cli/station_plans.h"
#include "cli/station_session.h"
#include "cli/station_stream.h"
#include "cli/station_wiring.h"
#include "cli/terminal.h"
#include "cli/unit_status.h"
#include "cli/unit_verdict.h"
#include "common/diagnostics.h"
#include "common/printable_text.h"
#include "common/virtual_clock.h"
#include "firmware/image_names.h"
#include "jobs/connection_monitor.h"
#include "jobs/job_workers.h"
#include "jobs/socket_hold.h"
#include "link/hid_serial_link.h"
#include "protocol/exchanges.h"
#include "protocol/image_format.h"
#include "protocol/image_reader.h"
#include "sim/sim_bridge.h"
#include "sim/simulation.h"
#include "units/unit_ledger.h"
#if FARSEND_UNIT_DATABASE
#include "cli/database_choice.h"
#include "units/unit_database.h"
#endif

namespace farsend::cli {
namespace {

// The firmware file program and watch would send, checked whole before any
// target is touched. Nothing when it can be used, else the exit status.
StopStatus CheckFirmware(const CliOptions& options, Console& console,
                         const app::ToolSettings& settings, std::unique_ptr<RunImage>& image) {
    const std::string path = settings.firmwarePath.Get();
    if (path.empty()) {
        Complain(console, MissingFirmwareMessage(settings, !options.dir.empty()));
        return kExitFirmwareFile;
    }
    // Read once for the whole run: what is checked here is what every unit
    // gets.
    image = RunImage::Take(path);
    if (!image) {
        Complain(console, path + ": cannot be read");
        return kExitFirmwareFile;
    }
    protocol::ImageFormat format = protocol::ImageFormat::Token;
    const protocol::ProgrammingPlan plan =
        protocol::PlanProgrammingBytes(image->Bytes(), options.imageRead, &format);
    if (plan.error) {
        Complain(console, path + ": " + protocol::ImageFormatTitle(format) +
                              protocol::DescribeImageFormatError(*plan.error) +
                              FormatHint(path, *plan.error) +
                              "\nNothing was sent. Correct the file or choose another one.");
        return kExitFirmwareFile;
    }
    if (auto problem = ImageKindProblem(path, options.factory, options.force)) {
        Complain(console, *problem);
        return kExitDoesNotFit;
    }
    // Every unit's number goes to the same place: one that is not wholly
    // inside the image's data is refused before any target is touched.
    if (options.serial) {
        if (auto problem = protocol::CheckSerialRange(*options.serial, plan.blocks)) {
            Complain(console, "--serial " + protocol::SerialSpecText(*options.serial) + ": " +
                                  problem->message + "\nNothing was sent.");
            return kExitDoesNotFit;
        }
    }
    if (!options.report.empty()) {
        std::string error;
        // Opened now and kept: a report that cannot be kept is found out
        // before the first unit, and a FIFO's reader sees no end meanwhile.
        if (!KeepReportOpen(options.report, error)) {
            Complain(console, "--report " + options.report + ": cannot be written");
            return kExitUsage;
        }
    }
    return std::nullopt;
}

#if FARSEND_UNIT_DATABASE
// The ledger of the database --db names (or the default file). The exit
// status when it cannot be had, with the message shown.
int OpenLedger(const CliOptions& options, Console& console,
               std::unique_ptr<units::UnitLedger>& ledger) {
    const DatabaseChoice choice = ChooseDatabase(options);
    if (choice.location.empty()) {
        Complain(console, std::string("no unit database: give --db PATH|URL (") +
                              units::NoDefaultDatabaseReason() +
                              ", so the default file has no place). Nothing was sent.");
        return kExitDatabase;
    }
    units::LedgerSettings settings;
    settings.location = choice.location;
    settings.createFolder = choice.isDefault;
    settings.host = HostOf(options);
    settings.simulated = options.sim.simulate;
    if (!options.serialPool.empty()) settings.pool = options.serialPool;
    settings.serial = options.serial;
    settings.jobName = options.jobName;
    settings.jobSha256 = options.jobSha256;
    settings.jobImageSha256 = options.jobImageSha256;
    settings.jobUnitLimit = options.jobUnitLimit;
    settings.tell = [&console](const std::string& line) { Complain(console, line); };
    settings.interrupted = Interrupted;
    settings.stopNow = StopNow;
    settings.exitStatusOf = ExitStatusOf;
    units::LedgerOpening opening = units::UnitLedger::Open(std::move(settings));
    ledger = std::move(opening.ledger);
    return ExitStatusOf(opening.refusal);
}
#endif

}  // namespace

int RunTargetCommand(const CliOptions& options, Console& console, const Environment& env) {
    const Policy policy = PolicyFor(options.command);
    if (auto problem = GivenPathProblem(options)) {
        Complain(console, *problem);
        return kExitFirmwareFile;
    }

    // The firmware choice every station shares, made once as the window
    // program makes it.
    app::ToolSettings settings;
    const app::StartUpReport startUp = ChooseImage(options, settings, env.workingDirectory);
    for (const std::string& warning : startUp.warnings) Complain(console, "warning: " + warning);
    settings.validateDevice = !options.noValidate;

    std::unique_ptr<RunImage> image;
    if (policy != Policy::ConnectOnly) {
        if (const StopStatus stop = CheckFirmware(options, console, settings, image)) return *stop;
    }
    bool eraseAll = false;
    if (options.command == Command::Erase && options.factory) {
        eraseAll = options.yes || AskEraseAll(console);
        if (!eraseAll) {
            Complain(console,
                     "nothing erased: erasing all of the flash needs a yes (answer y, or --yes).");
            return kExitStopped;
        }
    }

    // Every unit program and watch handle has its row: a database that
    // cannot be had stops the run before any target is touched.
#if FARSEND_UNIT_DATABASE
    std::unique_ptr<units::UnitLedger> ledgerOwner;
    if (policy != Policy::ConnectOnly) {
        // A signal while the database is waited for ends the start cleanly.
        CatchInterrupt();
        const int refused = OpenLedger(options, console, ledgerOwner);
        if (!ledgerOwner) return refused;
    }
    units::UnitLedger* const ledger = ledgerOwner.get();
#else
    units::UnitLedger* const ledger = nullptr;
    if (policy != Policy::ConnectOnly && (!options.db.empty() || !options.serialPool.empty())) {
        Complain(console,
                 "--db, --serial and --serial-pool: this build has no unit database; it was made "
                 "without SOCI.");
        return kExitDatabase;
    }
#endif

    std::vector<StationPlan> plans;
    if (int status = kExitSuccess; !PlanStations(options, console, env, plans, status)) {
        return status;
    }
    const bool gang = plans.size() > 1 || options.all;
    std::mutex outputLock;
    // On a terminal the stations share a board of live lines.
    std::unique_ptr<StationBoard> board;
    // A board taller than the terminal cannot be redrawn in place: the
    // stations' lines then go out as plain lines.
    const int height = console.errIsTerminal ? StandardErrorHeight() : 0;
    if (gang && console.errIsTerminal && !options.quiet && TerminalTakesCursorControl() &&
        BoardFits(plans.size(), height)) {
        board = std::make_unique<StationBoard>(
            console.err, console.terminalWidth, height,
            ColourWanted(std::getenv("NO_COLOR"), std::getenv("TERM")));
    }
    // A message of the run as a whole, above the board when there is one.
    auto say = [&](const std::string& text) {
        if (board) {
            board->Print(console.err, "farsend: " + text);
        } else {
            Complain(console, text);
        }
    };
    RunShared shared;
    shared.image = image.get();
    // line: the page outlives the stations, whose last events it is told.
    std::unique_ptr<LinePage> page;
    if (options.command == Command::Line) {
        int status = kExitUsage;
        page = LinePage::Open(options, console, status);
        if (!page) return status;
        if (image) page->SetJob(settings.firmwarePath.Get(), *image, options);
    }
    std::vector<std::unique_ptr<StationRun>> stations;
    auto addStation = [&](const StationPlan& plan) -> StopStatus {
        auto station = std::make_unique<StationRun>();
        Console* stationConsole = &console;
        // The bridge's location as its descriptors give it: escaped.
        const std::string prefix = "[" + PrintableText(plan.name) + "] ";
        int row = -1;
        if (board) {
            row = board->Add(PrintableText(plan.name));
            station->out =
                std::make_unique<BoardStream>(*board, row, console.out, options.json ? "" : prefix);
            station->err = std::make_unique<BoardStream>(*board, row, console.err, prefix);
            // The job's bars become the station's line, after its name and
            // counts.
            const int width =
                std::max(40, console.terminalWidth - static_cast<int>(plan.name.size()) - 24);
            station->console = std::make_unique<Console>(Console{
                console.in, *station->out, *station->err, true, width, console.outIsTerminal});
            stationConsole = station->console.get();
        } else if (gang) {
            // JSON objects carry the station's name; plain results get it
            // in front, as messages do.
            station->out = std::make_unique<StationStream>(console.out, outputLock,
                                                           options.json ? "" : prefix);
            station->err = std::make_unique<StationStream>(console.err, outputLock, prefix);
            // Lines of several stations cannot be redrawn in place on one
            // line each with a carriage return: they go out as plain lines.
            station->console =
                std::make_unique<Console>(Console{console.in, *station->out, *station->err, false,
                                                  console.terminalWidth, console.outIsTerminal});
            stationConsole = station->console.get();
        }
        if (const StopStatus stop = Wire(options, *stationConsole, env, plan, station->wiring)) {
            return stop;
        }
        station->session = std::make_unique<Session>(options, *stationConsole, station->wiring,
                                                     settings, policy, shared, plan, ledger);
        if (board) station->session->ShowOn(*board, row);
        if (page) {
            station->session->ShowOnPage(*page, page->AddStation(plan.name, plan.bridgeSerial));
        }
        station->session->SetSocketNumber(stations.size() + 1);
        if (eraseAll) station->session->SayYesToEraseAll();
        stations.push_back(std::move(station));
        return std::nullopt;
    };
    for (const StationPlan& plan : plans) {
        if (const StopStatus stop = addStation(plan)) return *stop;
    }
    if (stations.empty()) {
        say("waiting for bridges to be plugged in (" + BridgeIdText() + ").");
    }

    SuperviseStations(options, env, policy, shared, stations, board.get(), page.get(), say,
                      addStation);

    // A monitor may stop with a target that called and was not taken yet.
    for (auto& station : stations) {
        station->session->LetGo();
        jobs::StationState& state = station->session->State();
        if (policy != Policy::ConnectOnly &&
            state.connectionState == jobs::ConnectionState::Connected) {
            protocol::DisconnectTarget(station->session->Exchanges());
            state.connectionState = jobs::ConnectionState::Disconnected;
        }
    }

    int status = kExitSuccess;
    int units = 0;
    bool refused = false;  // a station refused a unit for want of its number
    for (const auto& station : stations) {
        units += station->session->Units();
        refused |= station->session->Refusal().has_value();
    }
    if (Interrupted() && units == 0) {
        // Stopped before anything was done: a target that had called is let
        // go without being touched.
        bool connected = false;
        for (auto& station : stations) {
            jobs::StationState& state = station->session->State();
            if (state.connectionState == jobs::ConnectionState::Connected) {
                protocol::DisconnectTarget(station->session->Exchanges());
                state.connectionState = jobs::ConnectionState::Disconnected;
            }
            connected |= station->session->Connected();
        }
        say(std::string("stopped: ") +
            (connected ? "the target was let go without " : "no target had called; nothing was ") +
            (policy == Policy::ConnectOnly ? "done" : "programmed") + ".");
        status = kExitStopped;
    } else if (policy == Policy::ConnectOnly) {
        status = FinishConnectOnly(options, console, *stations.front()->session, eraseAll);
    } else if (units == 0 && gang && !refused) {
        say(stations.empty() ? std::string("no bridge was plugged in.")
                             : std::string("no target called on any station."));
        status = kExitNoTarget;
    } else {
        for (auto& station : stations) {
            status = MoreSerious(status, StationStatus(policy, *station->session, gang));
        }
        // Stopped before its --count, or by a signal at all: a run that did
        // not do all it was asked for does not pass for a complete one.
        if (policy == Policy::Watch && status == kExitSuccess && Interrupted()) {
            status = kExitStopped;
        }
    }

    bool lostOutput = false;
    for (auto& station : stations) {
        if (station->wiring.simulation) {
            std::string error;
            if (!station->wiring.simulation->Finish(error)) {
                Complain(station->session->StationConsole(), "--sim-flash-out: " + error);
            }
        }
        lostOutput |= station->session->LostOutput();
    }
    // A change during the last unit is news too, for the next run.
    if (image) {
        if (auto warning = image->ChangeWarning()) say(*warning);
    }
    if (gang && policy != Policy::ConnectOnly && !stations.empty()) say(SummaryText(stations));
    if (lostOutput) status = kExitNotRecorded;
    return status;
}

}  // namespace farsend::cli
