#include "jobs/progress_steps.h"

#include "jobs/job_report.h"

namespace farsend::jobs {

int EraseFillUpSteps(uint32_t erasedBlocks) {
    if (erasedBlocks >= static_cast<uint32_t>(kEraseBarSteps)) return 0;
    return kEraseBarSteps - static_cast<int>(erasedBlocks);
}

ProgramBarSteps::ProgramBarSteps(uint64_t fileBytes) : sizeKb_(fileBytes / 1024) {
    if (sizeKb_ > 0) scale_ = 100.0 / static_cast<double>(sizeKb_);
}

int ProgramBarSteps::StepsAt(uint64_t positionBytes) {
    // Without a whole kilobyte the percentage would be 100.0 / 0, whose
    // conversion to an integer is undefined: the bar stays where it is.
    if (sizeKb_ == 0) return 0;
    uint64_t positionKb = positionBytes / 1024;
    if (positionKb > sizeKb_) positionKb = sizeKb_;
    const double x = static_cast<double>(positionKb) * scale_;
    const int steps = static_cast<int>(x) - static_cast<int>(previous_);
    previous_ = x;
    return steps > 0 ? steps : 0;
}

}  // namespace farsend::jobs
