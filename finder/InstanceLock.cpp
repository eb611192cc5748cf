#include "InstanceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string InstanceLock::pathFor(const std::string& name, unsigned uid, const Env& env) {
    for (const char* var : {"QLX_LOCK_DIR", "XDG_RUNTIME_DIR"})
        if (const char* dir = env(var); dir && *dir)
            return std::string(dir) + "/" + name + ".lock";
    return "/tmp/" + name + "-" + std::to_string(uid) + ".lock";
}

InstanceLock::InstanceLock(const std::string& name)
    : path_(pathFor(name, ::geteuid(), [](const char* v) { return std::getenv(v); })) {
    // No link is followed and no mode is changed: the file is ours, 0600, or not used.
    // Non-blocking, so a fifo planted at the path cannot hold the start up.
    // Close-on-exec: a program the finder starts must not keep the lock alive.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    std::string problem;
    struct stat st {};
    if (fd < 0)
        problem = std::strerror(errno);
    else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        problem = "not a regular file";
    else if (st.st_uid != ::geteuid())
        problem = "owned by another user";
    if (!problem.empty()) {
        if (fd >= 0)
            ::close(fd);
        // A lock file we cannot trust must not keep the finder from starting.
        std::fprintf(stderr, "qlxsearch: lock file %s: %s; starting without the single-instance guard\n",
                     path_.c_str(), problem.c_str());
        return;
    }
    fd_ = fd;
    acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
