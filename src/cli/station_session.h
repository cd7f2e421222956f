// One station of program, watch, erase, identify or launch: the session
// that hosts its jobs and observes its events. It takes a target in hand
// when it connects, runs the programming job the monitor asks for on the
// monitor's own thread, shows the job through the progress display, and
// when the monitor lets the target go it finishes the unit: its result
// line, its --report line and its row in the unit database. Every event it
// has seen then goes on to the unit observer, if one is set: the seam where
// a recorder of units plugs in.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/station.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/line_page.h"
#include "cli/progress_display.h"
#include "cli/run_image.h"
#include "cli/station_board.h"
#include "cli/station_plans.h"
#include "cli/station_wiring.h"
#include "jobs/firmware_choice.h"
#include "jobs/job_workers.h"
#include "jobs/socket_hold.h"
#include "jobs/station_controller.h"
#include "jobs/station_events.h"
#include "jobs/station_host.h"
#include "jobs/station_state.h"
#include "units/record/unit_outcome.h"
#include "units/record/unit_record.h"
#include "units/unit_ledger.h"

namespace farsend::cli {

// What the monitor is run for.
enum class Policy {
    ConnectOnly,  // erase, identify, launch: connect, then the command acts
    ProgramOnce,  // program: one programming attempt
    Watch,        // watch: an attempt for every target that connects
};

Policy PolicyFor(Command command);

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

// The exit status a job's outcome gives.
int StatusOfJob(const jobs::JobReport& report);

ProgressMode ModeFor(const CliOptions& options, const Console& console);

class Session final : public jobs::StationHost,
                      public jobs::StationObserver,
                      public jobs::StationFrontEnd {
public:
    Session(const CliOptions& options, Console& console, Wiring& wiring,
            jobs::FirmwareChoice& choice, Policy policy, RunShared& shared, StationPlan plan,
            units::UnitLedger* ledger)
        : options_(options),
          console_(console),
          wiring_(wiring),
          choice_(choice),
          policy_(policy),
          shared_(shared),
          plan_(std::move(plan)),
          ledger_(ledger),
          display_(console.err, ModeFor(options, console), console.terminalWidth, wiring.Time()),
          station_(app::StationParts{wiring.seat, choice, state_, *this, nullptr, this, nullptr,
                                     policy == Policy::Watch ? &hold_ : nullptr}) {
        // A failure's result line tells it where its message would be seen.
        tellOnce_ = policy != Policy::ConnectOnly && !options.json && console.outIsTerminal;
        // A unit's failure is told by the session, in farsend's words.
        display_.ShowMessages(policy == Policy::ConnectOnly);
        state_.autoProgram = policy == Policy::Watch;
        if (policy == Policy::ProgramOnce) state_.programRequest = jobs::ProgramRequest::Requested;
        if (policy == Policy::Watch) {
            if (options.waitGiven) deadline_ = Millis(options.waitSeconds * 1000LL);
        } else {
            deadline_ = Millis(options.waitSeconds * 1000LL);
        }
    }

    // The operator's answer to the erase-all warning, asked before connecting.
    void SayYesToEraseAll() { eraseAllConfirmed_ = true; }
    // Told every station event after this session has handled it, on the
    // same thread; null: nobody.
    void SetUnitObserver(jobs::StationObserver* observer) { unitObserver_ = observer; }

    // Starts the monitor; the run ends once the policy, the deadline or
    // Ctrl+C (watch) has stopped it. Then a ConnectOnly session holds a
    // connected target, or none.
    void StartMonitor();
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
    // Its tile on the line page, which its events and units go to as well.
    void ShowOnPage(LinePage& page, size_t tile) {
        page_ = &page;
        tile_ = tile;
    }
    // The operator asks for the board in a held socket to be tried again;
    // false when the socket holds none.
    bool RetrySocket();
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
    // (no number could be had), after which it took no more; nothing: none.
    StopStatus Refusal() const { return refusal_; }
    // A second signal: the job in hand stops before its next block.
    void StopJobNow() { stopJob_ = true; }
    protocol::ExchangeContext& Exchanges() { return station_.Exchanges(); }
    const std::optional<jobs::JobReport>& LastJob() const { return job_; }
    const std::string& LastMessage() const { return message_; }

    void NoTargetMessage();

    // --- called by the monitor, on its thread, before each handshake ---
    void CheckDeadline();

    // --- either thread ---
    bool DeadlinePassed();

    // StationObserver: the --wait deadline looked at before each handshake,
    // a target taken in hand when it connects, its unit finished when the
    // monitor lets it go, and a refusal told (the window program shows a box
    // instead). The job's own events go to the display; a lost target's link
    // is closed, and a programmed one started (--launch) and let go.
    void OnStationEvent(const jobs::StationEvent& event) override;
    void HandleStationEvent(const jobs::StationEvent& event);

    void Refused(const jobs::events::Refused& refused);

    void TargetConnected();

    void TargetReleased();

    // StationHost: the monitor's checked target is programmed here, on the
    // monitor's thread, with the file the check was made on.
    void ProgramTarget() override;

    // erase: on the connected target, all of the flash in factory mode once
    // the operator has said yes. False when the link was not to be had.
    bool Erase();

    // The unit's outcome: its last job's, or WITHOUT_JOB when no job ran.
    units::UnitOutcome LastUnitOutcome(units::UnitOutcome withoutJob) const;

    // launch: the connected target starts its application and is let go.
    void Launch();

    // StationFrontEnd: program and watch refuse to start without a file, and
    // the erase-all question was asked before connecting.
    std::optional<std::string> ChooseFile() override { return std::nullopt; }
    bool ConfirmEraseAll() override { return eraseAllConfirmed_; }

    // What this station's jobs run with; `path`: the file a programming
    // job programs ("" for an erase).
    jobs::JobEnvironment JobEnvironmentFor(const std::string& path);
    // What the session keeps and says of a job that ran.
    void JobEnded(const jobs::JobReport& report);

    // The unit's record; also used for the connect-only commands. MESSAGE:
    // what went wrong, when the session's last message does not say it.
    units::UnitRecord Record(units::UnitOutcome outcome,
                             std::optional<std::string> message = std::nullopt) const;

    void PrintResult(const units::UnitRecord& record);

    // A result line on standard output. One that cannot be written is told
    // on standard error instead, and the run's status says so.
    void Print(const std::string& line);

    std::string ResultLine(const units::UnitRecord& record) const;

    // A target that was taken in hand and let go before any attempt (the
    // run stopped in between): its row is closed and its number returned.
    // On the calling thread, after the monitor has been joined.
    void LetGo();

private:
    // The digest of what this run programs: its image's, else the file's now.
    std::string RunDigest() const;

    // The unit's row begun, and its number taken, before anything is sent.
    // A unit that cannot have its number is left alone, and the station
    // takes no more: a number made up here could be issued twice.
    void TakeInHand();

    // The unit's end into the database, or the spool while it is lost.
    void WriteToLedger(const units::UnitRecord& record, bool nothingSent);

    void BeginAttempt(units::UnitOutcome outcome);

    void FinishUnit();

    // What the operator is to know about the socket: on its board line, or
    // as a message.
    void Note(const std::string& text);

    const CliOptions& options_;
    Console& console_;
    Wiring& wiring_;
    jobs::FirmwareChoice& choice_;
    jobs::StationState state_;
    const Policy policy_;
    RunShared& shared_;
    const StationPlan plan_;
    units::UnitLedger* const ledger_;  // none: the units are not recorded (erase, identify, launch)
    ProgressDisplay display_;
    jobs::SocketHold hold_;
    app::Station station_;
    bool tellOnce_ = false;
    StationBoard* board_ = nullptr;
    int row_ = 0;
    LinePage* page_ = nullptr;
    size_t tile_ = 0;
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
    units::UnitOutcome attemptOutcome_ = units::UnitOutcome::Passed;
    std::optional<jobs::JobReport> job_;
    std::string message_;
    int units_ = 0;
    int programmed_ = 0;
    uint64_t unitNumber_ = 0;
    int lastStatus_ = kExitSuccess;
    int lastFailure_ = kExitSuccess;
    // The unit in hand's row and number, from the monitor's thread; read by
    // the calling thread after the join (LetGo).
    std::optional<units::LedgerTicket> ticket_;
    std::optional<jobs::UnitSerial> serial_;
    StopStatus refusal_;
    std::atomic<bool> stopJob_{false};
    jobs::StationObserver* unitObserver_ = nullptr;
};

}  // namespace farsend::cli
