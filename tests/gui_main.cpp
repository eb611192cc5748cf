#include <gtest/gtest.h>

#include <cstdlib>

#include "guardedapp.h"

int main(int argc, char** argv) {
    // Test discovery runs the binary outside ctest's per-test environment, so the
    // offscreen platform is the default here, not only under ctest.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    GuardedApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
