#include "IniFile.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

namespace ini {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// One line of the file: where its text starts and ends, and where the next begins.
struct Line {
    std::size_t begin, end, next;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        if (end > pos && text[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

// "[name]" gives name; anything else gives nothing.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    std::size_t close = line.find(']');
    return trim(line.substr(0, close));
}

struct KeyLine {
    std::string_view key;
    std::size_t valueBegin;  // offset in the line of the value's first byte (after blanks)
};

std::optional<KeyLine> keyLine(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = trim(line.substr(0, eq));
    if (key.empty()) return std::nullopt;
    std::size_t v = eq + 1;
    while (v < line.size() && isBlank(line[v])) ++v;
    return KeyLine{key, v};
}

std::string readValue(std::string_view raw) {
    raw = trim(raw);
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        raw = raw.substr(1, raw.size() - 2);
    if (raw.size() > kMaxValue) {
        // Cut on a character boundary so no half of a double-byte character is left.
        std::size_t keep = 0;
        while (keep < raw.size()) {
            std::size_t len = isLeadByte(static_cast<unsigned char>(raw[keep])) ? 2 : 1;
            if (keep + len > kMaxValue) break;
            keep += len;
        }
        raw = raw.substr(0, keep);
    }
    return std::string(raw);
}

// The lines of the first section of that name: [header, end) as line indexes.
struct SectionSpan {
    std::size_t header, end;
};

std::optional<SectionSpan> findSection(std::string_view text, const std::vector<Line>& lines,
                                       std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (!name || !sameName(*name, section)) continue;
        std::size_t j = i + 1;
        while (j < lines.size() &&
               !sectionName(text.substr(lines[j].begin, lines[j].end - lines[j].begin)))
            ++j;
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

std::string lineBreakOf(std::string_view text) {
    if (text.find("\r\n") != std::string_view::npos) return "\r\n";
    if (text.find('\n') != std::string_view::npos) return "\n";
    return "\r\n";
}

// A value is one line of the file; a line break in it would start a new entry.
std::string_view oneLine(std::string_view value) {
    return value.substr(0, value.find_first_of("\r\n"));
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(a[i]))) {
            if (a[i] != b[i]) return false;
            if (++i < a.size() && a[i] != b[i]) return false;
            continue;
        }
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

std::optional<std::string> find(std::string_view text, std::string_view section,
                                std::string_view key) {
    auto lines = splitLines(text);
    auto span = findSection(text, lines, section);
    if (!span) return std::nullopt;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        auto kl = keyLine(line);
        if (kl && sameName(kl->key, key)) return readValue(line.substr(kl->valueBegin));
    }
    return std::nullopt;
}

std::string put(std::string_view text, std::string_view section, std::string_view key,
                std::string_view value) {
    value = oneLine(value);
    const std::string eol = lineBreakOf(text);
    const std::string entry = std::string(key) + "=" + std::string(value);
    auto lines = splitLines(text);
    auto span = findSection(text, lines, section);

    std::string out;
    if (!span) {
        out = std::string(text);
        if (!out.empty() && out.back() != '\n') out += eol;
        out += "[" + std::string(section) + "]" + eol + entry + eol;
        return out;
    }
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        auto kl = keyLine(line);
        if (!kl || !sameName(kl->key, key)) continue;
        // Keep the key as it is spelt and spaced; only the value changes.
        std::size_t at = lines[i].begin + kl->valueBegin;
        out.append(text.substr(0, at));
        out.append(value);
        out.append(text.substr(lines[i].end));
        return out;
    }
    // After the section's last line that is not blank, so blank lines that part it
    // from the next section stay where they are.
    std::size_t last = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i)
        if (!trim(text.substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) last = i;
    std::size_t at = lines[last].next;
    out.append(text.substr(0, at));
    if (at == lines[last].end) out += eol;  // the line had no line break (end of file)
    out += entry + eol;
    out.append(text.substr(at));
    return out;
}

}  // namespace ini

namespace {

std::optional<std::string> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

}  // namespace

bool IniFile::exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string IniFile::read(std::string_view section, std::string_view key,
                          std::string_view fallback) const {
    if (!exists()) return std::string(fallback);
    auto text = slurp(path_);
    if (!text) return std::string(fallback);
    auto value = ini::find(*text, section, key);
    return value ? *value : std::string(fallback);
}

bool IniFile::write(std::string_view section, std::string_view key,
                    std::string_view value) const {
    std::string text;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        auto old = slurp(path_);
        if (!old) return false;
        text = std::move(*old);
    }
    std::string updated = ini::put(text, section, key, value);
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(updated.data(), static_cast<std::streamsize>(updated.size()));
    out.close();
    return !out.fail();
}
