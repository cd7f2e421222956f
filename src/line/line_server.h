// The line page's HTTP server: the page's files, the line's state as JSON,
// its changes as server-sent events, and the actions on stations, each
// request let through by the rules of line_access.h.
//
//   GET  /, /index.html, /line.js, ...     the page
//   GET  /api/line                         every tile and the header
//   GET  /api/events                       text/event-stream: "line" events,
//                                          the whole line first, then the
//                                          tiles that changed
//   POST /api/stations/N/retry|stop|continue   N from 0
//
// The token travels as "Authorization: Bearer TOKEN", or as ?token= where a
// header cannot be set (an EventSource).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "line/line_actions.h"
#include "line/line_state.h"

namespace httplib {
class Server;
}

namespace farsend::line {

// The port the page is served on unless --listen says otherwise.
constexpr int kDefaultLinePort = 8642;

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = kDefaultLinePort;
};

// "ADDR:PORT", "[V6]:PORT" or ":PORT" (the loopback); nullopt with `error`
// for anything else. PORT 0 takes any free port.
std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string& error);

class LineServer {
public:
    LineServer(LineState& state, LineActions& actions, std::string token);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Binds and starts serving on a thread of its own. False with `error`
    // when the address cannot be had.
    bool Start(const ListenAddress& address, std::string& error);
    // The port bound (the one chosen, for port 0).
    int Port() const { return port_; }
    bool OnLoopback() const { return loopback_; }
    // Ends every connection and joins the server's thread.
    void Stop();

private:
    void Route();

    LineState& state_;
    LineActions& actions_;
    const std::string token_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool loopback_ = true;
    std::atomic<bool> stopping_{false};
};

}  // namespace farsend::line
