#include "Settings.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "IniFile.h"
#include "cp932.h"

FinderSettings FinderSettings::defaults() {
    FinderSettings s;
    s.UtilityName = cp932::fromUtf8("TELNET接続");
    s.SortKey = cp932::fromUtf8("稼働時間");
    return s;
}

std::string DigitsOnly(std::string_view text) {
    std::string digits;
    for (std::size_t i = 0; i < text.size() && i < 255; ++i) {
        char c = text[i];
        if (c == '\0' || c == '\r') break;
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits;
}

namespace {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p; an existing folder is fine.
bool makeFolders(const std::string& folder) {
    if (folder.empty() || folder == "/" || folder == ".") return true;
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!makeFolders(folderOf(folder))) return false;
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string envOr(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

PathProbe PathProbe::system() {
    PathProbe p;
    p.fileExists = isRegularFile;
    p.fileWritable = [](const std::string& file) { return ::access(file.c_str(), W_OK) == 0; };
    p.folderWritable = [](const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; };
    p.xdgConfigHome = envOr("XDG_CONFIG_HOME");
    p.home = envOr("HOME");
    return p;
}

std::string withExtension(const std::string& path, std::string_view ext) {
    std::size_t nameStart = path.rfind('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    std::size_t dot = path.rfind('.');
    // A dot in a folder name or leading a hidden file's name is no extension.
    if (dot == std::string::npos || dot <= nameStart) return path + std::string(ext);
    return path.substr(0, dot) + std::string(ext);
}

namespace {

// The settings file: beside the executable, or in the user's configuration folder.
SettingsPaths settingsPlace(const std::string& executable, const PathProbe& probe) {
    SettingsPaths beside{withExtension(executable, ".Ini"), withExtension(executable, ".dat")};
    // A file another user made there (root, say) stays theirs: this user's saves would
    // fail, and every user would share one set of settings.
    const bool there = probe.fileExists(beside.settingsFile);
    if (there ? probe.fileWritable(beside.settingsFile) : probe.folderWritable(folderOf(executable)))
        return beside;
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    std::string base = probe.xdgConfigHome;
    if (base.empty() || base.front() != '/') {
        if (probe.home.empty()) return beside;
        base = probe.home + "/.config";
    }
    std::string stem = base + "/qlxsearch/" + nameOf(executable);
    return {withExtension(stem, ".Ini"), withExtension(stem, ".dat"), there ? beside.settingsFile : ""};
}

}  // namespace

SettingsPaths settingsPaths(const std::string& executable, const PathProbe& probe) {
    SettingsPaths p = settingsPlace(executable, probe);
    // Reading needs no write access, so a model-name file installed with the program is
    // used wherever the settings go; a site-wide one serves when neither folder has one.
    const std::string beside = withExtension(executable, ".dat");
    const std::string site =
        probe.siteFolder.empty() ? "" : probe.siteFolder + "/" + withExtension(nameOf(executable), ".dat");
    if (probe.fileExists(beside))
        p.modelNameFile = beside;
    else if (!probe.fileExists(p.modelNameFile) && !site.empty() && probe.fileExists(site))
        p.modelNameFile = site;
    return p;
}

namespace {

FinderSettings settingsOf(const std::string& text) {
    const FinderSettings d = FinderSettings::defaults();
    auto get = [&](const char* section, const char* key, const std::string& fallback) {
        auto value = ini::find(text, section, key);
        return value ? *value : fallback;
    };
    FinderSettings s;
    s.WebPort = get("http", "port", d.WebPort);
    s.UtilityName = get("utility", "name", d.UtilityName);
    s.UtilityPort = get("utility", "port", d.UtilityPort);
    s.UtilityFile = get("utility", "file", d.UtilityFile);
    s.UtilityCheck = get("utility", "check", d.UtilityCheck);
    s.SortKey = get("system", "sort", d.SortKey);
    s.TestMode = get("system", "testmode", d.TestMode);
    s.Networks = get("system", "networks", d.Networks);
    s.Probe = get("system", "probe", d.Probe);
    return s;
}

std::string cannotOpen(const std::string& path) {
    return cp932::fromUtf8("ファイル " + path + " は開けません");
}

}  // namespace

FinderSettings readSettings(const std::string& settingsFile, std::string* error, const FileOps& ops) {
    return readSettings(SettingsPaths{settingsFile, {}}, error, ops);
}

FinderSettings readSettings(const SettingsPaths& paths, std::string* error, const FileOps& ops) {
    std::string text;
    std::string path = paths.settingsFile;
    IniFile::Load load = IniFile(path, ops).load(text);
    if (load == IniFile::Load::Missing && !paths.seedFile.empty())
        load = IniFile(path = paths.seedFile, ops).load(text);
    if (load == IniFile::Load::Unreadable && error)
        *error = cannotOpen(path);
    return settingsOf(text);
}

std::vector<IniEntry> saveEntries(const UtilityFields& panel, const std::string& webPort,
                                  const std::string& sortKey) {
    return {
        {"utility", "name", panel.name},
        {"utility", "port", DigitsOnly(panel.port)},
        {"utility", "file", panel.file},
        {"utility", "check", panel.check ? "1" : "0"},
        {"http", "port", webPort},
        {"system", "sort", sortKey},
    };
}

void saveSettings(const std::string& settingsFile, const std::vector<IniEntry>& entries,
                  IniWriter writer, const FileOps& ops, const std::string& seedFile) {
    if (!writer) {
        // The configuration folder may not exist yet; a failure shows at the first key.
        makeFolders(folderOf(settingsFile));
        IniFile f(settingsFile, ops);
        std::string seed;
        if (!seedFile.empty() && !f.exists())
            IniFile(seedFile, ops).load(seed);  // an unreadable seed leaves it empty
        writer = [f, seed](const std::string& s, const std::string& k, const std::string& v) {
            return f.write(s, k, v, seed);
        };
    }
    for (const auto& e : entries)
        if (!writer(e.section, e.key, e.value))
            throw SettingsError(cp932::fromUtf8(settingsFile + " に書き込めません"));
}

std::vector<std::string> splitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t br = text.find_first_of("\r\n", pos);
        if (br == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, br - pos));
        pos = br + 1;
        if (text[br] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    return lines;
}

std::vector<std::string> loadModelLines(const std::string& modelNameFile) {
    // Only a file counts as present; a folder or a FIFO of that name is no model-name file.
    if (!isRegularFile(modelNameFile)) return {};
    // The read itself opens without waiting and takes nothing but a file, should the
    // path change in between.
    std::string text;
    switch (IniFile(modelNameFile).load(text)) {
    case IniFile::Load::Missing: return {};
    case IniFile::Load::Unreadable: throw SettingsError(cannotOpen(modelNameFile));
    case IniFile::Load::Read: break;
    }
    return splitTextLines(text);
}
