// The finder on two real adapters: test network namespaces joined by veth pairs, one
// network a /16 and one a /24, simulated appliances in each that answer only requests to
// their network's real broadcast address. Everything is removed again at the end.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "Discovery.h"
#include "files.h"
#include "spawn.h"

namespace {

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string slurp(const std::string& path) { return bytesOf(path); }

struct Result {
    int status = -1;
    std::string out, err;
};

template <typename F>
bool waitFor(F done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A request as one simulator saw it.
struct Seen {
    long ms = 0;
    std::string from, to, hex;
    int fromPort = 0;
};

std::vector<Seen> requestsIn(const std::string& log) {
    std::vector<Seen> out;
    std::istringstream in(log);
    std::string word;
    while (in >> word)
        if (word == "request") {
            Seen s;
            in >> s.ms >> s.from >> s.fromPort >> s.to >> s.hex;
            out.push_back(s);
        }
    return out;
}

std::string requestHex(Octets local) {
    const auto r = discoveryRequest(local);
    return hexText(std::string(r.begin(), r.end()));
}

// Test network namespaces joined by veth pairs, simulated appliances in them and a copy of
// the finder; everything is removed again at the end, also after a failure.
class Namespaces : public ::testing::Test {
protected:
    void SetUp() override {
        const bool required = [] {
            const char* v = std::getenv("QLX_REQUIRE_ALL_TESTS");
            return v && std::string(v) == "1";
        }();
        std::string missing;
        if (geteuid() != 0)
            missing = "root (ip netns needs it)";
        else if (sh("command -v ip") != 0)
            missing = "the ip tool (iproute2)";
        if (!missing.empty()) {
            if (required)
                FAIL() << "needs " << missing;
            GTEST_SKIP() << "needs " << missing << "; the namespace tests did not run";
        }
        id = std::to_string(getpid());
        finderNs = "qlxnf" + id;
        makeNs(finderNs);
        char tmpl[] = "/tmp/qlx-networks-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        // A copy of the finder in a folder of its own: its settings file lies beside it.
        ASSERT_EQ(sh("cp " + std::string(QLXSEARCH_PATH) + " " + dir + "/qlxsearch"), 0);
    }

    void makeNs(const std::string& ns) {
        ASSERT_EQ(sh("ip netns add " + ns), 0) << "ip netns add " << ns;
        made.push_back(ns);
    }

    void link(const std::string& nsA, const std::string& a, const std::string& addrA, const std::string& nsB,
              const std::string& b, const std::string& addrB) {
        ASSERT_EQ(sh("ip link add " + a + " type veth peer name " + b), 0);
        ASSERT_EQ(sh("ip link set " + a + " netns " + nsA), 0);
        ASSERT_EQ(sh("ip link set " + b + " netns " + nsB), 0);
        for (auto [ns, dev, addr] : {std::tuple{nsA, a, addrA}, std::tuple{nsB, b, addrB}}) {
            ASSERT_EQ(sh("ip -n " + ns + " addr add " + std::string(addr) + " dev " + dev), 0);
            ASSERT_EQ(sh("ip -n " + ns + " link set " + dev + " up"), 0);
            ASSERT_EQ(sh("ip -n " + ns + " link set lo up"), 0);
        }
    }

    void TearDown() override {
        for (pid_t p : sims)
            killAndReap(p, SIGTERM);
        for (const auto& ns : made)
            sh("ip netns del " + ns);
        if (!dir.empty())
            sh("rm -rf " + dir);
    }

    // Appliances in `ns` answering requests to `onlyTo` only; started when ready.
    void startSim(const std::string& ns, const std::string& onlyTo, int first, const std::string& log,
                  int count = 2) {
        pid_t p = spawnProgram({"/bin/sh", "-c",
                                "exec ip netns exec " + ns + " " + QLXSIM_PATH + " --any-peer --log --count " +
                                    std::to_string(count) + " --first " + std::to_string(first) + " --only-to " +
                                    onlyTo + " > " + log});
        ASSERT_GT(p, 0);
        sims.push_back(p);
        ASSERT_TRUE(waitFor([&] { return slurp(log).find("answering") != std::string::npos; }, 5000)) << log;
    }
    // Stops the simulators; what the one that logged to `log` saw.
    std::vector<Seen> stopSim(const std::string& log) {
        for (pid_t p : sims)
            killAndReap(p, SIGTERM);
        sims.clear();
        return requestsIn(slurp(log));
    }
    void startBoth() {
        startSim(wideNs, "10.78.255.255", 0, dir + "/wide.log");
        startSim(narrowNs, "192.168.77.255", 2, dir + "/narrow.log");
    }
    // Stops the simulators; what each saw.
    std::pair<std::vector<Seen>, std::vector<Seen>> stopSims() {
        for (pid_t p : sims)
            killAndReap(p, SIGTERM);
        sims.clear();
        return {requestsIn(slurp(dir + "/wide.log")), requestsIn(slurp(dir + "/narrow.log"))};
    }

    // Runs a program in the finder's namespace, no display.
    Result inFinder(const std::string& program, const std::string& args) {
        Result r;
        const std::string out = dir + "/out", err = dir + "/err";
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + dir + " XDG_CONFIG_HOME=" + dir +
                                    "/config QT_QPA_PLATFORM=offscreen ip netns exec " + finderNs + " " + program +
                                    " " + args + " >" + out + " 2>" + err;
        const int status = std::system(command.c_str());
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }
    Result scan(const std::string& args) { return inFinder(dir + "/qlxsearch", "--scan " + args); }

    // Three requests a second apart, each to the network's broadcast address, from port
    // 9010, carrying the finder's own address on that network.
    static void expectRequests(const std::vector<Seen>& seen, const std::string& from, const std::string& to,
                               Octets local) {
        ASSERT_EQ(seen.size(), 3u) << to;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].from, from);
            EXPECT_EQ(seen[i].fromPort, 9010);
            EXPECT_EQ(seen[i].to, to);
            EXPECT_EQ(seen[i].hex, requestHex(local));
            if (i > 0) {
                EXPECT_NEAR(seen[i].ms - seen[i - 1].ms, 1000, 300) << to << " request " << i + 1;
            }
        }
    }

    std::string id, finderNs, wideNs, narrowNs, dir;
    std::vector<std::string> made;
    std::vector<pid_t> sims;
};

