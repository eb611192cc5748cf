#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Discovery.h"
#include "TableSort.h"
#include "cp932.h"

namespace {

using cp932::sj;

struct Appliance {
    std::array<int, 4> ip;
    int macLast;
    std::string name4 = "ABCD";
    int uptime = 100;
};

// The reply hex text an appliance sends (model code 1: "QLX-").
std::string reply(const Appliance& a) {
    std::string b = {0x00, char(0x80), 0x00, 0x01, 0x00, 0x00, 0x01, 0x00};
    for (int o : a.ip) b += char(o);
    b += std::string(2, '\0');
    b += std::string{0x00, 0x11, 0x22, 0x33, 0x44, char(a.macLast)};
    b += a.name4;
    b += std::string{0x01, 0x07, 'a', 0x08, 0x04, 0x0F, 0x00};
    for (int s = 24; s >= 0; s -= 8) b += char((a.uptime >> s) & 0xFF);
    return hexText(b);
}

// What a run does to the table: empties every data row, then the decoder adds rows.
int run(DeviceGrid& grid, const std::vector<Appliance>& found) {
    for (int r = 1; r < grid.rowCount(); ++r)
        for (int c = 0; c < DeviceGrid::kColumns; ++c) grid.setCell(c, r, "");
    int count = 0;
    for (const auto& a : found) addReply(grid, count, reply(a), DecodeRules{});
    return count;
}

std::vector<Appliance> appliances(int n) {
    std::vector<Appliance> v;
    for (int i = 0; i < n; ++i) v.push_back({{192, 168, 1, 200 - i}, i + 1});
    return v;
}

std::vector<std::string> column(const DeviceGrid& g, int c) {
    std::vector<std::string> v;
    for (int r = 1; r < g.rowCount(); ++r) v.push_back(g.cell(c, r));
    return v;
}

}  // namespace

TEST(ListSort, OneApplianceNeitherSortsNorCompacts) {
    DeviceGrid grid(16);
    run(grid, appliances(1));
    ListSort(grid, 2, localeCompare());
    EXPECT_EQ(grid.rowCount(), 16);
    EXPECT_EQ(grid.cell(0, 1), " 1");
}

TEST(ListSort, RowCountFollowsTheRunsThroughGrowthAndCompaction) {
    DeviceGrid grid;
    EXPECT_EQ(run(grid, appliances(15)), 15);
    EXPECT_EQ(grid.rowCount(), 16);
    ListSort(grid, 2, localeCompare());
    EXPECT_EQ(grid.rowCount(), 16);
    EXPECT_EQ(grid.cell(2, 1), "192.168.001.186");
    EXPECT_EQ(grid.cell(0, 15), " 15");

    run(grid, appliances(3));
    ListSort(grid, 2, localeCompare());
    EXPECT_EQ(grid.rowCount(), 11);
    EXPECT_EQ(column(grid, 2)[2], "192.168.001.200");
    for (int r = 4; r <= 10; ++r) EXPECT_EQ(grid.cell(1, r), "") << r;

    // Starting at 16 rows, 15 appliances grow it to 21 and the sort brings it back.
    grid.setRowCount(16);
    run(grid, appliances(15));
    EXPECT_EQ(grid.rowCount(), 21);
    EXPECT_EQ(grid.cell(2, 15), "192.168.001.186");
    EXPECT_EQ(grid.cell(1, 16), "");
    ListSort(grid, 5, localeCompare());
    EXPECT_EQ(grid.rowCount(), 16);
}

