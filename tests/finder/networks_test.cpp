// Which networks a run searches, and what the scan prints: plain rules, no sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "FinderOptions.h"
#include "DiscoveryRun.h"
#include "ScanOutput.h"
#include "cp932.h"

namespace {

class Interfaces : public AddressSource {
public:
    std::vector<InterfaceAddress> list;
    std::map<std::string, RouteSource> routes;  // by target; others: no route
    std::string hostName() override { return "host"; }
    HostLookup lookup(const std::string&) override { return {"host.example", {"192.0.2.7"}}; }
    std::vector<InterfaceAddress> interfaces() override { return list; }
    RouteSource routeTo(const std::string& target) override {
        auto r = routes.find(target);
        return r == routes.end() ? RouteSource{"", ENETUNREACH} : r->second;
    }
};

// "local>broadcast@interface index".
std::vector<std::string> shown(const std::vector<SearchNetwork>& networks) {
    std::vector<std::string> out;
    for (const auto& n : networks)
        out.push_back(std::to_string(n.local[0]) + "." + std::to_string(n.local[1]) + "." +
                      std::to_string(n.local[2]) + "." + std::to_string(n.local[3]) + ">" + n.broadcast + "@" +
                      std::to_string(n.interfaceIndex));
    return out;
}

}  // namespace

// Each network at its own broadcast address, its requests out of the interface that holds
// its address: eth1 and eth2 share a subnet, so the route alone would send both out of eth1.
TEST(SearchNetworks, EachNetworkAtItsOwnBroadcastAddressFromItsOwnInterface) {
    Interfaces s;
    s.list = {
        {"127.0.0.1", true, true, "", "lo", true, 1},
        {"10.78.1.1", true, false, "10.78.255.255", "eth0", true, 2},
        {"192.168.77.1", true, false, "192.168.77.255", "eth1", true, 3},
        {"192.168.77.9", true, false, "192.168.77.255", "eth2", true, 4},  // the same subnet again
        {"172.16.4.1", false, false, "172.16.7.255", "down0", true, 5},     // down
        {"10.9.9.9", true, false, "", "tun0", true, 6},                      // point to point, no broadcast
        {"10.78.1.1", true, false, "10.78.255.255", "eth0", true, 2},        // listed twice by the system
    };
    const std::string every[] = {"10.78.1.1>10.78.255.255@2", "192.168.77.1>192.168.77.255@3",
                                 "192.168.77.9>192.168.77.255@4"};
    struct Case {
        const char* what;
        SearchTargets targets;
        std::vector<std::string> networks;
        std::string first;
    } cases[] = {
        {"default: the first address, .255", {}, {"192.0.2.7>192.0.2.255@0"}, "192.0.2.7"},
        {"one address", {{"10.78.1.1"}, false, {}}, {"10.78.1.1>10.78.1.255@2"}, "10.78.1.1"},
        {"the second address on a shared subnet", {{"192.168.77.9"}, false, {}},
         {"192.168.77.9>192.168.77.255@4"}, "192.168.77.9"},
        {"two addresses", {{"10.78.1.1", "192.168.77.1"}, false, {}},
         {"10.78.1.1>10.78.1.255@2", "192.168.77.1>192.168.77.255@3"}, "10.78.1.1"},
        {"an address of an interface that is down: the route decides", {{"172.16.4.1"}, false, {}},
         {"172.16.4.1>172.16.4.255@0"}, "172.16.4.1"},
        {"every network", {{}, true, {}}, {every[0], every[1], every[2]}, "10.78.1.1"},
        {"every network and one named", {{"10.0.5.5"}, true, {}},
         {every[0], every[1], every[2], "10.0.5.5>10.0.5.255@0"}, "10.78.1.1"},
    };
    for (const auto& c : cases) {
        LocalAddress first;
        EXPECT_EQ(shown(searchNetworks(s, c.targets, &first)), c.networks) << c.what;
        EXPECT_EQ(first.address, c.first) << c.what;
    }
    // No interface to search: nothing is sent, the run still ends as one that found nothing.
    s.list = {{"127.0.0.1", true, true, "", "lo"}};
    EXPECT_TRUE(searchNetworks(s, {{}, true, {}}).empty());
}

