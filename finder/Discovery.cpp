#include "Discovery.h"

#include <algorithm>

namespace {

// Characters from 1-based position `pos`, at most `len`; empty past the end.
std::string_view cut(std::string_view s, std::size_t pos, std::size_t len) {
    if (pos < 1 || pos > s.size())
        return {};
    return s.substr(pos - 1, len);
}

// Byte k of the reply as its two hex characters (fewer when the reply is short).
std::string_view hexByte(std::string_view hex, int k) { return cut(hex, 2 * k + 1, 2); }

int byteValue(std::string_view hex, int k) { return HexToInt(hexByte(hex, k)); }

// A whole decimal number with optional leading blanks and sign, else `fallback`; so is
// a number outside the 32-bit range, whatever its length.
int decimalOr(std::string_view s, int fallback) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    if (i == s.size())
        return fallback;
    constexpr long long kLimit = 2147483648LL;  // the magnitude of the lowest int
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return fallback;
        value = value * 10 + (s[i] - '0');
        if (value > kLimit)
            return fallback;
    }
    if (!negative && value == kLimit)
        return fallback;
    return static_cast<int>(negative ? -value : value);
}

// A model-name line's display text: characters 5 to 20, at most 16 bytes. A double-byte
// character that the 16th byte would cut in two is left out whole.
std::string_view displayText(std::string_view line) {
    std::string_view text = cut(line, 5, 16);
    if (line.size() <= 20)
        return text;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        if (lead && i + 1 == text.size())
            return text.substr(0, i);
        i += lead ? 2 : 1;
    }
    return text;
}

struct ModelRange {
    int first, last;
    const char* prefix;
};
constexpr ModelRange kModels[] = {
    {1, 19, "QLX-"}, {20, 20, "KWM-"}, {21, 21, "KWM-TZ"}, {30, 39, "ZPV-"}, {40, 49, "VN30-4"},
};

}  // namespace

std::array<std::uint8_t, 32> discoveryRequest(const Octets& local) {
    std::array<std::uint8_t, 32> r{};
    r[1] = 0xFF;
    r[3] = 0x01;
    r[4] = 0x20;
    for (int i = 0; i < 4; ++i)
        r[8 + i] = static_cast<std::uint8_t>(local[i] & 0xFF);
    r[12] = 0x23;
    r[13] = 0x32;
    unsigned sum = 0;
    for (auto b : r)
        sum += b;
    r[5] = static_cast<std::uint8_t>(sum & 0xFF);
    return r;
}

std::string broadcastHost(const Octets& local) {
    return std::to_string(local[0]) + "." + std::to_string(local[1]) + "." +
           std::to_string(local[2]) + ".255";
}

Octets splitOctets(std::string_view dotted) {
    Octets o{};
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = i < 3 ? dotted.find('.') : std::string_view::npos;
        o[i] = decimalOr(dotted.substr(0, dot), 0);
        dotted = dot == std::string_view::npos ? std::string_view{} : dotted.substr(dot + 1);
    }
    return o;
}

std::int32_t HexToInt(std::string_view text) {
    std::uint32_t sum = 0, weight = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        char c = *it;
        int v = c >= '0' && c <= '9' ? c - '0'
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                     : -1;
        if (v < 0)
            continue;
        sum += static_cast<std::uint32_t>(v) * weight;
        weight *= 16;
    }
    return static_cast<std::int32_t>(sum);
}

std::string ZeroPad(std::int32_t value, int width) {
    std::string s = std::to_string(value);
    int missing = std::min(width - static_cast<int>(s.size()), 16);
    return missing > 0 ? std::string(missing, '0') + s : s;
}

std::string ModelTable(int code) {
    for (const auto& m : kModels)
        if (code >= m.first && code <= m.last)
            return m.prefix;
    return "?\?\?-";
}

