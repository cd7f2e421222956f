#include "cli/unit_status.h"

#include "cli/exit_status.h"

namespace farsend::cli {

int ExitStatusOf(units::UnitOutcome outcome) {
    using units::UnitOutcome;
    switch (outcome) {
        case UnitOutcome::Passed:
            return kExitSuccess;
        case UnitOutcome::Interrupted:
            return kExitStopped;
        case UnitOutcome::FirmwareFileError:
            return kExitFirmwareFile;
        case UnitOutcome::DoesNotFit:
            return kExitDoesNotFit;
        case UnitOutcome::CommunicationError:
            return kExitCommunication;
        case UnitOutcome::EraseError:
            return kExitEraseError;
        case UnitOutcome::DatabaseUnavailable:
            return kExitDatabase;
        case UnitOutcome::NoSerialLeft:
            return kExitNoSerialLeft;
        case UnitOutcome::JobRefused:
            return kExitJobRefused;
    }
    return kExitCommunication;
}

}  // namespace farsend::cli
