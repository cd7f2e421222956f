// The exit statuses of farsend: the same number means the same thing for
// every command, so that a production script can act on it.
#pragma once

namespace farsend::cli {

enum ExitStatus : int {
    kExitSuccess = 0,
    // Stopped on request before the work asked for was done: a signal
    // (Ctrl+C, SIGTERM, SIGHUP) or a question answered no. Nothing failed.
    kExitStopped = 1,
    kExitUsage = 2,         // the command line cannot be used
    kExitFirmwareFile = 3,  // firmware file missing, unreadable or malformed
    // The file does not fit the target or the mode, or the serial number does
    // not fit: its place is not wholly inside the image's data, or the number
    // needs more than its size.
    kExitDoesNotFit = 4,
    kExitNoTarget = 5,       // no bridge, or no target called in time
    kExitCommunication = 6,  // the target stopped answering as it should
    kExitEraseError = 7,     // erasing the target's flash failed
    // A unit's record (--report) or a result (standard output) could not be
    // written. It outranks every other status: the outcome itself was told
    // on standard error, but whoever reads the records has lost it.
    kExitNotRecorded = 8,
    // The unit database cannot be opened or written, or was written by a
    // newer farsend; or it was lost while units need numbers from its pool.
    kExitDatabase = 9,
    // The serial-number pool has no number left to give (program, watch with
    // --serial-pool): the unit was refused before anything was sent.
    kExitNoSerialLeft = 10,
};

// A word or two for the status, as reports and JSON results carry it:
// "success", "stopped", "usage error", "firmware file error", "does not fit",
// "no target", "communication error", "erase error", "not recorded",
// "database unavailable", "no serial left".
const char* ExitStatusName(int status);

// The status of a run of several stations: the more serious of two, by
// 8, 9, 7, 6, 4, 10, 3, 5, 1, 2, 0 (most serious first). A lost record
// outranks all; a target left half erased or half programmed comes next; then
// a target refused before anything was sent; then one that never called.
int MoreSerious(int a, int b);

}  // namespace farsend::cli
