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
