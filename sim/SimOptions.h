#pragma once
// The command-line pieces both simulators share: a bad option is one line and a pointer to
// --help, numbers are whole and small, and --help's text reaches stdout or the status says not.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace simoptions {

// One line naming the fault and the hint; the status for a bad command line.
inline int usageError(const char* program, const std::string& fault) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, fault.c_str(), program);
    return 2;
}

// A whole number from 0 to 1000000, or false.
inline bool number(const char* text, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < 0 || v > 1000000)
        return false;
    out = static_cast<int>(v);
    return true;
}

// The usage on stdout: 0, or 2 when it could not be written.
inline int help(const char* usage) {
    std::fputs(usage, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
}

}  // namespace simoptions
