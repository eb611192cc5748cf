// Output for the shell: nothing is reported as written that was not, and an empty text is
// no write at all (ScriptBatch's end and a scan of nothing call it so).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "stdoutput.h"

namespace {

// stdout on another file for the length of one check; gtest's own output is put back.
struct StdoutOn {
    explicit StdoutOn(const char* path) {
        std::fflush(stdout);
        saved = ::dup(1);
        const int fd = ::open(path, O_WRONLY);
        ::dup2(fd, 1);
        ::close(fd);
    }
    ~StdoutOn() {
        std::clearerr(stdout);
        std::fflush(stdout);
        std::clearerr(stdout);
        ::dup2(saved, 1);
        ::close(saved);
    }
    int saved;
};

}  // namespace

TEST(StdOutput, EmptyTextSucceedsAndTextThatCannotGoFails) {
    {
        StdoutOn null("/dev/null");
        EXPECT_TRUE(stdoutput::write({}));
        EXPECT_TRUE(stdoutput::write(std::string_view()));
        EXPECT_TRUE(stdoutput::write("line\n"));
    }
    {
        StdoutOn full("/dev/full");
        EXPECT_TRUE(stdoutput::write({}));
        errno = 0;
        EXPECT_FALSE(stdoutput::write("line\n"));
        EXPECT_EQ(errno, ENOSPC);
    }
}
