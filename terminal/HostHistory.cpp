#include "HostHistory.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "IniFile.h"

bool parseHostPort(std::string_view text, HostPort& out) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    const std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    // Bytes below 0x21 are blanks and controls; ':' would make the text ambiguous.
    if (std::any_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) < 0x21 || c == ':'; }))
        return false;
    int value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535)
        return false;
    out = {std::string(host), value};
    return true;
}

std::string hostPortText(const HostPort& entry) { return entry.host + ":" + std::to_string(entry.port); }

namespace {

bool sameEntry(const HostPort& a, const HostPort& b) { return a.port == b.port && ini::sameName(a.host, b.host); }

} // namespace

HostHistory HostHistory::fromIni(std::string_view iniText) {
    HostHistory h;
    for (std::size_t key = 1; key <= kMax; ++key) {
        HostPort entry;
        const auto value = ini::find(iniText, "history", std::to_string(key));
        if (!value || !parseHostPort(*value, entry))
            continue;
        if (std::none_of(h.entries_.begin(), h.entries_.end(), [&](const HostPort& e) { return sameEntry(e, entry); }))
            h.entries_.push_back(entry);
    }
    return h;
}

void HostHistory::add(const HostPort& entry) {
    std::erase_if(entries_, [&](const HostPort& e) { return sameEntry(e, entry); });
    entries_.insert(entries_.begin(), entry);
    if (entries_.size() > kMax)
        entries_.resize(kMax);
}

std::vector<std::pair<std::string, std::string>> HostHistory::iniKeys() const {
    std::vector<std::pair<std::string, std::string>> keys;
    for (std::size_t i = 0; i < kMax; ++i)
        keys.emplace_back(std::to_string(i + 1), i < entries_.size() ? hostPortText(entries_[i]) : std::string());
    return keys;
}

bool recordHostInHistory(const std::string& iniPath, const HostPort& entry) {
    if (iniPath.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(iniPath).parent_path(), ec);
    IniFile file(iniPath);
    std::string text;
    if (file.load(text) == IniFile::Load::Unreadable)
        return false;
    HostHistory history = HostHistory::fromIni(text);
    history.add(entry);
    return file.write("history", history.iniKeys());
}
