#include "app/serial_setup.h"

#include <utility>

#include "app/window_texts.h"

namespace farsend::app {

SerialSetup::SerialSetup(const ToolSettings& settings) {
    const int applied = settings.comPort.load();
    port_ = (applied >= kFirstComPort && applied <= kLastComPort) ? applied : kFirstComPort;
}

void SerialSetup::Choose(int port) {
    if (port >= kFirstComPort && port <= kLastComPort) port_ = port;
}

bool SerialSetup::Apply(ToolSettings& settings, PortChangeSteps& steps,
                        std::function<void()> launchTargetApplication) const {
    if (port_ == settings.comPort.load()) return false;
    settings.comPort.store(port_);
    auto release = [&settings, launch = std::move(launchTargetApplication)]() {
        if (settings.connectionState.load() != ConnectionState::Connected) return;
        launch();
        settings.connectionState.store(ConnectionState::Disconnected);
        RefreshConnectionText(settings);
    };
    if (steps.MonitorRunning()) {
        steps.RestartMonitor(std::move(release));
    } else {
        release();
    }
    return true;
}

}  // namespace farsend::app
