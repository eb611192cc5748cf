#include <gtest/gtest.h>

#include <random>
#include <set>

#include "ApplianceSim.h"
#include "Discovery.h"
#include "cp932.h"

namespace {

using cp932::sj;

std::string bytesOf(std::initializer_list<int> b) {
    std::string s;
    for (int v : b)
        s += static_cast<char>(v);
    return s;
}

const std::string kExampleReply =
    bytesOf({0x00, 0x80, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0xC0, 0xA8, 0x01, 0x14, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33,
             0x44, 0x55, 0x41, 0x42, 0x43, 0x44, 0x01, 0x07, 0x61, 0x08, 0x04, 0x0F, 0x00, 0x00, 0x01, 0x6E, 0x58});

std::string withByte(std::string reply, int k, int value) {
    reply[k] = static_cast<char>(value);
    return reply;
}

}  // namespace

TEST(DiscoveryRequest, CarriesTheSenderAddressAndChecksum) {
    struct Case {
        Octets local;
        std::string hex, broadcast;
    } cases[] = {
        {{192, 168, 1, 10}, "00FF000120E80000C0A8010A2332" + std::string(36, '0'), "192.168.1.255"},
        {{10, 0, 0, 1}, "00FF0001208000000A0000012332" + std::string(36, '0'), "10.0.0.255"},
    };
    for (const auto& c : cases) {
        auto r = discoveryRequest(c.local);
        EXPECT_EQ(hexText(std::string(r.begin(), r.end())), c.hex);
        EXPECT_EQ(broadcastHost(c.local), c.broadcast);
    }
}

TEST(DiscoveryRequest, LocalAddressTextSplitsIntoOctets) {
    EXPECT_EQ(splitOctets("192.168.1.10"), (Octets{192, 168, 1, 10}));
    EXPECT_EQ(splitOctets("10.x.3"), (Octets{10, 0, 3, 0}));
    EXPECT_EQ(splitOctets(""), (Octets{0, 0, 0, 0}));
    EXPECT_EQ(splitOctets("1.2.3.4.5"), (Octets{1, 2, 3, 0}));  // the rest after the third dot
}

TEST(DiscoveryReply, ExampleDecodesToItsFiveTexts) {
    DeviceEntry e = decodeReply(hexText(kExampleReply), 1, {});
    EXPECT_EQ(e.number, " 1");
    EXPECT_EQ(e.name, "QLX-ABCD");
    EXPECT_EQ(e.ip, "192.168.001.020");
    EXPECT_EQ(e.mac, "00:11:22:33:44:55");
    EXPECT_EQ(e.version, "1.07a 080415");
    EXPECT_EQ(e.uptime, "00026:03:04");
}

TEST(DiscoveryReply, SimulatorEncodesTheExample) {
    Appliance a;
    a.model = 5;
    EXPECT_EQ(encodeReply(a), kExampleReply);
}

TEST(DiscoveryReply, AcceptanceByteAndMarker) {
    struct Case {
        int byte3;
        bool accepted;
    } cases[] = {{0x00, true}, {0x01, true}, {0x02, true}, {0x0A, true}, {0x1F, true}, {0xFF, true},
                 {0x03, false}, {0x09, false}, {0x10, false}, {0x99, false}};
    for (const auto& c : cases)
        EXPECT_EQ(replyAccepted(hexText(withByte(kExampleReply, 3, c.byte3))), c.accepted) << c.byte3;
    EXPECT_FALSE(replyAccepted(hexText(withByte(kExampleReply, 1, 0x81))));
    EXPECT_FALSE(replyAccepted(hexText(withByte(kExampleReply, 0, 0x01))));
    EXPECT_FALSE(replyAccepted(""));
    EXPECT_TRUE(replyAccepted("008000"));  // cut short after the marker
}

