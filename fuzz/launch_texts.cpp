// Any text through DigitsOnly and the launch texts: the web address, the utility's
// parameters and how they split into arguments.
#include <climits>

#include "Launch.h"
#include "Settings.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Plain dotted decimal: four parts of digits (a leading "-" allowed) joined by dots.
bool plainDotted(std::string_view s) {
    int parts = 0;
    std::size_t pos = 0;
    while (parts < 5) {
        std::size_t dot = s.find('.', pos);
        std::string_view part = s.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        if (!part.empty() && part.front() == '-') part.remove_prefix(1);
        if (part.empty() || part.size() > 10 || part.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        if (part.size() > 1 && part.front() == '0') return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        pos = dot + 1;
    }
    return parts == 4;
}

}  // namespace

// Input: length-prefixed text and port, then four octets for the table form.
std::string launchTexts(std::string_view bytes) {
    Input in(bytes);
    const std::string_view text = in.sized();
    const std::string_view port = in.sized();
    const std::string_view octets = in.take(4);

    // DigitsOnly keeps the digits of the first 255 bytes before any NUL or CR, in order.
    const std::string digits = DigitsOnly(text);
    std::string want;
    for (std::size_t i = 0; i < text.size() && i < 255 && text[i] != '\r' && text[i] != '\0'; ++i)
        if (digit(text[i])) want += text[i];
    if (digits != want) return "DigitsOnly gives " + shown(digits) + " for " + shown(text);

    const std::string ip = NormalizeIp(text);
    if (!plainDotted(ip)) return "NormalizeIp gives " + shown(ip) + " for " + shown(text);
    if (NormalizeIp(ip) != ip) return "NormalizeIp of its own result changes it: " + shown(ip);

    const std::string url = webAddress(text, port);
    if (url != "http://" + ip + (port.empty() ? "" : ":" + std::string(port)))
        return "web address " + shown(url) + " for " + shown(text) + ", port " + shown(port);

    const std::string params = utilityParameters(text, port);
    if (params != ip + (port.empty() ? "" : " " + std::string(port)))
        return "utility parameters " + shown(params);
    const auto args = splitArguments(params);
    if (port.find(' ') == std::string_view::npos && !port.empty()) {
        if (args.size() != 2 || args[0] != ip || args[1] != port) return "parameters split wrongly: " + shown(params);
    }
    for (const auto& a : args)
        if (a.empty() || a.find(' ') != std::string::npos) return "an argument is empty or holds a blank";

    // The table's three-digit form comes back as plain decimal.
    if (octets.size() == 4) {
        std::string table, plain;
        for (int i = 0; i < 4; ++i) {
            const auto o = static_cast<unsigned char>(octets[i]);
            std::string d = std::to_string(o);
            table += (i ? "." : "") + std::string(3 - d.size(), '0') + d;
            plain += (i ? "." : "") + d;
        }
        if (NormalizeIp(table) != plain) return "NormalizeIp(" + table + ") is " + NormalizeIp(table);
    }
    return "";
}

}  // namespace fuzzprops
