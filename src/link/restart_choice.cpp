#include "link/restart_choice.h"

#include <algorithm>
#include <cctype>

namespace farsend::link {
namespace {

bool SameIdentifier(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsDeviceToRestart(const std::string& deviceId, const std::string& pattern,
                       const RestartChoice& choice) {
    if (deviceId.empty() || deviceId.find(pattern) == std::string::npos) return false;
    if (choice.firstMatch) return true;
    return std::any_of(choice.lineage.begin(), choice.lineage.end(),
                       [&](const std::string& id) { return SameIdentifier(id, deviceId); });
}

}  // namespace farsend::link
