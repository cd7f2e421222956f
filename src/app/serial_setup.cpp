#include "app/serial_setup.h"

#include "app/window_texts.h"

namespace farsend::app {

SerialSetup::SerialSetup(const ToolSettings& settings) {
    const int applied = settings.comPort.load();
    port_ = (applied >= kFirstComPort && applied <= kLastComPort) ? applied : kFirstComPort;
}

void SerialSetup::Choose(int port) {
    if (port >= kFirstComPort && port <= kLastComPort) port_ = port;
}

bool SerialSetup::Apply(ToolSettings& settings, PortChangeSteps& steps) const {
    if (port_ == settings.comPort.load()) return false;
    settings.comPort.store(port_);
    const bool monitorWasRunning = steps.StopMonitor();
    if (settings.connectionState.load() == ConnectionState::Connected) {
        steps.LaunchTargetApplication();
        settings.connectionState.store(ConnectionState::Disconnected);
        RefreshConnectionText(settings);
    }
    if (monitorWasRunning) steps.StartMonitor();
    return true;
}

}  // namespace farsend::app
