#pragma once
// Turns the host's received chunks into screen lines: CR LF and a lone CR end a line, one
// LF directly behind a CR of the same chunk is dropped. The last line is the one being
// written. A lone LF stays inside its line; the view shows it as a break within the
// line, so a line shows as one row plus one per LF it holds.
//
// Without an encoding, lines hold the received bytes, every other byte kept as it came.
// Once an encoding is set, they hold the text as a console shows it, in UTF-8: decoded
// (NUL left out, a split character held until it is whole), then read as a terminal
// reads it (EscapeParser): escape sequences are consumed, never shown; BS, CSI C and
// CSI D move the write position on the row being written, and text written before the
// row's end overwrites it (ScreenRow); CSI K erases within the row; HT moves to the next
// multiple of 8 columns, and at the row's end is kept as a tab that spans those columns;
// BEL is counted, not shown; SGR sets the attributes of the text that follows, kept per
// run of text (runs()); CSI 2 J and 3 J start a fresh page below the text already there.
// Other controls and sequences (cursor addressing among them) change nothing. The rows
// above a lone LF are final: the write position never goes back past it.
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "EscapeParser.h"
#include "ScreenRow.h"
#include "Sgr.h"
#include "TextCodec.h"

class LineAssembly : private EscapeSink {
public:
    // Scrollback bound: the stored bytes (a line break counts one) and the number of
    // rows. Reaching either drops the oldest lines whole; a single line beyond it loses
    // its oldest rows.
    static constexpr std::size_t kDefaultByteLimit = 1u << 19;
    static constexpr std::size_t kDefaultLineLimit = 10000;

    explicit LineAssembly(std::size_t byteLimit = kDefaultByteLimit,
                          std::size_t lineLimit = kDefaultLineLimit);
    ~LineAssembly() override;

    // Decodes the bytes received from now on from `e`.
    void setEncoding(Encoding e);
    std::optional<Encoding> encoding() const;

    // What changed, for a view that mirrors lines(): first drop `dropped` lines from its
    // front, then bring its lines from `firstChanged` on in line with lines()[firstChanged..].
    // When `kept` is not 0, the view's last line is line `firstChanged`, of which it keeps
    // the first `kept` bytes after removing its first `cutRows` rows and then the first
    // `cutUnits` UTF-16 code units of what is left (a row cut between characters): it removes the last
    // `erased` UTF-16 code units of what it shows of that line (text the host has since
    // overwritten or erased) and appends the rest. Otherwise it shows line `firstChanged`
    // anew.
    struct Update {
        std::size_t dropped = 0;
        std::size_t firstChanged = 0;
        std::size_t kept = 0;
        std::size_t cutRows = 0;
        std::size_t cutUnits = 0;
        std::size_t erased = 0;
    };

    Update append(std::string_view chunk);

    // Everything append() changed since the last call, for a view that catches up with
    // many chunks in one step.
    Update takeUpdate();

    // Right after takeUpdate(), for a view that showed it only in part: lines before
    // `line` and the first `shownBytes` bytes of line `line`, and none after it. The next
    // update brings it on from there.
    void holdBack(std::size_t line, std::size_t shownBytes);

    // One update with the effect of `first` followed by `then`.
    static Update merge(Update first, Update then);

    // Every kept line; the last one is the current line. Empty until the first chunk.
    const std::deque<std::string>& lines() const { return lines_; }
    // The attributes of line i's text (none without an encoding).
    const Runs& runs(std::size_t i) const { return runs_[i]; }
    // Bytes held, a line break counting one.
    std::size_t storedBytes() const { return bytes_; }

    // BEL characters received so far.
    std::size_t bells() const { return bells_; }
    // Fresh pages started so far (CSI 2 J, CSI 3 J, ESC c), and the line the latest one
    // starts with, while it is kept.
    std::size_t pages() const { return pages_; }
    std::optional<std::size_t> pageTop() const;
    // UTF-16 code units of the current line behind the write position (0 when it stands at
    // the end), for a view that shows the host's write position.
    std::size_t unitsAfterCaret() const { return decoder_ ? row_.unitsAfterCaret() : 0; }

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
    // The escape stage's output.
    void print(std::string_view utf8) override;
    void control(char c) override;
    void csi(const Csi& seq) override;
    void escape(char intermediate, char final) override;

    void appendText(std::string_view segment);
    void appendConsole(std::string_view decoded);
    void newLine();
    void endLine();
    void endRow();
    void freshPage();
    void settle();
    void boundAsWeGo();
    void observeRows();
    void enforceBound(Update& u);
    void cutCurrentLine(Update& u);

    std::deque<std::string> lines_;
    std::deque<Runs> runs_;  // beside lines_, one for each
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

    EscapeParser parser_;
    ScreenRow row_;
    Attr attr_ = attr::kPlain;
    Update* chunkUpdate_ = nullptr;  // the update of the chunk being appended
    std::size_t counted_ = 0;        // bytes of the current line counted in bytes_
    std::size_t bells_ = 0;
    std::size_t pages_ = 0;
    std::size_t pageLine_ = 0;      // the latest page's first line, counted from the first line ever
    std::size_t linesDropped_ = 0;  // lines the bound has dropped
};

// The bytes of a received line as the view would show them: NUL bytes (the CR NUL of a
// bare carriage return) are not shown, and on the current line a lead byte whose second
// byte has not arrived yet is held back, so a split double-byte character appears whole.
std::string displayBytes(std::string_view line, bool current);

// True for a byte that opens a double-byte character of code page 932.
constexpr bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
