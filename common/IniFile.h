#pragma once
// Settings file in the common INI layout, read and written the way the finder has
// always kept it: names without regard to case, blanks around keys and values
// ignored, quoted values unquoted, ";" comments, and writes that touch only the
// one line they change. Text is CP932 bytes throughout; nothing is converted.
#include <optional>
#include <string>
#include <string_view>

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

// One file on disk.
class IniFile {
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    bool exists() const;
    // Missing file, section or key give the default.
    std::string read(std::string_view section, std::string_view key,
                     std::string_view fallback) const;
    // False when the file cannot be read back or written; the file is then unchanged
    // or, if the write itself failed half way, as far as the system wrote it.
    bool write(std::string_view section, std::string_view key, std::string_view value) const;

private:
    std::string path_;
};
