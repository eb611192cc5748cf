#include "Launch.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
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
    return findOnPath(file, search.path);
}

std::string findOnPath(const std::string& name, const std::string& path) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t colon = path.find(':', pos);
        if (colon == std::string::npos) colon = path.size();
        std::string folder = path.substr(pos, colon - pos);
        // An empty PATH entry means the current folder, which a program search tried already.
        if (!folder.empty()) {
            std::string full = joinPath(folder, name);
            if (isExecutableFile(full)) return full;
        }
        pos = colon + 1;
    }
    return "";
}

int startChild(const std::string& path, const std::vector<std::string>& args, int& pid) {
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child starts with no signal blocked, whatever the thread that starts it blocks.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t child = -1;
    const int err = ::posix_spawn(&child, path.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    pid = err == 0 ? child : -1;
    return err;
}

namespace {

using cp932::sj;

// The failed start's errno as the box says it; the system's own text follows in brackets.
struct StartReason {
    int code;
    const char* text;
};
constexpr StartReason kStartReasons[] = {
    {EACCES, "実行が許可されていません"},
    {ENOENT, "ファイルまたはそのインタープリターが見つかりません"},
    {ENOEXEC, "実行できる形式ではありません"},
    {ETXTBSY, "ファイルが書き込み中です"},
};

std::string startReason(int code) {
    const char* text = "起動できません";
    for (const StartReason& r : kStartReasons)
        if (r.code == code) text = r.text;
    // The untranslated text: the box's bytes are CP932, whatever the locale's messages are.
    const char* system = ::strerrordesc_np(code);
    return sj(text) + " (" + (system ? system : "errno " + std::to_string(code)) + ")" + sj("。");
}

}  // namespace

std::string launchFailureText(const LaunchFailure& f) {
    using W = LaunchFailure::What;
    using C = LaunchFailure::Cause;
    std::string head;
    switch (f.what) {
    case W::WebPage: head = sj("ブラウザで ") + f.target + sj(" を開けませんでした。"); break;
    case W::Program: head = sj("プログラム ") + f.target + sj(" を起動できませんでした。"); break;
    case W::Document: head = sj("ファイル ") + f.target + sj(" を開けませんでした。"); break;
    }
    std::string why;
    switch (f.cause) {
    case C::NotFound: why = sj("ファイルが見つかりません。"); break;
    case C::BadAddress: why = sj("アドレスが URL の形になっていません。"); break;
    case C::OpenerMissing:
        why = sj("xdg-open が見つかりません（xdg-utils パッケージが必要です）。");
        break;
    case C::OpenerFailed: why = sj("xdg-open が終了コード ") + std::to_string(f.code) + sj(" で終了しました。"); break;
    case C::OpenerKilled: why = sj("xdg-open がシグナル ") + std::to_string(f.code) + sj(" で終了しました。"); break;
    case C::StartFailed: why = startReason(f.code); break;
    }
    return head + "\r\r" + why;
}

LaunchKind launchKindOf(const std::string& file) {
    return isExecutableFile(file) ? LaunchKind::Program : LaunchKind::Document;
}
