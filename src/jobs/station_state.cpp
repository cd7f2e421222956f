#include "jobs/station_state.h"

namespace farsend::jobs {

const char* ProgramRequestName(ProgramRequest request) {
    switch (request) {
        case ProgramRequest::Requested:
            return "Requested";
        case ProgramRequest::None:
            return "None";
    }
    return "Unknown";
}

}  // namespace farsend::jobs
