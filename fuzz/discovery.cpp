// Datagrams through the finder's receive path (hex text, log, acceptance, decode, table
// insert with the run's MAC index), every datagram fed twice, with and without model-name
// lines and test mode, and with new runs started between them (the table cleared as a run
// start clears it). An independent model of the list says which rows there must be.
#include <cstdint>
#include <set>

#include "Discovery.h"
#include "LocalAddress.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

// The search run's receive handler and run start without the sockets: the log, the table
// and the MAC index they keep, with the functions the run itself calls.
struct ReceivePath {
    DeviceGrid grid;
    int foundCount = 0;
    MacIndex index;
    std::vector<std::string> log;
    DecodeRules rules;

    int receive(std::string_view datagram, int port, const std::string& from) {
        const std::string hex = hexText(datagram);
        log.push_back(std::to_string(port) + " " + from);
        log.push_back(hex);
        return addReply(grid, foundCount, hex, rules, &index);
    }
    void startRun() {
        log.clear();
        clearRows(grid, foundCount, index);
    }
};

// The model: the distinct MACs of the accepted replies of the current run, in order of
// arrival. The MAC is worked out from the bytes: each of bytes 14 to 19 as two digits,
// missing where the datagram is short.
struct ListModel {
    std::vector<std::string> macs;
    std::set<std::string> seen;

    void receive(std::string_view d, bool accepted) {
        if (!accepted) return;
        static const char digits[] = "0123456789ABCDEF";
        std::string mac;
        for (std::size_t k = 14; k < 20; ++k) {
            if (k > 14) mac += ':';
            if (k < d.size()) {
                mac += digits[static_cast<unsigned char>(d[k]) >> 4];
                mac += digits[static_cast<unsigned char>(d[k]) & 15];
            }
        }
        if (seen.insert(mac).second) macs.push_back(mac);
    }
    void startRun() {
        macs.clear();
        seen.clear();
    }
};

// The rows are exactly the model's MACs, in its order, and nothing after them.
std::string checkAgainst(const ReceivePath& p, const ListModel& m) {
    if (p.foundCount != static_cast<int>(m.macs.size()))
        return std::to_string(p.foundCount) + " rows listed for " + std::to_string(m.macs.size()) + " appliances";
    for (int row = 1; row <= p.foundCount; ++row)
        if (row >= p.grid.rowCount() || p.grid.cell(3, row) != m.macs[row - 1])
            return "row " + std::to_string(row) + " is not " + m.macs[row - 1];
    for (int row = p.foundCount + 1; row < p.grid.rowCount(); ++row)
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            if (!p.grid.cell(c, row).empty()) return "row " + std::to_string(row) + " past the list is not empty";
    return "";
}

bool sameGrid(const DeviceGrid& a, const DeviceGrid& b) {
    if (a.rowCount() != b.rowCount()) return false;
    for (int r = 0; r < a.rowCount(); ++r)
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            if (a.cell(c, r) != b.cell(c, r)) return false;
    return true;
}

// Acceptance worked out from the bytes: marker 00 80 00, and byte 3 passes unless both
// of its hex digits are decimal digits that read as 3 or more.
bool acceptedBytes(std::string_view d) {
    if (d.size() < 3 || d[0] != 0 || static_cast<unsigned char>(d[1]) != 0x80 || d[2] != 0)
        return false;
    if (d.size() < 4) return true;
    const auto b = static_cast<unsigned char>(d[3]);
    const int hi = b >> 4, lo = b & 15;
    return hi > 9 || lo > 9 || hi * 10 + lo < 3;
}

// Zeros go in front of the whole text, sign included: -18 in width 5 is 00-18.
std::string pad(long long v, int width) {
    std::string s = std::to_string(v);
    while (static_cast<int>(s.size()) < width) s = "0" + s;
    return s;
}

