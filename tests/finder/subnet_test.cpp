#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../require.h"
#include "spawn.h"

namespace {

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

struct Outcome {
    std::string out, err;
    int status = -1;  // exit code, or -1 when the command did not exit normally
};

// Runs a shell command, its standard output and error kept apart.
Outcome capture(const std::string& command) {
    Outcome r;
    char errFile[] = "/tmp/qlx-probe-err-XXXXXX";
    int fd = mkstemp(errFile);
    if (fd < 0)
        return r;
    close(fd);
    FILE* p = popen(("(" + command + ") 2>" + errFile).c_str(), "r");
    if (p) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            r.out += buf;
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(errFile);
    return r;
}

// Starts a program with its standard output and error on a pipe; fd is the read end.
pid_t spawnPiped(const std::vector<std::string>& args, int& fd) {
    int p[2];
    if (pipe(p) != 0)
        return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_adddup2(&fa, p[1], 2);
    posix_spawn_file_actions_addclose(&fa, p[0]);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(p[1]);
    fd = p[0];
    return pid;
}

// Reads from fd until `line` has appeared or `ms` have passed; what was read so far.
std::string readUntil(int fd, const std::string& line, int ms) {
    std::string got;
    for (int waited = 0; got.find(line) == std::string::npos && waited < ms; waited += 50) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0)
            continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;  // the program ended
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// Two network namespaces joined by a veth pair: the finder's on 10.231.7.1/24, the
// appliances' on 10.231.7.2/24. Removed again at the end, also after a failure.
class RealSubnet : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string id = std::to_string(getpid());
        finderNs = "qlxf" + id;
        simNs = "qlxs" + id;
        if (sh("ip netns add " + finderNs) != 0) {
            QLX_SKIP_OR_FAIL("ip netns add failed: the real-subnet search needs root, namespace support "
                             "and the ip tool (package iproute2)");
        }
        made = true;
        ASSERT_EQ(sh("ip netns add " + simNs), 0);
        const std::string a = "vqf" + id, b = "vqs" + id;
        ASSERT_EQ(sh("ip link add " + a + " type veth peer name " + b), 0);
        ASSERT_EQ(sh("ip link set " + a + " netns " + finderNs), 0);
        ASSERT_EQ(sh("ip link set " + b + " netns " + simNs), 0);
        for (auto [ns, dev, addr] : {std::tuple{finderNs, a, "10.231.7.1/24"}, std::tuple{simNs, b, "10.231.7.2/24"}}) {
            ASSERT_EQ(sh("ip -n " + ns + " addr add " + addr + " dev " + dev), 0);
            ASSERT_EQ(sh("ip -n " + ns + " link set " + dev + " up"), 0);
            ASSERT_EQ(sh("ip -n " + ns + " link set lo up"), 0);
        }
        char tmpl[] = "/tmp/qlx-hosts-XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        hosts = tmpl;
        std::ofstream(hosts) << "127.0.0.1 localhost\n10.231.7.1 finderhost\n";
    }

    void TearDown() override {
        killAndReap(sim, SIGTERM);
        if (simOut >= 0)
            close(simOut);
        if (made) {
            sh("ip netns del " + finderNs);
            sh("ip netns del " + simNs);
        }
        if (!hosts.empty())
            unlink(hosts.c_str());
    }

    std::string finderNs, simNs, hosts;
    bool made = false;
    pid_t sim = -1;
    int simOut = -1;
};

}  // namespace

// The finder's host name resolves to its veth address (private UTS and mount namespace
// with its own hosts file); its broadcast to 10.231.7.255 reaches the other namespace.
TEST_F(RealSubnet, SearchFindsAppliancesInTheNeighbourNamespace) {
    sim = spawnPiped({"/usr/sbin/ip", "netns", "exec", simNs, QLXSIM_PATH, "--any-peer", "--count", "3"}, simOut);
    ASSERT_GT(sim, 0);
    // The simulator says so once its socket is bound.
    const std::string ready = readUntil(simOut, "answering on UDP", 10000);
    ASSERT_NE(ready.find("answering on UDP"), std::string::npos) << "the simulator did not start: " << ready;

    const Outcome probe = capture("QT_QPA_PLATFORM=offscreen ip netns exec " + finderNs +
                              " unshare -u -m sh -c 'hostname finderhost && mount --bind " + hosts +
                              " /etc/hosts && exec " + SEARCH_PROBE_PATH + "'");
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.err, "");
    EXPECT_EQ(probe.out.find("error "), std::string::npos) << probe.out;  // a handler error the box would show
    EXPECT_NE(probe.out.find("address 10.231.7.1\n"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("found 3\n"), std::string::npos) << probe.out;
    for (const char* mac : {"00:80:45:00:00:00", "00:80:45:00:00:01", "00:80:45:00:00:02"})
        EXPECT_NE(probe.out.find(std::string("mac ") + mac + "\n"), std::string::npos) << probe.out;

    // The simulator ran the whole search through and ends cleanly when asked.
    ASSERT_EQ(::kill(sim, SIGTERM), 0);
    const int simExit = waitExit(sim, 5000);
    if (simExit != -1)
        sim = -1;  // reaped; a simulator still running is killed by TearDown
    EXPECT_EQ(simExit, 0) << "simulator exit (-1: still running, -2: killed by a signal)";
}
