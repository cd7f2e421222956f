#include "jobs/station_events.h"

namespace farsend::jobs {
namespace {

const char* NameOf(const events::Searching&) {
    return "searching";
}
const char* NameOf(const events::Connected&) {
    return "connected";
}
const char* NameOf(const events::Identified&) {
    return "identified";
}
const char* NameOf(const events::Refused&) {
    return "refused";
}
const char* NameOf(const events::JobStarted&) {
    return "job started";
}
const char* NameOf(const events::EraseStep&) {
    return "erase step";
}
const char* NameOf(const events::EraseDone&) {
    return "erase done";
}
const char* NameOf(const events::ProgramProgress&) {
    return "program progress";
}
const char* NameOf(const events::BlockSent&) {
    return "block sent";
}
const char* NameOf(const events::DataEnded&) {
    return "data ended";
}
const char* NameOf(const events::JobProblem&) {
    return "job problem";
}
const char* NameOf(const events::Finished&) {
    return "finished";
}
const char* NameOf(const events::Disconnected&) {
    return "disconnected";
}
const char* NameOf(const events::BoardTakenOut&) {
    return "board taken out";
}

}  // namespace

const char* StationEventName(const StationEvent& event) {
    return std::visit([](const auto& kind) { return NameOf(kind); }, event);
}

}  // namespace farsend::jobs
