#include "jobs/job_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs/command_ids.h"

namespace farsend::jobs {
namespace {

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

using Calls = std::vector<std::string>;
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

}  // namespace
}  // namespace farsend::jobs
