// How the window program's station reaches its main window from the
// monitor's and the jobs' threads. Every call is synchronous: it returns
// once the main window has done it, which in the Win32 shell means on the
// user-interface thread (SendMessage), so a thread blocked here waits for
// that thread.
#pragma once

#include "jobs/message.h"

namespace farsend::app {

class MainWindowPort {
public:
    virtual ~MainWindowPort() = default;

    // A message box owned by the main window; returns once dismissed.
    virtual jobs::MessageAnswer ShowMessage(const jobs::Message& message) = 0;
    // Delivers a main-window command (610, 650, 660, 680) and returns once it
    // has been carried out, including any modal dialog that it opens.
    virtual void SendCommand(int command) = 0;
    // Shows "CONNECTED" or "NOT CONNECTED" after the connection state.
    virtual void RefreshConnectionText() = 0;
};

}  // namespace farsend::app
