#pragma once
// Simulated appliances read from a file each time a request is answered, so that a test,
// or a person trying the watch, changes them between runs by rewriting the file.
//
// One appliance a line, fields separated by blanks, '#' starts a comment:
//     MAC IP NAME UPTIME [MODEL]
//     00:80:45:00:00:01 127.0.1.1 AS00 3600 1
// NAME is the four name bytes (fewer are filled with blanks). UPTIME is the running time
// in seconds when that value is first read; from then on it counts up with the clock, so
// a line left as it is keeps running, and a new lower value is a reboot. Lines that do
// not parse are passed over; a missing file is no appliances.
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "ApplianceSim.h"

class ApplianceFile {
public:
    // `defaults` gives what the file does not: delay, repeats.
    explicit ApplianceFile(std::string path, Appliance defaults = {});

    std::vector<Appliance> read(std::chrono::steady_clock::time_point now);

private:
    struct Running {
        long long value;  // UPTIME as the file gives it
        std::chrono::steady_clock::time_point since;
    };
    std::string path_;
    Appliance defaults_;
    std::map<std::array<std::uint8_t, 6>, Running> running_;  // by MAC
};

// One line as an appliance; false when it is no appliance line.
bool parseApplianceLine(const std::string& line, Appliance& a, long long& uptime);
