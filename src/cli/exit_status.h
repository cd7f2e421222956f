// The exit statuses of farsend: the same number means the same thing for
// every command, so that a production script can act on it.
#pragma once

namespace farsend::cli {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitUsage = 2,          // the command line cannot be used
    kExitFirmwareFile = 3,   // firmware file missing, unreadable or malformed
    kExitDoesNotFit = 4,     // the file does not fit the target
    kExitNoTarget = 5,       // no bridge, or no target called in time
    kExitCommunication = 6,  // the target stopped answering as it should
    kExitEraseError = 7,     // erasing the target's flash failed
};

// A word or two for the status, as reports and JSON results carry it:
// "success", "usage error", "firmware file error", "does not fit",
// "no target", "communication error", "erase error".
const char* ExitStatusName(int status);

}  // namespace farsend::cli
