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
#include "app/shell_port.h"
#include "app/station.h"
#include "app/tool_settings.h"
#include "cli/bridge_advice.h"
#include "cli/commands.h"
#include "cli/communication_failure.h"
#include "cli/exit_status.h"
#include "cli/fit_verdict.h"
#include "cli/format_hint.h"
#include "cli/image_choice.h"
#include "cli/image_kind_check.h"
#include "cli/interrupt.h"
#include "cli/missing_firmware.h"
#include "cli/progress_display.h"
#include "cli/run_image.h"
#include "cli/sha256.h"
#include "cli/station_board.h"
#include "cli/station_bridge.h"
#include "cli/station_stream.h"
#include "cli/terminal.h"
#include "cli/unit_ledger.h"
#include "cli/unit_record.h"
#include "cli/unit_verdict.h"
#include "common/diagnostics.h"
#include "common/printable_text.h"
#include "common/virtual_clock.h"
#include "firmware/image_names.h"
#include "jobs/command_ids.h"
#include "jobs/connection_monitor.h"
#include "jobs/job_workers.h"
#include "jobs/socket_hold.h"
#include "link/hid_serial_link.h"
#include "protocol/exchanges.h"
#include "protocol/image_format.h"
#include "protocol/image_reader.h"
#include "sim/sim_bridge.h"
#include "sim/simulation.h"

namespace farsend::cli {
namespace {

// What the monitor is run for.
enum class Policy {
    ConnectOnly,  // erase, identify, launch: connect, then the command acts
    ProgramOnce,  // program: one programming attempt
    Watch,        // watch: an attempt for every target that connects
};

// What a station's link reaches its bridge through, declared in the order
// in which it must be torn down backwards: the simulated bridge lives in the
// simulated time, and the station (whose link closes its handles on the
// platform) goes before all of it.
struct Wiring {
    VirtualClock simulatedTime{Millis(0)};
    link::NullHidPlatform noPlatform;
    std::unique_ptr<StationBridge> bridge;
    std::unique_ptr<sim::Simulation> simulation;
    app::StationBridge seat;

