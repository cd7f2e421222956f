// The line page's server over real HTTP on the loopback: the page, the
// state, the event stream following a change, and an action carried out by
// the run's thread only with the token.
#include "line/line_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "support/virtual_clock.h"

namespace farsend::line {
namespace {

const char* kToken = "0123456789abcdef0123456789abcdef";

TEST(LineServerTest, ServesThePageTheStateTheEventsAndTheActions) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{7}; });
    state.AddStation("sim-usb-1.4", "", "SIM00001");
    LineActions actions;
    LineServer server(state, actions, kToken);
    std::string error;
    ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
    ASSERT_GT(server.Port(), 0);

    httplib::Client client("127.0.0.1", server.Port());
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("/line.js"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"),
              std::string::npos);
    auto line = client.Get("/api/line");
    ASSERT_TRUE(line);
    EXPECT_EQ(nlohmann::json::parse(line->body)["stations"][0]["name"], "sim-usb-1.4");

    // The stream: the whole line, then the change, as it happens.
    std::string stream;
    std::thread changer;
    httplib::Client events("127.0.0.1", server.Port());
    events.Get("/api/events", [&](const char* data, std::size_t length) {
        stream.append(data, length);
        if (!changer.joinable() && stream.find("\n\n") != std::string::npos) {
            changer =
                std::thread([&] { state.Change(0, [](Tile& tile) { tile.serial = "100042"; }); });
        }
        return stream.find("100042") == std::string::npos;
    });
    changer.join();
    EXPECT_NE(stream.find("event: line\ndata: {"), std::string::npos);
    EXPECT_NE(stream.find("\"serial\":\"100042\""), std::string::npos);

    // An action: refused without the token, carried out with it.
    auto refused = client.Post("/api/stations/0/retry", "", "text/plain");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    std::atomic<bool> answered{false};
    std::thread run([&] {
        while (!answered) {
            actions.Serve([](const LineAction& action) {
                return ActionAnswer{action.kind == ActionKind::Stop ? 200 : 409, "done"};
            });
            std::this_thread::yield();
        }
    });
    httplib::Headers bearer = {{"Authorization", std::string("Bearer ") + kToken}};
    auto stopped = client.Post("/api/stations/0/stop", bearer, "", "text/plain");
    answered = true;
    run.join();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->status, 200);
    auto unknown = client.Post("/api/stations/0/erase", bearer, "", "text/plain");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    server.Stop();
}

TEST(LineServerTest, AnAddressThatCannotBeHadIsSaid) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{0}; });
    LineActions actions;
    LineServer first(state, actions, kToken);
    std::string error;
    ASSERT_TRUE(first.Start({"127.0.0.1", 0}, error)) << error;
    LineState other(clock, [] { return std::int64_t{0}; });
    LineServer second(other, actions, kToken);
    EXPECT_FALSE(second.Start({"127.0.0.1", first.Port()}, error));
    EXPECT_NE(error.find("taken"), std::string::npos) << error;
}

}  // namespace
}  // namespace farsend::line
