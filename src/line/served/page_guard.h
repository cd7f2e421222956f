// What both pages farsend serves (the line page and the dashboard) do with
// every request before and after its route: who may ask is decided by
// line_access.h's rules, a refusal is answered here, and every answer
// carries the same security headers.
#pragma once

#include <httplib.h>

#include <string>

namespace farsend::line {

// `whose`: "line" or "dashboard", the command that printed the token, as a
// refusal names it.
void GuardPages(httplib::Server& server, const std::string& whose, bool loopback,
                const std::string& token);

}  // namespace farsend::line
