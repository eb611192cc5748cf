// Any arguments through qterm's command line and its port conversion.
#include <algorithm>
#include <climits>
#include <vector>

#include "CommandLine.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

// An optional sign and decimal digits between blanks, when the value fits 32 bits.
bool integerText(std::string_view s, long long& value) {
    std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    if (b == std::string_view::npos) return false;
    s = s.substr(b, e - b + 1);
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 10) return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return value >= INT_MIN && value <= INT_MAX;
}

}  // namespace

// Input: up to four arguments, each ended by a NUL byte.
std::string commandLine(std::string_view bytes) {
    Input in(bytes);
    std::vector<std::string> args;
    while (!in.empty() && args.size() < 4) args.emplace_back(in.until('\0'));

    const CommandLine cl = parseCommandLine(args);
    const QtermArgs& a = cl.args;
    if (cl.action == CommandLine::Action::UsageError && cl.error.empty()) return "a usage error without a reason";
    if (cl.action == CommandLine::Action::Run) {
        if (a.port < 1 || a.port > 65535) return "port " + std::to_string(a.port) + " out of range";
        if (!a.host.empty() && std::find(args.begin(), args.end(), a.host) == args.end())
            return "host " + shown(a.host) + " is none of the arguments";
        if (a.connectTimeoutSeconds < 1 || a.connectTimeoutSeconds > 2147483)
            return "connect limit " + std::to_string(a.connectTimeoutSeconds) + " s out of range";
    }
    // Without options the first argument is the host and the second the port.
    const bool plainOnly =
        std::none_of(args.begin(), args.end(), [](const std::string& s) { return !s.empty() && s[0] == '-'; });
    if (plainOnly) {
        const std::string host = args.empty() ? "" : args[0];
        if (cl.action != CommandLine::Action::Run) return "plain arguments refused: " + cl.error;
        if (a.host != host) return "host " + shown(a.host) + " for " + shown(host);
        if ((host.empty() || args.size() < 2 || args[1].empty()) && a.port != 23)
            return "port " + std::to_string(a.port) + " without a port argument";
    }

    for (const std::string& text : args) {
        const int port = portFromText(text);
        long long v = 0;
        const bool number = integerText(text, v);
        if (number && port != (v < 1 ? 1 : v > 65535 ? 65535 : v))
            return "port " + std::to_string(port) + " for " + shown(text);
        if (!number && text.find_first_not_of(" \t+-0123456789") != std::string::npos && port != 23)
            return "port " + std::to_string(port) + " for the non-number " + shown(text);
        if (portFromText(" " + text + "\t") != port) return "blanks around " + shown(text) + " change the port";
    }
    return "";
}

}  // namespace fuzzprops
