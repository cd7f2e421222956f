// Whether a firmware file fits the connected target: the radio variant and
// hardware version that its name carries, against what the target reports
// through its two queries.
#pragma once

#include <string_view>

#include "protocol/exchange_result.h"
#include "protocol/target_identity.h"

namespace farsend::protocol {
class ExchangeContext;
}

namespace farsend::firmware {

// The version of a file name as validation sees it. A name without version
// digits is None here, although auto-selection counts it as "1.0".
enum class VersionClass { None, V1_0, V1_5, V2_0 };

// The class of a parsed version pair: (1, 0), (1, 5), (2, 0), anything else.
VersionClass VersionClassOf(int major, int minor);
// The class of a file name's version pair ((0, 0) when it has none).
VersionClass ImageVersionClass(std::string_view path);

// The decision alone, from the results of the variant query (`variantStatus`)
// and the version query (`versionStatus`): Ok, Failed (the closing Done did
// not come) or ReplyMissing, what they left in `identity`, and
// the file's name. The build number is never compared. A reply that came
// is compared whether or not its closing Done followed: one lost packet
// must not let a file for another radio or version through.
bool FirmwareFitsTarget(std::string_view path, protocol::ExchangeResult variantStatus,
                        protocol::ExchangeResult versionStatus,
                        const protocol::TargetIdentity& identity);

// Runs both queries on the connected target (always both, before the name is
// looked at) and decides. 1: the file fits, 0: it does not. The link stays
// open and the target in its bootloader.
int ValidateFirmwareForTarget(protocol::ExchangeContext& exchanges, std::string_view path);

}  // namespace farsend::firmware
