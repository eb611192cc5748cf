// The qterm program as the finder starts it: its exit status and what it says on stderr.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "LoopbackServer.h"

namespace {

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs qterm offscreen with the given arguments; stderr is collected.
Outcome runQterm(const std::vector<std::string>& args) {
    char dir[] = "/tmp/qterm-prog-XXXXXX";
    if (!::mkdtemp(dir))
        return {};
    const std::string errPath = std::string(dir) + "/stderr";
    // The test's own environment (sanitizer options included), with the display settled.
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", std::string("XDG_RUNTIME_DIR=") + dir,
                                    "QT_LOGGING_RULES=*.warning=false"};
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("XDG_RUNTIME_DIR=", 0) != 0 &&
            v.rfind("QT_LOGGING_RULES=", 0) != 0)
            env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = QTERM_PATH;
    std::vector<std::string> argStore{path};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Outcome o;
    if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data()) == 0) {
        int st = 0;
        ::waitpid(pid, &st, 0);
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    FILE* f = std::fopen(errPath.c_str(), "r");
    if (f) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            o.err.append(buf, n);
        std::fclose(f);
    }
    ::unlink(errPath.c_str());
    ::rmdir(dir);
    return o;
}

} // namespace

// A failed start-up connect shows no window and no message box, but the caller learns
// of it: exit status 1 and one line on stderr.
TEST(QtermProgram, FailedConnectExitsNonZeroWithOneLine) {
    Outcome o = runQterm({"127.0.0.1", std::to_string(UnusedPort())});
    EXPECT_EQ(o.status, 1);
    ASSERT_FALSE(o.err.empty());
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
    EXPECT_NE(o.err.find("server not responding"), std::string::npos) << o.err;
}

// The host closing the connection ends the program normally.
TEST(QtermProgram, PeerCloseEndsTheProgram) {
    LoopbackServer server([](int fd) { SendAll(fd, "welcome\r\n"); });
    Outcome o = runQterm({"127.0.0.1", std::to_string(server.Port())});
    EXPECT_EQ(o.status, 0) << o.err;
}
