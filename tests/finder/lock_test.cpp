#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "InstanceLock.h"
#include "files.h"

namespace fs = std::filesystem;

namespace {

// Each test its own runtime folder, set as XDG_RUNTIME_DIR (with QLX_LOCK_DIR unset).
class LockFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qlx-lockfile-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        if (const char* v = std::getenv("QLX_LOCK_DIR"))
            savedLockDir = v;
        ::unsetenv("QLX_LOCK_DIR");
        if (const char* v = std::getenv("XDG_RUNTIME_DIR"))
            savedRuntime = v;
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        lock = dir / "zqh0003.lock";
    }
    void TearDown() override {
        fs::remove_all(dir);
        if (savedLockDir)
            ::setenv("QLX_LOCK_DIR", savedLockDir->c_str(), 1);
        if (savedRuntime)
            ::setenv("XDG_RUNTIME_DIR", savedRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }
    static mode_t modeOf(const fs::path& p) {
        struct stat st {};
        ::lstat(p.c_str(), &st);
        return st.st_mode & 07777;
    }

    fs::path dir, lock;
    std::optional<std::string> savedLockDir, savedRuntime;
};

}  // namespace

TEST(LockPath, UserRuntimeFolderElsePerUserNameInTmp) {
    struct Case {
        std::map<std::string, std::string> env;
        std::string want;
    } cases[] = {
        {{{"XDG_RUNTIME_DIR", "/run/user/1000"}}, "/run/user/1000/zqh0003.lock"},
        {{{"XDG_RUNTIME_DIR", ""}}, "/tmp/zqh0003-1000.lock"},
        {{}, "/tmp/zqh0003-1000.lock"},
        {{{"QLX_LOCK_DIR", "/t/l"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}, "/t/l/zqh0003.lock"},
    };
    for (const auto& c : cases) {
        auto env = [&](const char* name) -> const char* {
            auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(InstanceLock::pathFor("zqh0003", 1000, env), c.want);
    }
}

TEST_F(LockFile, NewFileIsPrivateAnExistingOnesModeIsLeftAndASecondHolderIsRefusedSilently) {
    const mode_t mask = ::umask(0);
    {
        InstanceLock first("zqh0003");
        EXPECT_TRUE(first.acquired());
        EXPECT_TRUE(first.guarded());
        EXPECT_EQ(modeOf(lock), 0600u);

        ::testing::internal::CaptureStderr();
        InstanceLock second("zqh0003");
        EXPECT_FALSE(second.acquired());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
    fs::permissions(lock, fs::perms(0644));
    InstanceLock again("zqh0003");
    EXPECT_TRUE(again.acquired());
    EXPECT_EQ(modeOf(lock), 0644u) << "the lock never changes a mode";
    ::umask(mask);
}

// What another user could leave at the path: the finder runs unguarded and says so,
// and nothing it finds there is followed, changed or locked.
TEST_F(LockFile, UntrustedFileAtThePathIsNotUsed) {
    const fs::path target = dir / "victim";
    struct Case {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"symlink", [&] {
             writeBytes(target, "keep");
             fs::permissions(target, fs::perms(0640));
             fs::create_symlink(target, lock);
         }},
        {"dangling symlink", [&] { fs::create_symlink(dir / "nowhere", lock); }},
        {"another user's file", [&] {
             writeBytes(lock, "");
             ASSERT_EQ(::chown(lock.c_str(), 12345, 12345), 0);
         }},
        {"fifo", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }},
        {"folder", [&] { fs::create_directory(lock); }},
    };
    for (const auto& c : cases) {
        fs::remove_all(lock);
        fs::remove_all(target);
        fs::remove_all(dir / "nowhere");
        c.plant();
        const mode_t before = modeOf(lock);
        ::testing::internal::CaptureStderr();
        {
            InstanceLock l("zqh0003");
            EXPECT_TRUE(l.acquired()) << c.name;
            EXPECT_FALSE(l.guarded()) << c.name;
            InstanceLock other("zqh0003");
            EXPECT_TRUE(other.acquired()) << c.name << ": nothing is locked through it";
        }
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(lock.string()), std::string::npos) << c.name << ": " << err;
        EXPECT_NE(err.find("without the single-instance guard"), std::string::npos) << c.name;
        EXPECT_EQ(modeOf(lock), before) << c.name;
        if (std::string(c.name) == "symlink") {
            EXPECT_EQ(modeOf(target), 0640u);
            EXPECT_EQ(bytesOf(target), "keep");
        }
        EXPECT_FALSE(fs::exists(dir / "nowhere")) << c.name << ": a link's target is not created";
    }
}
