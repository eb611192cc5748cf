// Which networks a run searches, and what the scan prints: plain rules, no sockets.
#include <gtest/gtest.h>

#include "FinderOptions.h"
#include "DiscoveryRun.h"
#include "ScanOutput.h"
#include "cp932.h"

namespace {

class Interfaces : public AddressSource {
public:
    std::vector<InterfaceAddress> list;
    std::string hostName() override { return "host"; }
    HostLookup lookup(const std::string&) override { return {"host.example", {"192.0.2.7"}}; }
    std::vector<InterfaceAddress> interfaces() override { return list; }
};

std::vector<std::string> shown(const std::vector<SearchNetwork>& networks) {
    std::vector<std::string> out;
    for (const auto& n : networks)
        out.push_back(std::to_string(n.local[0]) + "." + std::to_string(n.local[1]) + "." +
                      std::to_string(n.local[2]) + "." + std::to_string(n.local[3]) + ">" + n.broadcast);
    return out;
}

}  // namespace

TEST(SearchNetworks, EachNetworkAtItsOwnBroadcastAddress) {
    Interfaces s;
    s.list = {
        {"127.0.0.1", true, true, "", "lo"},
        {"10.78.1.1", true, false, "10.78.255.255", "eth0"},
        {"192.168.77.1", true, false, "192.168.77.255", "eth1"},
        {"172.16.4.1", false, false, "172.16.7.255", "down0"},  // down
        {"10.9.9.9", true, false, "", "tun0"},                  // point to point, no broadcast
        {"10.78.1.1", true, false, "10.78.255.255", "eth0"},    // listed twice by the system
    };
    struct Case {
        const char* what;
        SearchTargets targets;
        std::vector<std::string> networks;
        std::string first;
    } cases[] = {
        {"default: the first address, .255", {}, {"192.0.2.7>192.0.2.255"}, "192.0.2.7"},
        {"one address", {{"10.78.1.1"}, false}, {"10.78.1.1>10.78.1.255"}, "10.78.1.1"},
        {"two addresses", {{"10.78.1.1", "192.168.77.1"}, false},
         {"10.78.1.1>10.78.1.255", "192.168.77.1>192.168.77.255"}, "10.78.1.1"},
        {"every network", {{}, true}, {"10.78.1.1>10.78.255.255", "192.168.77.1>192.168.77.255"}, "10.78.1.1"},
        {"every network and one named", {{"10.0.5.5"}, true},
         {"10.78.1.1>10.78.255.255", "192.168.77.1>192.168.77.255", "10.0.5.5>10.0.5.255"}, "10.78.1.1"},
    };
    for (const auto& c : cases) {
        LocalAddress first;
        EXPECT_EQ(shown(searchNetworks(s, c.targets, &first)), c.networks) << c.what;
        EXPECT_EQ(first.address, c.first) << c.what;
    }
    // No interface to search: nothing is sent, the run still ends as one that found nothing.
    s.list = {{"127.0.0.1", true, true, "", "lo"}};
    EXPECT_TRUE(searchNetworks(s, {{}, true}).empty());
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
    };
    for (const auto& c : cases) {
        const FinderOptions got = parseFinderOptions(c.args);
        EXPECT_EQ(got.action, c.action) << c.args.size() << " " << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(got.error, c.error);
    }
    const FinderOptions two = parseFinderOptions({"--address", "10.0.0.1", "--address=010.000.001.001", "--scan"});
    EXPECT_EQ(two.addresses, (std::vector<std::string>{"10.0.0.1", "010.000.001.001"}));
    EXPECT_EQ(two.format, "table");
    // The usage names every option.
    for (const char* option : {"--address", "--all-networks", "--scan", "--format", "--sort", "--help", "--version"})
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
