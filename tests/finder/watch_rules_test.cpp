// The watch's event rules against a clock the test moves, and its lines in three formats.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "WatchOutput.h"
#include "WatchRules.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ScanRow row(const std::string& mac, const std::string& ip, long long uptime, const std::string& name = "QLX-AS00",
            const std::string& version = "1.07a 080415") {
    ScanRow r;
    r.number = 1;
    r.mac = "00:80:45:00:00:" + mac;
    r.ip = ip;
    r.name = name;
    r.version = version;
    r.uptimeSeconds = uptime;
    r.uptime = std::to_string(uptime);
    return r;
}

// "kind MAC-tail", and for the events with values before, what they were.
std::string shown(const WatchEvent& e) {
    std::string s = std::string(eventName(e.kind)) + " " + e.row.mac.substr(15);
    switch (e.kind) {
    case WatchEvent::Kind::Moved: return s + " from " + e.previous.ip;
    case WatchEvent::Kind::Renamed: return s + " from " + e.previous.name + "/" + e.previous.version;
    case WatchEvent::Kind::Rebooted: return s + " from " + std::to_string(e.previous.uptimeSeconds);
    default: return s;
    }
}

struct WatchRun {
    std::chrono::milliseconds after;  // since the run before
    std::vector<ScanRow> seen;
    std::vector<std::string> events;
};

}  // namespace

// Each case is a watch from its first run: the rows each run saw and the events it gives.
TEST(WatchRules, EventsRunByRun) {
    struct Case {
        const char* what;
        std::vector<WatchRun> runs;
    } cases[] = {
        {"the first run: every appliance appears, in the run's order; the same again: nothing",
         {{0ms, {row("02", "10.0.0.2", 50), row("01", "10.0.0.1", 100)}, {"appeared 02", "appeared 01"}},
          {5s, {row("01", "10.0.0.1", 105), row("02", "10.0.0.2", 55)}, {}}}},
        {"gone only after two runs in a row without it; back after that, it appears again",
         {{0ms, {row("01", "10.0.0.1", 100), row("02", "10.0.0.2", 100)}, {"appeared 01", "appeared 02"}},
          {5s, {row("01", "10.0.0.1", 105)}, {}},
          {5s, {row("01", "10.0.0.1", 110)}, {"gone 02"}},
          {5s, {row("01", "10.0.0.1", 115)}, {}},
          {5s, {row("01", "10.0.0.1", 120), row("02", "10.0.0.2", 20)}, {"appeared 02"}}}},
        {"misses that are not in a row never make it gone",
         {{0ms, {row("01", "10.0.0.1", 100)}, {"appeared 01"}},
          {5s, {}, {}},
          {5s, {row("01", "10.0.0.1", 110)}, {}},
          {5s, {}, {}},
          {5s, {row("01", "10.0.0.1", 120)}, {}}}},
        {"nobody at all: each known appliance goes, in MAC order, after its second missed run",
         {{0ms, {row("03", "10.0.0.3", 1), row("01", "10.0.0.1", 1)}, {"appeared 03", "appeared 01"}},
          {5s, {}, {}},
          {5s, {}, {"gone 01", "gone 03"}},
          {5s, {}, {}}}},
        {"a running time exactly 10 s below the expected one is no reboot; a second more is",
         {{0ms, {row("01", "10.0.0.1", 1000), row("02", "10.0.0.2", 1000)}, {"appeared 01", "appeared 02"}},
          {5s, {row("01", "10.0.0.1", 995), row("02", "10.0.0.2", 994)}, {"rebooted 02 from 1000"}}}},
        {"the seconds since count whole: 5.999 s are 5",
         {{0ms, {row("01", "10.0.0.1", 1000)}, {"appeared 01"}},
          {5999ms, {row("01", "10.0.0.1", 995)}, {}},
          {6000ms, {row("01", "10.0.0.1", 990)}, {"rebooted 01 from 995"}}}},
        {"after a missed run the expected time counts from the last run that saw it",
         {{0ms, {row("01", "10.0.0.1", 1000), row("02", "10.0.0.2", 1000)}, {"appeared 01", "appeared 02"}},
          {5s, {}, {}},
          {5s, {row("01", "10.0.0.1", 1000), row("02", "10.0.0.2", 999)}, {"rebooted 02 from 1000"}}}},
        {"a counter ahead of the clock, or standing still within the tolerance, is no reboot",
         {{0ms, {row("01", "10.0.0.1", 1000), row("02", "10.0.0.2", 1000)}, {"appeared 01", "appeared 02"}},
          {5s, {row("01", "10.0.0.1", 90000), row("02", "10.0.0.2", 1000)}, {}}}},
        {"a new address, a new name, a new version",
         {{0ms, {row("01", "10.0.0.1", 100), row("02", "10.0.0.2", 100), row("03", "10.0.0.3", 100)},
           {"appeared 01", "appeared 02", "appeared 03"}},
          {5s,
           {row("01", "10.0.0.9", 105), row("02", "10.0.0.2", 105, "QLX-NEW1"),
            row("03", "10.0.0.3", 105, "QLX-AS00", "1.08a 080415")},
           {"moved 01 from 10.0.0.1", "renamed 02 from QLX-AS00/1.07a 080415",
            "renamed 03 from QLX-AS00/1.07a 080415"}},
          {5s, {row("01", "10.0.0.9", 110), row("02", "10.0.0.2", 110, "QLX-NEW1")}, {}}}},
        {"one appliance rebooted, moved and renamed at once: one event for each change, in that order",
         {{0ms, {row("01", "10.0.0.1", 5000)}, {"appeared 01"}},
          {5s, {row("01", "10.0.0.7", 3, "QLX-NEW1")},
           {"rebooted 01 from 5000", "moved 01 from 10.0.0.1", "renamed 01 from QLX-AS00/1.07a 080415"}}}},
        {"a new appliance with an address another one had: one appears, the other goes in time",
         {{0ms, {row("01", "10.0.0.1", 100)}, {"appeared 01"}},
          {5s, {row("02", "10.0.0.1", 7)}, {"appeared 02"}},
          {5s, {row("02", "10.0.0.1", 12)}, {"gone 01"}}}},
    };
    for (const auto& c : cases) {
        Clock::time_point now{};
        WatchRules rules([&] { return now; });
        for (std::size_t i = 0; i < c.runs.size(); ++i) {
            now += c.runs[i].after;
            std::vector<std::string> got;
            for (const auto& e : rules.runEnded(c.runs[i].seen))
                got.push_back(shown(e));
            EXPECT_EQ(got, c.runs[i].events) << c.what << ", run " << i + 1;
        }
    }
}