// Each probed address once, in the order given, carrying the source address of its route;
// one without a route keeps the error instead.
TEST(SearchNetworks, ProbesAskEachAddressOnceFromItsRoute) {
    Interfaces s;
    s.routes = {{"10.2.0.1", {"10.1.0.1"}}, {"10.2.0.2", {"10.1.0.1"}}, {"10.3.0.7", {"172.16.0.2"}}};
    std::vector<ProbeRange> ranges;
    // The second address is in the range already.
    ASSERT_EQ(parseProbeList("10.2.0.0/30, 10.2.0.2, 10.3.0.7, 10.9.0.1", ranges), "");
    std::vector<std::string> got;
    for (const auto& p : probeTargets(s, ranges))
        got.push_back(p.address + " from " + std::to_string(p.local[0]) + "." + std::to_string(p.local[3]) +
                      " error " + std::to_string(p.routeError) + " (" + p.range + ")");
    EXPECT_EQ(got, (std::vector<std::string>{
                       "10.2.0.1 from 10.1 error 0 (10.2.0.0/30)",
                       "10.2.0.2 from 10.1 error 0 (10.2.0.0/30)",
                       "10.3.0.7 from 172.2 error 0 (10.3.0.7)",
                       "10.9.0.1 from 0.0 error " + std::to_string(ENETUNREACH) + " (10.9.0.1)",
                   }));
}

TEST(Probes, AddressesAndRangesOrAClearRefusal) {
    const std::string needs = "needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 to 32";
    struct Case {
        std::string text, error, first;
        std::uint32_t count;
    } cases[] = {
        {"10.2.0.20", "", "10.2.0.20", 1},
        {"010.002.000.020", "", "10.2.0.20", 1},   // as the table shows addresses
        {"10.2.0.77/24", "", "10.2.0.1", 254},     // within its network, hosts only
        {"10.2.0.0/22", "", "10.2.0.1", 1022},
        {"10.2.0.6/31", "", "10.2.0.6", 2},        // a point-to-point pair: both
        {"10.2.0.6/32", "", "10.2.0.6", 1},
        {"127.0.0.1", "", "127.0.0.1", 1},
        {"10.2.0.0/21", needs, "", 0},             // more than 1,024 addresses
        {"10.2.0.0/33", needs, "", 0},
        {"10.2.0.0/", needs, "", 0},
        {"10.2.0.0/+24", needs, "", 0},
        {"10.2.0.0/024", needs, "", 0},
        {"10.2.0", needs, "", 0},
        {"host.example", needs, "", 0},
        {"", needs, "", 0},
        {"224.0.0.1", "needs unicast addresses (224.0.0.1 is none)", "", 0},
        {"255.255.255.255", "needs unicast addresses (255.255.255.255 is none)", "", 0},
        {"0.0.0.0/24", "needs unicast addresses (0.0.0.1 is none)", "", 0},
    };
    for (const auto& c : cases) {
        ProbeRange r;
        EXPECT_EQ(parseProbe(c.text, r), c.error) << c.text;
        if (!c.error.empty())
            continue;
        EXPECT_EQ(r.count, c.count) << c.text;
        EXPECT_EQ(probeAddresses({r}).front(), c.first) << c.text;
        EXPECT_EQ(r.text, c.text);
    }
    std::vector<ProbeRange> list;
    EXPECT_EQ(parseProbeList("10.2.0.20, 10.3.0.0/24 ,", list), "");
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(parseProbeList("10.2.0.20,10.3.0.0/16", list), needs + ": 10.3.0.0/16");
}

