// What a station's connection monitor asks of the front end it runs under:
// only to run the programming job once a target is connected and checked.
// Everything else the monitor does, it tells the station's observer
// (station_events.h). The window program hands the job to its user-interface
// thread, which shows it in a modal dialog; farsend runs it on the monitor's
// own thread.
#pragma once

namespace farsend::jobs {

class StationHost {
public:
    virtual ~StationHost() = default;

    // Runs the programming job on the connected target and returns once it
    // is over: the file is the one StationState::attemptPath names (see
    // PathToProgram). Meanwhile the monitor is suspended, so the job has the
    // link to itself.
    virtual void ProgramTarget() = 0;
};

}  // namespace farsend::jobs
