// A build without cpp-httplib serves no page: farsend line says so and
// ends before any target is touched.
#include "line/line_server.h"

// Never made here: the server's pointer only needs a complete type to go.
namespace httplib {
class Server {};
}  // namespace httplib

namespace farsend::line {

LineServer::LineServer(LineState& state, LineActions& actions, std::string token)
    : state_(state), actions_(actions), token_(std::move(token)) {}

LineServer::~LineServer() = default;

bool LineServer::Start(const ListenAddress&, std::string& error) {
    error = "this build serves no line page: it was built without cpp-httplib";
    return false;
}

void LineServer::Stop() {}

}  // namespace farsend::line
