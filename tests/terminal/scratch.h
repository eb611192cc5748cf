#pragma once
// A private folder and environment settings that last for one test.
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <string>

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char t[] = "/tmp/qterm-test-XXXXXX";
        path = ::mkdtemp(t);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// TZ takes effect at once: the tests pin the local time zone with it.
struct EnvVar {
    std::string name, old;
    bool had;
    EnvVar(const char* n, const std::string& value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        old = o ? o : "";
        ::setenv(n, value.c_str(), 1);
        ::tzset();
    }
    ~EnvVar() {
        had ? ::setenv(name.c_str(), old.c_str(), 1) : ::unsetenv(name.c_str());
        ::tzset();
    }
};
