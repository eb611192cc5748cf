// The session log file and qterm's settings file, without a window.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "KeyMap.h"
#include "QtermConfig.h"
#include "SessionLog.h"
#include "../finder/files.h"  // whole-file reads
#include "scratch.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// 2026-12-10 03:04:05.067 UTC
const system_clock::time_point kWhen = system_clock::time_point(seconds(1796871845)) + milliseconds(67);

} // namespace

// Lines go out as they come: each batch is in the file before the call returns, NUL
// bytes are left out, every line ends in LF, and the current line is written at the end.
TEST(SessionLog, WritesLinesAsTheyComplete) {
    TempDir dir;
    const std::string path = dir.file("s.log");
    SessionLog log(path);
    log.lines({"first", std::string("x\0y", 3), ""});
    EXPECT_EQ(bytesOf(path), "first\nxy\n\n");
    log.lines(std::vector<std::string>{});
    log.lines({"日本語"});
    EXPECT_EQ(bytesOf(path), "first\nxy\n\n日本語\n");
    log.finish("prompt> ");
    log.finish("again");  // the file is closed: nothing more
    log.lines({"late"});
    EXPECT_EQ(bytesOf(path), "first\nxy\n\n日本語\nprompt> \n");
}

TEST(SessionLog, EmptyCurrentLineAddsNothingAtTheEnd) {
    TempDir dir;
    for (const std::string& current : {std::string(), std::string("\0\0", 2)}) {
        const std::string path = dir.file("e.log");
        fs::remove(path);
        SessionLog log(path);
        log.lines({"done"});
        log.finish(current);
        EXPECT_EQ(bytesOf(path), "done\n");
    }
}

