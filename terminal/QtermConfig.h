#pragma once
// qterm's settings file, qterm.ini: section [log], keys dir (log every session there)
// and timestamps; section [paste], keys confirm and line_delay_ms; section [session], key
// reconnect. A missing or unreadable file means the defaults: no automatic log, the preview
// before a multi-line paste, no pacing, no reconnect.
#include <chrono>
#include <string>

struct LogSettings {
    std::string dir;  // empty: no automatic log
    bool timestamps = false;
};

// When a paste asks first: Multiline previews a paste that holds a line break (and asks
// about a large one), Large asks only about a paste above 64 KiB, Never never asks.
enum class PasteConfirm { Multiline, Large, Never };

struct PasteSettings {
    PasteConfirm confirm = PasteConfirm::Multiline;
    int lineDelayMs = 0;  // 0: a paste goes as fast as the host takes it
};
constexpr int kMaxLineDelayMs = 10000;

// $XDG_CONFIG_HOME/qterm/qterm.ini, else $HOME/.config/qterm/qterm.ini; empty when
// neither is set. A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
std::string qtermSettingsPath(const char* xdgConfigHome, const char* home);

// dir with a leading "~/" taken from home; timestamps true for 1, true, yes, on. A path
// that holds something other than a readable file (a FIFO, a folder) gives the defaults
// and, in `warning`, one line saying so.
LogSettings readLogSettings(const std::string& iniPath, const char* home, std::string* warning = nullptr);

// confirm is multiline, large or never (any case; anything else is multiline);
// line_delay_ms a number of milliseconds, at most kMaxLineDelayMs (a larger one counts as
// that); anything that is not such a number is 0.
PasteSettings readPasteSettings(const std::string& iniPath);

// Section [session], key reconnect: true for 1, true, yes, on (any case), as --reconnect.
// A missing or unreadable file, or any other value, is false.
struct SessionSettings {
    bool reconnect = false;
};
SessionSettings readSessionSettings(const std::string& iniPath);

// DIR/HOST_PORT_YYYYMMDD-HHMMSS.log in local time. Bytes of the host that do not belong in
// a file name (a "/" above all) become "_".
std::string sessionLogPath(const std::string& dir, const std::string& host, int port,
                           std::chrono::system_clock::time_point start);
