#include "app/job_window.h"

#include <type_traits>

#include "app/command_ids.h"
#include "jobs/job_workers.h"
#include "jobs/progress_steps.h"

namespace farsend::app {

using jobs::JobKind;

const char* JobDialogResource(JobKind kind) {
    switch (kind) {
        case JobKind::EraseDefault:
            return "erasedefDB";
        case JobKind::EraseAll:
            return "eraseallDB";
        case JobKind::ProgramApplication:
            return "progDB";
        case JobKind::ProgramBootloaderAndApplication:
            return "progbootDB";
    }
    return "";
}

const char* JobDialogCaption(JobKind kind) {
    switch (kind) {
        case JobKind::EraseDefault:
            return "Erasing Target Flash";
        case JobKind::EraseAll:
            return "Erasing ALL of Target Flash";
        case JobKind::ProgramApplication:
            return "Programming Application";
        case JobKind::ProgramBootloaderAndApplication:
            return "Programming Bootloader and Application";
    }
    return "";
}

jobs::Message JobDialogNotice(JobKind kind) {
    if (jobs::IsProgrammingJob(kind)) {
        return {"Programming Flash.", "Program Target Flash", jobs::MessageStyle::Plain};
    }
    return {"Erasing Flash.", "Erase Target Flash", jobs::MessageStyle::Plain};
}

bool HandleJobDialogCommand(JobKind kind, int command, JobDialogControls& controls) {
    switch (command) {
        case kDialogCommandEnd:
            controls.EndDialog();
            return true;
        case kDialogCommandNotice:
            controls.ShowMessage(JobDialogNotice(kind));
            return true;
        case kDialogCommandStepErase:
            controls.StepEraseBar();
            return true;
        case kDialogCommandStepProgram:
            if (!HasProgramBar(kind)) return false;
            controls.StepProgramBar();
            return true;
        default:
            return false;
    }
}

void JobWindow::Send(int command, int times) {
    for (; times > 0; --times) dialog_.SendDialogCommand(command);
}

void JobWindow::OnStationEvent(const jobs::StationEvent& event) {
    namespace events = jobs::events;
    std::visit(
        [this](const auto& happened) {
            using Event = std::decay_t<decltype(happened)>;
            if constexpr (std::is_same_v<Event, events::JobStarted>) {
                programShown_ = 0;
            } else if constexpr (std::is_same_v<Event, events::EraseStep>) {
                Send(kDialogCommandStepErase);
            } else if constexpr (std::is_same_v<Event, events::EraseDone>) {
                // The bar ends full however many blocks the target reported.
                Send(kDialogCommandStepErase, jobs::EraseFillUpSteps(happened.blocksErased));
            } else if constexpr (std::is_same_v<Event, events::ProgramProgress>) {
                Send(kDialogCommandStepProgram, happened.percent - programShown_);
                if (happened.percent > programShown_) programShown_ = happened.percent;
            } else if constexpr (std::is_same_v<Event, events::JobProblem>) {
                dialog_.ShowMessage(jobs::JobProblemMessage(happened));
                // Only once the box is dismissed does the main window close
                // the link.
                if (happened.problem == events::JobProblemKind::CommunicationLost) {
                    mainWindow_.SendCommand(kCommandCommunicationFailure);
                }
            } else if constexpr (std::is_same_v<Event, events::DataEnded>) {
                mainWindow_.SendCommand(kCommandProgrammingFinished);
            } else if constexpr (std::is_same_v<Event, events::Finished>) {
                Send(kDialogCommandEnd);
            }
        },
        event);
    jobs::Tell(next_, event);
}

}  // namespace farsend::app
