#pragma once
// The test process's children that have not been reaped yet, running or ended: a launch
// that is fully done (its end seen and reaped) is no longer among them.
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

inline std::vector<int> unreapedChildren() {
    std::vector<int> pids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "children");
        for (int pid; in >> pid;)
            pids.push_back(pid);
    }
    return pids;
}

// True when every child not in `before` has been reaped.
inline bool reapedAllBut(const std::vector<int>& before) {
    const std::set<int> old(before.begin(), before.end());
    for (int pid : unreapedChildren())
        if (!old.count(pid))
            return false;
    return true;
}