    // The time the station's link lives in.
    Clock& Time() { return seat.clock != nullptr ? *seat.clock : RealClock(); }
};

// Where a station's bridge is: a device name that its link opens alone
// (none: the first bridge found), or one of the simulated bridges.
struct StationPlan {
    std::string name;          // shown in every line and record
    std::string device;        // --device NAME or the bridge found by --all
    uint32_t simBridge = 0;    // 1..--sim-bridges; 0 without --simulate
    std::string bridgeSerial;  // the bridge's USB serial, when known
};

// Sets up the link of one station. Returns -1 when it is ready, else the
// exit status (with the message already shown).
int Wire(const CliOptions& options, Console& console, const Environment& env,
         const StationPlan& plan, Wiring& wiring) {
    link::HidPlatform* platform =
        env.systemPlatform != nullptr ? env.systemPlatform : &wiring.noPlatform;
    if (options.sim.simulate) {
        std::string error;
        const sim::SimOptions bridge = sim::ForBridge(options.sim, plan.simBridge);
        wiring.simulation = sim::Simulation::Create(
            bridge, error, options.sim.real_time ? nullptr : &wiring.simulatedTime);
        if (!wiring.simulation) {
            Complain(console, error);
            return kExitUsage;
        }
        platform = &wiring.simulation->Platform();
        wiring.seat.clock = &wiring.simulation->LinkClock();
    }
    // watch on a named bridge is a station's loop: a bridge not plugged in
    // yet, or being replugged, is waited for (under --wait), as targets are.
    // A simulated bridge never comes back.
    bool waiting = false;
    std::optional<BridgeFound> named;
    if (!plan.device.empty()) {
        named = BridgeNamed(FindBridges(*platform), plan.device);
        wiring.bridge = std::make_unique<StationBridge>(plan.device, named);
        wiring.seat.locator = wiring.bridge.get();
        if (!named && !InterfaceNamed(*platform, plan.device)) {
            if (options.command != Command::Watch || options.sim.simulate) {
                Complain(console,
                         "--device " + plan.device +
                             ": no such HID interface; `farsend devices` lists the bridges.");
                return kExitNoTarget;
            }
            Complain(console, "waiting for the bridge " + plan.device + " to be plugged in.");
            waiting = true;
        }
    }
    wiring.seat.platform = platform;
    if (waiting) return -1;
    if (plan.device.empty() ? CountBridges(*platform) == 0 : !named) {
        if (!plan.device.empty()) {
            Complain(console, plan.device + " is not the bridge (" + BridgeIdText() +
                                  "); `farsend devices` lists the bridges.");
        } else if (options.sim.simulate) {
            Complain(console, "the simulated bridge is unplugged.");
        } else {
            Complain(console, NoBridgeAdvice());
        }
        return kExitNoTarget;
    }
    return -1;
}

// A station's name on its diagnostic lines: among several stations, as on
// its other lines; a run on one bridge keeps its lines as they are.
std::string DiagnosticNameOf(const CliOptions& options, const StationPlan& plan) {
    return options.all || options.devices.size() > 1 ? plan.name : std::string();
}

// What the stations of one run share besides the firmware choice.
struct RunShared {
    // Units begun (a target taken for programming) and finished, over all
    // stations: --count is a count of the whole run, and unit numbers run
    // through all stations.
    std::atomic<uint32_t> begun{0};
    std::atomic<uint32_t> finished{0};
    // What program and watch send to every unit; none for the others.
    RunImage* image = nullptr;
};

int StatusOf(const jobs::JobReport& report) {
    switch (report.outcome) {
        case jobs::JobOutcome::Success:
            return kExitSuccess;
        case jobs::JobOutcome::FileOpenFailed:
        case jobs::JobOutcome::FileFormatError:
            return kExitFirmwareFile;
        case jobs::JobOutcome::CommunicationError:
            return kExitCommunication;
        case jobs::JobOutcome::EraseError:
            return kExitEraseError;
        case jobs::JobOutcome::Interrupted:
            return kExitStopped;
    }
    return kExitCommunication;
}

ProgressMode ModeFor(const CliOptions& options, const Console& console) {
    if (options.quiet) return ProgressMode::Quiet;
    return console.errIsTerminal ? ProgressMode::Terminal : ProgressMode::Plain;
}

class Session final : public jobs::MainWindowPort,
                      public app::ShellPort,
                      public jobs::StationObserver {
public:
    Session(const CliOptions& options, Console& console, Wiring& wiring,
            jobs::FirmwareChoice& choice, Policy policy, RunShared& shared, StationPlan plan,
            UnitLedger* ledger)
        : options_(options),
          console_(console),
          wiring_(wiring),
          choice_(choice),
          policy_(policy),
          shared_(shared),
          plan_(std::move(plan)),
          ledger_(ledger),
          display_(console.err, ModeFor(options, console), console.terminalWidth, wiring.Time()),
          station_(app::StationParts{wiring.seat, choice, state_, *this, *this, this, nullptr,
                                     policy == Policy::Watch ? &hold_ : nullptr}) {
        // A failure's result line tells it where its message would be seen.
        tellOnce_ = policy != Policy::ConnectOnly && !options.json && console.outIsTerminal;
        // A unit's failure is told by the session, in farsend's words.
        display_.ShowMessages(policy == Policy::ConnectOnly);
        state_.autoProgram = policy == Policy::Watch;
        if (policy == Policy::ProgramOnce) state_.programRequest = jobs::kProgramRequested;
        if (policy == Policy::Watch) {
            if (options.waitGiven) deadline_ = Millis(options.waitSeconds * 1000LL);
        } else {
            deadline_ = Millis(options.waitSeconds * 1000LL);
        }
    }

    // The operator's answer to the erase-all warning, asked before connecting.
    void ConfirmEraseAll() { eraseAllConfirmed_ = true; }

    // Starts the monitor; the run ends once the policy, the deadline or
    // Ctrl+C (watch) has stopped it. Then a ConnectOnly session holds a
    // connected target, or none.
    void StartMonitor() {
        waitStart_ = wiring_.Time().Now();
        // The monitor's thread runs the station's jobs too: its lines are
        // the station's.
        station_.Monitor().Start(
            [name = DiagnosticNameOf(options_, plan_)] { SetDiagnosticStation(name); });
    }
    // True once the monitor has ended (and been joined).
    bool WaitStopped(Millis timeout) { return station_.Monitor().WaitUntilStopped(timeout); }
    void RequestStop() { station_.Monitor().RequestStop(); }
    // The monitor looks at --wait only between passes, and a pass waits up
    // to 13 s for a silent target: on the real clock the caller watches the
    // deadline too, and the stop cancels that wait. (In simulated time it
    // costs nothing, and watching it only from the monitor keeps the run the
    // same whatever the threads do.)
    bool RealTime() const { return !options_.sim.simulate || options_.sim.real_time; }

    jobs::StationState& State() { return state_; }
    const StationPlan& Plan() const { return plan_; }
    Console& StationConsole() { return console_; }
    // Units of this station that were programmed.
    int Programmed() const { return programmed_; }
    // Its line on the terminal board, which shows each unit's verdict.
    void ShowOn(StationBoard& board, int row) {
        board_ = &board;
        row_ = row;
    }
    // The operator asks for the board in a held socket to be tried again;
    // false when the socket holds none.
    bool RetrySocket() {
        if (!hold_.Retry()) return false;
        station_.Exchanges().WakeReceiver();
        Note("trying the board again");
        return true;
    }
    // The number the operator types to retry this socket.
    void SetSocketNumber(size_t number) { socketNumber_ = number; }

    bool Connected() const { return connected_; }
    // A record or a result of this session could not be written.
    bool LostOutput() const { return lostOutput_; }
    // Watch ended because no simulated target can call any more.
    bool NoMoreTargets() const { return noMoreTargets_; }
    // ... because the failed board stays in its simulated socket.
    bool FailedBoardStays() const { return failedBoardStays_; }
    int Units() const { return units_; }
    int LastFailure() const { return lastFailure_; }
    int LastStatus() const { return lastStatus_; }
    // The status of a unit this station refused before sending anything
    // (no number could be had), after which it took no more; -1: none.
    int Refusal() const { return refusal_; }
    // A second signal: the job in hand stops before its next block.
    void StopJobNow() { stopJob_ = true; }
    app::CommandContext& Commands() { return station_.Commands(); }
    protocol::ExchangeContext& Exchanges() { return station_.Exchanges(); }
    const std::optional<jobs::JobReport>& LastJob() const { return job_; }
    const std::string& LastMessage() const { return message_; }

    void NoTargetMessage() {
        char text[160];
        std::snprintf(text, sizeof text, "no target called within %d s (--wait).\n",
                      options_.waitSeconds);
        Complain(console_, std::string(text) +
                               "Check that the target is powered, wired to the bridge's serial "
                               "side and in its bootloader.");
    }

    // --- called by the monitor, on its thread, before each handshake ---
    void CheckDeadline() {
        if (DeadlinePassed()) station_.Monitor().RequestStop();
        // A simulated watch without targets left would go on handshaking in
        // simulated time for ever, as fast as the processor allows.
        const bool boardStays = hold_.Held() && wiring_.simulation &&
                                !wiring_.simulation->Target().TakesOutFailedBoards();
        if (policy_ == Policy::Watch && wiring_.simulation &&
            (!wiring_.simulation->Target().CanStillCall() || boardStays)) {
            failedBoardStays_ = boardStays;
            noMoreTargets_ = true;
            station_.Monitor().RequestStop();
        }
    }

    // --- either thread ---
    bool DeadlinePassed() {
        if (!deadline_ || connectedSinceWait_) return false;
        return wiring_.Time().Now() - waitStart_.load() >= *deadline_;
    }

    // MainWindowPort and ShellPort: a message box owned by the main window.
    jobs::MessageAnswer ShowMessage(const jobs::Message& message) override {
        if (message.style == jobs::MessageStyle::WarningOkCancel) {
            // The erase-all warning: answered before connecting.
            return eraseAllConfirmed_ ? jobs::MessageAnswer::Ok : jobs::MessageAnswer::Cancel;
        }
        std::string caption = OneLine(message.caption);
        if (!caption.empty() && caption.back() == '.') caption.pop_back();
        Complain(console_, caption + ": " + OneLine(message.text));
        message_ = OneLine(message.text);
        return jobs::MessageAnswer::Ok;
    }

    // StationObserver: the --wait deadline looked at before each handshake,
    // a target taken in hand when it connects, its unit
    // finished when the monitor lets it go, and a refusal told (the window
    // program shows a box instead). The job's own steps go to the display.
    void OnStationEvent(const jobs::StationEvent& event) override {
        switch (event.kind) {
            case jobs::StationEventKind::Searching:
                CheckDeadline();
                return;
            case jobs::StationEventKind::Connected:
                TargetConnected();
                return;
            case jobs::StationEventKind::Disconnected:
                TargetReleased();
                return;
            case jobs::StationEventKind::Refused:
                Refused(event.refusal);
                return;
            case jobs::StationEventKind::BoardTakenOut:
                Note("board taken out; waiting for the next");
                return;
            default:
                return;
        }
    }

    void Refused(jobs::Refusal refusal) {
        if (refusal == jobs::Refusal::NoFirmwareNamed) {
            const jobs::Message box = jobs::RefusalMessage(refusal);
            std::string caption = OneLine(box.caption);
            if (!caption.empty() && caption.back() == '.') caption.pop_back();
            if (!tellOnce_) Complain(console_, caption + ": " + OneLine(box.text));
            message_ = OneLine(box.text);
            BeginAttempt(kExitFirmwareFile);
            return;
        }
        // The window's box does not say why; here the replies tell a target
        // that did not answer from one that is another kind.
        const FitVerdict verdict =
            JudgeUnfitFile(jobs::PathToProgram(choice_, state_),
                           protocol::ReplyTextOf(station_.Exchanges().variantReply,
                                                 protocol::ResponseCode::VariantReply),
                           protocol::ReplyTextOf(station_.Exchanges().versionReply,
                                                 protocol::ResponseCode::VersionReply));
        if (!tellOnce_) Complain(console_, verdict.message);
        message_ = OneLine(verdict.message);
        BeginAttempt(verdict.status);
    }

    void TargetConnected() {
        // --count counts the units of all stations: a station whose target
        // would be one too many leaves it alone and stops.
        if (policy_ == Policy::Watch && options_.count > 0 &&
            shared_.begun.fetch_add(1) >= options_.count) {
            state_.autoProgram = false;
            station_.Monitor().RequestStop();
            return;
        }
        connected_ = true;
        connectedSinceWait_ = true;
        if (board_ != nullptr) board_->SetText(row_, "connected");
        unitStart_ = wiring_.Time().Now();
        if (shared_.image != nullptr) {
            if (auto warning = shared_.image->ChangeWarning()) Complain(console_, *warning);
        }
        // The replies of an earlier unit must not pass for this one's.
        station_.Exchanges().variantReply = {};
        station_.Exchanges().versionReply = {};
        if (policy_ == Policy::ConnectOnly) {
            station_.Monitor().RequestStop();
        } else {
            TakeInHand();
        }
    }

    void TargetReleased() {
        if (!attempting_) return;
        FinishUnit();
        const bool enough = policy_ == Policy::ProgramOnce ||
                            (options_.count > 0 && shared_.finished >= options_.count);
        if (enough) station_.Monitor().RequestStop();
    }

    void SendCommand(int command) override {
        if (command == jobs::kCommandProgramNow) BeginAttempt(kExitSuccess);
        if (command == jobs::kCommandProgrammingFinished && options_.launch) {
            protocol::LaunchTargetApplication(station_.Exchanges());
        }
        app::HandleMainWindowCommand(station_.Commands(), command);
    }

    // The events tell the connection; the window program's status text has
    // nothing to show here.
    void RefreshConnectionText() override {}

    std::optional<std::string> ChooseFirmwareFile(const app::OpenFileRequest&) override {
        return std::nullopt;  // program and watch refuse to start without a file
    }

    void RunJobDialog(jobs::JobKind kind, const std::string& path) override {
        jobs::JobEnvironment environment = station_.JobEnvironment();
        environment.serial = serial_ ? &*serial_ : nullptr;
        environment.stop = &stopJob_;
        if (shared_.image != nullptr && path == shared_.image->Path()) {
            environment.image = shared_.image->Bytes();
        }
        environment.imageFormat = &options_.imageRead;
        job_ = jobs::RunJobWorker(kind, path, environment, display_);
        if (!job_->Succeeded()) message_ = display_.LastMessage();
        if (job_->outcome == jobs::JobOutcome::Interrupted) {
            message_ =
                "stopped by a second signal before the image was sent whole; the target "
                "is not programmed.";
            Complain(console_, message_);
        }
        // The job's message is the window program's, which says neither
        // what became of the target nor what to do; the link and the last
        // receive tell an unplug from a silent target from a garbled line.
        lostWords_.clear();
        if (job_->outcome == jobs::JobOutcome::CommunicationError) {
            const LostTarget lost = JudgeLostTarget(link::HidLinkBridgeGone(station_.Link()),
                                                    station_.Exchanges().lastReceive.load());
            lostWords_ = LostTargetWords(lost);
            message_ = DescribeLostTarget(lost, *job_);
            if (!tellOnce_) Complain(console_, message_);
        } else if (!job_->Succeeded() && !tellOnce_ && policy_ != Policy::ConnectOnly &&
                   !display_.LastMessage().empty()) {
            const std::string& caption = display_.LastCaption();
            Complain(console_, (caption.empty() ? "" : caption + ": ") + display_.LastMessage());
        }
    }

    void EndMessageLoop(int) override {}
    void EndProcess(int) override {}

    // The unit's record; also used for the connect-only commands.
    UnitRecord Record(int status) const {
        UnitRecord record;
        record.command = CommandName(options_.command);
        record.status = status;
        record.message = status == kExitSuccess ? std::string() : message_;
        record.variant = protocol::ReplyTextOf(station_.Exchanges().variantReply,
                                               protocol::ResponseCode::VariantReply);
        record.version = protocol::ReplyTextOf(station_.Exchanges().versionReply,
                                               protocol::ResponseCode::VersionReply);
        record.host = HostOf(options_);
        record.simulated = options_.sim.simulate;
        record.jobName = options_.jobName;
        record.jobSha256 = options_.jobSha256;
        record.station = plan_.name;
        record.bridgeSerial = plan_.bridgeSerial;
        record.unit = unitNumber_;
        if (ticket_) record.serial = ticket_->serial;
        if (policy_ != Policy::ConnectOnly) {
            record.file = choice_.firmwarePath.Get();
            // The digest of what the job sent, not of the file as it is
            // now; before any job, of the run's image.
            if (job_ && IsProgrammingJob(job_->kind)) {
                record.sha256 = !job_->image ? std::string()
                                : shared_.image != nullptr && job_->image == shared_.image->Bytes()
                                    ? shared_.image->Sha256()
                                    : Sha256Hex(*job_->image);
            } else {
                record.sha256 = RunDigest();
            }
        }
        if (job_) {
            record.blocks = job_->blocksSent;
            record.bytes = job_->bytesSent;
        }
        record.seconds = static_cast<double>((wiring_.Time().Now() - unitStart_).count()) / 1000.0;
        return record;
    }

    void PrintResult(const UnitRecord& record) {
        if (options_.json) {
            Print(DumpJson(UnitJson(record)));
            return;
        }
        if (policy_ == Policy::ConnectOnly) return;  // the commands print their own
        Print(ResultLine(record));
    }

    // A result line on standard output. One that cannot be written is told
    // on standard error instead, and the run's status says so.
    void Print(const std::string& line) {
        console_.out << line << '\n';
        console_.out.flush();
        if (!console_.out) {
            lostOutput_ = true;
            Complain(console_, "standard output cannot be written; the result was: " + line);
        }
    }

    std::string ResultLine(const UnitRecord& record) const {
        std::string line;
        if (policy_ == Policy::Watch) line = "unit " + std::to_string(unitNumber_) + ": ";
        if (record.serial) line += "serial " + std::to_string(*record.serial) + ": ";
        if (record.status == kExitSuccess) {
            char figures[96];
            std::snprintf(figures, sizeof figures, ": %llu blocks, %llu bytes in %.1f s",
                          static_cast<unsigned long long>(record.blocks),
                          static_cast<unsigned long long>(record.bytes), record.seconds);
            line += "programmed " + firmware::GetFileNamePart(record.file);
            if (!record.variant.empty() || !record.version.empty()) {
                line += " into " + record.variant + " " + record.version;
            }
            line += figures;
            if (options_.launch) line += "; application started";
        } else {
            line += std::string(record.status == kExitStopped ? "interrupted"
                                                              : ExitStatusName(record.status)) +
                    ": " + record.message;
        }
        // The file's name, the target's replies and what a message quotes
        // of them: one unit, one line, and nothing that drives the terminal.
        return PrintableText(line);
    }

    // A target that was taken in hand and let go before any attempt (the
    // run stopped in between): its row is closed and its number returned.
    // On the calling thread, after the monitor has been joined.
    void LetGo() {
        if (!ticket_) return;
        UnitRecord record = Record(kExitStopped);
        record.message = "let go before anything was sent: the run was stopping";
        WriteToLedger(record, true);
        ticket_.reset();
        serial_.reset();
    }

private:
    // The digest of what this run programs: its image's, else the file's now.
    std::string RunDigest() const {
        if (shared_.image != nullptr) return shared_.image->Sha256();
        return Sha256OfFile(choice_.firmwarePath.Get()).value_or("");
    }

    // The unit's row begun, and its number taken, before anything is sent.
    // A unit that cannot have its number is left alone, and the station
    // takes no more: a number made up here could be issued twice.
    void TakeInHand() {
#if FARSEND_UNIT_DATABASE
        if (ledger_ == nullptr) return;
        UnitRecord unit;
        unit.station = plan_.name;
        unit.bridgeSerial = plan_.bridgeSerial;
        unit.file = choice_.firmwarePath.Get();
        unit.sha256 = RunDigest();
        LedgerBegin begun = ledger_->Begin(unit);
        if (!begun.message.empty()) Complain(console_, begun.message);
        if (!begun.ticket) {
            refusal_ = begun.status;
            state_.autoProgram = false;
            state_.programRequest = jobs::kNoProgramRequest;
            station_.Monitor().RequestStop();
            return;
        }
        ticket_ = std::move(begun.ticket);
        if (ticket_->serial && options_.serial) {
            serial_ = jobs::UnitSerial{
                *options_.serial,
                protocol::SerialBytes(*options_.serial, static_cast<uint64_t>(*ticket_->serial))};
        }
#endif
    }

    // The unit's end into the database, or the spool while it is lost.
    void WriteToLedger(const UnitRecord& record, bool nothingSent) {
#if FARSEND_UNIT_DATABASE
        if (ledger_ == nullptr || !ticket_) return;
        std::string error, notice;
        const bool kept = ledger_->Finish(*ticket_, record, nothingSent, error, notice);
        if (!notice.empty()) Complain(console_, notice);
        if (!kept) {
            lostOutput_ = true;
            Complain(console_, "unit database: " + error +
                                   "\nThis unit is not recorded: " + ResultLine(record));
        }
#else
        (void)record;
        (void)nothingSent;
#endif
    }

    void BeginAttempt(int status) {
        attempting_ = true;
        attemptStatus_ = status;
        job_.reset();
    }

    void FinishUnit() {
        attempting_ = false;
        // The new wait's start before its flag: the calling thread may look.
        waitStart_ = wiring_.Time().Now();
        connectedSinceWait_ = false;
        ++units_;
        unitNumber_ = shared_.finished.fetch_add(1) + 1;
        const int status = job_ ? StatusOf(*job_) : attemptStatus_;
        lastStatus_ = status;
        if (status != kExitSuccess) lastFailure_ = status;
        if (status == kExitSuccess) ++programmed_;
        const UnitRecord record = Record(status);
        PrintResult(record);
        if (board_ != nullptr) {
            board_->SetResult(row_, programmed_, units_ - programmed_,
                              VerdictOf(record, job_ ? lostWords_ : std::string()));
        }
        // The failed board is still in its socket and calls again at once:
        // it is one unit, not one per call, until it is taken out.
        if (policy_ == Policy::Watch && status != kExitSuccess && status != kExitStopped) {
            hold_.Hold();
            Note("take the board out" +
                 (socketNumber_ > 0
                      ? " (or type " + std::to_string(socketNumber_) + " and Enter to try it again)"
                      : std::string()));
        }
        if (!options_.report.empty()) {
            std::string error;
            if (!AppendReportLine(options_.report,
                                  ReportLine(record, std::chrono::system_clock::now()), error)) {
                lostOutput_ = true;
                Complain(console_, "--report: " + error +
                                       "\nThis unit is not recorded: " + ResultLine(record));
            }
        }
        // The number can go back only if no byte of the image went out.
        WriteToLedger(record, !job_ || !job_->dataStarted);
        ticket_.reset();
        serial_.reset();
        message_.clear();
        waitStart_ = wiring_.Time().Now();
    }

    // What the operator is to know about the socket: on its board line, or
    // as a message.
    void Note(const std::string& text) {
        if (board_ != nullptr) {
            board_->SetNote(row_, text);
        } else {
            Complain(console_, text + ".");
        }
    }

    const CliOptions& options_;
    Console& console_;
    Wiring& wiring_;
    jobs::FirmwareChoice& choice_;
    jobs::StationState state_;
    const Policy policy_;
    RunShared& shared_;
    const StationPlan plan_;
    UnitLedger* const ledger_;  // none: the units are not recorded (erase, identify, launch)
    ProgressDisplay display_;
    jobs::SocketHold hold_;
    app::Station station_;
    bool tellOnce_ = false;
    StationBoard* board_ = nullptr;
    int row_ = 0;
    size_t socketNumber_ = 0;
    std::string lostWords_;

    bool eraseAllConfirmed_ = false;
    bool lostOutput_ = false;
    std::atomic<bool> noMoreTargets_{false};
    std::atomic<bool> failedBoardStays_{false};
    std::optional<Millis> deadline_;

    // The --wait deadline's state, looked at from both threads.
    std::atomic<Millis> waitStart_{Millis(0)};
    std::atomic<bool> connectedSinceWait_{false};
    // Written on the monitor's thread; read by the calling thread only after
    // the monitor has been joined (RunMonitor), or on the same thread.
    Millis unitStart_{0};
    bool connected_ = false;
    bool attempting_ = false;
    int attemptStatus_ = kExitSuccess;
    std::optional<jobs::JobReport> job_;
    std::string message_;
    int units_ = 0;
    int programmed_ = 0;
    uint64_t unitNumber_ = 0;
    int lastStatus_ = kExitSuccess;
    int lastFailure_ = kExitSuccess;
    // The unit in hand's row and number, from the monitor's thread; read by
    // the calling thread after the join (LetGo).
    std::optional<LedgerTicket> ticket_;
    std::optional<jobs::UnitSerial> serial_;
    int refusal_ = -1;
    std::atomic<bool> stopJob_{false};
};

// The firmware file program and watch would send, checked whole before any
// target is touched. -1 when it can be used, else the exit status.
int CheckFirmware(const CliOptions& options, Console& console, const app::ToolSettings& settings,
                  std::unique_ptr<RunImage>& image) {
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
    return -1;
}

bool AskEraseAll(Console& console) {
    const jobs::Message warning = app::EraseAllWarning();
    console.err << OneLine(warning.text) << "\nErase all of the target's flash? [y/N] ";
    console.err.flush();
    std::string answer;
    if (!std::getline(console.in, answer)) return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

int Identify(Session& session, Console& console, const CliOptions& options) {
    protocol::TargetIdentity identity;
    const int variantStatus = protocol::QueryTargetVariant(session.Exchanges(), &identity.variant);
    const int versionStatus = protocol::QueryTargetVersion(session.Exchanges(), &identity);
    protocol::DisconnectTarget(session.Exchanges());
    UnitRecord record = session.Record(kExitSuccess);
    if (variantStatus == protocol::kReplyMissing || versionStatus == protocol::kReplyMissing) {
        record.status = kExitCommunication;
        record.message = std::string("the target did not answer the ") +
                         (variantStatus == protocol::kReplyMissing ? "variant" : "version") +
                         " query";
        Complain(console, record.message);
    }
    if (options.json) {
        session.PrintResult(record);
    } else if (record.status == kExitSuccess) {
        session.Print("variant: " + PrintableText(record.variant) +
                      "\nversion: " + PrintableText(record.version));
    }
    return record.status;
}

Policy PolicyFor(Command command) {
    switch (command) {
        case Command::Program:
            return Policy::ProgramOnce;
        case Command::Watch:
            return Policy::Watch;
        default:
            return Policy::ConnectOnly;
    }
}

// One station of the run: its link, its session and, among several, its
// own prefixed output.
struct StationRun {
    std::unique_ptr<std::ostream> out;
    std::unique_ptr<std::ostream> err;
    std::unique_ptr<Console> console;
    Wiring wiring;
    std::unique_ptr<Session> session;
    bool stopped = false;
};

// The stations the options ask for. False with the exit status when one
// cannot be had (the message shown).
bool PlanStations(const CliOptions& options, Console& console, const Environment& env,
                  std::vector<StationPlan>& plans, int& status) {
    if (options.sim.simulate) {
        const uint32_t bridges = options.sim.bridges;
        auto planOf = [](uint32_t number) {
            return StationPlan{sim::SimBridge::LocationOf(number), "", number,
                               sim::SimBridge::SerialOf(number)};
        };
        if (options.devices.empty()) {
            for (uint32_t number = 1; number <= (options.all ? bridges : 1); ++number) {
                plans.push_back(planOf(number));
            }
            return true;
        }
        for (const std::string& device : options.devices) {
            uint32_t found = 0;
            for (uint32_t number = 1; number <= bridges && found == 0; ++number) {
                if (device == sim::SimBridge::PathOf(number) ||
                    device == sim::SimBridge::LocationOf(number) ||
                    device == sim::SimBridge::SerialOf(number)) {
                    found = number;
                }
            }
            if (found == 0) {
                // Bridge 1 has the simulation's other HID interfaces too; its
                // station's filter says what this name is.
                StationPlan plan = planOf(1);
                plan.name = device;
                plan.device = device;
                plans.push_back(plan);
                continue;
            }
            plans.push_back(planOf(found));
        }
        return true;
    }
    link::NullHidPlatform none;
    link::HidPlatform& platform = env.systemPlatform != nullptr ? *env.systemPlatform : none;
    const std::vector<BridgeFound> bridges = FindBridges(platform);
    auto nameOf = [](const BridgeFound& bridge) {
        return bridge.location.empty() ? bridge.path : bridge.location;
    };
    if (options.all) {
        for (const BridgeFound& bridge : bridges) {
            plans.push_back({nameOf(bridge), nameOf(bridge), 0, bridge.serial});
        }
        if (plans.empty() && options.command != Command::Watch) {
            Complain(console, NoBridgeAdvice());
            status = kExitNoTarget;
            return false;
        }
        return true;
    }
    if (options.devices.empty()) {
        StationPlan plan;
        if (!bridges.empty()) {
            plan.name = nameOf(bridges.front());
            plan.bridgeSerial = bridges.front().serial;
        }
        plans.push_back(plan);
        return true;
    }
    for (const std::string& device : options.devices) {
        StationPlan plan{device, device, 0, ""};
        for (const BridgeFound& bridge : bridges) {
            if (device == bridge.path || (!bridge.location.empty() && device == bridge.location) ||
                (!bridge.serial.empty() && device == bridge.serial)) {
                plan.name = nameOf(bridge);
                plan.bridgeSerial = bridge.serial;
            }
        }
        plans.push_back(plan);
    }
    return true;
}

// A line the operator typed during watch: a socket's number (as on the
// board) or name, whose failed board is to be tried again.
template <typename Say>
void RetryTyped(const std::string& typed, const std::vector<std::unique_ptr<StationRun>>& stations,
                Say& say) {
    std::string line = typed;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    while (!line.empty() && line.front() == ' ') line.erase(line.begin());
    if (line.empty()) return;
    for (size_t i = 0; i < stations.size(); ++i) {
        Session& session = *stations[i]->session;
        if (line != std::to_string(i + 1) && line != session.Plan().name) continue;
        if (!session.RetrySocket()) {
            say("socket " + line + " (" + session.Plan().name + ") holds no failed board.");
        }
        return;
    }
    say("no socket " + OneLine(line).substr(0, 40) + ": type a socket's number (1 to " +
        std::to_string(stations.size()) + ") or its name, then Enter, to try its board again.");
}

// Shown at the end of a run of several stations, on standard error.
std::string SummaryText(const std::vector<std::unique_ptr<StationRun>>& stations) {
    std::string text = "summary:";
    for (const auto& station : stations) {
        const Session& session = *station->session;
        text += "\n  " + session.Plan().name + ": " + std::to_string(session.Programmed()) +
                " programmed, " + std::to_string(session.Units() - session.Programmed()) +
                " failed";
    }
    return text;
}

// The status of one station's program or watch, with its messages shown.
int StationStatus(Policy policy, Session& session, bool gang) {
    if (session.Refusal() >= 0) {
        // Its message was shown when the unit was refused.
        if (session.Units() == 0) return session.Refusal();
        const int done = policy == Policy::Watch ? session.LastFailure() : session.LastStatus();
        return MoreSerious(done, session.Refusal());
    }
    if (session.Units() == 0) {
        if (gang && policy == Policy::Watch) return kExitSuccess;  // a socket nobody used
        if (session.NoMoreTargets()) {
            Complain(session.StationConsole(),
                     "no simulated target can call (--sim-targets, --sim-faults); "
                     "nothing was programmed.");
        } else {
            session.NoTargetMessage();
        }
        return kExitNoTarget;
    }
    if (policy == Policy::Watch) {
        if (session.FailedBoardStays()) {
            Complain(session.StationConsole(),
                     "the failed board stays in its simulated socket (--sim-swap takes it out): "
                     "watch ends after " +
                         std::to_string(session.Units()) + " unit" +
                         (session.Units() == 1 ? "" : "s") + ".");
        } else if (session.NoMoreTargets()) {
            Complain(session.StationConsole(),
                     "the simulation has no more targets: watch ends after " +
                         std::to_string(session.Units()) + " unit" +
                         (session.Units() == 1 ? "" : "s") + ".");
        }
        return session.LastFailure();
    }
    return session.LastStatus();
}

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
        const int status = CheckFirmware(options, console, settings, image);
        if (status >= 0) return status;
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
    std::unique_ptr<UnitLedger> ledgerOwner;
    if (policy != Policy::ConnectOnly) {
        // A signal while the database is waited for ends the start cleanly.
        CatchInterrupt();
        int status = kExitDatabase;
        ledgerOwner = UnitLedger::Open(options, console, status);
        if (!ledgerOwner) return status;
    }
    UnitLedger* const ledger = ledgerOwner.get();
#else
    UnitLedger* const ledger = nullptr;
    if (policy != Policy::ConnectOnly && (!options.db.empty() || !options.serialPool.empty())) {
        Complain(console,
                 "--db, --serial and --serial-pool: this build has no unit database; it is part "
                 "of the Linux build only.");
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
    std::vector<std::unique_ptr<StationRun>> stations;
    auto addStation = [&](const StationPlan& plan) -> int {
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
        if (const int status = Wire(options, *stationConsole, env, plan, station->wiring);
            status >= 0) {
            return status;
        }
        station->session = std::make_unique<Session>(options, *stationConsole, station->wiring,
                                                     settings, policy, shared, plan, ledger);
        if (board) station->session->ShowOn(*board, row);
        station->session->SetSocketNumber(stations.size() + 1);
        if (eraseAll) station->session->ConfirmEraseAll();
        stations.push_back(std::move(station));
        return -1;
    };
    for (const StationPlan& plan : plans) {
        if (const int status = addStation(plan); status >= 0) return status;
    }
    if (stations.empty()) {
        say("waiting for bridges to be plugged in (" + BridgeIdText() + ").");
    }

    // From here on a signal lets the target in hand finish and be recorded.
    CatchInterrupt();
    for (auto& station : stations) station->session->StartMonitor();
    // watch --all takes bridges plugged in later too, by their locations.
    const bool discover = options.all && policy == Policy::Watch && !options.sim.simulate;
    Millis lastLook = RealClock().Now();
    bool stopAll = false;
    for (;;) {
        bool running = false;
        for (auto& station : stations) {
            if (station->stopped) continue;
            if (station->session->WaitStopped(running ? Millis(0) : Millis(50))) {
                station->stopped = true;
                continue;
            }
            running = true;
            Session& session = *station->session;
            if (session.RealTime() && session.DeadlinePassed()) session.RequestStop();
        }
        if (policy == Policy::Watch && env.operatorInput != nullptr) {
            for (std::string line; env.operatorInput->NextLine(line);) {
                if (board) board->LineTyped();
                RetryTyped(line, stations, say);
            }
        }
        if (!stopAll &&
            (Interrupted() || (options.count > 0 && shared.finished >= options.count))) {
            stopAll = true;
        }
        if (stopAll) {
            const bool now = StopNow();
            for (auto& station : stations) {
                if (station->stopped) continue;
                station->session->RequestStop();
                if (now) station->session->StopJobNow();
            }
        }
        if (discover && !stopAll && RealClock().Now() - lastLook >= Millis(1000)) {
            lastLook = RealClock().Now();
            for (const BridgeFound& bridge : FindBridges(*env.systemPlatform)) {
                const std::string name = bridge.location.empty() ? bridge.path : bridge.location;
                bool known = false;
                for (const auto& station : stations) known |= station->session->Plan().name == name;
                if (known) continue;
                if (addStation({name, name, 0, bridge.serial}) < 0) {
                    stations.back()->session->StartMonitor();
                    running = true;
                }
            }
        }
        if (!running && !(discover && !stopAll)) break;
        if (!running) RealClock().SleepFor(Millis(50));
    }

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
        refused |= station->session->Refusal() >= 0;
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
        Session& session = *stations.front()->session;
        if (!session.Connected()) {
            session.NoTargetMessage();
            status = kExitNoTarget;
        } else if (options.command == Command::Identify) {
            status = Identify(session, console, options);
        } else if (options.command == Command::Launch) {
            app::StartTargetApplication(session.Commands());
            if (options.json) {
                session.PrintResult(session.Record(kExitSuccess));
            } else {
                session.Print("application started");
            }
        } else {
            app::EraseTargetFlash(session.Commands());
            status = session.LastJob() ? StatusOf(*session.LastJob()) : kExitCommunication;
            protocol::DisconnectTarget(session.Exchanges());
            if (options.json) {
                session.PrintResult(session.Record(status));
            } else if (status == kExitSuccess) {
                session.Print(eraseAll ? "erased all of the flash" : "erased");
            }
        }
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
