// Why a file was found not to fit the connected target, told apart: a target
// that did not answer a query is a communication problem, not a wrong file.
#pragma once

#include <string>

namespace farsend::cli {

struct FitVerdict {
    int status;  // kExitCommunication or kExitDoesNotFit
    std::string message;
};

// `variant` and `version`: what the target answered to its two queries, ""
// for a query that got no reply.
FitVerdict JudgeUnfitFile(const std::string& path, const std::string& variant,
                          const std::string& version);

}  // namespace farsend::cli
