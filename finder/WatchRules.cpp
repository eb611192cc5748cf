#include "WatchRules.h"

#include <set>

const char* eventName(WatchEvent::Kind kind) {
    switch (kind) {
    case WatchEvent::Kind::Appeared: return "appeared";
    case WatchEvent::Kind::Gone: return "gone";
    case WatchEvent::Kind::Rebooted: return "rebooted";
    case WatchEvent::Kind::Moved: return "moved";
    case WatchEvent::Kind::Renamed: return "renamed";
    }
    return "";
}

std::vector<WatchEvent> WatchRules::runEnded(const std::vector<ScanRow>& seen) {
    using Kind = WatchEvent::Kind;
    const auto now = clock_();
    std::vector<WatchEvent> events;
    std::set<std::string> here;
    for (const ScanRow& row : seen) {
        if (!here.insert(row.mac).second)
            continue;
        auto k = known_.find(row.mac);
        if (k == known_.end()) {
            events.push_back({Kind::Appeared, row, {}});
            known_[row.mac] = {row, now, 0};
            continue;
        }
        const ScanRow before = k->second.row;
        // Whole seconds since it was last seen: the running time counts whole seconds too.
        const long long since = std::chrono::duration_cast<std::chrono::seconds>(now - k->second.seenAt).count();
        if (row.uptimeSeconds < before.uptimeSeconds + since - kRebootToleranceSeconds)
            events.push_back({Kind::Rebooted, row, before});
        if (row.ip != before.ip)
            events.push_back({Kind::Moved, row, before});
        if (row.name != before.name || row.version != before.version)
            events.push_back({Kind::Renamed, row, before});
        k->second = {row, now, 0};
    }
    for (auto k = known_.begin(); k != known_.end();) {
        if (here.count(k->first) || ++k->second.misses < kMissesForGone) {
            ++k;
            continue;
        }
        events.push_back({Kind::Gone, k->second.row, {}});
        k = known_.erase(k);
    }
    return events;
}
