#include "cli/unit_verdict.h"

#include <cstdio>
#include <cstring>

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

std::string FailureWords(const units::UnitFinish& finish, const std::string& lostWords) {
    using units::UnitOutcome;
    switch (finish.outcome.value_or(UnitOutcome::CommunicationError)) {
        case UnitOutcome::DoesNotFit: {
            std::string target = Printable(finish.variant + " " + finish.version);
            return finish.variant.empty() ? std::string("does not fit") : "wrong board: " + target;
        }
        case UnitOutcome::CommunicationError:
            if (!lostWords.empty()) return lostWords;
            // Refused before any job: the checking queries went unanswered.
            return "no reply to its queries";
        case UnitOutcome::EraseError:
            return "erase failed";
        case UnitOutcome::FirmwareFileError:
            return "firmware file unusable";
        case UnitOutcome::Interrupted:
            return units::UnitOutcomeWord(UnitOutcome::Interrupted);
        case UnitOutcome::DatabaseUnavailable:
            return "unit database lost";
        case UnitOutcome::NoSerialLeft:
            return "no serial number left";
        case UnitOutcome::JobRefused:
            return "refused by the job";
        case UnitOutcome::Passed:
            break;
    }
    return units::UnitOutcomeWord(*finish.outcome);
}

}  // namespace

UnitVerdict VerdictOf(const units::UnitRecord& record, const std::string& lostWords) {
    UnitVerdict verdict;
    const units::UnitFinish finish = record.finish.value_or(units::UnitFinish{});
    verdict.passed = finish.outcome == units::UnitOutcome::Passed;
    if (!verdict.passed) {
        verdict.words = FailureWords(finish, lostWords);
        return verdict;
    }
    verdict.words = "unit " + std::to_string(record.unit);
    if (record.serial) verdict.words += ", serial " + std::to_string(*record.serial);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, ", %.1f s", finish.seconds);
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
