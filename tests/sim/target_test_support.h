// Drives a SimulatedTarget the way the simulated bridge does, in virtual
// milliseconds, with the wire bytes written out literally.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/simulated_target.h"

namespace farsend::sim::testing {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kT0 = 1000000;

// Commands.
inline const Bytes kAck = {0x9C, 0xCA, 0xFD, 0xAB};
inline const Bytes kStartApplication = {0x9C, 0xBB, 0xFD, 0xDA};
inline const Bytes kEraseDefault = {0x9C, 0xED, 0xFD, 0x8C};
inline const Bytes kEraseAll = {0x9C, 0xEA, 0xFD, 0x8B};
inline const Bytes kProgramApplication = {0x9C, 0xFF, 0xFD, 0x9E};
inline const Bytes kEndOfData = {0x9C, 0xEF, 0xFD, 0x8E};
inline const Bytes kBlockFollows = {0x9C, 0x11, 0xFD, 0x70};
inline const Bytes kProgramBoth = {0x9C, 0xFB, 0xFD, 0x9A};
inline const Bytes kAbort = {0x9C, 0x53, 0xFD, 0x32};
inline const Bytes kQueryVariant = {0x9C, 0x55, 0xFD, 0x34};
inline const Bytes kQueryVersion = {0x9C, 0x5A, 0xFD, 0x3B};

// Answers.
inline const Bytes kCall = {0x8C, 0xFD, 0xCA, 0xBB};
inline const Bytes kTargetAck = {0x8C, 0xCA, 0xAC, 0xEA};
inline const Bytes kDone = {0x8C, 0xFD, 0xC0, 0xB1};
inline const Bytes kBlockErased = {0x8C, 0xFD, 0xEB, 0x9A};
inline const Bytes kStatusE0 = {0x8C, 0xFD, 0xE0, 0x91};
inline const Bytes kEraseDefaultAck = {0x8C, 0xED, 0xAC, 0xCD};
inline const Bytes kEraseAllAck = {0x8C, 0xEA, 0xAC, 0xCA};
inline const Bytes kProgramApplicationAck = {0x8C, 0xFF, 0xAC, 0xDF};
inline const Bytes kProgramBothAck = {0x8C, 0xFB, 0xAC, 0xDB};
inline const Bytes kAbortAck = {0x8C, 0x53, 0xAC, 0x73};
inline const Bytes kStartApplicationAck = {0x8C, 0xBB, 0xAC, 0x9B};

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The 28-byte query reply: 8C, query, AC, 24 text bytes zero-padded, XOR.
inline Bytes Reply(uint8_t query, const std::string& text) {
    Bytes r = {0x8C, query, 0xAC};
    for (size_t i = 0; i < 24; ++i) r.push_back(i < text.size() ? uint8_t(text[i]) : 0);
    uint8_t x = 0;
    for (uint8_t b : r) x ^= b;
    r.push_back(x);
    return r;
}

inline void PutLe32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A 268-byte block. `count` and `check` default to the honest values.
inline Bytes Block(uint32_t base, const Bytes& data, int64_t count = -1, int64_t check = -1) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum ^= b;
    Bytes out;
    PutLe32(out, base);
    PutLe32(out, check < 0 ? (base ^ sum) : uint32_t(check));
    for (size_t i = 0; i < 256; ++i) out.push_back(i < data.size() ? data[i] : 0);
    PutLe32(out, count < 0 ? uint32_t(data.size()) : uint32_t(count));
    return out;
}

inline Bytes Counting(size_t n, uint8_t first = 0) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(first + i));
    return out;
}

inline SimOptions Simulating() {
    SimOptions o;
    o.simulate = true;
    return o;
}

class TargetDriver {
public:
    explicit TargetDriver(const SimOptions& options = Simulating(), PlugState* plug = nullptr)
        : target(options, plug) {}

    Bytes Collect(int64_t t) {
        Bytes out;
        next = target.CollectTargetBytes(Millis(t), out).count();
        return out;
    }
    void Send(const Bytes& b, int64_t t) { target.OnHostBytes(b.data(), b.size(), Millis(t)); }
    // Sends and takes whatever the target has sent by the same moment.
    Bytes Exchange(const Bytes& b, int64_t t) {
        Send(b, t);
        return Collect(t);
    }
    void Open(int64_t t) { target.OnBridgeOpened(Millis(t)); }
    void Close(int64_t t) { target.OnBridgeClosed(Millis(t)); }

    // Opens at `t`, takes the first call and completes the handshake.
    Bytes Connect(int64_t t = kT0) {
        Open(t);
        return Cat({Collect(t), Exchange(kAck, t)});
    }

    SimulatedTarget target;
    int64_t next = 0;  // what the last Collect said about the next due time
};

}  // namespace farsend::sim::testing
