// Command identifiers of the main window and of the job dialogs. Threads
// reach the main window only by sending it one of these, synchronously: the
// window program turns what its station tells it into these.
#pragma once

namespace farsend::app {

// Main window.
constexpr int kCommandProgramNow = 610;  // the monitor has a checked target
constexpr int kCommandEraseTarget = 612;
constexpr int kCommandStartApplication = 613;
constexpr int kCommandConnect = 614;
constexpr int kCommandExit = 615;
constexpr int kCommandSerialSetup = 620;
constexpr int kCommandProgrammingSetup = 621;
constexpr int kCommandToggleAutoProgram = 622;
constexpr int kCommandHelp = 630;
constexpr int kCommandAbout = 640;
constexpr int kCommandCommunicationFailure = 650;  // a job lost its target
constexpr int kCommandRequestProgramming = 659;
constexpr int kCommandProgrammingFinished = 660;  // a programming job ended its data
constexpr int kCommandEndProcess = 680;           // from a programming job

// Job dialogs.
constexpr int kDialogCommandEnd = 1000;
constexpr int kDialogCommandNotice = 1001;
constexpr int kDialogCommandStepErase = 1002;
constexpr int kDialogCommandStepProgram = 1003;

}  // namespace farsend::app
