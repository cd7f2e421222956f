#include "cli/database_choice.h"

#include "units/unit_database.h"

namespace farsend::cli {

DatabaseChoice ChooseDatabase(const CliOptions& options) {
    if (!options.db.empty()) return {options.db, false};
    return {options.sim.simulate ? units::DefaultSimulatedDatabaseLocation()
                                 : units::DefaultDatabaseLocation(),
            true};
}

}  // namespace farsend::cli
