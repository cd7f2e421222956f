#include "line/line_state.h"

#include <utility>

namespace farsend::line {

const char* TileStateName(TileState state) {
    switch (state) {
        case TileState::Waiting:
            return "waiting";
        case TileState::Identifying:
            return "identifying";
        case TileState::Programming:
            return "programming";
        case TileState::Pass:
            return "pass";
        case TileState::Fail:
            return "fail";
        case TileState::Unplugged:
            return "unplugged";
    }
    return "waiting";
}

std::int64_t WallMillisNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

LineState::LineState(Clock& clock, std::function<std::int64_t()> wallMillis)
    : clock_(clock), wallMillis_(std::move(wallMillis)), started_(clock.Now()) {}

void LineState::SetHeader(const JobHeader& header) {
    std::lock_guard<std::mutex> lock(mutex_);
    header_ = header;
    for (Tile& tile : tiles_) tile.totalBytes = header.imageBytes;
    ++seq_;
    changed_.notify_all();
}

std::size_t LineState::AddStation(const std::string& name, const std::string& host,
                                  const std::string& bridgeSerial) {
    std::lock_guard<std::mutex> lock(mutex_);
    Tile tile;
    tile.name = name;
    tile.host = host;
    tile.bridgeSerial = bridgeSerial;
    tile.totalBytes = header_.imageBytes;
    TouchLocked(tile);
    tiles_.push_back(std::move(tile));
    changed_.notify_all();
    return tiles_.size() - 1;
}

std::size_t LineState::StationCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tiles_.size();
}

void LineState::TouchLocked(Tile& tile) {
    tile.seq = ++seq_;
    tile.stamp = wallMillis_();
}

void LineState::Change(std::size_t station, const std::function<void(Tile&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (station >= tiles_.size()) return;
    change(tiles_[station]);
    TouchLocked(tiles_[station]);
    changed_.notify_all();
}

void LineState::JobBegun(std::size_t station, bool erasing) {
    const Millis now = clock_.Now();
    Change(station, [&](Tile& tile) {
        tile.state = TileState::Programming;
        tile.erasing = erasing;
        tile.bytes = 0;
        tile.kilobytesPerSecond = 0;
        tile.jobStart = now;
    });
}

void LineState::JobProgress(std::size_t station, std::uint64_t bytes, bool erasing) {
    const Millis now = clock_.Now();
    Change(station, [&](Tile& tile) {
        tile.state = TileState::Programming;
        tile.erasing = erasing;
        tile.bytes = bytes;
        const auto elapsed = (now - tile.jobStart).count();
        // Bytes over the whole job so far: erasing counts as time spent.
        tile.kilobytesPerSecond =
            elapsed > 0 ? static_cast<double>(bytes) / static_cast<double>(elapsed) : 0.0;
    });
}

void LineState::UnitDone(std::size_t station, const UnitEnd& end) {
    Change(station, [&](Tile& tile) {
        tile.state = end.passed      ? TileState::Pass
                     : end.unplugged ? TileState::Unplugged
                                     : TileState::Fail;
        tile.erasing = false;
        tile.serial = end.serial;
        tile.reason = end.passed ? std::string() : end.reason;
        tile.advice = end.passed ? std::string() : end.advice;
        tile.held = !end.passed && end.held;
        if (end.passed) {
            ++tile.passed;
        } else {
            ++tile.failed;
        }
    });
}

Tile LineState::TileOf(std::size_t station) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return station < tiles_.size() ? tiles_[station] : Tile{};
}

nlohmann::json LineState::HeaderJsonLocked() const {
    int passed = 0;
    int failed = 0;
    for (const Tile& tile : tiles_) {
        passed += tile.passed;
        failed += tile.failed;
    }
    const int units = passed + failed;
    const double hours = static_cast<double>((clock_.Now() - started_).count()) / 3600000.0;
    nlohmann::json header = {
        {"file", header_.file},
        {"sha256", header_.sha256.substr(0, 12)},
        {"mode", header_.mode},
        {"imageBytes", header_.imageBytes},
        {"units", units},
        {"passed", passed},
        {"failed", failed},
        // null until a unit is done: no yield is not a yield of 0.
        {"yield",
         units > 0 ? nlohmann::json(static_cast<double>(passed) / units) : nlohmann::json(nullptr)},
        {"unitsPerHour", hours > 0 ? nlohmann::json(units / hours) : nlohmann::json(nullptr)},
    };
    return header;
}

nlohmann::json LineState::TileJsonLocked(const Tile& tile, std::size_t index) const {
    return {
        {"index", index},
        {"name", tile.name},
        {"host", tile.host},
        {"bridgeSerial", tile.bridgeSerial},
        {"state", TileStateName(tile.state)},
        {"erasing", tile.erasing},
        {"target", tile.target},
        {"bytes", tile.bytes},
        {"totalBytes", tile.totalBytes},
        {"kbps", tile.kilobytesPerSecond},
        {"serial", tile.serial},
        {"passed", tile.passed},
        {"failed", tile.failed},
        {"reason", tile.reason},
        {"advice", tile.advice},
        {"held", tile.held},
        {"stopped", tile.stopped},
        {"stamp", tile.stamp},
        {"seq", tile.seq},
    };
}

nlohmann::json LineState::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    nlohmann::json stations = nlohmann::json::array();
    for (std::size_t i = 0; i < tiles_.size(); ++i)
        stations.push_back(TileJsonLocked(tiles_[i], i));
    return {{"header", HeaderJsonLocked()}, {"stations", stations}, {"seq", seq_}};
}

std::optional<nlohmann::json> LineState::WaitForChanges(std::uint64_t& since, Millis timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The connection's own wait: the real clock, whatever the stations run on.
    if (!changed_.wait_for(lock, timeout, [&] { return closed_ || seq_ > since; }) || closed_) {
        return std::nullopt;
    }
    nlohmann::json stations = nlohmann::json::array();
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        if (tiles_[i].seq > since) stations.push_back(TileJsonLocked(tiles_[i], i));
    }
    since = seq_;
    return nlohmann::json{{"header", HeaderJsonLocked()}, {"stations", stations}, {"seq", seq_}};
}

void LineState::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool LineState::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace farsend::line
