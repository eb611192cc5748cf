// The hosts connected to before: the list's rules and its section of qterm.ini.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "HostHistory.h"
#include "IniFile.h"
#include "scratch.h"
#include "../finder/files.h"  // whole-file reads

namespace fs = std::filesystem;

TEST(HostHistory, EntryText) {
    struct Case {
        const char* text;
        bool ok;
        HostPort entry;
    };
    const Case cases[] = {
        {"10.0.0.5:23", true, {"10.0.0.5", 23}},
        {"host.example:65535", true, {"host.example", 65535}},
        {"h:1", true, {"h", 1}},
        {"\x93\xfa\x96\x7b:23", true, {"\x93\xfa\x96\x7b", 23}},  // CP932 bytes stay as they are
        {"host", false, {}},
        {":23", false, {}},
        {"host:", false, {}},
        {"host:0", false, {}},
        {"host:65536", false, {}},
        {"host:-1", false, {}},
        {"host:23x", false, {}},
        {"host: 23", false, {}},
        {"two words:23", false, {}},
        {"a:b:23", false, {}},
        {"tab\there:23", false, {}},
    };
    for (const Case& c : cases) {
        HostPort got;
        EXPECT_EQ(parseHostPort(c.text, got), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(got, c.entry) << c.text;
            EXPECT_EQ(hostPortText(got), c.text);
        }
    }
}

// Newest first, one entry per host and port (the host in any case), at most ten.
TEST(HostHistory, AddKeepsNewestFirstWithoutRepeats) {
    HostHistory h;
    h.add({"a", 23});
    h.add({"b", 23});
    h.add({"a", 2323});
    ASSERT_EQ(h.entries(), (std::vector<HostPort>{{"a", 2323}, {"b", 23}, {"a", 23}}));
    h.add({"B", 23});
    EXPECT_EQ(h.entries(), (std::vector<HostPort>{{"B", 23}, {"a", 2323}, {"a", 23}}));
    for (int i = 1; i <= 12; ++i)
        h.add({"h" + std::to_string(i), 23});
    ASSERT_EQ(h.entries().size(), HostHistory::kMax);
    EXPECT_EQ(h.entries().front(), (HostPort{"h12", 23}));
    EXPECT_EQ(h.entries().back(), (HostPort{"h3", 23}));
}

// Keys 1 to 10 in order; bad and repeated entries, keys beyond 10 and other sections'
// keys are not taken.
TEST(HostHistory, ReadFromTheSettingsText) {
    const std::string text =
        "[log]\n1=log.example:23\n"
        "[History]\n"
        "3=third:23\n"
        "1=first:23\n"
        "2=not a host:23\n"
        "4=FIRST:23\n"
        "5=fifth:0\n"
        "6=sixth:2323\n"
        "11=eleventh:23\n"
        "x=other:23\n";
    const HostHistory h = HostHistory::fromIni(text);
    EXPECT_EQ(h.entries(), (std::vector<HostPort>{{"first", 23}, {"third", 23}, {"sixth", 2323}}));
    EXPECT_TRUE(HostHistory::fromIni("").entries().empty());
}

// A connect recorded in the file: the folder is made when missing, other sections stay,
// the file's older entries follow the new one, and a key no longer used is emptied.
TEST(HostHistory, RecordedInTheFile) {
    TempDir dir;
    const std::string path = (dir.path / "qterm" / "qterm.ini").string();
    ASSERT_TRUE(recordHostInHistory(path, {"one", 23}));
    EXPECT_EQ(IniFile(path).read("history", "1", "?"), "one:23");

    std::ofstream(path) << "; mine\n[log]\ntimestamps=1\n[history]\n1=one:23\n2=two:23\n";
    ASSERT_TRUE(recordHostInHistory(path, {"two", 23}));
    const std::string text = bytesOf(path);
    EXPECT_EQ(HostHistory::fromIni(text).entries(), (std::vector<HostPort>{{"two", 23}, {"one", 23}}));
    EXPECT_EQ(text.rfind("; mine\n[log]\ntimestamps=1\n", 0), 0u) << text;

    for (int i = 0; i < 11; ++i)
        ASSERT_TRUE(recordHostInHistory(path, {"h" + std::to_string(i), 23}));
    const HostHistory h = HostHistory::fromIni(bytesOf(path));
    ASSERT_EQ(h.entries().size(), HostHistory::kMax);
    EXPECT_EQ(h.entries().front(), (HostPort{"h10", 23}));
}

// A file that cannot be written is a failure, and an unreadable one is left as it is.
TEST(HostHistory, UnwritableFileIsAFailure) {
    TempDir dir;
    const fs::path folder = dir.path / "qterm" / "qterm.ini";
    fs::create_directories(folder);
    EXPECT_FALSE(recordHostInHistory(folder.string(), {"one", 23}));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_FALSE(recordHostInHistory("", {"one", 23}));
    // A path under a file: its folder cannot be made.
    std::ofstream(dir.path / "plain") << "x";
    EXPECT_FALSE(recordHostInHistory((dir.path / "plain" / "qterm.ini").string(), {"one", 23}));
}