// A gone appliance's line carries what was last seen of it.
TEST(WatchRules, GoneCarriesTheLastValuesSeen) {
    Clock::time_point now{};
    WatchRules rules([&] { return now; });
    rules.runEnded({row("01", "10.0.0.1", 100)});
    now += 5s;
    rules.runEnded({row("01", "10.0.0.8", 105, "QLX-LAST")});
    now += 5s;
    rules.runEnded({});
    now += 5s;
    const auto events = rules.runEnded({});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, WatchEvent::Kind::Gone);
    EXPECT_EQ(events[0].row.ip, "10.0.0.8");
    EXPECT_EQ(events[0].row.name, "QLX-LAST");
    EXPECT_EQ(events[0].row.uptimeSeconds, 105);
}

namespace {

class LocalZone {
public:
    explicit LocalZone(const char* tz) {
        const char* was = std::getenv("TZ");
        had_ = was != nullptr;
        if (had_)
            saved_ = was;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~LocalZone() {
        if (had_)
            ::setenv("TZ", saved_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string saved_;
};

WatchEvent event(WatchEvent::Kind kind, ScanRow now, ScanRow before = {}) { return {kind, now, before}; }

ScanRow shownRow(const std::string& name, const std::string& ip, const std::string& mac) {
    ScanRow r;
    r.number = 3;
    r.name = name;
    r.ip = ip;
    r.mac = mac;
    r.version = "1.07a 080415";
    r.uptime = "00026:03:04";
    r.uptimeSeconds = 93784;
    r.model = 1;
    return r;
}

}  // namespace

// Local time with its offset, east and west of Greenwich, whole hours or not.
TEST(WatchOutput, TimeIsLocalWithItsOffset) {
    const std::time_t when = 1796960096;  // 2026-12-11 03:34:56 UTC
    struct Case {
        const char* tz;
        const char* text;
    } cases[] = {
        {"JST-9", "2026-12-11T12:34:56+09:00"},
        {"IST-5:30", "2026-12-11T09:04:56+05:30"},
        {"EST5", "2026-12-10T22:34:56-05:00"},
        {"UTC0", "2026-12-11T03:34:56+00:00"},
    };
    for (const auto& c : cases) {
        LocalZone zone(c.tz);
        EXPECT_EQ(localTimeText(when), c.text) << c.tz;
    }
}

TEST(WatchOutput, JsonLinesCarryTheScansMembersAndWhatChanged) {
    const std::string time = "2026-12-11T12:34:56+09:00";
    ScanRow before = shownRow("QLX-AS00", "10.0.0.1", "00:80:45:00:00:01");
    ScanRow now = before;
    now.ip = "10.0.0.9";
    const std::string members = ", \"number\": 3, \"name\": \"QLX-AS00\", \"ip\": \"10.0.0.9\", \"mac\": "
                                "\"00:80:45:00:00:01\", \"version\": \"1.07a 080415\", \"uptime\": \"00026:03:04\", "
                                "\"uptime_seconds\": 93784, \"model\": 1";
    const std::string head = "{\"event\": ";
    const std::string at = ", \"time\": \"" + time + "\"";
    struct Case {
        WatchEvent::Kind kind;
        std::string line;
    } cases[] = {
        {WatchEvent::Kind::Appeared, head + "\"appeared\"" + at + members + "}\n"},
        {WatchEvent::Kind::Gone, head + "\"gone\"" + at + members + "}\n"},
        {WatchEvent::Kind::Moved, head + "\"moved\"" + at + members + ", \"previous\": {\"ip\": \"10.0.0.1\"}}\n"},
        {WatchEvent::Kind::Renamed,
         head + "\"renamed\"" + at + members +
             ", \"previous\": {\"name\": \"QLX-AS00\", \"version\": \"1.07a 080415\"}}\n"},
        {WatchEvent::Kind::Rebooted,
         head + "\"rebooted\"" + at + members +
             ", \"previous\": {\"uptime\": \"00026:03:04\", \"uptime_seconds\": 93784}}\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(watchLine(event(c.kind, now, before), time, "json"), c.line);
    EXPECT_EQ(watchHeader("json"), "");

    // Bytes from the network are escaped, and the line stays one line.
    ScanRow hostile = shownRow(std::string("Q\n\x1b\"", 4), "10.0.0.1", "00:80:45:00:00:01");
    const std::string line = watchLine(event(WatchEvent::Kind::Appeared, hostile), time, "json");
    EXPECT_NE(line.find("\"name\": \"Q\\u000a\\u001b\\\"\""), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(WatchOutput, CsvIsTheScansColumnsAfterEventAndTime) {
    EXPECT_EQ(watchHeader("csv"), "event,time,number,name,ip,mac,version,uptime,uptime_seconds,model\n");
    const ScanRow r = shownRow("機器,\"A\"", "10.0.0.1", "00:80:45:00:00:01");
    EXPECT_EQ(watchLine(event(WatchEvent::Kind::Gone, r), "2026-12-11T12:34:56+09:00", "csv"),
              "gone,2026-12-11T12:34:56+09:00,3,\"機器,\"\"A\"\"\",10.0.0.1,00:80:45:00:00:01,1.07a 080415,"
              "00026:03:04,93784,1\n");
}

// Lines written one at a time still line up under the heads: double-byte names take two
// columns a character, control characters show as "?", the values before come last.
TEST(WatchOutput, TableLinesLineUpAndShowNoControlCharacters) {
    const std::string time = "2026-12-11T12:34:56+09:00";
    const ScanRow plain = shownRow("QLX-AS00", "10.0.0.1", "00:80:45:00:00:01");
    ScanRow moved = shownRow("機器名ABCD", "192.168.100.200", "00:80:45:00:00:02");
    ScanRow before = moved;
    before.ip = "10.0.0.2";
    ScanRow renamed = shownRow("\x1b[2J\r\nX", "10.0.0.3", "00:80:45:00:00:03");
    ScanRow oldName = renamed;
    oldName.name = "QLX-\x07";
    const std::string lines[] = {
        watchHeader("table"),
        watchLine(event(WatchEvent::Kind::Appeared, plain), time, "table"),
        watchLine(event(WatchEvent::Kind::Moved, moved, before), time, "table"),
        watchLine(event(WatchEvent::Kind::Renamed, renamed, oldName), time, "table"),
    };
    EXPECT_EQ(lines[0],
              "Event     Time                       No.  Name                  IP address       MAC address        "
              "Version       Uptime       Before\n");
    EXPECT_EQ(lines[1],
              "appeared  2026-12-11T12:34:56+09:00  3    QLX-AS00              10.0.0.1         00:80:45:00:00:01  "
              "1.07a 080415  00026:03:04\n");
    EXPECT_EQ(lines[2],
              "moved     2026-12-11T12:34:56+09:00  3    機器名ABCD            192.168.100.200  00:80:45:00:00:02  "
              "1.07a 080415  00026:03:04  10.0.0.2\n");
    EXPECT_EQ(lines[3],
              "renamed   2026-12-11T12:34:56+09:00  3    ?[2J??X               10.0.0.3         00:80:45:00:00:03  "
              "1.07a 080415  00026:03:04  QLX-?  1.07a 080415\n");
}
