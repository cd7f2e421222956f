#include "cli/fit_verdict.h"

#include "cli/exit_status.h"
#include "firmware/image_names.h"

namespace farsend::cli {
namespace {

// "Bluetooth 1.5", "ZigBee (any version)", "no radio variant 2.0".
std::string FileKindText(const jobs::events::FileIdentity& file) {
    std::string text;
    const bool zigBee = file.zigBee;
    const bool bluetooth = file.bluetooth;
    if (zigBee && bluetooth) {
        text = "both Bluetooth and ZigBee";
    } else if (zigBee) {
        text = "ZigBee";
    } else if (bluetooth) {
        text = "Bluetooth";
    } else {
        text = "no radio variant (its name has neither _bt nor _802)";
    }
    if (file.version) {
        text +=
            " " + std::to_string(file.version->first) + "." + std::to_string(file.version->second);
    } else {
        text += " (any version)";
    }
    return text;
}

}  // namespace

FitVerdict VerdictOf(const jobs::events::Refused& refused) {
    const std::string& path = refused.path;
    if (refused.unanswered) {
        return {kExitCommunication,
                std::string("the target did not answer the ") +
                    (*refused.unanswered == jobs::events::TargetQuery::Variant ? "variant"
                                                                               : "version") +
                    " query, so whether " + firmware::GetFileNamePart(path) +
                    " fits it is unknown. Nothing was erased.\nAt a low line speed its reply "
                    "may not arrive in time; check the line, or add --no-validate if the file "
                    "is known to be right."};
    }
    return {kExitDoesNotFit,
            firmware::GetFileNamePart(path) + " does not fit the target: the target is a " +
                refused.variant + " " + refused.version + ", the file is for " +
                FileKindText(refused.file) +
                ". Nothing was erased.\nChoose the file for this target (`farsend select` "
                "shows what the directory offers), or add --no-validate if the file is right "
                "after all."};
}

}  // namespace farsend::cli
