// Waiting on the user-interface thread for another thread to end.
//
// A thread of ours may be blocked sending to a window of the user-interface
// thread (a status-bar text, a command, the owner of its message box being
// disabled). A plain wait would then never end, so these waits keep
// delivering messages sent from other threads, and nothing else: no input
// and no posted message is taken while waiting.
#pragma once

#include <windows.h>

namespace farsend::app::win32 {

// Waits until `handle` is signalled, carrying out sent messages meanwhile.
// INFINITE or a time-out in milliseconds; true when signalled.
bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs = INFINITE);

}  // namespace farsend::app::win32
