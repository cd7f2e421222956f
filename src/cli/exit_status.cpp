#include "cli/exit_status.h"

namespace farsend::cli {

const char* ExitStatusName(int status) {
    switch (status) {
        case kExitSuccess:
            return "success";
        case kExitStopped:
            return "stopped";
        case kExitUsage:
            return "usage error";
        case kExitFirmwareFile:
            return "firmware file error";
        case kExitDoesNotFit:
            return "does not fit";
        case kExitNoTarget:
            return "no target";
        case kExitCommunication:
            return "communication error";
        case kExitEraseError:
            return "erase error";
        case kExitNotRecorded:
            return "not recorded";
        case kExitDatabase:
            return "database unavailable";
        case kExitNoSerialLeft:
            return "no serial left";
    }
    return "failure";
}

int MoreSerious(int a, int b) {
    static constexpr int kOrder[] = {kExitNotRecorded,   kExitDatabase,   kExitEraseError,
                                     kExitCommunication, kExitDoesNotFit, kExitNoSerialLeft,
                                     kExitFirmwareFile,  kExitNoTarget,   kExitStopped,
                                     kExitUsage,         kExitSuccess};
    for (int status : kOrder) {
        if (a == status || b == status) return status;
    }
    return a != kExitSuccess ? a : b;
}

}  // namespace farsend::cli
