#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "spawn.h"

namespace {

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    return out;
}

// Two network namespaces joined by a veth pair: the finder's on 10.231.7.1/24, the
// appliances' on 10.231.7.2/24. Removed again at the end, also after a failure.
class RealSubnet : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string id = std::to_string(getpid());
        finderNs = "qlxf" + id;
        simNs = "qlxs" + id;
        if (sh("ip netns add " + finderNs) != 0)
            GTEST_SKIP() << "cannot make network namespaces here (ip netns add needs root and "
                            "namespace support); the real-subnet search is not tested";
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
};

}  // namespace

// The finder's host name resolves to its veth address (private UTS and mount namespace
// with its own hosts file); its broadcast to 10.231.7.255 reaches the other namespace.
TEST_F(RealSubnet, SearchFindsAppliancesInTheNeighbourNamespace) {
    sim = spawnProgram({"/usr/sbin/ip", "netns", "exec", simNs, QLXSIM_PATH, "--any-peer", "--count", "3"});
    ASSERT_GT(sim, 0);
    usleep(500 * 1000);
    const std::string out = capture("QT_QPA_PLATFORM=offscreen ip netns exec " + finderNs +
                                    " unshare -u -m sh -c 'hostname finderhost && mount --bind " + hosts +
                                    " /etc/hosts && exec " + SEARCH_PROBE_PATH + "' 2>/dev/null");
    EXPECT_NE(out.find("address 10.231.7.1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("found 3\n"), std::string::npos) << out;
    for (const char* mac : {"00:80:45:00:00:00", "00:80:45:00:00:01", "00:80:45:00:00:02"})
        EXPECT_NE(out.find(std::string("mac ") + mac + "\n"), std::string::npos) << out;
}
