#include "line/line_server.h"

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>

#include "line/line_access.h"
#include "line/page_assets.h"
#include "line/served/page_guard.h"

namespace farsend::line {
namespace {

// The longest a connection goes without a byte: a comment keeps proxies
// and the browser from taking a quiet line for a dead one.
constexpr int kKeepAliveEvery = 15;  // waits of kEventWait
constexpr Millis kEventWait{1000};
// Changes that come faster than this are sent together: the page needs no
// more than a frame's worth, and the stations' threads never wait on it.
constexpr std::chrono::milliseconds kEventGap{40};
// How long an action waits for the run to carry it out.
constexpr Millis kActionWait{5000};

std::string Dump(const nlohmann::json& value) {
    // Text from a device need not be UTF-8: such bytes are shown replaced,
    // not refused.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void SendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(body), "application/json");
}

}  // namespace

LineServer::LineServer(LineState& state, LineActions& actions, std::string token)
    : state_(state),
      actions_(actions),
      token_(std::move(token)),
      server_(std::make_unique<httplib::Server>()) {
    // Each page holds a thread for its events: room for a line's screens.
    server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
#if !defined(_WIN32)
    // Not the library's SO_REUSEPORT, with which a second farsend line on
    // the same port would share it, each answering some of the requests.
    // (On Windows its default already takes the port for itself alone.)
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
#endif
    Route();
}

LineServer::~LineServer() {
    Stop();
}

bool LineServer::Start(const ListenAddress& address, std::string& error) {
    loopback_ = address.host == "localhost" || IsLoopbackAddress(address.host);
    // Who may ask depends on where the page listens: guarded once that is known.
    GuardPages(*server_, "line", loopback_, token_);
    if (address.port == 0) {
        port_ = server_->bind_to_any_port(address.host);
        if (port_ < 0) port_ = 0;
    } else if (server_->bind_to_port(address.host, address.port)) {
        port_ = address.port;
    }
    if (port_ <= 0) {
        error = "the page cannot be served at " + address.host + ":" +
                std::to_string(address.port) +
                ": the address is not this PC's, or the port is taken (--listen ADDR:PORT "
                "chooses another)";
        return false;
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, ended] {
        server_->listen_after_bind();
        *ended = true;
    });
    // A stop before the server runs would be lost, and the join would wait
    // for ever: Start returns once it runs (or has ended).
    while (!server_->is_running() && !*ended) std::this_thread::sleep_for(Millis(1));
    return true;
}

void LineServer::Stop() {
    if (stopping_.exchange(true)) return;
    state_.Close();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void LineServer::Route() {
    server_->Get("/api/line", [this](const httplib::Request&, httplib::Response& res) {
        res.status = 200;
        res.set_header("Cache-Control", "no-store");
        res.set_content(state_.Snapshot(), "application/json");
    });

    server_->Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        auto since = std::make_shared<std::uint64_t>(0);
        auto first = std::make_shared<bool>(true);
        auto quiet = std::make_shared<int>(0);
        res.set_chunked_content_provider(
            "text/event-stream", [this, since, first, quiet](std::size_t, httplib::DataSink& sink) {
                if (stopping_) return false;
                std::string message;
                if (*first) {
                    *first = false;
                    message =
                        "retry: 1000\nevent: line\ndata: " + state_.Snapshot(true, since.get()) +
                        "\n\n";
                } else if (auto changes = state_.WaitForChanges(*since, kEventWait)) {
                    *quiet = 0;
                    message = "event: line\ndata: " + *changes + "\n\n";
                } else if (++*quiet >= kKeepAliveEvery) {
                    *quiet = 0;
                    message = ": still here\n\n";
                }
                if (stopping_) return false;
                if (!message.empty() && !sink.write(message.data(), message.size())) return false;
                if (!message.empty()) std::this_thread::sleep_for(kEventGap);
                return true;
            });
    });

    server_->Post(R"(/api/stations/(\d+)/(\w+))", [this](const httplib::Request& req,
                                                         httplib::Response& res) {
        const std::optional<ActionKind> kind = ActionKindNamed(req.matches[2]);
        if (!kind) {
            SendJson(res, 404, {{"error", "no such action"}});
            return;
        }
        LineAction action;
        action.kind = *kind;
        action.station =
            static_cast<std::size_t>(std::strtoull(req.matches[1].str().c_str(), nullptr, 10));
        const std::optional<ActionAnswer> answer = actions_.Ask(action, kActionWait);
        if (!answer) {
            SendJson(res, 503, {{"error", "the run did not take the action"}});
            return;
        }
        SendJson(res, answer->httpStatus, {{"message", answer->message}});
    });

    server_->Get(R"(/[\w.\-/]*)", [](const httplib::Request& req, httplib::Response& res) {
        const PageAsset* asset = FindPageAsset(req.path);
        if (asset == nullptr) {
            SendJson(res, 404, {{"error", "no such page"}});
            return;
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
    });
}

}  // namespace farsend::line