TEST(CommandLineOptions, ParsedOrRefused) {
    using A = FinderOptions::Action;
    struct Case {
        std::vector<std::string> args;
        A action;
        std::string error;
    } cases[] = {
        {{}, A::Window, ""},
        {{"--address", "10.0.0.1", "--address=10.0.1.1", "--all-networks"}, A::Window, ""},
        {{"--scan", "--format", "json", "--sort", "ip"}, A::Scan, ""},
        {{"--scan", "--help"}, A::Help, ""},
        {{"--version", "--bogus"}, A::Error, "qlxsearch: unknown option --bogus"},
        {{"--version"}, A::Version, ""},
        {{"--address"}, A::Error, "qlxsearch: --address needs an IPv4 address A.B.C.D"},
        {{"--address", "10.0.0.256"}, A::Error, "qlxsearch: --address needs an IPv4 address A.B.C.D"},
        {{"--address", std::string(5000, '9') + ".1.1.1"}, A::Error, "qlxsearch: --address needs an IPv4 address A.B.C.D"},
        {{"--scan", "--format", "xml"}, A::Error, "qlxsearch: --format needs table, csv or json"},
        {{"--scan", "--sort"}, A::Error, "qlxsearch: --sort needs uptime, ip or name"},
        {{"--scan=1"}, A::Error, "qlxsearch: --scan takes no value"},
        {{"10.0.0.1"}, A::Error, "qlxsearch: unknown option 10.0.0.1"},
        {{"--scan", "--probe", "10.2.0.20", "--probe=10.3.0.0/24"}, A::Scan, ""},
        {{"--probe", "10.3.0.0/16"}, A::Error,
         "qlxsearch: --probe needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 to 32"},
        {{"--probe"}, A::Error,
         "qlxsearch: --probe needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 to 32"},
        {{"--scan", "--probe", "224.0.0.9"}, A::Error, "qlxsearch: --probe needs unicast addresses (224.0.0.9 is none)"},
        {{"--scan", "--watch", "5"}, A::Scan, ""},
        {{"--watch=86400", "--scan"}, A::Scan, ""},
        {{"--watch", "60", "--help"}, A::Help, ""},
        {{"--watch", "60"}, A::Error, "qlxsearch: --watch works only with --scan"},
    };

    for (const auto& c : cases) {
        const FinderOptions got = parseFinderOptions(c.args);
        EXPECT_EQ(got.action, c.action) << c.args.size() << " " << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(got.error, c.error);
    }
    // Runs at least 5 s apart (a run itself takes about 4), at most a day.
    for (const char* seconds : {"4", "0", "86401", "-5", "5s", "", "99999999999", " 5"}) {
        const FinderOptions bad = parseFinderOptions({"--scan", "--watch", seconds});
        EXPECT_EQ(bad.action, A::Error) << seconds;
        EXPECT_EQ(bad.error, "qlxsearch: --watch needs a number of seconds from 5 to 86400") << seconds;
    }
    EXPECT_EQ(parseFinderOptions({"--scan", "--watch", "5"}).watchSeconds, 5);
    EXPECT_EQ(parseFinderOptions({"--scan"}).watchSeconds, 0);
    const FinderOptions two = parseFinderOptions({"--address", "10.0.0.1", "--address=010.000.001.001", "--scan"});
    EXPECT_EQ(two.addresses, (std::vector<std::string>{"10.0.0.1", "010.000.001.001"}));
    EXPECT_EQ(two.format, "table");
    const FinderOptions probes = parseFinderOptions({"--probe", "10.2.0.20", "--probe", "10.3.0.0/24"});
    ASSERT_EQ(probes.probes.size(), 2u);
    EXPECT_EQ(probes.probes[1].text, "10.3.0.0/24");
    EXPECT_EQ(probes.probes[1].count, 254u);
    // The usage names every option.
    for (const char* option :
         {"--address", "--all-networks", "--probe", "--scan", "--format", "--sort", "--watch", "--help", "--version"})
        EXPECT_NE(finderUsage().find(option), std::string::npos) << option;
}

namespace {

DeviceGrid gridOf(std::vector<std::vector<std::string>> rows) {
    DeviceGrid g(static_cast<int>(rows.size()) + 1);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            g.setCell(c, static_cast<int>(r) + 1, rows[r][static_cast<std::size_t>(c)]);
    return g;
}

}  // namespace

