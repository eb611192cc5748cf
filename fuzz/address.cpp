// Any text through the address splitting that feeds the request and its broadcast host.
#include <arpa/inet.h>
#include <climits>

#include "Discovery.h"
#include "LocalAddress.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

// Leading blanks, a sign and decimal digits that fit 32 bits; anything else is 0.
long long decimalPart(std::string_view s) {
    std::size_t i = s.find_first_not_of(' ');
    if (i == std::string_view::npos) return 0;
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
    if (i == s.size()) return 0;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    v = negative ? -v : v;
    return v < INT_MIN || v > INT_MAX ? 0 : v;
}

}  // namespace

// Input: the dotted text itself.
std::string address(std::string_view text) {
    const Octets o = splitOctets(text);
    std::string_view rest = text;
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = i < 3 ? rest.find('.') : std::string_view::npos;
        const long long want = decimalPart(rest.substr(0, dot));
        if (o[i] != want)
            return "octet " + std::to_string(i) + " of " + shown(text) + " is " + std::to_string(o[i]) +
                   ", not " + std::to_string(want);
        rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    }

    const auto request = discoveryRequest(o);
    unsigned sum = 0;
    for (int i = 0; i < 32; ++i) sum += i == 5 ? 0 : request[i];
    if (request[5] != (sum & 0xFF)) return "request checksum wrong for " + shown(text);
    for (int i = 0; i < 4; ++i)
        if (request[8 + i] != (o[i] & 0xFF)) return "request address byte wrong for " + shown(text);

    // A dotted quad as the command line takes it: its octets and its /24 broadcast text.
    const std::string s(text);
    in_addr a{};
    if (s.find('\0') == std::string::npos && isDottedQuad(s) && ::inet_pton(AF_INET, s.c_str(), &a) == 1) {
        const auto* b = reinterpret_cast<const unsigned char*>(&a.s_addr);
        for (int i = 0; i < 4; ++i)
            if (o[i] != b[i]) return "dotted quad " + shown(text) + " split wrongly";
        const std::string host = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                                 std::to_string(b[2]) + ".255";
        if (broadcastHost(o) != host) return "broadcast host " + broadcastHost(o) + " for " + shown(text);
    }
    return "";
}

}  // namespace fuzzprops
