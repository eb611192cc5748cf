#pragma once
// The hosts qterm has connected to, newest first: the connect dialog's drop-down. Kept in
// qterm.ini, section [history], keys 1 (newest) to 10, each "host:port".
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct HostPort {
    std::string host;  // CP932 bytes, as the host field holds it
    int port = 23;
    bool operator==(const HostPort&) const = default;
};

// "host:port"; nothing for a text that is not one (no host, a blank or a ":" in the host,
// a port that is not a number from 1 to 65535).
bool parseHostPort(std::string_view text, HostPort& out);
std::string hostPortText(const HostPort& entry);

class HostHistory {
public:
    static constexpr std::size_t kMax = 10;

    // The entries of [history] in the settings file's text, in key order 1..10; a bad or
    // repeated entry is skipped.
    static HostHistory fromIni(std::string_view iniText);

    // entry becomes the newest; an earlier one with the same host (in any case) and port goes,
    // and the oldest beyond kMax.
    void add(const HostPort& entry);
    const std::vector<HostPort>& entries() const { return entries_; }

    // Every key 1..kMax with its value, "" for the keys beyond the entries, so that a save
    // leaves no older entry behind.
    std::vector<std::pair<std::string, std::string>> iniKeys() const;

private:
    std::vector<HostPort> entries_;
};

// Reads the file again, puts entry first and writes [history] back, creating the file's
// folder when needed. False when the file could not be written; an unreadable file is left
// as it is.
bool recordHostInHistory(const std::string& iniPath, const HostPort& entry);
