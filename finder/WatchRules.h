#pragma once
// What changed between the runs of a watch: appliances that came, went, rebooted, moved
// or were renamed. Plain C++; the clock is given, so the rules can be tested to the second.
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ScanOutput.h"

struct WatchEvent {
    enum class Kind { Appeared, Gone, Rebooted, Moved, Renamed };
    Kind kind = Kind::Appeared;
    ScanRow row;       // as seen in this run; for Gone, as last seen
    ScanRow previous;  // Rebooted, Moved, Renamed: as seen before
};

// "appeared", "gone", "rebooted", "moved", "renamed".
const char* eventName(WatchEvent::Kind kind);

class WatchRules {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // An appliance missing from this many runs in a row is gone.
    static constexpr int kMissesForGone = 2;
    // A running time may lag the clock by this much (late replies, rounding) without
    // counting as a reboot.
    static constexpr long long kRebootToleranceSeconds = 10;

    explicit WatchRules(Clock clock) : clock_(std::move(clock)) {}

    // One run's appliances, each MAC once, in the order their events are to come. Returns
    // the changes, read against the clock now: for each appliance of the run in its order
    // Appeared, or Rebooted, Moved and Renamed as they apply; then Gone, by MAC. The first
    // run gives every appliance as Appeared, and one that comes back after Gone appears
    // again.
    std::vector<WatchEvent> runEnded(const std::vector<ScanRow>& seen);

private:
    struct Known {
        ScanRow row;  // as last seen
        std::chrono::steady_clock::time_point seenAt;
        int misses = 0;  // runs in a row without it
    };
    Clock clock_;
    std::map<std::string, Known> known_;  // by MAC
};
