// The exit statuses of farsend: the same number means the same thing for
// every command, so that a production script can act on it.
//
// This file is the one place that says what each status means and which
// outranks which: --help is written from it, the campaigns rank with it,
// and docs/cli.md is checked against --help.
#pragma once

#include <array>
#include <optional>
#include <string>

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
    // The production job (--job) cannot be run: refused before anything was
    // sent (its image, signature, key or unit limit; see job_gate.h).
    kExitJobRefused = 11,
};

// What a step taken before the work gives: nothing when the work may go on,
// else the exit status the command ends with (its message already shown).
using StopStatus = std::optional<ExitStatus>;

struct ExitStatusEntry {
    int status;
    const char* name;     // as ExitStatusName gives it
    const char* meaning;  // one sentence for --help and the operator's README
};

// Every status, 0 to 11 in turn.
const std::array<ExitStatusEntry, 12>& ExitStatusTable();

// The statuses of a run of several stations, most serious first: a lost
// record outranks all; a target left half erased or half programmed comes
// next; then a target refused before anything was sent; then one that never
// called.
inline constexpr std::array<int, 12> kSeverityOrder = {
    kExitNotRecorded, kExitDatabase,     kExitEraseError, kExitCommunication,
    kExitDoesNotFit,  kExitNoSerialLeft, kExitJobRefused, kExitFirmwareFile,
    kExitNoTarget,    kExitStopped,      kExitUsage,      kExitSuccess};

// "8, 9, 7, 6, 4, 10, 11, 3, 5, 1, 2, then 0": the order in words.
std::string SeverityOrderText();

// The "Exit status:" lines of --help, wrapped to 79 columns.
std::string ExitStatusHelp();

// A word or two for the status, as reports and JSON results carry it:
// "success", "stopped", "usage error", "firmware file error", "does not fit",
// "no target", "communication error", "erase error", "not recorded",
// "database unavailable", "no serial left", "job refused".
const char* ExitStatusName(int status);

// The status of a run of several stations: the more serious of two, by
// kSeverityOrder. A status outside it ranks below all but success.
int MoreSerious(int a, int b);

}  // namespace farsend::cli
