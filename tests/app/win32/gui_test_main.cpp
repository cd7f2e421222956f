// The GUI tests run on a desktop of their own, shared with the program they
// start; the thread must move there before it touches any window.
#include <gtest/gtest.h>

#include <cstdio>

#include "gui_driver.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!farsend::gui_test::EnterTestDesktop()) {
        std::fprintf(stderr, "cannot create the test desktop\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
