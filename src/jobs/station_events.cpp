#include "jobs/station_events.h"

namespace farsend::jobs {

const char* StationEventName(StationEventKind kind) {
    switch (kind) {
        case StationEventKind::Searching:
            return "searching";
        case StationEventKind::Connected:
            return "connected";
        case StationEventKind::Identified:
            return "identified";
        case StationEventKind::Refused:
            return "refused";
        case StationEventKind::EraseStep:
            return "erase step";
        case StationEventKind::BlockSent:
            return "block sent";
        case StationEventKind::Finished:
            return "finished";
        case StationEventKind::Disconnected:
            return "disconnected";
        case StationEventKind::BoardTakenOut:
            return "board taken out";
    }
    return "?";
}

void ObservedJobDialog::Begin(JobKind kind) {
    kind_ = kind;
    inner_.Begin(kind);
}

void ObservedJobDialog::BlockErased() {
    inner_.BlockErased();
    ++blocksErased_;
    StationEvent event;
    event.kind = StationEventKind::EraseStep;
    event.job = kind_;
    event.blocksErased = blocksErased_;
    observer_.OnStationEvent(event);
}

void ObservedJobDialog::BlockSent(std::size_t bytes) {
    inner_.BlockSent(bytes);
    ++blocksSent_;
    bytesSent_ += bytes;
    StationEvent event;
    event.kind = StationEventKind::BlockSent;
    event.job = kind_;
    event.blocksErased = blocksErased_;
    event.blocksSent = blocksSent_;
    event.bytesSent = bytesSent_;
    event.blockBytes = bytes;
    observer_.OnStationEvent(event);
}

void ObservedJobDialog::Finished(const JobReport& report) {
    StationEvent event;
    event.kind = StationEventKind::Finished;
    event.job = report.kind;
    event.blocksErased = report.blocksErased;
    event.blocksSent = report.blocksSent;
    event.bytesSent = report.bytesSent;
    event.outcome = report.outcome;
    observer_.OnStationEvent(event);
}

}  // namespace farsend::jobs
