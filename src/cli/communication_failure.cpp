#include "cli/communication_failure.h"

namespace farsend::cli {

LostTarget JudgeLostTarget(bool bridgeGone, protocol::ReceiveEnd lastReceive) {
    if (bridgeGone) return LostTarget::BridgeUnplugged;
    switch (lastReceive) {
        case protocol::ReceiveEnd::NothingHeard:
            return LostTarget::TargetSilent;
        case protocol::ReceiveEnd::Incomplete:
            return LostTarget::GarbledAnswers;
        case protocol::ReceiveEnd::Complete:
            break;
    }
    return LostTarget::WrongAnswer;
}

const char* LostTargetWords(LostTarget lost) {
    switch (lost) {
        case LostTarget::BridgeUnplugged:
            return "bridge unplugged";
        case LostTarget::TargetSilent:
            return "target silent";
        case LostTarget::GarbledAnswers:
            return "garbled answers";
        case LostTarget::WrongAnswer:
            return "wrong answer";
    }
    return "lost the target";
}

namespace {

std::string Progress(const jobs::JobReport& report) {
    if (report.blocksSent > 0) {
        return "after " + std::to_string(report.blocksSent) + " block" +
               (report.blocksSent == 1 ? "" : "s") +
               ": the target holds part of the image and will not run it";
    }
    if (report.blocksErased > 0) return "while erasing: the target's flash is partly erased";
    return "before erasing: the target's flash is as it was";
}

}  // namespace

std::string DescribeLostTarget(LostTarget lost, const jobs::JobReport& report) {
    const std::string progress = Progress(report);
    switch (lost) {
        case LostTarget::BridgeUnplugged:
            return "the bridge was unplugged " + progress +
                   ". Plug it in again (check its USB cable and hub), then program the target "
                   "again.";
        case LostTarget::TargetSilent:
            return "the target stopped answering " + progress +
                   ". Check its power and the serial wires between it and the bridge (a target "
                   "that resets falls silent), then program it again.";
        case LostTarget::GarbledAnswers:
            return "the target's answers came garbled " + progress +
                   ". The serial line is noisy or runs at another speed: check its wires and "
                   "ground, keep them short, then program it again.";
        case LostTarget::WrongAnswer:
            return "the target answered out of turn " + progress +
                   " (it refused a block, or left its programming run). Program it again; if it "
                   "fails the same way, check the serial line for noise.";
    }
    return progress;
}

}  // namespace farsend::cli