// A second session appends: an earlier log is evidence and is never overwritten.
TEST(SessionLog, AppendsToAnExistingFileCreatedPrivate) {
    TempDir dir;
    const std::string path = dir.file("a.log");
    { SessionLog(path).finish("one"); }
    { SessionLog(path).finish("two"); }
    EXPECT_EQ(bytesOf(path), "one\ntwo\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A name the program chose lies in a folder others may write: only a new file is made,
// never through a link someone planted there, and a clash (two sessions to one host in
// the same second) numbers the name instead of sharing the file.
TEST(SessionLog, ProgramChosenNameMakesANewFileOnly) {
    TempDir dir;
    const std::string base = dir.file("h_23_20261210-030405.log");
    const std::string victim = dir.file("victim");
    writeBytes(victim, "keep\n");
    fs::create_symlink(victim, base);
    using O = SessionLog::Open;
    SessionLog second(base, false, nullptr, O::NewFile);
    SessionLog third(base, false, nullptr, O::NewFile);
    EXPECT_EQ(second.path(), dir.file("h_23_20261210-030405-2.log"));
    EXPECT_EQ(third.path(), dir.file("h_23_20261210-030405-3.log"));
    second.finish("two");
    third.finish("three");
    EXPECT_EQ(bytesOf(victim), "keep\n");
    EXPECT_TRUE(fs::is_symlink(base));
    EXPECT_EQ(bytesOf(dir.file("h_23_20261210-030405-2.log")), "two\n");
    EXPECT_EQ(bytesOf(dir.file("h_23_20261210-030405-3.log")), "three\n");
    struct stat st {};
    ASSERT_EQ(::stat(third.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A name without an extension is numbered at its end; a missing folder is an error.
    const std::string plain = dir.file("plain");
    writeBytes(plain, "");
    EXPECT_EQ(SessionLog(plain, false, nullptr, O::NewFile).path(), dir.file("plain-2"));
    EXPECT_THROW(SessionLog(dir.file("none/x.log"), false, nullptr, O::NewFile), SessionLogError);
}

TEST(SessionLog, TimestampsInLocalTimeFromTheClock) {
    EnvVar jst("TZ", "JST-9");
    EXPECT_EQ(logTimestamp(kWhen), "[2026-12-10 12:04:05.067] ");
    EXPECT_EQ(logTimestamp(system_clock::time_point(milliseconds(-1))), "[1970-01-01 08:59:59.999] ");

    TempDir dir;
    const std::string path = dir.file("t.log");
    auto now = kWhen;
    SessionLog log(path, true, [&] { return now; });
    log.lines({"a", "b"});
    now += milliseconds(1001);
    log.setTimestamps(false);
    log.lines({"plain"});
    log.setTimestamps(true);
    log.finish("end");
    EXPECT_EQ(bytesOf(path), "[2026-12-10 12:04:05.067] a\n"
                              "[2026-12-10 12:04:05.067] b\n"
                              "plain\n"
                              "[2026-12-10 12:04:06.068] end\n");
}

// Failures are raised once, with the file and the system's reason.
TEST(SessionLog, OpenAndWriteFailuresAreRaised) {
    TempDir dir;
    try {
        SessionLog log(dir.file("no-such-dir/s.log"));
        FAIL() << "opened";
    } catch (const SessionLogError& e) {
        EXPECT_TRUE(e.opening);
        EXPECT_EQ(e.path, dir.file("no-such-dir/s.log"));
        EXPECT_FALSE(e.reason.empty());
    }
    EXPECT_THROW(SessionLog log(dir.path.string()), SessionLogError);  // a folder
    if (::access("/dev/full", W_OK) == 0) {
        SessionLog full("/dev/full");
        try {
            full.lines({"x"});
            FAIL() << "written";
        } catch (const SessionLogError& e) {
            EXPECT_FALSE(e.opening);
        }
        EXPECT_THROW(full.finish("y"), SessionLogError);
    }
}

TEST(QtermConfig, SettingsFilePlace) {
    EXPECT_EQ(qtermSettingsPath("/x/conf", "/home/u"), "/x/conf/qterm/qterm.ini");
    EXPECT_EQ(qtermSettingsPath("", "/home/u"), "/home/u/.config/qterm/qterm.ini");
    EXPECT_EQ(qtermSettingsPath(nullptr, "/home/u"), "/home/u/.config/qterm/qterm.ini");
    EXPECT_EQ(qtermSettingsPath("relative", "/home/u"), "/home/u/.config/qterm/qterm.ini");
    EXPECT_EQ(qtermSettingsPath(nullptr, nullptr), "");
}

TEST(QtermConfig, LogSection) {
    TempDir dir;
    const std::string ini = dir.file("qterm.ini");
    struct Case {
        std::string text;
        std::string dir;
        bool stamps;
    };
    const Case cases[] = {
        {"[log]\ndir=/var/log/qt\ntimestamps=1\n", "/var/log/qt", true},
        {"[LOG]\r\n dir = ~/logs \r\nTimestamps = Yes\r\n", "/home/u/logs", true},
        {"[log]\ntimestamps=0\n", "", false},
        {"[other]\ndir=/x\n", "", false},
        {"; nothing\n", "", false},
    };
    for (const Case& c : cases) {
        writeBytes(ini, c.text);
        LogSettings s = readLogSettings(ini, "/home/u");
        EXPECT_EQ(s.dir, c.dir) << c.text;
        EXPECT_EQ(s.timestamps, c.stamps) << c.text;
    }
    // What is there but is no readable file gives the defaults and one line to show; a
    // FIFO does not wait for a writer.
    const std::string fifo = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.file("missing.ini"), dir.path.string(), fifo}) {
        std::string warning;
        const LogSettings s = readLogSettings(path, "/home/u", &warning);
        EXPECT_EQ(s.dir, "") << path;
        EXPECT_FALSE(s.timestamps) << path;
        if (path == dir.file("missing.ini"))
            EXPECT_EQ(warning, "") << "a missing file is no fault";
        else
            EXPECT_EQ(warning, "qterm: " + path + " is not a readable file; its settings are not used");
    }
}

TEST(QtermConfig, SessionLogName) {
    EnvVar utc("TZ", "UTC");
    EXPECT_EQ(sessionLogPath("/logs", "192.168.1.10", 23, kWhen), "/logs/192.168.1.10_23_20261210-030405.log");
    EXPECT_EQ(sessionLogPath("/logs/", "host-a", 2323, kWhen), "/logs/host-a_2323_20261210-030405.log");
    // Nothing of the host can lead out of the folder.
    EXPECT_EQ(sessionLogPath("/logs", "../etc/x y", 1, kWhen), "/logs/.._etc_x_y_1_20261210-030405.log");
}

// Pasted text is sent as typed: every kind of line break is the Enter key's CR, the text
// in the session's encoding.
TEST(PastedText, LineBreaksAndEncodings) {
    struct Case {
        std::string utf8;
        Encoding enc;
        std::string bytes;
    };
    const Case cases[] = {
        {"ls -l\n", Encoding::Cp932, "ls -l\r"},
        {"a\r\nb\rc\nd", Encoding::Cp932, "a\rb\rc\rd"},
        {"a\n\r\n\n", Encoding::Cp932, "a\r\r\r"},
        {"日本\n", Encoding::Cp932, "\x93\xfa\x96\x7b\r"},
        {"日本\n", Encoding::Utf8, "日本\r"},
        {"日本\n", Encoding::EucJp, "\xc6\xfc\xcb\xdc\r"},
        {"ｱ€x", Encoding::EucJp, "\x8e\xb1?x"},  // a half-width kana; no euro in EUC-JP
        {"", Encoding::Utf8, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pastedBytes(c.utf8, c.enc), c.bytes) << c.utf8 << " " << static_cast<int>(c.enc);

    KeyPress k;
    k.kind = KeyPress::Kind::Text;
    k.utf8 = "本";
    EXPECT_EQ(keyBytes(k, Encoding::EucJp), "\xcb\xdc");
    EXPECT_EQ(keyBytes(k, Encoding::Utf8), "本");
    EXPECT_EQ(keyBytes(k), "\x96\x7b");
    EXPECT_EQ(composedBytes("日", Encoding::EucJp), "\xc6\xfc");
}

TEST(QtermConfig, PasteSection) {
    TempDir dir;
    const std::string ini = dir.file("qterm.ini");
    struct Case {
        std::string text;
        PasteConfirm confirm;
        int delayMs;
    };
    const Case cases[] = {
        {"", PasteConfirm::Multiline, 0},
        {"[paste]\nconfirm=large\nline_delay_ms=50\n", PasteConfirm::Large, 50},
        {"[Paste]\r\n Confirm = NEVER \r\nline_delay_ms = 0\r\n", PasteConfirm::Never, 0},
        {"[paste]\nconfirm=sometimes\nline_delay_ms=fast\n", PasteConfirm::Multiline, 0},
        {"[paste]\nline_delay_ms=-5\n", PasteConfirm::Multiline, 0},
        {"[paste]\nline_delay_ms=20ms\n", PasteConfirm::Multiline, 0},
        {"[paste]\nline_delay_ms=60000\n", PasteConfirm::Multiline, kMaxLineDelayMs},
        {"[paste]\nline_delay_ms=99999999999999999999\n", PasteConfirm::Multiline, kMaxLineDelayMs},
        {"[log]\nconfirm=never\nline_delay_ms=9\n", PasteConfirm::Multiline, 0},
    };
    for (const Case& c : cases) {
        writeBytes(ini, c.text);
        const PasteSettings s = readPasteSettings(ini);
        EXPECT_EQ(s.confirm, c.confirm) << c.text;
        EXPECT_EQ(s.lineDelayMs, c.delayMs) << c.text;
    }
    EXPECT_EQ(readPasteSettings(dir.file("missing.ini")).confirm, PasteConfirm::Multiline);
}

// [session] reconnect takes the words the other switches take, in any case.
TEST(QtermConfig, SessionSection) {
    TempDir dir;
    const std::string ini = dir.file("qterm.ini");
    struct Case {
        std::string text;
        bool reconnect;
    };
    const Case cases[] = {
        {"", false},
        {"[session]\nreconnect=1\n", true},
        {"[Session]\r\n Reconnect = ON \r\n", true},
        {"[session]\nreconnect=yes\n", true},
        {"[session]\nreconnect=true\n", true},
        {"[session]\nreconnect=0\n", false},
        {"[session]\nreconnect=2\n", false},
        {"[session]\nreconnect=\n", false},
        {"[log]\nreconnect=1\n", false},
    };
    for (const Case& c : cases) {
        writeBytes(ini, c.text);
        EXPECT_EQ(readSessionSettings(ini).reconnect, c.reconnect) << c.text;
    }
    EXPECT_FALSE(readSessionSettings(dir.file("missing.ini")).reconnect);
    EXPECT_FALSE(readSessionSettings("").reconnect);
}
