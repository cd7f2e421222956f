// What farsend says when a job loses its target: the window program's box
// says only that communication failed; here the link and the last receive
// tell what happened, and the operator is told what to try.
#pragma once

#include <string>

#include "jobs/job_report.h"
#include "protocol/exchange_context.h"

namespace farsend::cli {

enum class LostTarget {
    BridgeUnplugged,  // the bridge left the USB during the job
    TargetSilent,     // nothing came back at all
    GarbledAnswers,   // bytes came, but never a whole answer
    WrongAnswer,      // a whole answer, not the one the step needs
};

LostTarget JudgeLostTarget(bool bridgeGone, protocol::ReceiveEnd lastReceive);

// A few words for a socket's line: "bridge unplugged", "target silent",
// "garbled answers", "wrong answer".
const char* LostTargetWords(LostTarget lost);

// What happened, how far the job got, what the target holds now and what to
// try, on one line.
std::string DescribeLostTarget(LostTarget lost, const jobs::JobReport& report);

}  // namespace farsend::cli
