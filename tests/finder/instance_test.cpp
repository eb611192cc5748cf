#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "spawn.h"

namespace {

// Waits until some process holds a flock on the file (seen in /proc/locks), so a slow
// start (sanitizers, a busy machine) is not mistaken for a missing lock.
bool waitForLock(const std::string& path, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            std::ifstream locks("/proc/locks");
            if (!locks)
                return usleep(static_cast<useconds_t>(ms) * 1000), true;  // cannot look: just wait
            const std::string inode = ":" + std::to_string(st.st_ino) + " ";
            for (std::string line; std::getline(locks, line);)
                if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos)
                    return true;
        }
        usleep(20 * 1000);
    }
    return false;
}

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
    ASSERT_TRUE(waitForLock(dir + "/zqh0003.lock", 10000)) << "the first finder takes the lock";
    ASSERT_EQ(waitExit(first, 0), -1) << "the first finder should still run";

    pid_t second = start();
    EXPECT_EQ(waitExit(second, 3000), 0) << "a second finder ends at once with code 0";

    // kill -9 gives no chance to clean up; the lock must still go with the process.
    killAndReap(first);
    first = -1;
    third = start();
    EXPECT_TRUE(waitForLock(dir + "/zqh0003.lock", 10000));
    usleep(300 * 1000);
    EXPECT_EQ(waitExit(third, 0), -1) << "after the first has gone a new finder runs";
}

// The system call the process waits in, from /proc (-1 while it runs or cannot be read).
long waitingIn(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string first;
    in >> first;
    return !first.empty() && std::isdigit(static_cast<unsigned char>(first[0])) ? std::stol(first) : -1;
}

bool inEventLoop(long call) {
#ifdef SYS_poll
    if (call == SYS_poll)
        return true;
#endif
    return call == SYS_ppoll;
}

// A FIFO at the settings path must not hold the window in open(), waiting for a writer,
// while it holds the instance lock (every later start would end silently): the window
// reaches its event loop, where it shows that the file cannot be read.
TEST_F(SingleInstance, FifoSettingsFileDoesNotHoldTheWindow) {
    const std::string copy = dir + "/qlxsearch";
    std::filesystem::copy_file(QLXSEARCH_PATH, copy);
    ASSERT_EQ(::mkfifo((dir + "/qlxsearch.Ini").c_str(), 0600), 0);
    first = spawnProgram({copy, "--address", "127.0.0.1"},
                         {"QLX_LOCK_DIR=" + dir, "QT_QPA_PLATFORM=offscreen", "HOME=" + dir});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(waitForLock(dir + "/zqh0003.lock", 10000));
    long call = -1;
    for (int waited = 0; waited < 20000 && !inEventLoop(call); waited += 20) {
        usleep(20 * 1000);
        call = waitingIn(first);
    }
    EXPECT_TRUE(inEventLoop(call)) << "the window waits in system call " << call << ", not in its event loop";
    EXPECT_NE(call, SYS_openat);
    EXPECT_EQ(waitExit(first, 0), -1) << "the window still runs";
    EXPECT_TRUE(std::filesystem::is_fifo(dir + "/qlxsearch.Ini"));
}

TEST(CommandLine, BadAddressIsRefused) {
    pid_t p = spawnProgram({QLXSEARCH_PATH, "--address", "not-an-address"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(waitExit(p, 5000), 2);
}

// Help and version that cannot reach stdout (a full disk, a closed stream) are failures:
// one line on stderr and status 2, never a silent 0.
TEST(FinderProgram, HelpAndVersionThatCannotBeWrittenFail) {
    struct Case {
        const char* redirect;
        const char* why;
    } cases[] = {{">/dev/full", "No space left on device"}, {">&-", "Bad file descriptor"}};
    for (const char* option : {"--help", "--version"}) {
        for (const Case& c : cases) {
            // stderr into the pipe, stdout where the case sends it.
            const std::string cmd = std::string(QLXSEARCH_PATH) + " " + option + " 2>&1 " + c.redirect;
            FILE* p = ::popen(cmd.c_str(), "r");
            ASSERT_NE(p, nullptr);
            std::string err;
            char buf[256];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
                err.append(buf, n);
            const int status = ::pclose(p);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << cmd;
            EXPECT_EQ(err, std::string("qlxsearch: cannot write to standard output: ") + c.why + "\n") << cmd;
        }
    }
}
