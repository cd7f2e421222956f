// The serial setup dialog without its window: the pending COM port (1..4)
// and what a change of port does to the target and the connection monitor.
#pragma once

#include <functional>

#include "app/tool_settings.h"

namespace farsend::app {

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 4;

// What a change of port asks of the rest of the program.
class PortChangeSteps {
public:
    virtual ~PortChangeSteps() = default;
    // Whether a connection monitor runs now.
    virtual bool MonitorRunning() = 0;
    // Puts a new monitor in place of the running one without waiting for
    // it: `release` runs once the old monitor has ended and before the new
    // one polls, so that the two never use the link together.
    virtual void RestartMonitor(std::function<void()> release) = 0;
};

class SerialSetup {
public:
    // Opening: the box of the applied port is checked (COM1 for any value
    // outside 1..4).
    explicit SerialSetup(const ToolSettings& settings);

    int PendingPort() const { return port_; }
    bool Checked(int port) const { return port == port_; }
    // A box clicked; numbers outside 1..4 change nothing.
    void Choose(int port);

    // OK. The same port: nothing happens. Another port: the port is
    // recorded and the target let go: a connected target is told to start
    // its application (`launchTargetApplication`, which closes the link) and
    // the state becomes Disconnected. With a monitor running, that happens
    // between the old monitor's end and the new one's start; without one, at
    // once. `settings` and `launchTargetApplication` must stay usable until
    // then. Returns whether the port changed.
    bool Apply(ToolSettings& settings, PortChangeSteps& steps,
               std::function<void()> launchTargetApplication) const;

private:
    int port_ = kFirstComPort;
};

}  // namespace farsend::app