TEST(DiscoveryReply, ModelCodesGiveTheirPrefixes) {
    struct Case {
        int code;
        const char* prefix;
    } cases[] = {{0, "?\?\?-"},  {1, "QLX-"},  {19, "QLX-"},   {20, "KWM-"},   {21, "KWM-TZ"}, {22, "?\?\?-"},
                 {25, "?\?\?-"}, {30, "ZPV-"}, {39, "ZPV-"},   {40, "VN30-4"}, {49, "VN30-4"}, {50, "?\?\?-"},
                 {255, "?\?\?-"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ModelTable(c.code), c.prefix) << c.code;
        EXPECT_EQ(decodeReply(hexText(withByte(kExampleReply, 6, c.code)), 1, {}).name,
                  std::string(c.prefix) + "ABCD")
            << c.code;
    }
}

TEST(DiscoveryReply, ModelNameLinesAndTestMode) {
    DecodeRules rules;
    rules.modelLines = {"021 " + sj("特注"), "  5 early", "005 later-name-that-is-long", "5   blank-trail",
                        "abc never"};
    EXPECT_EQ(namePrefix(21, rules), sj("特注"));
    // A later matching line wins; characters 5..20 at most; "5  " has a trailing blank (no match).
    EXPECT_EQ(namePrefix(5, rules), "later-name-that-");
    EXPECT_EQ(decodeReply(hexText(withByte(kExampleReply, 6, 21)), 1, rules).name, sj("特注") + "ABCD");
    rules.modelLines.push_back("+07 seven");
    rules.modelLines.push_back("-1 minus");
    EXPECT_EQ(namePrefix(7, rules), "seven");
    EXPECT_EQ(namePrefix(1, rules), "QLX-");  // "-1 " has a trailing blank: no code
    EXPECT_EQ(namePrefix(5, DecodeRules{{"005"}, "0"}), "");  // a line without a text
    rules.testMode = "1";
    EXPECT_EQ(namePrefix(5, rules), "005-");
    EXPECT_EQ(namePrefix(7, rules), "007-");
    rules.testMode = "1 ";
    EXPECT_EQ(namePrefix(7, rules), "seven");
}

// The display text is at most 16 bytes; a double-byte character the 16th byte would cut
// in two is left out whole, so no half character (shown as garbage) ends a name.
TEST(DiscoveryReply, ModelNameCutAtACharacterBoundary) {
    const std::string kanji = sj("専");  // two bytes
    struct Case {
        const char* what;
        std::string text, prefix;
    } cases[] = {
        {"16 single bytes of more", "ABCDEFGHIJKLMNOPQR", "ABCDEFGHIJKLMNOP"},
        {"a character across the 16th byte", "ABCDEFGHIJKLMNO" + kanji + "Z", "ABCDEFGHIJKLMNO"},
        {"a character ending at the 16th byte", "ABCDEFGHIJKLMN" + kanji + "Z", "ABCDEFGHIJKLMN" + kanji},
        {"eight characters and more", kanji + kanji + kanji + kanji + kanji + kanji + kanji + kanji + kanji,
         kanji + kanji + kanji + kanji + kanji + kanji + kanji + kanji},
        {"half-width katakana are single bytes", std::string(15, '\xB1') + kanji, std::string(15, '\xB1')},
        {"a line that ends within 16 bytes is whole", "ABC" + kanji, "ABC" + kanji},
    };
    for (const auto& c : cases)
        EXPECT_EQ(namePrefix(9, DecodeRules{{"009 " + c.text}, "0"}), c.prefix) << c.what;
}

TEST(TextConversions, HexToInt) {
    struct Case {
        const char* text;
        std::int32_t value;
    } cases[] = {{"00FF", 255}, {"ff", 255}, {"1-2", 18}, {"", 0}, {"zz", 0}, {"7FFFFFFF", 0x7FFFFFFF},
                 {"FFFFFFFF", -1}, {"100000000", 0}, {"0000016E58", 93784}};
    for (const auto& c : cases)
        EXPECT_EQ(HexToInt(c.text), c.value) << c.text;
}

TEST(TextConversions, ZeroPad) {
    struct Case {
        std::int32_t value;
        int width;
        const char* text;
    } cases[] = {{5, 3, "005"}, {-1, 2, "-1"}, {-5, 3, "0-5"}, {123456, 5, "123456"}, {0, 0, "0"},
                 {7, 30, "0000000000000000" "7"}};  // never more than 16 zeros
    for (const auto& c : cases)
        EXPECT_EQ(ZeroPad(c.value, c.width), c.text) << c.value << "/" << c.width;
}

