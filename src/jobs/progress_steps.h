// How far the job dialogs' bars move: the erase bar one step per erased block
// and then filled up to its 20 steps; the programming bar after the share of
// the firmware file read so far, in whole kilobytes.
#pragma once

#include <cstdint>

namespace farsend::jobs {

// Steps that fill the erase bar after `erasedBlocks` single steps: the rest
// of its 20, none when the target reported 20 or more.
int EraseFillUpSteps(uint32_t erasedBlocks);

// The programming bar of one run. The percentage is position-in-KB times
// 100.0 / size-in-KB, both rounded down to whole kilobytes and computed in
// double precision, and the bar stands at its integer part: 97 KB read of a
// 97 KB file is 99.99999999999999, so the bar ends at 99.
class ProgramBarSteps {
public:
    explicit ProgramBarSteps(uint64_t fileBytes);

    // Steps to add for the file position before the next read. A file under
    // 1 KB has no scale (100.0 / 0): its bar never moves.
    int StepsAt(uint64_t positionBytes);
    // Where the bar stands after the steps handed out so far.
    int Position() const { return static_cast<int>(previous_); }

private:
    uint64_t sizeKb_;
    double scale_ = 0.0;
    double previous_ = 0.0;
};

}  // namespace farsend::jobs
