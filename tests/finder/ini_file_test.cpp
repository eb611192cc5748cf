#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "IniFile.h"
#include "Settings.h"
#include "cp932.h"
#include "files.h"

namespace fs = std::filesystem;

namespace {

using cp932::sj;

fs::path golden(const char* name) { return fs::path(QLX_GOLDEN_DIR) / name; }

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("qlx-ini-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

}  // namespace

TEST(IniFind, LayoutRules) {
    const std::string text =
        "; port=comment\r\n"
        "[Http]\r\n"
        "  PoRt   =   8080   \r\n"
        "empty=\r\n"
        "dq=\"  spaced  \"\r\n"
        "sq='x'\r\n"
        "half=\"open\r\n"
        "mixed=\"x'\r\n"
        "eq=a=b\r\n"
        "noequals\r\n"
        "[other]\r\n"
        "port=1\n"
        "lf=only\n";
    struct Case {
        const char *section, *key;
        std::optional<std::string> want;
    } cases[] = {
        {"http", "port", "8080"},  // names without case, blanks dropped
        {"HTTP", "EMPTY", ""},     // present but empty: empty, not the default
        {"http", "dq", "  spaced  "},
        {"http", "sq", "x"},
        {"http", "half", "\"open"},  // quotes come off only in pairs
        {"http", "mixed", "\"x'"},
        {"http", "eq", "a=b"},
        {"http", "noequals", std::nullopt},
        {"http", "; port", std::nullopt},  // a comment is no key
        {"other", "port", "1"},            // same key in another section
        {"other", "lf", "only"},
        {"http", "lf", std::nullopt},
        {"missing", "port", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini::find(text, c.section, c.key), c.want) << c.section << "/" << c.key;
}

TEST(IniFind, ValueIsCutAt2047BytesOnACharacterBoundary) {
    std::string longAscii(3000, 'a');
    EXPECT_EQ(ini::find("[s]\nk=" + longAscii, "s", "k")->size(), 2047u);

    // 2046 bytes then a double-byte character: its half would be byte 2047.
    std::string mixed = std::string(2046, 'a') + sj("漢") + "zz";
    EXPECT_EQ(*ini::find("[s]\nk=" + mixed, "s", "k"), std::string(2046, 'a'));
}

TEST(IniFind, DoubleByteNamesAreNotFoldedInTheirSecondByte) {
    // Two katakana whose second bytes are "A" and "a".
    std::string a = "\x83\x41";
    std::string b = "\x83\x61";
    EXPECT_TRUE(ini::sameName("Port", "pORT"));
    EXPECT_FALSE(ini::sameName(a, b));
    EXPECT_EQ(ini::find("[" + a + "]\nk=1\n", b, "k"), std::nullopt);
    EXPECT_EQ(ini::find("[" + a + "]\nk=1\n", a, "K"), "1");
}

TEST(IniPut, ReplacesAppendsOrAddsLeavingTheRestAlone) {
    struct Case {
        const char *name, *before, *section, *key, *value, *after;
    } cases[] = {
        {"in place, spacing kept", "[a]\r\n  Key =  old  \r\n[b]\r\n", "A", "key", "new",
         "[a]\r\n  Key =  new\r\n[b]\r\n"},
        {"end of section, before its blank lines", "[a]\nx=1\n\n[b]\ny=2\n", "a", "k", "v",
         "[a]\nx=1\nk=v\n\n[b]\ny=2\n"},
        {"last line without a break", "[a]\r\nx=1", "a", "k", "v", "[a]\r\nx=1\r\nk=v\r\n"},
        {"new section at the end", "; c\n[a]\nx=1", "b", "k", "v", "; c\n[a]\nx=1\n[b]\nk=v\n"},
        {"empty file", "", "s", "k", "v", "[s]\r\nk=v\r\n"},
        {"empty value", "[s]\nk=1\n", "s", "k", "", "[s]\nk=\n"},
        {"line break in a value ends it", "", "s", "k", "a\r\nb=c", "[s]\r\nk=a\r\n"},
        {"only the first section of a name", "[s]\nk=1\n[S]\nk=2\n", "s", "k", "9",
         "[s]\nk=9\n[S]\nk=2\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini::put(c.before, c.section, c.key, c.value), c.after) << c.name;
}

TEST_F(TempDir, GoldenFileReadsAsWritten) {
    FinderSettings s = readSettings(golden("settings_before.ini").string());
    EXPECT_EQ(s.WebPort, "8 0");  // held exactly as read
    EXPECT_EQ(s.UtilityName, sj("TELNET接続"));
    EXPECT_EQ(s.UtilityPort, "2323");
    EXPECT_EQ(s.UtilityFile, "qterm");
    EXPECT_EQ(s.UtilityCheck, "1");  // missing key: default
    EXPECT_EQ(s.SortKey, sj("稼働時間"));
    EXPECT_EQ(s.TestMode, "1");
}

TEST_F(TempDir, SaveIntoAnEditedFileKeepsEveryOtherByte) {
    fs::path file = dir / "qlxsearch.Ini";
    fs::copy_file(golden("settings_before.ini"), file);
    UtilityFields panel{sj("端末"), "2 3", "/opt/qlx/bin/qterm", false};
    saveSettings(file.string(), saveEntries(panel, "8080", sj("IPアドレス")));
    EXPECT_EQ(bytesOf(file), bytesOf(golden("settings_after.ini")));
}

TEST_F(TempDir, FirstSaveCreatesSectionsInSaveOrder) {
    fs::path file = dir / "sub" / "qlxsearch.Ini";  // the folder is made as well
    const FinderSettings d = FinderSettings::defaults();
    UtilityFields panel{d.UtilityName, d.UtilityPort, d.UtilityFile, true};
    saveSettings(file.string(), saveEntries(panel, d.WebPort, d.SortKey));
    EXPECT_EQ(bytesOf(file), bytesOf(golden("settings_new.ini")));
}

TEST_F(TempDir, MissingFileReadsDefaultsAndIsNotCreatedByReading) {
    fs::path file = dir / "none.Ini";
    FinderSettings s = readSettings(file.string());
    FinderSettings d = FinderSettings::defaults();
    EXPECT_EQ(s.WebPort, d.WebPort);
    EXPECT_EQ(s.UtilityName, d.UtilityName);
    EXPECT_EQ(s.UtilityFile, "qterm");
    EXPECT_EQ(s.SortKey, d.SortKey);
    EXPECT_EQ(s.TestMode, "0");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(TempDir, UnwritableFileGivesTheMessage) {
    fs::path file = dir / "qlxsearch.Ini";
    fs::create_directory(file);  // a folder where the file should be: no write can succeed
    try {
        saveSettings(file.string(), saveEntries({}, "80", "x"));
        FAIL() << "no error";
    } catch (const SettingsError& e) {
        EXPECT_EQ(e.what(), cp932::fromUtf8(file.string() + " に書き込めません"));
    }
}

TEST(SaveSettings, StopsAtTheFirstKeyThatFails) {
    std::vector<std::string> tried;
    auto writer = [&](const std::string& s, const std::string& k, const std::string&) {
        tried.push_back(s + "/" + k);
        return tried.size() < 3;
    };
    UtilityFields panel{"n", "8a0", "f", true};
    EXPECT_THROW(saveSettings("/x/q.Ini", saveEntries(panel, "80", "s"), writer), SettingsError);
    EXPECT_EQ(tried, (std::vector<std::string>{"utility/name", "utility/port", "utility/file"}));
}

TEST(SaveSettings, WritesSixKeysInOrderAndNeverTestmode) {
    UtilityFields panel{"n", "8a0", "f", false};
    auto entries = saveEntries(panel, "8 0", "sort");
    std::vector<std::string> got;
    for (const auto& e : entries) got.push_back(e.section + "/" + e.key + "=" + e.value);
    EXPECT_EQ(got, (std::vector<std::string>{"utility/name=n", "utility/port=80", "utility/file=f",
                                             "utility/check=0", "http/port=8 0",
                                             "system/sort=sort"}));
}

// Whatever ends the file's lines, a key that is written reads back, next to the keys
// that were there.
TEST(IniPut, WrittenValueReadsBackWhateverEndsTheLines) {
    struct Case {
        const char* name;
        std::string before, after;  // after: "" when only the read-back is checked
    } cases[] = {
        {"bare CRs after the header", "[utility]\r\r", "[utility]\rfile=v\r\r"},
        {"bare CRs throughout", "[a]\rx=1\r[utility]\rname=n\r\r[b]\ry=2\r",
         "[a]\rx=1\r[utility]\rname=n\rfile=v\r\r[b]\ry=2\r"},
        {"CR LF file with a stray CR", "[utility]\r\nname=n\r\r\n", ""},
        {"LF", "[utility]\nname=n\n", "[utility]\nname=n\nfile=v\n"},
        {"no line end at all", "[utility]", "[utility]\r\nfile=v\r\n"},
        {"key already there, CR ended", "[utility]\rfile=old\rname=n\r", "[utility]\rfile=v\rname=n\r"},
        {"section missing, CR ended", "[a]\rx=1\r", "[a]\rx=1\r[utility]\rfile=v\r"},
    };
    for (const auto& c : cases) {
        const std::string out = ini::put(c.before, "utility", "file", "v");
        if (!c.after.empty()) {
            EXPECT_EQ(out, c.after) << c.name;
        }
        EXPECT_EQ(ini::find(out, "utility", "file"), "v") << c.name;
        for (auto [section, key] : {std::pair{"utility", "name"}, {"a", "x"}, {"b", "y"}})
            EXPECT_EQ(ini::find(out, section, key), ini::find(c.before, section, key)) << c.name;
    }
}

namespace {

// The system's calls, with the writes failing after `allow` bytes (a full disk) or the
// flush or the reads failing.
struct FailingOps {
    std::size_t allow = std::string::npos;
    bool failSync = false, failRead = false;
    bool once = false;  // the write fails once, then the disk takes writes again
    FileOps ops() {
        FileOps o = FileOps::system();
        o.write = [this](int fd, const void* b, std::size_t n) -> ssize_t {
            if (allow == 0) {
                if (once) allow = std::string::npos;
                return errno = ENOSPC, -1;
            }
            n = std::min(n, allow);
            if (allow != std::string::npos) allow -= n;
            return ::write(fd, b, n);
        };
        o.fsync = [this](int fd) { return failSync ? (errno = EIO, -1) : ::fsync(fd); };
        o.read = [this](int fd, void* b, std::size_t n) -> ssize_t {
            return failRead ? (errno = EACCES, -1) : ::read(fd, b, n);
        };
        return o;
    }
};

}  // namespace

// A write that cannot finish leaves the old file whole (comments, testmode and the
// other sections included), leaves no temporary file behind and is reported.
TEST_F(TempDir, FailedWriteLeavesTheOldFileWhole) {
    const fs::path file = dir / "qlxsearch.Ini";
    const std::string before = bytesOf(golden("settings_before.ini"));
    struct Case {
        const char* name;
        FailingOps fault;
    } cases[] = {
        {"nothing written", {0}},
        {"short write", {10}},
        {"flush fails", {std::string::npos, true}},
    };
    for (auto& c : cases) {
        writeBytes(file, before);
        IniFile ini(file.string(), c.fault.ops());
        EXPECT_FALSE(ini.write("utility", "name", "x")) << c.name;
        EXPECT_EQ(bytesOf(file), before) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << c.name;
        try {
            saveSettings(file.string(), saveEntries({}, "80", "x"), {}, c.fault.ops());
            ADD_FAILURE() << c.name << ": no error";
        } catch (const SettingsError& e) {
            EXPECT_EQ(e.what(), cp932::fromUtf8(file.string() + " に書き込めません")) << c.name;
        }
        EXPECT_EQ(bytesOf(file), before) << c.name;
    }
}

// A settings path that is a link stays a link and its target takes the new text; the
// target keeps its mode and owner.
TEST_F(TempDir, WriteGoesThroughALinkAndKeepsModeAndOwner) {
    fs::create_directory(dir / "real");
    const fs::path target = dir / "real" / "settings.ini", link = dir / "qlxsearch.Ini";
    writeBytes(target, "; mine\r\n[system]\r\ntestmode=1\r\n");
    fs::permissions(target, fs::perms(0640));
    ASSERT_EQ(::chown(target.c_str(), 12345, 23456), 0);  // tests run as root
    fs::create_symlink("real/settings.ini", link);          // relative, as people make them

    ASSERT_TRUE(IniFile(link.string()).write("http", "port", "8080"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(bytesOf(target), "; mine\r\n[system]\r\ntestmode=1\r\n[http]\r\nport=8080\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), fs::directory_iterator()), 1);
}

// A settings file that is there but cannot be read gives the defaults and a message,
// and no write may replace it: its text would be lost. A FIFO must not hold the reader
// in open() waiting for a writer.
TEST_F(TempDir, UnreadableFolderOrFifoReadsDefaultsWithAMessageAndIsNotOverwritten) {
    const fs::path file = dir / "qlxsearch.Ini";
    const std::string before = "[http]\r\nport=8080\r\n";
    FailingOps refused;
    refused.failRead = true;
    enum class Kind { RefusedRead, Folder, Fifo };
    struct Case {
        const char* name;
        Kind kind;
    } cases[] = {{"refused read", Kind::RefusedRead}, {"folder", Kind::Folder}, {"fifo", Kind::Fifo}};
    for (const auto& c : cases) {
        fs::remove_all(file);
        switch (c.kind) {
        case Kind::RefusedRead: writeBytes(file, before); break;
        case Kind::Folder: fs::create_directory(file); break;
        case Kind::Fifo: ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); break;
        }
        const FileOps ops = c.kind == Kind::RefusedRead ? refused.ops() : FileOps::system();
        std::string error;
        FinderSettings s = readSettings(file.string(), &error, ops);
        EXPECT_EQ(s.WebPort, "80") << c.name;
        EXPECT_EQ(error, cp932::fromUtf8("ファイル " + file.string() + " は開けません")) << c.name;
        EXPECT_FALSE(IniFile(file.string(), ops).write("http", "port", "1")) << c.name;
        if (c.kind == Kind::RefusedRead) {
            EXPECT_EQ(bytesOf(file), before);
        }
        if (c.kind == Kind::Fifo) {
            EXPECT_TRUE(fs::is_fifo(file)) << "the FIFO stays as it was";
        }
    }
    std::string error;
    readSettings((dir / "missing.Ini").string(), &error);
    EXPECT_EQ(error, "") << "a missing file is no error";
}

// A file that may be written in a folder that takes no new file (installed beside the
// program, made writable for its users) is rewritten in place, and a write that fails
// there puts the old text back.
TEST_F(TempDir, FolderWithoutNewFilesIsWrittenInPlace) {
    const fs::path file = dir / "qlxsearch.Ini";
    const std::string before = "; keep\r\n[http]\r\nport=80\r\n";
    FailingOps full;
    for (std::size_t allow : {std::string::npos, std::size_t(8)}) {
        writeBytes(file, before);
        full.allow = allow;
        full.once = true;
        FileOps ops = full.ops();
        const auto open = ops.open;
        ops.open = [open](const char* p, int flags, mode_t mode) {
            return flags & O_CREAT ? (errno = EACCES, -1) : open(p, flags, mode);
        };
        const bool ok = IniFile(file.string(), ops).write("http", "port", "8080");
        EXPECT_EQ(ok, allow == std::string::npos);
        EXPECT_EQ(bytesOf(file), ok ? "; keep\r\n[http]\r\nport=8080\r\n" : before);
    }
}

// A settings file beside the program that this user may not write is the seed: its values
// start a user who has no file yet, and the first save into the user's own file starts
// from its text, so what the save never writes (testmode, a comment) is kept. From then
// on the user's own file is what counts.
TEST_F(TempDir, SeedFileStartsTheUsersOwnFile) {
    const fs::path seed = dir / "beside.Ini", own = dir / "config" / "qlxsearch" / "qlxsearch.Ini";
    const std::string seedText = "; site defaults\r\n[http]\r\nport=8080\r\n[system]\r\ntestmode=1\r\n";
    writeBytes(seed, seedText);
    const SettingsPaths paths{own.string(), "", seed.string()};

    std::string error;
    FinderSettings s = readSettings(paths, &error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(s.WebPort, "8080");
    EXPECT_EQ(s.TestMode, "1");

    saveSettings(own.string(), saveEntries({"T", "23", "qterm", true}, "8081", "S"), {}, FileOps::system(),
                 seed.string());
    EXPECT_EQ(bytesOf(seed), seedText) << "the seed is only read";
    const std::string ownText = bytesOf(own);
    EXPECT_EQ(ownText.rfind("; site defaults\r\n", 0), 0u) << ownText;
    EXPECT_NE(ownText.find("port=8081\r\n"), std::string::npos) << ownText;
    EXPECT_NE(ownText.find("testmode=1\r\n"), std::string::npos) << ownText;

    // The user's own file now wins over the seed, whatever the seed says later.
    writeBytes(seed, "[http]\r\nport=9999\r\n");
    EXPECT_EQ(readSettings(paths).WebPort, "8081");
    saveSettings(own.string(), saveEntries({"T", "23", "qterm", true}, "8082", "S"), {}, FileOps::system(),
                 seed.string());
    EXPECT_EQ(bytesOf(own).find("9999"), std::string::npos);

    // A seed that cannot be read is said like any unreadable settings file.
    fs::remove_all(own.parent_path());
    fs::remove(seed);
    fs::create_directory(seed);
    readSettings(paths, &error);
    EXPECT_EQ(error, cp932::fromUtf8("ファイル " + seed.string() + " は開けません"));
}