// The finder with two adapters: a /16 and a /24.
class TwoAdapters : public Namespaces {
protected:
    void SetUp() override {
        Namespaces::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        wideNs = "qlxnw" + id;
        narrowNs = "qlxnn" + id;
        makeNs(wideNs);
        makeNs(narrowNs);
        // The /16 as a DHCP client sets it up (with its broadcast address), the /24 as a
        // plain "ip addr add" does (the system then reports none).
        link(finderNs, "qfw" + id, "10.78.1.1/16 brd +", wideNs, "qsw" + id, "10.78.2.20/16 brd +");
        link(finderNs, "qfn" + id, "192.168.77.1/24", narrowNs, "qsn" + id, "192.168.77.2/24");
    }
};

const char* kWideMacs[] = {"00:80:45:00:00:00", "00:80:45:00:00:01"};
const char* kNarrowMacs[] = {"00:80:45:00:00:02", "00:80:45:00:00:03"};

}  // namespace

TEST_F(TwoAdapters, ScanOfEveryNetworkFindsBothAtTheirOwnBroadcastAddresses) {
    startBoth();
    const Result r = scan("--all-networks --format json");
    auto [wide, narrow] = stopSims();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress line: stderr is no terminal
    for (const char* mac : kWideMacs)
        EXPECT_NE(r.out.find(std::string("\"mac\": \"") + mac + "\""), std::string::npos) << r.out;
    for (const char* mac : kNarrowMacs)
        EXPECT_NE(r.out.find(std::string("\"mac\": \"") + mac + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"number\": 4"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"number\": 5"), std::string::npos) << r.out;
    expectRequests(wide, "10.78.1.1", "10.78.255.255", {10, 78, 1, 1});
    expectRequests(narrow, "192.168.77.1", "192.168.77.255", {192, 168, 77, 1});
}

// --address twice: each named network with the .255 rule, so the /16 is missed at
// 10.78.1.255 while the /24 is found.
TEST_F(TwoAdapters, NamedAddressesKeepTheirRuleEach) {
    startBoth();
    const Result r = scan("--address 10.78.1.1 --address 192.168.77.1 --format csv --sort ip");
    auto [wide, narrow] = stopSims();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "number,name,ip,mac,version,uptime,uptime_seconds,model");
    for (const char* mac : kNarrowMacs)
        EXPECT_NE(r.out.find(mac), std::string::npos) << r.out;
    for (const char* mac : kWideMacs)
        EXPECT_EQ(r.out.find(mac), std::string::npos) << r.out;
    EXPECT_TRUE(wide.empty());
    expectRequests(narrow, "192.168.77.1", "192.168.77.255", {192, 168, 77, 1});
}

