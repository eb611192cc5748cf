#include "CommandLine.h"

#include <charconv>

int portFromText(const std::string& text) {
    // Leading and trailing blanks are tolerated, as the integer conversion of the field does.
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos)
        return 23;
    const char* first = text.data() + b;
    const char* last = text.data() + e + 1;
    if (*first == '+' && last - first > 1)
        ++first;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        return 23;
    return value < 1 ? 1 : value > 65535 ? 65535 : value;
}

namespace {

// Seconds as a positive integer whose milliseconds still fit an int.
int timeoutFromText(const std::string& text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 2147483)
        throw QtermUsageError("--connect-timeout needs a whole number of seconds from 1 to 2147483");
    return value;
}

} // namespace

QtermArgs parseQtermArgs(const std::vector<std::string>& all) {
    QtermArgs a;
    std::vector<std::string> args;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] != "--connect-timeout") {
            args.push_back(all[i]);
            continue;
        }
        a.connectTimeoutSeconds = timeoutFromText(i + 1 < all.size() ? all[++i] : std::string());
    }
    if (args.empty() || args[0].empty())
        return a;
    a.host = args[0];
    if (args.size() > 1 && !args[1].empty())
        a.port = portFromText(args[1]);
    return a;
}
