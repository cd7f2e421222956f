// How one unit ended, as the station saw it, and the three results the unit
// database keeps of it. The outcome is the station's own word for the unit:
// it is what the ledger is told, and what the records name; a front end
// turns it into its exit status, never the other way round.
#pragma once

#include <optional>
#include <string>

#include "jobs/job_workers.h"

namespace farsend::units {

enum class UnitOutcome {
    Passed,               // programmed whole (identify: answered both queries)
    Interrupted,          // stopped part-way by the operator, or let go as the run stopped
    FirmwareFileError,    // no file chosen, or it could not be read
    DoesNotFit,           // another kind of target, or its serial number does not fit
    CommunicationError,   // the target stopped answering, or never answered its queries
    EraseError,           // erasing the flash failed
    DatabaseUnavailable,  // no number could be taken: the unit database is lost
    NoSerialLeft,         // the number pool has nothing left this unit can hold
    JobRefused,           // the production job may not program it (its image, its limit)
};

// Every outcome, in the order above.
inline constexpr UnitOutcome kEveryUnitOutcome[] = {UnitOutcome::Passed,
                                                    UnitOutcome::Interrupted,
                                                    UnitOutcome::FirmwareFileError,
                                                    UnitOutcome::DoesNotFit,
                                                    UnitOutcome::CommunicationError,
                                                    UnitOutcome::EraseError,
                                                    UnitOutcome::DatabaseUnavailable,
                                                    UnitOutcome::NoSerialLeft,
                                                    UnitOutcome::JobRefused};

// What the unit database keeps.
enum class UnitResult { Programmed, Failed, Interrupted };
const char* UnitResultName(UnitResult result);  // "programmed", "failed", "interrupted"
std::optional<UnitResult> ParseUnitResult(const std::string& name);

// The one rule for a unit's result: passed is programmed, interrupted is
// neither programmed nor failed, everything else failed.
UnitResult ResultOf(UnitOutcome outcome);

// The word a unit's result line and its JSON object carry: "success",
// "interrupted", "firmware file error", "does not fit", "communication
// error", "erase error", "database unavailable", "no serial left", "job
// refused".
const char* UnitOutcomeWord(UnitOutcome outcome);
std::optional<UnitOutcome> ParseUnitOutcomeWord(const std::string& word);

// The unit's outcome from how its job ended.
UnitOutcome OutcomeOf(jobs::JobOutcome outcome);

}  // namespace farsend::units
