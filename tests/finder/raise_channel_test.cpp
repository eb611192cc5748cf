#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "RaiseChannel.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uid_t kOtherUser = 65534;

// A socket file with nobody listening, as a killed finder leaves it.
void leaveStaleSocket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
}

int connectTo(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the peer got before the listener closed its side (EOF), or "(open)" while open.
std::string answerOf(int fd) {
    std::string got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return got + "(open)";
        char buf[64];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return got;
        got.append(buf, static_cast<std::size_t>(n));
    }
}

// Runs the listener as the window thread does, until `stop`.
void serve(RaiseListener& l, const std::atomic<bool>& stop) {
    std::vector<int> conns;
    while (!stop) {
        std::vector<pollfd> fds{{l.fd(), POLLIN, 0}};
        for (int c : conns)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 10) <= 0)
            continue;
        if (fds[0].revents) {
            auto w = l.acceptWaiting();
            for (int d : w.dropped)
                std::erase(conns, d);
            conns.insert(conns.end(), w.added.begin(), w.added.end());
        }
        for (std::size_t i = 1; i < fds.size(); ++i)
            if (fds[i].revents && l.readFrom(fds[i].fd))
                std::erase(conns, fds[i].fd);
    }
}

class RaiseChannel : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qlx-raise-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/zqh0003.sock";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string dir, path;
};

}  // namespace

TEST(RaiseSocketPath, SitsBesideTheLock) {
    EXPECT_EQ(raiseSocketPath("/run/user/1000/zqh0003.lock"), "/run/user/1000/zqh0003.sock");
    EXPECT_EQ(raiseSocketPath("/tmp/zqh0003-1000.lock"), "/tmp/zqh0003-1000.sock");
}

// What a peer sends, in pieces read one at a time: only the exact request raises, once,
// and is answered; anything else is closed unanswered after a bounded read.
TEST_F(RaiseChannel, OnlyTheExactRequestRaisesAndIsAnswered) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        bool closeAfter;  // the peer shuts its side after the pieces
        int raises;
        std::string answer;  // "(open)": still waiting for the rest
    } cases[] = {
        {"whole request", {"raise\n"}, false, 1, "raised\n"},
        {"in two pieces", {"ra", "ise\n"}, false, 1, "raised\n"},
        {"followed by more", {"raise\nraise\nraise\n"}, false, 1, "raised\n"},
        {"half, then waiting", {"rai"}, false, 0, "(open)"},
        {"half, then gone", {"rai"}, true, 0, ""},
        {"nothing, then gone", {}, true, 0, ""},
        {"another word", {"hello\n"}, false, 0, ""},
        {"wrong ending", {"raise\r\n"}, false, 0, ""},
        {"a flood", {std::string(64 * 1024, 'x')}, false, 0, ""},
        {"control bytes", {std::string("\0\xff\x1b[", 4)}, false, 0, ""},
    };
    RaiseListener l(path);
    ASSERT_TRUE(l.listening()) << l.problem();
    int raises = 0;
    l.OnRaise = [&] { ++raises; };
    for (const Case& c : cases) {
        raises = 0;
        const int peer = connectTo(path);
        ASSERT_GE(peer, 0) << c.name;
        // The first piece is there before the accept, as a real second start sends it.
        std::size_t next = 0;
        if (!c.pieces.empty()) {
            ASSERT_EQ(::send(peer, c.pieces[0].data(), c.pieces[0].size(), MSG_NOSIGNAL), ssize_t(c.pieces[0].size()));
            ++next;
        }
        const std::vector<int> watched = l.acceptWaiting().added;
        bool done = watched.empty();
        for (; next < c.pieces.size() && !done; ++next) {
            ASSERT_EQ(::send(peer, c.pieces[next].data(), c.pieces[next].size(), MSG_NOSIGNAL),
                      ssize_t(c.pieces[next].size()));
            done = l.readFrom(watched.at(0));
        }
        if (c.closeAfter && !done) {
            ::shutdown(peer, SHUT_WR);
            done = l.readFrom(watched.at(0));
        }
        EXPECT_EQ(raises, c.raises) << c.name;
        EXPECT_EQ(answerOf(peer), c.answer) << c.name;
        EXPECT_EQ(done, c.answer != "(open)") << c.name;
        if (!done) {
            EXPECT_FALSE(l.readFrom(watched.at(0))) << c.name << ": nothing more to read, still waiting";
            ::close(peer);
            EXPECT_TRUE(l.readFrom(watched.at(0))) << c.name << ": the peer went";
        } else {
            ::close(peer);
        }
    }
}

// Idle connections cannot crowd a real request out: the oldest gives way.
TEST_F(RaiseChannel, IdlePeersGiveWayToANewOne) {
    RaiseListener l(path);
    int raises = 0;
    l.OnRaise = [&] { ++raises; };
    std::vector<int> idle;
    std::vector<int> watched;
    for (std::size_t i = 0; i < RaiseListener::kMaxWaiting + 2; ++i) {
        idle.push_back(connectTo(path));
        auto w = l.acceptWaiting();
        for (int d : w.dropped)
            std::erase(watched, d);
        watched.insert(watched.end(), w.added.begin(), w.added.end());
    }
    EXPECT_EQ(watched.size(), RaiseListener::kMaxWaiting);
    EXPECT_EQ(answerOf(idle[0]), "") << "the oldest was closed";
    EXPECT_EQ(answerOf(idle[1]), "");
    EXPECT_EQ(answerOf(idle.back()), "(open)");

    std::atomic<bool> stop{false};
    std::thread server([&] { serve(l, stop); });
    const RaiseAnswer a = askToRaise(path, 5s);
    stop = true;
    server.join();
    EXPECT_TRUE(a.raised);
    EXPECT_EQ(raises, 1);
    for (int fd : idle)
        ::close(fd);
}