TEST_F(TwoAdapters, ExitStatusSaysWhatHappened) {
    startBoth();
    // Nothing answers at 10.78.1.255: status 1, the table's header alone.
    Result none = scan("--address 10.78.1.1");
    EXPECT_EQ(none.status, 1) << none.err;
    EXPECT_EQ(none.out, "No.  Name  IP address  MAC address  Version  Uptime\n");
    // Found: status 0, a table line each.
    Result found = scan("--address 192.168.77.1 --format table");
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("00:80:45:00:00:02"), std::string::npos) << found.out;
    // Port 9010 held in the finder's namespace (by a window of the finder itself).
    const std::string windowLog = dir + "/window.log";
    const pid_t window = spawnProgram({"/bin/sh", "-c",
                                       "exec env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + dir + " ip netns exec " +
                                           finderNs + " " + SEARCH_PROBE_PATH + " --tick 5000 > " + windowLog});
    ASSERT_GT(window, 0);
    ASSERT_TRUE(waitFor([&] { return slurp(windowLog).find("searching") != std::string::npos; }, 5000));
    Result busy = scan("--all-networks");
    killAndReap(window);
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "qlxsearch: UDP ポート 9010 は他のプログラムが使用中です"
                        "（検索ウィンドウか別のスキャンが使用中の可能性があります）\n");
    EXPECT_EQ(busy.out, "");
    // A bad option: status 2, one line and the usage on stderr, nothing searched.
    Result bad = scan("--format xml");
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')), "qlxsearch: --format needs table, csv or json");
}

// networks=all in the settings file searches every network, and the scan leaves the file
// as it was (it writes no settings).
TEST_F(TwoAdapters, SettingsFileAsksForEveryNetwork) {
    const std::string ini = dir + "/qlxsearch.Ini";
    const std::string text = "[system]\r\nnetworks=all\r\nsort=IP\x83\x41\x83\x68\x83\x8C\x83\x58\r\n";
    writeBytes(ini, text);
    startBoth();
    const Result r = scan("--format csv");
    auto [wide, narrow] = stopSims();
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* mac : {kWideMacs[0], kWideMacs[1], kNarrowMacs[0], kNarrowMacs[1]})
        EXPECT_NE(r.out.find(mac), std::string::npos) << r.out;
    EXPECT_EQ(wide.size(), 3u);
    EXPECT_EQ(narrow.size(), 3u);
    EXPECT_EQ(bytesOf(ini), text);
}

// The window searches every network the same way.
TEST_F(TwoAdapters, WindowSearchesEveryNetwork) {
    startBoth();
    const Result r = inFinder(SEARCH_PROBE_PATH, "--all-networks");
    auto [wide, narrow] = stopSims();
    EXPECT_NE(r.out.find("found 4\n"), std::string::npos) << r.out << r.err;
    for (const char* mac : {kWideMacs[0], kWideMacs[1], kNarrowMacs[0], kNarrowMacs[1]})
        EXPECT_NE(r.out.find(std::string("mac ") + mac + "\n"), std::string::npos) << r.out;
    // The probe's ticks are 300 ms: three requests on each network, from its own address.
    ASSERT_EQ(wide.size(), 3u);
    ASSERT_EQ(narrow.size(), 3u);
    EXPECT_EQ(wide[0].hex, requestHex({10, 78, 1, 1}));
    EXPECT_EQ(narrow[0].hex, requestHex({192, 168, 77, 1}));
    EXPECT_EQ(wide[2].to, "10.78.255.255");
    EXPECT_EQ(narrow[2].fromPort, 9010);
}

