#include "jobs/connection_monitor.h"

#include <utility>

#include "firmware/image_names.h"
#include "firmware/validation.h"
#include "protocol/call_watch.h"
#include "protocol/exchanges.h"

namespace farsend::jobs {

Message MissingFirmwareMessage() {
    return {"Programming aborted. Flash firmware not specified.", "Missing Firmware.",
            MessageStyle::Warning};
}

Message IncorrectFirmwareMessage() {
    return {"Programming aborted. Attempting to flash incorrect firmware.", "Incorrect Firmware.",
            MessageStyle::Warning};
}

Message RefusalMessage(Refusal refusal) {
    return refusal == Refusal::NoFirmwareNamed ? MissingFirmwareMessage()
                                               : IncorrectFirmwareMessage();
}

namespace {

void Tell(const MonitorEnvironment& environment, const StationEvent& event) {
    jobs::Tell(environment.observer, event);
}

// The file's name says what it is for.
events::FileIdentity IdentityOf(const std::string& path) {
    events::FileIdentity identity;
    identity.bluetooth = firmware::IsBluetoothImageName(path);
    identity.zigBee = firmware::IsZigBeeImageName(path);
    std::int32_t major = 0, minor = 0;
    if (firmware::ParseImageVersion(path, major, minor)) identity.version.emplace(major, minor);
    return identity;
}

// Validates the file against the target, telling what the target said. A
// file that does not fit is refused with the reason: a query the target did
// not answer, or what the target is beside what the file is for.
bool FirmwareFitsTarget(const MonitorEnvironment& environment, const std::string& path) {
    protocol::ExchangeContext& exchanges = environment.exchanges;
    const bool fits = firmware::ValidateFirmwareForTarget(exchanges, path) != 0;
    events::Identified identified;
    identified.variant =
        protocol::ReplyTextOf(exchanges.variantReply, protocol::ResponseCode::VariantReply);
    identified.version =
        protocol::ReplyTextOf(exchanges.versionReply, protocol::ResponseCode::VersionReply);
    Tell(environment, identified);
    if (fits) return true;
    events::Refused refused;
    refused.refusal = Refusal::FirmwareDoesNotFit;
    refused.path = path;
    if (identified.variant.empty()) {
        refused.unanswered = events::TargetQuery::Variant;
    } else if (identified.version.empty()) {
        refused.unanswered = events::TargetQuery::Version;
    }
    refused.variant = identified.variant;
    refused.version = identified.version;
    refused.file = IdentityOf(path);
    Tell(environment, refused);
    return false;
}

bool ProgrammingWanted(const StationState& station) {
    return station.autoProgram || station.programRequest == ProgramRequest::Requested;
}

// One programming attempt on a connected target, then the link is let go.
void AttemptProgramming(const MonitorEnvironment& environment, Clock& pacing) {
    StationState& station = environment.station;
    protocol::ExchangeContext& exchanges = environment.exchanges;

    station.programRequest = ProgramRequest::None;
    const std::string path = environment.choice.firmwarePath.Get();
    station.attemptPath.Set(path);
    if (path.empty()) {
        Tell(environment, events::Refused{});  // no file named
        protocol::AbortTarget(exchanges);
    } else if (environment.choice.validateDevice && !FirmwareFitsTarget(environment, path)) {
        protocol::AbortTarget(exchanges);
    } else {
        // Returns when the programming job is over; the monitor is suspended
        // meanwhile, so the job has the link to itself.
        environment.host.ProgramTarget();
    }
    station.attemptPath.Set("");

    pacing.SleepFor(kAfterProgrammingPause);
    protocol::DisconnectTarget(exchanges);
    station.connectionState = ConnectionState::Disconnected;
    Tell(environment, events::Disconnected{});
}

// Listens to a held socket; true once its board is out or the operator
// asked for a retry, and the next call may be answered.
bool SocketFree(const MonitorEnvironment& environment, MonitorStop& stop) {
    SocketHold& hold = *environment.hold;
    const protocol::CallWatch watched = protocol::WatchCalls(
        environment.exchanges, kBoardOutQuiet, kBoardWatchWindow, stop.Flag(), hold.RetryFlag());
    if (stop.Requested()) return false;
    if (watched != protocol::CallWatch::Quiet && !(*hold.RetryFlag())) return false;
    if (!hold.Release()) Tell(environment, events::BoardTakenOut{});
    return true;
}

}  // namespace

void ConnectionMonitor(const MonitorEnvironment& environment, MonitorStop& stop) {
    StationState& station = environment.station;
    Clock& pacing = environment.pacing ? *environment.pacing : environment.exchanges.Time();
    station.monitorRunning = true;
    stop.WakeOnRequest(environment.exchanges);

    while (!stop.Requested()) {
        pacing.WaitFor(stop.Wake(), kMonitorPassPause);
        if (stop.Requested()) break;

        if (station.connectionState != ConnectionState::Connected) {
            // The observer's chance to end a wait for a target (a deadline)
            // at the same point of every pass, whatever the threads do.
            Tell(environment, events::Searching{});
            if (stop.Requested()) break;
            if (environment.hold != nullptr && environment.hold->Held() &&
                !SocketFree(environment, stop)) {
                continue;
            }
            if (protocol::ConnectTarget(environment.exchanges, stop.Flag()) ==
                protocol::ExchangeResult::Ok) {
                station.connectionState = ConnectionState::Connected;
                Tell(environment, events::Connected{});
            }
        }

        if (station.connectionState != ConnectionState::Connected) continue;
        if (!ProgrammingWanted(station)) continue;
        // A monitor asked to stop leaves the request to its successor.
        if (stop.Requested()) break;
        // The attempt holds the link until the target is let go. While an
        // erase or launch the operator gave has it, the request waits.
        LinkClaim claim(station.linkUser, LinkUser::Monitor);
        if (!claim.Held()) continue;
        AttemptProgramming(environment, pacing);
    }
}

ConnectionMonitorControl::ConnectionMonitorControl(MonitorEnvironment environment)
    : environment_(environment) {}

ConnectionMonitorControl::~ConnectionMonitorControl() {
    RequestStop();
    std::thread newest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        newest = std::move(newest_);
    }
    if (newest.joinable()) newest.join();
}

