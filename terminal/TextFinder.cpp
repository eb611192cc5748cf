#include "TextFinder.h"

#include <algorithm>
#include <string>

char16_t foldCase(char16_t c) {
    struct Range {
        char16_t first, last, offset;
    };
    // Capital letters whose small letter lies a fixed distance above.
    static constexpr Range kRanges[] = {
        {u'A', u'Z', 0x20},          {0x00C0, 0x00D6, 0x20}, {0x00D8, 0x00DE, 0x20}, {0x0391, 0x03A1, 0x20},
        {0x03A3, 0x03AB, 0x20},      {0x0400, 0x040F, 0x50}, {0x0410, 0x042F, 0x20}, {0xFF21, 0xFF3A, 0x20},
    };
    for (const Range& r : kRanges)
        if (c >= r.first && c <= r.last)
            return static_cast<char16_t>(c + r.offset);
    // Latin Extended-A, Cyrillic beyond the basic letters: capital and small side by side.
    if ((c >= 0x0100 && c <= 0x012F) || (c >= 0x0132 && c <= 0x0137) || (c >= 0x014A && c <= 0x0177) ||
        (c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || (c >= 0x04D0 && c <= 0x052F))
        return static_cast<char16_t>(c | 1);
    return c;
}

std::optional<FoundText> findText(std::u16string_view text, std::u16string_view needle, std::size_t from,
                                  bool backward) {
    if (needle.empty() || needle.size() > text.size())
        return std::nullopt;
    std::u16string hay(text), want(needle);
    std::transform(hay.begin(), hay.end(), hay.begin(), foldCase);
    std::transform(want.begin(), want.end(), want.begin(), foldCase);
    from = std::min(from, hay.size());
    if (!backward) {
        if (const std::size_t at = hay.find(want, from); at != std::u16string::npos)
            return FoundText{at, want.size(), false};
        if (const std::size_t at = hay.find(want); at != std::u16string::npos && at < from)
            return FoundText{at, want.size(), true};
        return std::nullopt;
    }
    if (from > 0)
        if (const std::size_t at = hay.rfind(want, from - 1); at != std::u16string::npos)
            return FoundText{at, want.size(), false};
    if (const std::size_t at = hay.rfind(want); at != std::u16string::npos && at >= from)
        return FoundText{at, want.size(), true};
    return std::nullopt;
}
