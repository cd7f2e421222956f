#include "cli/exit_status.h"

#include <string_view>

namespace farsend::cli {

const std::array<ExitStatusEntry, 12>& ExitStatusTable() {
    static const std::array<ExitStatusEntry, 12> kTable = {{
        {kExitSuccess, "success", "success"},
        {kExitStopped, "stopped",
         "stopped by Ctrl+C, SIGTERM or SIGHUP, or by answering no, before everything asked "
         "for was done"},
        {kExitUsage, "usage error", "usage error"},
        {kExitFirmwareFile, "firmware file error",
         "firmware file missing, unreadable or malformed (the place: line or byte offset, and "
         "the reason)"},
        {kExitDoesNotFit, "does not fit",
         "the file does not fit the target, or its name says factory image and --factory "
         "disagrees, or --serial falls outside the file's data or the unit's number does not "
         "fit in SIZE"},
        {kExitNoTarget, "no target", "no bridge, or no target called in time"},
        {kExitCommunication, "communication error",
         "communication error (a query the target did not answer included)"},
        {kExitEraseError, "erase error", "erase error"},
        {kExitNotRecorded, "not recorded",
         "a record (--report) or a result (standard output) could not be written, or standard "
         "error could not (a full disk, a pipe whose reader went away); the outcome is told "
         "where it still can be. It outranks every other status."},
        {kExitDatabase, "database unavailable",
         "unit database unavailable: it cannot be opened or written, or a newer farsend wrote "
         "it, or it was lost while --serial-pool needs a number; or there is no --serial-pool "
         "of that name"},
        {kExitNoSerialLeft, "no serial left",
         "no serial left: the --serial-pool has issued all its numbers, or its next one does "
         "not fit SIZE any more; the unit was refused before anything was sent"},
        {kExitJobRefused, "job refused",
         "job refused: the --job file is unreadable or newer than this farsend, its image is "
         "missing or differs from its SHA-256, its signature fails or its key is not trusted or "
         "is revoked, it is unsigned while the database trusts a key, or it has reached its unit "
         "limit; nothing was sent"},
    }};
    return kTable;
}

const char* ExitStatusName(int status) {
    for (const ExitStatusEntry& entry : ExitStatusTable()) {
        if (entry.status == status) return entry.name;
    }
    return "failure";
}

std::string SeverityOrderText() {
    std::string text;
    for (size_t i = 0; i < kSeverityOrder.size(); ++i) {
        if (i > 0) text += i + 1 == kSeverityOrder.size() ? ", then " : ", ";
        text += std::to_string(kSeverityOrder[i]);
    }
    return text;
}

std::string ExitStatusHelp() {
    constexpr size_t kWidth = 79;
    const std::string indent(5, ' ');
    std::string text = "Exit status:\n";
    for (const ExitStatusEntry& entry : ExitStatusTable()) {
        std::string line = (entry.status < 10 ? "  " : " ") + std::to_string(entry.status) + "  ";
        bool lineHasWord = false;
        std::string_view rest = entry.meaning;
        while (!rest.empty()) {
            const size_t space = rest.find(' ');
            const std::string_view word = rest.substr(0, space);
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
            if (lineHasWord && line.size() + 1 + word.size() > kWidth) {
                text += line + '\n';
                line = indent;
                lineHasWord = false;
            }
            if (lineHasWord) line += ' ';
            line += word;
            lineHasWord = true;
        }
        text += line + '\n';
    }
    return text;
}

int MoreSerious(int a, int b) {
    for (int status : kSeverityOrder) {
        if (a == status || b == status) return status;
    }
    return a != kExitSuccess ? a : b;
}

}  // namespace farsend::cli
