#include "KeyMap.h"

#include <algorithm>

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

std::string keyBytes(const KeyPress& key) { return keyBytes(key, Encoding::Cp932); }

std::string composedBytes(const std::string& utf8) { return composedBytes(utf8, Encoding::Cp932); }

std::string keyBytes(const KeyPress& key, Encoding enc) {
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
    return composedBytes(key.utf8, enc);
}

std::string composedBytes(const std::string& utf8, Encoding enc) {
    return printable(utf8) ? encodeText(utf8, enc) : std::string();
}

std::string pastedBytes(std::string_view utf8, Encoding enc) {
    PasteEncoder e(enc);
    e.feed(utf8);
    return e.take();
}

// Every break becomes CR (or CR LF) first; the encodings keep both as they are, so the piece
// is then encoded in one call.
void PasteEncoder::feed(std::string_view utf8) {
    piece_.clear();
    piece_.reserve(utf8.size() + (crlf_ ? utf8.size() / 16 : 0));
    for (char c : utf8) {
        const bool lfOfCrLf = afterCr_ && c == '\n';
        afterCr_ = c == '\r';
        if (lfOfCrLf)
            continue;
        const bool lineBreak = c == '\r' || c == '\n';
        if (lineBreak) {
            ++breaks_;
            piece_ += crlf_ ? "\r\n" : "\r";
        } else {
            piece_ += c;
        }
        endsInBreak_ = lineBreak;
    }
    bytes_ += encodeText(piece_, enc_);
}
