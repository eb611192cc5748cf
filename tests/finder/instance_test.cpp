#include <gtest/gtest.h>

#include <unistd.h>

#include "spawn.h"

namespace {

// Each test gets its own lock folder, so nothing else on the machine interferes.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qlx-lock-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        killAndReap(first);
        killAndReap(third);
        std::system(("rm -rf " + dir).c_str());
    }
    pid_t start() {
        return spawnProgram({QLXSEARCH_PATH, "--address", "127.0.0.1"},
                            {"QLX_LOCK_DIR=" + dir, "QT_QPA_PLATFORM=offscreen"});
    }

    std::string dir;
    pid_t first = -1, third = -1;
};

}  // namespace

TEST_F(SingleInstance, SecondStartEndsAtOnceAndTheLockDiesWithTheProcess) {
    first = start();
    ASSERT_GT(first, 0);
    usleep(1500 * 1000);
    ASSERT_EQ(waitExit(first, 0), -1) << "the first finder should still run";

    pid_t second = start();
    EXPECT_EQ(waitExit(second, 3000), 0) << "a second finder ends at once with code 0";

    // kill -9 gives no chance to clean up; the lock must still go with the process.
    killAndReap(first);
    first = -1;
    third = start();
    usleep(1500 * 1000);
    EXPECT_EQ(waitExit(third, 0), -1) << "after the first has gone a new finder runs";
}

TEST(CommandLine, BadAddressIsRefused) {
    pid_t p = spawnProgram({QLXSEARCH_PATH, "--address", "not-an-address"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(waitExit(p, 5000), 2);
}