TEST(TextConversions, RunningTimes) {
    struct Case {
        std::int32_t seconds;
        const char* text;
    } cases[] = {{0, "00000:00:00"}, {93784, "00026:03:04"}, {360000, "00100:00:00"},
                 {359999999, "99999:59:59"}, {360000000, "100000:00:00"}, {-1, "00000:00:-1"},
                 {-3661, "000-1:-1:-1"}, {INT32_MIN, "-596523:-14:-8"}};
    for (const auto& c : cases)
        EXPECT_EQ(uptimeText(c.seconds), c.text) << c.seconds;
    // The top bit set in the reply makes a negative time.
    auto reply = kExampleReply;
    reply.replace(31, 4, std::string("\xFF\xFF\xFF\xFF", 4));
    EXPECT_EQ(decodeReply(hexText(reply), 1, {}).uptime, "00000:00:-1");
}

TEST(DiscoveryReply, CutShortRepliesDecodeFromWhatIsThere) {
    // After the marker only: every field from empty text.
    DeviceEntry e = decodeReply(hexText(kExampleReply.substr(0, 3)), 1, {});
    EXPECT_EQ(e.mac, ":::::");
    EXPECT_EQ(e.name, std::string("?\?\?-") + std::string(4, '\0'));
    EXPECT_EQ(e.ip, "000.000.000.000");
    EXPECT_EQ(e.version, std::string("0.00") + '\0' + " 000000");
    EXPECT_EQ(e.uptime, "00000:00:00");

    // Ends inside the MAC address (17 bytes) and inside the running time (33 bytes).
    e = decodeReply(hexText(kExampleReply.substr(0, 17)), 1, {});
    EXPECT_EQ(e.mac, "00:11:22:::");
    EXPECT_EQ(e.ip, "192.168.001.020");
    e = decodeReply(hexText(kExampleReply.substr(0, 33)), 1, {});
    EXPECT_EQ(e.name, "QLX-ABCD");
    EXPECT_EQ(e.uptime, "00000:00:01");  // 00 01, the two low bytes missing
    e = decodeReply(hexText(kExampleReply.substr(0, 34)), 1, {});
    EXPECT_EQ(e.uptime, "00000:06:06");  // 00 00 01 6E, the low byte missing
}

TEST(DeviceRows, EachMacOnceAndTheTableGrowsPastTenRows) {
    DeviceGrid grid(11);
    int found = 0;
    auto list = sampleAppliances(12);
    EXPECT_EQ(addReply(grid, found, hexText(encodeReply(list[0])), {}), 1);
    // The same MAC again, even with other fields, is dropped.
    Appliance changed = list[0];
    changed.ip = {10, 0, 0, 9};
    changed.uptime = 5;
    EXPECT_EQ(addReply(grid, found, hexText(encodeReply(changed)), {}), 0);
    EXPECT_EQ(found, 1);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(addReply(grid, found, hexText(encodeReply(list[i])), {}), i + 1);
    EXPECT_EQ(grid.rowCount(), 11);
    EXPECT_EQ(addReply(grid, found, hexText(encodeReply(list[10])), {}), 11);
    EXPECT_EQ(grid.rowCount(), 12);
    EXPECT_EQ(addReply(grid, found, hexText(encodeReply(list[11])), {}), 12);
    EXPECT_EQ(grid.rowCount(), 13);
    EXPECT_EQ(grid.cell(0, 11), " 11");
    EXPECT_EQ(grid.cell(3, 12), "00:80:45:00:00:0B");
    EXPECT_EQ(grid.cell(2, 1), "192.168.001.001");
    // A rejected reply changes nothing.
    EXPECT_EQ(addReply(grid, found, hexText(withByte(encodeReply(sampleAppliances(13)[12]), 3, 0x05)), {}), 0);
    EXPECT_EQ(found, 12);
}

