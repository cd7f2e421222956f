// What a failed read on an open HID handle says about the device, from the
// system's error code. Kept apart from the reads so that every error seen on
// a real device stack can be checked in a table.
#pragma once

#include <windows.h>

#include "link/hid_platform.h"

namespace farsend::link {

// kGone for the errors of a device that is no longer there, kFailed for any
// other.
ReadStatus ReadFailureStatus(DWORD error);

}  // namespace farsend::link
