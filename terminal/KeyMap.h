#pragma once
// Which bytes a key press sends to the host. The window turns its key event into a
// KeyPress; the bytes then go out one by one through the telnet component's SendChar.
#include <string>
#include <string_view>

#include "TextCodec.h"

struct KeyPress {
    enum class Kind { Text, Enter, Backspace, Escape, Tab, NoCharacter };
    Kind kind = Kind::NoCharacter;
    bool ctrl = false;
    char letter = 0;        // 'A'..'Z' when the key is a letter key, else 0
    std::string utf8;       // the character text the key produced
};

// Empty: the key sends nothing (Tab, arrows, function keys, a bare modifier).
// Enter is CR, Backspace 8, Escape 27, Ctrl+letter 1..26; other text is code page 932.
std::string keyBytes(const KeyPress& key);

// Text committed by an input method, in code page 932.
std::string composedBytes(const std::string& utf8);

// The same in the session's encoding.
std::string keyBytes(const KeyPress& key, Encoding enc);
std::string composedBytes(const std::string& utf8, Encoding enc);

// Pasted text as typing it would send it: every line break (CR LF, LF or CR) is the
// Enter key's CR, the rest is text in the session's encoding. The telnet component's CR
// rule still applies to each CR on the way out.
std::string pastedBytes(std::string_view utf8, Encoding enc);

// The same for a text that comes in pieces (a large paste is encoded a slice at a time):
// the bytes are those of the whole text however it was cut, a CR LF cut in two included.
// Each piece holds whole characters. With crAsCrLf every line break goes as CR LF, as the
// Enter key's CR does to a host that has not shown itself a telnet server.
class PasteEncoder {
public:
    explicit PasteEncoder(Encoding enc, bool crAsCrLf = false) : enc_(enc), crlf_(crAsCrLf) {}
    void feed(std::string_view utf8);
    // Room for this many bytes, so a large text is not copied as it grows.
    void reserve(std::size_t bytes) { bytes_.reserve(bytes); }
    const std::string& bytes() const { return bytes_; }
    std::string take() { return std::move(bytes_); }
    // Line breaks so far, and the lines they make (a last line without a break counts).
    std::size_t breaks() const { return breaks_; }
    std::size_t lines() const { return breaks_ + (endsInBreak_ || bytes_.empty() ? 0 : 1); }
    // The size without the LF that crAsCrLf adds to each break.
    std::size_t typedSize() const { return bytes_.size() - (crlf_ ? breaks_ : 0); }

private:
    Encoding enc_;
    bool crlf_;
    bool afterCr_ = false;  // the last piece ended in a CR, whose LF may open this one
    bool endsInBreak_ = false;
    std::size_t breaks_ = 0;
    std::string piece_;
    std::string bytes_;
};