std::string hexText(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string namePrefix(int code, const DecodeRules& rules) {
    std::string prefix = ModelTable(code);
    for (const auto& line : rules.modelLines)
        if (decimalOr(cut(line, 1, 3), 999) == code)
            prefix = std::string(displayText(line));
    if (rules.testMode == "1")
        prefix = ZeroPad(code, 3) + "-";
    return prefix;
}

bool replyAccepted(std::string_view hex) {
    return cut(hex, 1, 6) == "008000" && decimalOr(hexByte(hex, 3), 0) < 3;
}

std::string macText(std::string_view hex) {
    std::string mac;
    for (int k = 14; k < 20; ++k) {
        if (k > 14)
            mac += ':';
        mac += hexByte(hex, k);
    }
    return mac;
}

int replyModel(std::string_view hex) { return byteValue(hex, 6); }

std::string uptimeText(std::int32_t seconds) {
    return ZeroPad(seconds / 3600, 5) + ":" + ZeroPad(seconds % 3600 / 60, 2) + ":" +
           ZeroPad(seconds % 60, 2);
}

DeviceEntry decodeReply(std::string_view hex, int number, const DecodeRules& rules) {
    DeviceEntry e;
    e.number = " " + std::to_string(number);
    e.mac = macText(hex);
    e.name = namePrefix(byteValue(hex, 6), rules);
    for (int k = 20; k < 24; ++k)
        e.name += static_cast<char>(byteValue(hex, k));
    for (int k = 8; k < 12; ++k)
        e.ip += (k > 8 ? "." : "") + ZeroPad(byteValue(hex, k), 3);
    e.version = std::to_string(byteValue(hex, 24)) + "." + ZeroPad(byteValue(hex, 25), 2) +
                static_cast<char>(byteValue(hex, 26)) + " ";
    for (int k = 27; k < 30; ++k)
        e.version += ZeroPad(byteValue(hex, k), 2);
    e.uptime = uptimeText(HexToInt(cut(hex, 63, 8)));
    return e;
}

bool MacIndex::listed(const DeviceGrid& grid, int foundCount, const std::string& mac) {
    if (count_ != foundCount)
        rebuild(grid, foundCount);
    auto it = rows_.find(mac);
    if (it == rows_.end())
        return false;
    if (it->second < grid.rowCount() && grid.cell(3, it->second) == mac)
        return true;
    rebuild(grid, foundCount);
    return rows_.count(mac) > 0;
}

void MacIndex::add(const std::string& mac, int row) {
    rows_.emplace(mac, row);
    ++count_;
}

void MacIndex::clear() {
    rows_.clear();
    count_ = 0;
}

void MacIndex::rebuild(const DeviceGrid& grid, int foundCount) {
    rows_.clear();
    for (int row = 1; row <= foundCount && row < grid.rowCount(); ++row)
        rows_.emplace(grid.cell(3, row), row);
    count_ = foundCount;
}

void clearRows(DeviceGrid& grid, int& foundCount, MacIndex& index) {
    for (int row = 1; row < grid.rowCount(); ++row)
        for (int c = 0; c < DeviceGrid::kColumns; ++c)
            grid.setCell(c, row, {});
    foundCount = 0;
    index.clear();
}

int addReply(DeviceGrid& grid, int& foundCount, std::string_view hex, const DecodeRules& rules,
             MacIndex* index) {
    if (!replyAccepted(hex))
        return 0;
    const std::string mac = macText(hex);
    if (index) {
        if (index->listed(grid, foundCount, mac))
            return 0;
    } else {
        for (int row = 1; row <= foundCount && row < grid.rowCount(); ++row)
            if (grid.cell(3, row) == mac)
                return 0;
    }
    ++foundCount;
    if (foundCount > 10 || foundCount >= grid.rowCount())
        grid.setRowCount(std::max(grid.rowCount() + 1, foundCount + 1));
    DeviceEntry e = decodeReply(hex, foundCount, rules);
    const int row = foundCount;
    grid.setCell(3, row, e.mac);
    grid.setCell(0, row, e.number);
    grid.setCell(1, row, e.name);
    grid.setCell(2, row, e.ip);
    grid.setCell(4, row, e.version);
    grid.setCell(5, row, e.uptime);
    if (index)
        index->add(mac, row);
    return row;
}
