#include "TextCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

std::string decodeWhole(Encoding e, const std::string& bytes) {
    TextDecoder d(e);
    std::string out;
    d.decode(bytes, out);
    d.finish(out);
    return out;
}

std::string decodeChunks(Encoding e, const std::vector<std::string>& chunks) {
    TextDecoder d(e);
    std::string out;
    for (const auto& c : chunks)
        d.decode(c, out);
    d.finish(out);
    return out;
}

struct Sample {
    Encoding encoding;
    std::string bytes;
    std::string utf8;
};

// Every width of character each encoding has, and invalid bytes, which each become one
// U+FFFD without taking a valid byte behind them along.
const std::vector<Sample> kSamples = {
    {Encoding::Cp932, "a\x82\xa0\x8a\xbf\xb1z", "a\xE3\x81\x82\xE6\xBC\xA2\xEF\xBD\xB1z"},  // aあ漢ｱz
    {Encoding::Cp932, "\x82\r\x82", kBad + "\r" + kBad},
    {Encoding::Cp932, "\xff\x82\xa0", kBad + "\xE3\x81\x82"},
    {Encoding::EucJp, "a\xa4\xa2\x8e\xb1\x8f\xb0\xa1z", "a\xE3\x81\x82\xEF\xBD\xB1\xE4\xB8\x82z"},  // aあｱ丂z
    {Encoding::EucJp, "\xa4" "A\xa4\xa2", kBad + "A\xE3\x81\x82"},
    {Encoding::EucJp, "\x8f\xb0", kBad},
    {Encoding::Utf8, "a\xC3\xA4\xE3\x81\x82\xF0\x9F\x98\x80z", "a\xC3\xA4\xE3\x81\x82\xF0\x9F\x98\x80z"},
    {Encoding::Utf8, "\xE3\x81" "A", kBad + "A"},
    {Encoding::Utf8, "\xC0\x80\xFF", kBad + kBad + kBad},             // overlong, not a byte of UTF-8
    {Encoding::Utf8, "\xED\xA0\x80x", kBad + kBad + kBad + "x"},      // a surrogate
    {Encoding::Utf8, "\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},  // past U+10FFFF
    {Encoding::Utf8, "\xF0\x9F\x98", kBad},                           // cut off at the end
    {Encoding::Utf8, std::string("a\0b\r\n", 5), std::string("a\0b\r\n", 5)},
};

} // namespace

TEST(TextCodec, Names) {
    for (Encoding e : {Encoding::Cp932, Encoding::Utf8, Encoding::EucJp})
        EXPECT_EQ(encodingByName(encodingName(e)), e);
    EXPECT_STREQ(encodingName(Encoding::Cp932), "cp932");
    EXPECT_STREQ(encodingName(Encoding::Utf8), "utf-8");
    EXPECT_STREQ(encodingName(Encoding::EucJp), "euc-jp");
    EXPECT_EQ(encodingByName("sjis"), std::nullopt);
    EXPECT_EQ(encodingByName(""), std::nullopt);
}

TEST(TextCodec, DecodesWholeText) {
    for (const Sample& s : kSamples)
        EXPECT_EQ(decodeWhole(s.encoding, s.bytes), s.utf8) << encodingName(s.encoding) << " sample " << s.bytes;
}

// However the bytes fall into chunks (two or three), the text is the same as in one piece.
TEST(TextCodec, SplitSequencesDecodeWhole) {
    for (const Sample& s : kSamples) {
        const std::string& b = s.bytes;
        for (std::size_t i = 0; i <= b.size(); ++i)
            for (std::size_t j = i; j <= b.size(); ++j) {
                const std::vector<std::string> chunks = {b.substr(0, i), b.substr(i, j - i), b.substr(j)};
                EXPECT_EQ(decodeChunks(s.encoding, chunks), s.utf8)
                    << encodingName(s.encoding) << " cut at " << i << "," << j;
            }
    }
}

TEST(TextCodec, HoldsPartialCharacterUntilComplete) {
    struct Case {
        Encoding e;
        std::string bytes;  // one character, fed one byte at a time
    };
    const Case cases[] = {
        {Encoding::Cp932, "\x82\xa0"},
        {Encoding::EucJp, "\x8f\xb0\xa1"},
        {Encoding::Utf8, "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        TextDecoder d(c.e);
        std::string out;
        for (std::size_t i = 0; i + 1 < c.bytes.size(); ++i) {
            d.decode(c.bytes.substr(i, 1), out);
            EXPECT_EQ(out, "") << encodingName(c.e);
            EXPECT_TRUE(d.holding());
        }
        d.decode(c.bytes.substr(c.bytes.size() - 1), out);
        EXPECT_EQ(out, decodeWhole(c.e, c.bytes));
        EXPECT_NE(out.find_first_not_of(kBad), std::string::npos);
        EXPECT_FALSE(d.holding());
    }
}

// A switch applies to the bytes that follow; a character begun before it cannot finish.
TEST(TextCodec, SwitchAppliesToLaterBytes) {
    TextDecoder d(Encoding::Utf8);
    std::string out;
    d.decode("x\xE3\x81", out);
    d.setEncoding(Encoding::Cp932);
    EXPECT_EQ(d.encoding(), Encoding::Cp932);
    d.decode("\x82\xa0", out);
    EXPECT_EQ(out, "x" + kBad + "\xE3\x81\x82");
    d.setEncoding(Encoding::EucJp);
    d.decode("\xa4\xa2", out);
    EXPECT_EQ(out, "x" + kBad + "\xE3\x81\x82\xE3\x81\x82");

    // Switches in a row before the next byte: the cut character is still owed once.
    TextDecoder twice(Encoding::Cp932);
    std::string shown;
    twice.decode("\x82", shown);
    twice.setEncoding(Encoding::Utf8);
    twice.setEncoding(Encoding::EucJp);
    twice.decode("A", shown);
    EXPECT_EQ(shown, kBad + "A");
}

TEST(TextCodec, EncodesTypedText) {
    const std::string text = "a\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80\r";  // a日本😀 CR
    EXPECT_EQ(encodeText(text, Encoding::Cp932), "a\x93\xfa\x96\x7b?\r");
    EXPECT_EQ(encodeText(text, Encoding::EucJp), "a\xc6\xfc\xcb\xdc?\r");
    EXPECT_EQ(encodeText(text, Encoding::Utf8), text);
    EXPECT_EQ(encodeText("\xC3\xA4", Encoding::Cp932), "?");  // no ä in code page 932
    EXPECT_EQ(encodeText("a\xFF" "b", Encoding::Utf8), "a?b");
    // Round trip of every encoding's own text.
    for (const Sample& s : kSamples) {
        if (s.utf8.find(kBad) == std::string::npos) {
            EXPECT_EQ(encodeText(s.utf8, s.encoding), s.bytes) << encodingName(s.encoding);
        }
    }
}