// A full reply's row against its bytes, each field worked out on its own.
std::string checkRow(const DeviceGrid& g, int row, std::string_view d, const DecodeRules& rules) {
    auto u = [&](int k) { return static_cast<unsigned char>(d[k]); };
    std::string ip;
    for (int k = 8; k < 12; ++k) ip += (k > 8 ? "." : "") + pad(u(k), 3);
    if (g.cell(2, row) != ip) return "ip " + g.cell(2, row) + " for " + ip;

    static const char digits[] = "0123456789ABCDEF";
    std::string mac;
    for (int k = 14; k < 20; ++k) {
        if (k > 14) mac += ':';
        mac += digits[u(k) >> 4];
        mac += digits[u(k) & 15];
    }
    if (g.cell(3, row) != mac) return "mac " + g.cell(3, row) + " for " + mac;

    const std::string& name = g.cell(1, row);
    if (name.size() < 4 || name.substr(name.size() - 4) != std::string(d.substr(20, 4)))
        return "name " + shown(name) + " does not end with bytes 20-23";
    if (rules.testMode == "1" && name.substr(0, name.size() - 4) != pad(u(6), 3) + "-")
        return "test mode name " + shown(name);

    const std::string version = std::to_string(u(24)) + "." + pad(u(25), 2) +
                                static_cast<char>(u(26)) + " " + pad(u(27), 2) + pad(u(28), 2) +
                                pad(u(29), 2);
    if (g.cell(4, row) != version) return "version " + shown(g.cell(4, row)) + " for " + shown(version);

    const auto seconds = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(u(31)) << 24 | u(32) << 16 | u(33) << 8 | u(34));
    const long long s = seconds;
    const std::string uptime = pad(s / 3600, 5) + ":" + pad(s % 3600 / 60, 2) + ":" + pad(s % 60, 2);
    if (g.cell(5, row) != uptime) return "uptime " + g.cell(5, row) + " for " + uptime;
    return "";
}

std::string checkTable(const ReceivePath& p) {
    std::set<std::string> macs;
    for (int row = 1; row <= p.foundCount; ++row) {
        const std::string& mac = p.grid.cell(3, row);
        if (mac.empty()) return "row " + std::to_string(row) + " has no MAC";
        if (!macs.insert(mac).second) return "MAC " + mac + " listed twice";
        if (p.grid.cell(0, row) != " " + std::to_string(row)) return "row number " + p.grid.cell(0, row);
    }
    if (p.grid.rowCount() < std::max(11, p.foundCount + 1)) return "a found row has no table row";
    return "";
}

}  // namespace

// Input: a flag byte (1: test mode "1", 2: test mode "1 ", 4: model-name lines follow as a
// count byte and length-prefixed lines, 8: an empty datagram starts a new run instead),
// then length-prefixed datagrams.
std::string discovery(std::string_view bytes) {
    Input in(bytes);
    ReceivePath p;
    const unsigned flags = in.byte();
    p.rules.testMode = flags & 1 ? "1" : flags & 2 ? "1 " : "0";
    if (flags & 4)
        for (int n = in.byte() % 4; n > 0; --n) p.rules.modelLines.emplace_back(in.sized());

    const bool runs = flags & 8;
    std::vector<std::string_view> datagrams;
    // Enough to grow the table past its ten rows; more only slows the search down.
    while (!in.empty() && datagrams.size() < 32) datagrams.push_back(in.sized());
    bool restarted = false;
    ListModel model;

    for (int pass = 0; pass < 2; ++pass) {
        for (std::string_view d : datagrams) {
            if (runs && d.empty()) {
                p.startRun();
                model.startRun();
                restarted = true;
                if (std::string e = checkAgainst(p, model); !e.empty()) return "after a run start: " + e;
                continue;
            }
            const DeviceGrid before = p.grid;
            const int foundBefore = p.foundCount;
            const std::size_t logBefore = p.log.size();
            const int row = p.receive(d, 15580, "127.0.0.1");

            if (p.log.size() != logBefore + 2 || p.log.back() != hexText(d) ||
                p.log.back().size() != 2 * d.size())
                return "log lines wrong for " + shown(d);
            if (replyAccepted(p.log.back()) != acceptedBytes(d))
                return "acceptance wrong for " + shown(d);
            if (p.grid.rowCount() < before.rowCount()) return "table shrank";
            if (row == 0) {
                if (p.foundCount != foundBefore || !sameGrid(before, p.grid))
                    return "an ignored reply changed the table: " + shown(d);
                if (acceptedBytes(d)) {
                    bool listed = false;
                    for (int r = 1; r <= foundBefore; ++r) listed |= before.cell(3, r) == macText(p.log.back());
                    if (!listed) return "an accepted reply from a new MAC was dropped: " + shown(d);
                }
            } else {
                if (pass == 1 && !restarted) return "the second pass added a row for " + shown(d);
                if (!acceptedBytes(d) || row != foundBefore + 1 || p.foundCount != row)
                    return "row " + std::to_string(row) + " written for " + shown(d);
                for (int r = 1; r < row; ++r)
                    for (int c = 0; c < DeviceGrid::kColumns; ++c)
                        if (p.grid.cell(c, r) != before.cell(c, r)) return "a new reply changed an older row";
                if (d.size() >= 35)
                    if (std::string e = checkRow(p.grid, row, d, p.rules); !e.empty()) return e + " in " + shown(d);
            }
            if (std::string e = checkTable(p); !e.empty()) return e;
            model.receive(d, acceptedBytes(d));
            if (std::string e = checkAgainst(p, model); !e.empty()) return e + " after " + shown(d);
        }
    }
    return "";
}

}  // namespace fuzzprops
