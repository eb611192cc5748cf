#include <gtest/gtest.h>

#include "cp932.h"

namespace {

struct Case {
    std::string sjis;
    std::string utf8;
};

// Round trips both ways: ASCII, kana, kanji, the half-width katakana range,
// and the characters that CP932 maps differently from plain Shift-JIS.
const Case kBoth[] = {
    {"", ""},
    {"QLX-ABCD", "QLX-ABCD"},
    {"\x8C\x9F\x8D\xF5", "検索"},
    {"\x90\xDD\x92\xE8", "設定"},
    {"\xB1\xB2", "ｱｲ"},
    {"\x81\x60", "～"},  // FULLWIDTH TILDE in CP932, WAVE DASH in JIS
    {"\x87\x40", "①"},  // NEC special row
};

TEST(Cp932, ConvertsBothWays) {
    for (const auto& c : kBoth) {
        EXPECT_EQ(cp932::toUtf8(c.sjis), c.utf8);
        EXPECT_EQ(cp932::fromUtf8(c.utf8), c.sjis);
    }
}

TEST(Cp932, BadInputIsReplacedNotDropped) {
    // A lone lead byte at the end, and an invalid trail byte in the middle.
    EXPECT_EQ(cp932::toUtf8("A\x82"), "A\xEF\xBF\xBD");
    EXPECT_EQ(cp932::toUtf8("\x82\x20" "B"), "\xEF\xBF\xBD B");
    // A character outside CP932 and broken UTF-8.
    EXPECT_EQ(cp932::fromUtf8("a\xF0\x9F\x98\x80z"), "a?z");
    EXPECT_EQ(cp932::fromUtf8("a\xC3"), "a?");
}

// Only the bytes that are invalid go: a lead byte without its continuation bytes, or a
// stray continuation byte, becomes one "?" and the valid text after it stays.
TEST(Cp932, InvalidUtf8LosesNoValidByteAfterIt) {
    const Case cases[] = {
        {"?AB", "\xE3" "AB"},              // three-byte lead, then ASCII
        {"?AB", "\xE3\x81" "AB"},          // cut after one continuation byte
        {"?\x8C\x9F", "\xF0\xE6\xA4\x9C"},  // four-byte lead, then a whole 検
        {"?A", "\xC3" "A"},
        {"?A", "\x80" "A"},                // a continuation byte alone
        {"?" "??" "A", "\xC0\xC1\xF5" "A"},   // bytes that never start a sequence
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp932::fromUtf8(c.utf8), c.sjis) << c.sjis;
}

TEST(Cp932, EveryByteValueSurvivesDecodingAsText) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    std::string u = cp932::toUtf8(all);
    EXPECT_FALSE(u.empty());
    EXPECT_EQ(u.substr(0, 3), std::string("\0\x01\x02", 3));
}

} // namespace
