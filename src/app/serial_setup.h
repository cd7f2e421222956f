// The serial setup dialog without its window: the pending COM port (1..4)
// and what a change of port does to the target and the connection monitor.
#pragma once

#include "app/tool_settings.h"

namespace farsend::app {

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 4;

// What a change of port asks of the rest of the program.
class PortChangeSteps {
public:
    virtual ~PortChangeSteps() = default;
    // Ends the running connection monitor in an orderly way and returns once
    // it no longer touches the link; false when none was running.
    virtual bool StopMonitor() = 0;
    // The start-application command to the connected target; closes the link.
    virtual void LaunchTargetApplication() = 0;
    // Starts a new connection monitor.
    virtual void StartMonitor() = 0;
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
    // recorded; the monitor is stopped first, so that it is not in the middle
    // of an exchange when the target is let go; a connected target is told to
    // start its application and the state becomes Disconnected; then exactly
    // one monitor is started again (if one was running). Returns whether the
    // port changed.
    bool Apply(ToolSettings& settings, PortChangeSteps& steps) const;

private:
    int port_ = kFirstComPort;
};

}  // namespace farsend::app
