// Find in the scrollback: next and previous, case ignored, wrapping at either end.
#include <gtest/gtest.h>

#include <optional>

#include "TextFinder.h"

TEST(FindText, NextAndPreviousWrapAround) {
    const std::u16string text = u"one Two\nthree TWO two";  // "two" at 4, 14 and 18
    struct Case {
        const char16_t* needle;
        std::size_t from;
        bool backward;
        std::optional<FoundText> want;
    };
    const Case cases[] = {
        {u"two", 0, false, FoundText{4, 3, false}},
        {u"two", 4, false, FoundText{4, 3, false}},   // a match at the start position counts
        {u"two", 5, false, FoundText{14, 3, false}},
        {u"two", 19, false, FoundText{4, 3, true}},   // past the last: from the top
        {u"TWO", 21, false, FoundText{4, 3, true}},
        {u"two", 18, true, FoundText{14, 3, false}},  // previous: starts before `from`
        {u"two", 4, true, FoundText{18, 3, true}},    // before the first: from the end
        {u"two", 0, true, FoundText{18, 3, true}},
        {u"e t", 0, false, FoundText{2, 3, false}},  // "one Two", case ignored
        {u"e t", 3, false, FoundText{12, 3, false}},
        {u"o\nt", 0, false, FoundText{6, 3, false}},  // across a line end
        {u"four", 0, false, std::nullopt},
        {u"four", 9, true, std::nullopt},
        {u"", 0, false, std::nullopt},
        {u"one Two\nthree TWO two!", 0, false, std::nullopt},  // longer than the text
    };
    for (const Case& c : cases)
        EXPECT_EQ(findText(text, c.needle, c.from, c.backward), c.want)
            << std::u16string_view(c.needle).size() << " from " << c.from << (c.backward ? " back" : "");
}

// Case is ignored in the alphabets that have it, fullwidth letters too; kana and kanji
// match as they are.
TEST(FindText, IgnoresCaseBeyondAscii) {
    struct Case {
        const char16_t* text;
        const char16_t* needle;
        std::optional<std::size_t> at;
    };
    const Case cases[] = {
        {u"Ａｂｃ", u"ａＢＣ", 0},
        {u"ÀÉÎõü", u"àéîÕÜ", 0},
        {u"ΑΒΓ δ", u"αβγ Δ", 0},
        {u"ПРИВЕТ Ёж", u"привет ёЖ", 0},
        {u"漢字テキスト", u"テキスト", 2},
        {u"ア", u"あ", std::nullopt},  // katakana is not hiragana
        {u"×", u"÷", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto found = findText(c.text, c.needle, 0, false);
        EXPECT_EQ(found ? std::optional<std::size_t>(found->at) : std::nullopt, c.at);
    }
}
