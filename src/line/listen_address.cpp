#include "line/line_server.h"

#include <cstdlib>

namespace farsend::line {

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        error = "--listen " + text + ": give ADDR:PORT, as in 127.0.0.1:8642 or 0.0.0.0:8642";
        return std::nullopt;
    }
    ListenAddress address;
    address.host = text.substr(0, colon);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
        address.host = address.host.substr(1, address.host.size() - 2);
    }
    if (address.host.empty()) address.host = "127.0.0.1";
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(port.c_str()) > 65535) {
        error = "--listen " + text + ": the port must be a number from 0 to 65535";
        return std::nullopt;
    }
    address.port = std::atoi(port.c_str());
    return address;
}

}  // namespace farsend::line
