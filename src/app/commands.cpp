#include "app/commands.h"

#include "app/command_ids.h"
#include "app/window_texts.h"
#include "firmware/image_names.h"
#include "jobs/job_workers.h"
#include "jobs/station_controller.h"
#include "protocol/exchanges.h"

namespace farsend::app {

using jobs::JobKind;
using jobs::Message;
using jobs::MessageAnswer;
using jobs::MessageStyle;

namespace {

constexpr const char* kNotConnected = "Target Not Connected.";

bool Connected(const jobs::StationState& station) {
    return station.connectionState == ConnectionState::Connected;
}

MainWindowView* ViewOf(const CommandContext& context) {
    return context.view != nullptr ? context.view->load() : nullptr;
}

// A file chosen by hand must name a radio variant, carry no "_intel" marker,
// and be a factory image exactly when the mode is factory.
bool FitsFlashMode(const std::string& path, FlashMode mode) {
    const bool variantNamed =
        firmware::IsZigBeeImageName(path) || firmware::IsBluetoothImageName(path);
    const bool factory = firmware::IsFactoryImageName(path);
    return variantNamed && !firmware::HasIntelMarker(path) &&
           factory == (mode == FlashMode::BootloaderAndApplication);
}

// What the operator decides at the window: the file, in the open dialog,
// when none is chosen; and the answer to the erase-all warning.
class WindowFrontEnd : public jobs::StationFrontEnd {
public:
    // The flash mode as the command found it: the file is checked against it.
    explicit WindowFrontEnd(CommandContext& context)
        : context_(context), mode_(context.choice.flashMode) {}

    std::optional<std::string> ChooseFile() override {
        jobs::FirmwareChoice& choice = context_.choice;
        OpenFileRequest request;
        request.initialDirectory = choice.firmwareDirectory.Get();
        const std::optional<std::string> chosen = context_.shell.ChooseFirmwareFile(request);
        if (!chosen) return std::nullopt;
        const std::string previous = choice.firmwarePath.Get();
        choice.firmwarePath.Set(*chosen);
        ShowFileName(ViewOf(context_), *chosen);
        if (!FitsFlashMode(*chosen, mode_)) {
            context_.shell.ShowMessage(
                {"Invalid file type.", "Invalid File", MessageStyle::Warning});
            // A refused file must not be programmed unchecked by the next
            // Program command: what was there before comes back.
            choice.firmwarePath.Set(previous);
            ShowFileName(ViewOf(context_), previous);
            return std::nullopt;
        }
        return chosen;
    }

    bool ConfirmEraseAll() override {
        return context_.shell.ShowMessage(EraseAllWarning()) == MessageAnswer::Ok;
    }

private:
    CommandContext& context_;
    const FlashMode mode_;
};

void SetDisconnected(CommandContext& context) {
    context.station.connectionState = ConnectionState::Disconnected;
    ShowConnectionText(ViewOf(context), ConnectionState::Disconnected);
}

}  // namespace

Message EraseAllWarning() {
    return {
        "About to Erase ALL of the target flash (incl. Bootloader).\nPlease ensure that a new "
        "Bootloader is programmed before \nterminating communication with the target. "
        "Failure to do so \nwill prevent future communication with the target.",
        "Warning", MessageStyle::WarningOkCancel};
}

void ProgramNow(CommandContext& context) {
    WindowFrontEnd frontEnd(context);
    const jobs::JobRefusal refusal = jobs::StartProgramming(
        context.station, context.choice, frontEnd, [&](JobKind kind, const std::string& path) {
            // The job clears programmingBusy when it ends.
            context.shell.RunJobDialog(kind, path);
        });
    if (refusal == jobs::JobRefusal::NotConnected) {
        context.shell.ShowMessage(
            {kNotConnected, "Program Target Flash Error", MessageStyle::Warning});
    }
}

void EraseTargetFlash(CommandContext& context) {
    WindowFrontEnd frontEnd(context);
    // A second erase, or one while the monitor's attempt has the link, is
    // ignored; so is one the operator declines.
    const jobs::JobRefusal refusal = jobs::StartErase(
        context.station, context.choice, frontEnd,
        [&](JobKind kind, const std::string& path) { context.shell.RunJobDialog(kind, path); });
    if (refusal == jobs::JobRefusal::NotConnected) {
        context.shell.ShowMessage(
            {kNotConnected, "Erase Target Flash Error", MessageStyle::Warning});
    }
}

void StartTargetApplication(CommandContext& context) {
    if (!Connected(context.station)) {
        context.shell.ShowMessage(
            {kNotConnected, "Launch Target Application Error", MessageStyle::Warning});
        return;
    }
    const LinkClaim claim(context.station.linkUser, LinkUser::Operator);
    if (!claim.Held()) return;
    protocol::LaunchTargetApplication(context.exchanges);
    SetDisconnected(context);
}

void ConnectToTarget(CommandContext& context) {
    switch (context.station.connectionState.load()) {
        case ConnectionState::Connected:
            context.shell.ShowMessage(
                {"Already connected to target", "Connect to Target", MessageStyle::Notice});
            break;
        case ConnectionState::NeverConnected:
            // The monitor started with the window is already trying.
            break;
        case ConnectionState::Disconnected:
            // One monitor at a time: a running one ends its pass, then the
            // new one takes over. Nothing here waits for it.
            context.monitor.Start();
            break;
    }
    ShowConnectionText(ViewOf(context), context.station.connectionState.load());
}

void ExitApplication(CommandContext& context) {
    context.monitor.RequestStop();
    if (Connected(context.station)) protocol::LaunchTargetApplication(context.exchanges);
    context.shell.EndMessageLoop(0);
}

void CommunicationFailure(CommandContext& context) {
    protocol::DisconnectTarget(context.exchanges);
    SetDisconnected(context);
}

void RequestProgramming(jobs::StationState& station) {
    station.programRequest = ProgramRequest::Requested;
}

void ProgrammingFinished(CommandContext& context) {
    SetDisconnected(context);
}

void EndProcessAfterProgramming(CommandContext& context) {
    context.shell.EndProcess(0);
}

bool EndsProcessAfterJob(const jobs::JobReport& report, bool exitAfterProgram) {
    return exitAfterProgram && jobs::IsProgrammingJob(report.kind) && report.Succeeded();
}

bool HandleMainWindowCommand(CommandContext& context, int command) {
    switch (command) {
        case kCommandProgramNow:
            ProgramNow(context);
            return true;
        case kCommandEraseTarget:
            EraseTargetFlash(context);
            return true;
        case kCommandStartApplication:
            StartTargetApplication(context);
            return true;
        case kCommandConnect:
            ConnectToTarget(context);
            return true;
        case kCommandExit:
            ExitApplication(context);
            return true;
        case kCommandCommunicationFailure:
            CommunicationFailure(context);
            return true;
        case kCommandRequestProgramming:
            RequestProgramming(context.station);
            return true;
        case kCommandProgrammingFinished:
            ProgrammingFinished(context);
            return true;
        case kCommandEndProcess:
            EndProcessAfterProgramming(context);
            return true;
        default:
            return false;
    }
}

}  // namespace farsend::app
