#include "Probes.h"

#include <unordered_set>

#include "LocalAddress.h"

namespace {

std::uint32_t octetsOf(const std::string& dotted) {
    std::uint32_t value = 0;
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint32_t part = 0;
        while (at < dotted.size() && dotted[at] != '.')
            part = part * 10 + static_cast<std::uint32_t>(dotted[at++] - '0');
        ++at;
        value = value << 8 | part;
    }
    return value;
}

std::string dottedOf(std::uint32_t v) {
    return std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." + std::to_string(v >> 8 & 255) +
           "." + std::to_string(v & 255);
}

// Requests go to one host each: this network (0/8), multicast and the reserved block
// with the limited broadcast address (224/3) name none.
bool unicast(std::uint32_t a) { return a >> 24 != 0 && a >> 29 != 7; }

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::string parseProbe(const std::string& text, ProbeRange& out) {
    const std::string what = "needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 to 32";
    const auto slash = text.find('/');
    const std::string address = text.substr(0, slash);
    if (!isDottedQuad(address))
        return what;
    int prefix = 32;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return what;
        prefix = std::stoi(digits);
        if (prefix < kProbeMinPrefix || prefix > 32)
            return what;
    }
    const std::uint32_t size = 1u << (32 - prefix);
    const std::uint32_t network = octetsOf(address) & ~(size - 1);
    ProbeRange r{text, network, size};
    if (prefix <= 30) {
        r.first = network + 1;
        r.count = size - 2;
    }
    for (std::uint32_t a : {r.first, r.first + r.count - 1})
        if (!unicast(a))
            return "needs unicast addresses (" + dottedOf(a) + " is none)";
    out = r;
    return {};
}

std::string parseProbeList(const std::string& list, std::vector<ProbeRange>& out) {
    std::size_t at = 0;
    while (at <= list.size()) {
        const auto comma = list.find(',', at);
        const std::string entry = trimmed(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (!entry.empty()) {
            ProbeRange r;
            if (std::string error = parseProbe(entry, r); !error.empty())
                return error + ": " + entry;
            out.push_back(r);
        }
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return {};
}

std::vector<std::string> probeAddresses(const std::vector<ProbeRange>& ranges) {
    std::vector<std::string> out;
    std::unordered_set<std::uint32_t> seen;
    for (const auto& r : ranges)
        for (std::uint32_t i = 0; i < r.count; ++i)
            if (seen.insert(r.first + i).second)
                out.push_back(dottedOf(r.first + i));
    return out;
}
