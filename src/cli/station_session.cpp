#include "cli/station_session.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "cli/communication_failure.h"
#include "cli/fit_verdict.h"
#include "cli/report_file.h"
#include "cli/sha256.h"
#include "cli/unit_status.h"
#include "cli/unit_verdict.h"
#include "common/diagnostics.h"
#include "common/printable_text.h"
#include "firmware/image_names.h"
#include "protocol/exchanges.h"
#include "protocol/serial_stamp.h"
#include "units/record/unit_json.h"

namespace farsend::cli {

Policy PolicyFor(Command command) {
    switch (command) {
        case Command::Program:
            return Policy::ProgramOnce;
        case Command::Watch:
        case Command::Line:
            return Policy::Watch;
        default:
            return Policy::ConnectOnly;
    }
}

int StatusOfJob(const jobs::JobReport& report) {
    return ExitStatusOf(units::OutcomeOf(report.outcome));
}

ProgressMode ModeFor(const CliOptions& options, const Console& console) {
    if (options.quiet) return ProgressMode::Quiet;
    return console.errIsTerminal ? ProgressMode::Terminal : ProgressMode::Plain;
}

void Session::StartMonitor() {
    waitStart_ = wiring_.Time().Now();
    // The monitor's thread runs the station's jobs too: its lines are
    // the station's.
    station_.Monitor().Start(
        [name = DiagnosticNameOf(options_, plan_)] { SetDiagnosticStation(name); });
}

bool Session::RetrySocket() {
    if (!hold_.Retry()) return false;
    station_.Exchanges().WakeReceiver();
    Note("trying the board again");
    if (page_ != nullptr) page_->Retrying(tile_);
    return true;
}

void Session::NoTargetMessage() {
    char text[160];
    std::snprintf(text, sizeof text, "no target called within %d s (--wait).\n",
                  options_.waitSeconds);
    Complain(console_, std::string(text) +
                           "Check that the target is powered, wired to the bridge's serial "
                           "side and in its bootloader.");
}

void Session::CheckDeadline() {
    if (DeadlinePassed()) station_.Monitor().RequestStop();
    // A simulated watch without targets left would go on handshaking in
    // simulated time for ever, as fast as the processor allows.
    // A board the operator asked to try again is answered, not waited on.
    const bool boardStays = hold_.Held() && !hold_.RetryFlag()->load() && wiring_.simulation &&
                            !wiring_.simulation->Target().TakesOutFailedBoards();
    if (policy_ == Policy::Watch && wiring_.simulation &&
        (!wiring_.simulation->Target().CanStillCall() || boardStays)) {
        failedBoardStays_ = boardStays;
        noMoreTargets_ = true;
        station_.Monitor().RequestStop();
    }
}

bool Session::DeadlinePassed() {
    if (!deadline_ || connectedSinceWait_) return false;
    return wiring_.Time().Now() - waitStart_.load() >= *deadline_;
}

void Session::OnStationEvent(const jobs::StationEvent& event) {
    if (page_ != nullptr) page_->Feed(tile_).OnStationEvent(event);
    HandleStationEvent(event);
    jobs::Tell(unitObserver_, event);
}

void Session::HandleStationEvent(const jobs::StationEvent& event) {
    namespace events = jobs::events;
    if (std::holds_alternative<events::Searching>(event)) {
        CheckDeadline();
    } else if (std::holds_alternative<events::Connected>(event)) {
        TargetConnected();
    } else if (std::holds_alternative<events::Disconnected>(event)) {
        TargetReleased();
    } else if (const auto* refused = std::get_if<events::Refused>(&event)) {
        Refused(*refused);
    } else if (std::holds_alternative<events::BoardTakenOut>(event)) {
        Note("board taken out; waiting for the next");
    } else {
        display_.OnStationEvent(event);
        const auto* problem = std::get_if<events::JobProblem>(&event);
        if (problem != nullptr && problem->problem == events::JobProblemKind::CommunicationLost) {
            protocol::DisconnectTarget(station_.Exchanges());
            state_.connectionState = jobs::ConnectionState::Disconnected;
        } else if (std::holds_alternative<events::DataEnded>(event)) {
            if (options_.launch) protocol::LaunchTargetApplication(station_.Exchanges());
            state_.connectionState = jobs::ConnectionState::Disconnected;
        }
    }
}

void Session::Refused(const jobs::events::Refused& refused) {
    if (refused.refusal == jobs::Refusal::NoFirmwareNamed) {
        const jobs::Message box = jobs::RefusalMessage(refused.refusal);
        std::string caption = OneLine(box.caption);
        if (!caption.empty() && caption.back() == '.') caption.pop_back();
        if (!tellOnce_) Complain(console_, caption + ": " + OneLine(box.text));
        message_ = OneLine(box.text);
        BeginAttempt(units::UnitOutcome::FirmwareFileError);
        return;
    }
    // The window's box does not say why; the refusal does.
    const FitVerdict verdict = VerdictOf(refused);
    if (!tellOnce_) Complain(console_, verdict.message);
    message_ = OneLine(verdict.message);
    BeginAttempt(verdict.status == kExitCommunication ? units::UnitOutcome::CommunicationError
                                                      : units::UnitOutcome::DoesNotFit);
}

void Session::TargetConnected() {
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

void Session::TargetReleased() {
    if (!attempting_) return;
    FinishUnit();
    const bool enough = policy_ == Policy::ProgramOnce ||
                        (options_.count > 0 && shared_.finished >= options_.count);
    if (enough) station_.Monitor().RequestStop();
}

void Session::ProgramTarget() {
    BeginAttempt(units::UnitOutcome::Passed);
    // The file the monitor checked: the one the controller programs.
    const jobs::JobAttempt attempt = jobs::ProgramStation(
        JobEnvironmentFor(jobs::PathToProgram(choice_, state_)), choice_, *this);
    if (attempt.report) JobEnded(*attempt.report);
}

bool Session::Erase() {
    const jobs::JobAttempt attempt = jobs::EraseStation(JobEnvironmentFor({}), choice_, *this);
    if (!attempt.report) return false;
    JobEnded(*attempt.report);
    return true;
}

void Session::Launch() {
    const jobs::LinkClaim claim(state_.linkUser, jobs::LinkUser::Operator);
    if (!claim.Held()) return;
    protocol::LaunchTargetApplication(station_.Exchanges());
    state_.connectionState = jobs::ConnectionState::Disconnected;
}

jobs::JobEnvironment Session::JobEnvironmentFor(const std::string& path) {
    jobs::JobEnvironment environment = station_.JobEnvironment();
    environment.serial = serial_ ? &*serial_ : nullptr;
    environment.stop = &stopJob_;
    if (shared_.image != nullptr && path == shared_.image->Path()) {
        environment.image = shared_.image->Bytes();
    }
    environment.imageFormat = &options_.imageRead;
    return environment;
}

void Session::JobEnded(const jobs::JobReport& report) {
    job_ = report;
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
    if (jobs::LostTheTarget(job_->outcome)) {
        const LostTarget lost = JudgeLostTarget(job_->outcome == jobs::JobOutcome::BridgeUnplugged,
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

units::UnitOutcome Session::LastUnitOutcome(units::UnitOutcome withoutJob) const {
    return job_ ? units::OutcomeOf(job_->outcome) : withoutJob;
}

units::UnitRecord Session::Record(units::UnitOutcome outcome,
                                  std::optional<std::string> message) const {
    units::UnitRecord record;
    units::UnitFinish& finish = record.finish.emplace();
    record.command = CommandName(options_.command);
    finish.end = std::chrono::system_clock::now();
    finish.SetOutcome(outcome);
    finish.exitStatus = ExitStatusOf(outcome);
    if (outcome != units::UnitOutcome::Passed) finish.message = message ? *message : message_;
    finish.variant = protocol::ReplyTextOf(station_.Exchanges().variantReply,
                                           protocol::ResponseCode::VariantReply);
    finish.version = protocol::ReplyTextOf(station_.Exchanges().versionReply,
                                           protocol::ResponseCode::VersionReply);
    record.start.host = HostOf(options_);
    record.start.simulated = options_.sim.simulate;
    record.start.jobName = options_.jobName;
    record.start.jobSha256 = options_.jobSha256;
    record.start.station = plan_.name;
    record.start.bridgeSerial = plan_.bridgeSerial;
    record.unit = unitNumber_;
    if (ticket_) record.serial = ticket_->serial;
    if (policy_ != Policy::ConnectOnly) {
        record.start.file = choice_.firmwarePath.Get();
        // The digest of what the job sent, not of the file as it is
        // now; before any job, of the run's image.
        if (job_ && IsProgrammingJob(job_->kind)) {
            record.start.sha256 =
                !job_->image ? std::string()
                : shared_.image != nullptr && job_->image == shared_.image->Bytes()
                    ? shared_.image->Sha256()
                    : Sha256Hex(*job_->image);
        } else {
            record.start.sha256 = RunDigest();
        }
    }
    if (job_) {
        finish.blocks = job_->blocksSent;
        finish.bytes = job_->bytesSent;
    }
    finish.seconds = static_cast<double>((wiring_.Time().Now() - unitStart_).count()) / 1000.0;
    return record;
}

void Session::PrintResult(const units::UnitRecord& record) {
    if (options_.json) {
        Print(units::UnitJsonLine(record, units::UnitJsonForm::Result));
        return;
    }
    if (policy_ == Policy::ConnectOnly) return;  // the commands print their own
    Print(ResultLine(record));
}

void Session::Print(const std::string& line) {
    console_.out << line << '\n';
    console_.out.flush();
    if (!console_.out) {
        lostOutput_ = true;
        Complain(console_, "standard output cannot be written; the result was: " + line);
    }
}

std::string Session::ResultLine(const units::UnitRecord& record) const {
    const units::UnitFinish& finish = *record.finish;
    std::string line;
    if (policy_ == Policy::Watch) line = "unit " + std::to_string(unitNumber_) + ": ";
    if (record.serial) line += "serial " + std::to_string(*record.serial) + ": ";
    if (finish.outcome == units::UnitOutcome::Passed) {
        char figures[96];
        std::snprintf(figures, sizeof figures, ": %llu blocks, %llu bytes in %.1f s",
                      static_cast<unsigned long long>(finish.blocks),
                      static_cast<unsigned long long>(finish.bytes), finish.seconds);
        line += "programmed " + firmware::GetFileNamePart(record.start.file);
        if (!finish.variant.empty() || !finish.version.empty()) {
            line += " into " + finish.variant + " " + finish.version;
        }
        line += figures;
        if (options_.launch) line += "; application started";
    } else {
        line += std::string(units::UnitOutcomeWord(*finish.outcome)) + ": " + finish.message;
    }
    // The file's name, the target's replies and what a message quotes
    // of them: one unit, one line, and nothing that drives the terminal.
    return PrintableText(line);
}

void Session::LetGo() {
    if (!ticket_) return;
    units::UnitRecord record = Record(units::UnitOutcome::Interrupted);
    record.finish->message = "let go before anything was sent: the run was stopping";
    WriteToLedger(record, true);
    ticket_.reset();
    serial_.reset();
}

std::string Session::RunDigest() const {
    if (shared_.image != nullptr) return shared_.image->Sha256();
    return Sha256OfFile(choice_.firmwarePath.Get()).value_or("");
}

void Session::TakeInHand() {
#if FARSEND_UNIT_DATABASE
    if (ledger_ == nullptr) return;
    units::UnitStart unit;
    unit.station = plan_.name;
    unit.bridgeSerial = plan_.bridgeSerial;
    unit.file = choice_.firmwarePath.Get();
    unit.sha256 = RunDigest();
    units::LedgerBegin begun = ledger_->Begin(unit);
    if (!begun.message.empty()) Complain(console_, begun.message);
    if (!begun.ticket) {
        refusal_ = static_cast<ExitStatus>(ExitStatusOf(begun.refusal));
        state_.autoProgram = false;
        state_.programRequest = jobs::ProgramRequest::None;
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

void Session::WriteToLedger(const units::UnitRecord& record, bool nothingSent) {
#if FARSEND_UNIT_DATABASE
    if (ledger_ == nullptr || !ticket_) return;
    const units::LedgerFinish finished = ledger_->Finish(*ticket_, record, nothingSent);
    if (!finished.notice.empty()) Complain(console_, finished.notice);
    if (!finished.kept) {
        lostOutput_ = true;
        Complain(console_, "unit database: " + finished.error +
                               "\nThis unit is not recorded: " + ResultLine(record));
    }
#else
    (void)record;
    (void)nothingSent;
#endif
}

void Session::BeginAttempt(units::UnitOutcome outcome) {
    attempting_ = true;
    attemptOutcome_ = outcome;
    job_.reset();
}

void Session::FinishUnit() {
    attempting_ = false;
    // The new wait's start before its flag: the calling thread may look.
    waitStart_ = wiring_.Time().Now();
    connectedSinceWait_ = false;
    ++units_;
    unitNumber_ = shared_.finished.fetch_add(1) + 1;
    const units::UnitOutcome outcome = LastUnitOutcome(attemptOutcome_);
    const int status = ExitStatusOf(outcome);
    lastStatus_ = status;
    if (status != kExitSuccess) lastFailure_ = status;
    if (status == kExitSuccess) ++programmed_;
    const units::UnitRecord record = Record(outcome);
    PrintResult(record);
    if (board_ != nullptr) {
        board_->SetResult(row_, programmed_, units_ - programmed_,
                          VerdictOf(record, job_ ? lostWords_ : std::string()));
    }
    const bool held = policy_ == Policy::Watch && outcome != units::UnitOutcome::Passed &&
                      outcome != units::UnitOutcome::Interrupted;
    if (page_ != nullptr) {
        const bool unplugged = job_ && job_->outcome == jobs::JobOutcome::BridgeUnplugged;
        page_->UnitDone(tile_, record, VerdictOf(record, job_ ? lostWords_ : std::string()),
                        unplugged, held);
    }
    // The failed board is still in its socket and calls again at once:
    // it is one unit, not one per call, until it is taken out.
    if (held) {
        hold_.Hold();
        Note("take the board out" +
             (socketNumber_ > 0
                  ? " (or type " + std::to_string(socketNumber_) + " and Enter to try it again)"
                  : std::string()));
    }
    if (!options_.report.empty()) {
        std::string error;
        if (!AppendReportLine(options_.report,
                              units::UnitJsonLine(record, units::UnitJsonForm::Report), error)) {
            lostOutput_ = true;
            Complain(console_,
                     "--report: " + error + "\nThis unit is not recorded: " + ResultLine(record));
        }
    }
    // The number can go back only if no byte of the image went out.
    WriteToLedger(record, !job_ || !job_->dataStarted);
    ticket_.reset();
    serial_.reset();
    message_.clear();
    waitStart_ = wiring_.Time().Now();
}

void Session::Note(const std::string& text) {
    if (board_ != nullptr) {
        board_->SetNote(row_, text);
    } else {
        Complain(console_, text + ".");
    }
}

}  // namespace farsend::cli
