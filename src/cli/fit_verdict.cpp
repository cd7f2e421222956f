#include "cli/fit_verdict.h"

#include "cli/exit_status.h"
#include "firmware/image_names.h"

namespace farsend::cli {
namespace {

// "Bluetooth 1.5", "ZigBee (any version)", "no radio variant 2.0".
std::string FileKindText(const std::string& path) {
    std::string text;
    const bool zigBee = firmware::IsZigBeeImageName(path);
    const bool bluetooth = firmware::IsBluetoothImageName(path);
    if (zigBee && bluetooth) {
        text = "both Bluetooth and ZigBee";
    } else if (zigBee) {
        text = "ZigBee";
    } else if (bluetooth) {
        text = "Bluetooth";
    } else {
        text = "no radio variant (its name has neither _bt nor _802)";
    }
    int32_t major = 0, minor = 0;
    if (firmware::ParseImageVersion(path, major, minor)) {
        text += " " + std::to_string(major) + "." + std::to_string(minor);
    } else {
        text += " (any version)";
    }
    return text;
}

}  // namespace

FitVerdict JudgeUnfitFile(const std::string& path, const std::string& variant,
                          const std::string& version) {
    if (variant.empty() || version.empty()) {
        return {kExitCommunication,
                std::string("the target did not answer the ") +
                    (variant.empty() ? "variant" : "version") + " query, so whether " +
                    firmware::GetFileNamePart(path) +
                    " fits it is unknown. Nothing was erased.\nAt a low line speed its reply "
                    "may not arrive in time; check the line, or add --no-validate if the file "
                    "is known to be right."};
    }
    return {kExitDoesNotFit,
            firmware::GetFileNamePart(path) + " does not fit the target: the target is a " +
                variant + " " + version + ", the file is for " + FileKindText(path) +
                ". Nothing was erased.\nChoose the file for this target (`farsend select` "
                "shows what the directory offers), or add --no-validate if the file is right "
                "after all."};
}

}  // namespace farsend::cli
