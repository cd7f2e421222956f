#include "line/served/page_guard.h"

#include <nlohmann/json.hpp>

#include "line/line_access.h"
#include "line/page_assets.h"

namespace farsend::line {
namespace {

const char* kContentSecurity =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; frame-ancestors 'none'; "
    "form-action 'none'";

// A bearer token in the Authorization header, else the token parameter.
std::string PresentedToken(const httplib::Request& request) {
    const std::string authorization = request.get_header_value("Authorization");
    const std::string bearer = "Bearer ";
    if (authorization.compare(0, bearer.size(), bearer) == 0) {
        return authorization.substr(bearer.size());
    }
    return request.has_param("token") ? request.get_param_value("token") : std::string();
}

}  // namespace

void GuardPages(httplib::Server& server, const std::string& whose, bool loopback,
                const std::string& token) {
    // The server keeps the handlers: they hold copies, not references.
    server.set_pre_routing_handler([whose, loopback, token](const httplib::Request& request,
                                                            httplib::Response& response) {
        RequestFacts facts;
        facts.peer = request.remote_addr;
        facts.host = request.get_header_value("Host");
        facts.origin = request.get_header_value("Origin");
        facts.presented = PresentedToken(request);
        facts.changesStation = request.method != "GET" && request.method != "HEAD";
        facts.pageFile = !facts.changesStation && FindPageAsset(request.path) != nullptr;
        const Access access = Decide(facts, loopback, token);
        if (access == Access::Allowed) return httplib::Server::HandlerResponse::Unhandled;
        const std::string error =
            access == Access::Unauthorized
                ? "this needs the " + whose + "'s token (printed when farsend " + whose +
                      " started, or in its --token-file)"
                : "refused: the request comes from another site or names another host";
        response.status = HttpStatusOf(access);
        response.set_header("Cache-Control", "no-store");
        response.set_content(nlohmann::json{{"error", error}}.dump(), "application/json");
        if (access == Access::Unauthorized) response.set_header("WWW-Authenticate", "Bearer");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy", kContentSecurity);
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Referrer-Policy", "no-referrer");
    });
}

}  // namespace farsend::line
