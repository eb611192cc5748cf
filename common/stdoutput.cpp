#include "stdoutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace stdoutput {

bool write(std::string_view text) {
    errno = 0;
    // An empty view may hold no pointer at all, which fwrite must not be given.
    const bool whole = text.empty() || std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    const int writeErr = errno;
    const bool flushed = std::fflush(stdout) == 0;
    if (!whole && writeErr != 0)
        errno = writeErr;  // the first failure says why, not the flush after it
    else if (!flushed && errno == 0)
        errno = EIO;
    return whole && flushed && !std::ferror(stdout);
}

int failed(const char* program, int err) {
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
                 std::strerror(err != 0 ? err : EIO));
    return 2;
}

int print(const char* program, std::string_view text) {
    return write(text) ? 0 : failed(program, errno);
}

void holdClosedStreams() {
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // The lowest free number is this one.
            const int held = ::open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd)
                ::close(held);
        }
}

}  // namespace stdoutput
