// qterm --script as the shell runs it: with --batch no window and no display, the shown
// text on stdout, and the exit status and one stderr line for every way a run can end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "login_host.h"
#include "scratch.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Runs qterm with no display of any kind; extraEnv adds NAME=VALUE entries. stdoutPath,
// when given, is where stdout goes instead of a file the outcome reads.
Outcome run(const TempDir& dir, const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
            const std::string& stdoutPath = {}) {
    std::vector<std::string> env = extraEnv;
    env.push_back("XDG_CONFIG_HOME=" + dir.file("config"));
    env.push_back("XDG_RUNTIME_DIR=" + dir.path.string());
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        bool drop = false;
        for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "XDG_CONFIG_HOME=", "XDG_RUNTIME_DIR="})
            drop |= v.rfind(name, 0) == 0;
        if (!drop)
            env.push_back(v);
    }
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> store = {QTERM_PATH};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string outPath = stdoutPath.empty() ? dir.file("stdout") : stdoutPath;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Outcome o;
    pid_t pid = -1;
    if (posix_spawn(&pid, QTERM_PATH, &fa, nullptr, argv.data(), envp.data()) == 0) {
        int st = 0;
        ::waitpid(pid, &st, 0);
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    if (stdoutPath.empty())
        o.out = slurp(outPath);
    o.err = slurp(dir.file("stderr"));
    return o;
}

// The bytes a host received, without the client's answers to option requests.
std::string withoutCommands(const std::string& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\xff')
            i += 2;
        else
            out.push_back(bytes[i]);
    }
    return out;
}

std::string loginScript(const std::string& log) {
    return "# back up the configuration\n"
           "log " + log + "\n"
           "expect login:\n"
           "sendln admin\n"
           "expect Password:\n"
           "sendenv APPLIANCE_PASSWORD\n"
           "expect AP-1$\n"
           "sendln show config\n"
           "expect AP-1$\n"
           "sendln exit\n"
           "expect bye\n";
}

const std::string kPasswordEnv = std::string("APPLIANCE_PASSWORD=") + LoginHost::kPassword;

} // namespace

// Login, the password from the environment, a command and its output: stdout holds the
// text as shown, the log the same, and the password is in neither, nor on stderr. The
// Enter key follows its CR rule: CR LF to a plain host, CR to a telnet server.
TEST(QtermScriptBatch, LogsInRunsACommandAndDisconnects) {
    for (bool telnet : {false, true}) {
        TempDir dir;
        LoginHost host(telnet);
        const std::string log = dir.file("session.log");
        write(dir.file("backup.qts"), loginScript(log));
        const Outcome o = run(dir, {"--batch", "--script", dir.file("backup.qts"), "127.0.0.1", host.port()},
                              {kPasswordEnv});
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.out, LoginHost::kShown);
        EXPECT_EQ(slurp(log), LoginHost::kShown);
        const std::string enter = telnet ? "\r" : "\r\n";
        EXPECT_EQ(withoutCommands(host.received()), std::string("admin") + enter + LoginHost::kPassword + enter +
                                                        "show config" + enter + "exit" + enter);
        for (const std::string& seen : {o.out, o.err, slurp(log)})
            EXPECT_EQ(seen.find(LoginHost::kPassword), std::string::npos);
    }
}

// An expect that times out, or a host that closes first: exit 1, stderr names the line and
// the awaited text, and what the host showed is on stdout all the same.
TEST(QtermScriptBatch, ExpectThatIsNotMetExitsOne) {
    struct Case {
        bool hostCloses;
        std::string err;
    };
    const Case cases[] = {
        {false, ":3: timed out after 0.3 s waiting for \"login:\"\n"},
        {true, ":3: the host closed the connection while waiting for \"login:\"\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        LoopbackServer host([&](int fd) {
            SendAll(fd, "Welcome\r\n");
            if (!c.hostCloses)
                ReadUntilClosed(fd);
        });
        const std::string script = dir.file("never.qts");
        write(script, "# a host that never prompts\n\nexpect login: timeout=0.3\nsendln admin\n");
        const Outcome o = run(dir, {"--batch", "--script", script, "127.0.0.1", std::to_string(host.Port())});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "qterm: " + script + c.err);
        EXPECT_EQ(o.out, "Welcome\n");
    }
}

// A script with a fault, or a variable it needs that is not set, ends the program before
// any connect; a failed connect is status 2 with today's line.
TEST(QtermScriptBatch, BadScriptOrFailedConnectExitsTwo) {
    struct Case {
        std::string script;
        std::vector<std::string> env;
        bool refusedPort;
        std::string err;  // after "qterm: "
    };
    const Case cases[] = {
        {"expect login:\nexpekt Password:\n", {kPasswordEnv}, false, "S:2: unknown command expekt\n"},
        {"expect login:\nsend \\q\n", {kPasswordEnv}, false, "S:2: unknown escape \\q\n"},
        {"expect login:\nsendenv APPLIANCE_PASSWORD\n", {}, false,
         "S:2: environment variable APPLIANCE_PASSWORD is not set\n"},
        {"expect login:\n", {}, true,
         "127.0.0.1:P: 接続が拒否されました (Connection refused)\nqterm: 127.0.0.1 port P: server not responding.\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        LoginHost host;
        const std::string script = dir.file("s.qts");
        write(script, c.script);
        const std::string port = c.refusedPort ? std::to_string(UnusedPort()) : host.port();
        const Outcome o = run(dir, {"--batch", "--script", script, "127.0.0.1", port}, c.env);
        std::string err = c.err;
        if (err.rfind("S:", 0) == 0)
            err.replace(0, 1, script);
        for (const char* mark : {":P:", "port P"})
            if (auto p = err.find(mark); p != std::string::npos)
                err.replace(p + std::string(mark).find('P'), 1, port);
        EXPECT_EQ(o.status, 2) << c.script;
        EXPECT_EQ(o.err, "qterm: " + err);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(host.connections(), 0) << c.script;
    }
    TempDir dir;
    const Outcome missing = run(dir, {"--batch", "--script", dir.file("none.qts"), "127.0.0.1"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "qterm: " + dir.file("none.qts") + ": cannot read the script: No such file or directory\n");
}

// Standard output that cannot be written is a failure said once, never success.
TEST(QtermScriptBatch, UnwritableStdoutExitsTwo) {
    TempDir dir;
    LoginHost host;
    write(dir.file("backup.qts"), loginScript(dir.file("session.log")));
    const Outcome o = run(dir, {"--batch", "--script", dir.file("backup.qts"), "127.0.0.1", host.port()},
                          {kPasswordEnv}, "/dev/full");
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "qterm: cannot write to standard output: No space left on device\n");
}
