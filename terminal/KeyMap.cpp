#include "KeyMap.h"

#include "cp932.h"

namespace {

// Text a key carries is sent only when it is something to print: a control character in
// it (Tab's HT, a platform's DEL for Delete) comes from a key this mapping handles itself
// or does not send.
bool printable(const std::string& utf8) {
    if (utf8.empty())
        return false;
    for (unsigned char c : utf8)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

std::string keyBytes(const KeyPress& key) {
    using K = KeyPress::Kind;
    switch (key.kind) {
    case K::Enter: return "\r";
    case K::Backspace: return "\b";
    case K::Escape: return "\x1b";
    case K::Tab:
    case K::NoCharacter: return {};
    case K::Text: break;
    }
    if (key.ctrl && key.letter >= 'A' && key.letter <= 'Z')
        return std::string(1, static_cast<char>(key.letter - 'A' + 1));
    if (key.ctrl)
        return {};
    return printable(key.utf8) ? cp932::fromUtf8(key.utf8) : std::string();
}

std::string composedBytes(const std::string& utf8) {
    return printable(utf8) ? cp932::fromUtf8(utf8) : std::string();
}
