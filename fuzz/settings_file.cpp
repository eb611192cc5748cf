// Any settings file text through find and put: the written value reads back, every other
// section/key keeps its value, and nothing outside the changed line moves.
#include <algorithm>
#include <optional>
#include <vector>

#include "IniFile.h"
#include "input.h"
#include "props.h"

namespace fuzzprops {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }
bool hasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
bool padded(std::string_view s) { return !s.empty() && (blank(s.front()) || blank(s.back())); }

// Names and values that the file's layout can hold as they are; others are stored
// changed (unquoted, trimmed, cut at a break), so only the layout properties apply.
bool plainSection(std::string_view s) {
    return !s.empty() && !padded(s) && !hasBreak(s) && s.find(']') == std::string_view::npos;
}
bool plainKey(std::string_view k) {
    return !k.empty() && !padded(k) && !hasBreak(k) && k.find('=') == std::string_view::npos &&
           k.front() != ';' && k.front() != '[';
}
bool plainValue(std::string_view v) {
    const bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    return !padded(v) && !hasBreak(v) && !quoted && v.size() <= ini::kMaxValue;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

void addName(std::vector<std::string>& names, std::string_view name, std::size_t cap) {
    if (names.size() >= cap) return;
    for (const auto& n : names)
        if (ini::sameName(n, name)) return;
    names.emplace_back(name);
}

// Section and key names that appear in the text, by any line break, a few of each.
void namesIn(std::string_view text, std::vector<std::string>& sections, std::vector<std::string>& keys) {
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trimmed(text.substr(pos, end - pos));
        if (!line.empty() && line.front() == '[')
            addName(sections, trimmed(line.substr(1, line.find(']') - 1)), 8);
        else if (std::size_t eq = line.find('='); eq != std::string_view::npos && eq > 0)
            addName(keys, trimmed(line.substr(0, eq)), 16);
        pos = end + 1;
    }
}

std::size_t count(std::string_view s, char c) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), c)); }

}  // namespace

// Input: length-prefixed section, key and value, then the file text.
std::string settingsFile(std::string_view bytes) {
    Input in(bytes);
    const std::string section(in.sized()), key(in.sized()), value(in.sized());
    const std::string text(in.rest());
    // The finder's section and key names are fixed words; a name holding a line break
    // would make lines of its own, so such inputs say nothing about the file's rules.
    if (hasBreak(section) || hasBreak(key) || section.find(']') != std::string::npos) return "";
    const std::string out = ini::put(text, section, key, value);
    const std::string where = " writing " + shown(section) + "/" + shown(key) + "=" + shown(value) +
                              " into " + shown(text);

    // One line changed or added: the removed bytes hold no line break.
    std::size_t p = 0;
    while (p < text.size() && p < out.size() && text[p] == out[p]) ++p;
    std::size_t q = 0;
    while (q < text.size() - p && q < out.size() - p && text[text.size() - 1 - q] == out[out.size() - 1 - q]) ++q;
    const std::string_view removed = std::string_view(text).substr(p, text.size() - p - q);
    const std::string_view added = std::string_view(out).substr(p, out.size() - p - q);
    if (count(removed, '\n') != 0 || count(added, '\n') > 3)
        return "bytes outside the changed line changed" + where;

    if (!plainSection(section) || !plainKey(key) || !plainValue(value)) return "";

    if (ini::find(out, section, key) != value)
        return "value reads back as " + shown(ini::find(out, section, key).value_or("<missing>")) + where;
    if (ini::put(out, section, key, value) != out) return "writing the same value twice changed the file" + where;

    std::vector<std::string> sections{section}, keys{key};
    namesIn(text, sections, keys);
    for (const auto& s : sections)
        for (const auto& k : keys) {
            if (ini::sameName(s, section) && ini::sameName(k, key)) continue;
            auto was = ini::find(text, s, k), now = ini::find(out, s, k);
            if (was != now)
                return shown(s) + "/" + shown(k) + " changed from " + shown(was.value_or("<missing>")) + " to " +
                       shown(now.value_or("<missing>")) + where;
        }
    return "";
}

}  // namespace fuzzprops
