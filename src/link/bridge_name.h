// How an operator names a bridge (--device NAME, a station's name): by its
// device path, its location or its USB serial number, as `farsend devices`
// lists them. One rule, so that every command that takes a name picks the
// same bridge.
#pragma once

#include <string>

#include "link/hid_platform.h"

namespace farsend::link {

// Whether NAME names the interface at `path` with `identity`. An empty
// location or serial names nothing: "--device ''" must not pick every
// bridge that lacks a serial.
bool BridgeAnswersTo(const std::string& name, const std::string& path, const HidIdentity& identity);

// The name a bridge goes by when the operator gave none: its location, which
// stays with the socket across replugs, else its path.
std::string BridgeDefaultName(const std::string& path, const HidIdentity& identity);

}  // namespace farsend::link
