// What a call on the link reports. The values are the link's signed 16-bit
// codes, which messages and logs show as numbers, so they never change.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace farsend::link {

enum class LinkResult : int16_t {
    Ok = 0,
    // Nothing is available to read now; try again later.
    NothingAvailable = -1,
    // A bad argument, or the link is not open.
    BadArgument = -2,
    // A handle is missing or a report could not be written.
    ReportFailed = -3,
    // The bridge could not be opened.
    OpenFailed = -4,
};

// The result's name ("Ok", "OpenFailed", ...); "Unknown" for a value
// outside the list.
const char* LinkResultName(LinkResult result);
// The number as the link has always given it.
inline int LinkResultCode(LinkResult result) {
    return static_cast<int>(result);
}

// The name; a value outside the list also shows its number, "Unknown(-7)".
std::ostream& operator<<(std::ostream& out, LinkResult result);

}  // namespace farsend::link
