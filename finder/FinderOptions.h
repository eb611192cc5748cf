#pragma once
// The finder's command line, read before anything else is made (no display, no lock).
// One table of options gives both the parsing and the usage text. Plain C++.
#include <string>
#include <vector>

#include "Probes.h"

struct FinderOptions {
    static constexpr int kWatchMin = 5, kWatchMax = 86400;
    enum class Action { Window, Scan, Help, Version, Error };
    Action action = Action::Window;
    std::vector<std::string> addresses;  // --address, in the order given
    bool allNetworks = false;
    std::vector<ProbeRange> probes;      // --probe, in the order given
    std::string format = "table";        // table | csv | json
    std::string sort;                    // uptime | ip | name; empty: the settings file's key
    int watchSeconds = 0;                // --watch: a run every so many seconds; 0: one run
    std::string error;                   // one line, when action is Error
};

FinderOptions parseFinderOptions(const std::vector<std::string>& args);
std::string finderUsage();
