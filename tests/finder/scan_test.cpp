// qlxsearch --scan as a script meets it: the real program against simulated appliances on
// loopback, its standard output and error as files, its settings beside a copy of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../require.h"
#include "ApplianceSim.h"
#include "files.h"
#include "finder_copy.h"
#include "noroute.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;  // exit code; -1 when it did not exit normally
    std::string out, err;
};

// Makes every socket(AF_INET, ...) fail with EMFILE, as when the process has used up its
// descriptors; everything else (Qt's own descriptors, iconv's files) still works.
void refuseInetSockets() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EMFILE & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        ::_exit(120);
}

class Scan : public FinderCopyTest {
protected:
    Scan() : FinderCopyTest("scan") {}

    // Runs the finder's copy through the shell: `args` may carry a redirection of stdout.
    Result scan(const std::string& args, bool withoutInetSockets = false, const std::string& asUser = "") {
        const std::string out = (dir / "out").string(), err = (dir / "err").string();
        const std::string command = asUser + " env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + (dir / "home").string() +
                                    " XDG_CONFIG_HOME= " + (dir / "qlxsearch").string() + " --scan " + args;
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(o, 1);
            ::dup2(e, 2);
            if (withoutInetSockets)
                refuseInetSockets();
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        Result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = bytesOf(out);
        r.err = bytesOf(err);
        return r;
    }
};

}  // namespace

// A list that does not reach its reader (a full disk, a closed stdout) is a failure:
// one line on stderr and status 2, never a silent 0.
TEST_F(Scan, OutputThatCannotBeWrittenFails) {
    startSim(sampleAppliances(2));
    const Result ok = scan("--address 127.0.0.1");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_NE(ok.out.find("00:80:45:00:00:01"), std::string::npos) << ok.out;
    struct Case {
        const char* redirect;
        const char* why;
    } cases[] = {{">/dev/full", "No space left on device"}, {">&-", "Bad file descriptor"}};
    for (const auto& c : cases)
        for (const char* format : {"table", "json"}) {
            const Result r = scan(std::string("--address 127.0.0.1 --format ") + format + " " + c.redirect);
            EXPECT_EQ(r.status, 2) << c.redirect << " " << r.err;
            EXPECT_EQ(r.err, std::string("qlxsearch: cannot write to standard output: ") + c.why + "\n");
        }
}

// Names are bytes from the network. In the table none of them moves the cursor, clears
// the screen or breaks a row; the CSV keeps them exactly (quoted where it must).
TEST_F(Scan, HostileNamesCannotReachTheTerminal) {
    auto list = sampleAppliances(2);
    list[0].name = "\x1b[2J";
    list[1].name = std::string("\r\n\0X", 4);
    startSim(list);
    const Result table = scan("--address 127.0.0.1 --sort ip");
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.find_first_of(std::string("\x1b\r\0", 3)), std::string::npos) << table.out;
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 3) << table.out;
    EXPECT_NE(table.out.find("QLX-?[2J "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("QLX-???X "), std::string::npos) << table.out;

    const Result csv = scan("--address 127.0.0.1 --format csv --sort ip");
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find(",QLX-\x1b[2J,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find(std::string(",\"QLX-\r\n\0X\",", 12)), std::string::npos) << csv.out;
}

// A FIFO where a settings or model-name file should be is passed over without waiting for
// a writer: the scan runs on the defaults, says that the settings file cannot be read, and
// leaves the FIFO as it was.
TEST_F(Scan, FifoInsteadOfAFileDoesNotHoldTheScan) {
    startSim(sampleAppliances(1));
    ASSERT_EQ(::mkfifo((dir / "qlxsearch.Ini").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "qlxsearch.dat").c_str(), 0600), 0);
    const Result r = scan("--address 127.0.0.1 --format csv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "qlxsearch: ファイル " + (dir / "qlxsearch.Ini").string() + " は開けません\n");
    EXPECT_NE(r.out.find(",QLX-AS00,"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_fifo(dir / "qlxsearch.Ini"));
}

// No route to a network: each request that cannot go says so once, with the network and
// the socket's text. A run in which not one request left is an error, not "nothing found".
TEST_F(Scan, RequestsThatCannotGoAreSaidAndNoneAtAllIsAnError) {
    if (!unroutable("192.0.2.255") || !unroutable("192.0.2.9")) {
        // Aiming at a documentation address is harmless only where it leads nowhere.
        QLX_SKIP_OR_FAIL("a private network namespace without routes (run the suite under unshare -n)");
    }
    startSim(sampleAppliances(1));
    const Result none = scan("--address 192.0.2.5");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err,
              "qlxsearch: request to 192.0.2.255 (network of 192.0.2.5) not sent: Network is unreachable\n"
              "qlxsearch: No discovery request could be sent: Network is unreachable\n");

    // One network (and one probe) of several: said, and the run goes on to what it finds.
    const Result some = scan("--address 192.0.2.5 --address 127.0.0.1 --probe 192.0.2.9 --format csv");
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(some.err,
              "qlxsearch: request to 192.0.2.255 (network of 192.0.2.5) not sent: Network is unreachable\n"
              "qlxsearch: request to 192.0.2.9 (probe 192.0.2.9) not sent: Network is unreachable\n");
    EXPECT_NE(some.out.find(",QLX-AS00,"), std::string::npos) << some.out;
}