// On a terminal the scan shows one progress line on stderr (rewritten in place), and the
// table still goes to stdout.
TEST_F(TwoAdapters, ProgressLineOnlyOnATerminal) {
    if (sh("command -v script") != 0) {
        const char* v = std::getenv("QLX_REQUIRE_ALL_TESTS");
        if (v && std::string(v) == "1")
            FAIL() << "needs script (bsdutils)";
        GTEST_SKIP() << "needs script (bsdutils)";
    }
    startBoth();
    // script gives the scan a terminal on stdin, stdout and stderr; stdout goes to a file.
    const Result r = inFinder("script", "-qec '" + dir + "/qlxsearch --scan --all-networks --format csv >" + dir +
                                            "/table' /dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("qlxsearch: 2 network(s), "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("s left, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" found"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\n'), std::string::npos) << r.out;  // one line, rewritten in place
    const std::string table = slurp(dir + "/table");
    EXPECT_NE(table.find("00:80:45:00:00:03"), std::string::npos) << table;
}

namespace {

// The finder with two interfaces on one subnet (192.168.88.1/24 and .2/24), each a veth
// to an appliance namespace of its own: the two sides are only reachable each by its own
// interface, as two switches on one subnet are.
class OneSubnetTwice : public Namespaces {
protected:
    void SetUp() override {
        Namespaces::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // The two sides in the places of the wide and the narrow network.
        wideNs = "qlxna" + id;
        narrowNs = "qlxnb" + id;
        makeNs(wideNs);
        makeNs(narrowNs);
        link(finderNs, "qfa" + id, "192.168.88.1/24 brd +", wideNs, "qsa" + id, "192.168.88.10/24 brd +");
        link(finderNs, "qfb" + id, "192.168.88.2/24 brd +", narrowNs, "qsb" + id, "192.168.88.20/24 brd +");
        // As systemd sets it: loose reverse-path filtering, whatever the host has.
        ASSERT_EQ(sh("ip netns exec " + finderNs + " sysctl -w net.ipv4.conf.all.rp_filter=2"), 0);
    }
    void startSides() {
        startSim(wideNs, "192.168.88.255", 0, dir + "/wide.log");
        startSim(narrowNs, "192.168.88.255", 2, dir + "/narrow.log");
    }
};

}  // namespace

// Every network's requests leave by the interface that holds its address: each side gets
// the requests carrying its own interface's address, and both sides' appliances are listed.
TEST_F(OneSubnetTwice, EachInterfaceSearchesItsOwnSide) {
    startSides();
    const Result r = scan("--all-networks --format csv");
    auto [a, b] = stopSims();
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* mac : {kWideMacs[0], kWideMacs[1], kNarrowMacs[0], kNarrowMacs[1]})
        EXPECT_NE(r.out.find(mac), std::string::npos) << r.out;
    expectRequests(a, "192.168.88.1", "192.168.88.255", {192, 168, 88, 1});
    expectRequests(b, "192.168.88.2", "192.168.88.255", {192, 168, 88, 2});

    // The second interface's address named alone: its side only, from it.
    startSides();
    const Result second = scan("--address 192.168.88.2 --format csv");
    std::tie(a, b) = stopSims();
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find(kNarrowMacs[0]), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find(kWideMacs[0]), std::string::npos) << second.out;
    EXPECT_TRUE(a.empty());
    expectRequests(b, "192.168.88.2", "192.168.88.255", {192, 168, 88, 2});
}

// The window does the same.
TEST_F(OneSubnetTwice, WindowSearchesBothSides) {
    startSides();
    const Result r = inFinder(SEARCH_PROBE_PATH, "--all-networks");
    auto [a, b] = stopSims();
    EXPECT_NE(r.out.find("found 4\n"), std::string::npos) << r.out << r.err;
    ASSERT_EQ(a.size(), 3u);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(a[0].from, "192.168.88.1");
    EXPECT_EQ(b[0].from, "192.168.88.2");
    EXPECT_EQ(b[0].hex, requestHex({192, 168, 88, 2}));
}

namespace {

// Appliances behind a router: the finder on 10.1.0.1/24 (and on a second network,
// 192.168.99.1/24, that leads nowhere), a router on 10.1.0.254 with forwarding on, and
// behind it the appliance on 10.2.0.20. The router sends all of 10.2.0.0/24 to the
// appliance's namespace (over a link of its own, 10.3.0.0/24), which takes every address
// of it as its own: its simulator sees every request of a range and answers only those
// sent to 10.2.0.20.
class BehindARouter : public Namespaces {
protected:
    void SetUp() override {
        Namespaces::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        routerNs = "qlxnr" + id;
        applianceNs = "qlxnp" + id;
        makeNs(routerNs);
        makeNs(applianceNs);
        link(finderNs, "qfr" + id, "10.1.0.1/24 brd +", routerNs, "qrf" + id, "10.1.0.254/24 brd +");
        link(routerNs, "qrp" + id, "10.3.0.254/24 brd +", applianceNs, "qpr" + id, "10.3.0.20/24 brd +");
        // The second network: a veth pair with both ends in the finder's namespace.
        ASSERT_EQ(sh("ip -n " + finderNs + " link add qfo" + id + " type veth peer name qfq" + id), 0);
        ASSERT_EQ(sh("ip -n " + finderNs + " addr add 192.168.99.1/24 brd + dev qfo" + id), 0);
        ASSERT_EQ(sh("ip -n " + finderNs + " link set qfo" + id + " up"), 0);
        ASSERT_EQ(sh("ip -n " + finderNs + " link set qfq" + id + " up"), 0);
        ASSERT_EQ(sh("ip -n " + finderNs + " route add 10.2.0.0/24 via 10.1.0.254"), 0);
        ASSERT_EQ(sh("ip -n " + routerNs + " route add 10.2.0.0/24 via 10.3.0.20"), 0);
        ASSERT_EQ(sh("ip -n " + applianceNs + " route add default via 10.3.0.254"), 0);
        ASSERT_EQ(sh("ip -n " + applianceNs + " route add local 10.2.0.0/24 dev lo"), 0);
        ASSERT_EQ(sh("ip netns exec " + routerNs + " sysctl -w net.ipv4.ip_forward=1"), 0);
    }
    void startAppliance() { startSim(applianceNs, "10.2.0.20", 0, dir + "/appliance.log", 1); }
    std::string routerNs, applianceNs;
};

}  // namespace