// The lock holder replaces a socket of ours that nobody listens on; anything else at the
// path stays as it is, and neither side uses it.
TEST_F(RaiseChannel, PathRules) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> plant;
        std::string why;  // "": the listener takes the path
    } cases[] = {
        {"nothing there", [](const std::string&) {}, ""},
        {"stale socket of ours", leaveStaleSocket, ""},
        {"link to a socket", [&](const std::string& p) {
             leaveStaleSocket(dir + "/elsewhere");
             fs::create_symlink(dir + "/elsewhere", p);
         }, "a symbolic link"},
        {"dangling link", [&](const std::string& p) { fs::create_symlink(dir + "/none", p); }, "a symbolic link"},
        {"regular file of ours", [](const std::string& p) { std::ofstream(p) << "x"; }, "not a socket"},
        {"another user's socket", [](const std::string& p) {
             leaveStaleSocket(p);
             ASSERT_EQ(::lchown(p.c_str(), kOtherUser, kOtherUser), 0);
         }, "owned by another user"},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directory(dir);
        c.plant(path);
        struct stat before {};
        ::lstat(path.c_str(), &before);
        const std::string refused = "socket " + path + ": " + c.why;
        {
            const RaiseAnswer asked = askToRaise(path, 50ms);
            EXPECT_FALSE(asked.raised) << c.name;
            EXPECT_EQ(asked.problem, c.why.empty() ? "" : refused) << c.name;

            RaiseListener l(path);
            EXPECT_EQ(l.listening(), c.why.empty()) << c.name;
            EXPECT_EQ(l.problem(), c.why.empty() ? "" : refused) << c.name;
            struct stat st {};
            ASSERT_EQ(::lstat(path.c_str(), &st), 0) << c.name;
            if (c.why.empty()) {
                EXPECT_TRUE(S_ISSOCK(st.st_mode)) << c.name;
                EXPECT_EQ(st.st_mode & 0777, 0600u) << c.name;
                EXPECT_EQ(st.st_uid, ::geteuid()) << c.name;
            } else {
                EXPECT_EQ(st.st_ino, before.st_ino) << c.name << ": left in place";
                EXPECT_EQ(st.st_mode, before.st_mode) << c.name;
            }
        }
        EXPECT_EQ(fs::exists(fs::symlink_status(path)), !c.why.empty())
            << c.name << ": a listener removes only its own file when it goes";
    }
    EXPECT_FALSE(fs::exists(dir + "/none")) << "nothing was made through the dangling link";

    RaiseListener tooLong(dir + "/" + std::string(120, 'x'));
    EXPECT_FALSE(tooLong.listening());
    EXPECT_NE(tooLong.problem().find("path too long"), std::string::npos);
}

// A socket file that another listener has put in place since is not removed at the end.
TEST_F(RaiseChannel, OnlyTheListenersOwnFileIsRemoved) {
    {
        RaiseListener l(path);
        ASSERT_TRUE(l.listening());
        ASSERT_EQ(::unlink(path.c_str()), 0);
        leaveStaleSocket(path);
    }
    EXPECT_TRUE(fs::exists(path));
}

// Another user who reaches the socket (here it is opened to all) cannot raise the window.
TEST_F(RaiseChannel, AnotherUsersRequestIsDropped) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    RaiseListener l(path);
    ASSERT_TRUE(l.listening());
    int raises = 0;
    l.OnRaise = [&] { ++raises; };
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    int sent[2];
    ASSERT_EQ(::pipe(sent), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(3);
        const int fd = connectTo(path);
        const bool ok = fd >= 0 && ::send(fd, "raise\n", 6, MSG_NOSIGNAL) == 6;
        (void)!::write(sent[1], "x", 1);
        char buf[8];
        // A dropped peer gets no answer, only the end (or a reset: its request was unread).
        ::_exit(ok && ::recv(fd, buf, sizeof buf, 0) <= 0 ? 0 : 4);
    }
    ::close(sent[1]);
    char x;
    ASSERT_EQ(::read(sent[0], &x, 1), 1);
    ::close(sent[0]);
    const auto w = l.acceptWaiting();
    EXPECT_TRUE(w.added.empty());
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(raises, 0);
}

// The second start's waits: for a first finder still starting, and for one that
// never answers (it is stopped, say), which ends the wait at the budget with no problem.
TEST_F(RaiseChannel, SecondStartWaitsForAStartingFirstButNotForeverForASilentOne) {
    leaveStaleSocket(path);  // what a killed finder left, not yet replaced
    std::atomic<bool> stop{false};
    std::atomic<int> raises{0};
    std::thread starting([&] {
        std::this_thread::sleep_for(150ms);
        RaiseListener l(path);
        l.OnRaise = [&] { ++raises; };
        serve(l, stop);
    });
    const RaiseAnswer late = askToRaise(path, 10s);
    stop = true;
    starting.join();
    EXPECT_TRUE(late.raised);
    EXPECT_EQ(late.problem, "");
    EXPECT_EQ(raises, 1);

    RaiseListener silent(path);  // listening, but its loop never runs
    const auto t0 = std::chrono::steady_clock::now();
    const RaiseAnswer none = askToRaise(path, 300ms);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_FALSE(none.raised);
    EXPECT_EQ(none.problem, "");
    RecordProperty("silent_first_wait_ms", std::to_string(took.count()));
}
