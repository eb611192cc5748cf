#pragma once
// One finder at a time: an exclusive lock on a named file. The kernel drops the lock
// with the process, however it ends (kill -9 included), so no stale lock survives.
#include <string>

class InstanceLock {
public:
    // Folder: $QLX_LOCK_DIR when set (tests), else /tmp.
    explicit InstanceLock(const std::string& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock.
    bool acquired() const { return acquired_; }

private:
    int fd_ = -1;
    bool acquired_ = false;
};
