#include "line/line_state.h"

#include <utility>

#include "line/json_text.h"

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

LineState::Message LineState::MessageLocked(std::uint64_t since) const {
    Message message;
    message.header = header_;
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        message.passed += tiles_[i].passed;
        message.failed += tiles_[i].failed;
        if (tiles_[i].seq > since) message.tiles.emplace_back(i, tiles_[i]);
    }
    message.hours = static_cast<double>((clock_.Now() - started_).count()) / 3600000.0;
    message.seq = seq_;
    return message;
}

std::string LineState::Text(const Message& message, bool whole) {
    JsonText json;
    json.BeginObject().Key("header").BeginObject();
    const JobHeader& header = message.header;
    const int units = message.passed + message.failed;
    json.Key("file").String(header.file);
    json.Key("sha256").String(header.sha256.substr(0, 12));
    json.Key("mode").String(header.mode);
    json.Key("imageBytes").Number(header.imageBytes);
    json.Key("units").Number(units);
    json.Key("passed").Number(message.passed);
    json.Key("failed").Number(message.failed);
    // null until a unit is done: no yield is not a yield of 0.
    json.Key("yield");
    if (units > 0) {
        json.Number(static_cast<double>(message.passed) / units);
    } else {
        json.Null();
    }
    json.Key("unitsPerHour");
    if (message.hours > 0) {
        json.Number(units / message.hours);
    } else {
        json.Null();
    }
    json.EndObject().Key("stations").BeginArray();
    for (const auto& [index, tile] : message.tiles) {
        json.BeginObject();
        json.Key("index").Number(static_cast<std::uint64_t>(index));
        json.Key("name").String(tile.name);
        json.Key("host").String(tile.host);
        json.Key("bridgeSerial").String(tile.bridgeSerial);
        json.Key("state").String(TileStateName(tile.state));
        json.Key("erasing").Bool(tile.erasing);
        json.Key("target").String(tile.target);
        json.Key("bytes").Number(tile.bytes);
        json.Key("totalBytes").Number(tile.totalBytes);
        json.Key("kbps").Number(tile.kilobytesPerSecond);
        json.Key("serial").String(tile.serial);
        json.Key("passed").Number(tile.passed);
        json.Key("failed").Number(tile.failed);
        json.Key("reason").String(tile.reason);
        json.Key("advice").String(tile.advice);
        json.Key("held").Bool(tile.held);
        json.Key("stopped").Bool(tile.stopped);
        json.Key("stamp").Number(tile.stamp);
        json.Key("seq").Number(tile.seq);
        json.EndObject();
    }
    json.EndArray().Key("seq").Number(message.seq);
    if (whole) json.Key("whole").Bool(true);
    json.EndObject();
    return json.Take();
}

std::string LineState::Snapshot(bool whole, std::uint64_t* seq) const {
    Message message;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        message = MessageLocked(0);
    }
    if (seq != nullptr) *seq = message.seq;
    return Text(message, whole);
}

std::optional<std::string> LineState::WaitForChanges(std::uint64_t& since, Millis timeout) {
    Message message;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // The connection's own wait: the real clock, whatever the stations
        // run on.
        if (!changed_.wait_for(lock, timeout, [&] { return closed_ || seq_ > since; }) || closed_) {
            return std::nullopt;
        }
        message = MessageLocked(since);
    }
    since = message.seq;
    return Text(message, false);
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
