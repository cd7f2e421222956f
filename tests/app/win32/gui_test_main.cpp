// The GUI tests run on a desktop of their own, shared with the program they
// start; the thread must move there before it touches any window.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "gui_driver.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Under Wine the windows need an X display (scripts/wine-env.sh starts
    // one); without it every test would only wait for windows in vain.
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    if (wine && GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0) {
        std::fprintf(stderr, "no X display: run through scripts/wine-env.sh\n");
        return 1;
    }
    if (!farsend::gui_test::EnterTestDesktop()) {
        std::fprintf(stderr, "cannot create the test desktop\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