TEST(ScanOutput, ThreeFormatsOfTheSameRows) {
    const DeviceGrid grid = gridOf({
        {" 1", "QLX-WIDE", "010.078.002.020", "00:11:22:33:55:01", "1.07a 080415", "00026:03:04"},
        {" 2", cp932::sj("機器,\"A\"") , "192.168.077.002", "00:11:22:33:55:02", "2.00b 000000", "00000:00:09"},
        {" 3", std::string("Q\x01\x7F", 3), "000.000.000.000", "00:11:22:33:55:03", "0.00  000000", "000-1:0-1:0-1"},
    });
    const auto rows = scanRows(grid, 3, {{"00:11:22:33:55:01", 1}, {"00:11:22:33:55:02", 21}});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].ip, "10.78.2.20");
    EXPECT_EQ(rows[0].uptimeSeconds, 93784);
    EXPECT_EQ(rows[2].uptimeSeconds, -3661);  // a wrapped counter shows negative parts
    EXPECT_EQ(rows[2].model, 0);              // unknown MAC: no model

    EXPECT_EQ(formatScan(rows, "csv"),
              "number,name,ip,mac,version,uptime,uptime_seconds,model\n"
              "1,QLX-WIDE,10.78.2.20,00:11:22:33:55:01,1.07a 080415,00026:03:04,93784,1\n"
              "2,\"機器,\"\"A\"\"\",192.168.77.2,00:11:22:33:55:02,2.00b 000000,00000:00:09,9,21\n" +
                  std::string("3,Q\x01\x7F,0.0.0.0,00:11:22:33:55:03,0.00  000000,000-1:0-1:0-1,-3661,0\n"));
    const std::string json = formatScan(rows, "json");
    EXPECT_NE(json.find("{\"number\": 1, \"name\": \"QLX-WIDE\", \"ip\": \"10.78.2.20\", \"mac\": "
                        "\"00:11:22:33:55:01\", \"version\": \"1.07a 080415\", \"uptime\": \"00026:03:04\", "
                        "\"uptime_seconds\": 93784, \"model\": 1}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"name\": \"機器,\\\"A\\\"\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\": \"Q\\u0001\\u007f\""), std::string::npos) << json;
    EXPECT_EQ(json.front(), '[');
    EXPECT_EQ(formatScan({}, "json"), "[]\n");

    // The table lines up: the wide name takes two columns a character.
    const std::string table = formatScan({rows[0], rows[1]}, "table");
    EXPECT_EQ(table,
              "No.  Name      IP address    MAC address        Version       Uptime\n"
              "1    QLX-WIDE  10.78.2.20    00:11:22:33:55:01  1.07a 080415  00026:03:04\n"
              "2    機器,\"A\"  192.168.77.2  00:11:22:33:55:02  2.00b 000000  00000:00:09\n");
}

// A name is bytes from the network: in the table no control character reaches the
// terminal (one would clear the screen, move the cursor or break the row); CSV and JSON
// keep every byte.
TEST(ScanOutput, TableShowsControlCharactersAsQuestionMarks) {
    struct Case {
        std::string name, shown;  // UTF-8, as the scan has its rows
    } cases[] = {
        {"\x1b[2J", "?[2J"},
        {std::string("\0\r\nA", 4), "???A"},
        {"A\tB\x7F", "A?B?"},
        {"\xC2\x9B" "2J", "?2J"},  // C1 CSI in UTF-8
        {"機器\x07", "機器?"},
    };
    for (const auto& c : cases) {
        ScanRow row;
        row.number = 1;
        row.name = c.name;
        row.ip = "10.2.0.20";
        const std::string table = formatScan({row}, "table");
        std::string line = table.substr(table.find('\n') + 1);
        line = line.substr(0, line.find("10.2.0.20"));
        EXPECT_EQ(line.substr(0, line.find_last_not_of(' ') + 1), "1    " + c.shown) << table;
        EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2) << table;
        EXPECT_NE(formatScan({row}, "csv").find(row.name), std::string::npos);
    }
}
