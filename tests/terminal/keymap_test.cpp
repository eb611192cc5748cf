#include "KeyMap.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

TEST(KeyMap, KeysToBytes) {
    using K = KeyPress::Kind;
    struct Case {
        KeyPress key;
        std::string bytes;
    };
    const Case cases[] = {
        {{K::Text, false, 'A', "a"}, "a"},
        {{K::Text, false, 0, "!"}, "!"},
        {{K::Enter, false, 0, "\r"}, "\r"},
        {{K::Backspace, false, 0, "\b"}, "\b"},
        {{K::Escape, false, 0, "\x1b"}, "\x1b"},
        {{K::Text, true, 'A', "\x01"}, "\x01"},
        {{K::Text, true, 'C', ""}, "\x03"},
        {{K::Text, true, 'Z', "\x1a"}, "\x1a"},
        {{K::Text, true, 0, "1"}, ""},  // Ctrl with a key that is no letter
        {{K::Tab, false, 0, "\t"}, ""},
        {{K::NoCharacter, false, 0, ""}, ""},
        {{K::Text, false, 0, "\x7f"}, ""},  // Delete's DEL stays local
        {{K::Text, false, 0, "\xe3\x81\x82"}, "\x82\xa0"},  // あ in code page 932
        {{K::Text, false, 0, "\xef\xbd\xb1"}, "\xb1"},      // half-width katakana ｱ
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyBytes(c.key), c.bytes) << c.key.utf8;
}

TEST(KeyMap, ComposedTextIsCodePage932) {
    EXPECT_EQ(composedBytes("\xe6\x97\xa5\xe6\x9c\xac"), "\x93\xfa\x96\x7b");  // 日本
    EXPECT_EQ(composedBytes(""), "");
}

// A paste encoded in pieces gives the bytes of the whole text, however it is cut (a CR LF
// in two included): checked against a model that splits the whole text at its line breaks
// and encodes each line on its own. The counts are those of the lines sent.
TEST(PasteEncoder, PiecesGiveTheBytesOfTheWholeText) {
    const std::vector<std::string> alphabet = {"a", "日", "ｱ", "€", "😀", "\r", "\n", "\r\n", "\n\r"};
    std::mt19937 random(16);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> chars;
        for (int i = int(random() % 30); i > 0; --i)
            chars.push_back(alphabet[random() % alphabet.size()]);
        std::string text;
        for (const auto& c : chars)
            text += c;
        const Encoding enc = Encoding(random() % 3);
        const bool crlf = random() % 2;

        std::string expected;
        std::size_t breaks = 0, start = 0;
        for (;;) {
            const std::size_t at = text.find_first_of("\r\n", start);
            expected += encodeText(text.substr(start, at == std::string::npos ? std::string::npos : at - start), enc);
            if (at == std::string::npos)
                break;
            expected += crlf ? "\r\n" : "\r";
            ++breaks;
            start = at + (text.compare(at, 2, "\r\n") == 0 ? 2 : 1);
        }
        const bool endsInBreak = !text.empty() && (text.back() == '\r' || text.back() == '\n');

        PasteEncoder e(enc, crlf);
        for (std::size_t i = 0; i < chars.size();) {
            std::string piece;
            for (std::size_t n = random() % 4; n > 0 && i < chars.size(); --n)
                piece += chars[i++];
            e.feed(piece);
        }
        ASSERT_EQ(e.bytes(), expected) << text << " " << int(enc);
        EXPECT_EQ(e.breaks(), breaks);
        EXPECT_EQ(e.lines(), expected.empty() ? 0 : breaks + (endsInBreak ? 0 : 1));
        EXPECT_EQ(e.typedSize(), expected.size() - (crlf ? breaks : 0));
        if (!crlf) {
            EXPECT_EQ(e.bytes(), pastedBytes(text, enc));
        }
    }
}
