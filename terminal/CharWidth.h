#pragma once
// How many columns a character takes on the host's screen, as a terminal counts them.
// Plain C++, no Qt types.
#include <cstddef>
#include <string_view>

// Hosts that speak code page 932 or EUC-JP lay out their screens by bytes: a double-byte
// character is fullwidth, a single byte (ASCII, halfwidth katakana) is one column.
// UTF-8 hosts count by Unicode's East Asian Width: wide and fullwidth characters take 2,
// combining marks and format characters 0, the rest (ambiguous ones included) 1.
enum class WidthRule { Japanese, Unicode };

int columnsOf(char32_t c, WidthRule rule);

// The code point of the UTF-8 character at the start of `s` (which must be valid UTF-8
// and not empty), and its length in bytes.
struct Utf8Char {
    char32_t code;
    std::size_t bytes;
};
Utf8Char firstChar(std::string_view s);

// Bytes of a UTF-8 character from its lead byte.
constexpr std::size_t utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// UTF-16 code units of valid UTF-8 text (what a QString of it holds).
std::size_t utf16Length(std::string_view utf8);
