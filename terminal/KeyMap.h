#pragma once
// Which bytes a key press sends to the host. The window turns its key event into a
// KeyPress; the bytes then go out one by one through the telnet component's SendChar.
#include <string>

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
