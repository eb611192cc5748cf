#include "FinderOptions.h"

#include <algorithm>

#include "LocalAddress.h"

namespace {

bool oneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return value == a; });
}

}  // namespace

std::string finderUsage() {
    return "Usage: qlxsearch [options]\n"
           "Finds the appliances on the local network.\n"
           "\n"
           "  --address A.B.C.D   search the network of this local address (A.B.C.255);\n"
           "                      may be given several times\n"
           "  --all-networks      search every network at its own broadcast address\n"
           "                      (also [system] networks=all in the settings file)\n"
           "  --scan              search once without a window, print the table and exit:\n"
           "                      0 appliances found, 1 none answered, 2 an error\n"
           "  --format FORMAT     scan output: table (default), csv or json\n"
           "  --sort KEY          scan order: uptime, ip or name (default: the settings file's)\n"
           "  --help              show this text and exit\n"
           "  --version           show the version and exit\n";
}

FinderOptions parseFinderOptions(const std::vector<std::string>& args) {
    FinderOptions c;
    auto fail = [&](std::string message, bool usage = false) {
        c.action = FinderOptions::Action::Error;
        c.error = std::move(message);
        c.showUsage = usage;
        return c;
    };
    bool scan = false, help = false, version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i], value;
        bool inlineValue = false;
        if (auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option.resize(eq);
            inlineValue = true;
        }
        const bool takesValue = oneOf(option, {"--address", "--format", "--sort"});
        if (takesValue && !inlineValue) {
            if (i + 1 < args.size())
                value = args[++i];
            else
                value.clear();
        }
        if (!takesValue && inlineValue)
            return fail("qlxsearch: " + option + " takes no value", true);
        if (option == "--address") {
            if (!isDottedQuad(value))
                return fail("qlxsearch: --address needs an IPv4 address A.B.C.D");
            c.addresses.push_back(value);
        } else if (option == "--format") {
            if (!oneOf(value, {"table", "csv", "json"}))
                return fail("qlxsearch: --format needs table, csv or json");
            c.format = value;
        } else if (option == "--sort") {
            if (!oneOf(value, {"uptime", "ip", "name"}))
                return fail("qlxsearch: --sort needs uptime, ip or name");
            c.sort = value;
        } else if (option == "--all-networks") {
            c.allNetworks = true;
        } else if (option == "--scan") {
            scan = true;
        } else if (option == "--help" || option == "-h") {
            help = true;
        } else if (option == "--version") {
            version = true;
        } else {
            return fail("qlxsearch: unknown option " + option, true);
        }
    }
    c.action = help      ? FinderOptions::Action::Help
               : version ? FinderOptions::Action::Version
               : scan    ? FinderOptions::Action::Scan
                         : FinderOptions::Action::Window;
    return c;
}
