#include "jobs/job_dialog.h"

#include "jobs/command_ids.h"

namespace farsend::jobs {

bool IsProgrammingJob(JobKind kind) {
    return kind == JobKind::ProgramApplication || kind == JobKind::ProgramBootloaderAndApplication;
}

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

Message JobDialogNotice(JobKind kind) {
    if (IsProgrammingJob(kind)) {
        return {"Programming Flash.", "Program Target Flash", MessageStyle::Plain};
    }
    return {"Erasing Flash.", "Erase Target Flash", MessageStyle::Plain};
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

}  // namespace farsend::jobs
