#include "InstanceLock.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceLock::InstanceLock(const std::string& name) {
    const char* dir = std::getenv("QLX_LOCK_DIR");
    const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/" + name + ".lock";
    // Close-on-exec: a program the finder starts must not keep the lock alive.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        // A lock file we cannot open must not keep the finder from starting.
        acquired_ = true;
        return;
    }
    ::fchmod(fd_, 0666);  // other users' finders share the one lock
    acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
