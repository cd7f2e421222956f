// The two setup dialogs: "flashsetupDB" (ProgrammingSetupDialog) and
// "serialsetupDB" (SerialSetupDialog). The rules live in the portable models
// app::ProgrammingSetup and app::SerialSetup; these procedures move their
// state into the controls and the operator's clicks into them.
#pragma once

#include <windows.h>

#include <functional>

#include "app/programming_setup.h"
#include "app/serial_setup.h"

namespace farsend::app::win32 {

INT_PTR CALLBACK ProgrammingSetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SerialSetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Open the dialogs modally, owned by `owner`; they return when closed.
void OpenProgrammingSetup(HINSTANCE instance, HWND owner, ToolSettings& settings);
void OpenSerialSetup(HINSTANCE instance, HWND owner, ToolSettings& settings, PortChangeSteps& steps,
                     std::function<void()> launchTargetApplication);

}  // namespace farsend::app::win32
