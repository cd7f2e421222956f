// Who may see the line and who may change a station.
#include "line/line_access.h"

#include <gtest/gtest.h>

#include "line/line_server.h"
#include "line/line_token.h"
#include "support/temp_directory.h"

namespace farsend::line {
namespace {

const char* kToken = "0123456789abcdef0123456789abcdef";

struct AccessCase {
    const char* name;
    RequestFacts request;
    bool loopbackListener;
    Access expected;
};

TEST(LineAccessTest, Rules) {
    const std::string page = "127.0.0.1:8642";
    const std::string lan = "192.0.2.2:8642";
    const AccessCase cases[] = {
        {"loopback view", {"127.0.0.1", page, "", "", false, false}, true, Access::Allowed},
        {"loopback view, v6", {"::1", "[::1]:8642", "", "", false, false}, true, Access::Allowed},
        {"loopback action without token",
         {"127.0.0.1", page, "http://" + page, "", true, false},
         true,
         Access::Unauthorized},
        {"loopback action, wrong token",
         {"127.0.0.1", page, "http://" + page, "0123456789abcdef0123456789abcdeX", true, false},
         true,
         Access::Unauthorized},
        {"loopback action with token",
         {"127.0.0.1", page, "http://" + page, kToken, true, false},
         true,
         Access::Allowed},
        {"another site's page",
         {"127.0.0.1", page, "http://evil.example", kToken, true, false},
         true,
         Access::Forbidden},
        {"another site's view",
         {"127.0.0.1", page, "http://evil.example", "", false, false},
         true,
         Access::Forbidden},
        {"a name rebound to the loopback",
         {"127.0.0.1", "evil.example:8642", "", "", false, false},
         true,
         Access::Forbidden},
        {"beyond the loopback, view without token",
         {"192.0.2.9", lan, "", "", false, false},
         false,
         Access::Unauthorized},
        {"beyond the loopback, v4-mapped",
         {"::ffff:192.0.2.9", lan, "", "", false, false},
         false,
         Access::Unauthorized},
        {"beyond the loopback, page file",
         {"192.0.2.9", lan, "", "", false, true},
         false,
         Access::Allowed},
        {"beyond the loopback, action without token",
         {"192.0.2.9", lan, "http://" + lan, "", true, false},
         false,
         Access::Unauthorized},
        {"beyond the loopback, view with token",
         {"192.0.2.9", lan, "", kToken, false, false},
         false,
         Access::Allowed},
        {"beyond the loopback, action with token",
         {"192.0.2.9", lan, "http://" + lan, kToken, true, false},
         false,
         Access::Allowed},
        {"a loopback peer on a wide listener",
         {"::ffff:127.0.0.1", lan, "", "", false, false},
         false,
         Access::Allowed},
    };
    for (const AccessCase& c : cases) {
        EXPECT_EQ(Decide(c.request, c.loopbackListener, kToken), c.expected) << c.name;
    }
}

TEST(LineAccessTest, NoTokenMatchesAnEmptyOne) {
    EXPECT_FALSE(TokensMatch("", ""));
    RequestFacts action{"127.0.0.1", "127.0.0.1:1", "", "", true, false};
    EXPECT_EQ(Decide(action, true, ""), Access::Unauthorized);
}

TEST(LineAccessTest, ListenAddresses) {
    struct Case {
        const char* text;
        bool good;
        const char* host;
        int port;
    };
    const Case cases[] = {
        {"127.0.0.1:8642", true, "127.0.0.1", 8642},
        {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"[::1]:80", true, "::1", 80},
        {":9000", true, "127.0.0.1", 9000},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},
        {"127.0.0.1:http", false, "", 0},
        {"127.0.0.1:", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto address = ParseListenAddress(c.text, error);
        ASSERT_EQ(address.has_value(), c.good) << c.text;
        if (!c.good) {
            EXPECT_NE(error.find(c.text), std::string::npos) << c.text;
            continue;
        }
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
    }
}

TEST(LineAccessTest, TokenFiles) {
    testing::TempDirectory dir;
    struct Case {
        const char* content;
        const char* token;  // null: refused
    };
    const Case cases[] = {
        {"  s3cret-token-of-the-line  \r\nsecond line\n", "s3cret-token-of-the-line"},
        {"short\n", nullptr},
        {"a token with spaces in it\n", nullptr},
        {"", nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.Touch("token" + std::to_string(n++), c.content).string();
        std::string error;
        const auto token = ReadTokenFile(path, error);
        if (c.token == nullptr) {
            EXPECT_FALSE(token) << c.content;
            EXPECT_FALSE(error.empty()) << c.content;
        } else {
            ASSERT_TRUE(token) << error;
            EXPECT_EQ(*token, c.token);
        }
    }
    std::string error;
    EXPECT_FALSE(ReadTokenFile((dir.path() / "none").string(), error));
    EXPECT_NE(MakeToken(), MakeToken());
    EXPECT_EQ(MakeToken().size(), 32u);
}

}  // namespace
}  // namespace farsend::line
