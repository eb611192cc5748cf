#pragma once
// The finder's settings: where the files live, what the settings file holds, how it
// is read at start-up and saved, and the model-name file. Plain C++, CP932 texts.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "IniFile.h"

// All held as texts exactly as read; only the panel shows the ports filtered.
struct FinderSettings {
    std::string WebPort = "80";
    std::string UtilityName;   // default "TELNET接続" (CP932)
    std::string UtilityPort = "23";
    std::string UtilityFile = "qterm";
    std::string UtilityCheck = "1";
    std::string SortKey;       // default "稼働時間" (CP932)
    std::string TestMode = "0";
    std::string Networks;      // [system] networks: "all" searches every network; never written
    std::string Probe;         // [system] probe: addresses asked by unicast, comma-separated; never written

    static FinderSettings defaults();
};

// Keeps the digits 0-9 of the text in order; stops at NUL, CR or after 255 bytes.
std::string DigitsOnly(std::string_view text);

// The files of one finder.
struct SettingsPaths {
    std::string settingsFile;   // ".Ini", where this user's settings are read and written
    std::string modelNameFile;  // ".dat"
    // The settings file beside the program when this user may not write it: its values
    // are the starting ones while settingsFile is not there yet, and its text is what
    // the first save into settingsFile starts from. Empty: none.
    std::string seedFile = {};
};

// What the location rule needs to know about the machine; tests give their own.
struct PathProbe {
    std::function<bool(const std::string&)> fileExists;
    std::function<bool(const std::string&)> fileWritable;
    std::function<bool(const std::string&)> folderWritable;
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
    std::string home;           // $HOME
    std::string siteFolder = "/etc/qlxsearch";  // the site-wide model-name file's folder
    static PathProbe system();
};

// Path with its file's extension replaced by ext, or ext appended when it has none.
std::string withExtension(const std::string& path, std::string_view ext);

// Beside the executable when this user may write the settings file there, or create it
// there. Otherwise (an installed program, or a file someone else made) the user's
// configuration folder, "qlxsearch/", with a file beside the executable as the seed.
// The model-name file is read beside the executable when it is there, else from the
// settings folder, else from the site folder (/etc/qlxsearch/qlxsearch.dat).
SettingsPaths settingsPaths(const std::string& executable, const PathProbe& probe);

// Every key with its default where the file, the section or the key is missing. A
// settings path that is there but cannot be read (a folder, a refused read) also gives
// the defaults, and sets *error to "ファイル <path> は開けません".
FinderSettings readSettings(const std::string& settingsFile, std::string* error = nullptr,
                            const FileOps& ops = FileOps::system());
// The same for the settings file of the paths, or their seed file while it is not there.
FinderSettings readSettings(const SettingsPaths& paths, std::string* error = nullptr,
                            const FileOps& ops = FileOps::system());

// The save failed; what() is the CP932 message the user is shown.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The settings panel's utility group as the save takes it.
struct UtilityFields {
    std::string name, port, file;
    bool check = false;
};

struct IniEntry {
    std::string section, key, value;
};

// The six keys of a save, in the order they are written; testmode is never among them.
std::vector<IniEntry> saveEntries(const UtilityFields& panel, const std::string& webPort,
                                  const std::string& sortKey);

using IniWriter =
    std::function<bool(const std::string& section, const std::string& key, const std::string& value)>;

// Writes the entries in order and stops at the first that fails, throwing
// "<path> に書き込めません". Without a writer the settings file itself is written,
// its folder made first when it is missing; a file not there yet starts from the text
// of `seedFile` (when given), so what the save does not write is kept from it.
void saveSettings(const std::string& settingsFile, const std::vector<IniEntry>& entries,
                  IniWriter writer = {}, const FileOps& ops = FileOps::system(),
                  const std::string& seedFile = {});

// The model-name file's lines (CR LF, LF or CR). A missing file, or anything there but a
// file (a folder, a FIFO), gives none; a file that cannot be read throws
// "ファイル <path> は開けません". Nothing waits: a FIFO is never opened for reading.
std::vector<std::string> loadModelLines(const std::string& modelNameFile);
std::vector<std::string> splitTextLines(std::string_view text);
