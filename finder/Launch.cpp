#include "Launch.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "cp932.h"

namespace {

// Optional sign and decimal digits that fit 32 bits; anything else reads as 0.
long long decimalOrZero(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return 0;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return 0;
    }
    v = negative ? -v : v;
    return (v < INT_MIN || v > INT_MAX) ? 0 : v;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isExecutableFile(const std::string& path) {
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string NormalizeIp(std::string_view tableIp) {
    std::string rest = std::string(tableIp) + ".";
    std::string out;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = rest.find('.');
        std::string_view piece = dot == std::string::npos ? std::string_view(rest)
                                                          : std::string_view(rest).substr(0, dot);
        out += std::to_string(decimalOrZero(piece)) + ".";
        rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
    }
    out.pop_back();
    return out;
}

std::string webAddress(std::string_view tableIp, std::string_view webPort) {
    std::string url = "http://" + NormalizeIp(tableIp);
    if (!webPort.empty()) url += ":" + std::string(webPort);
    return url;
}

std::string utilityParameters(std::string_view tableIp, std::string_view utilityPort) {
    std::string params = NormalizeIp(tableIp);
    if (!utilityPort.empty()) params += " " + std::string(utilityPort);
    return params;
}

std::vector<std::string> splitArguments(std::string_view parameters) {
    std::vector<std::string> args;
    std::size_t pos = 0;
    while (pos < parameters.size()) {
        std::size_t start = parameters.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        std::size_t end = parameters.find(' ', start);
        if (end == std::string_view::npos) end = parameters.size();
        args.emplace_back(parameters.substr(start, end - start));
        pos = end;
    }
    return args;
}

ProgramSearch ProgramSearch::system() {
    ProgramSearch s;
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        std::string exe(buf, static_cast<std::size_t>(n));
        auto slash = exe.rfind('/');
        s.ownFolder = slash == std::string::npos ? "" : exe.substr(0, slash);
    }
    if (::getcwd(buf, sizeof buf)) s.currentFolder = buf;
    if (const char* p = std::getenv("PATH")) s.path = p;
    return s;
}

std::string findProgram(std::string_view name, const ProgramSearch& search) {
    // The configured name is CP932 text; the file system takes UTF-8.
    const std::string file = cp932::toUtf8(name);
    if (file.empty()) return "";
    if (file.find('/') != std::string::npos) {
        std::string full = file.front() == '/' ? file : joinPath(search.currentFolder, file);
        return isRegularFile(full) ? full : "";
    }
    for (const std::string& folder : {search.ownFolder, search.currentFolder}) {
        if (folder.empty()) continue;
        std::string full = joinPath(folder, file);
        if (isRegularFile(full)) return full;
    }
    std::size_t pos = 0;
    while (pos <= search.path.size()) {
        std::size_t colon = search.path.find(':', pos);
        if (colon == std::string::npos) colon = search.path.size();
        std::string folder = search.path.substr(pos, colon - pos);
        // An empty PATH entry means the current folder, which was tried already.
        if (!folder.empty()) {
            std::string full = joinPath(folder, file);
            if (isExecutableFile(full)) return full;
        }
        pos = colon + 1;
    }
    return "";
}

LaunchKind launchKindOf(const std::string& file) {
    return isExecutableFile(file) ? LaunchKind::Program : LaunchKind::Document;
}
