#pragma once
// Turns the host's received chunks into screen lines: CR LF and a lone CR end a line, one
// LF directly behind a CR of the same chunk is dropped, every other byte is kept. The last
// line is the one being written. A lone LF stays inside its line; the view shows it as a
// break within the line, so a line shows as one row plus one per LF it holds.
//
// Lines hold the received bytes, or, once an encoding is set, the text decoded to UTF-8
// as the view shows it (NUL bytes left out, a split character held until it is whole).
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TextCodec.h"

class LineAssembly {
public:
    // Scrollback bound: the stored bytes (a line break counts one) and the number of
    // rows. Reaching either drops the oldest lines whole; a single line beyond it loses
    // its oldest rows.
    static constexpr std::size_t kDefaultByteLimit = 1u << 19;
    static constexpr std::size_t kDefaultLineLimit = 10000;

    explicit LineAssembly(std::size_t byteLimit = kDefaultByteLimit,
                          std::size_t lineLimit = kDefaultLineLimit);
    ~LineAssembly();

    // Decodes the bytes received from now on from `e`.
    void setEncoding(Encoding e);
    std::optional<Encoding> encoding() const;

    // What changed, for a view that mirrors lines(): first drop `dropped` lines from its
    // front, then bring its lines from `firstChanged` on in line with lines()[firstChanged..].
    // When `kept` is not 0, the view's last line is line `firstChanged`, of which it keeps
    // the first `kept` bytes after removing its first `cutRows` rows; it only appends the
    // rest. Otherwise it shows line `firstChanged` anew.
    struct Update {
        std::size_t dropped = 0;
        std::size_t firstChanged = 0;
        std::size_t kept = 0;
        std::size_t cutRows = 0;
    };

    Update append(std::string_view chunk);

    // Everything append() changed since the last call, for a view that catches up with
    // many chunks in one step.
    Update takeUpdate();

    // One update with the effect of `first` followed by `then`.
    static Update merge(Update first, Update then);

    // Every kept line; the last one is the current line. Empty until the first chunk.
    const std::deque<std::string>& lines() const { return lines_; }
    // Bytes held, a line break counting one.
    std::size_t storedBytes() const { return bytes_; }

    // Sees the text as the view shows it, row by row: at the end of each append() that
    // completed rows (a line ended by CR, or a row ended by a lone LF within it), one
    // call with all of them, each ending in LF. A line beyond the whole scrollback with
    // no LF to cut at gives a piece that does not end in LF.
    // A new observer starts with the current line from its start, whatever an earlier
    // one was given of it.
    using LineObserver = std::function<void(std::string_view rows)>;
    void setLineObserver(LineObserver observer);
    // The text of the current row not yet given to the observer (for the end of a
    // session); a partial character still held shows as U+FFFD.
    std::string unfinishedLine() const;

private:
    void appendText(std::string_view segment);
    void endLine();
    void observeRows();
    void enforceBound(Update& u);
    void cutCurrentLine(Update& u);

    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;  // sum of line sizes plus one per line break
    std::size_t rows_ = 0;   // lines plus the LF bytes inside them
    std::size_t byteLimit_;
    std::size_t lineLimit_;
    Update pending_;
    std::unique_ptr<TextDecoder> decoder_;
    std::string decoded_;  // the chunk being appended, decoded
    LineObserver observer_;
    std::string completed_;  // rows completed by the chunk being appended
    std::size_t observed_ = 0;  // bytes of the current line given to the observer
    std::size_t scanned_ = 0;   // bytes of the current line searched for an LF
};

// The bytes of a received line as the view would show them: NUL bytes (the CR NUL of a
// bare carriage return) are not shown, and on the current line a lead byte whose second
// byte has not arrived yet is held back, so a split double-byte character appears whole.
std::string displayBytes(std::string_view line, bool current);

// True for a byte that opens a double-byte character of code page 932.
constexpr bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
