#pragma once
// Find in the scrollback: the next or previous place of a text, case ignored, wrapping
// around at either end. Works on the shown text as UTF-16, as the view holds it. Plain
// C++, no Qt types.
#include <cstddef>
#include <optional>
#include <string_view>

struct FoundText {
    std::size_t at = 0;
    std::size_t length = 0;
    bool wrapped = false;  // found only past the end (or before the start)
    bool operator==(const FoundText&) const = default;
};

// Forward: the first match that starts at `from` or later, else the first of all.
// Backward: the last match that starts before `from`, else the last of all.
std::optional<FoundText> findText(std::u16string_view text, std::u16string_view needle, std::size_t from,
                                  bool backward);

// A character as case-blind matching sees it: capitals of the Latin, Greek and Cyrillic
// alphabets and fullwidth Latin letters as their small letters.
char16_t foldCase(char16_t c);
