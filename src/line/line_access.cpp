#include "line/line_access.h"

#include <cstddef>

namespace farsend::line {

int HttpStatusOf(Access access) {
    switch (access) {
        case Access::Allowed:
            return 200;
        case Access::Unauthorized:
            return 401;
        case Access::Forbidden:
            return 403;
    }
    return 403;
}

bool IsLoopbackAddress(const std::string& address) {
    std::string a = address;
    // An IPv4 peer on a dual-stack socket.
    const std::string mapped = "::ffff:";
    if (a.compare(0, mapped.size(), mapped) == 0) a = a.substr(mapped.size());
    return a == "::1" || a.compare(0, 4, "127.") == 0;
}

bool IsLoopbackHost(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        const std::size_t close = name.find(']');
        if (close == std::string::npos) return false;
        name = name.substr(1, close - 1);
    } else if (const std::size_t colon = name.rfind(':'); colon != std::string::npos) {
        name = name.substr(0, colon);
    }
    return name == "localhost" || IsLoopbackAddress(name);
}

bool TokensMatch(const std::string& expected, const std::string& presented) {
    if (expected.empty() || presented.size() != expected.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        differ |= static_cast<unsigned char>(expected[i] ^ presented[i]);
    }
    return differ == 0;
}

Access Decide(const RequestFacts& request, bool listeningOnLoopback, const std::string& token) {
    if (listeningOnLoopback && !IsLoopbackHost(request.host)) return Access::Forbidden;
    if (!request.origin.empty() && request.origin != "http://" + request.host) {
        return Access::Forbidden;
    }
    const bool tokenGood = TokensMatch(token, request.presented);
    if (request.changesStation) return tokenGood ? Access::Allowed : Access::Unauthorized;
    if (request.pageFile || IsLoopbackAddress(request.peer)) return Access::Allowed;
    return tokenGood ? Access::Allowed : Access::Unauthorized;
}

}  // namespace farsend::line