void ConnectionMonitorControl::Start(std::function<void()> between) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_) current_->stop.Request();
    auto run = std::make_shared<Run>();
    current_ = run;
    ++alive_;
    std::thread previous = std::move(newest_);
    newest_ = std::thread(
        [this, run, previous = std::move(previous), between = std::move(between)]() mutable {
            if (previous.joinable()) previous.join();
            if (between) between();
            if (!run->stop.Requested()) ConnectionMonitor(environment_, run->stop);
            Finished(run);
        });
}

void ConnectionMonitorControl::RequestStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_) current_->stop.Request();
}

bool ConnectionMonitorControl::WaitUntilStopped(Millis timeout) {
    std::thread newest;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ended_.wait_for(lock, timeout, [this] { return alive_ == 0; })) return false;
        newest = std::move(newest_);
    }
    // It has ended (or is past its last use of this object): the join is
    // immediate.
    if (newest.joinable()) newest.join();
    return true;
}

bool ConnectionMonitorControl::Stop(const std::function<void()>& whileWaiting, Millis slice) {
    const bool wasRunning = Running();
    RequestStop();
    while (!WaitUntilStopped(slice)) {
        if (whileWaiting) whileWaiting();
    }
    return wasRunning;
}

bool ConnectionMonitorControl::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alive_ > 0;
}

int ConnectionMonitorControl::AliveCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return alive_;
}

void ConnectionMonitorControl::Finished(const std::shared_ptr<Run>& run) {
    std::lock_guard<std::mutex> lock(mutex_);
    --alive_;
    if (current_ == run) {
        environment_.station.monitorRunning = false;
        current_.reset();
    }
    ended_.notify_all();
}

}  // namespace farsend::jobs
