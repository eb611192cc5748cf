#include <gtest/gtest.h>

#include "LocalAddress.h"

namespace {

class FakeSource : public AddressSource {
public:
    std::string name = "host";
    HostLookup result;
    std::vector<InterfaceAddress> list;
    int lookups = 0;

    std::string hostName() override { return name; }
    HostLookup lookup(const std::string&) override {
        ++lookups;
        return result;
    }
    std::vector<InterfaceAddress> interfaces() override { return list; }
    RouteSource routeTo(const std::string&) override { return {}; }
};

}  // namespace

TEST(LocalAddress, ChoiceRules) {
    const std::vector<InterfaceAddress> interfaces = {
        {"127.0.0.1", true, true}, {"10.1.2.3", false, false}, {"172.16.0.9", true, false}, {"192.168.5.5", true, false}};
    struct Case {
        const char* what;
        HostLookup lookup;
        std::string fixed;
        std::string address;
        std::string hostName;
    } cases[] = {
        {"lookup gives a real address: its first one", {"host.lan", {"192.168.1.10", "10.0.0.1"}}, "", "192.168.1.10", "host.lan"},
        {"lookup gives loopback: first up non-loopback interface", {"host", {"127.0.1.1"}}, "", "172.16.0.9", "host"},
        {"lookup fails: same", {"", {}}, "", "172.16.0.9", "host"},
        {"--address wins over everything", {"host.lan", {"192.168.1.10"}}, "127.0.0.1", "127.0.0.1", "host"},
    };
    for (const auto& c : cases) {
        FakeSource s;
        s.result = c.lookup;
        s.list = interfaces;
        LocalAddress got = chooseLocalAddress(s, c.fixed);
        EXPECT_EQ(got.address, c.address) << c.what;
        EXPECT_EQ(got.hostName, c.hostName) << c.what;
    }
}

// An interface with no carrier (a cable pulled, a Wi-Fi not joined) cannot reach any
// appliance: one that is up and running comes first, whatever the order of the list.
TEST(LocalAddress, RunningInterfacesComeFirst) {
    const InterfaceAddress unplugged{"10.1.2.3", true, false, "10.1.2.255", "eth0", false};
    const InterfaceAddress running{"192.168.5.5", true, false, "192.168.5.255", "wlan0", true};
    const InterfaceAddress down{"172.16.0.9", false, false, "", "eth1", false};
    struct Case {
        const char* what;
        std::vector<InterfaceAddress> list;
        std::string address;
    } cases[] = {
        {"the running one after one without a carrier", {unplugged, running}, "192.168.5.5"},
        {"the running one first anyway", {running, unplugged}, "192.168.5.5"},
        {"none running: the first that is up", {down, unplugged}, "10.1.2.3"},
    };
    for (const auto& c : cases) {
        FakeSource s;
        s.result = {"host", {"127.0.1.1"}};
        s.list = c.list;
        EXPECT_EQ(chooseLocalAddress(s).address, c.address) << c.what;
    }
}

// The broadcast address of an interface as the system describes it. Both ends of a /31
// behave alike: such a link has no broadcast address (its two addresses are its hosts).
TEST(LocalAddress, InterfaceBroadcastAddress) {
    struct Case {
        const char* what;
        std::string address, reported, mask, want;
    } cases[] = {
        {"reported", "192.168.77.1", "192.168.77.255", "255.255.255.0", "192.168.77.255"},
        {"added without one: the network's last", "10.78.1.1", "", "255.255.0.0", "10.78.255.255"},
        {"reported as its own address", "10.78.1.1", "10.78.1.1", "255.255.0.0", "10.78.255.255"},
        {"/30", "10.5.0.1", "", "255.255.255.252", "10.5.0.3"},
        {"/31, lower end", "10.5.0.0", "", "255.255.255.254", ""},
        {"/31, upper end", "10.5.0.1", "", "255.255.255.254", ""},
        {"/31 with a broadcast address set anyway", "10.5.0.0", "10.5.0.1", "255.255.255.254", ""},
        {"/32", "10.5.0.9", "", "255.255.255.255", ""},
        {"no mask, none reported", "10.5.0.9", "", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(interfaceBroadcast(c.address, c.reported, c.mask), c.want) << c.what;
}

TEST(LocalAddress, FixedAddressNeedsNoLookup) {
    FakeSource s;
    chooseLocalAddress(s, "127.0.0.1");
    EXPECT_EQ(s.lookups, 0);
}

TEST(LocalAddress, NothingUsableFallsBackToLoopback) {
    FakeSource s;
    s.list = {{"127.0.0.1", true, true}, {"10.0.0.2", false, false}};
    EXPECT_EQ(chooseLocalAddress(s).address, "127.0.0.1");
    s.result = {"host", {"127.0.1.1"}};
    EXPECT_EQ(chooseLocalAddress(s).address, "127.0.1.1");
}

TEST(LocalAddress, CommandLineAddressMustBeDottedQuad) {
    EXPECT_TRUE(isDottedQuad("127.0.0.1"));
    for (const char* bad : {"", "127.0.0", "1.2.3.4.5", "256.1.1.1", "host", "1.2.3.4 "})
        EXPECT_FALSE(isDottedQuad(bad)) << bad;
}

TEST(LocalAddress, CommandLineAddressIsFourDecimalOctets) {
    for (const char* good : {"0.0.0.0", "255.255.255.255", "010.077.000.021", "10.78.1.1"})
        EXPECT_TRUE(isDottedQuad(good)) << good;
    for (const char* bad : {"1.2.3.256", "1.2.3.0256", "1.2.3.1000", "99999999999999999999.1.1.1", "1..2.3",
                            ".1.2.3", "1.2.3.", "1.2.3.4.", "-1.2.3.4", "+1.2.3.4", "0x1.2.3.4", "1.2.3.4\n",
                            " 1.2.3.4", "1.2.3.4x"})
        EXPECT_FALSE(isDottedQuad(bad)) << bad;
}
