// The settings record is shared by the user-interface thread, the connection
// monitor and the job threads: a reader sees whole values, never a path half
// rewritten (and ThreadSanitizer sees no race).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/tool_settings.h"
#include "app/window_texts.h"
#include "recording_view.h"

namespace farsend::app {
namespace {

TEST(SharedSettings, ReadersSeeWholePathsAndStatesWhileTheyChange) {
    ToolSettings settings;
    RecordingView view;
    settings.view = &view;
    const std::string first = std::string(200, 'a') + "\\Farsend_15_bt.hex";
    const std::string second = "C:\\fw\\Farsend_20_802_f.hex";
    settings.firmwarePath.Set(first);

    constexpr int kRounds = 2000;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int i = 0; i < kRounds; ++i) {
            settings.firmwarePath.Set(i % 2 ? first : second);
            settings.connectionState =
                i % 2 ? ConnectionState::Connected : ConnectionState::Disconnected;
            settings.programRequest = i % 2 ? ProgramRequest::Requested : ProgramRequest::None;
        }
        writing = false;
    });

    int reads = 0;
    int torn = 0;
    do {
        const std::string path = settings.firmwarePath.Get();
        if (path != first && path != second) ++torn;
        const ProgramRequest request = settings.programRequest;
        if (request != ProgramRequest::Requested && request != ProgramRequest::None) ++torn;
        RefreshConnectionText(settings);
        RefreshFileName(settings);
        ++reads;
    } while (writing || reads < 10);
    writer.join();

    EXPECT_EQ(torn, 0);
    for (const std::string& call : view.Calls()) {
        EXPECT_TRUE(call == "status0:CONNECTED" || call == "status0:NOT CONNECTED" ||
                    call == "status1:Farsend_15_bt.hex" || call == "status1:Farsend_20_802_f.hex")
            << call;
    }
}

}  // namespace
}  // namespace farsend::app
