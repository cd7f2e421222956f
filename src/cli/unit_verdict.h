// A socket's last unit as its line on the terminal board shows it until the
// next board starts: PASS or FAIL and a few words.
#pragma once

#include <string>

#include "units/record/unit_record.h"

namespace farsend::cli {

struct UnitVerdict {
    bool passed = false;
    std::string words;  // "unit 3, serial 1004, 1.3 s"; "wrong board: ZigBee 1.5.0"
};

// `lostWords`: for a communication error, what became of the target
// (LostTargetWords); empty when the job did not run or the target was never
// lost. Text the target sent is shown with its control characters as '?'.
UnitVerdict VerdictOf(const units::UnitRecord& record, const std::string& lostWords);

// "PASS  words" or "FAIL  words"; the word in colour (green, red) when asked.
std::string VerdictText(const UnitVerdict& verdict, bool colour);

// Whether colour may be used on a terminal: not when NO_COLOR is set to
// anything but "", nor on a terminal that says it is dumb.
bool ColourWanted(const char* noColor, const char* term);

}  // namespace farsend::cli
