// Who may do what on the line page. The rules, apart from any HTTP server:
//   - a request whose Origin is not the page's own is refused (403): no
//     other site in the operator's browser may drive a station;
//   - on a loopback listener the Host must name the loopback too (403), so
//     that a name that resolves to 127.0.0.1 cannot reach in through it;
//   - an action that changes a station needs the token (401 without it, or
//     with a wrong one), from anywhere;
//   - a peer beyond the loopback needs the token to see the line at all
//     (401); the page's own files (HTML, script, style) carry nothing of the
//     line and are served to anyone who may reach the listener.
#pragma once

#include <string>

namespace farsend::line {

struct RequestFacts {
    std::string peer;             // the peer's address, as the socket gives it
    std::string host;             // the Host header
    std::string origin;           // the Origin header; "" when none was sent
    std::string presented;        // the token the request carries; "" when none
    bool changesStation = false;  // an action (retry, stop, continue)
    bool pageFile = false;        // one of the page's static files
};

enum class Access { Allowed, Unauthorized, Forbidden };

// 200-ish, 401 or 403.
int HttpStatusOf(Access access);

bool IsLoopbackAddress(const std::string& address);
// "127.0.0.1:8080", "localhost:8080", "[::1]:8080": a Host on the loopback.
bool IsLoopbackHost(const std::string& host);

// Equal texts, in a time that does not tell how much of them matched.
bool TokensMatch(const std::string& expected, const std::string& presented);

Access Decide(const RequestFacts& request, bool listeningOnLoopback, const std::string& token);

}  // namespace farsend::line