TEST(ListSort, KeysGiveNumericAndCaseFreeOrder) {
    struct Case {
        const char* name;
        int column;
        std::vector<Appliance> rows;
        std::vector<std::string> want;  // the key column after the sort
    } cases[] = {
        {"IP address",
         2,
         {{{192, 168, 10, 1}, 1}, {{192, 168, 1, 10}, 2}, {{192, 168, 1, 2}, 3}},
         {"192.168.001.002", "192.168.001.010", "192.168.010.001"}},
        {"device name ignores case",
         1,
         {{{10, 0, 0, 1}, 1, "cccc"}, {{10, 0, 0, 2}, 2, "BBBB"}, {{10, 0, 0, 3}, 3, "aaaa"}},
         {"QLX-aaaa", "QLX-BBBB", "QLX-cccc"}},
        {"running time",
         5,
         {{{10, 0, 0, 1}, 1, "ABCD", 360000}, {{10, 0, 0, 2}, 2, "ABCD", 59},
          {{10, 0, 0, 3}, 3, "ABCD", 3600}},
         {"00000:00:59", "00001:00:00", "00100:00:00"}},
    };
    for (auto& c : cases) {
        DeviceGrid grid;
        run(grid, c.rows);
        ListSort(grid, c.column, localeCompare());
        auto got = column(grid, c.column);
        got.resize(c.want.size());
        EXPECT_EQ(got, c.want) << c.name;
        EXPECT_EQ(column(grid, 0)[0], " 1") << c.name;
        EXPECT_EQ(column(grid, 0)[2], " 3") << c.name;
        EXPECT_EQ(grid.rowCount(), 11) << c.name;
    }
}

TEST(ListSort, WholeRowsMoveTogether) {
    DeviceGrid grid;
    run(grid, {{{10, 0, 0, 9}, 0x99}, {{10, 0, 0, 1}, 0x11}});
    ListSort(grid, 2, localeCompare());
    EXPECT_EQ(grid.cell(2, 1), "010.000.000.001");
    EXPECT_EQ(grid.cell(3, 1), "00:11:22:33:44:11");
    EXPECT_EQ(grid.cell(3, 2), "00:11:22:33:44:99");
}

TEST(Sort, QuicksortOrdersAnyPermutation) {
    auto bytes = [](const std::string& a, const std::string& b) { return a.compare(b); };
    std::mt19937 rng(7);
    for (int n : {2, 3, 7, 31, 64}) {
        std::vector<std::string> keys;
        for (int i = 0; i < n; ++i) keys.push_back(std::to_string(1000 + (i * 37) % n / 2));
        std::shuffle(keys.begin(), keys.end(), rng);
        DeviceGrid grid(n + 1);
        for (int r = 1; r <= n; ++r) {
            grid.setCell(1, r, keys[r - 1]);
            grid.setCell(4, r, "tag" + keys[r - 1]);
        }
        Sort(grid, 1, bytes);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(column(grid, 1), keys) << n;
        for (int r = 1; r <= n; ++r) EXPECT_EQ(grid.cell(4, r), "tag" + grid.cell(1, r));
    }
}

TEST(SortKey, OnlyTheThreeTextsChooseAColumn) {
    EXPECT_EQ(sortColumnFor(sj("機器名称")), 1);
    EXPECT_EQ(sortColumnFor(sj("IPアドレス")), 2);
    EXPECT_EQ(sortColumnFor(sj("稼働時間")), 5);
    EXPECT_EQ(sortColumnFor(sj("ipアドレス")), 0);  // exact text, so this leaves arrival order
    EXPECT_EQ(sortColumnFor(""), 0);
    EXPECT_EQ(sortColumnFor("name"), 0);
}

TEST(ListCheckRule, ButtonStatesForEveryCase) {
    using S = std::optional<bool>;
    struct Case {
        bool searchEnabled;
        const char* ip;
        bool ticked, exists;
        S web, utility;
    } cases[] = {
        {true, "", true, true, false, false},                 // empty row: both off
        {true, "", false, false, false, false},
        {true, "192.168.001.010", true, true, true, true},
        {true, "192.168.001.010", true, false, true, S{}},    // file missing: not touched
        {true, "192.168.001.010", false, true, true, S{}},    // check off: not touched
        {false, "192.168.001.010", true, true, S{}, S{}},     // run or open panel: nothing
        {false, "", true, true, S{}, S{}},
    };
    for (const auto& c : cases) {
        int asked = 0;
        ButtonStates s = ListCheck(c.searchEnabled, c.ip, c.ticked, [&] {
            ++asked;
            return c.exists;
        });
        EXPECT_EQ(s.web, c.web) << c.ip << c.ticked << c.exists;
        EXPECT_EQ(s.utility, c.utility) << c.ip << c.ticked << c.exists;
        EXPECT_LE(asked, 1);
    }
}
