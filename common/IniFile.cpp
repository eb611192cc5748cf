#include "IniFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

// CR LF, LF and a bare CR each end a line, for the reader and the writer alike, so a
// value the writer puts after a CR-ended line is on a line of its own when read back.
std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t br = text.find_first_of("\r\n", pos);
        if (br == std::string_view::npos) {
            lines.push_back({pos, text.size(), text.size()});
            break;
        }
        std::size_t next = br + 1;
        if (text[br] == '\r' && next < text.size() && text[next] == '\n') ++next;
        lines.push_back({pos, br, next});
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

// New lines take the file's kind of line break: CR LF where it has one, else LF, else
// a bare CR.
std::string lineBreakOf(std::string_view text) {
    if (text.find("\r\n") != std::string_view::npos) return "\r\n";
    if (text.find('\n') != std::string_view::npos) return "\n";
    if (text.find('\r') != std::string_view::npos) return "\r";
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
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
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

bool writeAll(const FileOps& ops, int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ops.write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of links ends at (which need not exist yet); the path itself when
// it is no link. A loop or an unreadable link gives the empty text.
std::string linkTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string to(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return {};
        to.resize(static_cast<std::size_t>(n));
        path = to.front() == '/' ? to : folderOf(path) + "/" + to;
    }
    return {};
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // the rename is on disk too; a failure here loses nothing
    ::close(fd);
}

// A file that may be written but whose folder takes no new file: rewritten in place,
// and on a failed write put back as it was as far as the system lets us.
bool rewriteInPlace(const FileOps& ops, const std::string& path, const std::string& text,
                    const std::string& old) {
    int fd = ops.open(path.c_str(), O_WRONLY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    // Room for the new text first: without it nothing is touched.
    if (text.size() > old.size() && ::posix_fallocate(fd, 0, static_cast<off_t>(text.size())) != 0) {
        ::close(fd);
        return false;
    }
    bool ok = writeAll(ops, fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
              ops.fsync(fd) == 0;
    if (!ok && ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(ops, fd, old))
        ::ftruncate(fd, static_cast<off_t>(old.size()));
    return ::close(fd) == 0 && ok;
}

bool replaceFile(const FileOps& ops, const std::string& path, const std::string& text,
                 const struct stat* old, const std::string& oldText) {
    static unsigned counter = 0;
    const std::string temp =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const mode_t mode = old ? (old->st_mode & 07777) : 0666;
    int fd = ops.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        if (old && (errno == EACCES || errno == EPERM || errno == EROFS))
            return rewriteInPlace(ops, path, text, oldText);
        return false;
    }
    if (old) {
        // Owner first: a change of owner clears set-id bits that the mode then restores.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) { /* not ours to give away */ }
        ::fchmod(fd, mode);  // the umask may have taken bits off
    }
    bool ok = writeAll(ops, fd, text) && ops.fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folderOf(path));
    return true;
}

}  // namespace

const FileOps& FileOps::system() {
    static const FileOps ops{
        [](const char* p, int flags, mode_t mode) { return ::open(p, flags, mode); },
        [](int fd, void* b, std::size_t n) { return ::read(fd, b, n); },
        [](int fd, const void* b, std::size_t n) { return ::write(fd, b, n); },
        [](int fd) { return ::fsync(fd); },
    };
    return ops;
}

bool IniFile::exists() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

IniFile::Load IniFile::load(std::string& text) const {
    text.clear();
    // O_NONBLOCK: a FIFO or a device at the path must not hold the program in open(); it
    // does not change how a regular file reads.
    int fd = ops_.open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return errno == ENOENT ? Load::Missing : Load::Unreadable;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buf[8192];
    while (ok) {
        ssize_t n = ops_.read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok) text.clear();
    return ok ? Load::Read : Load::Unreadable;
}

std::string IniFile::read(std::string_view section, std::string_view key,
                          std::string_view fallback) const {
    std::string text;
    if (load(text) != Load::Read) return std::string(fallback);
    auto value = ini::find(text, section, key);
    return value ? *value : std::string(fallback);
}

bool IniFile::write(std::string_view section, std::string_view key, std::string_view value,
                    std::string_view textWhenMissing) const {
    return write(section, {{std::string(key), std::string(value)}}, textWhenMissing);
}

bool IniFile::write(std::string_view section, const std::vector<std::pair<std::string, std::string>>& keys,
                    std::string_view textWhenMissing) const {
    const std::string target = linkTarget(path_);
    if (target.empty()) return false;
    std::string text;
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed && (!S_ISREG(st.st_mode) || IniFile(target, ops_).load(text) != Load::Read))
        return false;
    // A file the user may not write stays as it is, though its folder would take a new one.
    if (existed && ::access(target.c_str(), W_OK) != 0)
        return false;
    if (!existed)
        text = textWhenMissing;
    std::string changed = text;
    for (const auto& [key, value] : keys)
        changed = ini::put(changed, section, key, value);
    return replaceFile(ops_, target, changed, existed ? &st : nullptr, text);
}
