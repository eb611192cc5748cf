#pragma once
// Turns the host's received chunks into screen lines: CR LF and a lone CR end a line, one
// LF directly behind a CR of the same chunk is dropped, every other byte is kept. The
// lines are byte text (code page 932); the last line is the one being written.
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

class LineAssembly {
public:
    // Scrollback bound: the stored bytes (a line break counts one) and the number of
    // lines. Reaching either drops the oldest lines whole.
    static constexpr std::size_t kDefaultByteLimit = 1u << 19;
    static constexpr std::size_t kDefaultLineLimit = 10000;

    explicit LineAssembly(std::size_t byteLimit = kDefaultByteLimit,
                          std::size_t lineLimit = kDefaultLineLimit);

    // What one chunk changed, for a view that mirrors lines(): first drop `dropped` lines
    // from its front, then replace its lines from `firstChanged` on with lines()[firstChanged..].
    struct Update {
        std::size_t dropped = 0;
        std::size_t firstChanged = 0;
    };

    Update append(std::string_view chunk);

    // One update with the effect of `first` followed by `then`, so a view can catch up
    // with many chunks in one step.
    static Update merge(Update first, Update then);

    // Every kept line; the last one is the current line. Empty until the first chunk.
    const std::deque<std::string>& lines() const { return lines_; }
    // Bytes held, a line break counting one.
    std::size_t storedBytes() const { return bytes_; }

private:
    void enforceBound(Update& u);

    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;  // sum of line sizes plus one per line break
    std::size_t byteLimit_;
    std::size_t lineLimit_;
};

// The bytes of a line as the view shows them: NUL bytes (the CR NUL of a bare carriage
// return) are not shown, and on the current line a lead byte whose second byte has not
// arrived yet is held back, so a split double-byte character appears whole.
std::string displayBytes(std::string_view line, bool current);

// True for a byte that opens a double-byte character of code page 932.
constexpr bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
