#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "Discovery.h"
#include "Settings.h"
#include "cp932.h"

namespace fs = std::filesystem;

namespace {
using cp932::sj;
}  // namespace

TEST(DigitsOnly, KeepsHalfWidthDigitsOnly) {
    struct Case {
        std::string in, want;
    } cases[] = {
        {"", ""},
        {"80", "80"},
        {"80abc", "80"},
        {"8 0", "80"},
        {"80a8", "808"},
        {sj("８０"), ""},  // full-width digits are not digits here
        {std::string("8\0" "9", 3), "8"},
        {"8\r9", "8"},
        {std::string(255, 'x') + "9", ""},  // only the first 255 bytes are looked at
        {std::string(254, 'x') + "9", "9"},
    };
    for (const auto& c : cases) EXPECT_EQ(DigitsOnly(c.in), c.want) << c.in;
}

TEST(WithExtension, ReplacesOrAppends) {
    EXPECT_EQ(withExtension("/opt/qlx/qlxsearch", ".Ini"), "/opt/qlx/qlxsearch.Ini");
    EXPECT_EQ(withExtension("/opt/qlx/qlxsearch.exe", ".Ini"), "/opt/qlx/qlxsearch.Ini");
    EXPECT_EQ(withExtension("/opt/q.lx/qlxsearch", ".dat"), "/opt/q.lx/qlxsearch.dat");
    EXPECT_EQ(withExtension("/opt/.qlx", ".dat"), "/opt/.qlx.dat");
}

// Beside the executable only when this user may write the file there, or make it there;
// else the user's own folder, with a file beside the executable that someone else made
// (root, say) as the seed. One run as root so never takes every user's settings over.
TEST(SettingsPaths, BesideTheExecutableOnlyWhenThisUserMayWriteThere) {
    const std::string beside = "/opt/q/qlxsearch.Ini";
    struct Case {
        const char* name;
        bool iniBeside, iniWritable, folderWritable;
        std::string xdg, home, want, seed;
    } cases[] = {
        {"writable folder", false, false, true, "/x", "/home/u", beside, ""},
        {"own file there, folder read-only", true, true, false, "/x", "/home/u", beside, ""},
        {"someone else's file in a writable folder", true, false, true, "/x", "/home/u",
         "/x/qlxsearch/qlxsearch.Ini", beside},
        {"someone else's file, no XDG", true, false, false, "", "/home/u",
         "/home/u/.config/qlxsearch/qlxsearch.Ini", beside},
        {"someone else's file, no home either", true, false, false, "", "", beside, ""},
        {"installed, XDG set", false, false, false, "/x", "/home/u", "/x/qlxsearch/qlxsearch.Ini", ""},
        {"installed, no XDG", false, false, false, "", "/home/u",
         "/home/u/.config/qlxsearch/qlxsearch.Ini", ""},
        {"installed, relative XDG ignored", false, false, false, "rel", "/home/u",
         "/home/u/.config/qlxsearch/qlxsearch.Ini", ""},
    };
    for (const auto& c : cases) {
        PathProbe probe;
        probe.fileExists = [&](const std::string& p) { return c.iniBeside && p == beside; };
        probe.fileWritable = [&](const std::string& p) {
            EXPECT_EQ(p, beside);
            return c.iniWritable;
        };
        probe.folderWritable = [&](const std::string& d) {
            EXPECT_EQ(d, "/opt/q");
            return c.folderWritable;
        };
        probe.xdgConfigHome = c.xdg;
        probe.home = c.home;
        SettingsPaths p = settingsPaths("/opt/q/qlxsearch", probe);
        EXPECT_EQ(p.settingsFile, c.want) << c.name;
        EXPECT_EQ(p.seedFile, c.seed) << c.name;
        EXPECT_EQ(p.modelNameFile, withExtension(c.want, ".dat")) << c.name;
    }
}

TEST(ModelLines, SplitAtEveryKindOfLineEnd) {
    EXPECT_EQ(splitTextLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitTextLines("a\r\n\r\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(splitTextLines("").empty());
}

TEST(ModelLines, MissingFileOrAFolderGiveNoLines) {
    fs::path dir = fs::temp_directory_path() / ("qlx-dat-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    EXPECT_TRUE(loadModelLines((dir / "none.dat").string()).empty());
    EXPECT_TRUE(loadModelLines(dir.string()).empty());  // a folder is no file

    fs::remove_all(dir);
}

TEST(ModelLines, GoldenFileFeedsTheDecoder) {
    DecodeRules rules;
    rules.modelLines = loadModelLines((fs::path(QLX_GOLDEN_DIR) / "models.dat").string());
    ASSERT_EQ(rules.modelLines.size(), 6u);

    EXPECT_EQ(namePrefix(20, rules), "NAME-B");   // the last matching line wins
    EXPECT_EQ(namePrefix(21, rules), sj("専用機"));  // replaces "KWM-TZ"
    EXPECT_EQ(namePrefix(5, rules), "PLUS-FIVE");
    EXPECT_EQ(namePrefix(7, rules), "SEVEN 16 BYTES L");  // 16 bytes at most
    EXPECT_EQ(namePrefix(1, rules), "QLX-");      // no line for it

    DecodeRules onlyBadField{{"20 NAME-C"}, "0"};  // code field "20 " matches nothing
    EXPECT_EQ(namePrefix(20, onlyBadField), "KWM-");

    rules.testMode = "1";
    EXPECT_EQ(namePrefix(20, rules), "020-");
    EXPECT_EQ(namePrefix(21, rules), "021-");
}

// The model-name file needs no write access: one installed beside the program is read
// even when the settings go to the configuration folder; else the settings folder's,
// else the site-wide one.
TEST(SettingsPaths, ModelNameFileBesideTheProgramElseSettingsFolderElseSite) {
    const std::string beside = "/opt/q/qlxsearch.dat", config = "/home/u/.config/qlxsearch/qlxsearch.dat",
                      site = "/etc/qlxsearch/qlxsearch.dat";
    struct Case {
        const char* name;
        bool folderWritable;
        std::vector<std::string> present;
        std::string want;
    } cases[] = {
        {"installed, read-only file beside", false, {beside, config, site}, beside},
        {"installed, in the settings folder", false, {config, site}, config},
        {"installed, site-wide only", false, {site}, site},
        {"installed, none anywhere", false, {}, config},
        {"beside, site-wide only", true, {site}, site},
        {"beside, both", true, {beside, site}, beside},
    };
    for (const auto& c : cases) {
        PathProbe probe;
        probe.fileExists = [&](const std::string& p) {
            return std::find(c.present.begin(), c.present.end(), p) != c.present.end();
        };
        probe.folderWritable = [&](const std::string&) { return c.folderWritable; };
        probe.home = "/home/u";
        EXPECT_EQ(settingsPaths("/opt/q/qlxsearch", probe).modelNameFile, c.want) << c.name;
    }
}

// A FIFO at the model-name path is no model-name file: no lines, and nothing waits for a
// writer that never comes.
TEST(ModelLines, FifoGivesNoLinesAndDoesNotWait) {
    fs::path dir = fs::temp_directory_path() / ("qlx-dat-fifo-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path fifo = dir / "qlxsearch.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(loadModelLines(fifo.string()).empty());
    fs::remove_all(dir);
}
