#pragma once
// qterm's settings file, qterm.ini: section [log], keys dir (log every session there)
// and timestamps. A missing or unreadable file means no automatic log.
#include <chrono>
#include <string>

struct LogSettings {
    std::string dir;  // empty: no automatic log
    bool timestamps = false;
};

// $XDG_CONFIG_HOME/qterm/qterm.ini, else $HOME/.config/qterm/qterm.ini; empty when
// neither is set. A relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
std::string qtermSettingsPath(const char* xdgConfigHome, const char* home);

// dir with a leading "~/" taken from home; timestamps true for 1, true, yes, on. A path
// that holds something other than a readable file (a FIFO, a folder) gives the defaults
// and, in `warning`, one line saying so.
LogSettings readLogSettings(const std::string& iniPath, const char* home, std::string* warning = nullptr);

// DIR/HOST_PORT_YYYYMMDD-HHMMSS.log in local time. Bytes of the host that do not belong in
// a file name (a "/" above all) become "_".
std::string sessionLogPath(const std::string& dir, const std::string& host, int port,
                           std::chrono::system_clock::time_point start);
