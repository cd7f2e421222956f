#include "app/win32/thread_wait.h"

namespace farsend::app::win32 {

bool WaitDeliveringSentMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeoutMs != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= timeoutMs) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
            remaining = timeoutMs - elapsed;
        }
        const DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, remaining, QS_SENDMESSAGE, 0);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_OBJECT_0 + 1) {
            // Looking with PM_QS_SENDMESSAGE delivers the pending sent
            // messages and removes nothing else from the queue.
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (result == WAIT_TIMEOUT) return false;
        return false;  // WAIT_FAILED: a bad handle
    }
}

}  // namespace farsend::app::win32
