#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "Launch.h"

namespace fs = std::filesystem;

TEST(NormalizeIp, TableFormToPlainDottedDecimal) {
    struct Case {
        const char *in, *want;
    } cases[] = {
        {"192.168.001.010", "192.168.1.10"},
        {"010.000.000.001", "10.0.0.1"},
        {"10.1", "10.1.0.0"},
        {"1.2.3.4.5", "1.2.3.4"},
        {"", "0.0.0.0"},
        {"1.x.3.4", "1.0.3.4"},
        {"1. 2.3.4", "1.0.3.4"},
        {"99999999999.1.1.1", "0.1.1.1"},  // too big for a number: not a number
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeIp(c.in), c.want) << c.in;
}

TEST(LaunchTexts, AddressAndParameters) {
    EXPECT_EQ(webAddress("192.168.001.010", "80"), "http://192.168.1.10:80");
    EXPECT_EQ(webAddress("010.001.002.003", "8080"), "http://10.1.2.3:8080");
    EXPECT_EQ(webAddress("192.168.001.010", ""), "http://192.168.1.10");
    EXPECT_EQ(utilityParameters("192.168.001.010", "23"), "192.168.1.10 23");
    EXPECT_EQ(utilityParameters("192.168.001.010", "2323"), "192.168.1.10 2323");
    EXPECT_EQ(utilityParameters("192.168.001.010", ""), "192.168.1.10");
}

TEST(LaunchTexts, ParametersSplitAtBlanksOnly) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitArguments("192.168.1.10 23"), (V{"192.168.1.10", "23"}));
    EXPECT_EQ(splitArguments("  a   b "), (V{"a", "b"}));
    EXPECT_EQ(splitArguments("a;rm -rf \"$HOME\""), (V{"a;rm", "-rf", "\"$HOME\""}));
    EXPECT_EQ(splitArguments(""), V{});
}

class ProgramLookup : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("qlx-find-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()
                                                ->current_test_info()
                                                ->name());
        fs::remove_all(root);
        for (auto d : {"own", "cwd", "p1", "p2"}) fs::create_directories(root / d);
        search = {(root / "own").string(), (root / "cwd").string(),
                  (root / "p1").string() + "::" + (root / "p2").string()};
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path make(const char* dir, const char* name, bool executable = true) {
        fs::path p = root / dir / name;
        std::ofstream(p) << "#!/bin/sh\n";
        fs::permissions(p, executable ? fs::perms::owner_all : fs::perms::owner_read |
                                                                   fs::perms::owner_write);
        return p;
    }

    fs::path root;
    ProgramSearch search;
};

TEST_F(ProgramLookup, OwnFolderThenCurrentFolderThenPath) {
    EXPECT_EQ(findProgram("qterm", search), "");
    make("p2", "qterm");
    EXPECT_EQ(findProgram("qterm", search), (root / "p2" / "qterm").string());
    make("p1", "qterm", false);  // on PATH only programs count
    EXPECT_EQ(findProgram("qterm", search), (root / "p2" / "qterm").string());
    make("cwd", "qterm", false);  // beside us any file counts
    EXPECT_EQ(findProgram("qterm", search), (root / "cwd" / "qterm").string());
    make("own", "qterm");
    EXPECT_EQ(findProgram("qterm", search), (root / "own" / "qterm").string());
}

TEST_F(ProgramLookup, NamesWithAFolderAndFoldersThemselves) {
    fs::create_directories(root / "cwd" / "bin");
    fs::path tool = make("cwd", "bin/tool");
    EXPECT_EQ(findProgram("bin/tool", search), tool.string());
    EXPECT_EQ(findProgram(tool.string(), search), tool.string());
    EXPECT_EQ(findProgram((root / "nothing").string(), search), "");
    fs::create_directories(root / "own" / "dir");
    EXPECT_EQ(findProgram("dir", search), "");  // a folder is never the utility
    EXPECT_EQ(findProgram("", search), "");
}

TEST_F(ProgramLookup, ProgramsRunAndOtherFilesOpen) {
    EXPECT_EQ(launchKindOf(make("own", "run").string()), LaunchKind::Program);
    EXPECT_EQ(launchKindOf(make("own", "notes.txt", false).string()), LaunchKind::Document);
}

TEST_F(ProgramLookup, RealLauncherStartsTheProgramWithItsArguments) {
    fs::copy_file(QLX_LAUNCH_PROBE, root / "own" / "probe");
    fs::path out = root / "args.txt";
    ::setenv("QLX_PROBE_OUT", out.string().c_str(), 1);

    DesktopLauncher launcher(search);
    launcher.startUtility("probe", utilityParameters("192.168.001.010", "23") + " ;$(x) 'q'");

    // Detached: the launcher has returned already; wait for the helper to finish.
    for (int i = 0; i < 200 && !fs::exists(out); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::ifstream in(out, std::ios::binary);
    std::string got{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(got, "192.168.1.10\n23\n;$(x)\n'q'\n");
    ::unsetenv("QLX_PROBE_OUT");
}
