// The built qterm program: its options without any display, and its session log when the
// process is killed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "../finder/files.h"  // whole-file reads
#include "version.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// One run of qterm with stdout and stderr in files of a private folder.
class QtermRun {
public:
    // Where stdout goes: a file of the private folder, /dev/full, or nowhere (closed).
    enum class Out { File, Full, Closed };
    // display: false removes every display setting, so Qt could not start at all.
    // prepare: runs on the private folder before the start (its "config" is XDG_CONFIG_HOME).
    QtermRun(const std::vector<std::string>& args, bool display, Out out = Out::File,
             const std::function<void(const fs::path&)>& prepare = nullptr) {
        char t[] = "/tmp/qterm-run-XXXXXX";
        dir_ = ::mkdtemp(t);
        if (prepare)
            prepare(dir_);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            bool drop = false;
            for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=",
                                     "XDG_CONFIG_HOME="})
                drop |= v.rfind(name, 0) == 0;
            if (!drop)
                env.push_back(v);
        }
        env.push_back("XDG_CONFIG_HOME=" + (dir_ / "config").string());  // no settings file
        if (display) {
            env.push_back("QT_QPA_PLATFORM=offscreen");
            env.push_back("XDG_RUNTIME_DIR=" + dir_.string());
            env.push_back("QT_LOGGING_RULES=*.warning=false");
        }
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argStore{QTERM_PATH};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        switch (out) {
        case Out::File:
            posix_spawn_file_actions_addopen(&fa, 1, (dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            break;
        case Out::Full: posix_spawn_file_actions_addopen(&fa, 1, "/dev/full", O_WRONLY, 0); break;
        case Out::Closed: posix_spawn_file_actions_addclose(&fa, 1); break;
        }
        posix_spawn_file_actions_addopen(&fa, 2, (dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, QTERM_PATH, &fa, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~QtermRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    // The exit status, or -1 when it did not end by itself within 20 s (it is then killed).
    int wait() {
        for (int i = 0; i < 2000 && pid_ > 0; ++i) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    void kill9() {
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        killed_ = WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
        pid_ = -1;
    }
    bool killed() const { return killed_; }
    std::string out() const { return bytesOf(dir_ / "out"); }
    std::string err() const { return bytesOf(dir_ / "err"); }
    fs::path dir() const { return dir_; }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    bool killed_ = false;
};

} // namespace

// --help and --version answer on stdout and a bad option on stderr, all without a
// display: they are done before any window system is looked for.
TEST(QtermRun, OptionsWithoutADisplay) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string outStart;  // of stdout
        std::string errStart;  // of stderr
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: qterm [options] [HOST [PORT]]\n", ""},
        {{"--version"}, 0, std::string("qterm ") + QLX_VERSION + "\n", ""},
        {{"--bogus", "host"}, 2, "", "qterm: unknown option --bogus\n"},
        {{"--encoding", "latin1", "host"}, 2, "", "qterm: unknown encoding for --encoding: latin1\n"},
        {{"--connect-timeout", "0", "host"}, 2, "", "qterm: --connect-timeout needs a whole number of seconds from 1 to 2147483: 0\n"},
        {{"host", "--log"}, 2, "", "qterm: --log needs a value\n"},
    };
    for (const Case& c : cases) {
        QtermRun r(c.args, false);
        EXPECT_EQ(r.wait(), c.status) << c.args[0];
        EXPECT_EQ(r.out().rfind(c.outStart, 0), 0u) << r.out();
        EXPECT_EQ(r.err().rfind(c.errStart, 0), 0u) << r.err();
        if (c.status == 0) {
            EXPECT_EQ(r.err(), "");
            if (c.args[0] == "--version") {
                EXPECT_EQ(r.out(), c.outStart);
            }
        } else {
            EXPECT_EQ(r.out(), "");
            EXPECT_EQ(r.err(), c.errStart + "Try 'qterm --help'.\n");  // the fault and the hint only
        }
    }
}

// What the shell asked to see and could not get is a failure: a full disk or a closed
// stdout ends with one line on stderr and status 2.
TEST(QtermRun, HelpAndVersionThatCannotBeWrittenFail) {
    using Out = QtermRun::Out;
    for (const char* option : {"--help", "--version"}) {
        for (Out out : {Out::Full, Out::Closed}) {
            QtermRun r({option}, false, out);
            EXPECT_EQ(r.wait(), 2) << option;
            const std::string why = out == Out::Full ? "No space left on device" : "Bad file descriptor";
            EXPECT_EQ(r.err(), std::string("qterm: cannot write to standard output: ") + why + "\n") << option;
        }
    }
}

// A FIFO where qterm.ini should be is not waited on: qterm says so once, connects and
// works with the defaults.
TEST(QtermRun, SettingsFileThatIsAFifoIsPassedOver) {
    std::promise<void> done;
    std::shared_future<void> finished = done.get_future().share();
    LoopbackServer host([&](int fd) {
        SendAll(fd, "hello\r\n");
        finished.wait();
    });
    fs::path ini;
    {
        QtermRun r({"127.0.0.1", std::to_string(host.Port())}, true, QtermRun::Out::File, [&](const fs::path& dir) {
            fs::create_directories(dir / "config" / "qterm");
            ini = dir / "config" / "qterm" / "qterm.ini";
            ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
        });
        // Nor is the connect's history written into it.
        const std::string line = "qterm: " + ini.string() + " is not a readable file; its settings are not used\n"
                                 "qterm: " + ini.string() + " cannot be written; the connection history is not saved\n";
        for (int i = 0; i < 1000 && r.err() != line; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(r.err(), line);
        done.set_value();
        EXPECT_EQ(r.wait(), 0) << "the host's close ends the session as usual";
    }
}

// The log holds every completed line the moment it is complete: a killed qterm leaves
// all of them in the file.
TEST(QtermRun, LogSurvivesAKill) {
    std::promise<void> done;
    std::shared_future<void> finished = done.get_future().share();
    LoopbackServer host([&](int fd) {
        SendAll(fd, "login: admin\r\n");
        std::this_thread::sleep_for(30ms);
        SendAll(fd, "\x93\xfa\x96\x7b\r\n");  // 日本 in code page 932
        SendAll(fd, "prompt> ");
        finished.wait();
    });
    char t[] = "/tmp/qterm-kill-XXXXXX";
    const fs::path dir = ::mkdtemp(t);
    const fs::path log = dir / "s.log";
    {
        QtermRun r({"--log", log.string(), "127.0.0.1", std::to_string(host.Port())}, true);
        const std::string want = "login: admin\n日本\n";
        for (int i = 0; i < 1000 && bytesOf(log) != want; ++i)
            std::this_thread::sleep_for(10ms);
        r.kill9();
        EXPECT_TRUE(r.killed());
        EXPECT_EQ(bytesOf(log), want);
    }
    done.set_value();
    fs::remove_all(dir);
}
