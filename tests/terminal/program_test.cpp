// The qterm program as the finder starts it: its exit status and what it says on stderr.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Outcome {
    int status = -1;
    std::string err;
    Clock::duration took{};
};

// Runs a program offscreen with the given command line; stderr is collected, stdout dropped.
Outcome runProgram(const std::vector<std::string>& command) {
    char dir[] = "/tmp/qterm-prog-XXXXXX";
    if (!::mkdtemp(dir))
        return {};
    const std::string errPath = std::string(dir) + "/stderr";
    // The test's own environment (sanitizer options included), with the display settled.
    // Its settings (the history a connect records) stay in the private folder.
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", std::string("XDG_RUNTIME_DIR=") + dir,
                                    "QT_LOGGING_RULES=*.warning=false", std::string("XDG_CONFIG_HOME=") + dir};
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("XDG_RUNTIME_DIR=", 0) != 0 &&
            v.rfind("QT_LOGGING_RULES=", 0) != 0 && v.rfind("XDG_CONFIG_HOME=", 0) != 0)
            env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = command;
    const std::string path = argStore[0];
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Outcome o;
    const auto start = Clock::now();
    if (posix_spawnp(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
        int st = 0;
        ::waitpid(pid, &st, 0);
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    o.took = Clock::now() - start;
    posix_spawn_file_actions_destroy(&fa);
    FILE* f = std::fopen(errPath.c_str(), "r");
    if (f) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            o.err.append(buf, n);
        std::fclose(f);
    }
    std::filesystem::remove_all(dir);
    return o;
}

// qterm with the given arguments; prefix, when given, is a command that runs it (a network
// namespace, say).
Outcome runQterm(const std::vector<std::string>& args, const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> command = prefix;
    command.push_back(QTERM_PATH);
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command);
}

} // namespace

// A failed start-up connect shows no window and no message box, but the caller learns
// of it: exit status 1, the reason, and the fixed text.
TEST(QtermProgram, FailedConnectSaysWhy) {
    const std::string closed = std::to_string(UnusedPort());
    struct Case {
        std::string host, port;
        std::vector<std::string> reasons;  // one of them
    };
    const Case cases[] = {
        {"127.0.0.1", closed, {"接続が拒否されました (Connection refused)"}},
        // Without a name server the lookup fails for want of one; with one, for want of the name.
        {"nonexistent.invalid", "23",
         {"ホスト名を解決できません (Host not found)",
          "ホスト名を解決できません (Temporary failure in name resolution)"}},
    };
    for (const Case& c : cases) {
        Outcome o = runQterm({c.host, c.port});
        EXPECT_EQ(o.status, 1) << c.host;
        const std::string summary = "qterm: " + c.host + " port " + c.port + ": server not responding.\n";
        bool matched = false;
        for (const std::string& reason : c.reasons)
            matched |= o.err == "qterm: " + c.host + ":" + c.port + ": " + reason + "\n" + summary;
        EXPECT_TRUE(matched) << o.err;
    }
}

// A usage error is one line naming the fault and the hint, status 2; --help is status 0.
TEST(QtermProgram, UsageErrorsOfQtermAndTheSimulators) {
    struct Case {
        std::vector<std::string> command;
        std::string fault;  // empty: --help, status 0 and nothing on stderr
    };
    const Case cases[] = {
        {{QTERM_PATH, "--bogus", "host"}, "qterm: unknown option --bogus"},
        {{QTERM_PATH, "host", "--log"}, "qterm: --log needs a value"},
        {{QTERM_PATH, "--encoding=latin1"}, "qterm: unknown encoding for --encoding: latin1"},
        {{QTERM_PATH, "--help=yes"}, "qterm: --help takes no value"},
        {{QTERM_PATH, "--help"}, ""},
        {{QLXSIM_PATH, "--bogus"}, "qlxsim: unknown option --bogus"},
        {{QLXSIM_PATH, "--count"}, "qlxsim: --count needs a value"},
        {{QLXSIM_PATH, "--delay", "soon"}, "qlxsim: --delay needs a whole number: soon"},
        {{QLXSIM_PATH, "--file"}, "qlxsim: --file needs a value"},
        {{QLXSIM_PATH, "--help"}, ""},
        {{QLXSIM_CONSOLE_PATH, "--web"}, "qlxsim_console: unknown option --web"},
        {{QLXSIM_CONSOLE_PATH, "--count"}, "qlxsim_console: --count needs a value"},
        {{QLXSIM_CONSOLE_PATH, "--telnet-port", "x"}, "qlxsim_console: --telnet-port needs a whole number: x"},
        {{QLXSIM_CONSOLE_PATH, "--help"}, ""},
    };
    for (const Case& c : cases) {
        Outcome o = runProgram(c.command);
        if (c.fault.empty()) {
            EXPECT_EQ(o.status, 0) << c.command[0];
            EXPECT_EQ(o.err, "") << c.command[0];
            continue;
        }
        const std::string program = c.fault.substr(0, c.fault.find(':'));
        EXPECT_EQ(o.status, 2) << c.fault;
        EXPECT_EQ(o.err, c.fault + "\nTry '" + program + " --help'.\n");
    }
}

// The host closing the connection ends the program normally.
TEST(QtermProgram, PeerCloseEndsTheProgram) {
    LoopbackServer server([](int fd) { SendAll(fd, "welcome\r\n"); });
    Outcome o = runQterm({"127.0.0.1", std::to_string(server.Port())});
    EXPECT_EQ(o.status, 0) << o.err;
}

