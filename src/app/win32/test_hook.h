// Test hook, active only when the environment variable
// FARSEND_TEST_STATE_FILE names a file: the main window then answers the
// registered message "FarsendFlasherTestState" by writing what a GUI test
// cannot read from outside the process (the status bar's second part, the
// class background brush, the monitor, the last help request) to that file,
// one "name=value" line each, before the sender's call returns.
#pragma once

#include <windows.h>

namespace farsend::app::win32 {

class MainWindowShell;

constexpr const char* kTestStateMessageName = "FarsendFlasherTestState";
constexpr const char* kTestStateFileVariable = "FARSEND_TEST_STATE_FILE";

// Whether `message` is the hook's request (always false without the file).
bool IsTestStateRequest(UINT message);
void WriteTestState(MainWindowShell& shell);

}  // namespace farsend::app::win32
