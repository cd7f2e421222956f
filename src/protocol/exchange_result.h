// What a bootloader exchange, or one of the primitives it is built from,
// reports. The values are those the exchanges have always returned, and
// messages show them as numbers, so they never change; each value has one
// name, and each exchange documents which of them it returns.
#pragma once

#include <iosfwd>

namespace farsend::protocol {

enum class ExchangeResult : int {
    Ok = 0,
    // The step failed for a reason no other code names: an open failure
    // other than those of WriteFailed and TimedOut; a query without a
    // destination, or whose closing Done did not come.
    Failed = 1,
    // OpenLink: the link's first report could not be written (link code
    // -3). Sending a command or a block: it could not be written.
    WriteFailed = 2,
    // A receive ran out of time; OpenLink: the link said "bad argument" (-2).
    TimedOut = 3,
    // ConnectTarget: the link did not open.
    LinkNotOpened = 5,
    // ConnectTarget: the target did not confirm the host's Ack.
    NotConfirmed = 7,
    // Job exchanges: the expected answer did not come (wrong, corrupted, none).
    WrongAnswer = 8,
    // Queries: the reply did not come or was not the expected reply.
    ReplyMissing = 10,
};

// The result's name ("Ok", "TimedOut", ...); "Unknown" for a value outside
// the list.
const char* ExchangeResultName(ExchangeResult result);
// The number as the exchanges have always given it.
inline int ExchangeResultCode(ExchangeResult result) {
    return static_cast<int>(result);
}

// The name; a value outside the list also shows its number, "Unknown(4)".
std::ostream& operator<<(std::ostream& out, ExchangeResult result);

}  // namespace farsend::protocol
