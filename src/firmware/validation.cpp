#include "firmware/validation.h"

#include "firmware/image_names.h"
#include "protocol/exchanges.h"

namespace farsend::firmware {

VersionClass VersionClassOf(int major, int minor) {
    if (major == 1 && minor == 0) return VersionClass::V1_0;
    if (major == 1 && minor == 5) return VersionClass::V1_5;
    if (major == 2 && minor == 0) return VersionClass::V2_0;
    return VersionClass::None;
}

VersionClass ImageVersionClass(std::string_view path) {
    const ImageVersion version = ImageVersionOf(path);
    return VersionClassOf(version.major, version.minor);
}

namespace {

bool ReportedVersionIs(const protocol::TargetIdentity& identity, int major, int minor) {
    return identity.major == major && identity.minor == minor;
}

// The query's reply reached us and was read into the identity.
bool ReplyCame(protocol::ExchangeResult status) {
    return status == protocol::ExchangeResult::Ok || status == protocol::ExchangeResult::Failed;
}

}  // namespace

bool FirmwareFitsTarget(std::string_view path, protocol::ExchangeResult variantStatus,
                        protocol::ExchangeResult versionStatus,
                        const protocol::TargetIdentity& identity) {
    const bool zigBee = IsZigBeeImageName(path);
    const bool bluetooth = IsBluetoothImageName(path);
    const VersionClass versionClass = ImageVersionClass(path);

    if (!zigBee && !bluetooth) return false;

    // The variant is compared only when the target answered its query. A name
    // with both markers cannot match any single reported variant.
    if (ReplyCame(variantStatus)) {
        if (zigBee && identity.variant != protocol::kVariantZigBee) return false;
        if (bluetooth && identity.variant != protocol::kVariantBluetooth) return false;
    }

    if (ReplyCame(versionStatus)) {
        switch (versionClass) {
            case VersionClass::None:
                return true;
            case VersionClass::V1_0:
                return ReportedVersionIs(identity, 1, 0);
            case VersionClass::V1_5:
                return ReportedVersionIs(identity, 1, 5);
            case VersionClass::V2_0:
                return ReportedVersionIs(identity, 2, 0);
        }
        return false;
    }
    if (versionStatus == protocol::ExchangeResult::ReplyMissing) {
        // No version reply: only a "1.0" image is accepted.
        return versionClass == VersionClass::V1_0;
    }
    // No other status is given; were one, the version would not be held
    // against the file.
    return true;
}

int ValidateFirmwareForTarget(protocol::ExchangeContext& exchanges, std::string_view path) {
    protocol::TargetIdentity identity{};
    const protocol::ExchangeResult variantStatus =
        protocol::QueryTargetVariant(exchanges, &identity.variant);
    const protocol::ExchangeResult versionStatus =
        protocol::QueryTargetVersion(exchanges, &identity);
    return FirmwareFitsTarget(path, variantStatus, versionStatus, identity) ? 1 : 0;
}

}  // namespace farsend::firmware
