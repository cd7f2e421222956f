#include "units/spool_replay.h"

namespace farsend::units {

namespace {
// Below this a replay takes well under a second and is told only by its result.
constexpr std::size_t kToldFrom = 1000;
constexpr Millis kEvery{1000};

std::string Records(std::size_t count) {
    return std::to_string(count) + " record" + (count == 1 ? "" : "s");
}
}  // namespace

StartReplay ReplaySpoolAtStart(UnitDatabase& db, const std::filesystem::path& spool,
                               const Tell& tell, const std::function<bool()>& stop, Clock& clock) {
    StartReplay replay;
    Millis lastTold = clock.Now();
    replay.result = db.ReplaySpool(spool, [&](std::size_t done, std::size_t total) {
        if (stop && stop()) {
            replay.stopped = true;
            return false;
        }
        if (total < kToldFrom) return true;
        const Millis now = clock.Now();
        if (done == 0) {
            tell("replaying " + Records(total) + " from the spool " + spool.string() +
                 " into the unit database (a signal stops it; the rest stays "
                 "in the spool)");
        } else if (done == total || now - lastTold >= kEvery) {
            tell("spool: " + std::to_string(done) + " of " + std::to_string(total) + " replayed");
        } else {
            return true;
        }
        lastTold = now;
        return true;
    });
    return replay;
}

std::string ReplayNotice(const StartReplay& replay, const std::filesystem::path& spool) {
    std::string notice;
    auto add = [&notice](const std::string& line) {
        notice += (notice.empty() ? "" : "\n") + line;
    };
    const ReplayResult& result = replay.result;
    if (result.written > 0) {
        add(Records(result.written) + " from the spool " + spool.string() +
            " written into the unit database.");
    }
    if (replay.stopped) {
        add("replay of the spool stopped by a signal: " + Records(result.left) +
            " stay in the spool " + spool.string() + " for the next start.");
    }
    if (result.kept > 0) {
        add("the spool " + spool.string() + " keeps " + std::to_string(result.kept) +
            " line(s) that are not records; look at them.");
    }
    return notice;
}

}  // namespace farsend::units
