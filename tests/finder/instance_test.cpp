#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
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

template <typename F>
bool waitFor(F done, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (done())
            return true;
        usleep(20 * 1000);
    }
    return done();
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string kBroughtToFront = "qlxsearch: a second start brought this window to the front\n";

// Each test gets its own lock folder, so nothing else on the machine interferes.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qlx-lock-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        if (first > 0)
            ::kill(first, SIGCONT);
        killAndReap(first);
        killAndReap(third);
        std::system(("rm -rf " + dir).c_str());
    }
    // stderr into dir/<errName> when one is named.
    pid_t start(const std::string& errName = {}) {
        return spawnProgram({QLXSEARCH_PATH, "--address", "127.0.0.1"},
                            {"QLX_LOCK_DIR=" + dir, "QT_QPA_PLATFORM=offscreen"},
                            errName.empty() ? std::string() : dir + "/" + errName);
    }
    // A finder that holds the lock and listens for a second start.
    pid_t startListening(const std::string& errName = {}) {
        const pid_t p = start(errName);
        EXPECT_TRUE(waitForLock(lockPath(), 10000)) << "the finder takes the lock";
        EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(socketPath()); }, 10000));
        return p;
    }
    std::string lockPath() const { return dir + "/zqh0003.lock"; }
    std::string socketPath() const { return dir + "/zqh0003.sock"; }
    std::string err(const std::string& errName) const { return slurp(dir + "/" + errName); }

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

TEST_F(SingleInstance, SecondStartBringsTheFirstWindowToTheFrontAndEnds) {
    first = startListening("first.err");
    ASSERT_EQ(waitExit(first, 0), -1);
    const pid_t second = start("second.err");
    EXPECT_EQ(waitExit(second, 10000), 0);
    EXPECT_TRUE(waitFor([&] { return contains(err("first.err"), kBroughtToFront); }, 10000)) << err("first.err");
    EXPECT_EQ(err("second.err"), "") << "the second start makes no window and says nothing";
    EXPECT_EQ(waitExit(first, 0), -1) << "the first window stays";
}

// kill -9 leaves the socket file behind; the next finder takes the path over.
TEST_F(SingleInstance, SocketLeftByAKilledFinderDoesNotStopTheNext) {
    first = startListening();
    killAndReap(first);
    first = -1;
    ASSERT_TRUE(std::filesystem::exists(socketPath())) << "a killed finder leaves its socket file";
    third = start("third.err");
    ASSERT_TRUE(waitForLock(lockPath(), 10000));
    const pid_t fourth = start();
    EXPECT_EQ(waitExit(fourth, 10000), 0);
    EXPECT_TRUE(waitFor([&] { return contains(err("third.err"), kBroughtToFront); }, 10000)) << err("third.err");
}

// A first finder that holds the lock but does not answer (stopped) does not keep the second.
TEST_F(SingleInstance, SecondStartEndsWhenTheFirstDoesNotAnswer) {
    first = startListening();
    ASSERT_EQ(::kill(first, SIGSTOP), 0);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t second = start("second.err");
    const int status = waitExit(second, 10000);
    const auto took = std::chrono::steady_clock::now() - t0;
    ::kill(first, SIGCONT);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err("second.err"), "") << "silently, as before";
    RecordProperty("second_start_ms",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

// What the lock refuses at its own path, the socket's owner and its caller refuse at theirs:
// the first finder runs without the channel, the second ends as before, and both say why.
TEST_F(SingleInstance, LinkOrAnotherUsersFileAtTheSocketPathIsRefused) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> plant;
        const char* why;
    } cases[] = {
        {"link", [&](const std::string& p) { std::filesystem::create_symlink(dir + "/elsewhere.sock", p); },
         "a symbolic link"},
        {"another user's socket", [](const std::string& p) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", p.c_str());
             ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
             ::close(fd);
             ASSERT_EQ(::lchown(p.c_str(), 65534, 65534), 0) << "needs root";
         }, "owned by another user"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(socketPath());
        c.plant(socketPath());
        struct stat planted {};
        ASSERT_EQ(::lstat(socketPath().c_str(), &planted), 0);
        const std::string problem = "qlxsearch: socket " + socketPath() + ": " + c.why;

        first = start("first.err");
        ASSERT_TRUE(waitForLock(lockPath(), 10000)) << c.name;
        EXPECT_TRUE(waitFor([&] { return contains(err("first.err"), problem); }, 10000)) << c.name << err("first.err");
        EXPECT_TRUE(contains(err("first.err"), problem + "; a second start will not bring this window to the front\n"))
            << c.name;
        const pid_t second = start("second.err");
        EXPECT_EQ(waitExit(second, 10000), 0) << c.name;
        EXPECT_EQ(err("second.err"), problem + "; the running finder is not brought to the front\n") << c.name;
        EXPECT_EQ(waitExit(first, 0), -1) << c.name << ": the first window runs on";
        EXPECT_FALSE(contains(err("first.err"), kBroughtToFront)) << c.name;

        struct stat after {};
        ASSERT_EQ(::lstat(socketPath().c_str(), &after), 0) << c.name;
        EXPECT_EQ(after.st_ino, planted.st_ino) << c.name << ": left in place";
        EXPECT_EQ(after.st_uid, planted.st_uid) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir + "/elsewhere.sock")) << c.name << ": nothing made through the link";
        killAndReap(first);
        first = -1;
    }
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
