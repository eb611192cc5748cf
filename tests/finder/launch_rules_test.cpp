#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "Launch.h"
#include "children.h"
#include "cp932.h"
#include "../waituntil.h"

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

TEST(LaunchFailureText, NamesWhatAndWhy) {
    using W = LaunchFailure::What;
    using C = LaunchFailure::Cause;
    using cp932::sj;
    struct Case {
        LaunchFailure failure;
        const char* want;  // UTF-8; a CR pair for the blank line
    } cases[] = {
        {{W::WebPage, "http://10.1.2.3:80", C::OpenerFailed, 4},
         "ブラウザで http://10.1.2.3:80 を開けませんでした。\r\rxdg-open が終了コード 4 で終了しました。"},
        {{W::WebPage, "http://10.1.2.3:8 0", C::BadAddress},
         "ブラウザで http://10.1.2.3:8 0 を開けませんでした。\r\rアドレスが URL の形になっていません。"},
        {{W::WebPage, "http://10.1.2.3", C::OpenerMissing},
         "ブラウザで http://10.1.2.3 を開けませんでした。\r\rxdg-open が見つかりません（xdg-utils パッケージが必要です）。"},
        {{W::Program, "qterm", C::NotFound}, "プログラム qterm を起動できませんでした。\r\rファイルが見つかりません。"},
        {{W::Program, "/opt/tool", C::StartFailed, EACCES},
         "プログラム /opt/tool を起動できませんでした。\r\r実行が許可されていません (Permission denied)。"},
        {{W::Program, "/opt/tool", C::StartFailed, EIO},
         "プログラム /opt/tool を起動できませんでした。\r\r起動できません (Input/output error)。"},
        {{W::Document, "notes.txt", C::OpenerKilled, 9},
         "ファイル notes.txt を開けませんでした。\r\rxdg-open がシグナル 9 で終了しました。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cp932::toUtf8(launchFailureText(c.failure)), c.want) << c.want;
    // The configured bytes are kept as they are: a CP932 name shows as itself.
    EXPECT_NE(launchFailureText({W::Program, sj("端末"), C::NotFound}).find(sj("端末")), std::string::npos);
}

// The real launcher against a fake xdg-open on its PATH: what the opener gets, and which
// ends of it are failures. Each launch is waited for until it has been reaped, so a
// failure that came late would still be seen.
TEST_F(ProgramLookup, WebPageGoesToXdgOpenWhoseFailureIsTold) {
    const fs::path got = root / "opened.txt";
    struct Case {
        const char* name;
        const char* opener;  // script body, nullptr: no xdg-open at all
        bool executable;
        const char* url;
        std::optional<LaunchFailure::Cause> cause;
        int code;
        const char* opened;  // what the opener was given, "" when it did not run
    } cases[] = {
        {"opens", "exit 0", true, "http://10.1.2.3:8080", std::nullopt, 0, "http://10.1.2.3:8080\n"},
        {"exits 1", "exit 1", true, "http://10.1.2.3", LaunchFailure::Cause::OpenerFailed, 1, "http://10.1.2.3\n"},
        {"killed", "kill -9 $$", true, "http://10.1.2.3", LaunchFailure::Cause::OpenerKilled, 9, "http://10.1.2.3\n"},
        {"none on PATH", nullptr, true, "http://10.1.2.3", LaunchFailure::Cause::OpenerMissing, 0, ""},
        {"not executable", "exit 0", false, "http://10.1.2.3", LaunchFailure::Cause::OpenerMissing, 0, ""},
        {"not a URL", "exit 0", true, "http://10.1.2.3:8 0", LaunchFailure::Cause::BadAddress, 0, ""},
    };
    for (const Case& c : cases) {
        fs::remove(root / "p2" / "xdg-open");
        fs::remove(got);
        if (c.opener) {
            std::ofstream(root / "p2" / "xdg-open")
                << "#!/bin/sh\necho \"$@\" > '" << got.string() << "'\n" << c.opener << "\n";
            fs::permissions(root / "p2" / "xdg-open",
                            c.executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
        }
        std::vector<LaunchFailure> failed;
        DesktopLauncher launcher(search);
        launcher.OnFailed = [&](const LaunchFailure& f) { failed.push_back(f); };
        const auto before = unreapedChildren();
        launcher.openUrl(c.url);
        ASSERT_TRUE(waitUntil([&] { return reapedAllBut(before); }, 10000)) << c.name;
        std::ifstream in(got, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), c.opened)
            << c.name;
        if (!c.cause) {
            EXPECT_TRUE(failed.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(failed.size(), 1u) << c.name;
        EXPECT_EQ(failed[0].what, LaunchFailure::What::WebPage) << c.name;
        EXPECT_EQ(failed[0].target, c.url) << c.name;
        EXPECT_EQ(failed[0].cause, *c.cause) << c.name;
        EXPECT_EQ(failed[0].code, c.code) << c.name;
    }
}

// The utility: gone, not startable, a file that is opened instead, and one that runs.
TEST_F(ProgramLookup, UtilityThatCannotStartIsTold) {
    fs::copy_file(QLX_LAUNCH_PROBE, root / "own" / "probe");
    const fs::path out = root / "args.txt";
    ::setenv("QLX_PROBE_OUT", out.string().c_str(), 1);
    std::ofstream(root / "p2" / "xdg-open") << "#!/bin/sh\nexit 3\n";
    fs::permissions(root / "p2" / "xdg-open", fs::perms::owner_all);
    auto script = [&](const char* name, const char* body) {
        std::ofstream(root / "own" / name) << body;
        fs::permissions(root / "own" / name, fs::perms::owner_all);
    };
    script("garbage", "not a program\n");
    script("nointerp", "#!/nonexistent/sh\n");
    std::ofstream(root / "own" / "notes.txt") << "text\n";

    using W = LaunchFailure::What;
    using C = LaunchFailure::Cause;
    struct Case {
        const char* file;
        std::optional<LaunchFailure> want;
    } cases[] = {
        {"probe", std::nullopt},
        {"gone", LaunchFailure{W::Program, "gone", C::NotFound}},
        {"garbage", LaunchFailure{W::Program, "garbage", C::StartFailed, ENOEXEC}},
        {"nointerp", LaunchFailure{W::Program, "nointerp", C::StartFailed, ENOENT}},
        {"notes.txt", LaunchFailure{W::Document, "notes.txt", C::OpenerFailed, 3}},
    };
    for (const Case& c : cases) {
        std::vector<LaunchFailure> failed;
        DesktopLauncher launcher(search);
        launcher.OnFailed = [&](const LaunchFailure& f) { failed.push_back(f); };
        const auto before = unreapedChildren();
        launcher.startUtility(c.file, "10.1.2.3 23");
        ASSERT_TRUE(waitUntil([&] { return reapedAllBut(before); }, 10000)) << c.file;
        if (!c.want) {
            EXPECT_TRUE(failed.empty()) << c.file;
            EXPECT_TRUE(fs::exists(out)) << c.file;
            continue;
        }
        ASSERT_EQ(failed.size(), 1u) << c.file;
        EXPECT_EQ(failed[0].what, c.want->what) << c.file;
        EXPECT_EQ(failed[0].target, c.want->target) << c.file;
        EXPECT_EQ(failed[0].cause, c.want->cause) << c.file;
        EXPECT_EQ(failed[0].code, c.want->code) << c.file;
    }
    ::unsetenv("QLX_PROBE_OUT");
}
