#include "link/link_result.h"

#include <cstring>
#include <ostream>

namespace farsend::link {

const char* LinkResultName(LinkResult result) {
    switch (result) {
        case LinkResult::Ok:
            return "Ok";
        case LinkResult::NothingAvailable:
            return "NothingAvailable";
        case LinkResult::BadArgument:
            return "BadArgument";
        case LinkResult::ReportFailed:
            return "ReportFailed";
        case LinkResult::OpenFailed:
            return "OpenFailed";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& out, LinkResult result) {
    const char* name = LinkResultName(result);
    out << name;
    if (std::strcmp(name, "Unknown") == 0) out << '(' << LinkResultCode(result) << ')';
    return out;
}

}  // namespace farsend::link
