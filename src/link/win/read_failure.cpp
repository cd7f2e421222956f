#include "link/win/read_failure.h"

namespace farsend::link {

ReadStatus ReadFailureStatus(DWORD error) {
    switch (error) {
        // Windows fails every read of an unplugged device at once with this.
        case ERROR_DEVICE_NOT_CONNECTED:
        // Wine's HID stack completes the reads of a removed device with
        // STATUS_DELETE_PENDING, which reaches the program as this; on an
        // open handle nothing else gives it.
        case ERROR_ACCESS_DENIED:
            return ReadStatus::kGone;
        default:
            return ReadStatus::kFailed;
    }
}

}  // namespace farsend::link
