#include <gtest/gtest.h>

#include "guardedapp.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    GuardedApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
