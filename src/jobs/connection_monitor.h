// The connection monitor: a background loop that keeps the tool connected to
// the target and starts programming without the operator's help. While not
// connected it performs the handshake again and again; once connected it
// waits until programming is wanted (autoProgram, or a one-shot
// programRequest), checks that a firmware file is named and, with
// validateDevice, that it fits the target, then asks its host to run the
// programming job (synchronously). After each attempt it closes the link, so
// the next target is met with a fresh handshake. What it does, it tells the
// station's observer.
//
// Only one monitor runs at a time: ConnectionMonitorControl starts, restarts
// and stops it in an orderly way, and never makes its caller wait for a
// monitor, because a monitor may itself be waiting for the caller's thread
// (the window program's user-interface thread runs the job it asks for, and
// shows the connection text it is told).
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "common/clock.h"
#include "jobs/firmware_choice.h"
#include "jobs/message.h"
#include "jobs/socket_hold.h"
#include "jobs/station_events.h"
#include "jobs/station_host.h"
#include "jobs/station_state.h"
#include "protocol/exchange_context.h"

namespace farsend::jobs {

// The pause before each pass, and the one between a programming attempt and
// closing the link.
constexpr Millis kMonitorPassPause{100};
constexpr Millis kAfterProgrammingPause{500};

// "Programming aborted. Flash firmware not specified." / "Missing Firmware."
Message MissingFirmwareMessage();
// "Programming aborted. Attempting to flash incorrect firmware." /
// "Incorrect Firmware."
Message IncorrectFirmwareMessage();
// The box the main window shows for a refusal: one of the two above.
Message RefusalMessage(Refusal refusal);

struct MonitorEnvironment {
    const FirmwareChoice& choice;
    StationState& station;
    protocol::ExchangeContext& exchanges;
    StationHost& host;
    // The monitor's own pauses. Null: the exchanges' (the link's) clock.
    Clock* pacing = nullptr;
    // Told before each handshake while searching, and of each target's
    // connection, identification, refusal and disconnection
    // (station_events.h). Null: nobody is told.
    StationObserver* observer = nullptr;
    // A socket held after a failed unit is not answered until its board is
    // out (socket_hold.h). Null: every call is answered, as the window
    // program does.
    SocketHold* hold = nullptr;
};

// The stop request of one monitor. Requesting wakes a monitor that is
// pausing between passes and ends a handshake in progress at once (the
// handshake takes the flag as its cancel, and the receive it sleeps in is
// woken); any other exchange, above all a programming job's, finishes.
class MonitorStop {
public:
    void Request() {
        requested_ = true;
        wake_.Notify();
        // Both sides are sequentially consistent: either the monitor sees the
        // flag after registering its exchanges, or this sees them.
        if (protocol::ExchangeContext* exchanges = exchanges_.load()) exchanges->WakeReceiver();
    }
    bool Requested() const { return requested_; }
    WakeSignal& Wake() { return wake_; }
    // The flag the handshake looks at.
    const std::atomic<bool>* Flag() const { return &requested_; }
    // Set by the monitor before it first looks at the flag.
    void WakeOnRequest(protocol::ExchangeContext& exchanges) { exchanges_ = &exchanges; }

private:
    std::atomic<bool> requested_{false};
    WakeSignal wake_;
    std::atomic<protocol::ExchangeContext*> exchanges_{nullptr};
};

// The loop itself, on the calling thread, until `stop` is requested. It sets
// monitorRunning when it starts. A stop is looked at before each pass, after
// the pause and before a programming request is taken (which then stays for
// whoever monitors next); it cancels a handshake in progress (the link is
// closed and the pass ends not connected); any other exchange completes.
void ConnectionMonitor(const MonitorEnvironment& environment, MonitorStop& stop);

// Owns the monitor threads. Safe to call from any thread; no call waits for a
// monitor except WaitUntilStopped and the destructor.
class ConnectionMonitorControl {
public:
    explicit ConnectionMonitorControl(MonitorEnvironment environment);
    // Requests a stop and joins every monitor thread. Call WaitUntilStopped
    // first wherever a monitor might be waiting for the destroying thread.
    ~ConnectionMonitorControl();
    ConnectionMonitorControl(const ConnectionMonitorControl&) = delete;
    ConnectionMonitorControl& operator=(const ConnectionMonitorControl&) = delete;

    // Starts a monitor and returns at once. A monitor that runs is asked to
    // stop; the new one, on its own thread, first waits for it to end, then
    // runs `between` (if given; e.g. letting the old target go after a change
    // of port), then monitors. Two monitors never poll side by side.
    void Start(std::function<void()> between = {});
    // Asks the running monitor to stop; returns at once.
    void RequestStop();
    // Waits up to `timeout` (real time) until no monitor thread is alive and
    // joins them; true when none is. A user-interface thread must not block
    // in this for long while a monitor may be sending to it: call it with a
    // short timeout and handle pending sent messages between calls.
    bool WaitUntilStopped(Millis timeout);
    // RequestStop, then WaitUntilStopped in slices of `slice`, calling
    // `whileWaiting` (if given) between them: on a user-interface thread it
    // handles the messages sent to that thread meanwhile, so that a monitor
    // waiting for it can finish its pass. A monitor inside a handshake ends
    // at once (the handshake is cancelled). Returns whether a monitor was
    // running.
    bool Stop(const std::function<void()>& whileWaiting = {}, Millis slice = Millis(10));
    // A monitor thread is alive (running, or waiting for its predecessor).
    bool Running() const;
    // How many monitor threads are alive: one, except for the moment a new
    // one waits for its predecessor to end.
    int AliveCount() const;

private:
    struct Run {
        MonitorStop stop;
    };
    void Finished(const std::shared_ptr<Run>& run);

    const MonitorEnvironment environment_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::shared_ptr<Run> current_;
    std::thread newest_;  // each monitor thread joins the one before it
    int alive_ = 0;
};

}  // namespace farsend::jobs
