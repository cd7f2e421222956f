// The window program's job dialogs apart from any window: the commands a
// dialog handles, and how the events of a job become the commands the
// dialog and the main window receive, in the order the window program has
// always sent them.
#include "app/job_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_ids.h"
#include "jobs/job_workers.h"

namespace farsend::app {
namespace {

using jobs::JobKind;
using jobs::Message;
namespace events = jobs::events;
using Calls = std::vector<std::string>;

class RecordingControls final : public JobDialogControls {
public:
    void EndDialog() override { calls.push_back("end"); }
    void ShowMessage(const Message& message) override {
        calls.push_back("message:" + message.text + "|" + message.caption);
    }
    void StepEraseBar() override { calls.push_back("erase"); }
    void StepProgramBar() override { calls.push_back("program"); }
    std::vector<std::string> calls;
};

struct CommandCase {
    JobKind kind;
    int command;
    bool handled;
    std::vector<std::string> calls;
};

class DialogCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(DialogCommands, DoWhatTheDialogSays) {
    RecordingControls controls;
    EXPECT_EQ(HandleJobDialogCommand(GetParam().kind, GetParam().command, controls),
              GetParam().handled);
    EXPECT_EQ(controls.calls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DialogCommands,
    ::testing::Values(
        CommandCase{JobKind::EraseDefault, kDialogCommandEnd, true, Calls{"end"}},
        CommandCase{JobKind::EraseAll, kDialogCommandNotice, true,
                    Calls{"message:Erasing Flash.|Erase Target Flash"}},
        CommandCase{JobKind::ProgramApplication, kDialogCommandNotice, true,
                    Calls{"message:Programming Flash.|Program Target Flash"}},
        CommandCase{JobKind::EraseDefault, kDialogCommandStepErase, true, Calls{"erase"}},
        CommandCase{JobKind::ProgramBootloaderAndApplication, kDialogCommandStepErase, true,
                    Calls{"erase"}},
        // Erase dialogs have no programming bar.
        CommandCase{JobKind::EraseAll, kDialogCommandStepProgram, false, Calls{}},
        CommandCase{JobKind::ProgramApplication, kDialogCommandStepProgram, true, Calls{"program"}},
        CommandCase{JobKind::ProgramApplication, 1004, false, Calls{}},
        CommandCase{JobKind::EraseDefault, kCommandProgrammingFinished, false, Calls{}}));

// Both sides of an open dialog in one list: "d:<id>" to the dialog,
// "box:<caption>" owned by it, "w:<id>" to the main window.
struct DialogSide final : JobDialogPort {
    explicit DialogSide(Calls& calls) : calls(calls) {}
    void SendDialogCommand(int command) override {
        calls.push_back("d:" + std::to_string(command));
    }
    void ShowMessage(const Message& message) override { calls.push_back("box:" + message.caption); }
    Calls& calls;
};

struct WindowSide final : MainWindowPort {
    explicit WindowSide(Calls& calls) : calls(calls) {}
    jobs::MessageAnswer ShowMessage(const Message& message) override {
        calls.push_back("window box:" + message.caption);
        return jobs::MessageAnswer::Ok;
    }
    void SendCommand(int command) override { calls.push_back("w:" + std::to_string(command)); }
    void RefreshConnectionText() override { calls.push_back("status"); }
    Calls& calls;
};

events::JobProblem Problem(events::JobProblemKind kind, std::uint32_t block = 0) {
    events::JobProblem problem;
    problem.job = JobKind::ProgramApplication;
    problem.problem = kind;
    problem.block = block;
    return problem;
}

struct TranslationCase {
    const char* name;
    std::vector<jobs::StationEvent> events;
    Calls calls;
};

class Translation : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(Translation, GivesTheWindowProgramsCommandsInItsOrder) {
    Calls calls;
    DialogSide dialog(calls);
    WindowSide mainWindow(calls);
    JobWindow window(dialog, mainWindow);
    for (const jobs::StationEvent& event : GetParam().events) window.OnStationEvent(event);
    EXPECT_EQ(calls, GetParam().calls);
}

const JobKind kApp = JobKind::ProgramApplication;
const std::string kErase = "d:" + std::to_string(kDialogCommandStepErase);
const std::string kProgram = "d:" + std::to_string(kDialogCommandStepProgram);
const std::string kEnd = "d:" + std::to_string(kDialogCommandEnd);

INSTANTIATE_TEST_SUITE_P(
    Jobs, Translation,
    ::testing::Values(
        // 7 blocks, then 13 fill-up steps; the bar to 3 then 5; 660 before
        // the end.
        TranslationCase{
            "Programmed",
            {events::JobStarted{kApp}, events::EraseStep{kApp, 1}, events::EraseStep{kApp, 2},
             events::EraseDone{kApp, 2}, events::ProgramProgress{kApp, 3},
             events::BlockSent{kApp, 1, 256, 256}, events::ProgramProgress{kApp, 5},
             events::DataEnded{kApp}, events::Finished{}},
            [] {
                Calls calls(20, kErase);
                calls.insert(calls.end(), 5, kProgram);
                calls.push_back("w:660");
                calls.push_back(kEnd);
                return calls;
            }()},
        // More blocks than the bar has steps: no fill-up.
        TranslationCase{
            "ManyBlocks",
            {events::EraseStep{kApp, 24}, events::EraseStep{kApp, 25}, events::EraseDone{kApp, 25}},
            Calls{kErase, kErase}},
        // The box first, then 650 once it is dismissed, then the end.
        TranslationCase{"LostTarget",
                        {events::JobStarted{kApp},
                         Problem(events::JobProblemKind::CommunicationLost), events::Finished{}},
                        Calls{"box:Error", "w:650", kEnd}},
        // An erase error and a file that cannot be closed tell the main
        // window nothing.
        TranslationCase{"EraseErrorThenCloseFailure",
                        {Problem(events::JobProblemKind::EraseError, 4),
                         Problem(events::JobProblemKind::FileCloseFailed), events::Finished{}},
                        Calls{"box:Erase Error", "box:File Error", kEnd}},
        // A new job's bar starts from nothing again.
        TranslationCase{"SecondJobStartsItsBarAgain",
                        {events::JobStarted{kApp}, events::ProgramProgress{kApp, 2},
                         events::JobStarted{kApp}, events::ProgramProgress{kApp, 1}},
                        Calls{kProgram, kProgram, kProgram}}),
    [](const ::testing::TestParamInfo<TranslationCase>& info) { return info.param.name; });

}  // namespace
}  // namespace farsend::app
