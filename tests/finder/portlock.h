#pragma once
// Tests that bind the finder's fixed UDP ports (9010, 15580) take this lock, so that
// parallel test processes in one network namespace do not steal each other's datagrams.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

class PortLock {
public:
    PortLock() {
        fd_ = ::open("/tmp/qlx-finder-ports.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~PortLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

private:
    int fd_ = -1;
};
