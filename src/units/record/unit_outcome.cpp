#include "units/record/unit_outcome.h"

namespace farsend::units {

const char* UnitResultName(UnitResult result) {
    switch (result) {
        case UnitResult::Programmed:
            return "programmed";
        case UnitResult::Failed:
            return "failed";
        case UnitResult::Interrupted:
            return "interrupted";
    }
    return "failed";
}

std::optional<UnitResult> ParseUnitResult(const std::string& name) {
    for (UnitResult result :
         {UnitResult::Programmed, UnitResult::Failed, UnitResult::Interrupted}) {
        if (name == UnitResultName(result)) return result;
    }
    return std::nullopt;
}

UnitResult ResultOf(UnitOutcome outcome) {
    switch (outcome) {
        case UnitOutcome::Passed:
            return UnitResult::Programmed;
        case UnitOutcome::Interrupted:
            return UnitResult::Interrupted;
        default:
            return UnitResult::Failed;
    }
}

const char* UnitOutcomeWord(UnitOutcome outcome) {
    switch (outcome) {
        case UnitOutcome::Passed:
            return "success";
        case UnitOutcome::Interrupted:
            return UnitResultName(UnitResult::Interrupted);
        case UnitOutcome::FirmwareFileError:
            return "firmware file error";
        case UnitOutcome::DoesNotFit:
            return "does not fit";
        case UnitOutcome::CommunicationError:
            return "communication error";
        case UnitOutcome::EraseError:
            return "erase error";
        case UnitOutcome::DatabaseUnavailable:
            return "database unavailable";
        case UnitOutcome::NoSerialLeft:
            return "no serial left";
        case UnitOutcome::JobRefused:
            return "job refused";
    }
    return "communication error";
}

std::optional<UnitOutcome> ParseUnitOutcomeWord(const std::string& word) {
    for (UnitOutcome outcome : kEveryUnitOutcome) {
        if (word == UnitOutcomeWord(outcome)) return outcome;
    }
    return std::nullopt;
}

UnitOutcome OutcomeOf(jobs::JobOutcome outcome) {
    switch (outcome) {
        case jobs::JobOutcome::Success:
            return UnitOutcome::Passed;
        case jobs::JobOutcome::FileOpenFailed:
        case jobs::JobOutcome::FileFormatError:
            return UnitOutcome::FirmwareFileError;
        case jobs::JobOutcome::EraseError:
            return UnitOutcome::EraseError;
        case jobs::JobOutcome::Interrupted:
            return UnitOutcome::Interrupted;
        default:
            // A communication error, and any way a job can end that says
            // the target was not seen through.
            return UnitOutcome::CommunicationError;
    }
}

}  // namespace farsend::units
