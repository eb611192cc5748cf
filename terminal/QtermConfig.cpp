#include "QtermConfig.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "IniFile.h"

std::string qtermSettingsPath(const char* xdgConfigHome, const char* home) {
    if (xdgConfigHome && xdgConfigHome[0] == '/')
        return std::string(xdgConfigHome) + "/qterm/qterm.ini";
    if (home && home[0])
        return std::string(home) + "/.config/qterm/qterm.ini";
    return {};
}

LogSettings readLogSettings(const std::string& iniPath, const char* home, std::string* warning) {
    LogSettings s;
    if (iniPath.empty())
        return s;
    std::string text;
    if (IniFile(iniPath).load(text) == IniFile::Load::Unreadable && warning)
        *warning = "qterm: " + iniPath + " is not a readable file; its settings are not used";
    auto get = [&](const char* section, const char* key) { return ini::find(text, section, key).value_or(""); };
    s.dir = get("log", "dir");
    if (s.dir.rfind("~/", 0) == 0 && home && home[0])
        s.dir = std::string(home) + s.dir.substr(1);
    std::string t = get("log", "timestamps");
    for (char& c : t)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    s.timestamps = t == "1" || t == "true" || t == "yes" || t == "on";
    return s;
}

PasteSettings readPasteSettings(const std::string& iniPath) {
    PasteSettings s;
    if (iniPath.empty())
        return s;
    IniFile f(iniPath);
    const std::string confirm = f.read("paste", "confirm", "");
    if (ini::sameName(confirm, "large"))
        s.confirm = PasteConfirm::Large;
    else if (ini::sameName(confirm, "never"))
        s.confirm = PasteConfirm::Never;
    const std::string delay = f.read("paste", "line_delay_ms", "");
    long long ms = 0;
    const auto [end, error] = std::from_chars(delay.data(), delay.data() + delay.size(), ms);
    if (end == delay.data() + delay.size() && !delay.empty() && delay[0] != '-') {
        // Too large to convert is too large to mean anything but the longest delay.
        if (error == std::errc::result_out_of_range || (error == std::errc() && ms > kMaxLineDelayMs))
            s.lineDelayMs = kMaxLineDelayMs;
        else if (error == std::errc())
            s.lineDelayMs = int(ms);
    }
    return s;
}

SessionSettings readSessionSettings(const std::string& iniPath) {
    SessionSettings s;
    if (iniPath.empty())
        return s;
    const std::string v = IniFile(iniPath).read("session", "reconnect", "");
    s.reconnect = ini::sameName(v, "1") || ini::sameName(v, "true") || ini::sameName(v, "yes") ||
                  ini::sameName(v, "on");
    return s;
}

std::string sessionLogPath(const std::string& dir, const std::string& host, int port,
                           std::chrono::system_clock::time_point start) {
    std::string name;
    for (unsigned char c : host)
        name += (std::isalnum(c) || c == '.' || c == '-' || c == ':') ? static_cast<char>(c) : '_';
    const std::time_t tt = std::chrono::system_clock::to_time_t(start);
    std::tm tm{};
    ::localtime_r(&tt, &tm);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "_%d_%04d%02d%02d-%02d%02d%02d.log", port, tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string path = dir;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + name + stamp;
}
