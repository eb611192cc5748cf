#pragma once
// Appliances behind a router, named by address: broadcasts do not cross routers, so the
// request goes to each named address by unicast. Plain C++.
#include <cstdint>
#include <string>
#include <vector>

// One probe as given: an address, or a range ADDRESS/NN.
struct ProbeRange {
    std::string text;         // as given, for messages ("10.2.0.0/24")
    std::uint32_t first = 0;  // host order
    std::uint32_t count = 0;  // addresses probed
};

constexpr int kProbeMinPrefix = 22;  // at most 1,024 addresses a range

// "A.B.C.D" or "A.B.C.D/NN" (NN 22 to 32; the address is taken within its network).
// A range of NN 30 or less leaves out its network's first and last address, which
// are no hosts. Returns what is wrong with the text ("needs ..."), or "" when `out` is set.
std::string parseProbe(const std::string& text, ProbeRange& out);

// A comma-separated list ("[system] probe=" of the settings file); blanks around an
// entry and empty entries are ignored. The error ("needs ...: ENTRY") names the first bad one.
std::string parseProbeList(const std::string& list, std::vector<ProbeRange>& out);

// Every address of the ranges, dotted, in the order given, each once.
std::vector<std::string> probeAddresses(const std::vector<ProbeRange>& ranges);