namespace {

const std::string kNegotiation = "\xff\xfd\x18\xff\xfb\x01";  // DO TERMINAL-TYPE, WILL ECHO

// Waits until at least count bytes from qterm are waiting, unread, in fd.
void AwaitUnread(int fd, int count) {
    for (int i = 0; i < 500; ++i) {
        int n = 0;
        if (::ioctl(fd, FIONREAD, &n) == 0 && n >= count)
            return;
        std::this_thread::sleep_for(10ms);
    }
}

} // namespace

// A host that negotiates, greets and drops the session. With qterm's replies unread in its
// socket the kernel resets the connection (whether it closes plainly or with SO_LINGER 0):
// the program ends, says why in one line and exits with 1. A host that has read everything
// closes with a FIN: exit 0 and nothing on stderr.
TEST(QtermProgram, HostEndingTheSessionEndsTheProgram) {
    enum class End { Reset, PlainCloseUnread, PlainCloseAfterReading };
    struct Case {
        End end;
        int status;
        bool reported;
    };
    const Case cases[] = {
        {End::Reset, 1, true},
        {End::PlainCloseUnread, 1, true},
        {End::PlainCloseAfterReading, 0, false},
    };
    for (const Case& c : cases) {
        LoopbackServer server([&](int fd) {
            SendAll(fd, kNegotiation + "welcome\r\n");
            if (c.end == End::PlainCloseAfterReading) {
                ReadExactly(fd, 6);  // WILL TERMINAL-TYPE, DO ECHO
                return;
            }
            AwaitUnread(fd, 6);
            if (c.end == End::Reset)
                SetResetOnClose(fd);
        });
        const std::string port = std::to_string(server.Port());
        Outcome o = runQterm({"127.0.0.1", port});
        const int i = int(&c - cases);
        EXPECT_EQ(o.status, c.status) << i << o.err;
        if (c.reported)
            EXPECT_EQ(o.err, "qterm: 127.0.0.1 port " + port +
                                 ": Socket Error # 10054 Connection reset by peer.\n") << i;
        else
            EXPECT_EQ(o.err, "") << i;
    }
}

// A bad --connect-timeout is a usage error: status 2 and no connect; a good one is taken
// wherever it stands.
TEST(QtermProgram, ConnectTimeoutOption) {
    for (auto args : std::vector<std::vector<std::string>>{
             {"--connect-timeout", "0", "127.0.0.1"},
             {"127.0.0.1", "--connect-timeout", "x"},
             {"127.0.0.1", "--connect-timeout"}}) {
        Outcome o = runQterm(args);
        EXPECT_EQ(o.status, 2) << args.back();
        EXPECT_NE(o.err.find("--connect-timeout"), std::string::npos) << o.err;
    }
    Outcome o = runQterm({"127.0.0.1", std::to_string(UnusedPort()), "--connect-timeout", "3"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("server not responding."), std::string::npos) << o.err;
}

namespace {

// A network namespace of the test's own with one address, 10.99.0.1/24, whose neighbour
// 10.99.0.2 has a made-up link address: frames to it leave on a veth pair and are dropped
// by the other end, so connects to it hang as towards an unplugged appliance. Nothing
// leaves the namespace, which is removed again.
struct SynDropNamespace {
    std::string name = "qlxsyn" + std::to_string(::getpid());
    std::string missing;  // why it could not be made
    SynDropNamespace() {
        if (::geteuid() != 0) {
            missing = "root (to make a network namespace)";
            return;
        }
        if (std::system("command -v ip >/dev/null 2>&1") != 0) {
            missing = "the ip tool (iproute2)";
            return;
        }
        const std::string n = " -n " + name + " ";
        const std::string cmd = "ip netns add " + name + " && ip" + n + "link set lo up && ip" + n +
                                "link add qa type veth peer name qb && ip" + n +
                                "addr add 10.99.0.1/24 dev qa && ip" + n + "link set qa up && ip" + n +
                                "link set qb up && ip" + n +
                                "neigh replace 10.99.0.2 lladdr 02:00:00:00:00:02 dev qa nud permanent";
        if (std::system(cmd.c_str()) != 0)
            missing = "a network namespace with a veth pair (ip netns add / ip link add type veth failed)";
    }
    ~SynDropNamespace() { std::system(("ip netns del " + name + " 2>/dev/null").c_str()); }
};

} // namespace

// An appliance that has gone: its address drops the SYNs. The connect gives up at the
// limit, as a refused one fails: one line, exit 1, no window ever shown.
TEST(QtermProgram, UnansweredConnectGivesUpAtTheLimit) {
    SynDropNamespace ns;
    if (!ns.missing.empty()) {
        const char* strict = std::getenv("QLX_REQUIRE_ALL_TESTS");
        if (strict && std::string(strict) == "1")
            FAIL() << "cannot run: needs " << ns.missing;
        GTEST_SKIP() << "needs " << ns.missing;
    }
    Outcome o = runQterm({"--connect-timeout", "2", "10.99.0.2", "23"}, {"ip", "netns", "exec", ns.name});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_EQ(o.err, "qterm: 10.99.0.2:23: 接続がタイムアウトしました (Connection timed out)\n"
                     "qterm: 10.99.0.2 port 23: server not responding.\n");
    EXPECT_GE(o.took, 2s);
    EXPECT_LT(o.took, 10s);
    std::printf("unanswered connect: gave up after %.2f s\n",
                std::chrono::duration<double>(o.took).count());
}