// Any datagram of 0 to 2048 bytes decodes without fault (run under the sanitizers too), and
// the table keeps one row per MAC text, each row numbered in arrival order.
TEST(DiscoveryReply, ArbitraryBytesNeverBreakTheDecoder) {
    std::mt19937 random(7);
    DeviceGrid grid(11);
    int found = 0;
    for (int length = 0; length <= 2048; ++length) {
        std::string bytes(static_cast<std::size_t>(length), '\0');
        for (auto& b : bytes)
            b = static_cast<char>(random());
        if (length % 2 == 0 && length >= 3)
            bytes.replace(0, 3, std::string("\x00\x80\x00", 3));
        addReply(grid, found, hexText(bytes), {});
    }
    EXPECT_GT(found, 0);
    EXPECT_GT(grid.rowCount(), found);
    std::set<std::string> macs;
    for (int row = 1; row <= found; ++row) {
        EXPECT_TRUE(macs.insert(grid.cell(3, row)).second) << "MAC listed twice: " << grid.cell(3, row);
        EXPECT_EQ(grid.cell(0, row), " " + std::to_string(row));
    }
}

// Any length of digits is read without overflow: a number outside the 32-bit range is
// not a number, as any other text that is not one.
TEST(DiscoveryRequest, OctetTextsOfAnyLengthReadSafely) {
    const std::string huge(4000, '9');
    EXPECT_EQ(splitOctets(huge + ".1.2.3"), (Octets{0, 1, 2, 3}));
    EXPECT_EQ(splitOctets("2147483647.2147483648.-2147483648.-2147483649"), (Octets{2147483647, 0, -2147483647 - 1, 0}));
    EXPECT_EQ(splitOctets("99999999999999999999.010.077.021"), (Octets{0, 10, 77, 21}));
}

namespace {

std::string replyWithMac(int last) {
    std::string r = kExampleReply;
    r[19] = static_cast<char>(last);
    return hexText(r);
}

}  // namespace

// The MAC index gives the same rows as the plain search, also when the grid is emptied
// or filled behind its back, as a second run or a test does.
TEST(DiscoveryReply, MacIndexAgreesWithTheRowsAlways) {
    DeviceGrid grid;
    MacIndex index;
    int found = 0;
    for (int mac : {1, 2, 1, 3, 2, 3, 4})
        addReply(grid, found, replyWithMac(mac), {}, &index);
    EXPECT_EQ(found, 4);
    EXPECT_EQ(grid.cell(3, 4), "00:11:22:33:44:04");

    // A new run empties the rows and starts the count at 0: every MAC is new again.
    for (int row = 1; row < grid.rowCount(); ++row)
        grid.setCell(3, row, {});
    found = 0;
    EXPECT_EQ(addReply(grid, found, replyWithMac(2), {}, &index), 1);
    EXPECT_EQ(addReply(grid, found, replyWithMac(2), {}, &index), 0);

    // Rows written elsewhere with a count to match are seen as listed.
    grid.setCell(3, 2, "00:11:22:33:44:09");
    found = 2;
    EXPECT_EQ(addReply(grid, found, replyWithMac(9), {}, &index), 0);
    // A row overwritten under the same count: the old MAC is no longer listed.
    grid.setCell(3, 1, "00:11:22:33:44:07");
    EXPECT_EQ(addReply(grid, found, replyWithMac(2), {}, &index), 3);
    EXPECT_EQ(found, 3);
}

// Thousands of distinct appliances and their repeats: each listed once, in arrival order.
TEST(DiscoveryReply, ManyAppliancesListedOnceEach) {
    DeviceGrid grid;
    MacIndex index;
    int found = 0;
    auto list = sampleAppliances(4096);
    for (int round = 0; round < 3; ++round)
        for (const auto& a : list)
            addReply(grid, found, hexText(encodeReply(a)), {}, &index);
    ASSERT_EQ(found, 4096);
    for (int row = 1; row <= found; ++row)
        ASSERT_EQ(grid.cell(3, row), macText(hexText(encodeReply(list[row - 1])))) << row;
}
