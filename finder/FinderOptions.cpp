#include "FinderOptions.h"

#include <algorithm>

#include "LocalAddress.h"

namespace {

bool oneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return value == a; });
}

// Takes an option's value into the options; "" when it is good, else what it needs.
using Apply = std::string (*)(const std::string& value, FinderOptions& o);

struct OptionRow {
    const char* name;
    const char* value;  // the value's placeholder in the usage; null: the option takes none
    const char* help;   // lines after the first start with '\n'
    Apply apply;
};

constexpr OptionRow kOptions[] = {
    {"--address", "A.B.C.D",
     "search the network of this local address (A.B.C.255);\nmay be given several times",
     [](const std::string& v, FinderOptions& o) -> std::string {
         if (!isDottedQuad(v))
             return "needs an IPv4 address A.B.C.D";
         o.addresses.push_back(v);
         return {};
     }},
    {"--all-networks", nullptr,
     "search every network at its own broadcast address\n(also [system] networks=all in the settings file)",
     [](const std::string&, FinderOptions& o) -> std::string {
         o.allNetworks = true;
         return {};
     }},
    {"--probe", "ADDRESS[/NN]",
     "also ask this address by unicast (appliances behind a\nrouter); /NN from 22 to 32 asks every host of the range;\n"
     "may be given several times (also [system] probe=)",
     [](const std::string& v, FinderOptions& o) -> std::string {
         ProbeRange r;
         std::string error = parseProbe(v, r);
         if (error.empty())
             o.probes.push_back(r);
         return error;
     }},
    {"--scan", nullptr,
     "search once without a window, print the table and exit:\n0 appliances found, 1 none answered, 2 an error",
     [](const std::string&, FinderOptions& o) -> std::string {
         if (o.action == FinderOptions::Action::Window)
             o.action = FinderOptions::Action::Scan;
         return {};
     }},
    {"--format", "FORMAT", "scan output: table (default), csv or json",
     [](const std::string& v, FinderOptions& o) -> std::string {
         if (!oneOf(v, {"table", "csv", "json"}))
             return "needs table, csv or json";
         o.format = v;
         return {};
     }},
    {"--sort", "KEY", "scan order: uptime, ip or name (default: the settings file's)",
     [](const std::string& v, FinderOptions& o) -> std::string {
         if (!oneOf(v, {"uptime", "ip", "name"}))
             return "needs uptime, ip or name";
         o.sort = v;
         return {};
     }},
    {"--watch", "SECONDS",
     "with --scan: search again every SECONDS (5 to 86400) and\nprint each change (appeared, gone, rebooted, moved,\n"
     "renamed) as it is seen, until SIGINT or SIGTERM",
     [](const std::string& v, FinderOptions& o) -> std::string {
         const bool digits = !v.empty() && v.size() <= 5 && v.find_first_not_of("0123456789") == std::string::npos;
         const int seconds = digits ? std::stoi(v) : 0;
         if (seconds < FinderOptions::kWatchMin || seconds > FinderOptions::kWatchMax)
             return "needs a number of seconds from " + std::to_string(FinderOptions::kWatchMin) + " to " +
                    std::to_string(FinderOptions::kWatchMax);
         o.watchSeconds = seconds;
         return {};
     }},
    {"--help", nullptr, "show this text and exit",
     [](const std::string&, FinderOptions& o) -> std::string {
         o.action = FinderOptions::Action::Help;
         return {};
     }},
    {"--version", nullptr, "show the version and exit",
     [](const std::string&, FinderOptions& o) -> std::string {
         if (o.action != FinderOptions::Action::Help)
             o.action = FinderOptions::Action::Version;
         return {};
     }},
};

constexpr std::size_t kHelpColumn = 24;

const OptionRow* rowFor(const std::string& name) {
    const std::string full = name == "-h" ? "--help" : name;
    const auto row = std::find_if(std::begin(kOptions), std::end(kOptions),
                                  [&](const OptionRow& r) { return full == r.name; });
    return row == std::end(kOptions) ? nullptr : row;
}

}  // namespace

std::string finderUsage() {
    std::string out = "Usage: qlxsearch [options]\n"
                      "Finds the appliances on the local network.\n"
                      "\n";
    for (const auto& row : kOptions) {
        std::string head = std::string("  ") + row.name + (row.value ? std::string(" ") + row.value : "");
        head += std::string(head.size() + 2 <= kHelpColumn ? kHelpColumn - head.size() : 2, ' ');
        out += head;
        for (const char* c = row.help; *c; ++c)
            out += *c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *c);
        out += '\n';
    }
    return out;
}

FinderOptions parseFinderOptions(const std::vector<std::string>& args) {
    FinderOptions c;
    auto fail = [&](std::string message) {
        c.action = FinderOptions::Action::Error;
        c.error = "qlxsearch: " + std::move(message);
        return c;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i], value;
        bool inlineValue = false;
        if (auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            inlineValue = true;
        }
        const OptionRow* row = rowFor(option);
        if (!row)
            return fail("unknown option " + option);
        if (!row->value && inlineValue)
            return fail(option + " takes no value");
        if (row->value && !inlineValue && i + 1 < args.size())
            value = args[++i];
        if (std::string wrong = row->apply(value, c); !wrong.empty())
            return fail(option + " " + wrong);
    }
    if (c.watchSeconds > 0 && c.action == FinderOptions::Action::Window)
        return fail("--watch works only with --scan");
    return c;
}
