// qlxsearch --scan --watch as a log collector meets it: the real program against simulated
// appliances on loopback that change between runs, its standard output a pipe read line
// by line while it runs. A run takes about 4 s and runs start 5 s apart, so these tests
// take tens of seconds; the waits below only guard against a hang, nothing is timed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../require.h"
#include "ApplianceSim.h"
#include "files.h"
#include "finder_copy.h"
#include "noroute.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kGuard = 60s;  // far more than any awaited line needs

// The value of a JSON member in one of the watch's lines: a string's text, or a number.
std::string member(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    const auto at = line.find(key);
    if (at == std::string::npos)
        return "";
    auto from = at + key.size();
    if (line[from] == '"') {
        ++from;
        return line.substr(from, line.find('"', from) - from);
    }
    return line.substr(from, line.find_first_of(",}", from) - from);
}

// "event MAC-tail" of a JSON line.
std::string what(const std::string& line) {
    const std::string mac = member(line, "mac");
    return member(line, "event") + " " + (mac.size() > 2 ? mac.substr(mac.size() - 2) : mac);
}

// The finder's copy running a watch; its stdout a pipe the test reads, or a file.
class Watcher {
public:
    Watcher(const fs::path& exe, const fs::path& err, std::vector<std::string> args, int stdoutFd = -1) {
        int p[2] = {-1, -1};
        if (stdoutFd < 0 && ::pipe2(p, O_CLOEXEC) != 0)
            return;
        args.insert(args.begin(), {exe.string(), "--scan", "--sort", "ip"});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(stdoutFd >= 0 ? stdoutFd : p[1], 1);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(e, 2);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("HOME", (exe.parent_path() / "home").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", "", 1);
            ::setenv("TZ", "JST-9", 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (stdoutFd < 0) {
            ::close(p[1]);
            out_ = p[0];
        }
    }
    ~Watcher() {
        if (pid_ > 0 && status_ == -3) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        closeOutput();
    }

    // The next n lines; fewer when the output ends or the guard runs out.
    std::vector<std::string> lines(std::size_t n) {
        std::vector<std::string> got;
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (got.size() < n) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                got.push_back(buffer_.substr(0, end));
                buffer_.erase(0, end + 1);
                continue;
            }
            if (!fill(until))
                break;
        }
        return got;
    }
    // Everything up to the end of the output.
    std::string rest() {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (fill(until)) {
        }
        return std::exchange(buffer_, {});
    }
    void closeOutput() {
        if (out_ >= 0)
            ::close(out_);
        out_ = -1;
    }
    void signal(int sig) { ::kill(pid_, sig); }
    // The exit status; -1 for a signal, -2 when it did not end within the guard.
    int wait() {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (status_ == -3) {
            int s = 0;
            if (::waitpid(pid_, &s, WNOHANG) == pid_)
                status_ = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
            else if (std::chrono::steady_clock::now() > until)
                return -2;
            else
                ::usleep(10000);
        }
        return status_;
    }

private:
    bool fill(std::chrono::steady_clock::time_point until) {
        if (out_ < 0)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{out_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -3;
    std::string buffer_;
};

class Watch : public FinderCopyTest {
protected:
    Watch() : FinderCopyTest("watch") {}

    using FinderCopyTest::startSim;
    // Appliances that the simulator reads again at every request.
    void startSim(const std::string& lines) {
        setAppliances(lines);
        ApplianceSim::Options options;
        options.file = (dir / "appliances").string();
        startSim({}, options);
    }
    // Whole or not at all: the simulator never reads half a file.
    void setAppliances(const std::string& lines) {
        writeBytes(dir / "appliances.new", lines);
        fs::rename(dir / "appliances.new", dir / "appliances");
    }
    // Until the simulator has seen n requests (or the guard runs out).
    void awaitRequests(std::size_t n) {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (sim->requests().size() < n && std::chrono::steady_clock::now() < until)
            ::usleep(10000);
    }
    // A watch of loopback.
    std::unique_ptr<Watcher> watch(std::vector<std::string> args, int stdoutFd = -1) {
        args.insert(args.begin(), {"--address", "127.0.0.1"});
        return std::make_unique<Watcher>(dir / "qlxsearch", dir / "err", std::move(args), stdoutFd);
    }
    std::string err() { return bytesOf(dir / "err"); }
};

std::vector<std::string> whats(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
        out.push_back(what(l));
    return out;
}

}  // namespace

// Four runs of one watch, each line read as soon as it is written. The first run shows
// every appliance; then one moves, one is renamed, one reboots, one's running time falls
// back by less than the tolerance, one goes, one comes. The one that went is gone only
// after its second missed run, and appears again when it comes back. SIGTERM during the
// fourth run lets that run finish and print, and the watch ends with status 0.
TEST_F(Watch, EachChangeAsItHappensUntilSigterm) {
    startSim("# MAC IP NAME UPTIME\n"
             "00:80:45:00:00:01 127.0.1.1 AS01 1000\n"
             "00:80:45:00:00:02 127.0.1.2 BS02 2000\n"
             "00:80:45:00:00:03 127.0.1.3 CS03 3000\n"
             "00:80:45:00:00:04 127.0.1.4 DS04 4000\n"
             "00:80:45:00:00:05 127.0.1.5 ES05 5000\n");
    auto w = watch({"--watch", "5", "--format", "json"});

    const auto first = w->lines(5);
    EXPECT_EQ(whats(first),
              (std::vector<std::string>{"appeared 01", "appeared 02", "appeared 03", "appeared 04", "appeared 05"}));
    ASSERT_EQ(first.size(), 5u) << err();
    EXPECT_EQ(first[0].rfind("{\"event\": \"appeared\", \"time\": \"", 0), 0u) << first[0];
    EXPECT_EQ(member(first[0], "time").substr(19), "+09:00") << first[0];
    EXPECT_NE(first[4].find(", \"number\": 5, \"name\": \"QLX-ES05\", \"ip\": \"127.0.1.5\", \"mac\": "
                            "\"00:80:45:00:00:05\", \"version\": \"1.07a 080415\", \"uptime\": \"00001:23:20\", "
                            "\"uptime_seconds\": 5000, \"model\": 1}"),
              std::string::npos)
        << first[4];

    // 05's counter falls back 2 s: less than the tolerance allows.
    setAppliances("00:80:45:00:00:01 127.0.1.11 AS01 1000\n"
                  "00:80:45:00:00:02 127.0.1.2 BX02 2000\n"
                  "00:80:45:00:00:03 127.0.1.3 CS03 5\n"
                  "00:80:45:00:00:05 127.0.1.5 ES05 4998\n"
                  "00:80:45:00:00:06 127.0.1.6 FS06 600\n");
    const auto second = w->lines(4);
    EXPECT_EQ(whats(second),
              (std::vector<std::string>{"renamed 02", "rebooted 03", "appeared 06", "moved 01"}));
    ASSERT_EQ(second.size(), 4u) << err();
    EXPECT_NE(second[0].find("\"name\": \"QLX-BX02\""), std::string::npos) << second[0];
    EXPECT_NE(second[0].find("\"previous\": {\"name\": \"QLX-BS02\", \"version\": \"1.07a 080415\"}}"),
              std::string::npos)
        << second[0];
    EXPECT_EQ(member(second[1], "uptime_seconds"), "5") << second[1];
    EXPECT_NE(second[1].find("\"previous\": {\"uptime\": \"00000:50:00\", \"uptime_seconds\": 3000}}"),
              std::string::npos)
        << second[1];
    EXPECT_NE(second[3].find("\"ip\": \"127.0.1.11\""), std::string::npos) << second[3];
    EXPECT_NE(second[3].find("\"previous\": {\"ip\": \"127.0.1.1\"}}"), std::string::npos) << second[3];
    EXPECT_NE(member(second[0], "time"), member(first[0], "time"));

    // 04 missed its second run now: gone, after this run's own change.
    setAppliances("00:80:45:00:00:01 127.0.1.11 AS01 1000\n"
                  "00:80:45:00:00:02 127.0.1.2 BX02 2000\n"
                  "00:80:45:00:00:03 127.0.1.3 CS03 5\n"
                  "00:80:45:00:00:05 127.0.1.5 ES05 4998\n"
                  "00:80:45:00:00:06 127.0.1.6 FX06 600\n");
    const auto third = w->lines(2);
    EXPECT_EQ(whats(third), (std::vector<std::string>{"renamed 06", "gone 04"}));
    ASSERT_EQ(third.size(), 2u) << err();
    EXPECT_NE(third[1].find("\"name\": \"QLX-DS04\", \"ip\": \"127.0.1.4\""), std::string::npos) << third[1];
    EXPECT_EQ(third[1].find("previous"), std::string::npos) << third[1];
    EXPECT_EQ(member(third[0], "time"), member(third[1], "time"));
    EXPECT_NE(member(third[0], "time"), member(second[0], "time"));

    // 04 comes back; SIGTERM once the fourth run has sent its first request.
    setAppliances("00:80:45:00:00:01 127.0.1.11 AS01 1000\n"
                  "00:80:45:00:00:02 127.0.1.2 BX02 2000\n"
                  "00:80:45:00:00:03 127.0.1.3 CS03 5\n"
                  "00:80:45:00:00:04 127.0.1.4 DS04 30\n"
                  "00:80:45:00:00:05 127.0.1.5 ES05 4998\n"
                  "00:80:45:00:00:06 127.0.1.6 FX06 600\n");
    awaitRequests(10);
    w->signal(SIGTERM);
    EXPECT_EQ(whats(w->lines(1)), std::vector<std::string>{"appeared 04"});
    EXPECT_EQ(w->rest(), "");
    EXPECT_EQ(w->wait(), 0) << err();
    EXPECT_EQ(err(), "");
    EXPECT_EQ(sim->requests().size(), 12u);  // the fourth run whole, no fifth
}

// The table and the CSV: a header line first, then each event as it comes; names with
// control bytes cannot reach the terminal. SIGINT between runs ends the watch at once.
TEST_F(Watch, TableAndCsvLinesAndSigintBetweenRuns) {
    auto list = sampleAppliances(2);
    list[0].ip = {127, 0, 1, 1};
    list[1].ip = {127, 0, 1, 2};
    list[1].name = "\x1b[2J";
    startSim(list);
    struct Case {
        const char* format;
        std::string header, second;
    } cases[] = {
        {"table",
         "Event     Time                       No.  Name                  IP address       MAC address        "
         "Version       Uptime       Before",
         "  2    QLX-?[2J              127.0.1.2        00:80:45:00:00:01  1.07a 080415  00002:01:01"},
        {"csv", "event,time,number,name,ip,mac,version,uptime,uptime_seconds,model",
         ",2,QLX-\x1b[2J,127.0.1.2,00:80:45:00:00:01,1.07a 080415,00002:01:01,7261,2"},
    };
    std::size_t requests = 0;
    for (const auto& c : cases) {
        auto w = watch({"--watch", "5", "--format", c.format});
        const auto lines = w->lines(3);
        ASSERT_EQ(lines.size(), 3u) << c.format << " " << err();
        EXPECT_EQ(lines[0], c.header);
        EXPECT_EQ(lines[1].rfind("appeared", 0), 0u) << lines[1];
        const std::string sep = c.format == std::string("csv") ? "," : "  ";
        EXPECT_EQ(lines[2].substr(0, 8 + sep.size()), "appeared" + sep) << lines[2];
        EXPECT_EQ(lines[2].substr(8 + sep.size() + 19, 6), "+09:00") << lines[2];
        EXPECT_EQ(lines[2].substr(8 + sep.size() + 25), c.second) << lines[2];
        requests += 3;
        w->signal(SIGINT);
        EXPECT_EQ(w->rest(), "");
        EXPECT_EQ(w->wait(), 0) << err();
        EXPECT_EQ(err(), "");
        EXPECT_EQ(sim->requests().size(), requests) << c.format;  // no second run began
    }
}

// Output that fails: a full disk is an error (one line, status 2), a reader that has gone
// is not (quietly 0), whether the watch learns it from a write or while it has nothing
// to write.
TEST_F(Watch, OutputThatFails) {
    startSim(sampleAppliances(1));
    struct Case {
        const char* format;
        bool full;
        int status;
        std::string err;
    } cases[] = {
        {"table", true, 2, "qlxsearch: cannot write to standard output: No space left on device\n"},
        {"json", true, 2, "qlxsearch: cannot write to standard output: No space left on device\n"},
        {"csv", false, 0, ""},
        {"json", false, 0, ""},
    };
    for (const auto& c : cases) {
        int p[2];
        ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
        const int out = c.full ? ::open("/dev/full", O_WRONLY | O_CLOEXEC) : p[1];
        ::close(p[0]);  // no reader at all
        auto w = watch({"--watch", "5", "--format", c.format}, out);
        ::close(out);
        if (c.full)
            ::close(p[1]);
        EXPECT_EQ(w->wait(), c.status) << c.format;
        EXPECT_EQ(err(), c.err) << c.format;
    }

    // The reader goes while the watch has nothing to say: it ends after its next run. A
    // network its requests cannot reach is said once, not once a run.
    const bool deadEnd = unroutable("192.0.2.255");
    const std::size_t before = sim->requests().size();
    std::vector<std::string> args = {"--watch", "5", "--format", "json"};
    if (deadEnd)
        args.insert(args.end(), {"--address", "192.0.2.5"});
    auto w = watch(args);
    EXPECT_EQ(whats(w->lines(1)), std::vector<std::string>{"appeared 00"});
    awaitRequests(before + 4);  // the second run has begun
    w->closeOutput();
    EXPECT_EQ(w->wait(), 0);
    EXPECT_EQ(sim->requests().size(), before + 6);  // it ended with the second run
    if (!deadEnd) {
        QLX_SKIP_OR_FAIL("a private network namespace without routes (run the suite under unshare -n)");
    }
    EXPECT_EQ(err(), "qlxsearch: request to 192.0.2.255 (network of 192.0.2.5) not sent: Network is unreachable\n");
}

// Port 9010 held by another program (a finder window's search) when a run is due: that run
// is left out, said once, and is no miss. A run that can send nothing at all is an error
// that ends the watch.
TEST_F(Watch, HeldPortSkipsARunAndASocketErrorEndsTheWatch) {
    startSim("00:80:45:00:00:01 127.0.1.1 AS01 1000\n");
    auto w = watch({"--watch", "5", "--format", "json"});
    EXPECT_EQ(whats(w->lines(1)), std::vector<std::string>{"appeared 01"});

    // Taken between the first run and the second, held over two runs' starts.
    const int held = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(9010);
    ASSERT_EQ(::bind(held, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << std::strerror(errno);
    const auto until = std::chrono::steady_clock::now() + kGuard;
    while (err().empty() && std::chrono::steady_clock::now() < until)
        ::usleep(10000);
    ::usleep(6 * 1000 * 1000);  // the next run's start goes by too
    ::close(held);
    setAppliances("00:80:45:00:00:01 127.0.1.1 AX01 1000\n");
    EXPECT_EQ(whats(w->lines(1)), std::vector<std::string>{"renamed 01"});
    w->signal(SIGTERM);
    EXPECT_EQ(w->rest(), "");
    EXPECT_EQ(w->wait(), 0);
    EXPECT_EQ(err(), "qlxsearch: UDP ポート 9010 は他のプログラムが使用中です（検索ウィンドウか別のスキャンが使用中の"
                     "可能性があります）。この回は飛ばし、次の回にまた試みます\n");

    if (!unroutable("192.0.2.255")) {
        QLX_SKIP_OR_FAIL("a private network namespace without routes (run the suite under unshare -n)");
    }
    auto broken = std::make_unique<Watcher>(dir / "qlxsearch", dir / "err",
                                            std::vector<std::string>{"--address", "192.0.2.5", "--watch", "5"});
    EXPECT_EQ(broken->wait(), 2);
    EXPECT_EQ(err(),
              "qlxsearch: request to 192.0.2.255 (network of 192.0.2.5) not sent: Network is unreachable\n"
              "qlxsearch: No discovery request could be sent: Network is unreachable\n");
}