// A probe lists the appliance a broadcast cannot reach. Each request goes to the probed
// address from port 9010 and carries the address the route to it leaves from (10.1.0.1),
// not that of the first network searched (192.168.99.1).
TEST_F(BehindARouter, ProbeFindsWhatABroadcastCannot) {
    startAppliance();
    const Result broadcast = scan("--address 192.168.99.1 --address 10.1.0.1 --format csv");
    EXPECT_EQ(broadcast.status, 1) << broadcast.err;
    EXPECT_EQ(broadcast.out.find(kWideMacs[0]), std::string::npos) << broadcast.out;
    EXPECT_TRUE(stopSim(dir + "/appliance.log").empty()) << "no broadcast crosses the router";

    startAppliance();
    const Result probe = scan("--address 192.168.99.1 --probe 10.2.0.20 --format csv");
    const auto seen = stopSim(dir + "/appliance.log");
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.err, "");
    EXPECT_NE(probe.out.find(kWideMacs[0]), std::string::npos) << probe.out;
    expectRequests(seen, "10.1.0.1", "10.2.0.20", {10, 1, 0, 1});
}

// A /24 range: every host address three times, in rounds a second apart, never faster than
// 10 requests in 10 ms (measured where they arrive, by the kernel's clock); the one that
// answers is listed. The settings file's probe list adds to the command line's.
TEST_F(BehindARouter, RangeIsPacedAndEveryHostIsAsked) {
    writeBytes(dir + "/qlxsearch.Ini", "[system]\r\nprobe=10.2.0.0/24\r\n");
    startAppliance();
    const Result r = scan("--address 192.168.99.1 --probe 10.2.0.20 --format csv");
    std::vector<Seen> seen = stopSim(dir + "/appliance.log");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(kWideMacs[0]), std::string::npos) << r.out;
    ASSERT_EQ(seen.size(), 3u * 254);
    std::map<std::string, int> perAddress;
    for (const auto& s : seen) {
        ++perAddress[s.to];
        EXPECT_EQ(s.from, "10.1.0.1");
        EXPECT_EQ(s.fromPort, 9010);
        EXPECT_EQ(s.hex, requestHex({10, 1, 0, 1}));
    }
    EXPECT_EQ(perAddress.size(), 254u);
    EXPECT_EQ(perAddress.count("10.2.0.0") + perAddress.count("10.2.0.255"), 0u) << "no network or broadcast address";
    for (const auto& [address, n] : perAddress)
        EXPECT_EQ(n, 3) << address;
    // 10 in any 10 ms: 101 requests span at least 100 ms. A little is given for the
    // arrival stamps' jitter; a machine that is slow only spreads them further.
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) { return a.ms < b.ms; });
    for (std::size_t i = 0; i + 100 < seen.size(); ++i)
        ASSERT_GE(seen[i + 100].ms - seen[i].ms, 90) << "requests " << i << " to " << i + 100;
    // Three rounds: the first request of each a second after the one before.
    EXPECT_NEAR(seen[254].ms - seen[0].ms, 1000, 300);
    EXPECT_NEAR(seen[508].ms - seen[254].ms, 1000, 300);
}

// The window probes the same way, with its other networks.
TEST_F(BehindARouter, WindowProbesToo) {
    startAppliance();
    const Result r = inFinder(SEARCH_PROBE_PATH, "--all-networks --probe 10.2.0.20");
    const auto seen = stopSim(dir + "/appliance.log");
    EXPECT_NE(r.out.find("found 1\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find(std::string("mac ") + kWideMacs[0] + "\n"), std::string::npos) << r.out;
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].to, "10.2.0.20");
    EXPECT_EQ(seen[0].hex, requestHex({10, 1, 0, 1}));
}
