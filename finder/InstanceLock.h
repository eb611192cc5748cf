#pragma once
// One finder at a time for each user: an exclusive lock on a file of the user's own.
// The kernel drops the lock with the process, however it ends (kill -9 included), so
// no stale lock survives.
#include <functional>
#include <string>

class InstanceLock {
public:
    using Env = std::function<const char*(const char* name)>;

    // $QLX_LOCK_DIR/<name>.lock when set (tests), else $XDG_RUNTIME_DIR/<name>.lock,
    // else /tmp/<name>-<uid>.lock.
    static std::string pathFor(const std::string& name, unsigned uid, const Env& env);

    explicit InstanceLock(const std::string& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another finder of this user holds the lock.
    bool acquired() const { return acquired_; }
    // False when the lock file could not be used (a link, a fifo, a folder, another
    // user's file, no access): the finder then runs without the guard, as stderr says.
    bool guarded() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    bool acquired_ = true;
};
