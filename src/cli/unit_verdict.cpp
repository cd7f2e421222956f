#include "cli/unit_verdict.h"

#include <cstdio>
#include <cstring>

#include "cli/exit_status.h"

namespace farsend::cli {
namespace {

std::string Printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return shown;
}

std::string FailureWords(const UnitRecord& record, const std::string& lostWords) {
    switch (record.status) {
        case kExitDoesNotFit: {
            std::string target = Printable(record.variant + " " + record.version);
            return record.variant.empty() ? std::string("does not fit") : "wrong board: " + target;
        }
        case kExitCommunication:
            if (!lostWords.empty()) return lostWords;
            // Refused before any job: the checking queries went unanswered.
            return "no reply to its queries";
        case kExitEraseError:
            return "erase failed";
        case kExitFirmwareFile:
            return "firmware file unusable";
        case kExitStopped:
            return "interrupted";
        case kExitDatabase:
            return "unit database lost";
        case kExitNoSerialLeft:
            return "no serial number left";
        default:
            return ExitStatusName(record.status);
    }
}

}  // namespace

UnitVerdict VerdictOf(const UnitRecord& record, const std::string& lostWords) {
    UnitVerdict verdict;
    verdict.passed = record.status == kExitSuccess;
    if (!verdict.passed) {
        verdict.words = FailureWords(record, lostWords);
        return verdict;
    }
    verdict.words = "unit " + std::to_string(record.unit);
    if (record.serial) verdict.words += ", serial " + std::to_string(*record.serial);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, ", %.1f s", record.seconds);
    verdict.words += seconds;
    return verdict;
}

std::string VerdictText(const UnitVerdict& verdict, bool colour) {
    const char* word = verdict.passed ? "PASS" : "FAIL";
    std::string text;
    if (colour) {
        text = std::string(verdict.passed ? "\x1b[1;32m" : "\x1b[1;31m") + word + "\x1b[0m";
    } else {
        text = word;
    }
    return text + "  " + verdict.words;
}

bool ColourWanted(const char* noColor, const char* term) {
    if (noColor != nullptr && noColor[0] != '\0') return false;
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

}  // namespace farsend::cli