// The endpoint's socket cannot be made (no descriptors left): one line and status 2,
// where the scan used to abort.
TEST_F(Scan, EndpointThatCannotBeMadeIsAnError) {
    const Result r = scan("--address 127.0.0.1", true);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err, "qlxsearch: Unknown Error No. " + std::to_string(EMFILE) + "\n");
    EXPECT_EQ(r.out, "");
}

// A mistyped option gets one line that names it and a pointer to --help, not the whole
// usage; nothing is scanned.
TEST_F(Scan, UsageErrorsAreOneLineAndAHint) {
    startSim(sampleAppliances(1));
    const struct {
        const char* args;
        const char* line;
    } cases[] = {
        {"--bogus", "qlxsearch: unknown option --bogus"},
        {"--address 127.0.0.1 --format xml", "qlxsearch: --format needs table, csv or json"},
        {"--scan=1", "qlxsearch: --scan takes no value"},
        {"--watch 2", "qlxsearch: --watch needs a number of seconds from 5 to 86400"},
    };
    for (const auto& c : cases) {
        const Result r = scan(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, std::string(c.line) + "\nTry 'qlxsearch --help'.\n") << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_TRUE(sim->requests().empty());
}

// A bad probe, on the command line or in the settings file, stops the scan before it
// sends anything.
TEST_F(Scan, BadProbesAreRefused) {
    startSim(sampleAppliances(1));
    const std::string needs = "needs an IPv4 address A.B.C.D or a range A.B.C.D/NN with NN from 22 to 32";
    const Result wide = scan("--address 127.0.0.1 --probe 10.0.0.0/8");
    EXPECT_EQ(wide.status, 2);
    EXPECT_EQ(wide.err.substr(0, wide.err.find('\n')), "qlxsearch: --probe " + needs);
    writeBytes(dir / "qlxsearch.Ini", "[system]\r\nprobe=127.0.0.1,bogus\r\n");
    const Result listed = scan("--address 127.0.0.1");
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(listed.err, "qlxsearch: [system] probe " + needs + ": bogus\n");
    EXPECT_EQ(listed.out, "");
    EXPECT_TRUE(sim->requests().empty());
}

// root once made the settings file beside a shared copy of the finder. Another user reads
// it as the starting values while they have no file of their own, and their own file once
// they have one; the scan writes neither.
TEST_F(Scan, AnotherUsersFileBesideTheProgramOnlySeedsThisUsersSettings) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
        QLX_SKIP_OR_FAIL("root and setpriv (util-linux), to run the finder as another user");
    }
    startSim(sampleAppliances(1));
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const std::string seed = "[system]\r\ntestmode=1\r\n";
    writeBytes(dir / "qlxsearch.Ini", seed);
    ASSERT_EQ(::chown((dir / "home").c_str(), 65534, 65534), 0);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

    const Result seeded = scan("--address 127.0.0.1 --format csv", false, nobody);
    EXPECT_EQ(seeded.status, 0) << seeded.err;
    EXPECT_NE(seeded.out.find(",001-AS00,"), std::string::npos) << seeded.out;  // testmode=1 from beside

    const fs::path own = dir / "home" / ".config" / "qlxsearch" / "qlxsearch.Ini";
    fs::create_directories(own.parent_path());
    writeBytes(own, "[system]\r\ntestmode=0\r\n");
    const Result mine = scan("--address 127.0.0.1 --format csv", false, nobody);
    EXPECT_EQ(mine.status, 0) << mine.err;
    EXPECT_NE(mine.out.find(",QLX-AS00,"), std::string::npos) << mine.out;
    EXPECT_EQ(bytesOf(dir / "qlxsearch.Ini"), seed);
    EXPECT_EQ(bytesOf(own), "[system]\r\ntestmode=0\r\n");
}
