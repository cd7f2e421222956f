// What the line page shows: one tile per socket and a header over them,
// kept by the stations' threads and read by the page's connections. Every
// change stamps its tile with a sequence number, so that each connection
// sends only the tiles that changed since it last sent, however many
// changes came in between (a busy line's progress coalesces, a slow
// browser never holds a station up).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"

namespace farsend::line {

enum class TileState {
    Waiting,      // no board in the socket, or one not yet heard from
    Identifying,  // a board answered and is being checked
    Programming,  // its flash is being erased or written
    Pass,
    Fail,
    Unplugged,  // the bridge went away during the unit
};

// "waiting", "identifying", "programming", "pass", "fail", "unplugged".
const char* TileStateName(TileState state);

struct Tile {
    std::string name;          // the bridge's location
    std::string host;          // the PC's name, when the line shares a database
    std::string bridgeSerial;  // as the bridge's descriptors give it
    TileState state = TileState::Waiting;
    bool erasing = false;  // Programming: still erasing
    std::string target;    // "ZigBee 1.5.0" once identified
    std::uint64_t bytes = 0;
    std::uint64_t totalBytes = 0;
    double kilobytesPerSecond = 0;
    std::string serial;  // the unit's serial number; "" when it takes none
    int passed = 0;
    int failed = 0;
    std::string reason;      // Fail, Unplugged: what went wrong, in words
    std::string advice;      // ... and what the operator is to do
    bool held = false;       // the failed board is still in the socket
    bool stopped = false;    // the operator stopped the station
    std::int64_t stamp = 0;  // wall-clock milliseconds of the change shown
    std::uint64_t seq = 0;
    Millis jobStart{0};
};

struct JobHeader {
    std::string file;    // the file's name, without its folder
    std::string sha256;  // its digest, in hex
    std::string mode;    // "application" or "factory"
    std::uint64_t imageBytes = 0;
};

// A unit's end as the run judged it.
struct UnitEnd {
    bool passed = false;
    bool unplugged = false;
    std::string serial;
    std::string reason;
    std::string advice;
    bool held = false;
};

class LineState {
public:
    // `clock` times the session and the jobs (units per hour, KB/s);
    // `wallMillis` stamps each change for the page's latency figure.
    LineState(Clock& clock, std::function<std::int64_t()> wallMillis);

    void SetHeader(const JobHeader& header);
    // A new socket; returns its number, from 0.
    std::size_t AddStation(const std::string& name, const std::string& host,
                           const std::string& bridgeSerial);
    std::size_t StationCount() const;

    // `change` edits the tile under the lock; the tile is then stamped and
    // every connection woken. Unknown stations are ignored.
    void Change(std::size_t station, const std::function<void(Tile&)>& change);
    // The job's start, and its bytes so far (KB/s from the clock).
    void JobBegun(std::size_t station, bool erasing);
    void JobProgress(std::size_t station, std::uint64_t bytes, bool erasing);
    void UnitDone(std::size_t station, const UnitEnd& end);

    Tile TileOf(std::size_t station) const;

    // {"header": {...}, "stations": [every tile], "seq": N} as JSON text;
    // `whole` adds "whole": true (a connection's first message), and `seq`,
    // when given, receives N.
    std::string Snapshot(bool whole = false, std::uint64_t* seq = nullptr) const;
    // The same with only the tiles changed after `since`, or nullopt when
    // none changed within `timeout` or the state was closed. `since` moves
    // on. The tiles are copied under the lock and written out after it, so
    // that the stations never wait for the page's text.
    std::optional<std::string> WaitForChanges(std::uint64_t& since, Millis timeout);
    // Wakes every waiting connection for good (the server stops).
    void Close();
    bool Closed() const;

private:
    // What a message says, copied under the lock.
    struct Message {
        JobHeader header;
        int passed = 0;
        int failed = 0;
        double hours = 0;  // since the start
        std::vector<std::pair<std::size_t, Tile>> tiles;
        std::uint64_t seq = 0;
    };
    Message MessageLocked(std::uint64_t since) const;
    static std::string Text(const Message& message, bool whole);
    void TouchLocked(Tile& tile);

    Clock& clock_;
    std::function<std::int64_t()> wallMillis_;
    const Millis started_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    JobHeader header_;
    std::vector<Tile> tiles_;
    std::uint64_t seq_ = 0;
    bool closed_ = false;
};

// The wall clock in milliseconds since 1970, as browsers count.
std::int64_t WallMillisNow();

}  // namespace farsend::line
