// A unit's failure is told once where its result line reaches the same
// screen as the messages: the result line says it, and no message repeats it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/run.h"
#include "sim/sample_firmware.h"
#include "support/temp_directory.h"

namespace farsend::cli {
namespace {

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(ToldOnce, AFailureOnTheTerminalIsOneResultLineAndNoMessage) {
    farsend::testing::TempDirectory temp;
    const std::string firmware = (temp.path() / "firmware").string();
    ASSERT_TRUE(sim::WriteSampleSet(firmware));
    struct Case {
        const char* fault;
        int status;
        const char* told;
    };
    const Case cases[] = {
        {"--sim-variant=ZigBee", kExitDoesNotFit, "does not fit the target"},
        {"--sim-faults=silence=2000", kExitCommunication, "the target stopped answering"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        std::istringstream in;
        std::ostringstream screen;
        // Results and messages on one terminal.
        Console console{in, screen, screen, false, 80, true};
        std::vector<std::string> words = {"--simulate", c.fault, "--quiet"};
#if !defined(_WIN32)  // the Windows build has no unit database
        words.insert(words.end(), {"--db", (temp.path() / "units.sqlite").string()});
#endif
        words.insert(words.end(), {"program", "--dir", firmware});
        const int status = RunFarsend(words, console, Environment{});
        EXPECT_EQ(status, c.status) << screen.str();
        EXPECT_EQ(Occurrences(screen.str(), c.told), 1u) << screen.str();
        EXPECT_EQ(Occurrences(screen.str(), "\n"), 1u) << screen.str();
    }
}

}  // namespace
}  // namespace farsend::cli
