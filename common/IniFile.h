#pragma once
// Settings file in the common INI layout, read and written the way the finder has
// always kept it: names without regard to case, blanks around keys and values
// ignored, quoted values unquoted, ";" comments, and writes that touch only the
// one line they change. Text is CP932 bytes throughout; nothing is converted.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <sys/types.h>

namespace ini {

constexpr std::size_t kMaxValue = 2047;  // bytes returned for one value

// The value of section/key in the file's text, or nothing when the section or the
// key is missing. A present key with an empty value gives the empty text.
std::optional<std::string> find(std::string_view text, std::string_view section,
                                std::string_view key);

// The file's text with section/key set to value: the key's line rewritten in place,
// or a new line at the end of its section, or a new section at the end.
std::string put(std::string_view text, std::string_view section, std::string_view key,
                std::string_view value);

// ASCII letters compared without case; the second byte of a double-byte character
// is compared exactly, so two different kanji never match.
bool sameName(std::string_view a, std::string_view b);

}  // namespace ini

// The system calls behind a file's reads and writes; tests replace one to make it
// fail the way a full disk or a refused read would.
struct FileOps {
    std::function<int(const char* path, int flags, mode_t mode)> open;
    std::function<ssize_t(int fd, void* buf, std::size_t n)> read;
    std::function<ssize_t(int fd, const void* buf, std::size_t n)> write;
    std::function<int(int fd)> fsync;
    static const FileOps& system();
};

// One file on disk.
class IniFile {
public:
    explicit IniFile(std::string path, FileOps ops = FileOps::system())
        : path_(std::move(path)), ops_(std::move(ops)) {}
    const std::string& path() const { return path_; }

    bool exists() const;

    enum class Load { Missing, Read, Unreadable };
    // The whole text into `text`. A path that is there but is no file, or whose
    // reading fails, is Unreadable.
    Load load(std::string& text) const;

    // Missing or unreadable file, section or key give the default.
    std::string read(std::string_view section, std::string_view key,
                     std::string_view fallback) const;

    // The new text goes to a temporary file in the same folder, is flushed to disk and
    // renamed over the old one, so a failed write leaves the old file whole. A link is
    // written through to its target and stays a link; the file keeps its mode and,
    // where the process may set it, its owner. False when the old text cannot be read
    // (it would be lost) or the write fails. A file that is not there yet starts from
    // `textWhenMissing`.
    bool write(std::string_view section, std::string_view key, std::string_view value,
               std::string_view textWhenMissing = {}) const;
    // Several keys of one section in one such write.
    bool write(std::string_view section, const std::vector<std::pair<std::string, std::string>>& keys,
               std::string_view textWhenMissing = {}) const;

private:
    std::string path_;
    FileOps ops_;
};
